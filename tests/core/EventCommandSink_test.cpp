// The event command as a sink of the guard's events, fed events directly: which events run the
// command, and what its environment holds.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SinkHost.h"
#include "guard/EventCommandSink.h"
#include "settings/GuardConfig.h"

namespace {

class EventCommandSinkTest : public ::testing::Test {
protected:
    EventCommandSinkTest()
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

    fake::SinkHost host;
    fake::VirtualClock& clock = host.clock;
    fake::FakeSystem& system = host.system;
    testsupport::MemoryFolder& memory = host.memory;
    GuardConfig config;
};

TEST_F(EventCommandSinkTest, EachEventWithANameRunsTheCommandWithItsExitAndTheRestartsSoFar)
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

TEST_F(EventCommandSinkTest, WithoutACommandNothingRuns)
{
    EventCommandSink sink(config);
    sink.OnEvent(GuardEvent(GuardEventKind::Died));
    EXPECT_TRUE(system.commands.empty());
}

}  // namespace
