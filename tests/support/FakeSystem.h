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

// The moment of a daylight-saving change: the week-th weekday of a month (5: the last one)
// at a time of day on the wall clock, as it reads just before the change.
struct ClockChange {
    int month = 1;  // 1 to 12
    int week = 1;  // 1 to 4, or 5 for the last
    int weekday = 0;  // 0 = Sunday
    int minuteOfDay = 0;
};

// A time zone as a rule table of the clock's own, so that tests run the same on every
// system (Wine included) whatever its time-zone database holds.
struct TimeZoneRules {
    int standardOffsetMinutes = 0;  // local standard time minus UTC
    int daylightOffsetMinutes = 0;  // local daylight time minus UTC
    std::optional<ClockChange> daylightStart;  // none: no daylight saving time
    std::optional<ClockChange> daylightEnd;
};

// America/New_York since 2007: EST (UTC-5); EDT (UTC-4) from the second Sunday of March at
// 02:00 (the clock skips to 03:00) to the first Sunday of November at 02:00 (back to 01:00).
inline const TimeZoneRules kNewYork{-300, -240, ClockChange{3, 2, 0, 120}, ClockChange{11, 1, 0, 120}};
// America/Sao_Paulo in 2018/19: daylight time began at midnight, so 00:00 to 00:59 of the
// first Sunday of November never showed, and ended at midnight before the third Sunday of
// February, when 23:00 to 23:59 of the Saturday showed twice.
inline const TimeZoneRules kSaoPaulo2018{-180, -120, ClockChange{11, 1, 0, 0}, ClockChange{2, 3, 0, 0}};

// A virtual clock: milliseconds since 1970-01-01 00:00 UTC, which only tests and the passing
// of virtual time move, and the local wall-clock time in a time zone (UTC when none is set).
class VirtualClock {
public:
    int64_t NowMs() const { return m_nowMs; }
    void SetMs(int64_t ms) { m_nowMs = ms; }
    void SetZone(const TimeZoneRules& zone) { m_zone = zone; }
    // Sets the clock to a local date and time. A time shown twice is its first showing; a time
    // the clock skips is read in standard time, which the clock then shows as the hour after.
    void Set(int year, int month, int day, int hour, int minute, int second = 0, int ms = 0);
    // The clock's milliseconds at a local date and time, read as Set reads it.
    int64_t MsAt(int year, int month, int day, int hour, int minute, int second = 0, int ms = 0) const;
    SystemTime LocalTime() const;
    // Local time minus UTC at a moment of the clock, in minutes.
    int OffsetMinutesAt(int64_t ms) const;

private:
    int64_t m_nowMs = 0;
    TimeZoneRules m_zone;
};

struct FakeProcess {
    uint32_t pid = 0;
    std::vector<ProcessName> names;
    bool canOpen = true;  // false: the user may not open it (terminate fails)
    uint64_t launch = 0;  // the launch it belongs to (its first process's pid); 0: none of ours
    bool ownUser = true;  // false: another user's process
    uint64_t startStamp = 0;
    bool closesWhenAsked = true;  // false: it ignores a request to close
    std::optional<std::u16string> commandLine;  // none: the system will not tell it
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
    uint32_t ownerPid = 0;  // the process that shows it (0: unknown)
    bool closesOnSpace = true;  // false: a space key pressed on it leaves it up
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
    // A process with a command line the system tells.
    uint32_t AddProcessWithCommandLine(const std::u16string& name, const std::u16string& commandLine);
    // A process that the launch started in turn (a launcher's program).
    uint32_t AddToLaunch(uint64_t launch, const std::u16string& name);
    // The pid of the first process of the last launch that started one (0: none).
    uint32_t lastLaunch = 0;
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
    // The command line of the process a launch starts (none: the system will not tell it).
    std::optional<std::u16string> launchCommandLine;
    std::vector<ShellLaunch> shellLaunches;
    // Paths the system reports as programs it starts by themselves, and as scripts only the
    // interpreter runs.
    std::vector<std::u16string> executablePrograms;
    std::vector<std::u16string> scriptFiles;
    std::vector<std::u16string> scripts;  // the paths run as scripts
    bool scriptStarts = true;  // false: the interpreter could not run the file
    // When set, a successful launch starts a process that has already ended this way by the
    // next look (a program that dies at once); launchStartsProcess is not used then.
    std::optional<ProcessExit> launchEndsAtOnce;
    // How the processes of each launch ended (by launch id), for ExitOf.
    std::map<uint64_t, ProcessExit> launchExits;
    // Ends the launch's processes with exit.
    void EndLaunch(uint64_t launch, const ProcessExit& exit);

