// The guard cycle, the daily restart and the start and stop of guarding, run on the scripted
// host with virtual time.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <vector>

#include "GuardTexts.h"
#include "PlatformPath.h"
#include "ProgramFixture.h"
#include "TestGbk.h"
#include "guard/StartStop.h"
#include "settings/Scramble.h"

using namespace fake;

namespace {

const std::vector<int> kLockedControls
    = {IDC_FULLPATH, IDC_EXENAME, IDC_LOOPSEC, IDC_TIMEDCLOSE, IDC_REBTIME, IDC_ARGS, IDC_ARGSCRYPT};

// The run log's entries after the banner: (time of the entry, message decoded from GBK).
std::vector<std::pair<std::string, std::string>> LogEntries(const std::string& log)
{
    std::vector<std::pair<std::string, std::string>> entries;
    size_t start = log.find("\r\n");
    while (start != std::string::npos && start + 2 < log.size()) {
        start += 2;
        const size_t end = log.find("\r\n", start);
        const std::string line = log.substr(start, end - start);
        if (line.size() < 23) {
            ADD_FAILURE() << "log line without a timestamp: " << line;
            break;
        }
        entries.emplace_back(line.substr(0, 23), testsupport::GbkToUtf8(line.substr(23)));
        start = end;
    }
    return entries;
}

// The entries as "date time message".
std::vector<std::string> TimedMessages(const std::string& log)
{
    std::vector<std::string> lines;
    for (const auto& [time, message] : LogEntries(log))
        lines.push_back(time + " " + message);
    return lines;
}

std::vector<std::string> Messages(const std::string& log)
{
    std::vector<std::string> m;
    for (const auto& e : LogEntries(log))
        m.push_back(e.second);
    return m;
}

// The watchdog's own record of what it did (starts, stops, launches, confirmed dialogs).
bool IsActivityEntry(const std::string& message)
{
    for (const char* head : {"->开始守护", "->停止守护", "->程序未运行", "->打开程序失败", "->已确认网关"})
        if (message.rfind(head, 0) == 0)
            return true;
    return false;
}

// The entries of initialisation and the restart schedule, without the activity record.
std::vector<std::pair<std::string, std::string>> ScheduleEntries(const std::string& log)
{
    std::vector<std::pair<std::string, std::string>> entries = LogEntries(log);
    std::erase_if(entries, [](const auto& e) { return IsActivityEntry(e.second); });
    return entries;
}

std::vector<std::string> ScheduleMessages(const std::string& log)
{
    std::vector<std::string> m;
    for (const auto& e : ScheduleEntries(log))
        m.push_back(e.second);
    return m;
}

class GuardTest : public ProgramTest {
protected:
    void Start(FakeWindow& w)
    {
        host.boxAnswers.push_back({IDOK});
        w.Click(IDC_START);
    }
    // Settings with daily restart on at the given times.
    std::string RestartIni(const std::string& times)
    {
        return GuardedIni(MakeProgram("guarded.exe"), "ISTIMEDCLOSE=1\r\nREB_TIME=" + times + "\r\n");
    }
};

TEST_F(GuardTest, StartConfirmsSavesLocksAndChecksAtOnce)
{
    const std::u16string program = MakeProgram("guarded.exe");
    WriteIni(GuardedIni(program, "ARGS=--port 4001\r\n"));
    system.launchStartsProcess = u"guarded.exe";
    Run([&](FakeWindow& w) {
        Start(w);
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].text, u"确定开始启用守护？");
        EXPECT_EQ(host.boxes[0].caption, u"提示");
        EXPECT_EQ(host.boxes[0].type, MB_OKCANCEL);
        EXPECT_TRUE(MainDialog(w).IsGuarding());
        EXPECT_EQ(w.Text(IDC_START), u"停止");
        // The start's own text, then the first check's, which the posted tick ran at once.
        const auto& status = w.Item(IDC_STATUS).history;
        ASSERT_GE(status.size(), 2u);
        EXPECT_EQ(status[status.size() - 2], u"正在启用。。。");
        EXPECT_EQ(status.back(), kLaunching);
        ASSERT_EQ(system.shellLaunches.size(), 1u);
        EXPECT_EQ(system.shellLaunches[0].file, program);
        EXPECT_EQ(system.shellLaunches[0].parameters, u"--port 4001");
        EXPECT_TRUE(w.HasTimer(TIMER_LOOP));
        EXPECT_TRUE(w.HasTimer(TIMER_LAUNCHED));
        EXPECT_EQ(w.timers.at(TIMER_LOOP).intervalMs, 60000u);
        for (int id : kLockedControls)
            EXPECT_FALSE(w.Enabled(id)) << id;
        for (int id : {IDC_START, IDC_AUTOSTART, IDC_SAVE, IDC_HIDE, IDCANCEL})
            EXPECT_TRUE(w.Enabled(id)) << id;
        // The settings were saved by the start.
        EXPECT_NE(Ini().find("REB_TIME=00:00"), std::string::npos);

        // The follow-up check 3 s later finds the program and ends the one-shot.
        host.AdvanceBy(3 * kSecond);
        EXPECT_EQ(w.Text(IDC_STATUS), kRunning);
        EXPECT_FALSE(w.HasTimer(TIMER_LAUNCHED));
        EXPECT_EQ(system.shellLaunches.size(), 1u);
    });
}

TEST_F(GuardTest, StartThatIsCancelledOrRefusedChangesNothing)
{
    // Cancelled question.
    WriteIni(GuardedIni(MakeProgram("guarded.exe")));
    Run([&](FakeWindow& w) {
        host.boxAnswers.push_back({IDCANCEL});
        w.Click(IDC_START);
        EXPECT_FALSE(MainDialog(w).IsGuarding());
        EXPECT_EQ(w.Text(IDC_START), u"开始");
        EXPECT_TRUE(w.timers.empty());
        EXPECT_EQ(Ini().find("REB_TIME"), std::string::npos);  // nothing saved

        // A program path that cannot be opened: the save's own message, still off.
        w.Type(IDC_FULLPATH, testsupport::PlatformPath(u"/nonexistent/guarded.exe"));
        Start(w);
        ASSERT_EQ(host.boxes.size(), 3u);
        EXPECT_EQ(host.boxes[2].text, u"未设置路径，或者设置路径不对，请检查！");
        EXPECT_EQ(host.boxes[2].caption, u"提示");
        EXPECT_EQ(host.boxes[2].type, MB_OK);
        EXPECT_FALSE(MainDialog(w).IsGuarding());
        EXPECT_EQ(w.Text(IDC_START), u"开始");
        EXPECT_TRUE(w.timers.empty());
        for (int id : kLockedControls)
            EXPECT_TRUE(w.Enabled(id)) << id;
    });
    EXPECT_TRUE(system.shellLaunches.empty());
}

TEST_F(GuardTest, StopAsksAndUnlocksWithoutTouchingTheProgram)
{
    WriteIni(GuardedIni(MakeProgram("guarded.exe")));
    system.AddProcess(u"guarded.exe");
    Run([&](FakeWindow& w) {
        Start(w);
        // Cancel keeps guarding.
        host.boxAnswers.push_back({IDCANCEL});
        w.Click(IDC_START);
        EXPECT_EQ(host.boxes.back().text, u"确定停止守护吗？");
        EXPECT_EQ(host.boxes.back().type, MB_OKCANCEL);
        EXPECT_TRUE(MainDialog(w).IsGuarding());

        w.enableCalls.clear();
        host.boxAnswers.push_back({IDOK});
        w.Click(IDC_START);
        EXPECT_FALSE(MainDialog(w).IsGuarding());
        EXPECT_EQ(w.Text(IDC_STATUS), u"已停止守护。。。");
        EXPECT_EQ(w.Text(IDC_START), u"开始");
        EXPECT_TRUE(w.timers.empty());
        std::vector<int> enabledInOrder;
        for (const auto& [id, enable] : w.enableCalls) {
            EXPECT_TRUE(enable);
            enabledInOrder.push_back(id);
        }
        EXPECT_EQ(enabledInOrder, kLockedControls);

        // A loop tick already queued when guarding stopped does nothing.
        w.PostMessage(WM_TIMER, TIMER_LOOP, 0);
        w.PostMessage(WM_TIMER, TIMER_LAUNCHED, 0);
        system.processes.clear();
        host.Pump();
        EXPECT_TRUE(system.shellLaunches.empty());
        EXPECT_EQ(w.Text(IDC_STATUS), u"已停止守护。。。");
    });
    EXPECT_TRUE(system.terminated.empty());
    // Stopping writes no run-log entry.
    EXPECT_EQ(ScheduleMessages(Log()).size(), 1u);
}

