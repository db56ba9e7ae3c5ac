#pragma once
// A scripted System: a process table tests change, recorded launches and key presses,
// windows to find, and the local time from a virtual clock.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "PlatformPath.h"
#include "platform/System.h"

namespace fake {

// A virtual wall clock in milliseconds since 1970-01-01 00:00 local time.
class VirtualClock {
public:
    int64_t NowMs() const { return m_nowMs; }
    void SetMs(int64_t ms) { m_nowMs = ms; }
    // Sets the clock to a local date and time.
    void Set(int year, int month, int day, int hour, int minute, int second = 0, int ms = 0);
    SystemTime LocalTime() const;

private:
    int64_t m_nowMs = 0;
};

struct FakeProcess {
    uint32_t pid = 0;
    std::vector<ProcessName> names;
    bool canOpen = true;  // false: the user may not open it (terminate fails)
};

struct ShellLaunch {
    std::u16string file;
    std::optional<std::u16string> parameters;  // nullopt: no parameters pointer
    int64_t atMs = 0;
    intptr_t result = 0;  // the code the launch returned
};

struct ForeignWin {
    ForeignWindow handle = 0;
    std::u16string windowClass;
    std::u16string title;
    bool bringsToFront = true;  // false: the system refuses to give it the focus
    bool isDialog = false;
    std::vector<ProcessName> ownerNames = {};  // the names of the process that shows it
};

class FakeSystem : public System {
public:
    explicit FakeSystem(VirtualClock& clock)
        : m_clock(clock)
    {
    }

    // Process table
    uint32_t AddProcess(const std::u16string& name, bool canOpen = true);
    uint32_t AddProcessNames(std::vector<ProcessName> names, bool canOpen = true);
    void RemoveProcess(uint32_t pid);
    void RemoveProcessesNamed(const std::u16string& name);
    size_t CountProcessesNamed(const std::u16string& name) const;
    std::vector<FakeProcess> processes;
    bool snapshotFails = false;
    bool quickNamesComplete = true;
    int enumerations = 0;  // scans made

    // Launching: the result ShellOpen returns, and what a launch does to the process table.
    intptr_t shellResult = 42;
    // When set, a successful shell launch or a script that ran starts a process of this name
    // (and the shell launch reports it as the process it started).
    std::u16string launchStartsProcess;
    std::vector<ShellLaunch> shellLaunches;
    // Paths the system reports as programs it starts by themselves.
    std::vector<std::u16string> executablePrograms;
    std::vector<std::u16string> scripts;  // the paths run as scripts
    // Runs inside RunScript, while the caller is blocked (the script is running).
    std::function<void()> duringScript;
    std::optional<int> scriptExitStatus = 0;  // nullopt: the interpreter could not run the file
    std::vector<uint64_t> released;  // launched processes let go of

    // Windows and keys
    std::vector<ForeignWin> windows;
    std::vector<std::u16string> findQueries;  // titles asked for, in order
    std::vector<ForeignWindow> broughtToFront;
    std::vector<ForeignWindow> spacePresses;  // the window in front at each press (0: none)
    std::vector<uint32_t> terminated;

    std::u16string modulePath = testsupport::PlatformPath(u"/opt/perennix/perennix");

    bool EnumerateProcesses(ProcessDetail detail, const std::function<bool(const ProcessEntry&)>& visit) override;
    bool QuickNamesAreComplete() const override { return quickNamesComplete; }
    bool TerminateProcess(uint32_t pid) override;
    intptr_t ShellOpen(const std::u16string& file, const std::u16string* parameters,
        std::optional<LaunchedProcess>* launched) override;
    bool IsAlive(const LaunchedProcess& process) override;
    void Release(const LaunchedProcess& process) override;
    bool IsExecutableProgram(const std::u16string& path) override;
    std::optional<int> RunScript(const std::u16string& path) override;
    std::vector<TopWindow> FindTopWindows(const std::u16string& title) override;
    bool BringToFront(ForeignWindow window) override;
    void PressSpaceKey() override;
    SystemTime GetLocalTime() override { return m_clock.LocalTime(); }
    std::u16string GetModuleFileName() override { return modulePath; }

private:
    VirtualClock& m_clock;
    uint32_t m_nextPid = 1000;
    ForeignWindow m_front = 0;
};

// Installs a FakeSystem as the process's system for the lifetime of the guard.
class ScopedSystem {
public:
    explicit ScopedSystem(System& s) { SetSystem(&s); }
    ~ScopedSystem() { SetSystem(nullptr); }
    ScopedSystem(const ScopedSystem&) = delete;
    ScopedSystem& operator=(const ScopedSystem&) = delete;
};

}  // namespace fake
