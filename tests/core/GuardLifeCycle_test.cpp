// The guard engine's life cycle on the fake host and the virtual clock: the one state and the
// timers each state keeps, counters that belong to the program guarded, one restart for one
// launch however restarts overlap, and a failing probe in the status line.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "GuardEngineFixture.h"
#include "resources/Resource.h"

using namespace fake;

namespace {

class GuardLifeCycleTest : public GuardEngineFixture {
protected:
    std::vector<std::u16string> CommandValues(const std::u16string& name) const
    {
        std::vector<std::u16string> values;
        for (const auto& run : system.commands)
            for (const EnvironmentVariable& variable : run.environment)
                if (variable.name == name)
                    values.push_back(variable.value);
        return values;
    }
    bool AnyGuardTimer() const
    {
        for (const unsigned id : {TIMER_LOOP, TIMER_LAUNCHED, TIMER_RESTART, TIMER_PROBE, TIMER_STOP})
            if (view.HasTimer(id))
                return true;
        return false;
    }
};

TEST_F(GuardLifeCycleTest, OneStateFollowsTheProgramAndStoppingLeavesNoGuardTimer)
{
    view.settings->probes.strTcp = u"4001";
    view.settings->probes.nGraceSec = 0;
    view.settings->probes.nStopTimeoutSec = 20;
    EXPECT_EQ(engine.State(), GuardState::Idle);
    engine.Start(false, false);
    EXPECT_EQ(engine.State(), GuardState::Down);
    Advance(0);  // launched at once
    EXPECT_EQ(engine.State(), GuardState::Up);

    // The third failed probe asks the program to close: the probe's timer goes with Up.
    system.processes.back().closesWhenAsked = false;
    Advance(33 * kSecond);
    EXPECT_EQ(engine.State(), GuardState::Closing);
    EXPECT_TRUE(view.HasTimer(TIMER_STOP));
    EXPECT_FALSE(view.HasTimer(TIMER_PROBE));
    Advance(10 * kSecond);  // ended at the timeout, 20 s after the request at :23
    EXPECT_EQ(engine.State(), GuardState::Ending);
    EXPECT_FALSE(view.HasTimer(TIMER_STOP));
    Advance(3 * kSecond);
    EXPECT_EQ(engine.State(), GuardState::Up);

    // A program that dies at once backs off.
    system.launchStartsProcess.clear();
    system.launchEndsAtOnce = kExit3;
    system.RemoveProcessesNamed(u"guarded.exe");
    Advance(10 * kSecond);  // found gone: relaunched (it had stayed up long enough)
    Advance(10 * kSecond);  // gone again within a second: a quick exit
    EXPECT_EQ(engine.State(), GuardState::BackingOff);

    engine.Stop(u"已停止守护。。。");
    EXPECT_EQ(engine.State(), GuardState::Idle);
    EXPECT_FALSE(AnyGuardTimer());
}

TEST_F(GuardLifeCycleTest, CountersStartFromZeroForAnotherProgramAndGoOnForTheSameOne)
{
    view.settings->strEventCmd = u"/usr/local/bin/on-event";
    view.settings->bBackoff = false;
    view.settings->nLoopSec = 1;
    system.launchStartsProcess.clear();
    system.launchEndsAtOnce = kExit3;
    engine.Start(false, false);
    Advance(3500);  // launched at 0, 1, 2 and 3 s: three restarts
    engine.Stop(u"已停止守护。。。");
    ASSERT_EQ(engine.Counters().Restarts(), 3u);

    // The same program again: its counters go on.
    engine.Start(false, false);
    Advance(500);
    EXPECT_EQ(engine.Counters().Restarts(), 4u);
    engine.Stop(u"已停止守护。。。");

    // Another program: its first exit reports no restart, and its counters hold only its own.
    system.commands.clear();
    view.settings->strFullPath = u"/opt/other/other.exe";
    view.settings->strExeName = u"other.exe";
    engine.Start(false, false);
    Advance(1200);  // launched at once, found gone a second later
    const std::vector<std::u16string> events = CommandValues(u"PERENNIX_EVENT");
    const std::vector<std::u16string> restarts = CommandValues(u"PERENNIX_RESTARTS");
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), u"died");
    EXPECT_EQ(restarts.front(), u"0");
    EXPECT_EQ(engine.Counters().nLaunches, 2u);
    EXPECT_EQ(engine.Counters().Restarts(), 1u);
}

TEST_F(GuardLifeCycleTest, ADailyRestartDuringAProbeRestartsCloseIsTheSameRestart)
{
    // 12:00 lies 90 s ahead at the start; the probe asks the program to close at 11:58:53 and
    // waits up to two minutes: the restart time falls within that wait.
    clock.Set(2026, 3, 10, 11, 58, 30);
    view.settings->probes.strTcp = u"4001";
    view.settings->probes.nGraceSec = 0;
    view.settings->probes.nStopTimeoutSec = 120;
    view.settings->bTimedClose = true;
    view.settings->strRebTime = u"12:00";
    view.settings->strEventCmd = u"/usr/local/bin/on-event";
    system.AddProcess(u"guarded.exe");
    system.processes.back().closesWhenAsked = false;
    engine.Start(false, false);
    Advance(2 * kMinute + 45 * kSecond);  // ended at 12:00:53, launched again at 12:00:56
    ASSERT_TRUE(engine.IsGuarding());

    EXPECT_EQ(system.closeAsked.size(), 1u);
    EXPECT_EQ(system.terminated.size(), 1u);
    EXPECT_EQ(system.shellLaunches.size(), 1u);
    EXPECT_EQ(engine.Counters().nProbeRestarts, 1u);
    EXPECT_EQ(engine.Counters().nDailyRestarts, 0u);
    EXPECT_EQ(engine.Counters().Restarts(), 1u);
    EXPECT_EQ(CommandValues(u"PERENNIX_EVENT"), std::vector<std::u16string>{u"probe_restart"});
    const std::vector<std::string> messages = LogMessages();
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                  [](const std::string& m) { return m.find("触发") != std::string::npos; }),
        0);
    EXPECT_FALSE(engine.IsRestartPending()) << "the restart time is spent for the day";
}

TEST_F(GuardLifeCycleTest, AFailingProbeShowsInTheStatusLineUntilItPassesAgain)
{
    view.settings->probes.strTcp = u"4001";
    view.settings->probes.nGraceSec = 0;
    system.AddProcess(u"guarded.exe");
    engine.Start(false, false);
    Advance(3 * kSecond);  // the first round, read at :03, failed
    EXPECT_EQ(view.StatusText(), u"守护正在运行，探测失败 1/3。。。");
    Advance(10 * kSecond);
    EXPECT_EQ(view.StatusText(), u"守护正在运行，探测失败 2/3。。。");
    EXPECT_EQ(engine.HealthText(), u"探测失败 2/3");

    system.listeners[u"127.0.0.1:4001"] = ConnectState::Accepted;
    Advance(10 * kSecond);
    EXPECT_EQ(view.StatusText(), u"守护正在运行。。。");
    EXPECT_EQ(engine.HealthText(), u"健康");
    EXPECT_TRUE(system.terminated.empty());
}

}  // namespace
