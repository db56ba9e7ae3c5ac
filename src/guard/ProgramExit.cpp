// What the engine does when the program it guards has ended: how it ended goes to the log, a
// program that keeps dying at once is launched ever less often (never given up on), the
// event command and the tray's notifications tell of it, and the metrics file shows it.

#include <algorithm>
#include <string>

#include "base/Paths.h"
#include "base/Unicode.h"
#include "guard/GuardEngine.h"
#include "guard/StartStop.h"
#include "log/LogEntry.h"
#include "platform/Files.h"
#include "platform/System.h"

namespace {

constexpr int64_t kMetricsRefreshMs = 60 * 1000;

std::u16string Decimal(int64_t number) { return px::FromUtf8(std::to_string(number)); }

std::u16string ExitText(const ProcessExit& exit)
{
    if (exit.bySignal)
        return exit.signalName.empty() ? Decimal(exit.code) : exit.signalName + u" (" + Decimal(exit.code) + u")";
    return Decimal(exit.code);
}

// How the program ended, as the notification says it.
std::u16string DiedText(const std::optional<ProcessExit>& exit)
{
    if (!exit)
        return u"程序已退出";
    return (exit->bySignal ? u"程序已退出，被信号结束：" : u"程序已退出，退出码：") + ExitText(*exit);
}

}  // namespace

std::u16string BackoffStatusText(int64_t seconds, int32_t attempt)
{
    return u"等待 " + Decimal(seconds) + u" 秒后重启（第 " + Decimal(attempt) + u" 次）";
}

void GuardEngine::NoteProgramStaysUp()
{
    m_bProgramUp = true;
    const int64_t upMs = GetSystem().GetSteadyMs() - m_launchedAtMs;
    if (m_nQuickExits > 0 && upMs >= int64_t{m_config.nMinUptimeSec} * 1000)
        EndBackoffRun();
}

void GuardEngine::NoteProgramEnded()
{
    m_bProgramUp = false;
    const int64_t now = GetSystem().GetSteadyMs();
    // Only the time the check noticed it is known: a program seen up at one check and gone at
    // the next lived at least until the first.
    const bool quick = m_launched && now - m_launchedAtMs < int64_t{m_config.nMinUptimeSec} * 1000;
    const std::optional<ProcessExit> exit = m_launched ? GetSystem().ExitOf(*m_launched) : std::nullopt;
    if (!m_config.bBackoff || !quick)
        EndBackoffRun();
    if (m_launched)
        LogExit(exit);
    m_lastExitForEvent = exit;
    RaiseEvent("died");
    if (!m_config.bBackoff || !quick) {
        Notice(NoticeKind::Died, DiedText(exit));
        return;
    }

    // The k-th quick exit in a row waits LOOPSEC × 2^k, up to the cap; never less than the
    // loop, so a cap below it only means "no back-off beyond the loop".
    ++m_nQuickExits;
    const int64_t waitMs = BackoffWaitMs(m_nQuickExits);
    const bool grew = waitMs != m_backoffWaitMs;
    m_backoffWaitMs = waitMs;
    m_backoffUntilMs = now + waitMs;
    // Each new length of the wait is logged once: at the cap, a crash loop adds only the
    // launch lines, one per wait.
    const std::u16string wait = BackoffStatusText(waitMs / 1000, m_nQuickExits);
    if (grew) {
        WriteLogText(u"->程序启动后不到 " + Decimal(m_config.nMinUptimeSec) + u" 秒即退出，" + wait);
        RaiseEvent("backoff");
    }
    // The wait reaching its cap is told once a run: from here on the program is launched at
    // the cap's pace for as long as it keeps dying.
    if (grew && waitMs == BackoffWaitMs(30) && m_nQuickExits > 1)
        Notice(NoticeKind::BackoffCap, DiedText(exit) + u"。反复退出，已达最长等待：" + wait);
    else
        Notice(NoticeKind::Died, DiedText(exit) + u"。" + wait);
}

int64_t GuardEngine::BackoffWaitMs(int32_t n) const
{
    const int64_t loopMs = LoopIntervalMs(m_config.nLoopSec);
    const int64_t capMs = std::max<int64_t>(int64_t{m_config.nBackoffMaxSec} * 1000, loopMs);
    const int shift = std::clamp(n, 0, 30);  // 30 and more: the cap
    return std::min(capMs, loopMs << shift);
}

bool GuardEngine::WaitingAfterQuickExit()
{
    // Within half a loop of its end the wait is over: the tick that falls there launches, not
    // the one after it, however the timer's ticks drift.
    const int64_t remainingMs = m_backoffUntilMs - GetSystem().GetSteadyMs();
    const bool waiting
        = m_backoffWaitMs != 0 && remainingMs > static_cast<int64_t>(LoopIntervalMs(m_config.nLoopSec)) / 2;
    // The status line and the tray icon's tooltip count the wait down.
    m_strBackoffTip = waiting ? BackoffStatusText((remainingMs + 999) / 1000, m_nQuickExits) : u"";
    UpdateTrayStatus();
    if (waiting)
        ShowStatus(m_strBackoffTip);
    return waiting;
}

