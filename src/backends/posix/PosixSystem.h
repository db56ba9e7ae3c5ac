#pragma once
// The system services on Linux: processes from /proc, launching through fork and exec (the
// desktop's xdg-open for documents, /bin/sh for command lines), windows and keys on X11.

#include <map>
#include <set>

#include "backends/posix/ProcFs.h"
#include "backends/posix/Spawn.h"
#include "backends/posix/TcpConnect.h"
#include "backends/posix/X11Desktop.h"
#include "platform/System.h"

class PosixSystem : public System {
public:
    // Makes this process the subreaper of everything it launches: a program whose launcher
    // returned (a daemon, "nohup java &") is adopted by this process instead of init, so it
    // stays known as the launch's, and this process reaps it when it ends. For the program
    // only: it reaps every child it has. False when the kernel refused.
    bool AdoptLaunchedOrphans();

    bool EnumerateProcesses(ProcessDetail detail, const std::function<bool(const ProcessEntry&)>& visit) override;
    // Only the kernel name is quick, and it is cut at 15 bytes and may differ from the
    // executable's and argv[0]'s names.
    bool QuickNamesAreComplete() const override { return false; }
    // SIGKILL, which cannot be caught, through a process descriptor (pidfd). Never pid 0, a pid
    // that would name a process group, or this process.
    bool TerminateProcess(uint32_t pid, uint64_t startStamp) override;

    intptr_t ShellOpen(const std::u16string& file, const std::u16string* parameters,
        std::optional<LaunchedProcess>* launched) override;
    // A launch is its own session (and what the session's processes started and this process
    // adopted); a member's start time tells a reused pid from it.
    bool IsAlive(const LaunchedProcess& process) override;
    bool TerminateLaunched(const LaunchedProcess& process) override;
    void Release(const LaunchedProcess& process) override;
    bool IsExecutableProgram(const std::u16string& path) override;
    bool IsScriptFile(const std::u16string& path) override;
    bool StartScript(const std::u16string& path, std::optional<LaunchedProcess>* launched) override;
    // The wait status of the launch's first process, which this process reaps as the adopter
    // of what it launches (only while adopting).
    std::optional<ProcessExit> ExitOf(const LaunchedProcess& process) override;
    // A child of this process, reaped at the next look after it ended.
    std::optional<uint64_t> RunCommand(
        const std::u16string& program, const std::vector<EnvironmentVariable>& environment) override;
    std::optional<ProcessExit> CommandExit(uint64_t id) override;

    // /proc/PID/cmdline, its NULs read as spaces.
    std::optional<std::u16string> CommandLineOf(uint32_t pid, uint64_t startStamp) override;
    std::vector<TopWindow> FindTopWindows(const std::u16string& title) override;
    bool BringToFront(ForeignWindow window) override;
    void PressSpaceKey() override;

    // SIGTERM, through a process descriptor as for TerminateProcess.
    bool AskToClose(uint32_t pid, uint64_t startStamp) override;
    uint64_t StartConnect(const std::u16string& host, uint16_t port) override;
    ConnectState PollConnect(uint64_t id) override { return m_connects.Poll(id); }
    void EndConnect(uint64_t id) override { m_connects.End(id); }
    std::optional<int64_t> FileAgeMs(const std::u16string& path) override;
    // _NET_WM_PING to the windows of the processes that take it; the answers are read from
    // the display's queue at WindowsAnswered.
    void AskWindows(const std::vector<uint32_t>& pids) override;
    WindowAnswer WindowsAnswered() override;

    SystemTime GetLocalTime() override;
    int64_t GetSteadyMs() override;
    std::u16string GetModuleFileName() override;
    // The user's XDG autostart entry for this executable (backends/posix/Autostart.h).
    std::optional<bool> IsStartAtLogin() override;
    bool SetStartAtLogin(bool enable) override;

private:
    // What is known of a launch between looks: its scope and the members seen so far.
    struct LaunchRecord {
        px::posix::LaunchScope scope;
        std::set<uint64_t> known;
        pid_t first = 0;  // the process that runs the program (or the script's interpreter)
    };
    LaunchRecord& RecordOf(const LaunchedProcess& process);
    void Remember(std::optional<LaunchedProcess>* launched, const px::posix::LaunchSession& session, pid_t first);
    // Reaps the adopted processes that have ended (only while adopting).
    void ReapAdopted();
    bool SignalProcess(uint32_t pid, uint64_t startStamp, int signal);

    px::posix::X11Desktop m_desktop;
    px::posix::ConnectAttempts m_connects;
    uint32_t m_lastQuickStop = 0;  // the process the last quick scan stopped at
    bool m_adopting = false;
    std::map<uint64_t, LaunchRecord> m_launches;  // by session
    // The wait status of each reaped process that a launch or a command is known by.
    std::map<pid_t, int> m_ended;
    std::set<pid_t> m_commands;  // commands not yet reaped
};
