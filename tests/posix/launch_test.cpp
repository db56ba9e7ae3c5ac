// The shell's "open" and the command-interpreter run, against real programs.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "PosixTestSupport.h"
#include "TempDir.h"
#include "backends/posix/PosixSystem.h"
#include "backends/posix/Spawn.h"
#include "base/Unicode.h"

namespace {

using namespace px::posix;
using pxtest::Report;

std::u16string U16(const std::string& utf8) { return px::FromUtf8(utf8); }

std::string CurrentDirectory()
{
    char buf[4096];
    return getcwd(buf, sizeof buf) ? buf : "";
}

class LaunchTest : public ::testing::Test {
protected:
    testsupport::TempDir m_dir;
    PosixSystem m_system;

    // Launches the probe through the shell's "open" with parameters; its report, once written.
    std::optional<Report> OpenProbe(
        const std::u16string* parameters, const std::string& reportName = "report", const std::string& lingerMs = "0")
    {
        const pxtest::ScopedEnv report("PX_PROBE_REPORT", m_dir / reportName);
        const pxtest::ScopedEnv linger("PX_PROBE_LINGER_MS", lingerMs);
        const intptr_t code = m_system.ShellOpen(U16(pxtest::ProbePath()), parameters, nullptr);
        EXPECT_GT(code, 32);
        if (code <= 32)
            return std::nullopt;
        return pxtest::WaitForReport(m_dir / reportName);
    }
};

TEST(SplitArguments, QuotesAndEscapesLikeAShellWithoutExpanding)
{
    using Words = std::vector<std::string>;
    const struct {
        std::string text;
        std::optional<Words> words;
    } cases[] = {
        {"", Words{}},
        {"   \t ", Words{}},
        {"one  two\tthree", Words{"one", "two", "three"}},
        {R"(--name "two words" 'single $HOME *')", Words{"--name", "two words", "single $HOME *"}},
        {R"(four\ five a\"b)", Words{"four five", "a\"b"}},
        {R"("in \"double\" \$x \\ \q")", Words{"in \"double\" $x \\ \\q"}},
        {R"('' "" x)", Words{"", "", "x"}},
        {R"(a"b"'c'd)", Words{"abcd"}},
        // No expansion of any kind: variables, home, globs, substitution and operators stay text.
        {"$HOME ~ * ?.txt $(id) `id` a;b c|d e&f >out",
            Words{"$HOME", "~", "*", "?.txt", "$(id)", "`id`", "a;b", "c|d", "e&f", ">out"}},
        {"\"unclosed", std::nullopt},
        {"'unclosed", std::nullopt},
        {"trailing\\", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitArguments(c.text), c.words) << c.text;
}

TEST_F(LaunchTest, ArgumentsArriveAsTheIntendedArgv)
{
    const std::u16string parameters = uR"(--name "two words" 'it''s' four\ five "$HOME" * ~ $(id) "ünï")";
    const std::optional<Report> report = OpenProbe(&parameters);
    ASSERT_TRUE(report);
    const std::vector<std::string> expected{
        pxtest::ProbePath(), "--name", "two words", "its", "four five", "$HOME", "*", "~", "$(id)", "ünï"};
    EXPECT_EQ(report->at("arg"), expected);

    // No parameters at all, and blank ones, give the program no arguments.
    const std::u16string blank = u"  ";
    for (const std::u16string* none : {static_cast<const std::u16string*>(nullptr), &blank}) {
        const std::optional<Report> bare = OpenProbe(none, none ? "blank" : "none");
        ASSERT_TRUE(bare);
        EXPECT_EQ(bare->at("arg"), std::vector<std::string>{pxtest::ProbePath()});
    }
}

TEST_F(LaunchTest, LaunchedProgramInheritsNoDescriptorAndRunsInItsOwnSession)
{
    // Descriptors like the run log's: an ofstream and a plain open, neither close-on-exec.
    std::ofstream log(m_dir / "log.txt");
    const int plain = open((m_dir / "plain").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(plain, 0);
    ASSERT_EQ(fcntl(plain, F_GETFD) & FD_CLOEXEC, 0);

    const std::optional<Report> report = OpenProbe(nullptr);
    close(plain);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->at("fd"), (std::vector<std::string>{"0", "1", "2"}));
    EXPECT_EQ(report->at("stdin").at(0), "/dev/null");
    EXPECT_NE(std::stoi(report->at("sid").at(0)), getsid(0));
    EXPECT_EQ(report->at("cwd").at(0), CurrentDirectory());
}