TEST_F(GuardTest, TicksKeepRunningWhileTheStopQuestionIsOpen)
{
    WriteIni(GuardedIni(MakeProgram("guarded.exe"), "", 10));
    Run([&](FakeWindow& w) {
        Start(w);
        const size_t before = system.shellLaunches.size();
        // The question stays open for a minute of virtual time before Cancel.
        host.boxAnswers.push_back({IDCANCEL, kMinute});
        w.Click(IDC_START);
        EXPECT_GT(system.shellLaunches.size(), before + 4);
        EXPECT_TRUE(MainDialog(w).IsGuarding());
    });
}

TEST_F(GuardTest, LaunchModeFollowsTheCaseSensitiveExeRule)
{
    struct Case {
        const char* file;
        bool executable;  // the system knows the file as a program by itself
        bool throughShell;
    };
    const Case cases[] = {
        {"tools/start.bat", false, false},  // neither "exe" nor "EXE"
        {"App/Client.Exe", false, false},  // only the mixed-case "Exe"
        {"exec/start.bat", false, true},  // "exe" in a folder name is enough
        {"bin/SERVER.EXE", false, true}, {"bin/server.exe", false, true},
        {"bin/server", true, true},  // an executable file on Linux: started, not waited for
        {"bin/start.sh", false, false},  // not executable: a command line for the interpreter
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        system.shellLaunches.clear();
        system.scripts.clear();
        const std::u16string program = MakeProgram(c.file);
        system.executablePrograms = c.executable ? std::vector<std::u16string>{program} : std::vector<std::u16string>{};
        WriteIni(GuardedIni(program, "ARGS=-x\r\n"));
        Run([&](FakeWindow& w) { Start(w); });
        if (c.throughShell) {
            ASSERT_EQ(system.shellLaunches.size(), 1u);
            EXPECT_EQ(system.shellLaunches[0].parameters, u"-x");
            EXPECT_TRUE(system.scripts.empty());
        } else {
            // The whole path is the command line; the arguments are not used.
            EXPECT_EQ(system.scripts, std::vector<std::u16string>{program});
            EXPECT_TRUE(system.shellLaunches.empty());
        }
    }
}

TEST_F(GuardTest, EmptyArgumentsGiveNoParameters)
{
    WriteIni(GuardedIni(MakeProgram("guarded.exe"), "", 1));
    std::vector<std::u16string> statusHistory;
    Run([&](FakeWindow& w) {
        Start(w);
        host.AdvanceBy(5 * kSecond);
        statusHistory = w.Item(IDC_STATUS).history;
    });
    // The first check, then one a second: the program never comes up.
    ASSERT_EQ(system.shellLaunches.size(), 6u);
    // The status line was set once: later checks found the same text there.
    EXPECT_EQ(std::count(statusHistory.begin(), statusHistory.end(), kLaunching), 1);
    for (const ShellLaunch& l : system.shellLaunches)
        EXPECT_FALSE(l.parameters.has_value());
}

// No process has an empty name or a path for its name: such a name would launch another copy
// at every check, so saving and starting refuse it.
TEST_F(GuardTest, AnImageNameThatNoProcessCanHaveIsRefused)
{
    const std::u16string program = MakeProgram("bin/guardme");
    const std::u16string names[] = {u"", program, u"bin/guardme", testsupport::PlatformPath(u"bin/guardme")};
    for (const std::u16string& name : names) {
        SCOPED_TRACE(px::ToUtf8(name));
        host.boxes.clear();
        Run([&](FakeWindow& w) {
            w.Type(IDC_FULLPATH, program);
            w.Type(IDC_EXENAME, name);
            w.Click(IDC_SAVE);
            host.boxAnswers.push_back({IDOK});
            w.Click(IDC_START);
            EXPECT_FALSE(MainDialog(w).IsGuarding());
        });
        ASSERT_EQ(host.boxes.size(), 3u);
        for (const size_t i : {0u, 2u}) {
            EXPECT_EQ(host.boxes[i].text, u"进程名无效，请填写程序的映像名（不含路径）！");
            EXPECT_EQ(host.boxes[i].caption, u"提示");
            EXPECT_EQ(host.boxes[i].type, MB_OK);
        }
        EXPECT_FALSE(IniExists());
        EXPECT_TRUE(system.shellLaunches.empty());
    }
    Run([&](FakeWindow& w) {
        w.Type(IDC_FULLPATH, program);
        EXPECT_EQ(w.Text(IDC_EXENAME), u"guardme");  // taken from the path: a bare name
        w.Click(IDC_SAVE);
    });
    EXPECT_EQ(host.boxes.back().text, u"保存成功！");
}

TEST_F(GuardTest, ALaunchedCheckThatLaunchesAgainStillEndsItsOneShot)
{
    WriteIni(GuardedIni(MakeProgram("guarded.exe")));
    Run([&](FakeWindow& w) {
        Start(w);  // launches; the program never appears
        ASSERT_EQ(system.shellLaunches.size(), 1u);
        host.AdvanceBy(3 * kSecond);
        // The one-shot tick launched again, re-armed itself and was killed in its last step.
        EXPECT_EQ(system.shellLaunches.size(), 2u);
        EXPECT_FALSE(w.HasTimer(TIMER_LAUNCHED));
        host.AdvanceBy(56 * kSecond);
        EXPECT_EQ(system.shellLaunches.size(), 2u);
        host.AdvanceBy(1 * kSecond);  // the next loop tick, 60 s after the start
        EXPECT_EQ(system.shellLaunches.size(), 3u);
    });
}

TEST_F(GuardTest, StatusIsSetOnlyWhenItChanges)
{
    WriteIni(GuardedIni(MakeProgram("guarded.exe"), "", 1));
    system.AddProcess(u"GUARDED.EXE");  // found whatever its ASCII case
    Run([&](FakeWindow& w) {
        Start(w);
        host.AdvanceBy(10 * kSecond);
        const auto& status = w.Item(IDC_STATUS).history;
        EXPECT_EQ(std::count(status.begin(), status.end(), kRunning), 1);
        EXPECT_EQ(w.Text(IDC_STATUS), kRunning);
    });
    EXPECT_TRUE(system.shellLaunches.empty());
}

TEST_F(GuardTest, FailedShellLaunchStopsGuardingEvenDuringACountdown)
{
    clock.Set(2026, 3, 10, 12, 27, 0);
    WriteIni(RestartIni("12:30"));
    system.shellResult = 2;  // file not found
    Run([&](FakeWindow& w) {
        system.AddProcess(u"guarded.exe");
        Start(w);  // 12:27: the countdown is armed at once
        ASSERT_TRUE(w.HasTimer(TIMER_RESTART));
        system.processes.clear();
        host.AdvanceBy(kMinute);  // the next check cannot launch
        EXPECT_FALSE(MainDialog(w).IsGuarding());
        EXPECT_FALSE(MainDialog(w).IsRestartPending());
        EXPECT_EQ(w.Text(IDC_STATUS), kLaunchFailed);
        EXPECT_EQ(w.Text(IDC_START), u"开始");
        EXPECT_TRUE(w.timers.empty());
        for (int id : kLockedControls)
            EXPECT_TRUE(w.Enabled(id)) << id;
    });
    // No question and no log line for the failure: banner, init and the countdown only.
    EXPECT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(ScheduleMessages(Log()).size(), 2u);
}

// A script runs beside the window as a launch: while what it started lives, no second copy;
// once it has all ended, the next check runs the script again.
TEST_F(GuardTest, AScriptIsALaunchThatRunsBesideTheWindow)
{
    const std::u16string script = MakeProgram("start.sh");
    WriteIni(GuardedIni(script, "", 2));
    system.launchStartsProcess = u"start.sh";  // the interpreter, running the script
    Run([&](FakeWindow& w) {
        Start(w);
        EXPECT_TRUE(MainDialog(w).IsGuarding());
        EXPECT_TRUE(w.HasTimer(TIMER_LAUNCHED));
        ASSERT_EQ(system.scripts.size(), 1u);
        system.AddToLaunch(system.lastLaunch, u"java");  // what the script started
        host.AdvanceBy(10 * kSecond);
        EXPECT_EQ(system.scripts.size(), 1u);
        EXPECT_EQ(w.Text(IDC_STATUS), u"已启动，但找不到进程名：guarded.exe");
        system.processes.clear();  // the script and its program ended
        host.AdvanceBy(2 * kSecond);
        EXPECT_EQ(system.scripts.size(), 2u);
    });
}

