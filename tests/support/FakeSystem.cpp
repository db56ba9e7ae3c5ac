#include "FakeSystem.h"

#include <algorithm>

namespace fake {

namespace {
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
}  // namespace

int64_t MsFromCivil(int year, int month, int day, int hour, int minute, int second, int ms)
{
    const int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    return ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + ms;
}

void VirtualClock::Set(int year, int month, int day, int hour, int minute, int second, int ms)
{
    m_nowMs = MsFromCivil(year, month, day, hour, minute, second, ms);
}

SystemTime VirtualClock::LocalTime() const
{
    int64_t days = m_nowMs / 86400000;
    int64_t rem = m_nowMs % 86400000;
    if (rem < 0) {
        rem += 86400000;
        --days;
    }
    // civil_from_days
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    SystemTime t;
    t.wYear = static_cast<uint16_t>(y + (m <= 2));
    t.wMonth = static_cast<uint16_t>(m);
    t.wDay = static_cast<uint16_t>(d);
    t.wDayOfWeek = static_cast<uint16_t>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    t.wHour = static_cast<uint16_t>(rem / 3600000);
    t.wMinute = static_cast<uint16_t>(rem / 60000 % 60);
    t.wSecond = static_cast<uint16_t>(rem / 1000 % 60);
    t.wMilliseconds = static_cast<uint16_t>(rem % 1000);
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

bool FakeSystem::TerminateProcess(uint32_t pid)
{
    auto it = std::find_if(processes.begin(), processes.end(), [pid](const FakeProcess& p) { return p.pid == pid; });
    if (it == processes.end() || !it->canOpen)
        return false;
    terminated.push_back(pid);
    processes.erase(it);
    return true;
}

intptr_t FakeSystem::ShellOpen(const std::u16string& file, const std::u16string* parameters)
{
    ShellLaunch l;
    l.file = file;
    if (parameters)
        l.parameters = *parameters;
    l.atMs = m_clock.NowMs();
    l.result = shellResult;
    shellLaunches.push_back(l);
    if (shellResult > 32 && !launchStartsProcess.empty())
        AddProcess(launchStartsProcess);
    return shellResult;
}

bool FakeSystem::IsExecutableProgram(const std::u16string& path)
{
    return std::find(executablePrograms.begin(), executablePrograms.end(), path) != executablePrograms.end();
}

int FakeSystem::RunCommandLine(const std::u16string& commandLine)
{
    commandLines.push_back(commandLine);
    if (duringCommand)
        duringCommand();
    if (!launchStartsProcess.empty())
        AddProcess(launchStartsProcess);
    return commandExitStatus;
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
    // A confirmed dialog closes.
    std::erase_if(windows, [this](const ForeignWin& w) { return w.handle == m_front; });
    m_front = 0;
}

}  // namespace fake
