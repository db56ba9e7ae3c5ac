// The daily restart as a part of its own, on the virtual clock: the countdown armed once for
// the first time a few minutes ahead, the time fired in its minute and once that day, the
// times a clock change skipped fired at the first look after it, and nothing when it is off.

#include <gtest/gtest.h>

#include <vector>

#include "FakeSystem.h"
#include "guard/DailyRestart.h"
#include "settings/GuardConfig.h"

namespace {

constexpr int32_t Minute(int32_t hour, int32_t minute) { return hour * 60 + minute; }

class DailyRestartTest : public ::testing::Test {
protected:
    void Begin(const std::u16string& times, bool enabled = true)
    {
        GuardConfig config;
        config.bTimedClose = enabled;
        config.strRebTime = times;
        daily.Begin(config);
    }

    fake::VirtualClock clock;
    fake::FakeSystem system{clock};
    fake::ScopedSystem installed{system};
    DailyRestart daily;
};

TEST_F(DailyRestartTest, TheCountdownIsArmedOnceAndItsTimeFiresInItsMinuteOnceADay)
{
    clock.Set(2026, 3, 10, 12, 0, 30);
    Begin(u"12:03;12:05");
    DailyRestart::Answer answer = daily.LookAhead();
    EXPECT_EQ(answer.countdownFor, Minute(12, 3));
    EXPECT_TRUE(answer.fired.empty());
    EXPECT_TRUE(daily.IsCountdownArmed());
    EXPECT_FALSE(daily.LookAhead().countdownFor) << "armed already";

    clock.Set(2026, 3, 10, 12, 2, 59);
    EXPECT_TRUE(daily.OnCountdownTick().fired.empty()) << "not its minute yet";
    clock.Set(2026, 3, 10, 12, 3, 10);
    answer = daily.OnCountdownTick();
    EXPECT_EQ(answer.fired, std::vector<int32_t>{Minute(12, 3)});
    EXPECT_TRUE(answer.countdownOver);
    EXPECT_FALSE(daily.IsCountdownArmed());

    // The next time is looked for; 12:03 is spent for the day.
    EXPECT_EQ(daily.LookAhead().countdownFor, Minute(12, 5));
    clock.Set(2026, 3, 10, 12, 5, 0);
    EXPECT_EQ(daily.OnCountdownTick().fired, std::vector<int32_t>{Minute(12, 5)});
    clock.Set(2026, 3, 10, 12, 3, 30);  // set back into the minute: fired once that day
    EXPECT_TRUE(daily.OnCountdownTick().fired.empty());
    clock.Set(2026, 3, 11, 12, 1, 0);  // the next day it is due again
    EXPECT_EQ(daily.LookAhead().countdownFor, Minute(12, 3));
}

TEST_F(DailyRestartTest, TimesTheClockSkippedFireAtTheFirstLookAfterTheJump)
{
    clock.SetZone(fake::kNewYork);
    clock.Set(2026, 3, 8, 1, 50, 0);  // at 02:00 the clock shows 03:00
    Begin(u"02:15;02:45;05:00");
    EXPECT_FALSE(daily.LookAhead().countdownFor);
    clock.SetMs(clock.NowMs() + 15 * 60 * 1000);  // 03:05 on the wall clock
    const DailyRestart::Answer answer = daily.LookAhead();
    EXPECT_EQ(answer.fired, (std::vector<int32_t>{Minute(2, 15), Minute(2, 45)}));
    EXPECT_FALSE(answer.countdownFor);
}

TEST_F(DailyRestartTest, OffItNeitherArmsNorFires)
{
    clock.Set(2026, 3, 10, 12, 0, 30);
    Begin(u"12:03", false);
    EXPECT_FALSE(daily.LookAhead().countdownFor);
    EXPECT_TRUE(daily.Schedule().IsEmpty());
    EXPECT_FALSE(daily.IsCountdownArmed());
}

}  // namespace
