// The engine's tray notifications and the tray icon's tooltip. The limit of one notification a
// minute is kept here, on the guard's own clock, so every host shows the same notifications.

#include "guard/Notifications.h"

#include <string>

#include "base/Unicode.h"
#include "guard/GuardEngine.h"
#include "platform/System.h"
#include "resources/Resource.h"

std::u16string NoticeTitle(const std::u16string& imageName) { return u"Perennix：" + imageName; }

std::u16string NoticeSummary(uint64_t restarts, const std::u16string& heldText)
{
    if (restarts == 0)
        return heldText;
    return u"已重启 " + px::FromUtf8(std::to_string(restarts)) + u" 次。" + heldText;
}

void GuardEngine::Notice(NoticeKind kind, const std::u16string& text)
{
    // Of the events since the last notification, the weightiest is the one to tell: a check
    // whose relaunch failed after the program died tells of the failure.
    if (m_config.bNotify && (!m_notices.held || kind >= m_notices.held->kind))
        m_notices.held = HeldNotice{kind, text};
}

void GuardEngine::FlushNotices()
{
    if (!m_notices.held || m_notices.bWaiting)
        return;
    const int64_t now = GetSystem().GetSteadyMs();
    if (!m_notices.lastShownMs || now - *m_notices.lastShownMs >= kNoticeIntervalMs) {
        const std::u16string text = m_notices.held->text;  // the notice goes with the showing
        ShowNotice(text);
        return;
    }
    // Within the minute after the last one: held for the summary at the minute's end. A crash
    // loop thus shows one notification a minute however fast it turns.
    m_notices.bWaiting = true;
    m_view.ArmTimer(TIMER_NOTIFY, static_cast<uint32_t>(*m_notices.lastShownMs + kNoticeIntervalMs - now));
}

void GuardEngine::ShowNotice(const std::u16string& text)
{
    m_view.CancelTimer(TIMER_NOTIFY);
    m_notices.bWaiting = false;
    m_notices.lastShownMs = GetSystem().GetSteadyMs();
    m_notices.restartsAtLastShown = m_counters.Restarts();
    m_notices.held.reset();
    m_view.Notify(NoticeTitle(m_config.strExeName), text);
}

void GuardEngine::ShowHeldNotice()
{
    // Also after guarding stopped: a failed launch that stopped it within the minute is told.
    m_view.CancelTimer(TIMER_NOTIFY);
    m_notices.bWaiting = false;
    if (!m_notices.held || !m_config.bNotify) {
        m_notices.held.reset();
        return;
    }
    const HeldNotice held = *m_notices.held;
    ShowNotice(NoticeSummary(m_counters.Restarts() - m_notices.restartsAtLastShown, held.text));
}

void GuardEngine::ShowHealth(const std::u16string& text)
{
    m_strHealth = text;
    UpdateTrayStatus();
}

void GuardEngine::UpdateTrayStatus()
{
    // The back-off's wait, while it runs, says more than the health of a program that is not
    // running.
    const std::u16string& text = m_strBackoffTip.empty() ? m_strHealth : m_strBackoffTip;
    if (text == m_strTrayStatus)
        return;
    m_strTrayStatus = text;
    m_view.ShowTrayStatus(text);
}
