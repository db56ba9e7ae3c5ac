#include "backends/posix/PosixSystem.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "backends/posix/Autostart.h"
#include "backends/posix/OsFailure.h"
#include "backends/posix/PosixHandles.h"
#include "backends/posix/ProcFs.h"
#include "backends/posix/Spawn.h"
#include "base/Unicode.h"

bool PosixSystem::AdoptLaunchedOrphans()
{
    m_adopting = prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0;
    if (!m_adopting)
        px::posix::LogOsFailure("prctl(PR_SET_CHILD_SUBREAPER)", "", errno);
    return m_adopting;
}

void PosixSystem::ReapAdopted()
{
    // How a launch's first process or a command ended is kept until asked for; everything
    // else adopted is only reaped.
    const auto keep = [this](pid_t pid, int status) {
        const bool isCommand = m_commands.erase(pid) > 0;
        const bool isLaunch = std::any_of(
            m_launches.begin(), m_launches.end(), [pid](const auto& launch) { return launch.second.first == pid; });
        if (isCommand || isLaunch)
            m_ended[pid] = status;
    };
    int status = 0;
    if (m_adopting) {
        pid_t pid;
        while ((pid = waitpid(-1, &status, WNOHANG)) > 0)
            keep(pid, status);
        return;
    }
    // Commands are this process's own children also when it adopts nothing.
    for (const pid_t pid : std::vector<pid_t>(m_commands.begin(), m_commands.end()))
        if (waitpid(pid, &status, WNOHANG) == pid)
            keep(pid, status);
}

namespace {

ProcessExit ExitOfStatus(int status)
{
    ProcessExit exit;
    if (WIFSIGNALED(status)) {
        exit.bySignal = true;
        exit.code = WTERMSIG(status);
        if (const char* name = sigabbrev_np(WTERMSIG(status)))
            exit.signalName = px::FromUtf8(std::string("SIG") + name);
    } else {
        exit.code = WEXITSTATUS(status);
    }
    return exit;
}

}  // namespace

std::optional<ProcessExit> PosixSystem::ExitOf(const LaunchedProcess& process)
{
    const auto launch = m_launches.find(process.id);
    if (launch == m_launches.end() || launch->second.first <= 0)
        return std::nullopt;
    ReapAdopted();
    const auto ended = m_ended.find(launch->second.first);
    if (ended == m_ended.end())
        return std::nullopt;
    return ExitOfStatus(ended->second);
}

std::optional<uint64_t> PosixSystem::RunCommand(
    const std::u16string& program, const std::vector<EnvironmentVariable>& environment)
{
    std::vector<std::string> variables;
    std::set<std::string> given;
    for (const EnvironmentVariable& variable : environment) {
        given.insert(px::ToUtf8(variable.name));
        variables.push_back(px::ToUtf8(variable.name) + "=" + px::ToUtf8(variable.value));
    }
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view text = *entry;
        if (!given.count(std::string(text.substr(0, text.find('=')))))
            variables.emplace_back(text);
    }
    const pid_t child = px::posix::SpawnCommand(px::ToUtf8(program), variables);
    if (child <= 0)
        return std::nullopt;
    m_commands.insert(child);
    return static_cast<uint64_t>(child);
}

std::optional<ProcessExit> PosixSystem::CommandExit(uint64_t id)
{
    ReapAdopted();
    const auto ended = m_ended.find(static_cast<pid_t>(id));
    if (ended == m_ended.end())
        return std::nullopt;
    const ProcessExit exit = ExitOfStatus(ended->second);
    m_ended.erase(ended);
    return exit;
}

bool PosixSystem::EnumerateProcesses(ProcessDetail detail, const std::function<bool(const ProcessEntry&)>& visit)
{
    // An adopted program that ended is a zombie until reaped: never counted, but it would pile up.
    ReapAdopted();
    // The quick scan starts where the last one stopped: the guarded program, found there on
    // one check, is most likely still there on the next.
    return px::posix::ScanProcesses(
        "/proc", detail, visit, detail == ProcessDetail::Quick ? &m_lastQuickStop : nullptr);
}

std::optional<std::u16string> PosixSystem::CommandLineOf(uint32_t pid, uint64_t startStamp)
{
    const std::optional<std::string> text = px::posix::ReadCommandLine("/proc", pid, startStamp);
    if (!text)
        return std::nullopt;
    return px::FromUtf8(*text);
}

bool PosixSystem::TerminateProcess(uint32_t pid, uint64_t startStamp)
{
    return SignalProcess(pid, startStamp, SIGKILL);
}

bool PosixSystem::AskToClose(uint32_t pid, uint64_t startStamp) { return SignalProcess(pid, startStamp, SIGTERM); }

uint64_t PosixSystem::StartConnect(const std::u16string& host, uint16_t port)
{
    return m_connects.Start(px::ToUtf8(host), port);
}

std::optional<int64_t> PosixSystem::FileAgeMs(const std::u16string& path)
{
    struct stat info { };
    timespec now{};
    if (stat(px::ToUtf8(path).c_str(), &info) != 0 || clock_gettime(CLOCK_REALTIME, &now) != 0)
        return std::nullopt;
    const int64_t modifiedMs = int64_t{info.st_mtim.tv_sec} * 1000 + info.st_mtim.tv_nsec / 1000000;
    return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000 - modifiedMs;
}

void PosixSystem::AskWindows(const std::vector<uint32_t>& pids) { m_desktop.PingWindows(pids); }

WindowAnswer PosixSystem::WindowsAnswered() { return m_desktop.PingAnswers(); }

