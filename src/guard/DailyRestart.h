#pragma once
// The daily restart as a part of the guard: the schedule of restart times, the countdown that
// is armed when one lies a few minutes ahead, and the wall clock's jumps (a restart time the
// clock skipped fires in the first minute after the jump). It answers with the restart times
// that fire and whether the countdown is to run; the engine acts on them.

#include <cstdint>
#include <optional>
#include <vector>

#include "guard/RestartSchedule.h"

struct GuardConfig;

class DailyRestart {
public:
    struct Answer {
        std::vector<int32_t> fired;  // the restart times that fire now, minutes of the day
        std::optional<int32_t> countdownFor;  // the countdown is armed now for this time
        bool countdownOver = false;  // the countdown ends now (a time fired)
    };

    // Guarding starts with config: the schedule rebuilt, clock jumps counted from the next look.
    void Begin(const GuardConfig& config);
    // Guarding stopped: no countdown.
    void End() { m_bCountdown = false; }
    // A check: the restart times the clock jumped over fire; one lying one to four minutes ahead
    // arms the countdown.
    Answer LookAhead();
    // The countdown's tick: in a restart's minute, it fires.
    Answer OnCountdownTick();

    bool IsCountdownArmed() const { return m_bCountdown; }
    const RestartSchedule& Schedule() const { return m_schedule; }

private:
    struct Look;
    Look LookAtClock();
    // Fires the restarts whose times the wall clock jumped over since the last look.
    bool FireJumpedOver(const Look& now, Answer& answer);
    void Fire(RestartEntry& entry, int32_t dayNow, Answer& answer);

    RestartSchedule m_schedule;
    bool m_bEnabled = false;
    bool m_bCountdown = false;
    std::optional<ClockReading> m_lastLook;  // the clocks at the schedule's last look
};
