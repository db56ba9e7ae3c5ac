#pragma once
// Tray notifications: what the guard tells the user of, and the limit of one a minute. What
// comes within the minute after a notification is held and summarised in the next one, when
// the minute is over.

#include <cstdint>
#include <optional>
#include <string>

// What a notification tells of, by weight: of the events held within a minute, the summary
// names the weightiest (of equal weight, the latest).
// A gateway dialog that waits for the user (an alert title, or one a space key does not close)
// weighs just below a failed launch: the user has to act on it.
enum class NoticeKind { Died, ProbeRestart, GatewayRestart, BackoffCap, GatewayDialog, LaunchFailed };

// At most one notification in this long.
inline constexpr int64_t kNoticeIntervalMs = 60 * 1000;

struct HeldNotice {
    NoticeKind kind = NoticeKind::Died;
    std::u16string text;
};

// The notifications' state between ticks.
struct NoticeState {
    std::optional<int64_t> lastShownMs;  // steady clock at the last notification shown
    uint64_t restartsAtLastShown = 0;  // the guard's restarts then
    std::optional<HeldNotice> held;  // what came since, for the summary
    bool bWaiting = false;  // held until the minute after the last one is over
};

// The title every notification has: "Perennix：" and the image name.
std::u16string NoticeTitle(const std::u16string& imageName);
// The summary's text: "已重启 N 次。" (when N > 0) and the held event's text.
std::u16string NoticeSummary(uint64_t restarts, const std::u16string& heldText);
