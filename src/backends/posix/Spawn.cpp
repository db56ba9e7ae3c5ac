#include "backends/posix/Spawn.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "backends/posix/OsFailure.h"
#include "backends/posix/PosixHandles.h"

namespace px::posix {

namespace {

// What a child tells the launcher through the close-on-exec report pipe. Nothing arrives
// when the program was executed: the pipe just closes.
struct ChildReport {
    int32_t kind = 0;
    int32_t value = 0;
};
enum : int32_t {
    kReportExecFailed = 1,  // value: errno of exec (or of preparing for it)
    kReportForkFailed = 2,  // value: errno of fork
    kReportExited = 3,  // value: wait status of the program
    kReportStarted = 4,  // value: pid of the process that runs the program (or the opener)
    kReportNullInputFailed = 5,  // value: errno of opening /dev/null for standard input
};

// The wait status of child once it has ended; nullopt when something else reaped it
// (SIGCHLD ignored, another reaper). Both sides
// of a fork use it: it is async-signal-safe.
std::optional<int> WaitForChild(pid_t child)
{
    int status = 0;
    pid_t waited;
    do {
        waited = waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    return waited == child ? std::optional<int>(status) : std::nullopt;
}

// ---- Between fork and exec only async-signal-safe calls: the launcher may have threads.

void Report(int fd, int32_t kind, int32_t value)
{
    const ChildReport report{kind, value};
    const char* data = reinterpret_cast<const char*>(&report);
    size_t left = sizeof report;
    while (left > 0) {
        const ssize_t n = write(fd, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        left -= static_cast<size_t>(n);
    }
}

[[noreturn]] void ReportAndExit(int fd, int32_t kind, int32_t value, int exitCode)
{
    Report(fd, kind, value);
    _exit(exitCode);
}

// Signal dispositions and the mask survive fork and (for ignored signals) exec: the child
// starts with the defaults, so it can wait for its own children and the program it runs
// is not born ignoring SIGPIPE or SIGCHLD.
void ResetSignals()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig)
        if (sig != SIGKILL && sig != SIGSTOP)
            sigaction(sig, &action, nullptr);  // fails harmlessly for signals the C library keeps
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

// Closes every descriptor above 2 but keep by listing /proc/self/fd (kernels without close_range).
void CloseListedDescriptors(int keep)
{
    const int dirFd = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        for (int fd = 3; fd < 65536; ++fd)
            if (fd != keep)
                close(fd);
        return;
    }
    alignas(dirent64) char buf[4096];
    for (;;) {
        const ssize_t n = getdents64(dirFd, buf, sizeof buf);
        if (n <= 0)
            break;
        for (ssize_t offset = 0; offset < n;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buf + offset);
            offset += entry->d_reclen;
            int fd = 0;
            const char* p = entry->d_name;
            if (*p < '0' || *p > '9')
                continue;
            for (; *p >= '0' && *p <= '9'; ++p)
                fd = fd * 10 + (*p - '0');
            if (fd > 2 && fd != keep && fd != dirFd)
                close(fd);
        }
    }
    close(dirFd);
}

// Nothing of the launcher but standard input, output and error reaches the child: not the
// run log (an ofstream is not close-on-exec), not the X connection, not a descriptor that
// another thread opened without close-on-exec.
void CloseDescriptorsExcept(int keep)
{
    bool ok = true;
    if (keep < 3) {
        ok = close_range(3, ~0U, 0) == 0;
    } else {
        if (keep > 3)
            ok = close_range(3, static_cast<unsigned>(keep) - 1, 0) == 0;
        ok = ok && close_range(static_cast<unsigned>(keep) + 1, ~0U, 0) == 0;
    }
    if (!ok)
        CloseListedDescriptors(keep);
}

// The report pipe must not sit on 0, 1 or 2, which the child sets up for the program.
int MoveAbove2(int fd)
{
    if (fd > 2)
        return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    return moved < 0 ? fd : moved;
}

// Waits for child, reports how it ended and exits: the middle process of a launch whose
// launcher wants the program's status although its own children may be reaped by others.
[[noreturn]] void ReportExitOf(pid_t child, int reportFd)
{
    signal(SIGPIPE, SIG_IGN);  // the launcher may have stopped listening by now
    if (const std::optional<int> status = WaitForChild(child))
        Report(reportFd, kReportExited, *status);
    _exit(0);
}

[[noreturn]] void ExecWithNullInput(int reportFd, const char* path, char* const* argv)
{
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull < 0)
        ReportAndExit(reportFd, kReportNullInputFailed, errno, 127);
    if (devNull != STDIN_FILENO) {
        dup2(devNull, STDIN_FILENO);
        close(devNull);
    }
    execv(path, argv);
    ReportAndExit(reportFd, kReportExecFailed, errno, 127);
}

