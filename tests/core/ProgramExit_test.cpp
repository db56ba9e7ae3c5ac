// A program that ends under the guard: the back-off of quick exits, how it ended in the log,
// the event command's runs and the metrics file, on the fake host and virtual time.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "GuardEngineFixture.h"
#include "GuardTexts.h"
#include "TestGbk.h"
#include "guard/GuardEngine.h"
#include "guard/Metrics.h"
#include "platform/Files.h"
#include "resources/Resource.h"

using namespace fake;

namespace {

class ProgramExitTest : public ExitingProgramFixture {
protected:
    // The seconds between launches, in order.
    std::vector<int64_t> LaunchGaps() const
    {
        std::vector<int64_t> gaps;
        for (size_t i = 1; i < system.shellLaunches.size(); ++i)
            gaps.push_back((system.shellLaunches[i].atMs - system.shellLaunches[i - 1].atMs) / kSecond);
        return gaps;
    }

    const std::u16string* CommandVariable(size_t run, const std::u16string& name) const
    {
        for (const EnvironmentVariable& variable : system.commands.at(run).environment)
            if (variable.name == name)
                return &variable.value;
        return nullptr;
    }
};

TEST_F(ProgramExitTest, AnHourOfExitsAtOnceWaitsDoublingToTheCapAndLogsAFewDozenLines)
{
    system.launchEndsAtOnce = kExit3;
    engine.Start(false, false);
    Advance(60 * kMinute);

    // After the first launch, each quick exit waits LOOPSEC × 2^k (the wait begins at the check
    // that finds it gone, one loop after the launch) until 300 s; it never gives up.
    const std::vector<int64_t> gaps = LaunchGaps();
    const std::vector<int64_t> ramp = {3, 5, 9, 17, 33, 65, 129, 257, 301};
    ASSERT_GT(gaps.size(), ramp.size() + 2);
    EXPECT_EQ(std::vector<int64_t>(gaps.begin(), gaps.begin() + ramp.size()), ramp);
    EXPECT_TRUE(std::all_of(gaps.begin() + ramp.size(), gaps.end(), [](int64_t gap) { return gap == 301; }));
    EXPECT_TRUE(engine.IsGuarding());
    EXPECT_EQ(engine.BackoffWaitMs(), 300 * kSecond);

    const std::vector<std::string> messages = LogMessages();
    EXPECT_LT(messages.size(), 50u);
    // One exit line for the whole run; the same exit again is only counted.
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "->程序已退出，退出码：3"), 1);
    EXPECT_EQ(messages[3], "->程序启动后不到 10 秒即退出，等待 2 秒后重启（第 1 次）");
    EXPECT_NE(std::find(messages.begin(), messages.end(), "->程序启动后不到 10 秒即退出，等待 300 秒后重启（第 9 次）"),
        messages.end());

    // The status line counts the wait down.
    EXPECT_EQ(view.StatusText().substr(0, 3), u"等待 ");
    EXPECT_NE(std::find(view.statusHistory.begin(), view.statusHistory.end(), u"等待 300 秒后重启（第 9 次）"),
        view.statusHistory.end());

    // Stopping ends the run: the repeats are counted in one line.
    engine.Stop(u"已停止守护。。。");
    const std::string last = LogMessages().back();
    EXPECT_EQ(last, "->同样的退出又重复了 " + std::to_string(system.shellLaunches.size() - 1) + " 次");
}

TEST_F(ProgramExitTest, AProgramThatStaysUpEndsTheRunAndTheNextExitStartsOver)
{
    system.launchEndsAtOnce = kExit3;
    engine.Start(false, false);
    Advance(1 * kMinute);  // launches at 0, 3, 8, 17, 34 s: waiting 32 s now, until 67 s
    ASSERT_EQ(system.shellLaunches.size(), 5u);
    EXPECT_EQ(engine.QuickExits(), 5);

    // The next launch stays up.
    system.launchEndsAtOnce.reset();
    system.launchStartsProcess = u"guarded.exe";
    Advance(10 * kSecond);
    ASSERT_EQ(system.shellLaunches.size(), 6u);
    EXPECT_EQ(engine.QuickExits(), 5) << "not yet up for the minimum uptime";
    Advance(10 * kSecond);
    EXPECT_EQ(engine.QuickExits(), 0);
    EXPECT_EQ(engine.BackoffWaitMs(), 0);
    EXPECT_EQ(view.StatusText(), kRunning);
    EXPECT_EQ(LogMessages().back(), "->同样的退出又重复了 4 次");

    // Killed by a signal after a long run: relaunched at the next check, as without back-off.
    system.EndLaunch(system.lastLaunch, kKilled);
    Advance(1 * kSecond);
    ASSERT_EQ(system.shellLaunches.size(), 7u);
    const std::vector<std::string> messages = LogMessages();
    EXPECT_EQ(messages[messages.size() - 2], "->程序已退出，被信号结束：SIGKILL (9)");
    EXPECT_EQ(messages.back(), "->程序未运行，已启动：/opt/guarded/guarded.exe");
    EXPECT_EQ(engine.QuickExits(), 0);
}