bool PosixSystem::SignalProcess(uint32_t pid, uint64_t startStamp, int signal)
{
    // kill() reads 0 as "my process group" and negative numbers as groups or "everyone".
    if (pid == 0 || pid > static_cast<uint32_t>(INT_MAX) || static_cast<pid_t>(pid) == getpid())
        return false;
    // A process descriptor names one process for good: once it is open, a start time read
    // from the pid that matches proves the descriptor is the listed process, not another that
    // got its pid since the list was taken.
    const px::posix::UniqueFd process(static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0)));
    if (!process.Valid()) {
        // A process that ended since the list was taken is no failure.
        if (errno != ESRCH)
            px::posix::LogOsFailure("pidfd_open", std::to_string(pid), errno);
        return false;
    }
    if (startStamp != 0 && px::posix::ProcessStartTime("/proc", pid) != startStamp)
        return false;
    if (syscall(SYS_pidfd_send_signal, process.Get(), signal, nullptr, 0) == 0)
        return true;
    if (errno != ESRCH)
        px::posix::LogOsFailure("pidfd_send_signal", std::to_string(pid), errno);
    return false;
}

intptr_t PosixSystem::ShellOpen(
    const std::u16string& file, const std::u16string* parameters, std::optional<LaunchedProcess>* launched)
{
    const std::string path = px::ToUtf8(file);
    const std::string words = parameters ? px::ToUtf8(*parameters) : std::string();
    px::posix::LaunchSession session;
    pid_t first = 0;
    const intptr_t code = px::posix::ShellOpenFile(path, parameters ? &words : nullptr, &first, &session);
    if (code > 32)
        Remember(launched, session, first);
    return code;
}

void PosixSystem::Remember(
    std::optional<LaunchedProcess>* launched, const px::posix::LaunchSession& session, pid_t first)
{
    if (!launched || session.session <= 0)
        return;
    *launched = LaunchedProcess{static_cast<uint64_t>(session.session), session.since};
    m_launches.erase(static_cast<uint64_t>(session.session));
    RecordOf(**launched).first = first;
}

PosixSystem::LaunchRecord& PosixSystem::RecordOf(const LaunchedProcess& process)
{
    auto [it, added] = m_launches.try_emplace(process.id);
    if (added) {
        px::posix::LaunchScope& scope = it->second.scope;
        scope.session = static_cast<uint32_t>(process.id);
        scope.since = process.stamp;
        if (m_adopting) {
            scope.adopter = static_cast<uint32_t>(getpid());
            scope.adopterSession = static_cast<uint32_t>(getsid(0));
        }
    }
    return it->second;
}

bool PosixSystem::IsAlive(const LaunchedProcess& process)
{
    if (process.id == 0 || process.id > static_cast<uint64_t>(INT_MAX))
        return false;
    ReapAdopted();
    LaunchRecord& record = RecordOf(process);
    return !px::posix::LaunchMembers("/proc", record.scope, &record.known).empty();
}

bool PosixSystem::TerminateLaunched(const LaunchedProcess& process)
{
    if (process.id == 0 || process.id > static_cast<uint64_t>(INT_MAX))
        return false;
    LaunchRecord& record = RecordOf(process);
    bool any = false;
    // A launcher may start another process while its members are being ended: look again
    // until none is left (a few rounds; SIGKILL cannot be caught).
    for (int round = 0; round < 4; ++round) {
        ReapAdopted();
        const std::vector<uint32_t> members = px::posix::LaunchMembers("/proc", record.scope, &record.known);
        if (members.empty())
            break;
        for (uint32_t pid : members)
            any = TerminateProcess(pid, 0) || any;
    }
    return any;
}

bool PosixSystem::IsExecutableProgram(const std::u16string& path)
{
    return px::posix::IsExecutableFile(px::ToUtf8(path));
}

bool PosixSystem::IsScriptFile(const std::u16string& path)
{
    const std::string file = px::ToUtf8(path);
    if (file.empty() || px::posix::IsExecutableFile(file))
        return false;
    const px::posix::UniqueFd fd(open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat info { };
    if (!fd.Valid() || fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    if (file.ends_with(".sh"))
        return true;
    char head[2] = {};
    return read(fd.Get(), head, 2) == 2 && head[0] == '#' && head[1] == '!';
}

bool PosixSystem::StartScript(const std::u16string& path, std::optional<LaunchedProcess>* launched)
{
    px::posix::LaunchSession session;
    pid_t first = 0;
    const bool started = px::posix::StartScriptFile(px::ToUtf8(path), &session, &first);
    if (started)
        Remember(launched, session, first);
    return started;
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
    // The zone is looked up again at every reading: localtime_r alone keeps the zone it first
    // read for the life of the process, and a change of TZ or of /etc/localtime (timedatectl
    // set-timezone, a laptop that travels) would go unseen until a restart. It costs a stat of
    // /etc/localtime per reading, about 2 µs (bench/local_time_bench.cpp), at one reading per
    // check at most.
    tzset();
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

void PosixSystem::Release(const LaunchedProcess& process)
{
    const auto launch = m_launches.find(process.id);
    if (launch == m_launches.end())
        return;
    m_ended.erase(launch->second.first);
    m_launches.erase(launch);
}

std::optional<bool> PosixSystem::IsStartAtLogin()
{
    const std::u16string executable = GetModuleFileName();
    if (executable.empty())
        return std::nullopt;
    return px::posix::IsAutostartEnabled(px::ToUtf8(executable));
}

bool PosixSystem::SetStartAtLogin(bool enable)
{
    const std::u16string executable = GetModuleFileName();
    return !executable.empty() && px::posix::SetAutostart(px::ToUtf8(executable), enable);
}
