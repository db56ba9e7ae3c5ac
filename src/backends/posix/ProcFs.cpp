#include "backends/posix/ProcFs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "backends/posix/OsFailure.h"
#include "backends/posix/PosixHandles.h"
#include "base/Unicode.h"

namespace px::posix {

namespace {

// The task flag of kernel threads (include/linux/sched.h).
constexpr unsigned long kPfKthread = 0x00200000UL;
constexpr std::string_view kDeletedSuffix = " (deleted)";

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

// "<pid>/<leaf>" relative to the procfs directory: no path walk from the root per file.
class PidPath {
public:
    PidPath(std::string_view pid)
    {
        std::memcpy(m_buf, pid.data(), pid.size());
        m_buf[pid.size()] = '/';
        m_base = pid.size() + 1;
    }
    const char* Leaf(std::string_view leaf)
    {
        std::memcpy(m_buf + m_base, leaf.data(), leaf.size());
        m_buf[m_base + leaf.size()] = '\0';
        return m_buf;
    }
    // The path the last Leaf gave.
    const char* Current() const { return m_buf; }

private:
    char m_buf[32] = {};
    size_t m_base = 0;
};

// Reads up to size bytes of a small procfs file; -1 (errno set, the call that failed in
// failedCall) when it cannot be opened or read.
ssize_t ReadSmallFile(int dirFd, const char* path, char* buf, size_t size, const char** failedCall)
{
    const int fd = openat(dirFd, path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *failedCall = "openat";
        return -1;
    }
    ssize_t n;
    do {
        n = read(fd, buf, size);
    } while (n < 0 && errno == EINTR);
    const int saved = errno;
    close(fd);
    errno = saved;
    *failedCall = "read";
    return n;
}

bool Vanished(int error) { return error == ENOENT || error == ESRCH; }

// A process's files fail routinely: when it has just ended, and when it is another user's
// (its executable, or with hidepid all of its files, are hidden). Neither is a failure here.
bool Routine(int error) { return Vanished(error) || error == EACCES || error == EPERM; }

// The first failure of a scan that is not routine, logged once when the scan ends: a cause
// such as running out of descriptors fails the files of every process alike, and one line
// per process and scan would bury the log.
class ScanFailure {
public:
    explicit ScanFailure(const char* procRoot)
        : m_root(procRoot)
    {
    }
    ~ScanFailure()
    {
        if (m_call)
            LogOsFailure(m_call, m_object, m_error);
    }
    ScanFailure(const ScanFailure&) = delete;
    ScanFailure& operator=(const ScanFailure&) = delete;

    // call failed with error on path, relative to the procfs root.
    void Note(const char* call, const char* path, int error)
    {
        if (m_call || Routine(error))
            return;
        m_call = call;
        m_object = std::string(m_root) + "/" + path;
        m_error = error;
    }

private:
    const char* m_root;
    const char* m_call = nullptr;
    std::string m_object;
    int m_error = 0;
};

// The fields of /proc/PID/stat the scan needs: "pid (comm) state ppid pgrp session tty_nr
// tpgid flags ...". comm may hold spaces and parentheses, so it ends at the last ')'.
struct StatFields {
    std::string_view comm;
    char state = '?';
    unsigned long flags = 0;
    uint64_t startTime = 0;  // clock ticks since boot
};

bool ParseStat(std::string_view text, StatFields& out)
{
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open || close + 2 >= text.size())
        return false;
    out.comm = text.substr(open + 1, close - open - 1);
    out.state = text[close + 2];
    // Skip state, ppid, pgrp, session, tty_nr and tpgid to reach flags.
    size_t pos = close + 2;
    for (int field = 0; field < 6; ++field) {
        pos = text.find(' ', pos);
        if (pos == std::string_view::npos)
            return false;
        ++pos;
    }
    unsigned long flags = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos)
        flags = flags * 10 + static_cast<unsigned long>(text[pos] - '0');
    out.flags = flags;
    // Flags are field 9; thirteen more fields to reach the start time, field 22.
    for (int field = 9; field < 22; ++field) {
        pos = text.find(' ', pos);
        if (pos == std::string_view::npos)
            return false;
        ++pos;
    }
    uint64_t start = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos)
        start = start * 10 + static_cast<uint64_t>(text[pos] - '0');
    out.startTime = start;
    return true;
}

