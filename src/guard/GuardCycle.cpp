// The guard cycle: what the engine does on each tick of the window's three guard timers.

#include <ctime>
#include <optional>

#include "guard/GuardCycle.h"
#include "guard/GuardEngine.h"
#include "guard/ProcessMatch.h"
#include "log/LogEntry.h"
#include "platform/System.h"
#include "resources/Resource.h"

namespace {

constexpr uint32_t kRestartPollMs = 35000;  // shorter than a minute: every minute gets a tick

constexpr char16_t kStatusLaunching[] = u"正在打开目录程序。。。";
constexpr char16_t kStatusRunning[] = u"守护正在运行。。。";
constexpr char16_t kStatusLaunchFailed[] = u"打开程序失败，已停止守护。。。！";
constexpr char16_t kStatusNameNotFound[] = u"已启动，但找不到进程名：";

// A wall clock that ran this much ahead of real time between two looks was moved forward.
constexpr int64_t kClockJumpMs = 60 * 1000;
constexpr int64_t kMsPerDay = 24 * 60 * 60 * 1000;

int32_t MinuteOfDay(const std::tm& calendar) { return calendar.tm_hour * 60 + calendar.tm_min; }

int64_t DayNumber(int64_t wallMs) { return (wallMs >= 0 ? wallMs : wallMs - kMsPerDay + 1) / kMsPerDay; }

// What one look at the clock found.
struct ClockLook {
    int32_t minute;  // of the day now
    int32_t day;  // of the year now
    int32_t weekday;  // 0 = Sunday
    // When the wall clock jumped forward since the last look: the minute of that look, or -1
    // when it was on an earlier day. Every minute after it up to now went by unseen.
    std::optional<int32_t> jumpedFrom;
};

ClockLook LookAtClock(std::optional<ClockReading>& lastLook)
{
    const ClockReading now = ReadClocks();
    ClockLook look{MinuteOfDay(now.calendar), now.calendar.tm_yday, now.calendar.tm_wday, std::nullopt};
    if (lastLook && WallClockJumpMs(*lastLook, now) >= kClockJumpMs) {
        const bool sameDay = DayNumber(lastLook->wallMs) == DayNumber(now.wallMs);
        look.jumpedFrom = sameDay ? MinuteOfDay(lastLook->calendar) : -1;
    }
    lastLook = now;
    return look;
}

}  // namespace

bool LaunchesThroughShell(const std::u16string& path, System& system)
{
    // "exe" or "EXE" anywhere in the path (case-sensitive) marks a program for the shell's
    // "open"; anything else is a command line for the interpreter. A program the system knows
    // as one by other means (an executable file on Linux, where program names carry no
    // extension; "Client.Exe" on Windows) is a program too: through the interpreter it would
    // get no arguments. A script the system
    // knows only the interpreter runs (on Linux) goes there whatever its path spells: the
    // shell's "open" would show "~/executables/run.sh" in an editor.
    if (system.IsExecutableProgram(path))
        return true;
    const bool spellsExe = path.find(u"exe") != std::u16string::npos || path.find(u"EXE") != std::u16string::npos;
    return spellsExe && !system.IsScriptFile(path);
}

GuardEngine::GuardEngine(GuardView& view)
    : m_view(view)
{
}

GuardEngine::~GuardEngine() { ForgetLaunchedProcess(); }

void GuardEngine::Shutdown() { ForgetLaunchedProcess(); }

void GuardEngine::OnTimer(uintptr_t id)
{
    if ((id == TIMER_LOOP || id == TIMER_LAUNCHED) && m_bGuarding)
        GuardedCheck(id);
    else if (id == TIMER_RESTART)
        FireDueRestart();
    else if (id == TIMER_PROBE)
        FinishProbeRound();
    else if (id == TIMER_STOP)
        OnStopTick();
    else if (id == TIMER_NOTIFY)
        ShowHeldNotice();
    // Anything else, such as a loop tick already queued when guarding stopped, does nothing.
    // Every event to tell comes from a tick: the tick's events make one notification.
    FlushNotices();
}

void GuardEngine::GuardedCheck(uintptr_t id)
{
    if (IsStopping()) {
        // The stop's own tick ends the program and arms the check that launches it again.
        if (id == TIMER_LAUNCHED)
            m_view.CancelTimer(TIMER_LAUNCHED);
        return;
    }
    // What the last launch started is kept while any of its processes lives, also while the
    // program is found by name: the daily restart ends all of it, launcher scripts and the
    // programs they started in the background included.
    if (IsProcessRunning(m_config.strExeName)) {
        NoteProgramStaysUp();
        // A dialog the user must see (an alert, a dialog given up on) says so instead.
        std::u16string status = kStatusRunning;
        const bool restarting = IsGatewayProgram(m_config) && RunGatewayStep(status);
        if (!restarting) {
            ShowStatus(status);
            CheckHealth();
        }
    } else if (m_launched && GetSystem().IsAlive(*m_launched)) {
        // What the last launch started still runs (a launcher that returned may have left the
        // real program running in the background), but under another name than the one
        // configured: launching again would only pile up copies of it.
        ShowStatus(kStatusNameNotFound + m_config.strExeName);
        NoteProgramStaysUp();
    } else {
        if (m_bProgramUp)
            NoteProgramEnded();
        if (!WaitingAfterQuickExit() && !LaunchProgram())
            return;  // guarding has stopped
    }
    CheckRestartSoon();
    // Killed last, so a one-shot re-armed by a relaunch in this very tick is cancelled too:
    // the next check is the next loop tick.
    if (id == TIMER_LAUNCHED)
        m_view.CancelTimer(TIMER_LAUNCHED);
    CollectEventCommands();
    UpdateMetrics(false);
}

