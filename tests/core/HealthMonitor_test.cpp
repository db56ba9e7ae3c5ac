// The health probes on the fake host with the virtual clock: the grace period after a launch,
// failed checks counted in a row, the restart through the daily restart's path, and the stop
// that asks the program to close before ending it.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "GuardEngineFixture.h"
#include "base/Unicode.h"
#include "guard/HealthMonitor.h"
#include "guard/Metrics.h"
#include "resources/Resource.h"

using namespace fake;

namespace {

const std::string kStartedByUser = "->开始守护（用户操作）。。。";
const std::string kLaunchedEntry = "->程序未运行，已启动：/opt/guarded/guarded.exe";

// A guard of its own for one case of a table: its own clock, system, window and run log.
struct CaseGuard {
    explicit CaseGuard(GuardConfig config)
    {
        clock.Set(2026, 3, 10, 12, 0, 0);
        view.settings = std::move(config);
    }
    void Advance(int64_t ms) { view.AdvanceBy(engine, ms); }
    std::string LogText() const { return testsupport::GbkToUtf8(log.Text()); }

    VirtualClock clock;
    FakeSystem system{clock};
    ScopedSystem installed{system};
    FakeGuardView view{clock};
    GuardEngine engine{view};
    testsupport::CapturedStdout log;
};

class HealthProbeTest : public GuardEngineFixture {
protected:
    HealthProbeTest()
    {
        view.settings->probes.strTcp = u"4001";
        view.settings->probes.nGraceSec = 0;
    }

    // The program runs already when guarding starts; its pid.
    uint32_t StartWithProgramRunning()
    {
        const uint32_t pid = system.AddProcess(u"guarded.exe");
        engine.Start(false, false);
        return pid;
    }

