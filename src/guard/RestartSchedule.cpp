#include "guard/RestartSchedule.h"

#include <algorithm>
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

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (month 1 to 12).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day)
{
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct CivilDate {
    int64_t year;
    int64_t month;  // 1 to 12
    int64_t day;
};

CivilDate CivilFromDays(int64_t days)
{
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

}  // namespace

void RestartSchedule::Clear() { m_entries.clear(); }

void RestartSchedule::Rebuild(const std::u16string& text)
{
    m_entries.clear();
    for (const std::u16string& piece : SplitString(text, u";")) {
        // A piece without room for a minutes part (empty, a trailing or doubled ";") names no time.
        if (piece.size() < 3)
            continue;
        // The hour is the first two characters, the minutes run from the fourth to the end;
        // the third, normally ":", is not looked at.
        const int64_t hours = px::WToI(std::u16string_view(piece).substr(0, 2));
        const int64_t minutes = px::WToI(std::u16string_view(piece).substr(3));
        const int32_t key = SaturateToInt32(hours * 60 + minutes);
        m_entries[key] = RestartEntry{key, std::nullopt};
    }
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
    // Fields out of their range carry over into the next larger one, as a conversion of
    // the broken-down time to seconds and back would do.
    const int64_t monthIndex = int64_t{time.wMonth} - 1;
    const int64_t year = int64_t{time.wYear} + FloorDiv(monthIndex, 12);
    const int64_t month = monthIndex - FloorDiv(monthIndex, 12) * 12 + 1;
    const int64_t seconds = (DaysFromCivil(year, month, 1) + time.wDay - 1) * 86400 + int64_t{time.wHour} * 3600
        + int64_t{time.wMinute} * 60 + time.wSecond;

    const int64_t days = FloorDiv(seconds, 86400);
    const int64_t secondOfDay = seconds - days * 86400;
    const CivilDate date = CivilFromDays(days);

    std::tm calendar{};
    calendar.tm_sec = static_cast<int>(secondOfDay % 60);
    calendar.tm_min = static_cast<int>(secondOfDay / 60 % 60);
    calendar.tm_hour = static_cast<int>(secondOfDay / 3600);
    calendar.tm_mday = static_cast<int>(date.day);
    calendar.tm_mon = static_cast<int>(date.month - 1);
    calendar.tm_year = static_cast<int>(date.year - 1900);
    // 1 January 1970 was a Thursday.
    calendar.tm_wday = static_cast<int>((days + 4) - FloorDiv(days + 4, 7) * 7);
    calendar.tm_yday = static_cast<int>(days - DaysFromCivil(date.year, 1, 1));
    calendar.tm_isdst = 0;
    return calendar;
}

std::tm LocalCalendarNow() { return CalendarFromSystemTime(GetSystem().GetLocalTime()); }