// The interpreter could not run the file at all: a failed launch, as a failed shell open.
TEST_F(GuardTest, AScriptTheInterpreterCannotRunStopsGuarding)
{
    const std::u16string script = MakeProgram("start.sh");
    WriteIni(GuardedIni(script, "", 2));
    system.scriptStarts = false;
    Run([&](FakeWindow& w) {
        Start(w);
        EXPECT_FALSE(MainDialog(w).IsGuarding());
        EXPECT_EQ(w.Text(IDC_STATUS), kLaunchFailed);
        EXPECT_EQ(w.Text(IDC_START), u"开始");
        host.AdvanceBy(10 * kSecond);
        EXPECT_EQ(system.scripts, std::vector<std::u16string>{script});  // never tried again
    });
    const std::vector<std::string> messages = Messages(Log());
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(messages.end() - 3, messages.end()),
        (std::vector<std::string>{"->程序未运行，已启动：" + px::ToUtf8(script), "->命令解释器无法运行该文件。。。",
            "->停止守护（打开程序失败）。。。"}));
}

// What the last launch started lives on under another name than the configured one: no
// second copy while it lives, and the status says which name is missing.
TEST_F(GuardTest, ALaunchedProgramUnderAnotherNameIsNotLaunchedAgainWhileItLives)
{
    WriteIni(GuardedIni(MakeProgram("guarded.exe"), "", 5));
    system.launchStartsProcess = u"guarded-real-name";
    Run([&](FakeWindow& w) {
        Start(w);
        ASSERT_EQ(system.shellLaunches.size(), 1u);
        host.AdvanceBy(60 * kSecond);
        EXPECT_EQ(system.shellLaunches.size(), 1u);
        EXPECT_EQ(w.Text(IDC_STATUS), u"已启动，但找不到进程名：guarded.exe");
        EXPECT_TRUE(MainDialog(w).IsGuarding());
        // Once it has ended, the next check launches again.
        system.RemoveProcessesNamed(u"guarded-real-name");
        host.AdvanceBy(5 * kSecond);
        EXPECT_EQ(system.shellLaunches.size(), 2u);
        EXPECT_EQ(w.Text(IDC_STATUS), kLaunching);
        host.AdvanceBy(10 * kSecond);  // up past the minimum uptime: its end is no quick exit
        // And a launch that comes up under the configured name is let go of.
        system.launchStartsProcess = u"guarded.exe";
        system.RemoveProcessesNamed(u"guarded-real-name");
        host.AdvanceBy(5 * kSecond);
        host.AdvanceBy(5 * kSecond);
        EXPECT_EQ(w.Text(IDC_STATUS), kRunning);
    });
    EXPECT_EQ(system.shellLaunches.size(), 3u);
    // Every launched process known to the system was let go of, the last one at the latest
    // when the window went.
    EXPECT_EQ(system.released.size(), 3u);
}

TEST_F(GuardTest, GatewayDialogsAreConfirmedOnePerTickInTitleOrder)
{
    WriteIni("[PX_SETTING]\r\nFULLPATH=" + px::ToUtf8(MakeProgram("ibgateway.exe"))
        + "\r\nEXE_NAME=IBGateway.exe\r\nLOOPSEC=1\r\n");
    system.AddProcess(u"ibgateway.exe");
    system.windows = {{7, u"SunAwtDialog", u"警告", true}, {8, u"SunAwtDialog", u"Warning", true},
        {9, u"OtherClass", u"Re-login is required", true}};
    Run([&](FakeWindow& w) {
        Start(w);
        // First tick: "Warning" is looked for first and confirmed.
        EXPECT_EQ(system.findQueries, std::vector<std::u16string>{u"Warning"});
        EXPECT_EQ(system.spacePresses, std::vector<ForeignWindow>{8});
        // Second tick: "警告".
        system.findQueries.clear();
        host.AdvanceBy(kSecond);
        EXPECT_EQ(system.findQueries, (std::vector<std::u16string>{u"Warning", u"警告"}));
        EXPECT_EQ(system.spacePresses, (std::vector<ForeignWindow>{8, 7}));
        // Third tick: every title looked for, the wrong class not confirmed.
        system.findQueries.clear();
        host.AdvanceBy(kSecond);
        EXPECT_EQ(system.findQueries,
            (std::vector<std::u16string>{u"Warning", u"警告", u"Re-login is required", u"要求重新登录"}));
        EXPECT_EQ(system.spacePresses.size(), 2u);
    });
    // Each confirmed dialog is recorded with its title.
    std::vector<std::string> confirmed;
    for (const std::string& m : Messages(Log()))
        if (m.rfind("->已确认网关", 0) == 0)
            confirmed.push_back(m);
    EXPECT_EQ(confirmed, (std::vector<std::string>{"->已确认网关对话框：Warning", "->已确认网关对话框：警告"}));
}