enum class LaunchKind {
    Program,  // report only whether exec succeeded
    Opener,  // also report how the opener ended
};

// The launcher's child: a new session, then a grandchild that runs the program. The child
// exits at once, so the program is adopted by init (or a subreaper), never left as the
// launcher's zombie, and lives on after the launcher ends.
[[noreturn]] void RunLaunchChild(int reportFd, const char* path, char* const* argv, LaunchKind kind)
{
    ResetSignals();
    reportFd = MoveAbove2(reportFd);
    CloseDescriptorsExcept(reportFd);
    setsid();
    const pid_t grandchild = fork();
    if (grandchild < 0)
        ReportAndExit(reportFd, kReportForkFailed, errno, 0);
    if (grandchild > 0)
        _exit(0);
    if (kind == LaunchKind::Program) {
        Report(reportFd, kReportStarted, static_cast<int32_t>(getpid()));
        ExecWithNullInput(reportFd, path, argv);
    }

    // The opener finds and starts the document's application; its exit status says whether
    // there was one. It runs as this process's child so that the status can be reported.
    const pid_t opener = fork();
    if (opener < 0)
        ReportAndExit(reportFd, kReportForkFailed, errno, 0);
    if (opener == 0)
        ExecWithNullInput(reportFd, path, argv);
    Report(reportFd, kReportStarted, static_cast<int32_t>(opener));
    ReportExitOf(opener, reportFd);
}

// ---- Launcher side.

enum class ReadOutcome { Report, Closed, TimedOut };

int64_t MonotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits for one report or the end of the pipe; timeoutMs < 0 waits as long as it takes.
ReadOutcome ReadReport(int fd, ChildReport& report, int timeoutMs)
{
    const int64_t deadline = MonotonicMs() + timeoutMs;
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            const int64_t left = deadline - MonotonicMs();
            if (left <= 0)
                return ReadOutcome::TimedOut;
            wait = static_cast<int>(left);
        }
        pollfd pfd{fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, wait);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            LogOsFailure("poll", errno);
            return ReadOutcome::Closed;
        }
        if (ready == 0)
            continue;  // the deadline check above ends the wait
        ssize_t n;
        do {
            n = read(fd, &report, sizeof report);
        } while (n < 0 && errno == EINTR);
        // Reports are smaller than PIPE_BUF, so they arrive whole.
        return n == static_cast<ssize_t>(sizeof report) ? ReadOutcome::Report : ReadOutcome::Closed;
    }
}

intptr_t CodeForPathError(int error)
{
    switch (error) {
    case ENOTDIR:
        return kOpenPathNotFound;
    case EACCES:
    case EPERM:
        return kOpenAccessDenied;
    case ENOMEM:
        return kOpenOutOfMemory;
    default:
        return kOpenFileNotFound;  // ENOENT, ELOOP, ENAMETOOLONG
    }
}

intptr_t CodeForExecError(int error)
{
    switch (error) {
    case ENOENT:  // also a script whose interpreter is missing
        return kOpenFileNotFound;
    case ENOTDIR:
        return kOpenPathNotFound;
    case EACCES:
    case EPERM:
    case ETXTBSY:
        return kOpenAccessDenied;
    case ENOMEM:
    case EAGAIN:
    case E2BIG:
    case EMFILE:
    case ENFILE:
        return kOpenOutOfMemory;
    default:
        return kOpenBadFormat;  // ENOEXEC, ELIBBAD, EINVAL: not a program this system runs
    }
}

