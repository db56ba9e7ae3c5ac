// The guard engine's life cycle: starting and stopping guarding, the one place the state
// changes, publishing events to the sinks, and the restart on purpose.

#include "guard/GuardEngine.h"

#include <algorithm>
#include <utility>

#include "base/DecimalText.h"
#include "guard/GuardCycle.h"
#include "guard/StartStop.h"
#include "log/LogEntry.h"
#include "resources/Resource.h"

namespace {

constexpr uint32_t kClosePollMs = 1000;

// The guard's timers each state may have running; entering a state cancels the others. The
// notification sink's timer is its own and outlives guarding.
bool StateUsesTimer(GuardState state, unsigned id)
{
    switch (state) {
    case GuardState::Idle:
        return false;
    case GuardState::Down:
    case GuardState::BackingOff:
    case GuardState::Ending:
        return id == TIMER_LOOP || id == TIMER_LAUNCHED || id == TIMER_RESTART;
    case GuardState::Up:
        return id == TIMER_LOOP || id == TIMER_LAUNCHED || id == TIMER_RESTART || id == TIMER_PROBE;
    case GuardState::Closing:
        return id == TIMER_LOOP || id == TIMER_RESTART || id == TIMER_STOP;
    }
    return false;
}

}  // namespace

uint32_t LoopIntervalMs(int32_t nLoopSec)
{
    // In 64 bits, and never below a second: a zero or negative interval would otherwise
    // relaunch a wrongly named program every few milliseconds.
    const int64_t ms = static_cast<int64_t>(nLoopSec) * 1000;
    return static_cast<uint32_t>(std::clamp<int64_t>(ms, kMinLoopIntervalMs, kMaxLoopIntervalMs));
}

GuardEngine::Sinks::Sinks(GuardView& view, const GuardConfig& config)
    : command(config)
    , notices(view, config)
    , metrics(config)
{
}

GuardEngine::GuardEngine(GuardView& view)
    : m_view(view)
{
}

GuardEngine::~GuardEngine() { ForgetLaunchedProcess(); }

void GuardEngine::Shutdown() { ForgetLaunchedProcess(); }

void GuardEngine::Start(bool askFirst, bool atLaunch)
{
    if (askFirst && !m_view.Ask(u"确定开始启用守护？"))
        return;
    std::optional<GuardConfig> config = m_view.SaveSettingsForStart();
    if (!config)
        return;  // the save has shown why
    // The counters are the program's: guarding another program starts them from zero.
    if (config->strFullPath != m_config.strFullPath || config->strExeName != m_config.strExeName) {
        m_counters = GuardCounters();
        m_nextLaunch = RestartReason::None;
    }
    m_config = std::move(*config);
    m_program = GuardedProgram(m_config.strExeName, m_config.gateway.strMatchCmdline);
    m_backoff.SetPolicy(BackoffPolicy{m_config.bBackoff, LoopIntervalMs(m_config.nLoopSec),
        int64_t{m_config.nBackoffMaxSec} * 1000, int64_t{m_config.nMinUptimeSec} * 1000});
    m_gateway.Begin(m_config.gateway);
    m_daily.Begin(m_config);

    GuardEvent started{GuardEventKind::Started};
    started.bFlag = atLaunch;
    Publish(started);
    if (IsGatewayProgram(m_config))
        for (const std::u16string& note : m_gateway.Rules().ignored)
            PublishNote(u"->网关对话框规则：" + note);

    SetState(GuardState::Down);
    EndBackoffRun();
    m_view.EnableSettingsControls(false);
    m_view.SetStatusText(u"正在启用。。。");
    m_view.SetStartCaption(u"停止");
    m_health.BeginGrace(GetSystem().GetSteadyMs());
    PublishTrayStatus();
    m_view.ArmTimer(TIMER_LOOP, LoopIntervalMs(m_config.nLoopSec));
    CheckRestartSoon();
    // The first check runs as soon as the queue reaches it, not one interval later.
    m_view.PostTimerTick(TIMER_LOOP);
}

void GuardEngine::StopAfterAsking()
{
    if (!m_view.Ask(u"确定停止守护吗？"))
        return;
    StopWith(u"已停止守护。。。", StopCause::User);
}

void GuardEngine::Stop(const std::u16string& statusText) { StopWith(statusText, StopCause::Other); }

void GuardEngine::StopWith(const std::u16string& statusText, StopCause cause)
{
    SetState(GuardState::Idle);
    m_view.SetStatusText(statusText);
    m_view.SetStartCaption(u"开始");
    m_health.ClearText();
    m_view.EnableSettingsControls(true);
    ForgetLaunchedProcess();
    // The run of quick exits ends with guarding: its repeats are counted in the log now.
    EndBackoffRun();
    GuardEvent stopped{GuardEventKind::Stopped};
    stopped.number = static_cast<int64_t>(cause);
    Publish(stopped);
}

void GuardEngine::OnTimer(uintptr_t id)
{
    if ((id == TIMER_LOOP || id == TIMER_LAUNCHED) && IsGuarding())
        GuardedCheck(id);
    else if (id == TIMER_RESTART)
        OnDailyAnswer(m_daily.OnCountdownTick());
    else if (id == TIMER_PROBE)
        OnProbeTimer();
    else if (id == TIMER_STOP)
        OnCloseTick();
    else if (id == TIMER_NOTIFY)
        m_sinks.notices.OnNoticeTimer();
    // Anything else, such as a loop tick already queued when guarding stopped, does nothing.
    // Every event to tell comes from a tick: the tick's events make one notification.
    Publish(GuardEvent{GuardEventKind::TickDone});
}