TEST_F(GuardTest, GatewayDialogIsAJavaDialogByItsClassOrByItsTypeAndOwner)
{
    const ProcessName java{u"java", false};
    const struct {
        const char* what;
        ForeignWin window;
        bool confirmed;
    } cases[] = {
        {"Java's dialog class", {5, u"SunAwtDialog", u"Warning"}, true},
        {"a dialog window of java", {5, u"GatewayDialog", u"Warning", true, true, {java}}, true},
        {"of java under another name too", {5, u"GatewayDialog", u"Warning", true, true, {{u"ibgw", false}, java}},
            true},
        {"of JAVA", {5, u"GatewayDialog", u"Warning", true, true, {{u"JAVA", false}}}, true},
        {"java's main window, no dialog", {5, u"GatewayDialog", u"Warning", true, false, {java}}, false},
        {"a dialog of another program", {5, u"Dialog", u"Warning", true, true, {{u"python3", false}}}, false},
        {"a dialog of an unknown program", {5, u"Dialog", u"Warning", true, true, {}}, false},
        {"a dialog of javaw", {5, u"Dialog", u"Warning", true, true, {{u"javaw", false}}}, false},
        {"the class in another case", {5, u"sunawtdialog", u"Warning"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteIni("[PX_SETTING]\r\nFULLPATH=" + px::ToUtf8(MakeProgram("ibgateway.exe"))
            + "\r\nEXE_NAME=ibgateway.exe\r\nLOOPSEC=1\r\n");
        system.processes.clear();
        system.AddProcess(u"ibgateway.exe");
        system.windows = {c.window};
        system.spacePresses.clear();
        Run([&](FakeWindow& w) { Start(w); });
        EXPECT_EQ(system.spacePresses, c.confirmed ? std::vector<ForeignWindow>{5} : std::vector<ForeignWindow>{});
    }
}

TEST_F(GuardTest, GatewayKeyIsNotPressedWhenTheDialogCouldNotBeBroughtToFront)
{
    WriteIni("[PX_SETTING]\r\nFULLPATH=" + px::ToUtf8(MakeProgram("ibgateway.exe"))
        + "\r\nEXE_NAME=ibgateway.exe\r\nLOOPSEC=1\r\n");
    system.AddProcess(u"ibgateway.exe");
    system.windows = {{5, u"SunAwtDialog", u"要求重新登录", false}};
    Run([&](FakeWindow& w) {
        Start(w);
        host.AdvanceBy(kSecond);
        EXPECT_EQ(system.broughtToFront, (std::vector<ForeignWindow>{5, 5}));  // tried on every tick
        EXPECT_TRUE(system.spacePresses.empty());
        system.windows[0].bringsToFront = true;
        host.AdvanceBy(kSecond);
        EXPECT_EQ(system.spacePresses, std::vector<ForeignWindow>{5});
    });
}

TEST_F(GuardTest, GatewayIsNotLookedForWhenItIsNotRunningOrNotTheGuardedImage)
{
    WriteIni("[PX_SETTING]\r\nFULLPATH=" + px::ToUtf8(MakeProgram("ibgateway.exe")) + "\r\nEXE_NAME=ibgateway.exe\r\n");
    system.windows = {{5, u"SunAwtDialog", u"Warning", true}};
    Run([&](FakeWindow& w) { Start(w); });  // not running: launched instead
    EXPECT_EQ(system.shellLaunches.size(), 1u);
    EXPECT_TRUE(system.findQueries.empty());

    WriteIni(GuardedIni(MakeProgram("guarded.exe")));
    system.AddProcess(u"guarded.exe");
    Run([&](FakeWindow& w) { Start(w); });
    EXPECT_TRUE(system.findQueries.empty());
}

TEST_F(GuardTest, CountdownIsArmedOneToFourMinutesAhead)
{
    struct Case {
        int hour, minute;
        bool armed;
    };
    const Case cases[] = {{12, 25, false}, {12, 26, true}, {12, 29, true}, {12, 30, false}, {11, 57, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.hour << ":" << c.minute);
        clock.Set(2026, 3, 10, c.hour, c.minute, 10);
        WriteIni(RestartIni("12:30"));
        system.processes.clear();
        system.AddProcess(u"guarded.exe");
        Run([&](FakeWindow& w) {
            Start(w);
            EXPECT_EQ(w.HasTimer(TIMER_RESTART), c.armed);
            EXPECT_EQ(MainDialog(w).IsRestartPending(), c.armed);
            if (c.armed) {
                EXPECT_EQ(w.timers.at(TIMER_RESTART).intervalMs, 35000u);
            }
        });
        const auto messages = ScheduleMessages(Log());
        ASSERT_EQ(messages.size(), c.armed ? 2u : 1u);
        if (c.armed) {
            EXPECT_EQ(messages[1], "->12:30: 距离不足5分钟，开始循环准备。。。");
        }
    }
}

TEST_F(GuardTest, RestartFiresAtItsMinuteOnceADayAndRelaunches)
{
    clock.Set(2026, 3, 10, 12, 29, 15);
    WriteIni(RestartIni("12:30"));
    system.AddProcess(u"guarded.exe");
    system.AddProcess(u"guarded.exe");
    system.launchStartsProcess = u"guarded.exe";
    Run([&](FakeWindow& w) {
        Start(w);  // 12:29:15: countdown armed at once
        ASSERT_TRUE(w.HasTimer(TIMER_RESTART));
        host.AdvanceBy(35 * kSecond);  // 12:29:50: not the minute yet
        EXPECT_TRUE(system.terminated.empty());
        EXPECT_TRUE(w.HasTimer(TIMER_RESTART));
        host.AdvanceBy(35 * kSecond);  // 12:30:25: both processes ended
        EXPECT_EQ(system.terminated.size(), 2u);
        EXPECT_FALSE(w.HasTimer(TIMER_RESTART));
        EXPECT_FALSE(MainDialog(w).IsRestartPending());
        EXPECT_TRUE(w.HasTimer(TIMER_LAUNCHED));
        EXPECT_TRUE(system.shellLaunches.empty());
        host.AdvanceBy(3 * kSecond);  // the follow-up check launches it anew
        EXPECT_EQ(system.shellLaunches.size(), 1u);
        // Not again that day, though checks keep running through the restart minute.
        host.AdvanceBy(12 * 60 * kMinute);
        EXPECT_EQ(system.terminated.size(), 2u);
    });
    const auto entries = ScheduleEntries(Log());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1],
        std::make_pair(
            std::string("2026-03-10 12:29:15.000"), std::string("->12:30: 距离不足5分钟，开始循环准备。。。")));
    EXPECT_EQ(entries[2],
        std::make_pair(std::string("2026-03-10 12:30:25.000"), std::string("->12:30 触发，执行关闭。。。")));
}

TEST_F(GuardTest, RestartCountsAsFiredWhenNothingCouldBeEnded)
{
    clock.Set(2026, 3, 10, 6, 4, 0);
    WriteIni(RestartIni("06:05"));
    system.AddProcess(u"guarded.exe", /*canOpen=*/false);
    Run([&](FakeWindow& w) {
        Start(w);
        host.AdvanceBy(2 * kMinute);
        EXPECT_FALSE(w.HasTimer(TIMER_RESTART));
        EXPECT_FALSE(MainDialog(w).IsRestartPending());
        // The process it could not end still counts as running: nothing is launched.
        EXPECT_TRUE(system.shellLaunches.empty());
        EXPECT_EQ(w.Text(IDC_STATUS), kRunning);
    });
    const auto messages = ScheduleMessages(Log());
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[1], "->6:5: 距离不足5分钟，开始循环准备。。。");
    EXPECT_EQ(messages[2], "->6:5 触发，执行关闭。。。");
    EXPECT_TRUE(system.terminated.empty());
}

TEST_F(GuardTest, TwoCloseEntriesGetTheirCountdownsOneAfterTheOther)
{
    clock.Set(2026, 3, 10, 12, 28, 0);
    WriteIni(RestartIni("12:32;12:30"));
    system.AddProcess(u"guarded.exe");
    system.launchStartsProcess = u"guarded.exe";
    Run([&](FakeWindow& w) {
        Start(w);
        host.AdvanceBy(6 * kMinute);
    });
    const auto messages = ScheduleMessages(Log());
    const std::vector<std::string> expected = {
        "->对话框初始化完成。。。",
        "->12:30: 距离不足5分钟，开始循环准备。。。",
        "->12:30 触发，执行关闭。。。",
        "->12:32: 距离不足5分钟，开始循环准备。。。",
        "->12:32 触发，执行关闭。。。",
    };
    EXPECT_EQ(messages, expected);
}

TEST_F(GuardTest, StopDuringACountdownAndStartAgainArmsItAgain)
{
    clock.Set(2026, 3, 10, 12, 27, 0);
    WriteIni(RestartIni("12:30"));
    system.AddProcess(u"guarded.exe");
    Run([&](FakeWindow& w) {
        Start(w);
        ASSERT_TRUE(MainDialog(w).IsRestartPending());
        host.boxAnswers.push_back({IDOK});
        w.Click(IDC_START);
        EXPECT_FALSE(w.HasTimer(TIMER_RESTART));
        EXPECT_FALSE(MainDialog(w).IsRestartPending());
        Start(w);
        EXPECT_TRUE(w.HasTimer(TIMER_RESTART));
        // Once it has fired it is marked for today; a stop and a new start clear the mark.
        host.AdvanceBy(4 * kMinute);
        ASSERT_EQ(system.terminated.size(), 1u);
        ASSERT_EQ(MainDialog(w).Schedule().Entries().size(), 1u);
        EXPECT_EQ(MainDialog(w).Schedule().Entries()[0].lastFiredDay, 68);  // 10 March
        host.boxAnswers.push_back({IDOK});
        w.Click(IDC_START);
        EXPECT_EQ(MainDialog(w).Schedule().Entries()[0].lastFiredDay, 68);
        Start(w);
        EXPECT_FALSE(MainDialog(w).Schedule().Entries()[0].lastFiredDay.has_value());
    });
}

TEST_F(GuardTest, DailyRestartOffLeavesTheScheduleEmpty)
{
    clock.Set(2026, 3, 10, 12, 27, 0);
    WriteIni(GuardedIni(MakeProgram("guarded.exe"), "ISTIMEDCLOSE=0\r\nREB_TIME=12:30\r\n"));
    system.AddProcess(u"guarded.exe");
    Run([&](FakeWindow& w) {
        Start(w);
        EXPECT_TRUE(MainDialog(w).Schedule().IsEmpty());
        host.AdvanceBy(10 * kMinute);
        EXPECT_FALSE(w.HasTimer(TIMER_RESTART));
    });
    EXPECT_TRUE(system.terminated.empty());
}

TEST_F(GuardTest, LoopIntervalIsKeptWithinOneSecondAndTheTimersRange)
{
    struct Case {
        int32_t seconds;
        uint32_t ms;
    };
    const Case cases[] = {{60, 60000u}, {1, 1000u}, {0, 1000u}, {-5, 1000u}, {INT32_MIN, 1000u}, {2147483, 2147483000u},
        {2147484, 0x7FFFFFFFu}, {INT32_MAX, 0x7FFFFFFFu}};
    for (const Case& c : cases)
        EXPECT_EQ(LoopIntervalMs(c.seconds), c.ms) << c.seconds;
}

