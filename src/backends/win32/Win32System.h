#pragma once
// The system services on Windows, one file for each mechanism: processes (Win32Processes.cpp:
// the Toolhelp snapshot, OpenProcess and TerminateProcess), launches (Win32Launch.cpp: the
// shell's open verb through ShellExecuteExW, which also gives the process it started, the
// command interpreter through CreateProcessW, a job object per launch, the event command),
// other programs' windows and keys (Win32Windows.cpp: the top-level windows,
// SetForegroundWindow, keybd_event, WM_CLOSE, IsHungAppWindow), the health probes' sockets and
// file ages (Win32Probes.cpp), start at login (Win32Autostart.cpp: the Run key), and the rest
// (Win32System.cpp: GetLocalTime, GetTickCount64, GetModuleFileNameW).

#include <map>
#include <vector>

#include "platform/System.h"

class Win32System : public System {
public:
    // Processes (Win32Processes.cpp).
    bool EnumerateProcesses(ProcessDetail detail, const std::function<bool(const ProcessEntry&)>& visit) override;
    // The snapshot carries each process's image file name whole.
    bool QuickNamesAreComplete() const override { return true; }
    // The line the process was started with: NtQueryInformationProcess's
    // ProcessCommandLineInformation (Windows 8.1 and later), else read from the process's
    // parameters block (Wine; needs PROCESS_VM_READ).
    std::optional<std::u16string> CommandLineOf(uint32_t pid, uint64_t startStamp) override;
    // Never pid 0 (the idle process) or this process; the process's creation time tells a
    // reused id from it.
    bool TerminateProcess(uint32_t pid, uint64_t startStamp) override;

    // Launches (Win32Launch.cpp). A launch is a job object of its own that the process started
    // is put into, so every process it starts in turn belongs to it too; known by the job's and
    // the process's handles, held until it is released.
    intptr_t ShellOpen(const std::u16string& file, const std::u16string* parameters,
        std::optional<LaunchedProcess>* launched) override;
    // The job still has an active process.
    bool IsAlive(const LaunchedProcess& process) override;
    // TerminateJobObject: every process of the job at once.
    bool TerminateLaunched(const LaunchedProcess& process) override;
    void Release(const LaunchedProcess& process) override;
    // A program file: a .exe or .com name in any letter case.
    bool IsExecutableProgram(const std::u16string& path) override;
    bool IsScriptFile(const std::u16string&) override { return false; }
    // %COMSPEC% /c with the path quoted as one word, as _wsystem runs it, started suspended so
    // that the interpreter and all it starts belong to the launch's job from the start; the
    // path reaches the interpreter through an environment variable, so that no character of
    // it is read as command text.
    bool StartScript(const std::u16string& path, std::optional<LaunchedProcess>* launched) override;
    // GetExitCodeProcess on the handle of the process the launch started.
    std::optional<ProcessExit> ExitOf(const LaunchedProcess& process) override;
    // CreateProcessW of the program alone (no interpreter), with a copy of this process's
    // environment and the variables, no window, no handle of this process; the process handle
    // is kept until its exit has been told.
    std::optional<uint64_t> RunCommand(
        const std::u16string& program, const std::vector<EnvironmentVariable>& environment) override;
    std::optional<ProcessExit> CommandExit(uint64_t id) override;

    // Other programs' windows and keys (Win32Windows.cpp).
    // A window of the dialog class (#32770) or with a dialog frame counts as a dialog.
    std::vector<TopWindow> FindTopWindows(const std::u16string& title) override;
    // True when the window is the foreground window afterwards: Windows may refuse the change.
    bool BringToFront(ForeignWindow window) override;
    void PressSpaceKey() override;
    // WM_CLOSE posted to the process's visible top-level windows, never waited for.
    bool AskToClose(uint32_t pid, uint64_t startStamp) override;
    // IsHungAppWindow on the processes' visible top-level windows, at WindowsAnswered: the
    // system itself tracks whether a window stopped taking its messages.
    void AskWindows(const std::vector<uint32_t>& pids) override { m_windowPids = pids; }
    WindowAnswer WindowsAnswered() override;

    // Health probes (Win32Probes.cpp). A non-blocking Winsock connect, looked at with a select
    // of zero timeout.
    uint64_t StartConnect(const std::u16string& host, uint16_t port) override;
    ConnectState PollConnect(uint64_t id) override;
    void EndConnect(uint64_t id) override;
    std::optional<int64_t> FileAgeMs(const std::u16string& path) override;

    // Start at login (Win32Autostart.cpp). The value "Perennix" under
    // HKCU\Software\Microsoft\Windows\CurrentVersion\Run: on when it starts this executable (its
    // quoted full path, in any letter case).
    std::optional<bool> IsStartAtLogin() override;
    bool SetStartAtLogin(bool enable) override;

    // The clock and this executable (Win32System.cpp).
    SystemTime GetLocalTime() override;
    int64_t GetSteadyMs() override;
    std::u16string GetModuleFileName() override;

private:
    struct Attempt {
        uintptr_t socket = 0;  // a SOCKET
        ConnectState state = ConnectState::Refused;
    };
    std::map<uint64_t, Attempt> m_connects;
    uint64_t m_nextConnect = 1;
    bool m_winsockStarted = false;
    std::vector<uint32_t> m_windowPids;
    std::map<uint64_t, uint64_t> m_commands;  // by process id: the process handle
};
