// The gateway step on the fake host: the dialog table's actions (confirm, restart, alert), the
// user's title lists and what is wrong in them, the login watchdog, the command-line filter
// that tells the gateway's java from other Java programs, and the dialog a space key does not
// close.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GuardEngineFixture.h"
#include "base/Unicode.h"
#include "guard/GatewayRules.h"
#include "resources/Resource.h"

using namespace fake;

namespace {

class GatewayTest : public GuardEngineFixture {
protected:
    GatewayTest()
    {
        view.settings->strFullPath = u"/opt/ibgateway/ibgateway.exe";
        view.settings->strExeName = u"ibgateway.exe";
        system.launchStartsProcess = u"ibgateway.exe";
    }

    // The values the event command was run with for PERENNIX_EVENT, in order.
    std::vector<std::u16string> Events() const
    {
        std::vector<std::u16string> events;
        for (const FakeSystem::CommandRun& run : system.commands)
            for (const EnvironmentVariable& variable : run.environment)
                if (variable.name == u"PERENNIX_EVENT")
                    events.push_back(variable.value);
        return events;
    }

    bool Logged(const std::string& message) const
    {
        const std::vector<std::string> messages = LogMessages();
        return std::find(messages.begin(), messages.end(), message) != messages.end();
    }
};

TEST(GatewayRules, TheFourTitlesComeFirstThenTheUsersListsInTheirOrder)
{
    GatewaySettings settings;
    EXPECT_EQ(BuildGatewayRules(settings).rules,
        (std::vector<GatewayRule>{{u"Warning", GatewayAction::Confirm}, {u"警告", GatewayAction::Confirm},
            {u"Re-login is required", GatewayAction::Confirm}, {u"要求重新登录", GatewayAction::Confirm}}));
    EXPECT_TRUE(BuildGatewayRules(settings).ignored.empty());

    settings.strConfirm = u"Disclaimer; Accept ";
    settings.strRestart = u"Existing session detected;Login failed";
    settings.strAlert = u"Second Factor Authentication";
    const GatewayRules table = BuildGatewayRules(settings);
    ASSERT_EQ(table.rules.size(), 9u);
    EXPECT_EQ(table.rules[4], (GatewayRule{u"Disclaimer", GatewayAction::Confirm}));
    EXPECT_EQ(table.rules[5], (GatewayRule{u"Accept", GatewayAction::Confirm}));
    EXPECT_EQ(table.rules[6], (GatewayRule{u"Existing session detected", GatewayAction::Restart}));
    EXPECT_EQ(table.rules[7], (GatewayRule{u"Login failed", GatewayAction::Restart}));
    EXPECT_EQ(table.rules[8], (GatewayRule{u"Second Factor Authentication", GatewayAction::Alert}));
    EXPECT_EQ(table.loginTitles, (std::vector<std::u16string>{u"IBKR Gateway", u"IB Gateway"}));
}

TEST(GatewayRules, WhatIsWrongInAListIsLeftOutAndNamed)
{
    std::u16string thousand;
    for (int i = 0; i < 1000; ++i)
        thousand += u"Title " + px::FromUtf8(std::to_string(i)) + u";";
    const struct {
        const char* name;
        std::u16string confirm;
        std::u16string alert;
        size_t taken;  // titles taken beside the four
        std::vector<std::u16string> ignored;
    } cases[] = {
        {"empty entries", u";;A;; ;", u"", 1, {u"GW_CONFIRM：已忽略空条目 5 个"}},
        {"a thousand entries", thousand, u"", kMaxTitlesPerList,
            {u"GW_CONFIRM：已忽略空条目 1 个", u"GW_CONFIRM：最多 50 个标题，其余 950 个已忽略"}},
        {"control characters", u"Bad\ttab;Bell\a;Fine", u"Esc\x1b[0m", 1,
            {u"GW_CONFIRM：含控制字符，已忽略：Bad?tab", u"GW_CONFIRM：含控制字符，已忽略：Bell?",
                u"GW_ALERT：含控制字符，已忽略：Esc?[0m"}},
        {"a title twice, or one of the four", u"Warning;Twice", u"Twice", 1,
            {u"GW_CONFIRM：标题重复，已忽略：Warning", u"GW_ALERT：标题重复，已忽略：Twice"}},
        {"a title too long", std::u16string(300, u'x'), u"", 0,
            {u"GW_CONFIRM：标题过长，已忽略：" + std::u16string(40, u'x') + u"…"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GatewaySettings settings;
        settings.strConfirm = c.confirm;
        settings.strAlert = c.alert;
        const GatewayRules table = BuildGatewayRules(settings);
        EXPECT_EQ(table.rules.size(), 4 + c.taken);
        EXPECT_EQ(table.ignored, c.ignored);
    }
}

TEST_F(GatewayTest, TheIgnoredEntriesAreLoggedAtTheStart)
{
    view.settings->gateway.strConfirm = u";Fine;Bell\a";
    engine.Start(false, false);
    EXPECT_TRUE(Logged("->网关对话框规则：GW_CONFIRM：含控制字符，已忽略：Bell?"));
    EXPECT_TRUE(Logged("->网关对话框规则：GW_CONFIRM：已忽略空条目 1 个"));
}

TEST_F(GatewayTest, AConfirmTitleIsPressedOnlyWhenItsDialogIsInFront)
{
    view.settings->gateway.strConfirm = u"Disclaimer";
    system.AddProcess(u"ibgateway.exe");
    system.windows = {{5, u"SunAwtDialog", u"Disclaimer", false}};
    engine.Start(false, false);
    Advance(0);
    EXPECT_EQ(system.broughtToFront, std::vector<ForeignWindow>{5});
    EXPECT_TRUE(system.spacePresses.empty()) << "no key while another window holds the focus";

    system.windows[0].bringsToFront = true;
    Advance(10 * kSecond);
    EXPECT_EQ(system.spacePresses, std::vector<ForeignWindow>{5});
    EXPECT_EQ(LogMessages().back(), "->已确认网关对话框：Disclaimer");
}

TEST_F(GatewayTest, AnAlertTitleIsNeverPressedNorBroughtToFront)
{
    view.settings->gateway.strAlert = u"Second Factor Authentication";
    view.settings->strEventCmd = u"/usr/local/bin/on-event";
    system.AddProcess(u"ibgateway.exe");
    system.windows = {{5, u"SunAwtDialog", u"Second Factor Authentication"}, {6, u"SunAwtDialog", u"警告"}};
    engine.Start(false, false);
    Advance(0);
    // The warning below it in the table is still confirmed; the alert's dialog is not touched.
    EXPECT_EQ(system.spacePresses, std::vector<ForeignWindow>{6});
    Advance(5 * kMinute);
    EXPECT_EQ(system.broughtToFront, std::vector<ForeignWindow>{6});
    EXPECT_EQ(system.spacePresses, std::vector<ForeignWindow>{6});
    EXPECT_EQ(view.StatusText(), u"网关对话框需要您处理：Second Factor Authentication");
    // Told once for the window, however many checks see it.
    const std::vector<std::string> messages = LogMessages();
    EXPECT_EQ(std::count(
                  messages.begin(), messages.end(), "->网关对话框需要用户处理（未按键）：Second Factor Authentication"),
        1);
    EXPECT_EQ(Events(), std::vector<std::u16string>{u"gateway_alert"});
    // The user is told from the tray too, once.
    ASSERT_EQ(view.notifications.size(), 1u);
    EXPECT_EQ(view.notifications[0].text, u"网关对话框需要您处理：Second Factor Authentication");

    // Gone (the user answered it): the status line says the program runs.
    system.windows.clear();
    Advance(10 * kSecond);
    EXPECT_EQ(view.StatusText(), kRunning);
}

TEST_F(GatewayTest, ARestartTitleEndsTheProgramForTheNextCheckWithTheBackOff)
{
    view.settings->gateway.strRestart = u"Existing session detected";
    view.settings->strEventCmd = u"/usr/local/bin/on-event";
    engine.Start(false, false);
    Advance(0);  // launched
    ASSERT_EQ(system.shellLaunches.size(), 1u);
    Advance(30 * kSecond);
    system.windows = {{5, u"SunAwtDialog", u"Existing session detected"}};
    Advance(10 * kSecond);
    EXPECT_EQ(system.terminated.size(), 1u);
    EXPECT_TRUE(system.spacePresses.empty());
    EXPECT_TRUE(system.broughtToFront.empty());
    EXPECT_TRUE(Logged("->网关对话框要求重启程序：Existing session detected"));
    EXPECT_EQ(Events(), std::vector<std::u16string>{u"gateway_restart"});
    EXPECT_EQ(engine.Counters().nGatewayRestarts, 1u);
    ASSERT_EQ(view.notifications.size(), 1u);
    EXPECT_EQ(view.notifications[0].text, u"网关对话框要求重启（Existing session detected），正在重启程序。。。");
    system.windows.clear();
    Advance(3 * kSecond);
    ASSERT_EQ(system.shellLaunches.size(), 2u) << "launched again at the check 3 s later";

    // The dialog comes back after the relaunch: the second restart in a row waits before the
    // launch, LOOPSEC × 2.
    Advance(30 * kSecond);
    system.windows = {{6, u"SunAwtDialog", u"Existing session detected"}};
    Advance(10 * kSecond);
    EXPECT_EQ(system.terminated.size(), 2u);
    EXPECT_TRUE(Logged("->网关连续第 2 次重启，等待 20 秒后启动"));
    system.windows.clear();
    const int64_t restartedAt = clock.NowMs();
    Advance(30 * kSecond);
    ASSERT_EQ(system.shellLaunches.size(), 3u);
    EXPECT_GE(system.shellLaunches[2].atMs - restartedAt, 15 * kSecond);
    // Both restarts are restarts for the event command and the metrics file, not crashes.
    EXPECT_EQ(engine.Counters().nGatewayRestarts, 2u);
    EXPECT_EQ(engine.Counters().nCrashRestarts, 0u);
    EXPECT_EQ(engine.Counters().Restarts(), 2u);
}

TEST_F(GatewayTest, ALoginWindowStillUpAfterTheLoginTimeRestartsTheProgram)
{
    view.settings->gateway.nLoginSec = 180;
    engine.Start(false, false);
    Advance(0);
    const uint32_t gateway = system.lastLaunch;
    // The login window of the launched gateway, and a window of that title of another program.
    system.windows = {{5, u"SunAwtFrame", u"IBKR Gateway", true, false, {{u"ibgateway.exe", false}}, gateway},
        {6, u"Other", u"IB Gateway", true, false, {{u"editor", false}}, 77}};
    Advance(170 * kSecond);
    EXPECT_TRUE(system.terminated.empty()) << "not before the login time";
    Advance(20 * kSecond);
    EXPECT_EQ(system.terminated, std::vector<uint32_t>{gateway});
    EXPECT_TRUE(Logged("->登录窗口在启动 180 秒后仍未关闭，重启程序：IBKR Gateway"));

    // The next launch logs in in time: its login window is gone at 180 s, nothing happens.
    system.windows.erase(system.windows.begin());
    Advance(10 * kMinute);
    EXPECT_EQ(system.terminated.size(), 1u);
    EXPECT_EQ(system.shellLaunches.size(), 2u);
}

TEST_F(GatewayTest, TheLoginWatchIsOffByDefault)
{
    engine.Start(false, false);
    Advance(0);
    system.windows
        = {{5, u"SunAwtFrame", u"IBKR Gateway", true, false, {{u"ibgateway.exe", false}}, system.lastLaunch}};
    Advance(30 * kMinute);
    EXPECT_TRUE(system.terminated.empty());
}

TEST_F(GatewayTest, ADialogThatASpaceKeyDoesNotCloseIsLeftAloneAfterThreePresses)
{
    view.settings->strEventCmd = u"/usr/local/bin/on-event";
    system.AddProcess(u"ibgateway.exe");
    ForeignWin stuck{5, u"SunAwtDialog", u"Warning"};
    stuck.closesOnSpace = false;
    system.windows = {stuck};
    engine.Start(false, false);
    Advance(0);
    Advance(60 * kSecond);
    EXPECT_EQ(system.spacePresses, (std::vector<ForeignWindow>{5, 5, 5}));
    EXPECT_EQ(system.broughtToFront.size(), 3u) << "no focus taken after the third press";
    EXPECT_EQ(view.StatusText(), u"网关对话框按空格键无效，已不再按键：Warning");
    EXPECT_TRUE(Logged("->网关对话框按空格键 3 次后仍未关闭，不再按键：Warning"));
    EXPECT_EQ(Events(), std::vector<std::u16string>{u"gateway_stuck"});
    ASSERT_FALSE(view.notifications.empty());
    EXPECT_EQ(view.notifications.back().text, u"网关对话框按空格键无效，已不再按键：Warning");

    // Another dialog (a new window) is confirmed as always, and the stuck one is still left alone.
    system.windows.push_back({6, u"SunAwtDialog", u"Warning"});
    Advance(10 * kSecond);
    EXPECT_EQ(system.spacePresses, (std::vector<ForeignWindow>{5, 5, 5, 6}));
    Advance(60 * kSecond);
    EXPECT_EQ(system.spacePresses.size(), 4u);
}

TEST_F(GatewayTest, WithACommandLineFilterOnlyTheGatewaysJavaIsTheProgram)
{
    // The gateway runs as java beside another Java program; GATEWAY=1 runs the step for java.
    view.settings->strFullPath = u"/opt/ibgateway/ibgateway";
    view.settings->strExeName = u"java";
    view.settings->gateway.bGateway = true;
    view.settings->gateway.strMatchCmdline = u"ibgateway";
    view.settings->bTimedClose = true;
    view.settings->strRebTime = u"12:05";
    system.launchStartsProcess.clear();
    const uint32_t other = system.AddProcessWithCommandLine(u"java", u"java -jar /opt/ide/ide.jar");
    engine.Start(false, false);
    Advance(0);
    ASSERT_EQ(system.scripts.size(), 1u) << "the other java is not the gateway: the script is launched";
    const uint32_t gateway
        = system.AddProcessWithCommandLine(u"java", u"java -cp /opt/ibgateway/jars/* ibgateway.GWClient");
    // Both show a dialog of the same title: only the gateway's gets the key.
    system.windows = {{5, u"SunAwtDialog", u"要求重新登录", true, true, {{u"java", false}}, other},
        {6, u"SunAwtDialog", u"要求重新登录", true, true, {{u"java", false}}, gateway}};
    Advance(10 * kSecond);
    EXPECT_EQ(system.spacePresses, std::vector<ForeignWindow>{6});

    // The restart minute ends the gateway, never the other java.
    Advance(5 * kMinute);
    EXPECT_EQ(system.terminated, std::vector<uint32_t>{gateway});
    EXPECT_EQ(system.CountProcessesNamed(u"java"), 1u);
    EXPECT_TRUE(Logged("->12:5 触发，执行关闭。。。"));
    EXPECT_EQ(system.spacePresses.size(), 1u) << "the other java's dialog was never pressed";
}

TEST_F(GatewayTest, AProcessWhoseCommandLineIsUnknownCountsByItsNameAndIsNoted)
{
    view.settings->strExeName = u"java";
    view.settings->gateway.strMatchCmdline = u"ibgateway";
    system.AddProcess(u"java");  // the system does not tell its command line
    engine.Start(false, false);
    Advance(30 * kSecond);
    EXPECT_TRUE(system.shellLaunches.empty());
    const std::vector<std::string> messages = LogMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "->无法读取进程的命令行，此类进程仅按进程名匹配：java"), 1);
}

}  // namespace