bool GuardEngine::LaunchProgram()
{
    ForgetLaunchedProcess();
    ShowStatus(kStatusLaunching);
    if (m_counters.nLaunches > 0 && !m_bRestartLaunch)
        ++m_counters.nCrashRestarts;
    m_bRestartLaunch = false;
    ++m_counters.nLaunches;
    m_counters.lastLaunchUnixSec = GetSystem().GetUnixTimeMs() / 1000;
    m_launchedAtMs = GetSystem().GetSteadyMs();
    m_gateway.loginJudged = false;  // this launch's login window is looked for in time
    m_bProgramUp = true;
    const std::u16string& path = m_config.strFullPath;
    if (LaunchesThroughShell(path, GetSystem())) {
        const std::u16string* parameters = m_config.strArgs.empty() ? nullptr : &m_config.strArgs;
        const intptr_t result = GetSystem().ShellOpen(path, parameters, &m_launched);
        if (result <= 32) {
            WriteLogEntry(logtext::kLaunchFailed, static_cast<int64_t>(result));
            StopLaunchFailed();
            return false;
        }
        // The path only: the arguments may be scrambled secrets and never reach the log.
        WriteLogEntry(logtext::kProgramLaunched, path);
    } else {
        WriteLogEntry(logtext::kProgramLaunched, path);
        // The script runs beside the window, which goes on answering and guarding; its exit
        // status says nothing about the program, but an interpreter that could not run the
        // file at all is a failed launch.
        if (!GetSystem().StartScript(path, &m_launched)) {
            WriteLogEntry(logtext::kScriptNotRun);
            StopLaunchFailed();
            return false;
        }
    }
    StartGrace();
    m_view.ArmTimer(TIMER_LAUNCHED, kLaunchedCheckMs);
    return true;
}

void GuardEngine::StopLaunchFailed()
{
    m_bProgramUp = false;
    RaiseEvent("launch_failed");
    Notice(NoticeKind::LaunchFailed, kStatusLaunchFailed);
    Stop(kStatusLaunchFailed);
    WriteLogEntry(logtext::kGuardStoppedLaunchFailed);
}

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

void GuardEngine::CheckRestartSoon()
{
    if (!m_config.bTimedClose || m_bRestartPending)
        return;
    const ClockLook now = LookAtClock(m_lastClockLook);
    FireJumpedOverRestarts(now.jumpedFrom, now.minute, now.day, now.weekday);
    const RestartEntry* entry = m_schedule.FindDueSoon(now.minute, now.day, now.weekday);
    if (!entry)
        return;
    m_view.ArmTimer(TIMER_RESTART, kRestartPollMs);
    WriteRestartLogEntry(entry->minuteOfDay, logtext::kCountdownArmed);
    m_bRestartPending = true;
}

void GuardEngine::FireDueRestart()
{
    const ClockLook now = LookAtClock(m_lastClockLook);
    if (FireJumpedOverRestarts(now.jumpedFrom, now.minute, now.day, now.weekday))
        return;
    if (RestartEntry* entry = m_schedule.FindDueNow(now.minute, now.day, now.weekday))
        FireRestart(*entry, now.day);
    // Otherwise it is not the minute yet: the countdown polls again.
}

bool GuardEngine::FireJumpedOverRestarts(
    std::optional<int32_t> jumpedFrom, int32_t minuteNow, int32_t dayNow, int32_t weekdayNow)
{
    // The wall clock skipped the minutes of these restart times (daylight saving time began,
    // or the clock was set forward): each fires now, in the first minute shown after the
    // jump, rather than not at all that day.
    if (!jumpedFrom)
        return false;
    bool fired = false;
    while (RestartEntry* entry = m_schedule.FindJumpedOver(*jumpedFrom, minuteNow, dayNow, weekdayNow)) {
        FireRestart(*entry, dayNow);
        fired = true;
    }
    return fired;
}

void GuardEngine::FireRestart(RestartEntry& entry, int32_t dayNow)
{
    WriteRestartLogEntry(entry.minuteOfDay, logtext::kRestartFired);
    // Ended on purpose: no exit to report, no back-off, and the next launch is the restart's.
    m_bProgramUp = false;
    EndBackoffRun();
    ++m_counters.nDailyRestarts;
    m_bRestartLaunch = true;
    RaiseEvent("daily_restart");
    m_view.CancelTimer(TIMER_RESTART);
    m_bRestartPending = false;
    EndProgramForRestart();
    entry.lastFiredDay = dayNow;
}

// The command-line text of the settings applies to every look at the program's processes.
bool GuardEngine::IsProcessRunning(const std::u16string& imageName)
{
    m_program.imageName = imageName;
    const bool running = AnyProcessNamed(GetSystem(), m_program);
    NoteUnreadableCommandLine();
    return running;
}

bool GuardEngine::TerminateProcessesByName(const std::u16string& imageName)
{
    m_program.imageName = imageName;
    const bool ended = TerminateAllNamed(GetSystem(), m_program);
    NoteUnreadableCommandLine();
    return ended;
}