TEST_F(ProgramExitTest, WithBackoffOffEveryCheckLaunchesAndDifferentExitsAreEachLogged)
{
    view.settings->bBackoff = false;
    system.launchEndsAtOnce = kExit3;
    engine.Start(false, false);
    Advance(10 * kSecond);
    EXPECT_EQ(LaunchGaps(), std::vector<int64_t>(10, 1));
    EXPECT_EQ(engine.QuickExits(), 0);

    // With back-off on, a different exit within a run is written, the repeats before it counted.
    view.settings->bBackoff = true;
    engine.Stop(u"");
    engine.Start(false, false);
    Advance(3 * kSecond);
    system.launchEndsAtOnce = kKilled;
    Advance(12 * kSecond);
    std::vector<std::string> messages = LogMessages();
    std::vector<std::string> exits;
    std::copy_if(messages.begin(), messages.end(), std::back_inserter(exits), [](const std::string& m) {
        return m.find("退出") != std::string::npos && m.find("启动后") == std::string::npos;
    });
    EXPECT_EQ(exits.back(), "->程序已退出，被信号结束：SIGKILL (9)");
    EXPECT_EQ(exits[exits.size() - 2], "->同样的退出又重复了 1 次");
}

TEST_F(ProgramExitTest, EventCommandsGetTheEventInTheirEnvironmentAndTheirFailuresAreLogged)
{
    view.settings->strEventCmd = u"/usr/local/bin/on-event";
    system.launchStartsProcess = u"guarded.exe";
    engine.Start(false, false);
    Advance(5 * kSecond);
    system.EndLaunch(system.lastLaunch, kExit3);
    Advance(1 * kSecond);

    ASSERT_GE(system.commands.size(), 1u);
    EXPECT_EQ(system.commands[0].program, u"/usr/local/bin/on-event");
    struct Expected {
        const char16_t* name;
        const char16_t* value;
    };
    for (const Expected& e : {Expected{u"PERENNIX_EVENT", u"died"}, Expected{u"PERENNIX_IMAGE", u"guarded.exe"},
             Expected{u"PERENNIX_EXIT_CODE", u"3"}, Expected{u"PERENNIX_RESTARTS", u"0"}}) {
        const std::u16string* value = CommandVariable(0, e.name);
        ASSERT_NE(value, nullptr) << testsupport::GbkToUtf8(GetFiles().EncodeGbk(e.name));
        EXPECT_EQ(*value, e.value);
    }
    // The quick exit begins a back-off, an event of its own.
    ASSERT_EQ(system.commands.size(), 2u);
    EXPECT_EQ(*CommandVariable(1, u"PERENNIX_EVENT"), u"backoff");

    // The first command fails; the guard learns it at a later check and logs it.
    Advance(3 * kSecond);  // relaunched after the wait
    system.commandExits[0] = ProcessExit{false, 127, u""};
    system.commandStarts = false;
    engine.StopAfterAsking();
    ASSERT_EQ(system.commands.size(), 3u);
    EXPECT_EQ(*CommandVariable(2, u"PERENNIX_EVENT"), u"stopped");
    EXPECT_EQ(*CommandVariable(2, u"PERENNIX_RESTARTS"), u"1");
    const std::vector<std::string> messages = LogMessages();
    EXPECT_NE(std::find(messages.begin(), messages.end(), "->事件命令失败，退出码：127"), messages.end());
    EXPECT_NE(
        std::find(messages.begin(), messages.end(), "->事件命令无法启动：/usr/local/bin/on-event"), messages.end());
}

