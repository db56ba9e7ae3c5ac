#include "backends/posix/PosixSystem.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <string>
#include <string_view>

#include <signal.h>
#include <unistd.h>

#include "backends/posix/OsFailure.h"
#include "backends/posix/ProcFs.h"
#include "backends/posix/Spawn.h"
#include "base/Unicode.h"

bool PosixSystem::EnumerateProcesses(ProcessDetail detail, const std::function<bool(const ProcessEntry&)>& visit)
{
    // The quick scan starts where the last one stopped: the guarded program, found there on
    // one check, is most likely still there on the next.
    return px::posix::ScanProcesses(
        "/proc", detail, visit, detail == ProcessDetail::Quick ? &m_lastQuickStop : nullptr);
}

bool PosixSystem::TerminateProcess(uint32_t pid)
{
    // kill() reads 0 as "my process group" and negative numbers as groups or "everyone".
    if (pid == 0 || pid > static_cast<uint32_t>(INT_MAX) || static_cast<pid_t>(pid) == getpid())
        return false;
    if (kill(static_cast<pid_t>(pid), SIGKILL) == 0)
        return true;
    // A process that ended since the list was taken is no failure.
    if (errno != ESRCH)
        px::posix::LogOsFailure("kill", std::to_string(pid), errno);
    return false;
}

intptr_t PosixSystem::ShellOpen(
    const std::u16string& file, const std::u16string* parameters, std::optional<LaunchedProcess>* launched)
{
    const std::string path = px::ToUtf8(file);
    const std::string words = parameters ? px::ToUtf8(*parameters) : std::string();
    pid_t started = 0;
    const intptr_t code = px::posix::ShellOpenFile(path, parameters ? &words : nullptr, &started);
    if (launched && code > 32 && started > 0) {
        if (const std::optional<uint64_t> since = px::posix::ProcessStartTime("/proc", static_cast<uint32_t>(started)))
            *launched = LaunchedProcess{static_cast<uint64_t>(started), *since};
    }
    return code;
}

bool PosixSystem::IsAlive(const LaunchedProcess& process)
{
    if (process.id == 0 || process.id > static_cast<uint64_t>(INT_MAX))
        return false;
    return px::posix::ProcessStartTime("/proc", static_cast<uint32_t>(process.id)) == process.stamp;
}

bool PosixSystem::IsExecutableProgram(const std::u16string& path)
{
    return px::posix::IsExecutableFile(px::ToUtf8(path));
}

std::optional<int> PosixSystem::RunScript(const std::u16string& path)
{
    return px::posix::RunScriptFile(px::ToUtf8(path));
}

std::vector<TopWindow> PosixSystem::FindTopWindows(const std::u16string& title)
{
    return m_desktop.FindTopWindows(title);
}

bool PosixSystem::BringToFront(ForeignWindow window) { return m_desktop.BringToFront(window); }

void PosixSystem::PressSpaceKey() { m_desktop.PressSpaceKey(); }

SystemTime PosixSystem::GetLocalTime()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    const time_t seconds = now.tv_sec;
    localtime_r(&seconds, &local);
    SystemTime st;
    st.wYear = static_cast<uint16_t>(local.tm_year + 1900);
    st.wMonth = static_cast<uint16_t>(local.tm_mon + 1);
    st.wDayOfWeek = static_cast<uint16_t>(local.tm_wday);
    st.wDay = static_cast<uint16_t>(local.tm_mday);
    st.wHour = static_cast<uint16_t>(local.tm_hour);
    st.wMinute = static_cast<uint16_t>(local.tm_min);
    st.wSecond = static_cast<uint16_t>(local.tm_sec > 59 ? 59 : local.tm_sec);
    st.wMilliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000);
    return st;
}

// CLOCK_BOOTTIME counts the time suspended; CLOCK_MONOTONIC (the steady clock) stops then.
int64_t PosixSystem::GetSteadyMs()
{
    timespec now{};
    if (clock_gettime(CLOCK_BOOTTIME, &now) != 0)
        return System::GetSteadyMs();
    return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

std::u16string PosixSystem::GetModuleFileName()
{
    std::string path(PATH_MAX, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0)
        px::posix::LogOsFailure("readlink", "/proc/self/exe", errno);
    if (n <= 0)
        return {};
    path.resize(static_cast<size_t>(n));
    // A program file replaced while running (an update) still names its old place.
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.ends_with(kDeleted))
        path.resize(path.size() - kDeleted.size());
    return px::FromUtf8(path);
}