TEST_F(LaunchTest, LaunchedProgramOutlivesTheLauncherAndIsNeverItsZombie)
{
    // A launcher process opens a long-running probe and ends.
    const pid_t launcher = fork();
    ASSERT_GE(launcher, 0);
    if (launcher == 0) {
        setenv("PX_PROBE_REPORT", (m_dir / "long").c_str(), 1);
        setenv("PX_PROBE_LINGER_MS", "60000", 1);
        PosixSystem system;
        _exit(system.ShellOpen(U16(pxtest::ProbePath()), nullptr, nullptr) > 32 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(launcher, &status, 0), launcher);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::optional<Report> longReport = pxtest::WaitForReport(m_dir / "long");
    ASSERT_TRUE(longReport);
    const pid_t survivor = std::stoi(longReport->at("pid").at(0));
    const pxtest::KillOnExit cleanup(survivor);
    EXPECT_TRUE(pxtest::IsAlive(survivor));
    EXPECT_NE(pxtest::ParentOf(survivor), launcher);

    // A probe this process launched ends at once: someone else reaps it.
    const std::optional<Report> shortReport = OpenProbe(nullptr, "short");
    ASSERT_TRUE(shortReport);
    const pid_t ended = std::stoi(shortReport->at("pid").at(0));
    EXPECT_NE(std::stoi(shortReport->at("ppid").at(0)), getpid());
    EXPECT_EQ(waitpid(ended, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    EXPECT_NE(pxtest::ParentOf(ended), getpid());
}

TEST_F(LaunchTest, FailuresAreReportedWithTheShellCodes)
{
    pxtest::WriteFile(m_dir / "file", "data");
    pxtest::WriteFile(m_dir / "no-interpreter", "#!/nonexistent/interpreter\n", 0755);
    pxtest::WriteFile(m_dir / "not-a-program", "just text, no #! line\n", 0755);
    pxtest::CopyProbe(m_dir / "good");
    const std::u16string unbalanced = u"--title \"unclosed";

    // Each with the line a failed system call leaves on standard error (none where no call failed).
    const struct {
        std::string file;
        const std::u16string* parameters;
        intptr_t code;
        std::string logged;
    } cases[] = {
        {"", nullptr, kOpenFileNotFound, ""},
        {m_dir / "missing.exe", nullptr, kOpenFileNotFound, "stat " + (m_dir / "missing.exe") + " failed: 2"},
        {m_dir / "missing-dir/app.exe", nullptr, kOpenFileNotFound,
            "stat " + (m_dir / "missing-dir/app.exe") + " failed: 2"},
        {m_dir / "file/app.exe", nullptr, kOpenPathNotFound, "stat " + (m_dir / "file/app.exe") + " failed: 20"},
        {"px-no-such-program-anywhere.exe", nullptr, kOpenFileNotFound, ""},
        // exec fails in the child: reported at once, never as success.
        {m_dir / "no-interpreter", nullptr, kOpenFileNotFound, "execv " + (m_dir / "no-interpreter") + " failed: 2"},
        {m_dir / "not-a-program", nullptr, kOpenBadFormat, "execv " + (m_dir / "not-a-program") + " failed: 8"},
        // An unclosed quote would hand the program other arguments than the ones meant.
        {m_dir / "good", &unbalanced, kOpenBadFormat, ""},
    };
    for (const auto& c : cases) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(m_system.ShellOpen(U16(c.file), c.parameters, nullptr), c.code) << c.file;
        const std::string logged = ::testing::internal::GetCapturedStderr();
        if (c.logged.empty()) {
            EXPECT_EQ(logged, "") << c.file;
        } else {
            const int error = std::stoi(c.logged.substr(c.logged.rfind(' ') + 1));
            EXPECT_EQ(logged, "perennix: " + c.logged + " " + std::strerror(error) + "\n") << c.file;
        }
    }
}

TEST_F(LaunchTest, PermissionDeniedIsCodeFive)
{
    // A program in a folder the user may not enter (as root: a folder of root's, tried as nobody).
    ASSERT_EQ(chmod(m_dir.Path().c_str(), 0755), 0);
    ASSERT_EQ(mkdir((m_dir / "locked").c_str(), 0755), 0);
    pxtest::CopyProbe(m_dir / "locked/app.exe");
    ASSERT_EQ(chmod((m_dir / "locked").c_str(), 0), 0);
    const std::string path = m_dir / "locked/app.exe";
    EXPECT_EQ(pxtest::RunUnprivileged(
                  [&] { return static_cast<long>(PosixSystem().ShellOpen(U16(path), nullptr, nullptr)); }),
        kOpenAccessDenied);
}

TEST_F(LaunchTest, FoundAlongPathWhenTheNameHasNoFolder)
{
    pxtest::CopyProbe(m_dir / "pxpathprobe.exe");
    const pxtest::ScopedEnv path(
        "PATH", m_dir.Path().string() + ":" + (std::getenv("PATH") ? std::getenv("PATH") : ""));
    const pxtest::ScopedEnv report("PX_PROBE_REPORT", m_dir / "report");
    const pxtest::ScopedEnv linger("PX_PROBE_LINGER_MS", "0");
    EXPECT_GT(m_system.ShellOpen(u"pxpathprobe.exe", nullptr, nullptr), 32);
    const std::optional<Report> got = pxtest::WaitForReport(m_dir / "report");
    ASSERT_TRUE(got);
    EXPECT_EQ(got->at("arg"), std::vector<std::string>{"pxpathprobe.exe"});
}

// xdg-open on a desktop of no known kind ("generic"), with its handler lookup confined to
// empty folders and $BROWSER as the only application.
class DocumentTest : public LaunchTest {
protected:
    void SetUp() override
    {
        for (const char* dir : {"data", "config", "data-dirs", "config-dirs"})
            ASSERT_EQ(mkdir((m_dir / dir).c_str(), 0755), 0);
        m_env.emplace_back(std::make_unique<pxtest::ScopedEnv>("XDG_DATA_HOME", m_dir / "data"));
        m_env.emplace_back(std::make_unique<pxtest::ScopedEnv>("XDG_CONFIG_HOME", m_dir / "config"));
        m_env.emplace_back(std::make_unique<pxtest::ScopedEnv>("XDG_DATA_DIRS", m_dir / "data-dirs"));
        m_env.emplace_back(std::make_unique<pxtest::ScopedEnv>("XDG_CONFIG_DIRS", m_dir / "config-dirs"));
        for (const char* name : {"XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                 "GNOME_DESKTOP_SESSION_ID", "MATE_DESKTOP_SESSION_ID", "DISPLAY", "WAYLAND_DISPLAY"})
            m_env.emplace_back(std::make_unique<pxtest::ScopedEnv>(name, std::nullopt));
        pxtest::WriteFile(m_dir / "document.pxdoc", std::string("\x01\x02\x03 opaque", 10));
    }
    void UseBrowser(const std::string& script)
    {
        pxtest::WriteFile(m_dir / "browser", "#!/bin/sh\n" + script, 0755);
        m_env.emplace_back(std::make_unique<pxtest::ScopedEnv>("BROWSER", m_dir / "browser"));
    }
    std::vector<std::unique_ptr<pxtest::ScopedEnv>> m_env;
};

TEST_F(DocumentTest, FileWithoutAnApplicationIsCode31)
{
    UseBrowser("exit 127\n");  // like a browser that is not installed
    EXPECT_EQ(m_system.ShellOpen(U16(m_dir / "document.pxdoc"), nullptr, nullptr), kOpenNoAssociation);
}

TEST_F(DocumentTest, FileIsOpenedWithTheDesktopsApplication)
{
    UseBrowser("echo \"$1\" > '" + (m_dir / "opened") + "'\n");
    EXPECT_GT(m_system.ShellOpen(U16(m_dir / "document.pxdoc"), nullptr, nullptr), 32);
    EXPECT_EQ(pxtest::ReadFile(m_dir / "opened"), m_dir / "document.pxdoc\n");
}

TEST_F(DocumentTest, ApplicationStillRunningAfterTheWaitIsSuccess)
{
    UseBrowser("echo $PPID $$ > '" + (m_dir / "opened.part") + "'\nmv '" + (m_dir / "opened.part") + "' '"
        + (m_dir / "opened") + "'\nexec sleep 60\n");
    EXPECT_GT(m_system.ShellOpen(U16(m_dir / "document.pxdoc"), nullptr, nullptr), 32);
    ASSERT_TRUE(pxtest::WaitUntil([&] { return pxtest::ReadFile(m_dir / "opened").has_value(); }, 10000));
    // xdg-open tries a failed browser again: it goes first, then the browser.
    std::istringstream pids(*pxtest::ReadFile(m_dir / "opened"));
    pid_t opener = 0, browser = 0;
    pids >> opener >> browser;
    ASSERT_GT(opener, 1);
    ASSERT_GT(browser, 1);
    kill(opener, SIGKILL);
    kill(browser, SIGKILL);
}

// Writes a script file with mode; its path.
std::string WriteScript(const std::string& path, const std::string& text, mode_t mode = 0644)
{
    std::ofstream(path) << text << "\n";
    chmod(path.c_str(), mode);
    return path;
}

// A script starts beside the program and is a launch like any other: the call returns while
// the script still runs, and ending the launch ends it.
TEST_F(LaunchTest, AScriptStartsBesideTheProgramAsALaunch)
{
    const std::string started = m_dir / "started";
    // Read, not executed: no execute permission is needed.
    const std::string script = WriteScript(m_dir / "start.sh", "echo $$ > '" + started + "'; sleep 60", 0644);
    std::optional<LaunchedProcess> launched;
    ASSERT_TRUE(m_system.StartScript(U16(script), &launched));
    ASSERT_TRUE(launched);
    ASSERT_TRUE(pxtest::WaitUntil([&] { return pxtest::ReadFile(started).has_value(); }, 10000));
    const pid_t shell = std::stoi(*pxtest::ReadFile(started));
    const pxtest::KillOnExit cleanup(shell);
    EXPECT_TRUE(pxtest::IsAlive(shell)) << "the call returned while the script runs: " << pxtest::ProcessState(shell);
    EXPECT_TRUE(m_system.IsAlive(*launched));
    EXPECT_TRUE(m_system.TerminateLaunched(*launched));
    EXPECT_TRUE(pxtest::WaitUntil([&] { return !m_system.IsAlive(*launched); }, 10000));
    m_system.Release(*launched);
}

// The path is one word: never command text, whatever characters it holds.
TEST_F(LaunchTest, ScriptPathIsAFileNeverShellCode)
{
    const std::string pwned = m_dir / "PWN";
    const std::string ran = m_dir / "ran";
    const auto runs = [&](const std::u16string& path) {
        unlink(ran.c_str());
        return m_system.StartScript(path, nullptr)
            && pxtest::WaitUntil([&] { return pxtest::ReadFile(ran) == "ran\n"; }, 10000);
    };
    for (const std::string name : {"start.sh;touch PWN", "my script.sh", "$(touch PWN).sh", "-x.sh", "a'b\"c.sh"}) {
        const std::string script = WriteScript(m_dir / name, "echo ran > '" + ran + "'");
        EXPECT_TRUE(runs(U16(script))) << name;
    }
    const std::string previous = CurrentDirectory();
    ASSERT_EQ(chdir(m_dir.Path().c_str()), 0);
    const bool relative = runs(u"-x.sh");  // a name that looks like an option
    ASSERT_EQ(chdir(previous.c_str()), 0);
    EXPECT_TRUE(relative);
    EXPECT_FALSE(std::filesystem::exists(pwned));
}

TEST_F(LaunchTest, AFileTheInterpreterCannotReadIsNotRun)
{
    const std::string unreadable = WriteScript(m_dir / "secret.sh", "exit 0", 0);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(m_system.StartScript(U16(m_dir / "missing.sh"), nullptr));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
        "perennix: open " + (m_dir / "missing.sh") + " failed: 2 " + std::strerror(ENOENT) + "\n");
    EXPECT_FALSE(m_system.StartScript(U16(m_dir.Path().string()), nullptr));  // a folder
    EXPECT_FALSE(m_system.StartScript(u"", nullptr));
    if (geteuid() == 0)
        EXPECT_EQ(
            pxtest::RunUnprivileged([&] { return PosixSystem().StartScript(U16(unreadable), nullptr) ? 1L : 0L; }), 0L);
    else
        EXPECT_FALSE(m_system.StartScript(U16(unreadable), nullptr));
}

TEST_F(LaunchTest, ScriptStartsWhenChildrenAreReapedElsewhere)
{
    struct sigaction ignore { };
    ignore.sa_handler = SIG_IGN;
    struct sigaction previous { };
    ASSERT_EQ(sigaction(SIGCHLD, &ignore, &previous), 0);
    const std::string marker = m_dir / "marker";
    const std::string script = WriteScript(m_dir / "start.sh", "echo done > '" + marker + "'");
    const bool started = m_system.StartScript(U16(script), nullptr);
    const intptr_t opened = m_system.ShellOpen(u"/bin/true", nullptr, nullptr);
    sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_TRUE(started);
    EXPECT_TRUE(pxtest::WaitUntil([&] { return pxtest::ReadFile(marker) == "done\n"; }, 10000));
    EXPECT_GT(opened, 32);
}

// A launch knows when it began, to tell its session from a later one of the same number,
// also when the system reaps this process's children the moment they end: the launch's
// first process ends at once and may be gone before anything could look at it.
TEST_F(LaunchTest, ALaunchKnowsWhenItBeganAlsoWhenChildrenAreReapedElsewhere)
{
    const std::optional<uint64_t> testStart = ProcessStartTime("/proc", static_cast<uint32_t>(getpid()));
    ASSERT_TRUE(testStart);
    const std::string script = WriteScript(m_dir / "quick.sh", "exit 0");
    struct sigaction ignore { };
    ignore.sa_handler = SIG_IGN;
    struct sigaction previous { };
    ASSERT_EQ(sigaction(SIGCHLD, &ignore, &previous), 0);
    std::vector<uint64_t> stamps;
    for (int round = 0; round < 300; ++round) {
        std::optional<LaunchedProcess> launched;
        const bool started = round % 3 == 2 ? m_system.StartScript(U16(script), &launched)
                                            : m_system.ShellOpen(u"/bin/true", nullptr, &launched) > 32;
        stamps.push_back(started && launched ? launched->stamp : 0);
        if (launched)
            m_system.Release(*launched);
    }
    sigaction(SIGCHLD, &previous, nullptr);
    // A process started after the last launch bounds them from above.
    const pid_t later = fork();
    ASSERT_GE(later, 0);
    if (later == 0) {
        pause();
        _exit(0);
    }
    const std::optional<uint64_t> laterStart = ProcessStartTime("/proc", static_cast<uint32_t>(later));
    kill(later, SIGKILL);
    waitpid(later, nullptr, 0);
    ASSERT_TRUE(laterStart);
    for (size_t i = 0; i < stamps.size(); ++i) {
        EXPECT_GE(stamps[i], *testStart) << "launch " << i;
        EXPECT_LE(stamps[i], *laterStart) << "launch " << i;
    }
}

TEST_F(LaunchTest, WhatAScriptStartsInheritsNoDescriptorOfOurs)
{
    std::ofstream log(m_dir / "log.txt");
    const std::string script = WriteScript(
        m_dir / "start.sh", "PX_PROBE_REPORT='" + (m_dir / "report") + "' '" + pxtest::ProbePath() + "' &");
    EXPECT_TRUE(m_system.StartScript(U16(script), nullptr));
    const std::optional<Report> report = pxtest::WaitForReport(m_dir / "report");
    ASSERT_TRUE(report);
    const pid_t background = std::stoi(report->at("pid").at(0));
    const pxtest::KillOnExit cleanup(background);
    EXPECT_TRUE(pxtest::IsAlive(background));
    EXPECT_EQ(report->at("fd"), (std::vector<std::string>{"0", "1", "2"}));
}

// The shell open names the process it started, as long as that one lives.
// The probe's pid from its report, once it has written one.
pid_t ReportedPid(const std::string& report)
{
    const std::optional<Report> read = pxtest::WaitForReport(report);
    return read ? static_cast<pid_t>(std::stoi(read->at("pid").at(0))) : -1;
}

// A launch is known while any of its processes lives, also after its launcher returned, and
// ending it ends all of them, launcher included.
TEST_F(LaunchTest, ALaunchIsEveryProcessItStartedUntilTheLastEnds)
{
    const std::string probe = "'" + pxtest::ProbePath() + "'";
    const struct {
        const char* name;
        std::string launcher;  // "": the probe itself
        bool launcherReturns;
    } cases[] = {
        {"the program itself", "", false},
        {"a launcher that backgrounds it and returns",
            "#!/bin/sh\necho $$ > '" + (m_dir / "launcher.pid") + "'\nnohup " + probe + " >/dev/null 2>&1 &\nexit 0",
            true},
        {"a launcher that waits for it without exec", "#!/bin/sh\n" + probe + "\necho done", false},
        {"a launcher whose program leaves the session", "#!/bin/sh\nsetsid " + probe + " &\nwait", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string report = m_dir / "report";
        unlink(report.c_str());
        const pxtest::ScopedEnv reportTo("PX_PROBE_REPORT", report);
        const pxtest::ScopedEnv linger("PX_PROBE_LINGER_MS", "60000");
        const std::string path
            = c.launcher.empty() ? pxtest::ProbePath() : WriteScript(m_dir / "launcher", c.launcher, 0755);
        std::optional<LaunchedProcess> launched;
        ASSERT_GT(m_system.ShellOpen(U16(path), nullptr, &launched), 32);
        const pid_t pid = ReportedPid(report);
        ASSERT_GT(pid, 1);
        const pxtest::KillOnExit cleanup(pid);
        ASSERT_TRUE(launched);
        if (c.launcherReturns) {
            const std::optional<std::string> launcherPid = pxtest::ReadFile(m_dir / "launcher.pid");
            ASSERT_TRUE(launcherPid);
            ASSERT_TRUE(pxtest::WaitUntil([&] { return !pxtest::IsAlive(std::stoi(*launcherPid)); }, 10000));
        }
        EXPECT_TRUE(m_system.IsAlive(*launched));
        // Another launch (a session that is not there) is not this one.
        EXPECT_FALSE(m_system.IsAlive(LaunchedProcess{launched->id + 100000, launched->stamp}));

        EXPECT_TRUE(m_system.TerminateLaunched(*launched));
        EXPECT_TRUE(pxtest::WaitUntil([&] { return !pxtest::IsAlive(pid); }, 10000));
        EXPECT_TRUE(pxtest::WaitUntil([&] { return !m_system.IsAlive(*launched); }, 10000));
        EXPECT_FALSE(m_system.TerminateLaunched(*launched));
        m_system.Release(*launched);
    }
}

// Run by the program, which adopts what its launches leave: a daemon whose launcher returned
// after it left the launch's session is still the launch's, and this process reaps it.
TEST_F(LaunchTest, AnAdoptingProgramKeepsTheDaemonsOfItsLaunches)
{
    const std::string report = m_dir / "report";
    const std::string launcher = WriteScript(
        m_dir / "launcher", "#!/bin/sh\nsetsid '" + pxtest::ProbePath() + "' >/dev/null 2>&1 &\nexit 0", 0755);
    const pxtest::ScopedEnv reportTo("PX_PROBE_REPORT", report);
    const pxtest::ScopedEnv linger("PX_PROBE_LINGER_MS", "60000");
    constexpr long kAdopted = 1, kAlive = 2, kEnded = 4, kReaped = 8, kGone = 16;
    // In a process of its own: a subreaper stays one for the rest of its life.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        PosixSystem system;
        long result = 0;
        std::optional<LaunchedProcess> launched;
        if (system.AdoptLaunchedOrphans() && system.ShellOpen(U16(launcher), nullptr, &launched) > 32 && launched) {
            const pid_t pid = ReportedPid(report);
            const pxtest::KillOnExit cleanup(pid);
            if (pid > 1 && pxtest::WaitUntil([&] { return pxtest::ParentOf(pid) == getpid(); }, 10000))
                result |= kAdopted;
            result |= system.IsAlive(*launched) ? kAlive : 0;
            result |= system.TerminateLaunched(*launched) ? kEnded : 0;
            // Its parent is this process: only this process's looks can reap it.
            if (pxtest::WaitUntil(
                    [&] { return !system.IsAlive(*launched) && pxtest::ProcessState(pid) == '\0'; }, 10000))
                result |= kReaped;
            result |= system.IsAlive(*launched) ? 0 : kGone;
        }
        _exit(static_cast<int>(result));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kAdopted | kAlive | kEnded | kReaped | kGone);
}

TEST(ScriptFile, OnlyTheInterpreterRunsAScriptThatIsNoProgram)
{
    testsupport::TempDir dir;
    const struct {
        const char* name;
        const char* text;
        mode_t mode;
        bool script;
    } cases[] = {
        {"run.sh", "echo hello", 0644, true},
        {"start", "#!/bin/sh\necho hello", 0644, true},
        {"start-exec", "#!/bin/sh\necho hello", 0755, false},  // a program: the system runs it
        {"tool.sh", "echo hello", 0755, false},
        {"notes.txt", "#not a script", 0644, false},
        {"report.pdf", "%PDF-1.4", 0644, false},
        {"empty", "", 0644, false},
    };
    PosixSystem system;
    for (const auto& c : cases) {
        const std::string path = dir / c.name;
        std::ofstream(path) << c.text;
        chmod(path.c_str(), c.mode);
        EXPECT_EQ(system.IsScriptFile(U16(path)), c.script) << c.name;
    }
    mkdir((dir / "folder.sh").c_str(), 0755);
    EXPECT_FALSE(system.IsScriptFile(U16(dir / "folder.sh")));
    EXPECT_FALSE(system.IsScriptFile(U16(dir / "missing.sh")));
    EXPECT_FALSE(system.IsScriptFile(u""));
}

}  // namespace
