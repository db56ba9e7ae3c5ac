#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "FakeSystem.h"
#include "base/Unicode.h"
#include "guard/RestartSchedule.h"
#include "platform/System.h"

namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

int32_t Minute(int hours, int minutes) { return hours * 60 + minutes; }

std::vector<int32_t> Keys(const RestartSchedule& schedule)
{
    std::vector<int32_t> keys;
    for (const RestartEntry& entry : schedule.Entries()) {
        EXPECT_FALSE(entry.lastFiredDay.has_value());
        keys.push_back(entry.minuteOfDay);
    }
    return keys;
}

RestartSchedule Built(const std::u16string& text)
{
    RestartSchedule schedule;
    schedule.Rebuild(text);
    return schedule;
}

TEST(SplitString, PiecesBetweenDelimiters)
{
    struct Case {
        std::u16string text;
        std::u16string delimiter;
        std::vector<std::u16string> pieces;
    };
    const Case cases[] = {
        {u"", u";", {u""}},
        {u";", u";", {u"", u""}},
        {u"12:30;06:00", u";", {u"12:30", u"06:00"}},
        {u";a;;b;", u";", {u"", u"a", u"", u"b", u""}},
        {u"a::b:::c", u"::", {u"a", u"b", u":c"}},
        {u"aXbxc", u"x", {u"aXb", u"c"}},
        {u"abc", u"", {u"abc"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitString(c.text, c.delimiter), c.pieces) << px::ToUtf8(c.text);
}

TEST(RestartScheduleRebuild, ReadsTimesByPosition)
{
    struct Case {
        std::u16string text;
        std::vector<int32_t> keys;
    };
    const Case cases[] = {
        {u"12:30;06:00", {360, 750}},
        {u"12:30;12:30", {750}},
        {u"12:", {720}},
        {u"12:30:45", {750}},
        {u"6:30", {360}},
        {u"12:30; 06:00", {0, 750}},  // " 0" is hour 0, ":00" minute 0
        {u"ab:cd", {0}},
        {u"00:00;23:59", {0, 1439}},
        {u"24:00", {1440}},
        {u"25:00", {1500}},
        {u"-1:30", {-30}},
        // Too short for a minutes part: skipped, the rest is read.
        {u"", {}},
        {u";", {}},
        {u"1", {}},
        {u"12", {}},
        {u"12:30;", {750}},
        {u"12:30;;06:00", {360, 750}},
        // Numbers far out of range saturate instead of overflowing.
        {u"99999999999:00", {99 * 60 + 99999999}},
        {u"12:99999999999", {kMax}},
        {u"-9:-99999999999", {kMin}},
        {u"99:2147483647", {kMax}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Keys(Built(c.text)), c.keys) << px::ToUtf8(c.text);
}

TEST(RestartScheduleRebuild, StartsOverWithEveryEntryNotFired)
{
    RestartSchedule schedule = Built(u"06:00;12:30");
    schedule.FindDueNow(Minute(6, 0), 10)->lastFiredDay = 10;
    schedule.Rebuild(u"12:30;06:00;18:00");
    EXPECT_EQ(Keys(schedule), (std::vector<int32_t>{360, 750, 1080}));
    ASSERT_NE(schedule.FindDueNow(Minute(6, 0), 10), nullptr);

    schedule.Clear();
    EXPECT_TRUE(schedule.IsEmpty());
    EXPECT_EQ(schedule.FindDueNow(Minute(6, 0), 10), nullptr);
}

TEST(RestartScheduleQueries, DueSoonIsOneToFourMinutesAhead)
{
    RestartSchedule schedule = Built(u"12:30");
    const std::pair<int32_t, bool> cases[] = {
        {Minute(12, 25), false},
        {Minute(12, 26), true},
        {Minute(12, 29), true},
        {Minute(12, 30), false},
        {Minute(12, 31), false},
        {Minute(0, 0), false},
    };
    for (const auto& [now, due] : cases) {
        RestartEntry* entry = schedule.FindDueSoon(now, 40);
        EXPECT_EQ(entry != nullptr, due) << now;
        if (entry) {
            EXPECT_EQ(entry->minuteOfDay, 750);
        }
    }
}

TEST(RestartScheduleQueries, AnEntryFiredTodayWaitsForTomorrow)
{
    RestartSchedule schedule = Built(u"12:30");
    RestartEntry* entry = schedule.FindDueNow(Minute(12, 30), 40);
    ASSERT_NE(entry, nullptr);
    entry->lastFiredDay = 40;
    EXPECT_EQ(schedule.Entries().front().lastFiredDay, 40);

    EXPECT_EQ(schedule.FindDueNow(Minute(12, 30), 40), nullptr);
    EXPECT_EQ(schedule.FindDueSoon(Minute(12, 27), 40), nullptr);
    EXPECT_EQ(schedule.FindDueSoon(Minute(12, 27), 41), entry);
    EXPECT_EQ(schedule.FindDueNow(Minute(12, 30), 41), entry);
    // From 31 December to 1 January the day number drops to 0.
    entry->lastFiredDay = 365;
    EXPECT_EQ(schedule.FindDueNow(Minute(12, 30), 0), entry);
}

TEST(RestartScheduleQueries, FreshEntryIsDueOnTheFirstDayOfTheYear)
{
    RestartSchedule schedule = Built(u"00:02");
    EXPECT_NE(schedule.FindDueSoon(Minute(0, 0), 0), nullptr);
    EXPECT_NE(schedule.FindDueNow(Minute(0, 2), 0), nullptr);
}

TEST(RestartScheduleQueries, EarliestQualifyingEntryWins)
{
    RestartSchedule schedule = Built(u"06:03;06:01;06:02");
    EXPECT_EQ(schedule.FindDueSoon(Minute(6, 0), 1)->minuteOfDay, Minute(6, 1));
    schedule.FindDueNow(Minute(6, 1), 1)->lastFiredDay = 1;
    EXPECT_EQ(schedule.FindDueSoon(Minute(6, 0), 1)->minuteOfDay, Minute(6, 2));
    EXPECT_EQ(schedule.FindDueNow(Minute(6, 3), 1)->minuteOfDay, Minute(6, 3));
}

TEST(RestartScheduleQueries, DueSoonWindowReachesAcrossMidnight)
{
    struct Case {
        const char16_t* time;
        int32_t now;
        bool due;
    };
    const Case cases[] = {
        {u"00:00", Minute(23, 56), true},
        {u"00:00", Minute(23, 59), true},
        {u"00:00", Minute(23, 55), false},
        {u"00:03", Minute(23, 59), true},
        {u"00:03", Minute(23, 56), false},
        {u"00:01", Minute(23, 58), true},
        {u"00:04", Minute(23, 59), false},
        {u"00:00", Minute(0, 0), false},
    };
    for (const Case& c : cases) {
        RestartSchedule schedule = Built(c.time);
        EXPECT_EQ(schedule.FindDueSoon(c.now, 200) != nullptr, c.due) << px::ToUtf8(c.time) << " at " << c.now;
    }

    // Fired at 00:00 today: tomorrow's 00:00 is still ahead at 23:57 today, and due at
    // 00:00 tomorrow.
    RestartSchedule schedule = Built(u"00:00;23:59");
    schedule.FindDueNow(0, 200)->lastFiredDay = 200;
    RestartEntry* soon = schedule.FindDueSoon(Minute(23, 57), 200);
    ASSERT_NE(soon, nullptr);
    EXPECT_EQ(soon->minuteOfDay, 0);  // walked in ascending order
    EXPECT_EQ(schedule.FindDueNow(0, 201), soon);
}

TEST(RestartScheduleQueries, KeysThatAreNoTimeOfDayNeverFire)
{
    RestartSchedule schedule = Built(u"24:00;24:03;25:00;-1:00;99999999999:00");
    for (int32_t now : {Minute(23, 56), Minute(23, 59), 1436, 1440, 1443, 1500, -60, -64, kMax, kMin, kMax - 2}) {
        EXPECT_EQ(schedule.FindDueSoon(now, 3), nullptr) << now;
        EXPECT_EQ(schedule.FindDueNow(now, 3), nullptr) << now;
    }
    schedule.Rebuild(u"12:99999999999;-9:-99999999999");
    for (int32_t now : {kMax, kMin, kMax - 1, kMin + 1, 0}) {
        EXPECT_EQ(schedule.FindDueSoon(now, 3), nullptr);
        EXPECT_EQ(schedule.FindDueNow(now, 3), nullptr);
    }
}

TEST(RestartScheduleQueries, ExtremeArgumentsAreHarmless)
{
    RestartSchedule schedule = Built(u"00:00;00:03;23:59");
    for (int32_t now : {kMin, kMin + 1, -1, 1440, kMax - 1, kMax}) {
        for (int32_t day : {kMin, -1, 0, 365, kMax}) {
            EXPECT_EQ(schedule.FindDueSoon(now, day), nullptr);
            EXPECT_EQ(schedule.FindDueNow(now, day), nullptr);
        }
    }
}

TEST(RestartScheduleQueries, JumpedOverIsAfterTheLastLookUpToNow)
{
    RestartSchedule schedule = Built(u"02:00;02:30;03:00;03:01;24:00;-1:00");
    struct Case {
        int32_t from, now;
        std::optional<int32_t> found;
    };
    const Case cases[] = {
        {Minute(1, 59), Minute(3, 0), Minute(2, 0)},  // daylight saving time begins at 02:00
        {Minute(2, 0), Minute(3, 0), Minute(2, 30)},  // the look's own minute was seen
        {Minute(2, 30), Minute(3, 0), Minute(3, 0)},  // now's minute is included
        {Minute(3, 1), Minute(3, 30), std::nullopt}, {-1, Minute(1, 0), std::nullopt},  // from the day's start
        {-1, Minute(2, 0), Minute(2, 0)},
        {Minute(23, 0), Minute(23, 59) + 60, std::nullopt},  // 24:00 is no time of day
        {kMin, kMax, Minute(2, 0)}, {kMax, kMax, std::nullopt},
        {Minute(3, 0), Minute(2, 0), std::nullopt},  // a clock set back jumped over nothing
    };
    for (const Case& c : cases) {
        const RestartEntry* entry = schedule.FindJumpedOver(c.from, c.now, 66);
        EXPECT_EQ(entry ? std::optional<int32_t>(entry->minuteOfDay) : std::nullopt, c.found) << c.from << " " << c.now;
    }
    // An entry fired today is passed by; the next one is found.
    schedule.FindJumpedOver(Minute(1, 59), Minute(3, 0), 66)->lastFiredDay = 66;
    EXPECT_EQ(schedule.FindJumpedOver(Minute(1, 59), Minute(3, 0), 66)->minuteOfDay, Minute(2, 30));
    EXPECT_EQ(schedule.FindJumpedOver(Minute(1, 59), Minute(3, 0), 67)->minuteOfDay, Minute(2, 0));
}

struct CalendarCase {
    SystemTime time;
    int year, mon, mday, hour, min, sec, wday, yday;
};

TEST(Calendar, DateFieldsFromTheLocalTime)
{
    // SystemTime: year, month, day of week (ignored), day, hour, minute, second, ms.
    const CalendarCase cases[] = {
        {{2020, 1, 0, 1, 0, 0, 0, 0}, 120, 0, 1, 0, 0, 0, 3, 0},
        {{2020, 12, 0, 31, 23, 59, 59, 999}, 120, 11, 31, 23, 59, 59, 4, 365},
        {{2024, 12, 0, 31, 12, 0, 0, 0}, 124, 11, 31, 12, 0, 0, 2, 365},
        {{2019, 12, 0, 31, 0, 0, 0, 0}, 119, 11, 31, 0, 0, 0, 2, 364},
        {{2021, 1, 0, 1, 0, 7, 5, 9}, 121, 0, 1, 0, 7, 5, 5, 0},
        {{2000, 2, 0, 29, 6, 30, 0, 0}, 100, 1, 29, 6, 30, 0, 2, 59},
        {{2100, 3, 0, 1, 0, 0, 0, 0}, 200, 2, 1, 0, 0, 0, 1, 59},
        {{1970, 1, 0, 1, 0, 0, 0, 0}, 70, 0, 1, 0, 0, 0, 4, 0},
        {{2038, 1, 0, 19, 3, 14, 8, 0}, 138, 0, 19, 3, 14, 8, 2, 18},
        {{2020, 2, 0, 3, 0, 7, 5, 9}, 120, 1, 3, 0, 7, 5, 1, 33},
        // Fields past their range carry over, as a round trip through seconds does.
        {{2020, 13, 0, 1, 0, 0, 0, 0}, 121, 0, 1, 0, 0, 0, 5, 0},
        {{2020, 12, 0, 31, 23, 59, 60, 0}, 121, 0, 1, 0, 0, 0, 5, 0},
        {{2021, 2, 0, 29, 0, 0, 0, 0}, 121, 2, 1, 0, 0, 0, 1, 59},
    };
    for (const CalendarCase& c : cases) {
        const std::tm tm = CalendarFromSystemTime(c.time);
        SCOPED_TRACE(testing::Message() << c.time.wYear << "-" << c.time.wMonth << "-" << c.time.wDay);
        EXPECT_EQ(tm.tm_year, c.year);
        EXPECT_EQ(tm.tm_mon, c.mon);
        EXPECT_EQ(tm.tm_mday, c.mday);
        EXPECT_EQ(tm.tm_hour, c.hour);
        EXPECT_EQ(tm.tm_min, c.min);
        EXPECT_EQ(tm.tm_sec, c.sec);
        EXPECT_EQ(tm.tm_wday, c.wday);
        EXPECT_EQ(tm.tm_yday, c.yday);
        EXPECT_EQ(tm.tm_isdst, 0);
    }
}

TEST(Calendar, ExtremeSystemTimesStayInRange)
{
    for (const SystemTime& t :
        {SystemTime{0, 0, 0, 0, 0, 0, 0, 0}, SystemTime{65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535}}) {
        const std::tm tm = CalendarFromSystemTime(t);
        EXPECT_GE(tm.tm_yday, 0);
        EXPECT_LE(tm.tm_yday, 365);
        EXPECT_GE(tm.tm_wday, 0);
        EXPECT_LE(tm.tm_wday, 6);
        EXPECT_GE(tm.tm_mon, 0);
        EXPECT_LE(tm.tm_mon, 11);
    }
}

// The scripted clock's time zones give the days of a daylight-saving change 23 or 25 hours,
// and a steady clock that runs on through them while the wall clock jumps.
TEST(Calendar, VirtualClockDaysAcrossDaylightSavingChanges)
{
    struct Case {
        const fake::TimeZoneRules* zone;
        int year, month, day;
        int hours;  // from this local midnight to the next
    };
    const Case cases[] = {
        {&fake::kNewYork, 2026, 3, 8, 23},
        {&fake::kNewYork, 2026, 3, 9, 24},
        {&fake::kNewYork, 2026, 11, 1, 25},
        {&fake::kNewYork, 2028, 2, 29, 24},
        {&fake::kSaoPaulo2018, 2018, 11, 4, 23},  // its midnight never shows: it begins at 01:00
        {&fake::kSaoPaulo2018, 2019, 2, 16, 25},
    };
    for (const Case& c : cases) {
        fake::VirtualClock clock;
        clock.SetZone(*c.zone);
        const int64_t midnight = clock.MsAt(c.year, c.month, c.day, 0, 0);
        const int64_t next = clock.MsAt(c.year, c.month, c.day + 1, 0, 0);
        EXPECT_EQ(next - midnight, int64_t{c.hours} * 3600 * 1000) << c.year << "-" << c.month << "-" << c.day;
    }

    fake::VirtualClock clock;
    fake::FakeSystem system(clock);
    fake::ScopedSystem installed(system);
    clock.SetZone(fake::kNewYork);
    clock.Set(2026, 3, 8, 1, 59, 30);
    const ClockReading before = ReadClocks();
    clock.SetMs(clock.NowMs() + 60 * 1000);
    const ClockReading after = ReadClocks();
    EXPECT_EQ(after.calendar.tm_hour * 60 + after.calendar.tm_min, Minute(3, 0));
    EXPECT_EQ(WallClockJumpMs(before, after), 3600 * 1000);
    clock.Set(2026, 11, 1, 1, 59, 30);  // the first 01:59:30, in daylight time
    const ClockReading autumn = ReadClocks();
    clock.SetMs(clock.NowMs() + 60 * 1000);
    EXPECT_EQ(WallClockJumpMs(autumn, ReadClocks()), -3600 * 1000);
}

TEST(Calendar, ReadClocksReadsTheSystemClock)
{
    fake::VirtualClock clock;
    fake::FakeSystem system(clock);
    fake::ScopedSystem installed(system);

    clock.Set(2024, 12, 31, 23, 59, 30, 500);
    std::tm now = ReadClocks().calendar;
    EXPECT_EQ(now.tm_yday, 365);
    EXPECT_EQ(now.tm_hour * 60 + now.tm_min, Minute(23, 59));
    EXPECT_EQ(now.tm_wday, 2);

    clock.SetMs(clock.NowMs() + 30000);
    now = ReadClocks().calendar;
    EXPECT_EQ(now.tm_yday, 0);
    EXPECT_EQ(now.tm_year, 125);
    EXPECT_EQ(now.tm_hour * 60 + now.tm_min, 0);
}

}  // namespace

namespace {

// Each entry as "weekday:minute" (weekday -1: daily), in the schedule's order.
std::vector<std::pair<int32_t, int32_t>> WeekKeys(const RestartSchedule& schedule)
{
    std::vector<std::pair<int32_t, int32_t>> keys;
    for (const RestartEntry& entry : schedule.Entries())
        keys.emplace_back(entry.weekday.value_or(-1), entry.minuteOfDay);
    return keys;
}

TEST(RestartScheduleWeekdays, AnEntryMayBeginWithADayOfTheWeek)
{
    const struct {
        std::u16string text;
        std::vector<std::pair<int32_t, int32_t>> keys;
    } cases[] = {
        {u"Sun 13:00;06:00", {{-1, Minute(6, 0)}, {0, Minute(13, 0)}}},
        {u"sUN 13:00;MON\t07:30;sat  23:59", {{1, Minute(7, 30)}, {0, Minute(13, 0)}, {6, Minute(23, 59)}}},
        {u"周日 13:00;周一07:00;星期六 08:00;星期天 09:00;周天 10:00",
            {{1, Minute(7, 0)}, {6, Minute(8, 0)}, {0, Minute(9, 0)}, {0, Minute(10, 0)}, {0, Minute(13, 0)}}},
        {u"Tue 12:00;Wed 12:00;Thu 12:00;Fri 12:00", {{2, 720}, {3, 720}, {4, 720}, {5, 720}}},
        // A daily entry at the same minute covers the day's.
        {u"Sun 13:00;13:00;Mon 13:00", {{-1, Minute(13, 0)}}},
        // A misspelt day never fires (it would fire daily at a time made of its letters).
        {u"Sux 13:00;Sunday 13:00;周八 13:00;06:00", {{-1, Minute(6, 0)}}},
        // Old values read as they always did.
        {u"12:30; 06:00", {{-1, 0}, {-1, Minute(12, 30)}}},
        {u"6:30;ab:cd", {{-1, 0}, {-1, Minute(6, 0)}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WeekKeys(Built(c.text)), c.keys) << px::ToUtf8(c.text);
}

TEST(RestartScheduleWeekdays, ADaysEntryIsDueOnThatDayOnly)
{
    RestartSchedule schedule = Built(u"Sun 13:00;Mon 00:00;12:00");
    constexpr int32_t kSunday = 0, kSaturday = 6;
    for (int32_t weekday = 0; weekday < 7; ++weekday) {
        SCOPED_TRACE(weekday);
        EXPECT_EQ(schedule.FindDueNow(Minute(13, 0), 100, weekday) != nullptr, weekday == kSunday);
        EXPECT_EQ(schedule.FindDueSoon(Minute(12, 57), 100, weekday) != nullptr, weekday == kSunday);
        EXPECT_NE(schedule.FindDueNow(Minute(12, 0), 100, weekday), nullptr) << "the daily entry";
        // Monday's midnight is due soon on Sunday evening, its day before.
        EXPECT_EQ(schedule.FindDueSoon(Minute(23, 58), 100, weekday) != nullptr, weekday == kSunday);
        EXPECT_EQ(schedule.FindJumpedOver(Minute(12, 30), Minute(13, 30), 100, weekday) != nullptr, weekday == kSunday);
    }
    EXPECT_EQ(schedule.FindDueNow(Minute(13, 0), 100, std::nullopt), nullptr) << "no day known: daily entries only";
    schedule.FindDueNow(Minute(13, 0), 100, kSunday)->lastFiredDay = 100;
    EXPECT_EQ(schedule.FindDueNow(Minute(13, 0), 100, kSunday), nullptr);
    EXPECT_NE(schedule.FindDueNow(Minute(13, 0), 107, kSunday), nullptr) << "a week later";
    EXPECT_EQ(schedule.FindDueSoon(Minute(23, 58), 100, kSaturday), nullptr);
}

TEST(RestartScheduleWeekdays, AMisspeltDayIsNamedAsSuch)
{
    const std::vector<MalformedRestartTime> malformed
        = FindMalformedRestartTimes(u"Sun 13:00;周日 06:00;Sux 13:00;Mon 9:30;06:00;星期八 1:00");
    EXPECT_EQ(malformed,
        (std::vector<MalformedRestartTime>{{u"Sux 13:00", std::nullopt, true}, {u"Mon 9:30", Minute(9, 0), false},
            {u"星期八 1:00", std::nullopt, true}}));
}

}  // namespace
