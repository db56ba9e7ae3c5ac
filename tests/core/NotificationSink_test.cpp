// The tray's notifications and tooltip as the guard engine decides them, on the fake host and
// virtual time: which events are told and how, the limit of one a minute with its summary, the
// setting that turns them off, and the back-off's wait in the tooltip.

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "GuardEngineFixture.h"
#include "GuardTexts.h"
#include "base/Unicode.h"
#include "guard/GuardEngine.h"
#include "resources/Resource.h"

using namespace fake;

namespace {

class NotificationTest : public ExitingProgramFixture {
protected:
    // The launches after the notification at fromMs and before the one at toMs: a launch in
    // the check that notified comes after the notification.
    size_t LaunchesBetween(int64_t fromMs, int64_t toMs) const
    {
        size_t count = 0;
        for (const ShellLaunch& launch : system.shellLaunches)
            count += launch.atMs >= fromMs && launch.atMs < toMs ? 1 : 0;
        return count;
    }

    static bool Contains(const std::u16string& text, const std::u16string& part)
    {
        return text.find(part) != std::u16string::npos;
    }
};

TEST_F(NotificationTest, ACrashLoopShowsOneNotificationAMinuteAndTheNextSumsUpTheRestarts)
{
    view.settings->bBackoff = false;  // a launch at every check: sixty deaths a minute
    system.launchEndsAtOnce = kExit3;
    engine.Start(false, false);
    Advance(kMinute + 30 * kSecond);

    // The first death is told at once; those within the next minute only in the summary,
    // which comes when the minute is over and counts every launch since the first.
    ASSERT_EQ(view.notifications.size(), 2u);
    const FakeGuardView::Notification& first = view.notifications[0];
    const FakeGuardView::Notification& summary = view.notifications[1];
    EXPECT_EQ(first.title, u"Perennix：guarded.exe");
    EXPECT_EQ(first.text, u"程序已退出，退出码：3");
    EXPECT_EQ(summary.atMs - first.atMs, kMinute);
    const size_t restarts = LaunchesBetween(first.atMs, summary.atMs);
    EXPECT_GT(restarts, 50u);
    EXPECT_EQ(summary.text, u"已重启 " + px::FromUtf8(std::to_string(restarts)) + u" 次。程序已退出，退出码：3");

    // It goes on at that pace for as long as the loop does, each summary counting afresh.
    Advance(10 * kMinute);
    for (size_t i = 1; i < view.notifications.size(); ++i) {
        const FakeGuardView::Notification& previous = view.notifications[i - 1];
        const FakeGuardView::Notification& next = view.notifications[i];
        EXPECT_EQ(next.atMs - previous.atMs, kMinute);
        EXPECT_EQ(next.text,
            u"已重启 " + px::FromUtf8(std::to_string(LaunchesBetween(previous.atMs, next.atMs)))
                + u" 次。程序已退出，退出码：3");
    }
    EXPECT_EQ(view.notifications.size(), 12u);
}

TEST_F(NotificationTest, AnEventAfterAQuietMinuteIsToldAtOnceAndNothingIsHeldWithoutEvents)
{
    system.launchStartsProcess = u"guarded.exe";
    engine.Start(false, false);
    Advance(30 * kSecond);
    system.EndLaunch(system.lastLaunch, kKilled);
    Advance(30 * kSecond);
    // Up again; no other event within the minute: no summary follows.
    Advance(5 * kMinute);
    ASSERT_EQ(view.notifications.size(), 1u);
    EXPECT_EQ(view.notifications[0].text, u"程序已退出，被信号结束：SIGKILL (9)");
    EXPECT_FALSE(view.HasTimer(TIMER_NOTIFY));

    // Killed again long after: told at once, no summary of what went before.
    system.EndLaunch(system.lastLaunch, kExit3);
    Advance(1 * kSecond);
    ASSERT_EQ(view.notifications.size(), 2u);
    EXPECT_EQ(view.notifications[1].text, u"程序已退出，退出码：3");
    EXPECT_EQ(view.notifications[1].atMs - view.notifications[0].atMs, 5 * kMinute + 30 * kSecond);
}

// One event of each kind, brought about on a guard of the fixture's, and the text of the last
// notification it leads to.
struct EventCase {
    const char* name;
    std::function<void(GuardEngine&, FakeSystem&, FakeGuardView&)> run;
    std::u16string expected;
};

void PrintTo(const EventCase& c, std::ostream* os) { *os << c.name; }

class NotificationKindTest : public NotificationTest, public ::testing::WithParamInterface<EventCase> { };

TEST_P(NotificationKindTest, EachKindOfEventHasItsText)
{
    GetParam().run(engine, system, view);
    ASSERT_FALSE(view.notifications.empty());
    EXPECT_EQ(view.notifications.back().title, u"Perennix：guarded.exe");
    EXPECT_EQ(view.notifications.back().text, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Events, NotificationKindTest,
    ::testing::Values(EventCase{"DiedAfterALongRun",
                          [](GuardEngine& engine, FakeSystem& system, FakeGuardView& view) {
                              system.launchStartsProcess = u"guarded.exe";
                              engine.Start(false, false);
                              view.AdvanceBy(engine, kMinute);
                              system.EndLaunch(system.lastLaunch, kKilled);
                              view.AdvanceBy(engine, 1 * kSecond);
                          },
                          u"程序已退出，被信号结束：SIGKILL (9)"},
        EventCase{"DiedAtOnceWithTheBackoffsWait",
            [](GuardEngine& engine, FakeSystem& system, FakeGuardView& view) {
                system.launchEndsAtOnce = kExit3;
                engine.Start(false, false);
                view.AdvanceBy(engine, 1 * kSecond);
            },
            u"程序已退出，退出码：3。等待 2 秒后重启（第 1 次）"},
        EventCase{"DiedNotLaunchedByTheGuard",
            [](GuardEngine& engine, FakeSystem& system, FakeGuardView& view) {
                system.AddProcess(u"guarded.exe");
                system.launchStartsProcess = u"guarded.exe";
                engine.Start(false, false);
                view.AdvanceBy(engine, kMinute);
                system.RemoveProcessesNamed(u"guarded.exe");
                view.AdvanceBy(engine, 1 * kSecond);
            },
            u"程序已退出"},
        EventCase{"LaunchFailed",
            [](GuardEngine& engine, FakeSystem& system, FakeGuardView& view) {
                system.shellResult = 2;
                engine.Start(false, false);
                view.AdvanceBy(engine, 1 * kSecond);
            },
            kLaunchFailed},
        EventCase{"AHealthProbeRestartedIt",
            [](GuardEngine& engine, FakeSystem& system, FakeGuardView& view) {
                view.settings->nLoopSec = 10;
                view.settings->probes.strTcp = u"4001";
                view.settings->probes.nGraceSec = 0;
                system.AddProcess(u"guarded.exe");
                engine.Start(false, false);
                view.AdvanceBy(engine, 25 * kSecond);  // the third failed round is read at :23
            },
            u"健康探测失败（tcp 127.0.0.1:4001：连接被拒绝），正在重启程序。。。"},
        EventCase{"TheBackoffReachedItsCap",
            [](GuardEngine& engine, FakeSystem& system, FakeGuardView& view) {
                view.settings->nBackoffMaxSec = 8;
                system.launchEndsAtOnce = kExit3;
                engine.Start(false, false);
                // Told at 1 s; then waits of 4 and 8 s, the cap, and 8 s again: launches at 3,
                // 8, 17, 26, 35, 44 and 53 s. The summary at 61 s names the cap.
                view.AdvanceBy(engine, kMinute + 1 * kSecond);
            },
            u"已重启 7 次。程序已退出，退出码：3。反复退出，已达最长等待：等待 8 秒后重启（第 3 次）"}),
    [](const ::testing::TestParamInfo<EventCase>& info) { return std::string(info.param.name); });

TEST_F(NotificationTest, AFailedLaunchThatStopsGuardingWithinTheMinuteIsStillTold)
{
    view.settings->bBackoff = false;
    system.launchEndsAtOnce = kExit3;
    engine.Start(false, false);
    Advance(10 * kSecond);  // told at 1 s; the deaths since are held
    system.shellResult = 2;
    Advance(1 * kSecond);
    ASSERT_FALSE(engine.IsGuarding());
    ASSERT_EQ(view.notifications.size(), 1u);

    // The failure outweighs the deaths held with it, and is told when the minute is over.
    Advance(kMinute);
    ASSERT_EQ(view.notifications.size(), 2u);
    EXPECT_EQ(view.notifications[1].atMs, view.notifications[0].atMs + kMinute);
    EXPECT_TRUE(Contains(view.notifications[1].text, kLaunchFailed)) << px::ToUtf8(view.notifications[1].text);
}

TEST_F(NotificationTest, ARelaunchThatFailsRightAfterTheExitMakesOneNotificationOfTheFailure)
{
    system.launchStartsProcess = u"guarded.exe";
    engine.Start(false, false);
    Advance(kMinute);
    system.shellResult = 2;
    system.EndLaunch(system.lastLaunch, kExit3);
    Advance(1 * kSecond);  // one check: the exit, then the launch that fails
    ASSERT_FALSE(engine.IsGuarding());
    ASSERT_EQ(view.notifications.size(), 1u);
    EXPECT_EQ(view.notifications[0].text, kLaunchFailed);
    EXPECT_FALSE(view.HasTimer(TIMER_NOTIFY));
}

TEST_F(NotificationTest, WithTheSettingOffNothingIsNotified)
{
    view.settings->bNotify = false;
    view.settings->bBackoff = false;
    system.launchEndsAtOnce = kExit3;
    engine.Start(false, false);
    Advance(3 * kMinute);
    system.shellResult = 2;
    Advance(3 * kMinute);
    EXPECT_FALSE(engine.IsGuarding());
    EXPECT_TRUE(view.notifications.empty());
    EXPECT_FALSE(view.HasTimer(TIMER_NOTIFY));
}

TEST_F(NotificationTest, TheTooltipCountsTheBackoffsWaitDownAndShowsTheHealthAgainAfter)
{
    system.launchEndsAtOnce = kExit3;
    engine.Start(false, false);
    // Launches at 0, 3 and 8 s; the exit seen at 9 s waits 8 s: at 12 s, 5 s are left.
    Advance(12 * kSecond);

    const std::vector<std::u16string> expected = {u"等待 2 秒后重启（第 1 次）", u"等待 1 秒后重启（第 1 次）", u"",
        u"等待 4 秒后重启（第 2 次）", u"等待 3 秒后重启（第 2 次）", u"等待 2 秒后重启（第 2 次）",
        u"等待 1 秒后重启（第 2 次）", u"", u"等待 8 秒后重启（第 3 次）", u"等待 7 秒后重启（第 3 次）",
        u"等待 6 秒后重启（第 3 次）", u"等待 5 秒后重启（第 3 次）"};
    EXPECT_EQ(view.trayHistory, expected);
    EXPECT_EQ(view.StatusText(), view.trayHistory.back()) << "the status line says the same";

    // The program stays up: the run ends and the tooltip has nothing more to say.
    system.launchEndsAtOnce.reset();
    system.launchStartsProcess = u"guarded.exe";
    Advance(30 * kSecond);
    EXPECT_EQ(engine.QuickExits(), 0);
    EXPECT_EQ(view.trayHistory.back(), u"");
}

}  // namespace