TEST_F(GuardTest, ZeroIntervalIsStoredAsTypedButChecksOncePerSecond)
{
    WriteIni(GuardedIni(MakeProgram("guarded.exe")));
    Run([&](FakeWindow& w) {
        w.Type(IDC_LOOPSEC, u"0");
        Start(w);
        ASSERT_EQ(w.timers.at(TIMER_LOOP).intervalMs, 1000u);
        host.AdvanceBy(10 * kSecond);
        EXPECT_EQ(system.shellLaunches.size(), 11u);  // the first check, then one a second
        EXPECT_EQ(w.Text(IDC_LOOPSEC), u"0");
    });
    EXPECT_NE(Ini().find("LOOPSEC=0"), std::string::npos);
}

TEST_F(GuardTest, AutoStartSkipsTheQuestionForTheWholeRun)
{
    WriteIni(GuardedIni(MakeProgram("guarded.exe"), "AUTOSTART=1\r\n"));
    system.AddProcess(u"guarded.exe");
    Run([&](FakeWindow& w) {
        // Guarding started while the dialog initialised, without a question.
        EXPECT_TRUE(MainDialog(w).IsGuarding());
        EXPECT_TRUE(host.boxes.empty());
        EXPECT_EQ(w.Text(IDC_STATUS), kRunning);
        // Unticking start-on-launch writes 0 at once but this run still does not ask.
        w.Click(IDC_AUTOSTART);
        EXPECT_NE(Ini().find("AUTOSTART=0"), std::string::npos);
        host.boxAnswers.push_back({IDOK});
        w.Click(IDC_START);  // the stop question is always asked
        ASSERT_EQ(host.boxes.size(), 1u);
        w.Click(IDC_START);
        EXPECT_TRUE(MainDialog(w).IsGuarding());
        EXPECT_EQ(host.boxes.size(), 1u);
    });
}

TEST_F(GuardTest, AutoStartWithAnUnusablePathShowsTheSaveMessageAndStaysOff)
{
    WriteIni("[PX_SETTING]\r\nFULLPATH=/nonexistent/app.exe\r\nAUTOSTART=1\r\n");
    Run([&](FakeWindow& w) {
        EXPECT_FALSE(MainDialog(w).IsGuarding());
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].text, u"未设置路径，或者设置路径不对，请检查！");
        EXPECT_EQ(w.Text(IDC_START), u"开始");
    });
    EXPECT_TRUE(system.shellLaunches.empty());
}

TEST_F(GuardTest, TheStartLooksAheadBeforeTheFirstCheck)
{
    // The start's own look-ahead arms the countdown, although the first check then fails.
    clock.Set(2026, 3, 10, 12, 27, 0);
    WriteIni(RestartIni("12:30"));
    system.shellResult = 31;
    Run([&](FakeWindow& w) {
        Start(w);
        EXPECT_EQ(w.Text(IDC_STATUS), kLaunchFailed);
    });
    const auto messages = ScheduleMessages(Log());
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], "->12:30: 距离不足5分钟，开始循环准备。。。");
}

TEST_F(GuardTest, TheFirstCheckIsPostedNotRunInsideTheStart)
{
    WriteIni(GuardedIni(MakeProgram("guarded.exe")));
    Run([&](FakeWindow& w) {
        host.boxAnswers.push_back({IDOK});
        MainDialog(w).OnBnClickedStart();  // the handler alone, without the host's loop
        EXPECT_TRUE(MainDialog(w).IsGuarding());
        EXPECT_TRUE(system.shellLaunches.empty());
        EXPECT_EQ(w.Text(IDC_STATUS), u"正在启用。。。");
        host.Pump();
        EXPECT_EQ(system.shellLaunches.size(), 1u);
    });
}

TEST_F(GuardTest, StartOnLaunchRunsAfterTheInitialisationIsLogged)
{
    clock.Set(2026, 3, 10, 12, 27, 0);
    WriteIni(RestartIni("12:30") + "AUTOSTART=1\r\n");
    system.AddProcess(u"guarded.exe");
    Run([&](FakeWindow& w) { EXPECT_TRUE(MainDialog(w).IsGuarding()); });
    const auto messages = ScheduleMessages(Log());
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "->对话框初始化完成。。。");
    EXPECT_EQ(messages[1], "->12:30: 距离不足5分钟，开始循环准备。。。");
}

TEST_F(GuardTest, TicksWhileStoppedFollowTheDispatchRules)
{
    clock.Set(2026, 3, 10, 12, 27, 0);
    WriteIni(RestartIni("12:30"));
    system.AddProcess(u"guarded.exe");
    Run([&](FakeWindow& w) {
        Start(w);
        host.boxAnswers.push_back({IDOK});
        w.Click(IDC_START);
        ASSERT_FALSE(MainDialog(w).IsGuarding());
        // A one-shot tick while stopped does nothing, not even kill its timer.
        w.SetTimer(TIMER_LAUNCHED, 3000);
        w.Dispatch(WM_TIMER, TIMER_LAUNCHED, 0);
        EXPECT_TRUE(w.HasTimer(TIMER_LAUNCHED));
        EXPECT_TRUE(system.shellLaunches.empty());
        w.KillTimer(TIMER_LAUNCHED);
        // A restart tick that was already queued still ends the program at its minute.
        clock.Set(2026, 3, 10, 12, 30, 5);
        w.Dispatch(WM_TIMER, TIMER_RESTART, 0);
        EXPECT_EQ(system.terminated.size(), 1u);
        host.AdvanceBy(5 * kSecond);  // the one-shot it armed launches nothing while stopped
        EXPECT_TRUE(system.shellLaunches.empty());
    });
}

TEST_F(GuardTest, AnIntervalAboveFourMinutesCanStepOverTheCountdown)
{
    clock.Set(2026, 3, 10, 12, 20, 0);
    WriteIni(RestartIni("12:30"));
    system.AddProcess(u"guarded.exe");
    Run([&](FakeWindow& w) {
        w.Type(IDC_LOOPSEC, u"300");
        Start(w);  // checks at 12:20, 12:25, 12:30: none of them 1 to 4 minutes ahead
        host.AdvanceBy(30 * kMinute);
        EXPECT_FALSE(MainDialog(w).IsRestartPending());
    });
    EXPECT_TRUE(system.terminated.empty());
}

// A week of guarding across midnight and the turn of a leap year, with restart times at
// midnight (whose countdown reaches back to 23:56 of the day before) and at 12:30.
TEST_F(GuardTest, AWeekOfGuardingAcrossTheYearEndRestartsExactlyOnTime)
{
    clock.Set(2024, 12, 28, 8, 0, 0);
    WriteIni(RestartIni("00:00;12:30"));
    system.launchStartsProcess = u"guarded.exe";
    Run([&](FakeWindow& w) {
        Start(w);
        host.AdvanceBy(7 * 24 * 60 * kMinute);
        EXPECT_TRUE(MainDialog(w).IsGuarding());
    });
    std::vector<std::string> fired;
    std::vector<std::string> armed;
    for (const auto& [time, message] : LogEntries(Log())) {
        if (message.find("触发") != std::string::npos)
            fired.push_back(time.substr(0, 16) + " " + message);
        else if (message.find("距离") != std::string::npos)
            armed.push_back(time.substr(0, 16));
    }
    const std::vector<std::string> expected = {
        "2024-12-28 12:30 ->12:30 触发，执行关闭。。。",
        "2024-12-29 00:00 ->0:0 触发，执行关闭。。。",
        "2024-12-29 12:30 ->12:30 触发，执行关闭。。。",
        "2024-12-30 00:00 ->0:0 触发，执行关闭。。。",
        "2024-12-30 12:30 ->12:30 触发，执行关闭。。。",
        "2024-12-31 00:00 ->0:0 触发，执行关闭。。。",
        "2024-12-31 12:30 ->12:30 触发，执行关闭。。。",
        "2025-01-01 00:00 ->0:0 触发，执行关闭。。。",
        "2025-01-01 12:30 ->12:30 触发，执行关闭。。。",
        "2025-01-02 00:00 ->0:0 触发，执行关闭。。。",
        "2025-01-02 12:30 ->12:30 触发，执行关闭。。。",
        "2025-01-03 00:00 ->0:0 触发，执行关闭。。。",
        "2025-01-03 12:30 ->12:30 触发，执行关闭。。。",
        "2025-01-04 00:00 ->0:0 触发，执行关闭。。。",
    };
    EXPECT_EQ(fired, expected);
    ASSERT_EQ(armed.size(), expected.size());
    EXPECT_EQ(armed[1], "2024-12-28 23:56");  // the midnight countdown starts the evening before
    EXPECT_EQ(system.terminated.size(), expected.size());
    // Each restart was followed by a relaunch 3 s later.
    EXPECT_EQ(system.shellLaunches.size(), expected.size() + 1);
}

