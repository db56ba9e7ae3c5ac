#pragma once
// The back-off: a program that keeps dying soon after its launch is launched ever less often,
// never given up on. The k-th quick exit in a row waits LOOPSEC × 2^k, up to the cap; never
// less than the loop, so a cap below it only means "no back-off beyond the loop". The policy,
// its memory and the release time live here; the clock is handed in.

#include <cstdint>
#include <string>

struct BackoffPolicy {
    bool enabled = true;  // BACKOFF
    int64_t loopMs = 1000;  // the check's interval
    int64_t capMs = 300000;  // BACKOFF_MAX_SEC
    int64_t minUptimeMs = 10000;  // MIN_UPTIME_SEC: an exit before this is a quick exit
};

// What an exit means for the next launch.
struct BackoffVerdict {
    bool quick = false;  // a quick exit with the back-off on: a wait follows
    bool grew = false;  // the wait is longer than the last one
    bool atCap = false;  // it grew to its cap, after more than one quick exit
    int64_t waitMs = 0;
    int32_t attempt = 0;  // quick exits in a row, this one included
};

class Backoff {
public:
    void SetPolicy(const BackoffPolicy& policy) { m_policy = policy; }
    // The run of quick exits is over (the program stayed up, was ended on purpose, or
    // guarding stopped); true when there was one.
    bool Reset();
    // The program ended upMs after its launch (launchKnown: this engine launched it, so its
    // uptime is known).
    BackoffVerdict InformOfExit(int64_t nowMs, bool launchKnown, int64_t upMs);
    // Restarts asked for launch after launch (a gateway dialog that keeps coming back): the
    // n-th in a row waits as the (n-1)-th quick exit does. The wait, or 0 when none.
    int64_t HoldForRestartsInRow(int64_t nowMs, int32_t restartsInRow);
    // The program has been up upMs since its launch: a run is over once that reaches the
    // minimum uptime. True when it ended a run.
    bool InformOfUptime(int64_t upMs);
    // The time left to wait at nowMs, or 0 when the next check may launch. Within half a loop
    // of its end the wait is over: the tick that falls there launches, not the one after it,
    // however the timer's ticks drift.
    int64_t RemainingMs(int64_t nowMs) const;

    int32_t Failures() const { return m_nFailures; }
    int64_t WaitMs() const { return m_waitMs; }
    // The wait after the n-th quick exit in a row.
    int64_t WaitAfter(int32_t n) const;

private:
    BackoffPolicy m_policy;
    int32_t m_nFailures = 0;
    int64_t m_waitMs = 0;
    int64_t m_releaseMs = 0;  // steady clock at the end of the wait
};

// The status line while the back-off waits: seconds left and the attempt it waits for.
std::u16string BackoffStatusText(int64_t seconds, int32_t attempt);