// The fields of stat that tie processes together, and the state.
struct Kinship {
    char state = '?';
    uint32_t ppid = 0;
    uint32_t session = 0;
    uint64_t startTime = 0;  // in clock ticks since boot
};

bool ParseKinship(std::string_view text, Kinship& out)
{
    const size_t close = text.rfind(')');
    if (close == std::string_view::npos || close + 2 >= text.size())
        return false;
    out.state = text[close + 2];
    // From the state (field 3) on, fields are numbers separated by single blanks.
    uint64_t fields[22] = {};
    size_t pos = close + 4;
    for (int field = 4; field <= 22; ++field) {
        uint64_t value = 0;
        bool negative = pos < text.size() && text[pos] == '-';
        if (negative)
            ++pos;
        for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos)
            value = value * 10 + static_cast<uint64_t>(text[pos] - '0');
        fields[field - 1] = negative ? 0 : value;
        if (field < 22 && (pos >= text.size() || text[pos] != ' '))
            return false;
        ++pos;
    }
    out.ppid = static_cast<uint32_t>(fields[3]);
    out.session = static_cast<uint32_t>(fields[5]);
    out.startTime = fields[21];
    return true;
}

bool Counts(const StatFields& stat)
{
    // Zombies and dead tasks have ended; kernel threads run no program.
    return stat.state != 'Z' && stat.state != 'X' && stat.state != 'x' && (stat.flags & kPfKthread) == 0;
}

// Reads a process's stat file into buf and its fields into stat; false when the process does
// not count, has ended or its file could not be read (a failure that is not routine is noted).
bool ReadCountingStat(int procFd, PidPath& path, char* buf, size_t size, ScanFailure& failure, StatFields& stat)
{
    const char* call = nullptr;
    const ssize_t n = ReadSmallFile(procFd, path.Leaf("stat"), buf, size, &call);
    if (n < 0)
        failure.Note(call, path.Current(), errno);
    return n > 0 && ParseStat(std::string_view(buf, static_cast<size_t>(n)), stat) && Counts(stat);
}

// Decodes bytes into out, reusing its storage (most names are ASCII).
void AssignName(std::u16string& out, std::string_view bytes)
{
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            out = px::FromUtf8(bytes);
            return;
        }
    }
    out.resize(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i)
        out[i] = static_cast<char16_t>(bytes[i]);
}

// A cut kernel name without the UTF-8 sequence the cut split (the bytes stay as they are
// when they are not UTF-8 to begin with).
std::string_view WithoutSplitSequence(std::string_view comm)
{
    size_t lead = comm.size();
    size_t continuations = 0;
    while (lead > 0 && continuations < 4 && (static_cast<unsigned char>(comm[lead - 1]) & 0xC0) == 0x80) {
        --lead;
        ++continuations;
    }
    if (lead == 0)
        return comm;
    const auto leadByte = static_cast<unsigned char>(comm[lead - 1]);
    size_t needed = 0;
    if (leadByte >= 0xC2 && leadByte <= 0xDF)
        needed = 2;
    else if (leadByte >= 0xE0 && leadByte <= 0xEF)
        needed = 3;
    else if (leadByte >= 0xF0 && leadByte <= 0xF4)
        needed = 4;
    if (needed > continuations + 1)
        return comm.substr(0, lead - 1);
    return comm;
}

void AssignKernelName(ProcessName& out, std::string_view comm)
{
    const bool cut = comm.size() == kKernelNameMax;
    AssignName(out.text, cut ? WithoutSplitSequence(comm) : comm);
    out.isPrefix = cut;
}

