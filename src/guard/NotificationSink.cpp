// The engine's tray notifications and the tray icon's tooltip.

#include "guard/NotificationSink.h"

#include <algorithm>
#include <string>

#include "base/Unicode.h"
#include "guard/GuardView.h"
#include "platform/System.h"
#include "resources/Resource.h"
#include "settings/GuardConfig.h"

std::u16string NoticeTitle(const std::u16string& imageName) { return u"Perennix：" + imageName; }

std::u16string NoticeSummary(uint64_t restarts, const std::u16string& heldText)
{
    if (restarts == 0)
        return heldText;
    return u"已重启 " + px::FromUtf8(std::to_string(restarts)) + u" 次。" + heldText;
}

std::u16string DiedText(const std::optional<ProcessExit>& exit)
{
    if (!exit)
        return u"程序已退出";
    return (exit->bySignal ? u"程序已退出，被信号结束：" : u"程序已退出，退出码：") + ExitText(*exit);
}

void NotificationSink::OnEvent(const GuardEvent& event)
{
    m_restartsNow = event.status.counters.Restarts();
    switch (event.kind) {
    case GuardEventKind::Started:
        // Counters that started again from zero (another program) start the summary's count too.
        m_restartsAtLastShown = std::min(m_restartsAtLastShown, m_restartsNow);
        break;
    case GuardEventKind::Died:
        Hold(NoticeKind::Died,
            event.detail.empty() ? DiedText(event.exit) : DiedText(event.exit) + u"。" + event.detail);
        break;
    case GuardEventKind::BackoffGrew:
        // The wait reaching its cap is told once a run: from here on the program is launched at
        // the cap's pace for as long as it keeps dying.
        if (event.bFlag)
            Hold(NoticeKind::BackoffCap, DiedText(event.exit) + u"。反复退出，已达最长等待：" + event.detail);
        break;
    case GuardEventKind::LaunchFailed:
        Hold(NoticeKind::LaunchFailed, u"打开程序失败，已停止守护。。。！");
        break;
    case GuardEventKind::Restart:
        if (event.reason == RestartReason::Probe)
            Hold(NoticeKind::ProbeRestart, event.notice);
        else if (event.reason == RestartReason::Gateway || event.reason == RestartReason::LoginTimeout)
            Hold(NoticeKind::GatewayRestart, event.notice);
        break;
    case GuardEventKind::DialogAlert:
    case GuardEventKind::DialogStuck:
        Hold(NoticeKind::GatewayDialog, event.notice);
        break;
    case GuardEventKind::TrayStatus:
        if (event.detail != m_strTrayStatus) {
            m_strTrayStatus = event.detail;
            m_view.ShowTrayStatus(event.detail);
        }
        break;
    case GuardEventKind::TickDone:
        Flush();
        break;
    default:
        break;
    }
}

void NotificationSink::Hold(NoticeKind kind, const std::u16string& text)
{
    // Of the events since the last notification, the weightiest is the one to tell: a check
    // whose relaunch failed after the program died tells of the failure.
    if (m_config.bNotify && (!m_held || kind >= m_held->kind))
        m_held = HeldNotice{kind, text};
}

void NotificationSink::Flush()
{
    if (!m_held || m_bWaiting)
        return;
    const int64_t now = GetSystem().GetSteadyMs();
    if (!m_lastShownMs || now - *m_lastShownMs >= kNoticeIntervalMs) {
        const std::u16string text = m_held->text;  // the notice goes with the showing
        Show(text);
        return;
    }
    // Within the minute after the last one: held for the summary at the minute's end. A crash
    // loop thus shows one notification a minute however fast it turns.
    m_bWaiting = true;
    m_view.ArmTimer(TIMER_NOTIFY, static_cast<uint32_t>(*m_lastShownMs + kNoticeIntervalMs - now));
}

void NotificationSink::Show(const std::u16string& text)
{
    m_view.CancelTimer(TIMER_NOTIFY);
    m_bWaiting = false;
    m_lastShownMs = GetSystem().GetSteadyMs();
    m_restartsAtLastShown = m_restartsNow;
    m_held.reset();
    m_view.Notify(NoticeTitle(m_config.strExeName), text);
}

void NotificationSink::OnNoticeTimer()
{
    m_view.CancelTimer(TIMER_NOTIFY);
    m_bWaiting = false;
    if (!m_held || !m_config.bNotify) {
        m_held.reset();
        return;
    }
    const HeldNotice held = *m_held;
    Show(NoticeSummary(m_restartsNow - m_restartsAtLastShown, held.text));
}