TEST_F(ProgramExitTest, TheDailyRestartAndAFailedLaunchAreEventsAndNoExits)
{
    view.settings->strEventCmd = u"/usr/local/bin/on-event";
    view.settings->bTimedClose = true;
    view.settings->strRebTime = u"12:02";
    system.launchStartsProcess = u"guarded.exe";
    engine.Start(false, false);
    Advance(3 * kMinute);
    std::vector<std::u16string> events;
    for (size_t i = 0; i < system.commands.size(); ++i)
        events.push_back(*CommandVariable(i, u"PERENNIX_EVENT"));
    EXPECT_EQ(events, std::vector<std::u16string>{u"daily_restart"});
    EXPECT_EQ(engine.Counters().nDailyRestarts, 1u);
    EXPECT_EQ(engine.Counters().nCrashRestarts, 0u);
    EXPECT_EQ(engine.Counters().nLaunches, 2u);

    system.shellResult = 2;
    system.RemoveProcessesNamed(u"guarded.exe");
    Advance(1 * kSecond);
    EXPECT_FALSE(engine.IsGuarding());
    events.clear();
    for (size_t i = 0; i < system.commands.size(); ++i)
        events.push_back(*CommandVariable(i, u"PERENNIX_EVENT"));
    EXPECT_EQ(events, (std::vector<std::u16string>{u"daily_restart", u"died", u"launch_failed", u"stopped"}));
}

TEST_F(ProgramExitTest, MetricsFileIsWrittenOnChangeAndEveryMinuteAndAFailureIsLoggedOnce)
{
    memory.MakeFolder("metrics");
    const std::u16string path = memory.File("metrics/perennix.prom");
    view.settings->strMetricsFile = path;
    view.settings->nLoopSec = 5;
    system.launchStartsProcess = u"guarded.exe";
    engine.Start(false, false);
    Advance(0);
    const std::optional<std::string> first = GetFiles().ReadWholeFile(path);
    ASSERT_TRUE(first);
    EXPECT_NE(first->find("perennix_launches_total{image=\"guarded.exe\",folder=\""), std::string::npos);
    EXPECT_NE(first->find("perennix_guarding{"), std::string::npos);
    const int writes = memory.files.writes;

    // Unchanged: not written again before a minute has passed, then once.
    Advance(55 * kSecond);
    EXPECT_EQ(memory.files.writes, writes);
    Advance(5 * kSecond);
    EXPECT_EQ(memory.files.writes, writes + 1);
    // A change is written at the check that made it.
    system.RemoveProcessesNamed(u"guarded.exe");
    Advance(5 * kSecond);
    EXPECT_EQ(memory.files.writes, writes + 2);
    EXPECT_NE(GetFiles().ReadWholeFile(path)->find("reason=\"crash\"} 1\n"), std::string::npos);

    // A path that cannot be written: one log line, guarding goes on.
    memory.files.unwritable.insert(path);
    system.RemoveProcessesNamed(u"guarded.exe");
    Advance(2 * kMinute);
    const std::vector<std::string> messages = LogMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(),
                  "->无法写入指标文件：" + testsupport::GbkToUtf8(GetFiles().EncodeGbk(path))),
        1);
    EXPECT_TRUE(engine.IsGuarding());
}

TEST(MetricsText, EscapesLabelsAndCarriesEveryMetric)
{
    MetricsState state;
    state.image = u"a\"b.exe";
    state.folder = u"C:\\Perennix\n";
    state.guarding = true;
    state.backoffSeconds = 2.5;
    state.counters.nLaunches = 7;
    state.counters.nCrashRestarts = 6;
    state.counters.lastLaunchUnixSec = 1700000000;
    const std::string text = MetricsText(state);
    const std::string labels = "{image=\"a\\\"b.exe\",folder=\"C:\\\\Perennix\\n\"";
    for (const std::string& line : {"perennix_guarding" + labels + "} 1", "perennix_program_up" + labels + "} 0",
             "perennix_launches_total" + labels + "} 7", "perennix_probe_failures_total" + labels + "} 0",
             "perennix_restarts_total" + labels + ",reason=\"crash\"} 6",
             "perennix_last_launch_timestamp_seconds" + labels + "} 1700000000",
             "perennix_backoff_seconds" + labels + "} 2.5"})
        EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << line;
}

}  // namespace
