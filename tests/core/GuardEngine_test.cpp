// The guard engine on its own: every decision of a check, driven through a scripted window
// and the fake system on virtual time, with no dialog.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CapturedStdout.h"
#include "FakeGuardView.h"
#include "FakeSystem.h"
#include "GuardEngineFixture.h"
#include "GuardTexts.h"
#include "LogMessages.h"
#include "MemoryFolder.h"
#include "TestGbk.h"
#include "base/Unicode.h"
#include "guard/GuardCycle.h"
#include "guard/GuardEngine.h"
#include "resources/Resource.h"

using namespace fake;

namespace {

class GuardEngineTest : public GuardEngineFixture { };

TEST_F(GuardEngineTest, StartAsksLocksArmsTheLoopAndLaunchesAtOnce)
{
    engine.Start(true, false);

    EXPECT_EQ(view.questions, std::vector<std::u16string>{u"确定开始启用守护？"});
    EXPECT_TRUE(engine.IsGuarding());
    EXPECT_FALSE(view.settingsEnabled);
    EXPECT_EQ(view.caption, u"停止");
    EXPECT_EQ(view.TimerInterval(TIMER_LOOP), 10000u);
    EXPECT_TRUE(system.shellLaunches.empty()) << "the first check waits for the posted tick";

    Advance(0);
    ASSERT_EQ(system.shellLaunches.size(), 1u);
    EXPECT_EQ(system.shellLaunches[0].file, u"/opt/guarded/guarded.exe");
    EXPECT_EQ(view.statusHistory, (std::vector<std::u16string>{u"正在启用。。。", kLaunching}));
    EXPECT_EQ(view.TimerInterval(TIMER_LAUNCHED), 3000u);

    // Three seconds later the one-shot check finds it running and goes.
    Advance(3 * kSecond);
    EXPECT_EQ(view.StatusText(), kRunning);
    EXPECT_FALSE(view.HasTimer(TIMER_LAUNCHED));
    EXPECT_EQ(system.shellLaunches.size(), 1u);
    EXPECT_EQ(LogMessages(),
        (std::vector<std::string>{"->开始守护（用户操作）。。。", "->程序未运行，已启动：/opt/guarded/guarded.exe"}));
}

TEST_F(GuardEngineTest, StartGoesNoFurtherWhenDeclinedOrRefused)
{
    view.answers = {false};
    engine.Start(true, false);
    view.settings.reset();
    engine.Start(false, true);  // no question, but the save refuses

    EXPECT_EQ(view.questions.size(), 1u);
    EXPECT_FALSE(engine.IsGuarding());
    EXPECT_TRUE(view.settingsEnabled);
    EXPECT_FALSE(view.HasTimer(TIMER_LOOP));
    Advance(kMinute);
    EXPECT_TRUE(system.shellLaunches.empty());
    EXPECT_TRUE(log.Text().empty());
}

TEST_F(GuardEngineTest, RelaunchesAtTheCheckAfterAKillAndOnlyThen)
{
    system.AddProcess(u"GUARDED.EXE");  // running already, in another case
    engine.Start(false, true);
    Advance(25 * kSecond);
    EXPECT_TRUE(system.shellLaunches.empty());
    EXPECT_EQ(view.StatusText(), kRunning);

    system.RemoveProcessesNamed(u"GUARDED.EXE");  // killed at 12:00:25
    Advance(4 * kSecond);
    EXPECT_TRUE(system.shellLaunches.empty()) << "nothing happens before the next loop tick";
    Advance(1 * kSecond);
    ASSERT_EQ(system.shellLaunches.size(), 1u);
    EXPECT_EQ(system.shellLaunches[0].atMs, clock.MsAt(2026, 3, 10, 12, 0, 30));
    Advance(kMinute);
    EXPECT_EQ(system.shellLaunches.size(), 1u);
    EXPECT_EQ(view.StatusText(), kRunning);
}

TEST_F(GuardEngineTest, CountdownAndRestartMinuteEndTheProgramForTheNextCheck)
{
    view.settings->bTimedClose = true;
    view.settings->strRebTime = u"12:03;18:00";
    view.settings->nLoopSec = 60;
    system.AddProcess(u"guarded.exe");
    engine.Start(false, false);

    // 12:03 lies three minutes ahead: the countdown is armed at the start.
    EXPECT_TRUE(engine.IsRestartPending());
    EXPECT_EQ(view.TimerInterval(TIMER_RESTART), 35000u);
    Advance(2 * kMinute + 59 * kSecond);
    EXPECT_TRUE(system.terminated.empty());

    Advance(31 * kSecond);  // the poll at 12:03:30
    EXPECT_EQ(system.terminated.size(), 1u);
    EXPECT_EQ(system.CountProcessesNamed(u"guarded.exe"), 0u);
    EXPECT_FALSE(engine.IsRestartPending());
    EXPECT_FALSE(view.HasTimer(TIMER_RESTART));
    EXPECT_EQ(view.TimerInterval(TIMER_LAUNCHED), 3000u);
    Advance(3 * kSecond);
    ASSERT_EQ(system.shellLaunches.size(), 1u);
    EXPECT_EQ(system.shellLaunches[0].atMs, clock.MsAt(2026, 3, 10, 12, 3, 33));

    // Fired once that day: the rest of the day brings no second restart of 12:03.
    Advance(5 * 60 * kMinute);
    EXPECT_EQ(system.terminated.size(), 1u);
    const std::vector<std::string> expected
        = {"->开始守护（用户操作）。。。", "->12:3: 距离不足5分钟，开始循环准备。。。", "->12:3 触发，执行关闭。。。",
            "->程序未运行，已启动：/opt/guarded/guarded.exe"};
    EXPECT_EQ(LogMessages(), expected);
}

TEST_F(GuardEngineTest, AFailedLaunchStopsGuarding)
{
    system.shellResult = 2;  // file not found
    engine.Start(false, false);
    Advance(0);

    EXPECT_FALSE(engine.IsGuarding());
    EXPECT_EQ(view.StatusText(), kLaunchFailed);
    EXPECT_EQ(view.caption, u"开始");
    EXPECT_TRUE(view.settingsEnabled);
    for (unsigned id : {TIMER_LOOP, TIMER_RESTART, TIMER_LAUNCHED})
        EXPECT_FALSE(view.HasTimer(id)) << id;
    Advance(10 * kMinute);
    EXPECT_EQ(system.shellLaunches.size(), 1u);
    EXPECT_EQ(LogMessages(),
        (std::vector<std::string>{
            "->开始守护（用户操作）。。。", "->打开程序失败，错误码：2", "->停止守护（打开程序失败）。。。"}));
}

TEST_F(GuardEngineTest, GatewayDialogIsPressedOnlyWhenItHoldsTheFocus)
{
    view.settings->strExeName = u"ibgateway.exe";
    system.AddProcess(u"ibgateway.exe");
    system.windows = {{5, u"SunAwtDialog", u"要求重新登录", false}, {6, u"SunAwtDialog", u"Warning", false}};
    engine.Start(false, false);
    Advance(0);
    // "Warning" comes first in the order of titles; it refused the focus, so no key went anywhere.
    EXPECT_EQ(system.broughtToFront, std::vector<ForeignWindow>{6});
    EXPECT_TRUE(system.spacePresses.empty());

    system.windows[1].bringsToFront = true;
    Advance(10 * kSecond);
    EXPECT_EQ(system.spacePresses, std::vector<ForeignWindow>{6});
    EXPECT_EQ(LogMessages().back(), "->已确认网关对话框：Warning");

    // Another program's guarded image never gets the step.
    view.settings->strExeName = u"guarded.exe";
    engine.Stop(u"");
    engine.Start(false, false);
    Advance(10 * kSecond);
    EXPECT_EQ(system.spacePresses.size(), 1u);
}

TEST_F(GuardEngineTest, TheUsersStopAsksAndThenEndsEveryTimer)
{
    view.settings->bTimedClose = true;
    view.settings->strRebTime = u"12:02";
    engine.Start(false, false);
    Advance(0);
    ASSERT_TRUE(view.HasTimer(TIMER_RESTART));

    view.answers = {false};
    engine.StopAfterAsking();
    EXPECT_TRUE(engine.IsGuarding());

    engine.StopAfterAsking();
    EXPECT_FALSE(engine.IsGuarding());
    EXPECT_FALSE(engine.IsRestartPending());
    EXPECT_EQ(view.StatusText(), u"已停止守护。。。");
    for (unsigned id : {TIMER_LOOP, TIMER_RESTART, TIMER_LAUNCHED})
        EXPECT_FALSE(view.HasTimer(id)) << id;
    EXPECT_EQ(LogMessages().back(), "->停止守护（用户操作）。。。");
    // The program launched goes on running; its handle is let go of.
    EXPECT_EQ(system.CountProcessesNamed(u"guarded.exe"), 1u);
    EXPECT_EQ(system.released.size(), 1u);
}

}  // namespace