std::string DateText(std::chrono::sys_days day)
{
    const std::chrono::year_month_day date{day};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", int{date.year()}, unsigned{date.month()}, unsigned{date.day()});
    return text;
}

// Four hundred days of guarding in New York's time zone, across the leap day of 2028, two year
// ends and four daylight-saving changes (two 23-hour and two 25-hour days), with restart
// times at midnight, 12:30 and 23:59: each restarts the program exactly once a day, at the same
// moment of its minute, and no countdown outlives its restart. Beside them, "Sun 13:00" (the
// weekly restart of a gateway) fires on Sundays only, and "周三 00:10" on Wednesdays only, its
// countdown after the midnight restart.
TEST_F(GuardTest, FourHundredDaysRestartEachTimeExactlyOnceADay)
{
    using namespace std::chrono;
    const sys_days first = 2027y / November / 30;
    const sys_days last = first + days{400};
    clock.SetZone(kNewYork);
    clock.Set(2027, 11, 30, 8, 0);
    const std::u16string program = MakeProgram("guarded.exe");
    const std::string launched = " ->程序未运行，已启动：" + px::ToUtf8(program);
    WriteIni(GuardedIni(program, "ISTIMEDCLOSE=1\r\nREB_TIME=00:00;12:30;23:59;Sun 13:00;周三 00:10\r\n"));
    system.AddProcess(u"guarded.exe");
    system.launchStartsProcess = u"guarded.exe";
    std::vector<std::string> countdownsLeft;
    Run([&](FakeWindow& w) {
        Start(w);
        for (sys_days day = first + days{1}; day <= last; day += days{1}) {
            // On to 08:00 of the next day: 23, 24 or 25 hours.
            const year_month_day date{day};
            host.AdvanceBy(clock.MsAt(int{date.year()}, static_cast<int>(unsigned{date.month()}),
                               static_cast<int>(unsigned{date.day()}), 8, 0)
                - clock.NowMs());
            if (MainDialog(w).IsRestartPending() || w.HasTimer(TIMER_RESTART))
                countdownsLeft.push_back(DateText(day));
        }
        EXPECT_TRUE(MainDialog(w).IsGuarding());
    });
    EXPECT_EQ(countdownsLeft, std::vector<std::string>{});

    // Every loop check falls on a whole minute; the countdown polls every 35 s from the check
    // that armed it, and the follow-up check comes 3 s after a restart.
    std::vector<std::string> expected = {
        "2027-11-30 08:00:00.000 ->对话框初始化完成。。。",
        "2027-11-30 08:00:00.000 ->开始守护（用户操作）。。。",
    };
    int weekly = 0;
    for (sys_days day = first; day <= last; day += days{1}) {
        const std::string date = DateText(day);
        if (day != first) {
            expected.push_back(date + " 00:00:18.000 ->0:0 触发，执行关闭。。。");
            expected.push_back(date + " 00:00:21.000" + launched);
            if (weekday{day} == Wednesday) {
                expected.push_back(date + " 00:06:00.000 ->0:10: 距离不足5分钟，开始循环准备。。。");
                expected.push_back(date + " 00:10:05.000 ->0:10 触发，执行关闭。。。");
                expected.push_back(date + " 00:10:08.000" + launched);
                ++weekly;
            }
        }
        if (day == last)
            break;
        expected.push_back(date + " 12:26:00.000 ->12:30: 距离不足5分钟，开始循环准备。。。");
        expected.push_back(date + " 12:30:05.000 ->12:30 触发，执行关闭。。。");
        expected.push_back(date + " 12:30:08.000" + launched);
        if (weekday{day} == Sunday) {
            expected.push_back(date + " 12:56:00.000 ->13:0: 距离不足5分钟，开始循环准备。。。");
            expected.push_back(date + " 13:00:05.000 ->13:0 触发，执行关闭。。。");
            expected.push_back(date + " 13:00:08.000" + launched);
            ++weekly;
        }
        expected.push_back(date + " 23:55:00.000 ->23:59: 距离不足5分钟，开始循环准备。。。");
        expected.push_back(date + " 23:59:05.000 ->23:59 触发，执行关闭。。。");
        expected.push_back(date + " 23:59:08.000" + launched);
        // Midnight's countdown begins with the check after the 23:59 restart.
        expected.push_back(date + " 23:59:08.000 ->0:0: 距离不足5分钟，开始循环准备。。。");
    }
    const std::vector<std::string> lines = TimedMessages(Log());
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i)
        ASSERT_EQ(lines[i], expected[i]) << "entry " << i;
    EXPECT_EQ(system.terminated.size(), 3u * 400u + static_cast<size_t>(weekly));
}

// Daylight saving time: a change forward skips an hour of the wall clock, a change back shows
// one twice. A restart time the clock skips (or whose countdown the jump cut short) fires at
// the first check after the jump, in the first minute the clock shows after it; a time shown
// twice fires once, the first time. Guarding runs from 20:00 of the day before the change to
// 06:00 of the day after, checking every minute on the minute.
TEST_F(GuardTest, ClockChangesNeitherLoseNorRepeatARestart)
{
    struct Case {
        const TimeZoneRules* zone;
        int year, month, day;  // the day the change happens on (at its midnight for Sao Paulo)
        std::string time;  // REB_TIME
        std::vector<std::string> expected;  // the countdown and restart entries
    };
    const std::string soon = ": 距离不足5分钟，开始循环准备。。。";
    const std::string fired = " 触发，执行关闭。。。";
    const Case cases[] = {
        // New York, 8 March 2026: 01:59:59 EST is followed by 03:00:00 EDT.
        {&kNewYork, 2026, 3, 8, "02:30",
            {"2026-03-08 03:00:00.000 ->2:30" + fired, "2026-03-09 02:26:00.000 ->2:30" + soon,
                "2026-03-09 02:30:05.000 ->2:30" + fired}},
        {&kNewYork, 2026, 3, 8, "02:00",
            {"2026-03-08 01:56:00.000 ->2:0" + soon, "2026-03-08 03:00:05.000 ->2:0" + fired,
                "2026-03-09 01:56:00.000 ->2:0" + soon, "2026-03-09 02:00:05.000 ->2:0" + fired}},
        {&kNewYork, 2026, 3, 8, "03:00",
            {"2026-03-08 03:00:00.000 ->3:0" + fired, "2026-03-09 02:56:00.000 ->3:0" + soon,
                "2026-03-09 03:00:05.000 ->3:0" + fired}},
        {&kNewYork, 2026, 3, 8, "01:59",
            {"2026-03-08 01:55:00.000 ->1:59" + soon, "2026-03-08 01:59:05.000 ->1:59" + fired,
                "2026-03-09 01:55:00.000 ->1:59" + soon, "2026-03-09 01:59:05.000 ->1:59" + fired}},
        {&kNewYork, 2026, 3, 8, "03:01",
            {"2026-03-08 03:00:00.000 ->3:1" + soon, "2026-03-08 03:01:10.000 ->3:1" + fired,
                "2026-03-09 02:57:00.000 ->3:1" + soon, "2026-03-09 03:01:05.000 ->3:1" + fired}},
        // A day's entry on the day of the change (a Sunday) fires as a daily one would, and
        // not on the Monday after; Monday's entry only then.
        {&kNewYork, 2026, 3, 8, "Sun 02:30", {"2026-03-08 03:00:00.000 ->2:30" + fired}},
        {&kNewYork, 2026, 3, 8, "mon 02:30",
            {"2026-03-09 02:26:00.000 ->2:30" + soon, "2026-03-09 02:30:05.000 ->2:30" + fired}},
        // New York, 1 November 2026: 01:59:59 EDT is followed by 01:00:00 EST.
        {&kNewYork, 2026, 11, 1, "01:30",
            {"2026-11-01 01:26:00.000 ->1:30" + soon, "2026-11-01 01:30:05.000 ->1:30" + fired,
                "2026-11-02 01:26:00.000 ->1:30" + soon, "2026-11-02 01:30:05.000 ->1:30" + fired}},
        {&kNewYork, 2026, 11, 1, "01:00",
            {"2026-11-01 00:56:00.000 ->1:0" + soon, "2026-11-01 01:00:05.000 ->1:0" + fired,
                "2026-11-02 00:56:00.000 ->1:0" + soon, "2026-11-02 01:00:05.000 ->1:0" + fired}},
        // The countdown armed at 01:56 EDT polls on through the repeated hour to 02:00 EST.
        {&kNewYork, 2026, 11, 1, "02:00",
            {"2026-11-01 01:56:00.000 ->2:0" + soon, "2026-11-01 02:00:10.000 ->2:0" + fired,
                "2026-11-02 01:56:00.000 ->2:0" + soon, "2026-11-02 02:00:05.000 ->2:0" + fired}},
        // Sao Paulo, 4 November 2018: 23:59:59 of the 3rd is followed by 01:00:00 of the 4th.
        {&kSaoPaulo2018, 2018, 11, 4, "00:00",
            {"2018-11-03 23:56:00.000 ->0:0" + soon, "2018-11-04 01:00:05.000 ->0:0" + fired,
                "2018-11-04 23:56:00.000 ->0:0" + soon, "2018-11-05 00:00:05.000 ->0:0" + fired}},
        // Sunday's midnight: its countdown on Saturday evening, fired after the jump; none on
        // Sunday evening for Monday.
        {&kSaoPaulo2018, 2018, 11, 4, "周日 00:00",
            {"2018-11-03 23:56:00.000 ->0:0" + soon, "2018-11-04 01:00:05.000 ->0:0" + fired}},
        {&kSaoPaulo2018, 2018, 11, 4, "00:30",
            {"2018-11-04 01:00:00.000 ->0:30" + fired, "2018-11-05 00:26:00.000 ->0:30" + soon,
                "2018-11-05 00:30:05.000 ->0:30" + fired}},
        // Sao Paulo, 17 February 2019: 23:59:59 of the 16th is followed by 23:00:00 of the 16th.
        {&kSaoPaulo2018, 2019, 2, 17, "23:30",
            {"2019-02-16 23:26:00.000 ->23:30" + soon, "2019-02-16 23:30:05.000 ->23:30" + fired,
                "2019-02-17 23:26:00.000 ->23:30" + soon, "2019-02-17 23:30:05.000 ->23:30" + fired}},
        {&kSaoPaulo2018, 2019, 2, 17, "00:00",
            {"2019-02-16 23:56:00.000 ->0:0" + soon, "2019-02-17 00:00:10.000 ->0:0" + fired,
                "2019-02-17 23:56:00.000 ->0:0" + soon, "2019-02-18 00:00:05.000 ->0:0" + fired}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.year << "-" << c.month << "-" << c.day << " " << c.time);
        clock.SetZone(*c.zone);
        clock.Set(c.year, c.month, c.day - 1, 20, 0);
        const int64_t end = clock.MsAt(c.year, c.month, c.day + 1, 6, 0);
        WriteIni(RestartIni(c.time));
        system.processes.clear();
        system.terminated.clear();
        system.AddProcess(u"guarded.exe");
        system.launchStartsProcess = u"guarded.exe";
        Run([&](FakeWindow& w) {
            Start(w);
            host.AdvanceBy(end - clock.NowMs());
            EXPECT_FALSE(MainDialog(w).IsRestartPending());
            EXPECT_FALSE(w.HasTimer(TIMER_RESTART));
        });
        std::vector<std::string> entries;
        for (const std::string& line : TimedMessages(Log()))
            if (line.find("距离") != std::string::npos || line.find("触发") != std::string::npos)
                entries.push_back(line);
        EXPECT_EQ(entries, c.expected);
        const auto restarts = std::count_if(c.expected.begin(), c.expected.end(),
            [](const std::string& line) { return line.find("触发") != std::string::npos; });
        EXPECT_EQ(system.terminated.size(), static_cast<size_t>(restarts));
    }
}

