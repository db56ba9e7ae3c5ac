// Fuzz target: the restart schedule rebuilt from any text, then asked FindDueSoon, FindDueNow
// and FindJumpedOver for every minute of the day and for minutes out of range, with entries
// marked fired; the answers are held against the rules the schedule states. The calendar
// fields of any local time are held against the C library's timegm and gmtime.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "base/Unicode.h"
#include "guard/RestartSchedule.h"
#include "platform/System.h"

namespace {

constexpr int32_t kMinutesPerDay = 1440;
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

bool IsTimeOfDay(int32_t minute) { return minute >= 0 && minute < kMinutesPerDay; }

[[noreturn]] void Fail(
    const char* what, int32_t minute, int32_t day, std::optional<int32_t> got, std::optional<int32_t> expected)
{
    std::fprintf(stderr, "schedule_fuzz: %s at minute %d, day %d: got %d, expected %d\n", what, minute, day,
        got.value_or(-99999), expected.value_or(-99999));
    std::abort();
}

std::optional<int32_t> KeyOf(const RestartEntry* entry)
{
    return entry ? std::optional<int32_t>(entry->minuteOfDay) : std::nullopt;
}

// The first entry, earliest first, that is not fired today and lies 1 to 4 minutes ahead, or
// whose time just after midnight lies 1 to 4 minutes ahead (tomorrow's, whatever today did).
std::optional<int32_t> ExpectedDueSoon(const std::vector<RestartEntry>& entries, int32_t minute, int32_t day)
{
    if (!IsTimeOfDay(minute))
        return std::nullopt;
    for (const RestartEntry& e : entries) {
        if (!IsTimeOfDay(e.minuteOfDay))
            continue;
        const int64_t ahead = int64_t{e.minuteOfDay} - minute;
        if ((ahead >= 1 && ahead <= 4 && e.lastFiredDay != day)
            || (ahead + kMinutesPerDay >= 1 && ahead + kMinutesPerDay <= 4))
            return e.minuteOfDay;
    }
    return std::nullopt;
}

std::optional<int32_t> ExpectedJumpedOver(
    const std::vector<RestartEntry>& entries, int32_t from, int32_t minute, int32_t day)
{
    for (const RestartEntry& e : entries)
        if (IsTimeOfDay(e.minuteOfDay) && e.minuteOfDay > from && e.minuteOfDay <= minute && e.lastFiredDay != day)
            return e.minuteOfDay;
    return std::nullopt;
}

void CheckQueries(
    RestartSchedule& schedule, const std::vector<RestartEntry>& entries, int32_t minute, int32_t day, int32_t from)
{
    const std::optional<int32_t> soon = KeyOf(schedule.FindDueSoon(minute, day));
    if (soon != ExpectedDueSoon(entries, minute, day))
        Fail("FindDueSoon", minute, day, soon, ExpectedDueSoon(entries, minute, day));
    std::optional<int32_t> now;
    for (const RestartEntry& e : entries)
        if (e.minuteOfDay == minute && IsTimeOfDay(minute) && e.lastFiredDay != day)
            now = minute;
    if (KeyOf(schedule.FindDueNow(minute, day)) != now)
        Fail("FindDueNow", minute, day, KeyOf(schedule.FindDueNow(minute, day)), now);
    const std::optional<int32_t> jumped = KeyOf(schedule.FindJumpedOver(from, minute, day));
    if (jumped != ExpectedJumpedOver(entries, from, minute, day))
        Fail("FindJumpedOver", minute, day, jumped, ExpectedJumpedOver(entries, from, minute, day));
}

void CheckCalendar(const SystemTime& time)
{
    std::tm fields{};
    fields.tm_year = int{time.wYear} - 1900;
    fields.tm_mon = int{time.wMonth} - 1;
    fields.tm_mday = time.wDay;
    fields.tm_hour = time.wHour;
    fields.tm_min = time.wMinute;
    fields.tm_sec = time.wSecond;
    const time_t seconds = timegm(&fields);
    std::tm expected{};
    if (!gmtime_r(&seconds, &expected))
        return;
    const std::tm got = CalendarFromSystemTime(time);
    const int pairs[][2] = {{got.tm_year, expected.tm_year}, {got.tm_mon, expected.tm_mon},
        {got.tm_mday, expected.tm_mday}, {got.tm_hour, expected.tm_hour}, {got.tm_min, expected.tm_min},
        {got.tm_sec, expected.tm_sec}, {got.tm_wday, expected.tm_wday}, {got.tm_yday, expected.tm_yday}};
    for (const auto& [g, e] : pairs) {
        if (g != e) {
            std::fprintf(stderr,
                "schedule_fuzz: calendar of %u-%u-%u %u:%u:%u: %d-%d-%d %d:%d:%d wday %d yday %d, C library %d-%d-%d "
                "%d:%d:%d wday %d yday %d\n",
                time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond, got.tm_year, got.tm_mon,
                got.tm_mday, got.tm_hour, got.tm_min, got.tm_sec, got.tm_wday, got.tm_yday, expected.tm_year,
                expected.tm_mon, expected.tm_mday, expected.tm_hour, expected.tm_min, expected.tm_sec, expected.tm_wday,
                expected.tm_yday);
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    SystemTime time;
    time.wYear = input.ConsumeIntegral<uint16_t>();
    time.wMonth = input.ConsumeIntegral<uint16_t>();
    time.wDay = input.ConsumeIntegral<uint16_t>();
    time.wHour = input.ConsumeIntegral<uint16_t>();
    time.wMinute = input.ConsumeIntegral<uint16_t>();
    time.wSecond = input.ConsumeIntegral<uint16_t>();
    CheckCalendar(time);

    const int32_t day = input.ConsumeIntegralInRange<int32_t>(-1, 366);
    const int32_t from = input.ConsumeIntegralInRange<int32_t>(-2, kMinutesPerDay);
    const std::vector<uint8_t> fired = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, 8));
    RestartSchedule schedule;
    schedule.Rebuild(px::FromUtf8(input.ConsumeRemainingBytesAsString()));

    const std::vector<RestartEntry> entries = schedule.Entries();
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].lastFiredDay || (i > 0 && entries[i - 1].minuteOfDay >= entries[i].minuteOfDay))
            Fail(
                "Rebuild left an entry fired or out of order", entries[i].minuteOfDay, day, std::nullopt, std::nullopt);
    }
    // Some entries fired today: each minute named by a byte that has an entry due now.
    for (const uint8_t minuteByte : fired) {
        const int32_t minute = minuteByte * 6;
        if (RestartEntry* entry = schedule.FindDueNow(minute, day)) {
            entry->lastFiredDay = day;
            if (schedule.FindDueNow(minute, day) || !schedule.FindDueNow(minute, day + 1))
                Fail("an entry fired today", minute, day, std::nullopt, minute);
        }
    }
    const std::vector<RestartEntry> marked = schedule.Entries();
    for (int32_t minute = -6; minute < kMinutesPerDay + 6; ++minute)
        CheckQueries(schedule, marked, minute, day, from);
    for (const int32_t minute : {kMin, kMin + 1, -kMinutesPerDay, 2 * kMinutesPerDay, kMax - 4, kMax})
        for (const int32_t d : {day, kMin, kMax})
            CheckQueries(schedule, marked, minute, d, from == kMinutesPerDay ? kMin : from);
    return 0;
}