namespace {

// A launcher that starts the real program in the background and returns: the launch lives on
// in the program, so no second copy is launched, and the restart minute ends the program too.
TEST_F(GuardEngineTest, ALaunchLivesOnInWhatItStartedAndTheRestartEndsAllOfIt)
{
    view.settings->strFullPath = u"/opt/gateway/ibgateway.exe";
    view.settings->strExeName = u"ibgateway.exe";
    view.settings->nLoopSec = 1;
    view.settings->bTimedClose = true;
    view.settings->strRebTime = u"12:03";
    system.launchStartsProcess = u"ibgateway.exe";  // the launcher script
    engine.Start(false, false);
    Advance(0);
    ASSERT_EQ(system.shellLaunches.size(), 1u);
    const uint32_t launcher = system.lastLaunch;
    system.AddToLaunch(launcher, u"java");
    system.RemoveProcess(launcher);  // the launcher returned

    Advance(2 * kMinute);
    EXPECT_EQ(system.shellLaunches.size(), 1u) << "the program the launcher left runs";
    EXPECT_EQ(view.StatusText(), u"已启动，但找不到进程名：ibgateway.exe");

    // The restart minute ends what the launch started, then the check launches it again.
    Advance(kMinute + 30 * kSecond);
    EXPECT_EQ(system.CountProcessesNamed(u"java"), 0u);
    EXPECT_EQ(system.launchesEnded, std::vector<uint64_t>{launcher});
    Advance(3 * kSecond);
    EXPECT_EQ(system.shellLaunches.size(), 2u);
    EXPECT_EQ(system.CountProcessesNamed(u"ibgateway.exe"), 1u);
}

TEST_F(GuardEngineTest, AForegroundLauncherAndItsProgramBothGoAtTheRestart)
{
    view.settings->bTimedClose = true;
    view.settings->strRebTime = u"12:02";
    view.settings->strExeName = u"ibgateway";  // the launcher's name, which the system shows
    system.launchStartsProcess = u"ibgateway";
    engine.Start(false, false);
    Advance(0);
    system.AddToLaunch(system.lastLaunch, u"java");
    Advance(2 * kMinute + 21 * kSecond);  // the countdown's poll at 12:02:20 fired it
    EXPECT_EQ(system.CountProcessesNamed(u"ibgateway"), 0u);
    EXPECT_EQ(system.CountProcessesNamed(u"java"), 0u) << "the launcher's program would be a second copy";
    Advance(3 * kSecond);
    EXPECT_EQ(system.shellLaunches.size(), 2u);
}

// A process of the launch that outlives the restart's end (still dying, or one the system
// would not end) holds the relaunch back until it is gone: never two copies at once.
TEST_F(GuardEngineTest, TheRelaunchWaitsForTheLastProcessOfTheEndedLaunch)
{
    view.settings->bTimedClose = true;
    view.settings->strRebTime = u"12:02";
    view.settings->nLoopSec = 1;
    engine.Start(false, false);
    Advance(0);
    const uint32_t program = system.AddToLaunch(system.lastLaunch, u"java");
    system.processes.back().canOpen = false;
    Advance(2 * kMinute + 25 * kSecond);  // fired at 12:02:20
    EXPECT_EQ(system.CountProcessesNamed(u"guarded.exe"), 0u);
    EXPECT_EQ(system.shellLaunches.size(), 1u) << "the launch's java still runs";
    system.RemoveProcess(program);
    Advance(1 * kSecond);
    EXPECT_EQ(system.shellLaunches.size(), 2u);
}

// Another user's program of the same name is neither the guarded one nor ended by a restart.
TEST_F(GuardEngineTest, AnotherUsersProgramOfTheSameNameIsNotOurs)
{
    view.settings->bTimedClose = true;
    view.settings->strRebTime = u"12:02";
    system.AddProcess(u"guarded.exe");
    system.processes.back().ownUser = false;
    engine.Start(false, false);
    Advance(0);
    EXPECT_EQ(system.shellLaunches.size(), 1u);
    EXPECT_EQ(view.StatusText(), kLaunching);
    Advance(2 * kMinute + 21 * kSecond);  // the countdown's poll at 12:02:20 fired it
    ASSERT_EQ(system.CountProcessesNamed(u"guarded.exe"), 1u);
    EXPECT_FALSE(system.processes.front().ownUser) << "the other user's copy survives the restart";
    Advance(3 * kSecond);
    EXPECT_EQ(system.shellLaunches.size(), 2u);
}

// A script only the interpreter runs goes there, even when its path spells "exe".
TEST(LaunchMode, ScriptsGoToTheInterpreterWhateverThePathSpells)
{
    VirtualClock clock;
    FakeSystem system{clock};
    system.executablePrograms = {u"/home/u/bin/run"};
    system.scriptFiles = {u"/home/u/executables/run.sh"};
    const struct {
        const char16_t* path;
        bool shell;
    } cases[] = {
        {u"/home/u/executables/run.sh", false},
        {u"/home/u/executables/report.pdf", true},
        {u"C:\\Programs\\Tool.exe", true},
        {u"/home/u/bin/run", true},
        {u"/home/u/bin/start", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LaunchesThroughShell(c.path, system), c.shell) << px::ToUtf8(c.path);
}

}  // namespace