// A day of guarding as the run log tells it: what the watchdog did, in order, and never
// the arguments.
TEST_F(GuardTest, TheLogRecordsWhatTheWatchdogDid)
{
    clock.Set(2026, 3, 10, 12, 0, 0);
    const std::u16string program = MakeProgram("guarded.exe");
    const std::string path = px::ToUtf8(program);
    WriteIni(GuardedIni(program, "ISTIMEDCLOSE=1\r\nREB_TIME=12:30\r\nARGS=--user plain-secret\r\n", 10));
    system.launchStartsProcess = u"guarded.exe";
    Run([&](FakeWindow& w) {
        Start(w);
        host.AdvanceBy(5 * kMinute);
        system.RemoveProcessesNamed(u"guarded.exe");  // a crash
        host.AdvanceBy(5 * kMinute);
        system.RemoveProcessesNamed(u"guarded.exe");  // and another
        host.AdvanceBy(30 * kMinute);  // through the restart at 12:30
        host.boxAnswers.push_back({IDOK});
        w.Click(IDC_START);
        ASSERT_FALSE(MainDialog(w).IsGuarding());
    });
    const std::vector<std::string> expected = {
        "->对话框初始化完成。。。",
        "->开始守护（用户操作）。。。",
        "->程序未运行，已启动：" + path,
        "->程序未运行，已启动：" + path,
        "->程序未运行，已启动：" + path,
        "->12:30: 距离不足5分钟，开始循环准备。。。",
        "->12:30 触发，执行关闭。。。",
        "->程序未运行，已启动：" + path,
        "->停止守护（用户操作）。。。",
    };
    EXPECT_EQ(Messages(Log()), expected);
    EXPECT_EQ(system.shellLaunches.size(), 4u);
}

TEST_F(GuardTest, StartsAndStopsSayWhoStartedAndWhyItStopped)
{
    WriteIni(GuardedIni(MakeProgram("guarded.exe"), "AUTOSTART=1\r\n"));
    system.AddProcess(u"guarded.exe");
    Run([&](FakeWindow& w) {
        ASSERT_TRUE(MainDialog(w).IsGuarding());
        host.boxAnswers.push_back({IDOK});
        w.Click(IDC_START);  // stop
        w.Click(IDC_START);  // start again: no question in a run started with start-on-launch
        ASSERT_TRUE(MainDialog(w).IsGuarding());
        // Then the program disappears and cannot be launched.
        system.RemoveProcessesNamed(u"guarded.exe");
        system.shellResult = 2;
        host.AdvanceBy(60 * kSecond);
        ASSERT_FALSE(MainDialog(w).IsGuarding());
    });
    const std::vector<std::string> expected = {
        "->对话框初始化完成。。。",
        "->开始守护（软件启动时自动开始）。。。",
        "->停止守护（用户操作）。。。",
        "->开始守护（用户操作）。。。",
        "->打开程序失败，错误码：2",
        "->停止守护（打开程序失败）。。。",
    };
    EXPECT_EQ(Messages(Log()), expected);
}

TEST_F(GuardTest, ArgumentsNeverReachTheLog)
{
    const std::string plain = "--token=plain-visible-7731";
    const std::string hidden = "--token=hidden-secret-4410";
    for (const bool scrambled : {false, true}) {
        SCOPED_TRACE(scrambled);
        std::string args = plain;
        if (scrambled)
            args = px::ToUtf8(ScrambleText(u"password", PASSWORD_FIELD_LENGTH) + ScrambleText(px::FromUtf8(hidden), 0));
        WriteIni(GuardedIni(
            MakeProgram("guarded.exe"), "ARGS=" + args + "\r\nARGSCRYPT=" + (scrambled ? "1" : "0") + "\r\n", 1));
        system.launchStartsProcess.clear();  // never comes up: a launch every check
        Run([&](FakeWindow& w) {
            Start(w);
            host.AdvanceBy(10 * kSecond);
        });
        ASSERT_GE(system.shellLaunches.size(), 2u);
        EXPECT_EQ(*system.shellLaunches.back().parameters, px::FromUtf8(scrambled ? hidden : plain));
        const std::string log = Log();
        EXPECT_NE(log.find(px::ToUtf8(MakeProgram("guarded.exe"))), std::string::npos);
        for (const std::string& secret :
            {plain, hidden, args, std::string("plain-visible"), std::string("hidden-secret")})
            EXPECT_EQ(log.find(secret), std::string::npos) << secret;
        system.shellLaunches.clear();
    }
}

