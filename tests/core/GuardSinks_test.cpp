// The event command and the metrics file as sinks of the guard's events, fed events directly:
// which events run the command and with what in its environment, and when the metrics file is
// written.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CapturedStdout.h"
#include "FakeSystem.h"
#include "MemoryFolder.h"
#include "guard/EventCommandSink.h"
#include "guard/MetricsSink.h"
#include "settings/GuardConfig.h"

namespace {

class GuardSinksTest : public ::testing::Test {
protected:
    GuardSinksTest()
    {
        clock.Set(2026, 3, 10, 12, 0, 0);
        config.strExeName = u"guarded.exe";
    }
    std::u16string Variable(size_t run, const std::u16string& name) const
    {
        for (const EnvironmentVariable& variable : system.commands.at(run).environment)
            if (variable.name == name)
                return variable.value;
        return u"(none)";
    }

    fake::VirtualClock clock;
    fake::FakeSystem system{clock};
    fake::ScopedSystem installed{system};
    testsupport::MemoryFolder memory;
    testsupport::CapturedStdout log;
    GuardConfig config;
};

TEST_F(GuardSinksTest, EachEventWithANameRunsTheCommandWithItsExitAndTheRestartsSoFar)
{
    config.strEventCmd = u"/usr/local/bin/on-event";
    EventCommandSink sink(config);
    GuardEvent died(GuardEventKind::Died);
    died.exit = ProcessExit{true, 9, u"SIGKILL"};
    died.status.counters.nCrashRestarts = 2;
    GuardEvent restart(GuardEventKind::Restart, RestartReason::LoginTimeout);
    restart.status.counters.nGatewayRestarts = 1;
    for (const GuardEvent& event : {GuardEvent(GuardEventKind::Launching), GuardEvent(GuardEventKind::CheckDone), died,
             GuardEvent(GuardEventKind::BackoffEnded), restart, GuardEvent(GuardEventKind::Stopped)})
        sink.OnEvent(event);

    ASSERT_EQ(system.commands.size(), 3u);
    EXPECT_EQ(Variable(0, u"PERENNIX_EVENT"), u"died");
    EXPECT_EQ(Variable(0, u"PERENNIX_EXIT_CODE"), u"SIGKILL");
    EXPECT_EQ(Variable(0, u"PERENNIX_RESTARTS"), u"2");
    EXPECT_EQ(Variable(0, u"PERENNIX_IMAGE"), u"guarded.exe");
    EXPECT_EQ(Variable(1, u"PERENNIX_EVENT"), u"login_timeout");
    EXPECT_EQ(Variable(1, u"PERENNIX_EXIT_CODE"), u"");
    EXPECT_EQ(Variable(1, u"PERENNIX_RESTARTS"), u"1");
    EXPECT_EQ(Variable(2, u"PERENNIX_EVENT"), u"stopped");
}

TEST_F(GuardSinksTest, WithoutACommandNothingRuns)
{
    EventCommandSink sink(config);
    sink.OnEvent(GuardEvent(GuardEventKind::Died));
    EXPECT_TRUE(system.commands.empty());
}

TEST_F(GuardSinksTest, MetricsAreWrittenAfterAChangedCheckOnceAMinuteAndAtOnceOnStop)
{
    memory.MakeFolder("metrics");
    config.strMetricsFile = memory.File("metrics/perennix.prom");
    MetricsSink sink(config);
    GuardEvent check(GuardEventKind::CheckDone);
    check.status.guarding = true;
    check.status.programUp = true;
    sink.OnEvent(check);
    const std::string first = memory.Read(config.strMetricsFile);
    EXPECT_NE(first.find("perennix_program_up{image=\"guarded.exe\""), std::string::npos);
    EXPECT_NE(first.find("} 1\n# HELP perennix_launches_total"), std::string::npos);

    memory.Write(config.strMetricsFile, "");
    sink.OnEvent(check);  // unchanged, within the minute: not written
    EXPECT_EQ(memory.Read(config.strMetricsFile), "");
    clock.SetMs(clock.NowMs() + 60 * 1000);
    sink.OnEvent(check);  // a minute on: written again
    EXPECT_EQ(memory.Read(config.strMetricsFile), first);

    GuardEvent stopped(GuardEventKind::Stopped);
    sink.OnEvent(stopped);  // at once, whatever the time
    EXPECT_NE(memory.Read(config.strMetricsFile).find("perennix_guarding{image=\"guarded.exe\""), std::string::npos);
    EXPECT_NE(memory.Read(config.strMetricsFile), first);
}

}  // namespace