// xdg-open's exit codes: 0 opened, 2 file missing, 5 not readable, 3 no application for the
// file, 4 the application failed, 1 bad use.
intptr_t CodeForOpenerStatus(int status)
{
    if (!WIFEXITED(status))
        return kOpenNoAssociation;
    switch (WEXITSTATUS(status)) {
    case 0:
        return kOpenSucceeded;
    case 2:
        return kOpenFileNotFound;
    case 5:
        return kOpenAccessDenied;
    default:
        return kOpenNoAssociation;
    }
}

// Logs what a child reported of a failure before its program ran: the fork of the process
// that was to run it, opening its standard input, or the exec of path.
void LogChildFailure(const ChildReport& report, const std::string& path)
{
    switch (report.kind) {
    case kReportForkFailed:
        LogOsFailure("fork", report.value);
        break;
    case kReportNullInputFailed:
        LogOsFailure("open", "/dev/null", report.value);
        break;
    case kReportExecFailed:
        LogOsFailure("execv", path, report.value);
        break;
    default:
        break;
    }
}

std::vector<char*> ArgvOf(std::vector<std::string>& words)
{
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    return argv;
}

// Now, in the unit of a process's start time: clock ticks of CLOCK_BOOTTIME, which the
// kernel stamps a new process with. Taken before a launch's fork, it is no later than the
// start of any process of the launch. Not read from the child's stat file after the fork:
// where the system reaps this process's children (SIGCHLD ignored), the child that ends at
// once can be gone by then, and its pid another process's.
uint64_t TicksSinceBoot()
{
    timespec now{};
    if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) {
        LogOsFailure("clock_gettime(CLOCK_BOOTTIME)", errno);
        return 0;
    }
    const uint64_t hz = static_cast<uint64_t>(sysconf(_SC_CLK_TCK));
    return static_cast<uint64_t>(now.tv_sec) * hz + static_cast<uint64_t>(now.tv_nsec) / (1000000000 / hz);
}

intptr_t Launch(
    const std::string& path, std::vector<std::string> words, LaunchKind kind, pid_t* started, LaunchSession* session)
{
    std::vector<char*> argv = ArgvOf(words);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        LogOsFailure("pipe2", errno);
        return kOpenOutOfMemory;
    }
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    const uint64_t since = TicksSinceBoot();
    const pid_t child = fork();
    if (child < 0) {
        LogOsFailure("fork", errno);
        return kOpenOutOfMemory;
    }
    if (child == 0)
        RunLaunchChild(writeEnd.Get(), path.c_str(), argv.data(), kind);
    writeEnd.Reset();
    if (session)
        *session = LaunchSession{child, since};  // the child calls setsid first
    WaitForChild(child);

    ChildReport report;
    const int timeoutMs = kind == LaunchKind::Program ? -1 : kOpenerVerdictMs;
    ReadOutcome outcome = ReadReport(readEnd.Get(), report, timeoutMs);
    if (outcome == ReadOutcome::Report && report.kind == kReportStarted) {
        if (started)
            *started = static_cast<pid_t>(report.value);
        outcome = ReadReport(readEnd.Get(), report, timeoutMs);
    }
    switch (outcome) {
    case ReadOutcome::TimedOut:
        return kOpenSucceeded;  // the opener is still running the document's application
    case ReadOutcome::Closed:
        // The program replaced the grandchild (exec closed the pipe). An opener always
        // reports how it ended, so silence from it is a failure.
        return kind == LaunchKind::Program ? kOpenSucceeded : kOpenNoAssociation;
    case ReadOutcome::Report:
        break;
    }
    LogChildFailure(report, path);
    if (report.kind == kReportForkFailed)
        return kOpenOutOfMemory;
    if (kind == LaunchKind::Opener)
        return report.kind == kReportExited ? CodeForOpenerStatus(report.value) : kOpenNoAssociation;
    return CodeForExecError(report.value);
}