// A program that dies at once is launched at most once per check, and so logged: at
// LOOPSEC=1 an hour holds 3,600 launch entries, whatever the follow-up checks do.
TEST_F(GuardTest, ACrashLoopAddsOneLaunchEntryPerCheck)
{
    WriteIni(GuardedIni(MakeProgram("guarded.exe"), "", 1));
    Run([&](FakeWindow& w) {
        Start(w);
        host.AdvanceBy(60 * kMinute - 1);
    });
    size_t launches = 0;
    for (const std::string& m : Messages(Log()))
        launches += m.rfind("->程序未运行", 0) == 0 ? 1 : 0;
    EXPECT_EQ(launches, 3600u);
    EXPECT_EQ(system.shellLaunches.size(), 3600u);
}

}  // namespace

namespace {

// Enter in a field is the dialog's OK command: while guarding it asks the tray's question and
// ends only on OK; guarding goes on after Cancel.
TEST_F(GuardTest, EnterWhileGuardingAsksBeforeEnding)
{
    WriteIni(GuardedIni(MakeProgram("guarded.exe")));
    system.launchStartsProcess = u"guarded.exe";
    Run([&](FakeWindow& w) {
        Start(w);
        host.boxAnswers.push_back({IDCANCEL});
        w.PressEnter();
        ASSERT_EQ(host.boxes.size(), 2u);
        EXPECT_EQ(host.boxes[1].text, u"确定退出？");
        EXPECT_EQ(host.boxes[1].caption, u"退出");
        EXPECT_EQ(host.boxes[1].type, MB_OKCANCEL);
        EXPECT_FALSE(w.ended);
        EXPECT_TRUE(MainDialog(w).IsGuarding());

        host.boxAnswers.push_back({IDOK});
        w.PressEnter();
        EXPECT_TRUE(w.ended);
        EXPECT_EQ(w.endCode, IDOK);
    });
    EXPECT_EQ(Messages(Log()).back(), "->退出程序（确认退出）。。。");
}

// Every way the program ends is the run log's last entry, with its cause; the tray icon goes
// with it.
TEST_F(GuardTest, EveryWayOfEndingIsLoggedWithItsCause)
{
    const struct {
        const char* name;
        std::function<void(FakeWindow&)> act;
        bool guarding;
        std::string logged;
    } ways[] = {
        {"enter", [](FakeWindow& w) { w.PressEnter(); }, false, "->退出程序（关闭窗口）。。。"},
        {"escape", [](FakeWindow& w) { w.PressEscape(); }, true, "->退出程序（关闭窗口）。。。"},
        {"close button", [](FakeWindow& w) { w.Click(IDCANCEL); }, true, "->退出程序（关闭窗口）。。。"},
        {"tray exit",
            [this](FakeWindow& w) {
                host.boxAnswers.push_back({IDOK});
                w.Command(ID_TRAY_EXIT);
            },
            true, "->退出程序（确认退出）。。。"},
        {"SIGTERM", [](FakeWindow& w) { w.Dispatch(WM_ENDREQUEST, END_CAUSE_SIGNAL, 15); }, true,
            "->退出程序，收到信号：SIGTERM"},
        {"SIGHUP", [](FakeWindow& w) { w.Dispatch(WM_ENDREQUEST, END_CAUSE_SIGNAL, 1); }, true,
            "->退出程序，收到信号：SIGHUP"},
        {"session end", [](FakeWindow& w) { w.Dispatch(WM_ENDREQUEST, END_CAUSE_SESSION, 0); }, true,
            "->退出程序（会话结束）。。。"},
        {"display lost", [](FakeWindow& w) { w.Dispatch(WM_ENDREQUEST, END_CAUSE_DISPLAY_LOST, 0); }, false,
            "->退出程序（与显示服务器的连接断开）。。。"},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        WriteIni(GuardedIni(MakeProgram("guarded.exe")));
        system.launchStartsProcess = u"guarded.exe";
        system.processes.clear();
        host.boxes.clear();
        bool iconLeft = true;
        Run([&](FakeWindow& w) {
            if (way.guarding)
                Start(w);
            w.Click(IDC_HIDE);
            ASSERT_TRUE(w.trayIconPresent);
            way.act(w);
            EXPECT_TRUE(w.ended);
            iconLeft = w.trayIconPresent;
        });
        EXPECT_FALSE(iconLeft);
        EXPECT_EQ(Messages(Log()).back(), way.logged);
        // The program it guarded runs on.
        EXPECT_EQ(system.CountProcessesNamed(u"guarded.exe"), way.guarding ? 1u : 0u);
    }
}

// Restart times that are not "HH:MM" are saved as typed, and the user is told what each does.
TEST_F(GuardTest, SaveNamesTheRestartTimesThatWillNotFireAsWritten)
{
    WriteIni(RestartIni("06:30"));
    Run([&](FakeWindow& w) {
        w.Type(IDC_REBTIME, u"25:00;abc;9:30;06:30;23:61;x");
        w.Click(IDC_SAVE);
        ASSERT_EQ(host.boxes.size(), 2u);
        EXPECT_EQ(host.boxes[0].text, u"保存成功！");
        EXPECT_EQ(host.boxes[1].text,
            u"以下重启时间不是有效的时间（HH:MM）：\n25:00（永远不会执行）\nabc（将在 00:00 执行）\n"
            u"9:30（将在 09:00 执行）\n23:61（永远不会执行）\nx（永远不会执行）");
        EXPECT_EQ(host.boxes[1].caption, u"提示");

        // Well-formed times, or no daily restart at all, save without a word more.
        host.boxes.clear();
        w.Type(IDC_REBTIME, u"06:30;23:59;00:00");
        w.Click(IDC_SAVE);
        EXPECT_EQ(host.boxes.size(), 1u);
        w.Type(IDC_REBTIME, u"abc");
        w.Click(IDC_TIMEDCLOSE);
        w.Click(IDC_SAVE);
        EXPECT_EQ(host.boxes.size(), 2u);
    });
    EXPECT_NE(Ini().find("REB_TIME=abc"), std::string::npos);
}

// Restart times may carry a day of the week; a misspelt day is refused by the save (and so
// by the start) with the format message, and nothing is written.
TEST_F(GuardTest, AMisspeltDayOfTheWeekIsRefusedOnSave)
{
    WriteIni(RestartIni("06:30"));
    Run([&](FakeWindow& w) {
        w.Type(IDC_REBTIME, u"Sun 13:00;Sux 13:00;周八 06:00");
        w.Click(IDC_SAVE);
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].text,
            u"以下重启时间不是有效的时间（HH:MM）：\nSux 13:00（星期无法识别，请写 Sun、Mon… 或 周日、周一…）\n"
            u"周八 06:00（星期无法识别，请写 Sun、Mon… 或 周日、周一…）");
        Start(w);
        EXPECT_FALSE(MainDialog(w).IsGuarding());
        EXPECT_EQ(host.boxes.size(), 3u) << "the start's question, then the same refusal";

        // Spelt right, in either language and any case, it saves without a word more.
        host.boxes.clear();
        w.Type(IDC_REBTIME, u"SUN 13:00;周一 06:00;星期六 23:00");
        w.Click(IDC_SAVE);
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].text, u"保存成功！");
    });
    EXPECT_NE(Ini().find("REB_TIME=SUN 13:00;周一 06:00;星期六 23:00"), std::string::npos);
}

}  // namespace

namespace {

TEST_F(GuardTest, NotificationsAndTheBackoffsWaitReachTheTrayIconWhileTheWindowIsHiddenInIt)
{
    WriteIni(GuardedIni(MakeProgram("guarded.exe"), "", 1));
    system.launchEndsAtOnce = ProcessExit{false, 3, u""};
    Run([&](FakeWindow& w) {
        Start(w);
        host.AdvanceBy(1 * kSecond);  // the first exit: the window is open, its status says it
        EXPECT_TRUE(w.trayNotifications.empty());
        EXPECT_EQ(w.Text(IDC_STATUS), u"等待 2 秒后重启（第 1 次）");

        w.Click(IDC_HIDE);
        ASSERT_TRUE(w.trayIconPresent);
        host.AdvanceBy(kMinute);
        // Held since the first, within the minute: the summary, from the icon.
        ASSERT_EQ(w.trayNotifications.size(), 1u);
        EXPECT_EQ(w.trayNotifications[0].first, u"Perennix：guarded.exe");
        EXPECT_EQ(w.trayNotifications[0].second.substr(0, 4), u"已重启 ");
        EXPECT_EQ(w.trayTip, u"Perennix - " + w.Text(IDC_STATUS));
        EXPECT_EQ(w.trayTip.substr(0, 14), u"Perennix - 等待 ");
    });
}

}  // namespace
