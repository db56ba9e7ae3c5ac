// Starting and stopping guarding with the start/stop button.

#include "guard/StartStop.h"

#include <algorithm>

#include "base/LogEntry.h"
#include "base/Resource.h"
#include "ui/CPerennixDlg.h"

uint32_t LoopIntervalMs(int32_t nLoopSec)
{
    // In 64 bits, and never below a second: a zero or negative interval would otherwise
    // relaunch a wrongly named program every few milliseconds.
    const int64_t ms = static_cast<int64_t>(nLoopSec) * 1000;
    return static_cast<uint32_t>(std::clamp<int64_t>(ms, kMinLoopIntervalMs, kMaxLoopIntervalMs));
}

void CPerennixDlg::OnBnClickedStart()
{
    if (!m_bGuarding) {
        StartGuarding();
        return;
    }
    if (MessageBox(u"确定停止守护吗？", std::u16string(u"提示"), MB_OKCANCEL) != IDOK)
        return;
    StopGuarding(u"已停止守护。。。");
    WriteLogEntry(logtext::kGuardStoppedByUser);
}

void CPerennixDlg::StartGuarding()
{
    // A program started with start-on-launch set never asks during that run.
    const bool atLaunch = m_bStartAtLaunchPending;
    m_bStartAtLaunchPending = false;
    if (!m_bAutoStart && MessageBox(u"确定开始启用守护？", std::u16string(u"提示"), MB_OKCANCEL) != IDOK)
        return;
    if (!SaveSettings())
        return;  // the save has shown why
    WriteLogEntry(atLaunch ? logtext::kGuardStartedAtLaunch : logtext::kGuardStartedByUser);

    m_bGuarding = true;
    // Clock changes count from this start's first look on.
    m_lastClockLook.reset();
    if (m_config.bTimedClose)
        m_schedule.Rebuild(m_config.strRebTime);
    else
        m_schedule.Clear();
    SetGuardControlsEnabled(false);
    m_pWnd->SetDlgItemText(IDC_STATUS, u"正在启用。。。");
    m_pWnd->SetDlgItemText(IDC_START, u"停止");
    SetTimer(TIMER_LOOP, LoopIntervalMs(m_config.nLoopSec));
    if (m_config.bTimedClose)
        CheckRestartSoon();
    // The first check runs as soon as the queue reaches it, not one interval later.
    m_pWnd->PostMessage(WM_TIMER, TIMER_LOOP, 0);
}
