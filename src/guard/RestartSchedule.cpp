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

// The minute a time of day names by the old positional rule; none for a text without room
// for a minutes part (empty, a trailing or doubled ";").
std::optional<int32_t> ReadTimeOfDay(std::u16string_view time)
{
    if (time.size() < 3)
        return std::nullopt;
    // The hour is the first two characters, the minutes run from the fourth to the end; the
    // third, normally ":", is not looked at.
    const int64_t hours = px::WToI(time.substr(0, 2));
    const int64_t minutes = px::WToI(time.substr(3));
    return SaturateToInt32(hours * 60 + minutes);
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// A word, blanks, then a digit: the shape of "Sun 13:00", whatever the word.
bool IsWordThenTime(std::u16string_view piece)
{
    size_t i = 0;
    while (i < piece.size() && !IsDigit(piece[i]) && !IsBlank(piece[i]) && piece[i] != u':' && piece[i] != u'+'
        && piece[i] != u'-')
        ++i;
    if (i == 0 || i == piece.size() || !IsBlank(piece[i]))
        return false;
    while (i < piece.size() && IsBlank(piece[i]))
        ++i;
    return i < piece.size() && IsDigit(piece[i]);
}

// What one piece of restart-time text is.
struct RestartPiece {
    std::optional<int32_t> minute;  // none: it never fires
    std::optional<int32_t> weekday;
    std::u16string_view time;  // the time-of-day part
    bool badWeekday = false;
};

RestartPiece ReadRestartPiece(std::u16string_view piece)
{
    if (const std::optional<WeekdayPrefix> prefix = ReadWeekdayPrefix(piece)) {
        const std::u16string_view time = piece.substr(prefix->timeStart);
        return {ReadTimeOfDay(time), prefix->weekday, time, false};
    }
    // A day of the week misspelt would otherwise fire daily at a time made of its letters.
    if (IsWordThenTime(piece))
        return {std::nullopt, std::nullopt, piece, true};
    return {ReadTimeOfDay(piece), std::nullopt, piece, false};
}

}  // namespace

std::optional<WeekdayPrefix> ReadWeekdayPrefix(std::u16string_view piece)
{
    static constexpr std::u16string_view kEnglish[] = {u"sun", u"mon", u"tue", u"wed", u"thu", u"fri", u"sat"};
    static constexpr std::u16string_view kChineseDays = u"日一二三四五六";
    std::optional<int32_t> weekday;
    size_t end = 0;
    if (piece.size() >= 3 && (piece.size() == 3 || !IsAsciiLetter(piece[3]))) {
        std::u16string word(piece.substr(0, 3));
        for (char16_t& c : word)
            if (c >= u'A' && c <= u'Z')
                c = static_cast<char16_t>(c - u'A' + u'a');
        for (int32_t day = 0; day < 7; ++day)
            if (word == kEnglish[day]) {
                weekday = day;
                end = 3;
            }
    }
    for (const std::u16string_view lead : {std::u16string_view(u"周"), std::u16string_view(u"星期")}) {
        if (weekday || !piece.starts_with(lead) || piece.size() <= lead.size())
            continue;
        const char16_t dayChar = piece[lead.size()];
        const size_t index = dayChar == u'天' ? 0 : kChineseDays.find(dayChar);
        if (index != std::u16string_view::npos) {
            weekday = static_cast<int32_t>(index);
            end = lead.size() + 1;
        }
    }
    if (!weekday)
        return std::nullopt;
    while (end < piece.size() && IsBlank(piece[end]))
        ++end;
    return WeekdayPrefix{*weekday, end};
}

void RestartSchedule::Clear() { m_entries.clear(); }

void RestartSchedule::Rebuild(const std::u16string& text)
{
    m_entries.clear();
    for (const std::u16string& pieceText : SplitString(text, u";")) {
        const RestartPiece piece = ReadRestartPiece(pieceText);
        if (!piece.minute)
            continue;
        const int32_t minute = *piece.minute;
        if (!piece.weekday) {
            // Daily at this minute: a day's entry there adds nothing.
            m_entries.erase(m_entries.lower_bound({minute, 0}), m_entries.upper_bound({minute, 6}));
            m_entries[{minute, -1}] = RestartEntry{minute, std::nullopt, std::nullopt};
        } else if (!m_entries.count({minute, -1})) {
            m_entries[{minute, *piece.weekday}] = RestartEntry{minute, std::nullopt, piece.weekday};
        }
    }
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
    for (const std::u16string& pieceText : SplitString(text, u";")) {
        const RestartPiece piece = ReadRestartPiece(pieceText);
        const std::u16string_view time = piece.time;
        const bool shaped = time.size() == 5 && IsDigit(time[0]) && IsDigit(time[1]) && time[2] == u':'
            && IsDigit(time[3]) && IsDigit(time[4]);
        const std::optional<int32_t> key = piece.minute;
        if (shaped && key && IsTimeOfDay(*key) && time[3] < u'6')
            continue;
        malformed.push_back({pieceText, key && IsTimeOfDay(*key) ? key : std::nullopt, piece.badWeekday});
    }
    return malformed;
}

namespace {

// The entry fires on this day of the week (daily entries on every day; none of them on a day
// not known).
bool FiresOn(const RestartEntry& entry, std::optional<int32_t> weekday)
{
    return !entry.weekday || entry.weekday == weekday;
}

std::optional<int32_t> NextWeekday(std::optional<int32_t> weekday)
{
    if (!weekday)
        return std::nullopt;
    return (*weekday + 1) % 7;
}

}  // namespace

RestartEntry* RestartSchedule::FindDueSoon(int32_t minuteNow, int32_t dayNow, std::optional<int32_t> weekdayNow)
{
    if (!IsTimeOfDay(minuteNow))
        return nullptr;
    for (auto& [key, entry] : m_entries) {
        // A key that is no time of day would arm a countdown that never ends.
        if (!IsTimeOfDay(key.first))
            continue;
        const int64_t ahead = int64_t{key.first} - minuteNow;
        if (ahead >= 1 && ahead <= DUE_SOON_MINUTES) {
            if (entry.lastFiredDay != dayNow && FiresOn(entry, weekdayNow))
                return &entry;
            continue;
        }
        // Shortly before midnight, a time just after it is due soon too. That occurrence is
        // tomorrow's, so having fired today (or earlier) does not hold it back.
        const int64_t aheadAcrossMidnight = ahead + MINUTES_PER_DAY;
        if (aheadAcrossMidnight >= 1 && aheadAcrossMidnight <= DUE_SOON_MINUTES
            && FiresOn(entry, NextWeekday(weekdayNow)))
            return &entry;
    }
    return nullptr;
}

RestartEntry* RestartSchedule::FindDueNow(int32_t minuteNow, int32_t dayNow, std::optional<int32_t> weekdayNow)
{
    if (!IsTimeOfDay(minuteNow))
        return nullptr;
    for (auto it = m_entries.lower_bound({minuteNow, -1}); it != m_entries.end() && it->first.first == minuteNow; ++it)
        if (it->second.lastFiredDay != dayNow && FiresOn(it->second, weekdayNow))
            return &it->second;
    return nullptr;
}

RestartEntry* RestartSchedule::FindJumpedOver(
    int32_t fromMinute, int32_t minuteNow, int32_t dayNow, std::optional<int32_t> weekdayNow)
{
    for (auto it = m_entries.upper_bound({fromMinute, 6}); it != m_entries.end() && it->first.first <= minuteNow;
         ++it) {
        if (IsTimeOfDay(it->first.first) && it->second.lastFiredDay != dayNow && FiresOn(it->second, weekdayNow))
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
