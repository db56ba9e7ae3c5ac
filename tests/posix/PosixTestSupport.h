#pragma once
// Real processes, files and reports for the tests of the Linux system services.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace pxtest {

// A program the test started; killed and reaped when it goes out of scope.
class ChildProcess {
public:
    // Starts path with argv (argv[0] as given) and extra environment variables; returns once
    // exec has replaced the child, so its names are the program's.
    ChildProcess(const std::string& path, const std::vector<std::string>& argv,
        const std::vector<std::pair<std::string, std::string>>& environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    bool Started() const { return m_pid > 0 && m_execError == 0; }
    // Its wait status once it has ended within timeoutMs; nullopt while it still runs.
    std::optional<int> WaitForExit(int timeoutMs);

private:
    pid_t m_pid = -1;
    int m_execError = 0;
    bool m_reaped = false;
};

// Path of the probe program (tests/posix/helpers/px_probe.cpp).
std::string ProbePath();
// A copy of the probe at path, executable.
void CopyProbe(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes, unsigned mode = 0644);
std::optional<std::string> ReadFile(const std::string& path);

// A probe's report: each key with its values in order.
using Report = std::map<std::string, std::vector<std::string>>;
// Waits (bounded) until the report at path is complete and reads it.
std::optional<Report> WaitForReport(const std::string& path, int timeoutMs = 10000);

// Polls condition every 10 ms until it holds or timeoutMs has passed.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

// The state letter of a process from /proc (R, S, Z, ...); '\0' when it does not exist.
char ProcessState(pid_t pid);
// The process lives: sleeping, running, or waiting in the kernel on a busy machine (not a
// zombie, not gone).
inline bool IsAlive(pid_t pid)
{
    const char state = ProcessState(pid);
    // D: waiting on the disk or in the kernel for a moment (paging in on a loaded machine).
    return state == 'S' || state == 'R' || state == 'D';
}
// Its parent's pid; -1 when it does not exist.
pid_t ParentOf(pid_t pid);

// Runs action as an unprivileged user (nobody) in a child process when the test runs as
// root, else in this process; returns action's result (-1 when the child failed).
long RunUnprivileged(const std::function<long()>& action);

// Sets an environment variable (or unsets it: nullopt) for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// A virtual desktop of its own (scripts/with-x without a tray host: Xvfb, and the openbox
// window manager unless told otherwise), named by DISPLAY while the object lives. No other
// test can take its focus or receive its keys.
class PrivateDesktop {
public:
    enum class WindowManager { Openbox, Absent };
    explicit PrivateDesktop(WindowManager windowManager = WindowManager::Openbox);
    ~PrivateDesktop();
    PrivateDesktop(const PrivateDesktop&) = delete;
    PrivateDesktop& operator=(const PrivateDesktop&) = delete;

    // The display (":93"); empty when the desktop could not be started.
    const std::string& Name() const { return m_name; }

private:
    pid_t m_pid = -1;
    int m_keepAlive = -1;  // the desktop lives until this pipe closes
    std::string m_name;
    std::optional<ScopedEnv> m_display;
};

// Kills a process that a test launched detached (not its child) when it goes out of scope.
class KillOnExit {
public:
    explicit KillOnExit(pid_t pid = 0)
        : m_pid(pid)
    {
    }
    ~KillOnExit();
    KillOnExit(const KillOnExit&) = delete;
    KillOnExit& operator=(const KillOnExit&) = delete;
    void Set(pid_t pid) { m_pid = pid; }

private:
    pid_t m_pid;
};

}  // namespace pxtest