// The names of one process, as bytes into the reader's buffers.
class NameReader {
public:
    // Fills names with the executable's and argv[0]'s file names and the kernel name, each
    // once. knownComm is the kernel name when the caller has read stat (and so knows the
    // process counts); without it the executable tells: only a live user process has one.
    // False when the process does not count or has ended meanwhile.
    bool Read(int procFd, PidPath& path, const std::string_view* knownComm, std::vector<std::string_view>& names,
        ScanFailure& failure)
    {
        m_failure = &failure;
        names.clear();
        m_comm = knownComm ? *knownComm : std::string_view();
        const ssize_t linkLength = readlinkat(procFd, path.Leaf("exe"), m_link, sizeof m_link);
        if (linkLength >= 0) {
            std::string_view exe(m_link, static_cast<size_t>(linkLength));
            if (exe.ends_with(kDeletedSuffix))
                exe.remove_suffix(kDeletedSuffix.size());
            AddOnce(names, BaseName(exe));
            if (!knownComm && !ReadComm(procFd, path))
                return false;
        } else if (Vanished(errno)) {
            // A zombie or a kernel thread has no executable, and a process that just ended neither.
            return false;
        } else {
            failure.Note("readlinkat", path.Current(), errno);
            if (!knownComm) {
                // Another user's process: its executable stays hidden; stat tells whether it counts.
                StatFields stat;
                if (!ReadCountingStat(procFd, path, m_stat, sizeof m_stat, failure, stat))
                    return false;
                m_comm = stat.comm;
            }
        }

        if (!ReadArgv0(procFd, path))
            return false;
        AddOnce(names, BaseName(m_argv0));
        AddOnce(names, m_comm);
        return true;
    }

    // The kernel name the last Read used (names holds this very view when it reported it).
    std::string_view Comm() const { return m_comm; }

private:
    static void AddOnce(std::vector<std::string_view>& names, std::string_view name)
    {
        if (name.empty())
            return;
        for (const std::string_view existing : names)
            if (existing == name)
                return;
        names.push_back(name);
    }

    // argv[0]: /proc/PID/cmdline up to its first NUL.
    bool ReadArgv0(int procFd, PidPath& path)
    {
        m_argv0.clear();
        const int fd = openat(procFd, path.Leaf("cmdline"), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            m_failure->Note("openat", path.Current(), errno);
            return !Vanished(errno);
        }
        char chunk[4096];
        constexpr size_t kMaxArgv0 = 64 * 1024;
        while (m_argv0.size() < kMaxArgv0) {
            ssize_t n;
            do {
                n = read(fd, chunk, sizeof chunk);
            } while (n < 0 && errno == EINTR);
            if (n < 0)
                m_failure->Note("read", path.Current(), errno);
            if (n <= 0)
                break;
            const std::string_view got(chunk, static_cast<size_t>(n));
            const size_t nul = got.find('\0');
            m_argv0.append(got.substr(0, nul));
            if (nul != std::string_view::npos)
                break;
        }
        close(fd);
        return true;
    }

    // /proc/PID/comm: the kernel name and a line end (cheaper than stat).
    bool ReadComm(int procFd, PidPath& path)
    {
        const char* call = nullptr;
        const ssize_t n = ReadSmallFile(procFd, path.Leaf("comm"), m_commBuf, sizeof m_commBuf, &call);
        if (n < 0) {
            m_failure->Note(call, path.Current(), errno);
            return !Vanished(errno);
        }
        m_comm = std::string_view(m_commBuf, static_cast<size_t>(n));
        if (m_comm.ends_with('\n'))
            m_comm.remove_suffix(1);
        return true;
    }

    char m_link[PATH_MAX + 1];
    char m_stat[512];
    char m_commBuf[64];
    std::string_view m_comm;
    std::string m_argv0;
    ScanFailure* m_failure = nullptr;
};

// Parses a /proc directory entry's name as a pid; 0 when it is not one.
uint32_t PidOf(const char* name, size_t& length)
{
    uint64_t pid = 0;
    length = 0;
    for (; name[length] != '\0'; ++length) {
        if (name[length] < '0' || name[length] > '9' || length >= 10)
            return 0;
        pid = pid * 10 + static_cast<uint64_t>(name[length] - '0');
    }
    return (length > 0 && pid <= UINT32_MAX) ? static_cast<uint32_t>(pid) : 0;
}

// Every name of one process into entry; false when it does not count or has ended.
bool ReadAllNames(NameReader& reader, int procFd, PidPath& path, const std::string_view* knownComm,
    std::vector<std::string_view>& names, ProcessEntry& entry, ScanFailure& failure)
{
    if (!reader.Read(procFd, path, knownComm, names, failure))
        return false;
    entry.names.resize(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i].data() == reader.Comm().data()) {
            AssignKernelName(entry.names[i], names[i]);
        } else {
            AssignName(entry.names[i].text, names[i]);
            entry.names[i].isPrefix = false;
        }
    }
    return true;
}

