// The metrics file as a sink of the guard's events, fed events directly: written after a check
// that changed it, once a minute unchanged, and at once when guarding stops.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SinkHost.h"
#include "guard/MetricsSink.h"
#include "settings/GuardConfig.h"

namespace {

class MetricsSinkTest : public ::testing::Test {
protected:
    MetricsSinkTest()
    {
        clock.Set(2026, 3, 10, 12, 0, 0);
        config.strExeName = u"guarded.exe";
    }

    fake::SinkHost host;
    fake::VirtualClock& clock = host.clock;
    fake::FakeSystem& system = host.system;
    testsupport::MemoryFolder& memory = host.memory;
    GuardConfig config;
};

TEST_F(MetricsSinkTest, MetricsAreWrittenAfterAChangedCheckOnceAMinuteAndAtOnceOnStop)
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