// The first executable regular file called name along PATH; "" when there is none.
std::string FindInPath(std::string_view name)
{
    const char* pathVar = std::getenv("PATH");
    const std::string_view dirs = (pathVar && *pathVar) ? pathVar : "/usr/local/bin:/bin:/usr/bin";
    size_t start = 0;
    for (;;) {
        const size_t end = dirs.find(':', start);
        std::string_view dir = dirs.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        std::string candidate(dir.empty() ? "." : dir);
        candidate += '/';
        candidate += name;
        if (IsExecutableFile(candidate))
            return candidate;
        if (end == std::string_view::npos)
            return {};
        start = end + 1;
    }
}

}  // namespace

bool IsExecutableFile(const std::string& path)
{
    struct stat info { };
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)
        && faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;
}

std::optional<std::vector<std::string>> SplitArguments(const std::string& text)
{
    // GLib's parser follows the shell's quoting rules and performs none of its expansions.
    gint argc = 0;
    gchar** argv = nullptr;
    GError* error = nullptr;
    if (!g_shell_parse_argv(text.c_str(), &argc, &argv, &error)) {
        const bool blank = error->domain == G_SHELL_ERROR && error->code == G_SHELL_ERROR_EMPTY_STRING;
        g_error_free(error);
        if (blank)
            return std::vector<std::string>{};
        return std::nullopt;
    }
    std::vector<std::string> words(argv, argv + argc);
    g_strfreev(argv);
    return words;
}

intptr_t ShellOpenFile(const std::string& file, const std::string* parameters, pid_t* started, LaunchSession* session)
{
    if (file.empty() || file.find('\0') != std::string::npos)
        return kOpenFileNotFound;
    std::string path = file;
    if (file.find('/') == std::string::npos && access(file.c_str(), F_OK) != 0) {
        path = FindInPath(file);
        if (path.empty())
            return kOpenFileNotFound;
    }
    struct stat info { };
    if (stat(path.c_str(), &info) != 0) {
        LogOsFailure("stat", path, errno);
        return CodeForPathError(errno);
    }

    if (IsExecutableFile(path)) {
        std::vector<std::string> words{file};
        if (parameters) {
            std::optional<std::vector<std::string>> split = SplitArguments(*parameters);
            if (!split)
                return kOpenBadFormat;  // unbalanced quotes: the program would get other arguments than meant
            words.insert(words.end(), split->begin(), split->end());
        }
        return Launch(path, std::move(words), LaunchKind::Program, started, session);
    }

    // A document, a folder or another file: which application opens it is the desktop's choice.
    const std::string opener = FindInPath("xdg-open");
    if (opener.empty())
        return kOpenNoAssociation;
    return Launch(opener, {"xdg-open", path}, LaunchKind::Opener, started, session);
}

bool StartScriptFile(const std::string& path, LaunchSession* session, pid_t* started)
{
    // The interpreter reads the file: one it cannot open is not run at all (dash would say so
    // on standard error and exit with 2, which a script may exit with too).
    if (path.empty())
        return false;
    {
        UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (!file.Valid()) {
            LogOsFailure("open", path, errno);
            return false;
        }
        struct stat info { };
        if (fstat(file.Get(), &info) != 0) {
            LogOsFailure("fstat", path, errno);
            return false;
        }
        if (!S_ISREG(info.st_mode))
            return false;
    }
    // "--": a path that begins with "-" is still the file, never an option. The interpreter
    // is started as a program is, in a session of its own: what the script leaves running in
    // the background stays known as the script's.
    return Launch("/bin/sh", {"sh", "--", path}, LaunchKind::Program, started, session) == kOpenSucceeded;
}

pid_t SpawnCommand(const std::string& program, const std::vector<std::string>& environment)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    // Nothing else of this program (the run log, the X connection) reaches the command.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> words{program};
    std::vector<char*> argv = ArgvOf(words);
    std::vector<std::string> variables = environment;
    std::vector<char*> envp = ArgvOf(variables);
    pid_t child = -1;
    // posix_spawnp: a name without '/' is looked for along PATH, as a shell would.
    const int error = posix_spawnp(&child, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        LogOsFailure("posix_spawnp", program, error);
        return -1;
    }
    return child;
}

}  // namespace px::posix
