#pragma once
// The process list from /proc: each live user process with the names it can be recognised by.

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/System.h"

namespace px::posix {

// The kernel keeps a process's own name (comm) in 15 bytes plus a terminator.
inline constexpr size_t kKernelNameMax = 15;

// The file name part of path: everything after its last '/'.
std::string_view BaseName(std::string_view path);

// A kernel name as a ProcessName. A name of exactly 15 bytes may have been cut: it is marked
// isPrefix, and a UTF-8 sequence the cut split in two is dropped, so the prefix still decodes
// to the start of the real name. Bytes that are not UTF-8 decode to U+DC80..U+DCFF.
ProcessName KernelName(std::string_view comm);

// One pass over procRoot (the mount point of procfs, normally "/proc"). Each process that is
// neither a zombie nor a kernel thread is visited once, until visit returns false:
// - Quick: its kernel name only (one small file per process), and every name when the
//   kernel name may have been cut;
// - Full: also the file name of its executable (" (deleted)" removed) and of its argv[0],
//   each name once.
// The kernel name is always among them (unless another name is the same), marked isPrefix
// when it may have been cut, also when a complete name extends it: which names count is
// the matching's decision.
// A process that ends during the scan is skipped. False when procRoot is not a readable procfs.
// With lastStop given, the process it names (if any) is visited first, and it is set to the
// process the visit stopped at (0 when it went through the list): a guarded program found on
// one check is then found on the next by reading one file instead of the whole list.
bool ScanProcesses(const char* procRoot, ProcessDetail detail, const std::function<bool(const ProcessEntry&)>& visit,
    uint32_t* lastStop = nullptr);

// One process with every name, as a Full scan reports it; nullopt when it does not exist,
// is a zombie or a kernel thread.
std::optional<ProcessEntry> ReadProcess(const char* procRoot, uint32_t pid);

// /proc/PID/cmdline as one text, its arguments joined by spaces (the NULs between them read as
// spaces, the last one dropped), at most 1 MiB of it; nullopt when it cannot be read, or when
// startStamp (not 0) says the pid names another process now.
std::optional<std::string> ReadCommandLine(const char* procRoot, uint32_t pid, uint64_t startStamp);

// What one launch started: the session it was given, from its start on, and the processes a
// subreaper adopted from it.
struct LaunchScope {
    uint32_t session = 0;  // the launch's own session (the pid of its first process)
    uint64_t since = 0;  // the start time of that first process: its members started no earlier
    uint32_t adopter = 0;  // this program when it adopts orphaned descendants (a subreaper), else 0
    uint32_t adopterSession = 0;  // the adopter's own session: its children there are not the launch's
};
// The live processes of the launch: those of its session, those the adopter adopted that
// left their session (started after the launch), the children of every member, and the
// processes of known (pid and start time, kept between calls) still alive. known gets the
// members found. Zombies are not members.
std::vector<uint32_t> LaunchMembers(const char* procRoot, const LaunchScope& launch, std::set<uint64_t>* known);

// When the process started, in clock ticks since boot (field 22 of its stat file); nullopt
// when it does not exist or has ended (a zombie). With the pid it names one process for good.
std::optional<uint64_t> ProcessStartTime(const char* procRoot, uint32_t pid);

}  // namespace px::posix
