// Starting and stopping guarding.

#include "guard/StartStop.h"

#include <algorithm>
#include <utility>

#include "guard/GuardEngine.h"
#include "log/LogEntry.h"
#include "resources/Resource.h"

uint32_t LoopIntervalMs(int32_t nLoopSec)
{
    // In 64 bits, and never below a second: a zero or negative interval would otherwise
    // relaunch a wrongly named program every few milliseconds.
    const int64_t ms = static_cast<int64_t>(nLoopSec) * 1000;
    return static_cast<uint32_t>(std::clamp<int64_t>(ms, kMinLoopIntervalMs, kMaxLoopIntervalMs));
}

void GuardEngine::Start(bool askFirst, bool atLaunch)
{
    if (askFirst && !m_view.Ask(u"确定开始启用守护？"))
        return;
    std::optional<GuardConfig> config = m_view.SaveSettingsForStart();
    if (!config)
        return;  // the save has shown why
    m_config = std::move(*config);
    WriteLogEntry(atLaunch ? logtext::kGuardStartedAtLaunch : logtext::kGuardStartedByUser);
    m_program = GuardedProgram(m_config.strExeName, m_config.gateway.strMatchCmdline);
    m_bCommandLineNoteLogged = false;
    m_gatewayRules = BuildGatewayRules(m_config.gateway);
    m_gateway = GatewayState();
    if (IsGatewayProgram(m_config))
        for (const std::u16string& note : m_gatewayRules.ignored)
            WriteLogText(u"->网关对话框规则：" + note);

    m_bGuarding = true;
    m_bProgramUp = false;
    EndBackoffRun();
    // Clock changes count from this start's first look on.
    m_lastClockLook.reset();
    if (m_config.bTimedClose)
        m_schedule.Rebuild(m_config.strRebTime);
    else
        m_schedule.Clear();
    m_view.EnableSettingsControls(false);
    m_view.SetStatusText(u"正在启用。。。");
    m_view.SetStartCaption(u"停止");
    StartGrace();
    m_view.ArmTimer(TIMER_LOOP, LoopIntervalMs(m_config.nLoopSec));
    if (m_config.bTimedClose)
        CheckRestartSoon();
    // The first check runs as soon as the queue reaches it, not one interval later.
    m_view.PostTimerTick(TIMER_LOOP);
}

void GuardEngine::StopAfterAsking()
{
    if (!m_view.Ask(u"确定停止守护吗？"))
        return;
    Stop(u"已停止守护。。。");
    WriteLogEntry(logtext::kGuardStoppedByUser);
}

void GuardEngine::Stop(const std::u16string& statusText)
{
    m_bGuarding = false;
    m_view.SetStatusText(statusText);
    m_view.SetStartCaption(u"开始");
    m_view.CancelTimer(TIMER_LOOP);
    m_view.CancelTimer(TIMER_RESTART);
    m_bRestartPending = false;
    m_view.CancelTimer(TIMER_LAUNCHED);
    EndHealthWork();
    m_view.EnableSettingsControls(true);
    ForgetLaunchedProcess();
    // The run of quick exits ends with guarding: its repeats are counted in the log now.
    EndBackoffRun();
    RaiseEvent("stopped");
    UpdateMetrics(true);
}