void GuardEngine::LogExit(const std::optional<ProcessExit>& exit)
{
    // Within a run of quick exits, an exit like the one logged last is only counted.
    if (m_nQuickExits > 0 && m_bLastExitLogged && m_lastExit == exit) {
        ++m_nRepeatedExits;
        return;
    }
    if (m_nRepeatedExits > 0)
        WriteLogText(u"->同样的退出又重复了 " + Decimal(m_nRepeatedExits) + u" 次");
    m_nRepeatedExits = 0;
    if (!exit)
        return;  // the system cannot tell (another reaper took it): nothing to say
    if (exit->bySignal)
        WriteLogText(u"->程序已退出，被信号结束：" + ExitText(*exit));
    else
        WriteLogText(u"->程序已退出，退出码：" + ExitText(*exit));
    m_lastExit = exit;
    m_bLastExitLogged = true;
}

void GuardEngine::EndBackoffRun()
{
    if (m_nRepeatedExits > 0)
        WriteLogText(u"->同样的退出又重复了 " + Decimal(m_nRepeatedExits) + u" 次");
    m_nRepeatedExits = 0;
    m_nQuickExits = 0;
    m_backoffWaitMs = 0;
    m_backoffUntilMs = 0;
    m_lastExit.reset();
    m_bLastExitLogged = false;
    m_strBackoffTip.clear();
    UpdateTrayStatus();
}

void GuardEngine::RaiseEvent(const char* event)
{
    CollectEventCommands();
    if (m_config.strEventCmd.empty())
        return;
    const uint64_t restarts = m_counters.Restarts();
    std::u16string exitCode;
    if (m_lastExitForEvent && std::string_view(event) == "died")
        exitCode = m_lastExitForEvent->bySignal && !m_lastExitForEvent->signalName.empty()
            ? m_lastExitForEvent->signalName
            : Decimal(m_lastExitForEvent->code);
    const std::vector<EnvironmentVariable> environment = {
        {u"PERENNIX_EVENT", px::FromUtf8(event)},
        {u"PERENNIX_IMAGE", m_config.strExeName},
        {u"PERENNIX_EXIT_CODE", exitCode},
        {u"PERENNIX_RESTARTS", Decimal(static_cast<int64_t>(restarts))},
    };
    if (const std::optional<uint64_t> run = GetSystem().RunCommand(m_config.strEventCmd, environment))
        m_eventRuns.push_back(*run);
    else
        WriteLogText(u"->事件命令无法启动：" + m_config.strEventCmd);
}

void GuardEngine::CollectEventCommands()
{
    // A command that has not ended stays on the list and holds nothing else up.
    std::erase_if(m_eventRuns, [](uint64_t run) {
        const std::optional<ProcessExit> exit = GetSystem().CommandExit(run);
        if (!exit)
            return false;
        if (exit->bySignal || exit->code != 0)
            WriteLogText(
                u"->事件命令失败，" + std::u16string(exit->bySignal ? u"被信号结束：" : u"退出码：") + ExitText(*exit));
        return true;
    });
}

void GuardEngine::UpdateMetrics(bool force)
{
    if (m_config.strMetricsFile.empty())
        return;
    MetricsState state;
    state.image = m_config.strExeName;
    state.folder = px::PathBesideModule(GetSystem().GetModuleFileName(), u"");
    if (state.folder.size() > 1)
        state.folder.pop_back();  // the separator after the folder's name
    state.guarding = m_bGuarding;
    state.programUp = m_bProgramUp;
    state.backoffSeconds = static_cast<double>(m_backoffWaitMs) / 1000.0;
    state.counters = m_counters;
    std::string text = MetricsText(state);
    const int64_t now = GetSystem().GetSteadyMs();
    // Unchanged, it is written again once a minute: a file older than that tells a monitor
    // that this program no longer looks.
    if (!force && text == m_lastMetrics && now - m_lastMetricsMs < kMetricsRefreshMs)
        return;
    if (GetFiles().WriteFileAtomically(m_config.strMetricsFile, text)) {
        m_bMetricsFailureLogged = false;
        m_lastMetrics = std::move(text);
        m_lastMetricsMs = now;
        return;
    }
    // Logged once until a write succeeds again; guarding goes on, and the next check retries.
    if (!m_bMetricsFailureLogged)
        WriteLogText(u"->无法写入指标文件：" + m_config.strMetricsFile);
    m_bMetricsFailureLogged = true;
    m_lastMetricsMs = now;
}