bool IsProcFs(int fd, const char* procRoot)
{
    struct statfs info { };
    if (fstatfs(fd, &info) != 0) {
        LogOsFailure("fstatfs", procRoot, errno);
        return false;
    }
    return info.f_type == PROC_SUPER_MAGIC;
}

}  // namespace

std::string_view BaseName(std::string_view path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

ProcessName KernelName(std::string_view comm)
{
    ProcessName name;
    AssignKernelName(name, comm);
    return name;
}

bool ScanProcesses(const char* procRoot, ProcessDetail detail, const std::function<bool(const ProcessEntry&)>& visit,
    uint32_t* lastStop)
{
    const UniqueDir dir(opendir(procRoot));
    if (!dir) {
        LogOsFailure("opendir", procRoot, errno);
        return false;
    }
    const int procFd = dirfd(dir.get());
    if (!IsProcFs(procFd, procRoot))
        return false;

    ScanFailure failure(procRoot);
    ProcessEntry entry;
    const auto reader = std::make_unique<NameReader>();
    std::vector<std::string_view> names;
    char statBuf[512];
    // Reads one process's names into entry; false when it is gone, a zombie or a kernel thread.
    const auto read = [&](std::string_view pidText, uint32_t pid) {
        PidPath path(pidText);
        entry.pid = pid;
        StatFields stat;
        if (!ReadCountingStat(procFd, path, statBuf, sizeof statBuf, failure, stat))
            return false;
        entry.startStamp = stat.startTime;
        if (detail == ProcessDetail::Quick) {
            // A cut kernel name alone could match other, longer names: even a quick scan
            // reports the process's other names beside it, which tell what it was cut from
            // (few processes have such names).
            if (stat.comm.size() != kKernelNameMax) {
                entry.names.resize(1);
                AssignKernelName(entry.names[0], stat.comm);
                return true;
            }
        }
        return ReadAllNames(*reader, procFd, path, &stat.comm, names, entry, failure);
    };
    // The owner of /proc/PID is the process's effective user.
    const uid_t me = geteuid();
    const auto readOwned = [&](std::string_view pidText, uint32_t pid) {
        if (!read(pidText, pid))
            return false;
        PidPath path(pidText);
        struct stat info { };
        entry.ownUser = fstatat(procFd, path.Leaf(""), &info, 0) == 0 && info.st_uid == me;
        return true;
    };

    const uint32_t first = lastStop ? *lastStop : 0;
    if (lastStop)
        *lastStop = 0;
    if (first != 0) {
        const std::string pidText = std::to_string(first);
        if (readOwned(pidText, first) && !visit(entry)) {
            *lastStop = first;
            return true;
        }
    }
    for (;;) {
        errno = 0;
        const dirent* de = readdir(dir.get());
        if (!de) {
            if (errno != 0)
                LogOsFailure("readdir", procRoot, errno);
            return errno == 0;
        }
        size_t pidLength = 0;
        const uint32_t pid = PidOf(de->d_name, pidLength);
        if (pid == 0 || pid == first)
            continue;
        if (!readOwned(std::string_view(de->d_name, pidLength), pid))
            continue;
        if (!visit(entry)) {
            if (lastStop)
                *lastStop = pid;
            return true;
        }
    }
}

std::optional<ProcessEntry> ReadProcess(const char* procRoot, uint32_t pid)
{
    const UniqueFd procFd(open(procRoot, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!procFd.Valid()) {
        LogOsFailure("open", procRoot, errno);
        return std::nullopt;
    }
    if (!IsProcFs(procFd.Get(), procRoot))
        return std::nullopt;
    char pidText[16];
    const int pidLength = std::snprintf(pidText, sizeof pidText, "%u", pid);
    PidPath path(std::string_view(pidText, static_cast<size_t>(pidLength)));
    NameReader reader;
    std::vector<std::string_view> names;
    ProcessEntry entry;
    entry.pid = pid;
    ScanFailure failure(procRoot);
    if (pid == 0 || !ReadAllNames(reader, procFd.Get(), path, nullptr, names, entry, failure))
        return std::nullopt;
    struct stat info { };
    entry.ownUser = fstatat(procFd.Get(), path.Leaf(""), &info, 0) == 0 && info.st_uid == geteuid();
    return entry;
}

std::optional<std::string> ReadCommandLine(const char* procRoot, uint32_t pid, uint64_t startStamp)
{
    if (pid == 0)
        return std::nullopt;
    const std::string path = std::string(procRoot) + "/" + std::to_string(pid) + "/cmdline";
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd.Valid())
        return std::nullopt;
    constexpr size_t kMaxCommandLine = 1024 * 1024;
    std::string text;
    char chunk[4096];
    while (text.size() < kMaxCommandLine) {
        ssize_t n;
        do {
            n = read(fd.Get(), chunk, sizeof chunk);
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        text.append(chunk, static_cast<size_t>(n));
    }
    // Read after the file: a pid reused while it was read names another process.
    if (startStamp != 0 && ProcessStartTime(procRoot, pid) != startStamp)
        return std::nullopt;
    if (!text.empty() && text.back() == '\0')
        text.pop_back();
    std::replace(text.begin(), text.end(), '\0', ' ');
    return text;
}

std::vector<uint32_t> LaunchMembers(const char* procRoot, const LaunchScope& launch, std::set<uint64_t>* known)
{
    struct Process {
        uint32_t pid;
        Kinship kin;
    };
    std::vector<Process> all;
    const UniqueDir dir(opendir(procRoot));
    if (!dir) {
        LogOsFailure("opendir", procRoot, errno);
        return {};
    }
    const int procFd = dirfd(dir.get());
    char buf[1024];
    while (const dirent* de = readdir(dir.get())) {
        size_t length = 0;
        const uint32_t pid = PidOf(de->d_name, length);
        if (pid == 0)
            continue;
        PidPath path(std::string_view(de->d_name, length));
        const char* call = nullptr;  // a process that has ended is no failure
        const ssize_t n = ReadSmallFile(procFd, path.Leaf("stat"), buf, sizeof buf, &call);
        Process p{pid, {}};
        if (n > 0 && ParseKinship(std::string_view(buf, static_cast<size_t>(n)), p.kin) && p.kin.state != 'Z'
            && p.kin.state != 'X' && p.kin.state != 'x')
            all.push_back(p);
    }
    // A process and its start time name it for good: a reused pid is another process.
    const auto key = [](const Process& p) { return (uint64_t{p.pid} << 40) ^ p.kin.startTime; };
    std::set<uint32_t> members;
    for (const Process& p : all) {
        const bool inSession = p.kin.session == launch.session && p.kin.startTime >= launch.since;
        const bool adopted = launch.adopter != 0 && p.kin.ppid == launch.adopter && p.pid != launch.adopter
            && p.kin.session != launch.adopterSession && p.kin.startTime >= launch.since;
        if (inSession || adopted || (known && known->count(key(p))))
            members.insert(p.pid);
    }
    // Children of members are members: a program that left the launch's session (a daemon
    // calling setsid) stays its parent's.
    for (bool grew = true; grew;) {
        grew = false;
        for (const Process& p : all)
            if (!members.count(p.pid) && members.count(p.kin.ppid) && p.kin.startTime >= launch.since) {
                members.insert(p.pid);
                grew = true;
            }
    }
    std::vector<uint32_t> result;
    for (const Process& p : all)
        if (members.count(p.pid)) {
            result.push_back(p.pid);
            if (known)
                known->insert(key(p));
        }
    return result;
}

std::optional<uint64_t> ProcessStartTime(const char* procRoot, uint32_t pid)
{
    const std::string path = std::string(procRoot) + "/" + std::to_string(pid) + "/stat";
    char buf[1024];
    const char* call = nullptr;
    const ssize_t n = ReadSmallFile(AT_FDCWD, path.c_str(), buf, sizeof buf, &call);
    if (n < 0 && !Routine(errno))
        LogOsFailure(call, path, errno);
    if (n <= 0)
        return std::nullopt;
    const std::string_view text(buf, static_cast<size_t>(n));
    StatFields stat;
    if (!ParseStat(text, stat) || stat.state == 'Z' || stat.state == 'X' || stat.state == 'x')
        return std::nullopt;
    // After "(comm) ", the state is field 3: nineteen more fields to reach field 22.
    size_t pos = text.rfind(')') + 2;
    for (int field = 3; field < 22; ++field) {
        pos = text.find(' ', pos);
        if (pos == std::string_view::npos)
            return std::nullopt;
        ++pos;
    }
    uint64_t start = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos)
        start = start * 10 + static_cast<uint64_t>(text[pos] - '0');
    return start;
}

}  // namespace px::posix