    size_t HealthRestarts() const
    {
        size_t count = 0;
        for (const std::string& message : LogMessages())
            count += message.rfind("->健康探测失败，重启程序：", 0) == 0 ? 1 : 0;
        return count;
    }
};

TEST_F(HealthProbeTest, NothingIsJudgedDuringTheGracePeriodAfterTheLaunch)
{
    view.settings->probes.nGraceSec = 120;
    engine.Start(false, false);  // not running: launched at once, at 12:00:00

    Advance(119 * kSecond);
    EXPECT_EQ(system.connectsStarted, 0);
    EXPECT_EQ(view.trayHistory, std::vector<std::u16string>{u"启动宽限期"});

    // Checks at 12:02:00, :10 and :20 fail; the third one's answer, read at :23, restarts.
    Advance(23 * kSecond);
    EXPECT_EQ(system.connectsStarted, 3);
    EXPECT_TRUE(system.terminated.empty());
    Advance(1 * kSecond);
    EXPECT_EQ(system.terminated.size(), 1u);
    EXPECT_EQ(system.CountProcessesNamed(u"guarded.exe"), 0u);
    EXPECT_EQ(view.StatusText(), u"健康探测失败（tcp 127.0.0.1:4001），正在重启程序。。。");

    // The next check, three seconds on, launches it again, and a new grace period begins.
    Advance(3 * kSecond);
    EXPECT_EQ(system.shellLaunches.size(), 2u);
    EXPECT_EQ(LogMessages(),
        (std::vector<std::string>{kStartedByUser, kLaunchedEntry,
            "->健康探测失败，重启程序：tcp 127.0.0.1:4001：连接被拒绝（连续 3 次）", kLaunchedEntry}));
    Advance(100 * kSecond);
    EXPECT_EQ(system.connectsStarted, 3);
    EXPECT_EQ(system.OpenConnects(), 0u) << "every attempt is closed once read";
}

TEST_F(HealthProbeTest, FailuresShortOfTheCountThenARecoveryRestartNothing)
{
    StartWithProgramRunning();
    Advance(13 * kSecond);  // rounds read at :03 and :13 failed
    system.listeners[u"127.0.0.1:4001"] = ConnectState::Accepted;
    Advance(10 * kMinute);

    EXPECT_EQ(HealthRestarts(), 0u);
    EXPECT_TRUE(system.terminated.empty());
    EXPECT_EQ(
        view.trayHistory, (std::vector<std::u16string>{u"启动宽限期", u"探测失败 1/3", u"探测失败 2/3", u"健康"}));

    // Counting starts again from nothing: two more failures are still short of three.
    system.listeners.clear();
    Advance(20 * kSecond);
    EXPECT_EQ(HealthRestarts(), 0u);
    EXPECT_EQ(view.trayHistory.back(), u"探测失败 2/3");
}

TEST_F(HealthProbeTest, EachProbeRestartsAfterTheCountNamingWhatItSaw)
{
    const struct {
        const char* name;
        std::u16string tcp;
        bool window;
        std::u16string file;
        void (*arrange)(FakeSystem&, VirtualClock&);
        std::string entry;
    } cases[] = {
        {"tcp refused", u"127.0.0.1:4001", false, u"", [](FakeSystem&, VirtualClock&) {},
            "tcp 127.0.0.1:4001：连接被拒绝"},
        {"tcp never answered", u"localhost:4001", false, u"",
            [](FakeSystem& s, VirtualClock&) { s.listeners[u"127.0.0.1:4001"] = ConnectState::Pending; },
            "tcp 127.0.0.1:4001：3 秒内未接受连接"},
        {"hung window", u"", true, u"",
            [](FakeSystem& s, VirtualClock&) {
                s.windowAnswer = {2, 1};
            },
            "window：1 个窗口未响应"},
        {"heartbeat missing", u"", false, u"/run/hb", [](FakeSystem&, VirtualClock&) {},
            "file /run/hb：文件不存在或无法读取"},
        {"heartbeat stale", u"", false, u"/run/hb",
            [](FakeSystem& s, VirtualClock& c) { s.fileModifiedMs[u"/run/hb"] = c.NowMs() - 100 * kSecond; },
            "file /run/hb：已 123 秒未更新"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GuardConfig config = *view.settings;
        config.probes.strTcp = c.tcp;
        config.probes.bWindow = c.window;
        config.probes.strFile = c.file;
        config.strEventCmd = u"/usr/local/bin/on-event";
        CaseGuard g(config);
        const uint32_t pid = g.system.AddProcess(u"guarded.exe");
        c.arrange(g.system, g.clock);
        g.engine.Start(false, false);

        g.Advance(22 * kSecond);
        EXPECT_TRUE(g.system.terminated.empty());
        g.Advance(1 * kSecond);
        EXPECT_EQ(g.system.terminated, std::vector<uint32_t>{pid});
        EXPECT_NE(g.LogText().find("->健康探测失败，重启程序：" + c.entry + "（连续 3 次）"), std::string::npos)
            << g.LogText();
        // The restart is the event command's probe_restart and counted for the metrics file.
        ASSERT_EQ(g.system.commands.size(), 1u);
        EXPECT_EQ(g.system.commands[0].environment.front().name, u"PERENNIX_EVENT");
        EXPECT_EQ(g.system.commands[0].environment.front().value, u"probe_restart");
        EXPECT_EQ(g.engine.Counters().nProbeRestarts, 1u);
        EXPECT_EQ(g.engine.Counters().nProbeFailures, 3u);
        if (c.window) {
            EXPECT_EQ(g.system.windowAsks.front(), std::vector<uint32_t>{pid});
        }
        g.engine.Stop(u"");
    }
}

TEST_F(HealthProbeTest, EachFailedCheckIsCountedAndTheRestartIsAnEventAndARestartByProbe)
{
    view.settings->strEventCmd = u"/usr/local/bin/on-event";
    view.settings->probes.strFile = u"/run/hb";  // missing: a second probe failing at every check
    StartWithProgramRunning();
    Advance(23 * kSecond);  // the third check's answers restart the program

    ASSERT_EQ(system.commands.size(), 1u);
    std::map<std::u16string, std::u16string> environment;
    for (const EnvironmentVariable& variable : system.commands[0].environment)
        environment[variable.name] = variable.value;
    EXPECT_EQ(environment[u"PERENNIX_EVENT"], u"probe_restart");
    EXPECT_EQ(environment[u"PERENNIX_RESTARTS"], u"1");
    EXPECT_EQ(environment[u"PERENNIX_EXIT_CODE"], u"");
    EXPECT_EQ(engine.Counters().nProbeFailures, 6u);
    EXPECT_EQ(engine.Counters().nProbeRestarts, 1u);
    EXPECT_EQ(engine.Counters().nCrashRestarts, 0u);
    MetricsState state;
    state.counters = engine.Counters();
    const std::string metrics = MetricsText(state);
    EXPECT_NE(metrics.find("\nperennix_probe_failures_total{image=\"\",folder=\"\"} 6\n"), std::string::npos)
        << metrics;
    EXPECT_NE(metrics.find("\nperennix_restarts_total{image=\"\",folder=\"\",reason=\"probe\"} 1\n"), std::string::npos)
        << metrics;
}

TEST_F(HealthProbeTest, AProgramThatClosesWhenAskedIsNeverKilled)
{
    view.settings->probes.nStopTimeoutSec = 20;
    const uint32_t pid = StartWithProgramRunning();
    Advance(23 * kSecond);  // the third failed round asks it to close; it does

    EXPECT_EQ(system.closeAsked, std::vector<uint32_t>{pid});
    Advance(1 * kSecond + 3 * kSecond);  // the stop's tick sees it gone; the check after launches
    EXPECT_TRUE(system.terminated.empty());
    EXPECT_EQ(system.shellLaunches.size(), 1u);
    EXPECT_EQ(LogMessages(),
        (std::vector<std::string>{kStartedByUser,
            "->健康探测失败，重启程序：tcp 127.0.0.1:4001：连接被拒绝（连续 3 次）",
            "->已请求程序关闭，最多等待秒数：20", kLaunchedEntry}));
}

TEST_F(HealthProbeTest, AnIgnoredCloseEndsAtTheTimeoutAndARecoveryMeanwhileChangesNothing)
{
    view.settings->probes.nStopTimeoutSec = 20;
    system.AddProcess(u"guarded.exe");
    system.processes.back().closesWhenAsked = false;
    engine.Start(false, false);
    Advance(23 * kSecond);
    ASSERT_EQ(system.closeAsked.size(), 1u);

    // The port answers again while the stop waits: the program was asked to close, and the
    // restart goes on; no check judges or launches meanwhile.
    system.listeners[u"127.0.0.1:4001"] = ConnectState::Accepted;
    Advance(19 * kSecond);
    EXPECT_TRUE(engine.IsStopping());
    EXPECT_TRUE(system.terminated.empty());
    EXPECT_TRUE(system.shellLaunches.empty());
    EXPECT_EQ(system.connectsStarted, 3);

    Advance(1 * kSecond);  // 20 s after the request
    EXPECT_FALSE(engine.IsStopping());
    EXPECT_EQ(system.terminated.size(), 1u);
    Advance(3 * kSecond);
    EXPECT_EQ(system.shellLaunches.size(), 1u);
    EXPECT_EQ(HealthRestarts(), 1u);
    EXPECT_EQ(LogMessages().at(3), "->程序未在等待时间内关闭，已结束。。。");
}

TEST_F(HealthProbeTest, TheDailyRestartAsksFirstOnlyWhenAStopTimeoutIsSet)
{
    for (const int32_t timeout : {0, 30}) {
        SCOPED_TRACE(timeout);
        GuardConfig config = *view.settings;
        config.probes = ProbeSettings{};
        config.probes.nStopTimeoutSec = timeout;
        config.bTimedClose = true;
        config.strRebTime = u"12:03";
        config.nLoopSec = 60;
        CaseGuard g(config);
        g.system.AddProcess(u"guarded.exe");
        g.engine.Start(false, false);

        g.Advance(3 * kMinute + 31 * kSecond);  // the poll at 12:03:30 fires
        EXPECT_EQ(g.system.closeAsked.size(), timeout > 0 ? 1u : 0u);
        EXPECT_EQ(g.system.terminated.size(), timeout > 0 ? 0u : 1u);
        EXPECT_EQ(g.system.CountProcessesNamed(u"guarded.exe"), 0u);
        g.Advance(5 * kSecond);
        EXPECT_EQ(g.system.shellLaunches.size(), 1u);
        EXPECT_EQ(g.view.trayHistory, std::vector<std::u16string>{}) << "no probe, no health shown";
    }
}

TEST(HealthPolicy, StreaksCountEachProbeInARowAndNameTheFirstDue)
{
    FailStreaks streaks;
    const ProbeOutcome tcpFailed{ProbeKind::Tcp, true, u"tcp", u"x"};
    const ProbeOutcome fileFailed{ProbeKind::File, true, u"file", u"y"};
    const ProbeOutcome tcpPassed{ProbeKind::Tcp, false, u"tcp", u""};
    EXPECT_FALSE(streaks.Record({tcpFailed, fileFailed}, 2));
    EXPECT_FALSE(streaks.Record({tcpPassed, fileFailed}, 3));  // tcp back to 0, file at 2
    EXPECT_EQ(streaks.Longest(), 2);
    EXPECT_EQ(HealthText(streaks.Longest(), 3), u"探测失败 2/3");
    const std::optional<ProbeOutcome> due = streaks.Record({tcpFailed, fileFailed}, 3);
    ASSERT_TRUE(due);
    EXPECT_EQ(due->probe, u"file");
    EXPECT_EQ(HealthText(0, 3), u"健康");
}

}  // namespace
