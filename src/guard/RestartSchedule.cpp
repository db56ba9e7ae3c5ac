#include "guard/RestartSchedule.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "base/DecimalText.h"
#include "platform/System.h"

namespace {

constexpr int32_t MINUTES_PER_DAY = 1440;
// How far ahead a restart counts as due soon: 1 to this many minutes.
constexpr int64_t DUE_SOON_MINUTES = 4;

bool IsTimeOfDay(int32_t minute) { return minute >= 0 && minute < MINUTES_PER_DAY; }

int32_t SaturateToInt32(int64_t value)
{
    return static_cast<int32_t>(
        std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// The minute a piece of restart-time text names; none for a piece without room for a minutes
// part (empty, a trailing or doubled ";").
std::optional<int32_t> ReadRestartTime(const std::u16string& piece)
{
    if (piece.size() < 3)
        return std::nullopt;
    // The hour is the first two characters, the minutes run from the fourth to the end; the
    // third, normally ":", is not looked at.
    const int64_t hours = px::WToI(std::u16string_view(piece).substr(0, 2));
    const int64_t minutes = px::WToI(std::u16string_view(piece).substr(3));
    return SaturateToInt32(hours * 60 + minutes);
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

void RestartSchedule::Clear() { m_entries.clear(); }

void RestartSchedule::Rebuild(const std::u16string& text)
{
    m_entries.clear();
    for (const std::u16string& piece : SplitString(text, u";"))
        if (const std::optional<int32_t> key = ReadRestartTime(piece))
            m_entries[*key] = RestartEntry{*key, std::nullopt};
}

std::u16string FormatMinuteOfDay(int32_t minute)
{
    const auto twoDigits = [](int32_t n) {
        return std::u16string{static_cast<char16_t>(u'0' + n / 10), static_cast<char16_t>(u'0' + n % 10)};
    };
    return twoDigits(minute / 60) + u":" + twoDigits(minute % 60);
}

std::vector<MalformedRestartTime> FindMalformedRestartTimes(const std::u16string& text)
{
    std::vector<MalformedRestartTime> malformed;
    for (const std::u16string& piece : SplitString(text, u";")) {
        const bool shaped = piece.size() == 5 && IsDigit(piece[0]) && IsDigit(piece[1]) && piece[2] == u':'
            && IsDigit(piece[3]) && IsDigit(piece[4]);
        const std::optional<int32_t> key = ReadRestartTime(piece);
        if (shaped && key && IsTimeOfDay(*key) && piece[3] < u'6')
            continue;
        malformed.push_back({piece, key && IsTimeOfDay(*key) ? key : std::nullopt});
    }
    return malformed;
}

RestartEntry* RestartSchedule::FindDueSoon(int32_t minuteNow, int32_t dayNow)
{
    if (!IsTimeOfDay(minuteNow))
        return nullptr;
    for (auto& [key, entry] : m_entries) {
        // A key that is no time of day would arm a countdown that never ends.
        if (!IsTimeOfDay(key))
            continue;
        const int64_t ahead = int64_t{key} - minuteNow;
        if (ahead >= 1 && ahead <= DUE_SOON_MINUTES) {
            if (entry.lastFiredDay != dayNow)
                return &entry;
            continue;
        }
        // Shortly before midnight, a time just after it is due soon too. That occurrence is
        // tomorrow's, so having fired today (or earlier) does not hold it back.
        const int64_t aheadAcrossMidnight = ahead + MINUTES_PER_DAY;
        if (aheadAcrossMidnight >= 1 && aheadAcrossMidnight <= DUE_SOON_MINUTES)
            return &entry;
    }
    return nullptr;
}

RestartEntry* RestartSchedule::FindDueNow(int32_t minuteNow, int32_t dayNow)
{
    const auto found = m_entries.find(minuteNow);
    if (found == m_entries.end() || !IsTimeOfDay(found->first) || found->second.lastFiredDay == dayNow)
        return nullptr;
    return &found->second;
}

RestartEntry* RestartSchedule::FindJumpedOver(int32_t fromMinute, int32_t minuteNow, int32_t dayNow)
{
    for (auto it = m_entries.upper_bound(fromMinute); it != m_entries.end() && it->first <= minuteNow; ++it) {
        if (IsTimeOfDay(it->first) && it->second.lastFiredDay != dayNow)
            return &it->second;
    }
    return nullptr;
}

std::vector<RestartEntry> RestartSchedule::Entries() const
{
    std::vector<RestartEntry> entries;
    entries.reserve(m_entries.size());
    for (const auto& [key, entry] : m_entries)
        entries.push_back(entry);
    return entries;
}

std::vector<std::u16string> SplitString(const std::u16string& text, const std::u16string& delimiter)
{
    if (delimiter.empty())
        return {text};
    std::vector<std::u16string> pieces;
    size_t start = 0;
    for (;;) {
        const size_t pos = text.find(delimiter, start);
        if (pos == std::u16string::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, pos - start));
        start = pos + delimiter.size();
    }
}

std::tm CalendarFromSystemTime(const SystemTime& time)
{
    using namespace std::chrono;
    // The calendar repeats every 400 years (146097 days, whole weeks), and the calendar types
    // end at year 32767: whole cycles are set aside and added back to the year at the end.
    constexpr int kCycleYears = 400;
    const int cycles = time.wYear / kCycleYears;
    // Fields out of their range carry over into the next larger one, as a conversion of
    // the broken-down time to seconds and back would do.
    const year_month month = year_month{year{time.wYear % kCycleYears}, January} + months{int{time.wMonth} - 1};
    const sys_seconds moment = sys_days{month / 1} + days{int{time.wDay} - 1} + hours{time.wHour}
        + minutes{time.wMinute} + seconds{time.wSecond};

    const sys_days day = floor<days>(moment);
    const year_month_day date{day};
    const hh_mm_ss<seconds> timeOfDay{moment - day};

    std::tm calendar{};
    calendar.tm_sec = static_cast<int>(timeOfDay.seconds().count());
    calendar.tm_min = static_cast<int>(timeOfDay.minutes().count());
    calendar.tm_hour = static_cast<int>(timeOfDay.hours().count());
    calendar.tm_mday = static_cast<int>(unsigned{date.day()});
    calendar.tm_mon = static_cast<int>(unsigned{date.month()}) - 1;
    calendar.tm_year = int{date.year()} + cycles * kCycleYears - 1900;
    calendar.tm_wday = static_cast<int>(weekday{day}.c_encoding());
    calendar.tm_yday = static_cast<int>((day - sys_days{date.year() / January / 1}).count());
    calendar.tm_isdst = 0;
    return calendar;
}

ClockReading ReadClocks()
{
    using namespace std::chrono;
    System& system = GetSystem();
    const SystemTime local = system.GetLocalTime();
    ClockReading reading;
    reading.steadyMs = system.GetSteadyMs();
    reading.calendar = CalendarFromSystemTime(local);
    const std::tm& c = reading.calendar;
    // Whole 400-year cycles (146097 days) apart, as the calendar types end at year 32767.
    const int fullYear = c.tm_year + 1900;
    const sys_days day
        = sys_days{year{fullYear % 400} / January / 1} + days{c.tm_yday} + days{int64_t{fullYear / 400} * 146097};
    reading.wallMs
        = (day + hours{c.tm_hour} + minutes{c.tm_min} + seconds{c.tm_sec} + milliseconds{local.wMilliseconds})
              .time_since_epoch()
              .count();
    return reading;
}

int64_t WallClockJumpMs(const ClockReading& earlier, const ClockReading& later)
{
    return (later.wallMs - earlier.wallMs) - (later.steadyMs - earlier.steadyMs);
}
