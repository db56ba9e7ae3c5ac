#include "guard/DailyRestart.h"

#include <ctime>

#include "settings/GuardConfig.h"

namespace {

// A wall clock that ran this much ahead of real time between two looks was moved forward.
constexpr int64_t kClockJumpMs = 60 * 1000;
constexpr int64_t kMsPerDay = 24 * 60 * 60 * 1000;

int32_t MinuteOfDay(const std::tm& calendar) { return calendar.tm_hour * 60 + calendar.tm_min; }

int64_t DayNumber(int64_t wallMs) { return (wallMs >= 0 ? wallMs : wallMs - kMsPerDay + 1) / kMsPerDay; }

}  // namespace

// What one look at the clock found.
struct DailyRestart::Look {
    int32_t minute;  // of the day now
    int32_t day;  // of the year now
    int32_t weekday;  // 0 = Sunday
    // When the wall clock jumped forward since the last look: the minute of that look, or -1
    // when it was on an earlier day. Every minute after it up to now went by unseen.
    std::optional<int32_t> jumpedFrom;
};

void DailyRestart::Begin(const GuardConfig& config)
{
    m_bEnabled = config.bTimedClose;
    m_bCountdown = false;
    m_lastLook.reset();
    if (m_bEnabled)
        m_schedule.Rebuild(config.strRebTime);
    else
        m_schedule.Clear();
}

DailyRestart::Look DailyRestart::LookAtClock()
{
    const ClockReading now = ReadClocks();
    Look look{MinuteOfDay(now.calendar), now.calendar.tm_yday, now.calendar.tm_wday, std::nullopt};
    if (m_lastLook && WallClockJumpMs(*m_lastLook, now) >= kClockJumpMs) {
        const bool sameDay = DayNumber(m_lastLook->wallMs) == DayNumber(now.wallMs);
        look.jumpedFrom = sameDay ? MinuteOfDay(m_lastLook->calendar) : -1;
    }
    m_lastLook = now;
    return look;
}

DailyRestart::Answer DailyRestart::LookAhead()
{
    Answer answer;
    if (!m_bEnabled || m_bCountdown)
        return answer;
    const Look now = LookAtClock();
    FireJumpedOver(now, answer);
    if (const RestartEntry* entry = m_schedule.FindDueSoon(now.minute, now.day, now.weekday)) {
        answer.countdownFor = entry->minuteOfDay;
        m_bCountdown = true;
    }
    return answer;
}

DailyRestart::Answer DailyRestart::OnCountdownTick()
{
    Answer answer;
    const Look now = LookAtClock();
    if (FireJumpedOver(now, answer))
        return answer;
    if (RestartEntry* entry = m_schedule.FindDueNow(now.minute, now.day, now.weekday))
        Fire(*entry, now.day, answer);
    // Otherwise it is not the minute yet: the countdown polls again.
    return answer;
}

bool DailyRestart::FireJumpedOver(const Look& now, Answer& answer)
{
    // The wall clock skipped the minutes of these restart times (daylight saving time began,
    // or the clock was set forward): each fires now, in the first minute shown after the
    // jump, rather than not at all that day.
    if (!now.jumpedFrom)
        return false;
    bool fired = false;
    while (RestartEntry* entry = m_schedule.FindJumpedOver(*now.jumpedFrom, now.minute, now.day, now.weekday)) {
        Fire(*entry, now.day, answer);
        fired = true;
    }
    return fired;
}

void DailyRestart::Fire(RestartEntry& entry, int32_t dayNow, Answer& answer)
{
    answer.fired.push_back(entry.minuteOfDay);
    answer.countdownOver = true;
    m_bCountdown = false;
    entry.lastFiredDay = dayNow;
}