    // Commands: what RunCommand was asked, whether it starts them, and how they ended.
    struct CommandRun {
        std::u16string program;
        std::vector<EnvironmentVariable> environment;
    };
    std::vector<CommandRun> commands;
    bool commandStarts = true;
    std::map<uint64_t, ProcessExit> commandExits;  // by id (the index in commands)
    std::vector<uint64_t> released;  // launches let go of
    std::vector<uint64_t> launchesEnded;  // launches ended whole

    // Windows and keys
    std::vector<ForeignWin> windows;
    std::vector<std::u16string> findQueries;  // titles asked for, in order
    std::vector<ForeignWindow> broughtToFront;
    std::vector<ForeignWindow> spacePresses;  // the window in front at each press (0: none)
    std::vector<uint32_t> terminated;
    std::vector<uint32_t> closeAsked;  // the processes asked to close

    // Health probes: what listens where ("host:port"; absent: refused), when each file was last
    // modified (by the virtual clock), and what the windows answer.
    std::map<std::u16string, ConnectState> listeners;
    std::map<std::u16string, int64_t> fileModifiedMs;
    WindowAnswer windowAnswer;
    std::vector<std::vector<uint32_t>> windowAsks;
    int connectsStarted = 0;
    size_t OpenConnects() const { return m_connects.size(); }

    std::u16string modulePath = testsupport::PlatformPath(u"/opt/perennix/perennix");

    // Start at login as the system records it (nullopt: the record cannot be read), whether
    // the system refuses changes, and the changes asked for.
    std::optional<bool> startAtLogin = false;
    bool startAtLoginRefused = false;
    std::vector<bool> startAtLoginSets;

    bool EnumerateProcesses(ProcessDetail detail, const std::function<bool(const ProcessEntry&)>& visit) override;
    bool QuickNamesAreComplete() const override { return quickNamesComplete; }
    bool TerminateProcess(uint32_t pid, uint64_t startStamp) override;
    bool TerminateProcess(uint32_t pid) { return TerminateProcess(pid, 0); }
    intptr_t ShellOpen(const std::u16string& file, const std::u16string* parameters,
        std::optional<LaunchedProcess>* launched) override;
    bool IsAlive(const LaunchedProcess& process) override;
    bool TerminateLaunched(const LaunchedProcess& process) override;
    void Release(const LaunchedProcess& process) override;
    bool IsExecutableProgram(const std::u16string& path) override;
    bool IsScriptFile(const std::u16string& path) override;
    bool StartScript(const std::u16string& path, std::optional<LaunchedProcess>* launched) override;
    std::optional<ProcessExit> ExitOf(const LaunchedProcess& process) override;
    std::optional<uint64_t> RunCommand(
        const std::u16string& program, const std::vector<EnvironmentVariable>& environment) override;
    std::optional<ProcessExit> CommandExit(uint64_t id) override;
    int64_t GetUnixTimeMs() override { return m_clock.NowMs(); }
    std::optional<std::u16string> CommandLineOf(uint32_t pid, uint64_t startStamp) override;
    std::vector<TopWindow> FindTopWindows(const std::u16string& title) override;
    bool BringToFront(ForeignWindow window) override;
    void PressSpaceKey() override;
    bool AskToClose(uint32_t pid, uint64_t startStamp) override;
    uint64_t StartConnect(const std::u16string& host, uint16_t port) override;
    ConnectState PollConnect(uint64_t id) override;
    void EndConnect(uint64_t id) override { m_connects.erase(id); }
    std::optional<int64_t> FileAgeMs(const std::u16string& path) override;
    void AskWindows(const std::vector<uint32_t>& pids) override { windowAsks.push_back(pids); }
    WindowAnswer WindowsAnswered() override { return windowAnswer; }
    SystemTime GetLocalTime() override { return m_clock.LocalTime(); }
    int64_t GetSteadyMs() override { return m_clock.NowMs(); }
    std::u16string GetModuleFileName() override { return modulePath; }
    std::optional<bool> IsStartAtLogin() override { return startAtLogin; }
    bool SetStartAtLogin(bool enable) override
    {
        startAtLoginSets.push_back(enable);
        if (startAtLoginRefused)
            return false;
        startAtLogin = enable;
        return true;
    }

private:
    VirtualClock& m_clock;
    uint32_t m_nextPid = 1000;
    ForeignWindow m_front = 0;
    std::map<uint64_t, std::u16string> m_connects;  // open attempts: their "host:port"
    uint64_t m_nextConnect = 1;
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
