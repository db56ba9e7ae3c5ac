// The guard cycle: what the engine does at each check (a tick of the loop timer, or the
// one-shot check after a launch), at the probes' and the daily restart's ticks, and when the
// program it guards has ended.

#include "guard/GuardCycle.h"

#include <string>

#include "base/DecimalText.h"
#include "guard/GuardEngine.h"
#include "guard/ProcessMatch.h"
#include "platform/System.h"
#include "resources/Resource.h"

namespace {

constexpr uint32_t kRestartPollMs = 35000;  // shorter than a minute: every minute gets a tick

constexpr char16_t kStatusLaunching[] = u"正在打开目录程序。。。";
constexpr char16_t kStatusRunning[] = u"守护正在运行。。。";
constexpr char16_t kStatusLaunchFailed[] = u"打开程序失败，已停止守护。。。！";
constexpr char16_t kStatusNameNotFound[] = u"已启动，但找不到进程名：";

// The status line while the program runs: with a probe failing, how far it is from a restart.
std::u16string RunningStatus(const HealthMonitor& health)
{
    if (health.Failing() == 0)
        return kStatusRunning;
    return u"守护正在运行，探测失败 " + px::IToW(health.Failing()) + u"/" + px::IToW(health.Needed()) + u"。。。";
}

bool IsRunningStatus(const std::u16string& text) { return text.rfind(u"守护正在运行", 0) == 0; }

}  // namespace

bool LaunchesThroughShell(const std::u16string& path, System& system)
{
    // "exe" or "EXE" anywhere in the path (case-sensitive) marks a program for the shell's
    // "open"; anything else is a command line for the interpreter. A program the system knows
    // as one by other means (an executable file on Linux, where program names carry no
    // extension; "Client.Exe" on Windows) is a program too: through the interpreter it would
    // get no arguments. A script the system knows only the interpreter runs (on Linux) goes
    // there whatever its path spells: the shell's "open" would show "~/executables/run.sh" in
    // an editor.
    if (system.IsExecutableProgram(path))
        return true;
    const bool spellsExe = path.find(u"exe") != std::u16string::npos || path.find(u"EXE") != std::u16string::npos;
    return spellsExe && !system.IsScriptFile(path);
}

void GuardEngine::GuardedCheck(uintptr_t id)
{
    if (m_state == GuardState::Closing) {
        // The close's own tick ends the program and arms the check that launches it again.
        return;
    }
    // What the last launch started is kept while any of its processes lives, also while the
    // program is found by name: the daily restart ends all of it, launcher scripts and the
    // programs they started in the background included.
    if (IsProcessRunning()) {
        CheckWhileUp();
    } else if (m_launched && GetSystem().IsAlive(*m_launched)) {
        // What the last launch started still runs (a launcher that returned may have left the
        // real program running in the background), but under another name than the one
        // configured: launching again would only pile up copies of it.
        ShowStatus(kStatusNameNotFound + m_config.strExeName);
        NoteProgramStaysUp();
    } else {
        if (m_state == GuardState::Up)
            NoteProgramEnded();
        if (!WaitingAfterQuickExit() && !LaunchProgram())
            return;  // guarding has stopped
    }
    CheckRestartSoon();
    // Killed last, so a one-shot re-armed by a relaunch in this very tick is cancelled too:
    // the next check is the next loop tick.
    if (id == TIMER_LAUNCHED)
        m_view.CancelTimer(TIMER_LAUNCHED);
    Publish(GuardEvent{GuardEventKind::CheckDone});
}

void GuardEngine::CheckWhileUp()
{
    NoteProgramStaysUp();
    // A dialog the user must see (an alert, a dialog given up on) says so instead of "running".
    std::u16string status = RunningStatus(m_health);
    if (IsGatewayProgram(m_config)) {
        GatewayAnswer answer = m_gateway.Check(GetSystem(), m_program, GetSystem().GetSteadyMs() - m_launchedAtMs);
        for (GuardEvent& event : answer.events)
            Publish(std::move(event));
        if (answer.restart) {
            RestartOnPurpose(*answer.restart);
            return;
        }
        if (!answer.status.empty())
            status = answer.status;
    }
    ShowStatus(status);
    // The answers are read on the probe's own tick: no wait on the window's thread.
    if (m_health.StartRound(GetSystem(), m_program, GetSystem().GetSteadyMs()))
        m_view.ArmTimer(TIMER_PROBE, kProbeAnswerMs);
}

bool GuardEngine::LaunchProgram()
{
    ForgetLaunchedProcess();
    ShowStatus(kStatusLaunching);
    GuardEvent launching{GuardEventKind::Launching};
    launching.reason = m_nextLaunch != RestartReason::None ? m_nextLaunch
        : m_counters.nLaunches > 0                         ? RestartReason::Crash
                                                           : RestartReason::None;
    m_nextLaunch = RestartReason::None;
    Publish(std::move(launching));
    m_launchedAtMs = GetSystem().GetSteadyMs();
    m_gateway.OnLaunch();
    SetState(GuardState::Up);
    const std::u16string& path = m_config.strFullPath;
    GuardEvent launched{GuardEventKind::Launched};
    launched.detail = path;
    if (LaunchesThroughShell(path, GetSystem())) {
        const std::u16string* parameters = m_config.strArgs.empty() ? nullptr : &m_config.strArgs;
        const intptr_t result = GetSystem().ShellOpen(path, parameters, &m_launched);
        if (result <= 32) {
            GuardEvent failed{GuardEventKind::LaunchFailed};
            failed.number = static_cast<int64_t>(result);
            Publish(std::move(failed));
            StopLaunchFailed();
            return false;
        }
        Publish(std::move(launched));
    } else {
        Publish(std::move(launched));
        // The script runs beside the window, which goes on answering and guarding; its exit
        // status says nothing about the program, but an interpreter that could not run the
        // file at all is a failed launch.
        if (!GetSystem().StartScript(path, &m_launched)) {
            GuardEvent failed{GuardEventKind::LaunchFailed};
            failed.bFlag = true;
            Publish(std::move(failed));
            StopLaunchFailed();
            return false;
        }
    }
    m_health.BeginGrace(GetSystem().GetSteadyMs());
    PublishTrayStatus();
    m_view.ArmTimer(TIMER_LAUNCHED, kLaunchedCheckMs);
    return true;
}