void GuardEngine::SetState(GuardState next)
{
    if (next == m_state)
        return;
    for (const unsigned id : {TIMER_LOOP, TIMER_LAUNCHED, TIMER_RESTART, TIMER_PROBE, TIMER_STOP})
        if (!StateUsesTimer(next, id))
            m_view.CancelTimer(id);
    if (m_state == GuardState::Up)
        m_health.Abandon(GetSystem());  // a round's answers mean nothing once the program is not up
    if (next == GuardState::Idle)
        m_daily.End();
    m_state = next;
}

void GuardEngine::Publish(GuardEvent event)
{
    CountEvent(m_counters, event, GetSystem().GetUnixTimeMs() / 1000);
    event.status = GuardStatus{IsGuarding(), m_state == GuardState::Up, m_backoff.WaitMs(), m_counters};
    for (GuardSink* sink :
        std::initializer_list<GuardSink*>{&m_sinks.log, &m_sinks.command, &m_sinks.notices, &m_sinks.metrics})
        sink->OnEvent(event);
}

void GuardEngine::PublishNote(std::u16string line)
{
    GuardEvent note{GuardEventKind::Note};
    note.detail = std::move(line);
    Publish(std::move(note));
}

void GuardEngine::PublishTrayStatus()
{
    // The back-off's wait, while it runs, says more than the health of a program that is not
    // running.
    const int64_t remainingMs
        = m_state == GuardState::BackingOff ? m_backoff.RemainingMs(GetSystem().GetSteadyMs()) : 0;
    GuardEvent tray{GuardEventKind::TrayStatus};
    tray.detail
        = remainingMs > 0 ? BackoffStatusText((remainingMs + 999) / 1000, m_backoff.Failures()) : m_health.Text();
    Publish(std::move(tray));
}

void GuardEngine::EndBackoffRun()
{
    m_backoff.Reset();
    Publish(GuardEvent{GuardEventKind::BackoffEnded});
    PublishTrayStatus();
}

void GuardEngine::RestartOnPurpose(const RestartRequest& request, int32_t minuteOfDay)
{
    // The program is being ended already: that end and its one launch serve this request too,
    // so one launch is never counted, told or notified as two restarts.
    if (m_state == GuardState::Closing || m_state == GuardState::Ending)
        return;
    GuardEvent restart{GuardEventKind::Restart, request.reason};
    restart.detail = request.logText;
    restart.notice = request.notice;
    restart.number = minuteOfDay;
    Publish(std::move(restart));
    if (!request.status.empty())
        ShowStatus(request.status);
    // Ended on purpose: no exit to report, no back-off of its own, and the next launch is this
    // restart's. A restart tick already queued when guarding stopped still ends the program,
    // at once, and nothing launches it again.
    if (!IsGuarding()) {
        EndProgramNow();
        return;
    }
    SetState(GuardState::Ending);
    EndBackoffRun();
    m_nextLaunch = request.reason;
    // A dialog that comes back launch after launch (a session held elsewhere, a refused
    // password) is answered with ever longer waits, as quick exits are.
    if (const int64_t waitMs = m_backoff.HoldForRestartsInRow(GetSystem().GetSteadyMs(), request.restartsInRow))
        PublishNote(u"->网关连续第 " + px::IToW(request.restartsInRow) + u" 次重启，等待 "
            + px::IToW(static_cast<int32_t>(waitMs / 1000)) + u" 秒后启动");
    EndProgramForRestart();
}

void GuardEngine::EndProgramForRestart()
{
    const int32_t timeoutSec = m_config.probes.nStopTimeoutSec;
    if (timeoutSec > 0 && AskAllNamedToClose(GetSystem(), m_program)) {
        GuardEvent asked{GuardEventKind::CloseAsked};
        asked.number = timeoutSec;
        Publish(std::move(asked));
        m_closeDeadlineMs = GetSystem().GetSteadyMs() + int64_t{timeoutSec} * 1000;
        SetState(GuardState::Closing);
        m_view.ArmTimer(TIMER_STOP, kClosePollMs);
        return;
    }
    EndProgramNow();
}

void GuardEngine::EndProgramNow()
{
    // Everything the last launch started goes, then whatever else runs under the image name:
    // ending only a launcher would leave its program running beside the next launch's. The
    // launch stays known until its last process is gone, so a check in the moment its
    // processes take to die starts no second copy. The next check launches it again.
    if (IsGuarding())
        SetState(GuardState::Ending);
    if (m_launched)
        GetSystem().TerminateLaunched(*m_launched);
    TerminateAllNamed(GetSystem(), m_program);
    NoteUnreadableCommandLine();
    m_view.ArmTimer(TIMER_LAUNCHED, kLaunchedCheckMs);
}

void GuardEngine::OnCloseTick()
{
    if (m_state != GuardState::Closing)
        return;
    const bool closed = !IsProcessRunning();
    const bool timedOut = GetSystem().GetSteadyMs() >= m_closeDeadlineMs;
    if (!closed && !timedOut)
        return;
    if (!closed)
        Publish(GuardEvent{GuardEventKind::CloseForced});
    // Also when the program closed by itself: a launcher it leaves behind goes too.
    EndProgramNow();
}
