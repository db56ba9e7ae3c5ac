#include "FakeSystem.h"

#include <algorithm>
#include <chrono>

namespace fake {

namespace {

using namespace std::chrono;

constexpr int64_t kMsPerMinute = 60 * 1000;

// Milliseconds since 1970-01-01 00:00 of a date and time, as a calendar with no time zone
// counts them.
int64_t CalendarMs(int year, int month, int day, int hour, int minute, int second, int ms)
{
    const sys_days date{std::chrono::year{year} / month / day};
    return (date + hours{hour} + minutes{minute} + seconds{second} + milliseconds{ms}).time_since_epoch().count();
}

// The wall-clock milliseconds (as CalendarMs counts them) at which change happens in year.
int64_t ChangeMs(int year, const ClockChange& change)
{
    const auto month = std::chrono::month{static_cast<unsigned>(change.month)};
    const weekday day{static_cast<unsigned>(change.weekday)};
    const sys_days date = change.week >= 5
        ? sys_days{year_month_weekday_last{std::chrono::year{year}, month, weekday_last{day}}}
        : sys_days{year_month_weekday{std::chrono::year{year}, month, day[static_cast<unsigned>(change.week)]}};
    return duration_cast<milliseconds>((date + minutes{change.minuteOfDay}).time_since_epoch()).count();
}

}  // namespace

int VirtualClock::OffsetMinutesAt(int64_t ms) const
{
    const int standard = m_zone.standardOffsetMinutes;
    if (!m_zone.daylightStart || !m_zone.daylightEnd)
        return standard;
    const int daylight = m_zone.daylightOffsetMinutes;
    const int year
        = int{year_month_day{floor<days>(sys_time<milliseconds>{milliseconds{ms + standard * kMsPerMinute}})}.year()};
    // Daylight time begins at a standard-time reading and ends at a daylight-time one.
    const int64_t begins = ChangeMs(year, *m_zone.daylightStart) - standard * kMsPerMinute;
    const int64_t ends = ChangeMs(year, *m_zone.daylightEnd) - daylight * kMsPerMinute;
    // South of the equator daylight time spans the turn of the year.
    const bool inDaylight = begins < ends ? (begins <= ms && ms < ends) : !(ends <= ms && ms < begins);
    return inDaylight ? daylight : standard;
}

int64_t VirtualClock::MsAt(int year, int month, int day, int hour, int minute, int second, int ms) const
{
    const int64_t wall = CalendarMs(year, month, day, hour, minute, second, ms);
    // The earlier reading first: daylight time, whose offset is the larger one.
    for (const int offset : {m_zone.daylightOffsetMinutes, m_zone.standardOffsetMinutes}) {
        const int64_t at = wall - offset * kMsPerMinute;
        if (OffsetMinutesAt(at) == offset)
            return at;
    }
    return wall - m_zone.standardOffsetMinutes * kMsPerMinute;
}

void VirtualClock::Set(int year, int month, int day, int hour, int minute, int second, int ms)
{
    m_nowMs = MsAt(year, month, day, hour, minute, second, ms);
}

SystemTime VirtualClock::LocalTime() const
{
    const sys_time<milliseconds> now{milliseconds{m_nowMs + OffsetMinutesAt(m_nowMs) * kMsPerMinute}};
    const sys_days today = floor<days>(now);
    const year_month_day date{today};
    const hh_mm_ss<milliseconds> time{now - today};
    SystemTime t;
    t.wYear = static_cast<uint16_t>(int{date.year()});
    t.wMonth = static_cast<uint16_t>(unsigned{date.month()});
    t.wDay = static_cast<uint16_t>(unsigned{date.day()});
    t.wDayOfWeek = static_cast<uint16_t>(weekday{today}.c_encoding());
    t.wHour = static_cast<uint16_t>(time.hours().count());
    t.wMinute = static_cast<uint16_t>(time.minutes().count());
    t.wSecond = static_cast<uint16_t>(time.seconds().count());
    t.wMilliseconds = static_cast<uint16_t>(time.subseconds().count());
    return t;
}

uint32_t FakeSystem::AddProcess(const std::u16string& name, bool canOpen)
{
    return AddProcessNames({ProcessName{name, false}}, canOpen);
}

uint32_t FakeSystem::AddProcessNames(std::vector<ProcessName> names, bool canOpen)
{
    FakeProcess p;
    p.pid = m_nextPid++;
    p.names = std::move(names);
    p.canOpen = canOpen;
    processes.push_back(p);
    return p.pid;
}

uint32_t FakeSystem::AddProcessWithCommandLine(const std::u16string& name, const std::u16string& commandLine)
{
    const uint32_t pid = AddProcess(name);
    processes.back().commandLine = commandLine;
    return pid;
}

uint32_t FakeSystem::AddToLaunch(uint64_t launch, const std::u16string& name)
{
    const uint32_t pid = AddProcess(name);
    processes.back().launch = launch;
    processes.back().commandLine = launchCommandLine;
    return pid;
}

std::optional<std::u16string> FakeSystem::CommandLineOf(uint32_t pid, uint64_t)
{
    for (const FakeProcess& p : processes)
        if (p.pid == pid)
            return p.commandLine;
    return std::nullopt;
}

void FakeSystem::RemoveProcess(uint32_t pid)
{
    std::erase_if(processes, [pid](const FakeProcess& p) { return p.pid == pid; });
}

void FakeSystem::RemoveProcessesNamed(const std::u16string& name)
{
    std::erase_if(processes, [&](const FakeProcess& p) { return !p.names.empty() && p.names[0].text == name; });
}

size_t FakeSystem::CountProcessesNamed(const std::u16string& name) const
{
    return static_cast<size_t>(std::count_if(processes.begin(), processes.end(),
        [&](const FakeProcess& p) { return !p.names.empty() && p.names[0].text == name; }));
}

bool FakeSystem::EnumerateProcesses(ProcessDetail detail, const std::function<bool(const ProcessEntry&)>& visit)
{
    ++enumerations;
    if (snapshotFails)
        return false;
    const std::vector<FakeProcess> snapshot = processes;  // a point-in-time list
    for (const FakeProcess& p : snapshot) {
        ProcessEntry e;
        e.pid = p.pid;
        e.ownUser = p.ownUser;
        e.startStamp = p.startStamp;
        // Like /proc: the first name is the quick one, and a cut one comes with all the others.
        if (detail == ProcessDetail::Quick && !quickNamesComplete && !p.names.empty() && !p.names[0].isPrefix)
            e.names.assign(p.names.begin(), p.names.begin() + 1);
        else
            e.names = p.names;
        if (!visit(e))
            break;
    }
    return true;
}

bool FakeSystem::TerminateProcess(uint32_t pid, uint64_t startStamp)
{
    auto it = std::find_if(processes.begin(), processes.end(), [pid](const FakeProcess& p) { return p.pid == pid; });
    if (it == processes.end() || !it->canOpen || (startStamp != 0 && startStamp != it->startStamp))
        return false;
    terminated.push_back(pid);
    processes.erase(it);
    return true;
}

intptr_t FakeSystem::ShellOpen(
    const std::u16string& file, const std::u16string* parameters, std::optional<LaunchedProcess>* launched)
{
    ShellLaunch l;
    l.file = file;
    if (parameters)
        l.parameters = *parameters;
    l.atMs = m_clock.NowMs();
    l.result = shellResult;
    shellLaunches.push_back(l);
    if (shellResult > 32 && launchEndsAtOnce) {
        const uint64_t launch = m_nextPid++;
        launchExits[launch] = *launchEndsAtOnce;
        if (launched)
            *launched = LaunchedProcess{launch, 0};
    } else if (shellResult > 32 && !launchStartsProcess.empty()) {
        lastLaunch = AddToLaunch(m_nextPid, launchStartsProcess);
        if (launched)
            *launched = LaunchedProcess{lastLaunch, 0};
    }
    return shellResult;
}

bool FakeSystem::IsAlive(const LaunchedProcess& process)
{
    return std::any_of(
        processes.begin(), processes.end(), [&](const FakeProcess& p) { return p.launch == process.id; });
}

bool FakeSystem::TerminateLaunched(const LaunchedProcess& process)
{
    launchesEnded.push_back(process.id);
    std::vector<uint32_t> members;
    for (const FakeProcess& p : processes)
        if (p.launch == process.id)
            members.push_back(p.pid);
    bool any = false;
    for (uint32_t pid : members)
        any = TerminateProcess(pid) || any;
    return any;
}

void FakeSystem::Release(const LaunchedProcess& process) { released.push_back(process.id); }

bool FakeSystem::IsExecutableProgram(const std::u16string& path)
{
    return std::find(executablePrograms.begin(), executablePrograms.end(), path) != executablePrograms.end();
}

bool FakeSystem::IsScriptFile(const std::u16string& path)
{
    return std::find(scriptFiles.begin(), scriptFiles.end(), path) != scriptFiles.end();
}

bool FakeSystem::StartScript(const std::u16string& path, std::optional<LaunchedProcess>* launched)
{
    scripts.push_back(path);
    if (scriptStarts && !launchStartsProcess.empty()) {
        lastLaunch = AddToLaunch(m_nextPid, launchStartsProcess);
        if (launched)
            *launched = LaunchedProcess{lastLaunch, 0};
    }
    return scriptStarts;
}

void FakeSystem::EndLaunch(uint64_t launch, const ProcessExit& exit)
{
    std::erase_if(processes, [&](const FakeProcess& p) { return p.launch == launch; });
    launchExits[launch] = exit;
}

std::optional<ProcessExit> FakeSystem::ExitOf(const LaunchedProcess& process)
{
    const auto it = launchExits.find(process.id);
    if (IsAlive(process) || it == launchExits.end())
        return std::nullopt;
    return it->second;
}

std::optional<uint64_t> FakeSystem::RunCommand(
    const std::u16string& program, const std::vector<EnvironmentVariable>& environment)
{
    commands.push_back({program, environment});
    if (!commandStarts)
        return std::nullopt;
    return commands.size() - 1;
}

std::optional<ProcessExit> FakeSystem::CommandExit(uint64_t id)
{
    const auto it = commandExits.find(id);
    if (it == commandExits.end())
        return std::nullopt;
    const ProcessExit exit = it->second;
    commandExits.erase(it);
    return exit;
}

std::vector<TopWindow> FakeSystem::FindTopWindows(const std::u16string& title)
{
    findQueries.push_back(title);
    std::vector<TopWindow> found;
    for (const ForeignWin& w : windows) {
        if (w.title != title)
            continue;
        TopWindow window{w.handle, w.windowClass, w.isDialog, {}};
        window.owner.names = w.ownerNames;
        window.owner.pid = w.ownerPid;
        found.push_back(window);
    }
    return found;
}

bool FakeSystem::BringToFront(ForeignWindow window)
{
    broughtToFront.push_back(window);
    for (const ForeignWin& w : windows)
        if (w.handle == window && w.bringsToFront) {
            m_front = window;
            return true;
        }
    return false;
}

void FakeSystem::PressSpaceKey()
{
    spacePresses.push_back(m_front);
    // A confirmed dialog closes (unless it is one that a space key does not close).
    std::erase_if(windows, [this](const ForeignWin& w) { return w.handle == m_front && w.closesOnSpace; });
    m_front = 0;
}

bool FakeSystem::AskToClose(uint32_t pid, uint64_t /*startStamp*/)
{
    const auto it
        = std::find_if(processes.begin(), processes.end(), [&](const FakeProcess& p) { return p.pid == pid; });
    if (it == processes.end() || !it->canOpen)
        return false;
    closeAsked.push_back(pid);
    if (it->closesWhenAsked)
        processes.erase(it);
    return true;
}

uint64_t FakeSystem::StartConnect(const std::u16string& host, uint16_t port)
{
    ++connectsStarted;
    const uint64_t id = m_nextConnect++;
    const std::string digits = std::to_string(port);
    m_connects[id] = host + u":" + std::u16string(digits.begin(), digits.end());
    return id;
}

ConnectState FakeSystem::PollConnect(uint64_t id)
{
    const auto attempt = m_connects.find(id);
    if (attempt == m_connects.end())
        return ConnectState::Refused;
    const auto listener = listeners.find(attempt->second);
    return listener == listeners.end() ? ConnectState::Refused : listener->second;
}

std::optional<int64_t> FakeSystem::FileAgeMs(const std::u16string& path)
{
    const auto it = fileModifiedMs.find(path);
    if (it == fileModifiedMs.end())
        return std::nullopt;
    return m_clock.NowMs() - it->second;
}

}  // namespace fake