void GuardEngine::StopLaunchFailed() { StopWith(kStatusLaunchFailed, StopCause::LaunchFailed); }

void GuardEngine::ForgetLaunchedProcess()
{
    if (m_launched)
        GetSystem().Release(*m_launched);
    m_launched.reset();
}

void GuardEngine::ShowStatus(const std::u16string& text)
{
    // Set only when it differs, so the status line does not flicker on every tick.
    if (m_view.StatusText() != text)
        m_view.SetStatusText(text);
}

void GuardEngine::NoteProgramStaysUp()
{
    SetState(GuardState::Up);
    if (m_backoff.InformOfUptime(GetSystem().GetSteadyMs() - m_launchedAtMs))
        EndBackoffRun();
}

void GuardEngine::NoteProgramEnded()
{
    SetState(GuardState::Down);
    const int64_t now = GetSystem().GetSteadyMs();
    const std::optional<ProcessExit> exit = m_launched ? GetSystem().ExitOf(*m_launched) : std::nullopt;
    const BackoffVerdict verdict = m_backoff.InformOfExit(now, m_launched.has_value(), now - m_launchedAtMs);
    if (!verdict.quick)
        EndBackoffRun();
    const std::u16string wait = verdict.quick ? BackoffStatusText(verdict.waitMs / 1000, verdict.attempt) : u"";
    GuardEvent died{GuardEventKind::Died};
    died.exit = exit;
    died.bFlag = m_launched.has_value();
    died.number = verdict.quick ? verdict.attempt - 1 : 0;
    died.detail = wait;
    Publish(std::move(died));
    if (verdict.grew) {
        GuardEvent grew{GuardEventKind::BackoffGrew};
        grew.exit = exit;
        grew.detail = wait;
        grew.number = m_config.nMinUptimeSec;
        grew.bFlag = verdict.atCap;
        Publish(std::move(grew));
    }
}

bool GuardEngine::WaitingAfterQuickExit()
{
    const int64_t remainingMs = m_backoff.RemainingMs(GetSystem().GetSteadyMs());
    SetState(remainingMs > 0 ? GuardState::BackingOff : GuardState::Down);
    // The status line and the tray icon's tooltip count the wait down.
    PublishTrayStatus();
    if (remainingMs > 0)
        ShowStatus(BackoffStatusText((remainingMs + 999) / 1000, m_backoff.Failures()));
    return remainingMs > 0;
}

// The command-line text of the settings applies to every look at the program's processes.
bool GuardEngine::IsProcessRunning()
{
    const bool running = AnyProcessNamed(GetSystem(), m_program);
    NoteUnreadableCommandLine();
    return running;
}

void GuardEngine::NoteUnreadableCommandLine()
{
    if (!m_program.commandLineUnreadable)
        return;
    GuardEvent note{GuardEventKind::CommandLineUnreadable};
    note.detail = m_program.imageName;
    Publish(std::move(note));
}

void GuardEngine::CheckRestartSoon()
{
    if (IsGuarding())
        OnDailyAnswer(m_daily.LookAhead());
}

void GuardEngine::OnDailyAnswer(const DailyRestart::Answer& answer)
{
    if (answer.countdownOver)
        m_view.CancelTimer(TIMER_RESTART);
    for (const int32_t minute : answer.fired)
        RestartOnPurpose(RestartRequest{RestartReason::Daily, {}, {}, {}, 0}, minute);
    if (answer.countdownFor) {
        m_view.ArmTimer(TIMER_RESTART, kRestartPollMs);
        GuardEvent armed{GuardEventKind::CountdownArmed};
        armed.number = *answer.countdownFor;
        Publish(std::move(armed));
    }
}

void GuardEngine::OnProbeTimer()
{
    m_view.CancelTimer(TIMER_PROBE);
    if (m_state != GuardState::Up)
        return;
    const std::optional<HealthMonitor::RoundResult> result = m_health.FinishRound(GetSystem());
    if (!result)
        return;
    GuardEvent checked{GuardEventKind::ProbesChecked};
    checked.number = result->failed;
    Publish(std::move(checked));
    PublishTrayStatus();
    if (const std::optional<ProbeOutcome>& failed = result->due) {
        const std::u16string times = px::IToW(m_config.probes.nFails);
        RestartOnPurpose(
            RestartRequest{RestartReason::Probe, failed->probe + u"：" + failed->seen + u"（连续 " + times + u" 次）",
                u"健康探测失败（" + failed->probe + u"），正在重启程序。。。",
                u"健康探测失败（" + failed->probe + u"：" + failed->seen + u"），正在重启程序。。。", 0});
        return;
    }
    // A failing probe shows in the status line at once, not only at the next check.
    if (IsRunningStatus(m_view.StatusText()))
        ShowStatus(RunningStatus(m_health));
}
