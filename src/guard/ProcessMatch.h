#pragma once
// Finding and ending the guarded program's processes by image name, over a System's
// point-in-time process list.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/System.h"

// name equals the configured image name as a whole, ignoring the case of the 26 ASCII
// letters only; a name the system cut (isPrefix) matches a longer configured name that
// begins with it.
bool ImageNameMatches(const std::u16string& imageName, const ProcessName& name);
// One of the process's names matches. A cut name that a complete name of the same process
// begins with does not count: the complete name says what the cut one was cut from, and
// the cut one would also match longer names that are not the program's.
bool ProcessMatches(const std::u16string& imageName, const ProcessEntry& process);

// What makes a process the guarded program's: its image name and, when set, a text its
// command line must contain (a gateway that runs as "java" beside other Java programs).
struct GuardedProgram {
    GuardedProgram(std::u16string image, std::u16string commandLineText = {})
        : imageName(std::move(image))
        , commandLine(std::move(commandLineText))
    {
    }
    GuardedProgram(const char16_t* image)
        : imageName(image)
    {
    }
    std::u16string imageName;
    std::u16string commandLine;  // empty: any command line
    // Set when a process of the image name had a command line the system would not tell: it
    // was matched by its name alone.
    mutable bool commandLineUnreadable = false;
};

// The process is one of the guarded program's: it matches the image name (and the command
// line, when the program names a text for it) and belongs to the user this program runs as.
// Another user's program of the same name is never counted as running here, nor ended by a
// restart.
bool IsGuardedProcess(System& system, const GuardedProgram& program, const ProcessEntry& process);

// At least one running process of this user is the program's; false also when the list
// cannot be read.
bool AnyProcessNamed(System& system, const GuardedProgram& program);
// Ends every process of this user that is the program's; true when at least one could be
// opened and told to end.
bool TerminateAllNamed(System& system, const GuardedProgram& program);
// Asks every process of this user that is the program's to close by itself; true when at
// least one could be asked.
bool AskAllNamedToClose(System& system, const GuardedProgram& program);

// One process for good: its pid and start stamp.
struct ProcessId {
    uint32_t pid = 0;
    uint64_t startStamp = 0;
};
// Every process of this user that is the program's; none when the list cannot be read.
std::optional<std::vector<ProcessId>> ListGuardedProcesses(System& system, const GuardedProgram& program);
