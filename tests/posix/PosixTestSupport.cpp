#include "PosixTestSupport.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pxtest {

namespace {

void SleepMs(int ms)
{
    timespec pause{0, static_cast<long>(ms) * 1000000L};
    nanosleep(&pause, nullptr);
}

}  // namespace

ChildProcess::ChildProcess(const std::string& path, const std::vector<std::string>& argv,
    const std::vector<std::pair<std::string, std::string>>& environment)
{
    std::vector<std::string> args = argv;
    std::vector<char*> argvPtrs;
    for (std::string& a : args)
        argvPtrs.push_back(a.data());
    argvPtrs.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return;
    m_pid = fork();
    if (m_pid == 0) {
        for (const auto& [name, value] : environment)
            setenv(name.c_str(), value.c_str(), 1);
        execv(path.c_str(), argvPtrs.data());
        const int error = errno;
        (void)!write(fds[1], &error, sizeof error);
        _exit(127);
    }
    close(fds[1]);
    if (m_pid > 0) {
        int error = 0;
        ssize_t n;
        do {
            n = read(fds[0], &error, sizeof error);
        } while (n < 0 && errno == EINTR);
        if (n == sizeof error)
            m_execError = error;
    }
    close(fds[0]);
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0 && !m_reaped) {
        kill(m_pid, SIGKILL);
        while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) { }
    }
}

std::optional<int> ChildProcess::WaitForExit(int timeoutMs)
{
    if (m_pid <= 0 || m_reaped)
        return std::nullopt;
    int status = 0;
    const bool ended = WaitUntil([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, timeoutMs);
    if (!ended)
        return std::nullopt;
    m_reaped = true;
    return status;
}

std::string ProbePath() { return PX_PROBE_PATH; }

void CopyProbe(const std::string& path)
{
    std::filesystem::copy_file(ProbePath(), path, std::filesystem::copy_options::overwrite_existing);
    chmod(path.c_str(), 0755);
}

void WriteFile(const std::string& path, const std::string& bytes, unsigned mode)
{
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    chmod(path.c_str(), mode);
}

std::optional<std::string> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<Report> WaitForReport(const std::string& path, int timeoutMs)
{
    if (!WaitUntil([&] { return access(path.c_str(), F_OK) == 0; }, timeoutMs))
        return std::nullopt;
    const std::optional<std::string> text = ReadFile(path);
    if (!text)
        return std::nullopt;
    Report report;
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t space = line.find(' ');
        if (space != std::string::npos)
            report[line.substr(0, space)].push_back(line.substr(space + 1));
    }
    return report;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    constexpr int kStepMs = 10;
    for (int waited = 0;; waited += kStepMs) {
        if (condition())
            return true;
        if (waited >= timeoutMs)
            return false;
        SleepMs(kStepMs);
    }
}

namespace {

std::optional<std::string> StatAfterName(pid_t pid)
{
    const std::optional<std::string> stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    if (!stat)
        return std::nullopt;
    const size_t close = stat->rfind(')');
    if (close == std::string::npos || close + 2 >= stat->size())
        return std::nullopt;
    return stat->substr(close + 2);
}

}  // namespace

char ProcessState(pid_t pid)
{
    const std::optional<std::string> rest = StatAfterName(pid);
    return rest ? (*rest)[0] : '\0';
}

pid_t ParentOf(pid_t pid)
{
    const std::optional<std::string> rest = StatAfterName(pid);
    if (!rest)
        return -1;
    std::istringstream fields(*rest);
    char state = 0;
    pid_t parent = -1;
    fields >> state >> parent;
    return parent;
}

long RunUnprivileged(const std::function<long()>& action)
{
    if (geteuid() != 0)
        return action();
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        constexpr uid_t kNobody = 65534;
        long result = -1;
        if (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0)
            result = action();
        (void)!write(fds[1], &result, sizeof result);
        _exit(0);
    }
    close(fds[1]);
    long result = -1;
    if (child > 0) {
        if (read(fds[0], &result, sizeof result) != static_cast<ssize_t>(sizeof result))
            result = -1;
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) { }
    }
    close(fds[0]);
    return result;
}

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value)
    : m_name(std::move(name))
{
    if (const char* old = std::getenv(m_name.c_str()))
        m_old = old;
    if (value)
        setenv(m_name.c_str(), value->c_str(), 1);
    else
        unsetenv(m_name.c_str());
}

ScopedEnv::~ScopedEnv()
{
    if (m_old)
        setenv(m_name.c_str(), m_old->c_str(), 1);
    else
        unsetenv(m_name.c_str());
}

PrivateDesktop::PrivateDesktop(WindowManager windowManager)
{
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0)
        return;
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        return;
    }
    m_pid = fork();
    if (m_pid == 0) {
        // The command names the display, then holds the desktop open until its input closes.
        dup2(input[0], STDIN_FILENO);
        dup2(output[1], STDOUT_FILENO);
        setenv("WITH_X_NO_TRAY", "1", 1);
        setenv("WITH_X_NO_WM", windowManager == WindowManager::Absent ? "1" : "0", 1);
        execl(PX_WITH_X, PX_WITH_X, "/bin/sh", "-c", "echo \"$DISPLAY\"; exec cat >/dev/null", nullptr);
        _exit(127);
    }
    close(input[0]);
    close(output[1]);
    m_keepAlive = input[1];
    // with-x gives up by itself, loudly, when a part of the desktop does not come up.
    std::string line;
    char c = 0;
    ssize_t n;
    while ((n = read(output[0], &c, 1)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0 && c == '\n')
            break;
        if (n > 0)
            line += c;
    }
    close(output[0]);
    if (m_pid > 0 && line.starts_with(':')) {
        m_name = line;
        m_display.emplace("DISPLAY", m_name);
    }
}

PrivateDesktop::~PrivateDesktop()
{
    m_display.reset();
    if (m_keepAlive >= 0)
        close(m_keepAlive);
    if (m_pid > 0)
        while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) { }
}

KillOnExit::~KillOnExit()
{
    if (m_pid > 0)
        kill(m_pid, SIGKILL);
}

}  // namespace pxtest
