// The back-off as a policy of its own: the waits after quick exits in a row, the cap, the
// release time with its half-loop rule, the end of a run, and the wait a run of restarts asks for.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "guard/Backoff.h"

namespace {

constexpr int64_t kSecondMs = 1000;

Backoff MakeBackoff(bool enabled, int64_t loopMs, int64_t capMs)
{
    Backoff backoff;
    backoff.SetPolicy(BackoffPolicy{enabled, loopMs, capMs, 10 * kSecondMs});
    return backoff;
}

TEST(Backoff, QuickExitsInARowWaitDoublingUpToTheCapWhichIsNeverBelowTheLoop)
{
    const struct {
        int64_t loopMs;
        int64_t capMs;
        std::vector<int64_t> waitsSec;
    } cases[] = {
        {1 * kSecondMs, 300 * kSecondMs, {2, 4, 8, 16, 32, 64, 128, 256, 300, 300}},
        {60 * kSecondMs, 300 * kSecondMs, {120, 240, 300, 300}},
        {60 * kSecondMs, 0, {60, 60, 60}},  // a cap below the loop: no back-off beyond the loop
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.loopMs);
        Backoff backoff = MakeBackoff(true, c.loopMs, c.capMs);
        std::vector<int64_t> waits;
        std::vector<bool> capped;
        for (size_t i = 0; i < c.waitsSec.size(); ++i) {
            const BackoffVerdict verdict = backoff.InformOfExit(0, true, 5 * kSecondMs);
            EXPECT_TRUE(verdict.quick);
            EXPECT_EQ(verdict.attempt, static_cast<int32_t>(i + 1));
            waits.push_back(verdict.waitMs / kSecondMs);
            capped.push_back(verdict.atCap);
        }
        EXPECT_EQ(waits, c.waitsSec);
        // The cap is told once: where the wait first grows to it after more than one exit.
        EXPECT_LE(std::count(capped.begin(), capped.end(), true), 1);
    }
}

TEST(Backoff, SlowExitsUnknownLaunchesAndAnOffSwitchNeverWait)
{
    Backoff off = MakeBackoff(false, kSecondMs, 300 * kSecondMs);
    EXPECT_FALSE(off.InformOfExit(0, true, 0).quick);
    Backoff on = MakeBackoff(true, kSecondMs, 300 * kSecondMs);
    EXPECT_FALSE(on.InformOfExit(0, true, 10 * kSecondMs).quick) << "up for the minimum uptime";
    EXPECT_FALSE(on.InformOfExit(0, false, 0).quick) << "not launched here: its uptime is unknown";
    EXPECT_EQ(on.Failures(), 0);
    EXPECT_EQ(on.RemainingMs(0), 0);
}

TEST(Backoff, TheWaitEndsHalfALoopEarlyAndARunEndsOnceTheProgramStaysUp)
{
    Backoff backoff = MakeBackoff(true, 10 * kSecondMs, 300 * kSecondMs);
    ASSERT_EQ(backoff.InformOfExit(1000, true, 0).waitMs, 20 * kSecondMs);  // released at 21 s
    EXPECT_EQ(backoff.RemainingMs(11 * kSecondMs), 10 * kSecondMs);
    EXPECT_EQ(backoff.RemainingMs(15 * kSecondMs + 1), 6 * kSecondMs - 1);
    EXPECT_EQ(backoff.RemainingMs(16 * kSecondMs), 0) << "within half a loop of its end";

    EXPECT_FALSE(backoff.InformOfUptime(9 * kSecondMs));
    EXPECT_EQ(backoff.Failures(), 1);
    EXPECT_TRUE(backoff.InformOfUptime(10 * kSecondMs));
    EXPECT_EQ(backoff.Failures(), 0);
    EXPECT_EQ(backoff.WaitMs(), 0);
    EXPECT_FALSE(backoff.Reset()) << "no run left to end";
}

TEST(Backoff, RestartsInARowWaitAsTheExitBeforeThemDid)
{
    Backoff backoff = MakeBackoff(true, 10 * kSecondMs, 300 * kSecondMs);
    EXPECT_EQ(backoff.HoldForRestartsInRow(0, 1), 0) << "the first restart waits for nothing";
    EXPECT_EQ(backoff.HoldForRestartsInRow(0, 2), 20 * kSecondMs);
    EXPECT_EQ(backoff.HoldForRestartsInRow(0, 4), 80 * kSecondMs);
    EXPECT_EQ(backoff.Failures(), 3);
    Backoff off = MakeBackoff(false, 10 * kSecondMs, 300 * kSecondMs);
    EXPECT_EQ(off.HoldForRestartsInRow(0, 4), 0);
}

}  // namespace
