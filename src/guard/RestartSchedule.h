#pragma once
// The daily restart times, as minutes of the day, each with the day of the year it last fired.

#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct SystemTime;

struct RestartEntry {
    int32_t minuteOfDay = 0;
    std::optional<int32_t> lastFiredDay;  // none: not fired since the last rebuild
    std::optional<int32_t> weekday;  // 0 = Sunday: fires on that day of the week only; none: daily
};

class RestartSchedule {
public:
    // Empties the schedule.
    void Clear();
    // Empties the schedule and fills it from "HH:MM;HH:MM..." text, every entry not fired.
    // A piece may begin with a day of the week ("Sun 13:00", "周日 13:00"): it fires on that
    // day only. Pieces shorter than three characters, and pieces that begin with a word that
    // is no day of the week, are skipped; a day's entry at the minute of a daily one adds
    // nothing.
    void Rebuild(const std::u16string& text);
    // weekdayNow: the day of the week now (0 = Sunday); none: only daily entries are due.
    // The first entry (earliest in the day) not fired today that lies 1 to 4 minutes ahead;
    // the window reaches back across midnight. nullptr for none.
    RestartEntry* FindDueSoon(int32_t minuteNow, int32_t dayNow, std::optional<int32_t> weekdayNow = std::nullopt);
    // The entry not fired today whose time is this minute, or nullptr.
    RestartEntry* FindDueNow(int32_t minuteNow, int32_t dayNow, std::optional<int32_t> weekdayNow = std::nullopt);
    // The first entry not fired today whose time lies after fromMinute and not after
    // minuteNow: a time the wall clock jumped over (fromMinute -1: from the day's start).
    // nullptr for none.
    RestartEntry* FindJumpedOver(
        int32_t fromMinute, int32_t minuteNow, int32_t dayNow, std::optional<int32_t> weekdayNow = std::nullopt);

    bool IsEmpty() const { return m_entries.empty(); }
    std::vector<RestartEntry> Entries() const;

private:
    // By minute of the day, then daily (-1) before the days of the week.
    std::map<std::pair<int32_t, int32_t>, RestartEntry> m_entries;
};

// A piece of restart-time text that is not a time of day as the window asks for it ("HH:MM":
// two digits of hours 00 to 23, ":", two digits of minutes 00 to 59), and what the schedule
// makes of it: the minute of the day it fires at ("9:30" fires at 09:00, "abc" at 00:00),
// or none when it never fires ("25:00", "ab").
struct MalformedRestartTime {
    std::u16string text;
    std::optional<int32_t> firesAt;
    // It begins with a word that is no day of the week ("Sux 13:00"): a save refuses it.
    bool badWeekday = false;
    bool operator==(const MalformedRestartTime&) const = default;
};
// The day of the week a restart-time piece begins with, English ("Sun", "mon", any case) or
// Chinese ("周日", "星期一", "周天"), and where its time begins (after the blanks that follow);
// none when it begins with no such day.
struct WeekdayPrefix {
    int32_t weekday = 0;  // 0 = Sunday
    size_t timeStart = 0;
};
std::optional<WeekdayPrefix> ReadWeekdayPrefix(std::u16string_view piece);

// A minute of the day as "HH:MM".
std::u16string FormatMinuteOfDay(int32_t minute);
// The malformed pieces of text, in order.
std::vector<MalformedRestartTime> FindMalformedRestartTimes(const std::u16string& text);

// The pieces of text between occurrences of delimiter (non-empty), in order.
std::vector<std::u16string> SplitString(const std::u16string& text, const std::u16string& delimiter);

// A local time as calendar fields, tm_wday and tm_yday computed from the date.
std::tm CalendarFromSystemTime(const SystemTime& time);

// The wall clock and the steady clock, read together: a wall clock that runs ahead of the
// steady one was moved (daylight saving time, a clock set by hand).
struct ClockReading {
    std::tm calendar{};  // the local wall-clock time, as CalendarFromSystemTime gives it
    int64_t wallMs = 0;  // the same in milliseconds since 1970-01-01 00:00 of the wall clock
    int64_t steadyMs = 0;
};
ClockReading ReadClocks();
// How much further the wall clock moved than the steady clock from earlier to later, in ms:
// positive when it jumped forward, negative when it was set back.
int64_t WallClockJumpMs(const ClockReading& earlier, const ClockReading& later);
