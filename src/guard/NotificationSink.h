#pragma once
// Tray notifications: what the guard tells the user of, and the limit of one a minute. What
// comes within the minute after a notification is held and summarised in the next one, when
// the minute is over.

#include <cstdint>
#include <optional>
#include <string>

#include "guard/GuardEvent.h"

class GuardView;
struct GuardConfig;

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

// The title every notification has: "Perennix：" and the image name.
std::u16string NoticeTitle(const std::u16string& imageName);
// The summary's text: "已重启 N 次。" (when N > 0) and the held event's text.
std::u16string NoticeSummary(uint64_t restarts, const std::u16string& heldText);

// The tray's notifications and tooltip as a sink of the guard's events. The limit of one
// notification a minute is kept here, on the guard's own clock, so every host shows the same
// notifications.
class NotificationSink : public GuardSink {
public:
    NotificationSink(GuardView& view, const GuardConfig& config)
        : m_view(view)
        , m_config(config)
    {
    }
    void OnEvent(const GuardEvent& event) override;
    // The minute after a notification is over: the summary of what was held, if anything.
    // Also after guarding stopped: a failed launch that stopped it within the minute is told.
    void OnNoticeTimer();

private:
    void Hold(NoticeKind kind, const std::u16string& text);
    // After each tick: shows the weightiest of the tick's events, or holds it for the summary
    // when a notification was shown less than a minute ago.
    void Flush();
    void Show(const std::u16string& text);

    GuardView& m_view;
    const GuardConfig& m_config;
    std::optional<int64_t> m_lastShownMs;  // steady clock at the last notification shown
    uint64_t m_restartsAtLastShown = 0;  // the guard's restarts then
    uint64_t m_restartsNow = 0;  // as of the last event
    std::optional<HeldNotice> m_held;  // what came since, for the summary
    bool m_bWaiting = false;  // held until the minute after the last one is over
    std::u16string m_strTrayStatus;  // what the tooltip was last given
};

// How the program ended, as the notification says it.
std::u16string DiedText(const std::optional<ProcessExit>& exit);
