// The health probes: the policy, and the engine's part of them (starting a check's probes,
// reading them on a later tick, restarting the program when one failed often enough in a
// row) and the stop that asks the program to close before ending it.

#include "guard/HealthProbes.h"

#include <algorithm>
#include <cstdint>

#include "base/DecimalText.h"
#include "guard/GuardCycle.h"
#include "guard/GuardEngine.h"
#include "guard/ProcessMatch.h"
#include "log/LogEntry.h"
#include "platform/System.h"
#include "resources/Resource.h"

namespace {

// How long a probe may take to answer: a connection not accepted by then failed, and the
// windows' answers are read then.
constexpr uint32_t kProbeAnswerMs = 3000;
constexpr uint32_t kStopPollMs = 1000;

}  // namespace

std::optional<ProbeOutcome> FailStreaks::Record(const std::vector<ProbeOutcome>& outcomes, int32_t needed)
{
    std::optional<ProbeOutcome> due;
    for (const ProbeOutcome& outcome : outcomes) {
        int32_t& streak = m_streaks[static_cast<size_t>(outcome.kind)];
        streak = outcome.failed ? streak + 1 : 0;
        if (outcome.failed && streak >= needed && !due)
            due = outcome;
    }
    return due;
}

int32_t FailStreaks::Longest() const { return *std::max_element(m_streaks.begin(), m_streaks.end()); }

std::u16string HealthText(int32_t longestStreak, int32_t needed)
{
    if (longestStreak == 0)
        return u"健康";
    return u"探测失败 " + px::IToW(longestStreak) + u"/" + px::IToW(needed);
}

void GuardEngine::StartGrace()
{
    // A launch (or a start of guarding) begins the grace period afresh: the program needs
    // time to come up before anything it answers means anything.
    m_health.streaks.Reset();
    m_health.graceEndsMs = GetSystem().GetSteadyMs() + int64_t{m_config.probes.nGraceSec} * 1000;
    if (AnyProbe(m_config.probes))
        ShowHealth(u"启动宽限期");
}

void GuardEngine::CheckHealth()
{
    const ProbeSettings& probes = m_config.probes;
    if (!AnyProbe(probes) || m_health.round || IsStopping())
        return;
    System& system = GetSystem();
    if (system.GetSteadyMs() < m_health.graceEndsMs)
        return;
    ProbeRound round;
    if (const std::optional<TcpTarget> target = ParseTcpTarget(probes.strTcp))
        round.connect = system.StartConnect(target->host, target->port);
    if (probes.bWindow) {
        std::vector<uint32_t> pids;
        for (const ProcessId& process : ListGuardedProcesses(system, m_program).value_or(std::vector<ProcessId>()))
            pids.push_back(process.pid);
        system.AskWindows(pids);
        round.windowsAsked = true;
    }
    m_health.round = round;
    // The answers are read on the probe's own tick: no wait on the window's thread.
    m_view.ArmTimer(TIMER_PROBE, kProbeAnswerMs);
}

void GuardEngine::FinishProbeRound()
{
    m_view.CancelTimer(TIMER_PROBE);
    if (!m_health.round || !m_bGuarding)
        return;
    const ProbeRound round = *m_health.round;
    m_health.round.reset();
    System& system = GetSystem();
    const ProbeSettings& probes = m_config.probes;
    std::vector<ProbeOutcome> outcomes;

    if (const std::optional<TcpTarget> target = ParseTcpTarget(probes.strTcp)) {
        ProbeOutcome tcp{ProbeKind::Tcp, false, u"tcp " + target->host + u":" + px::IToW(target->port), {}};
        const ConnectState state = round.connect ? system.PollConnect(*round.connect) : ConnectState::Refused;
        if (round.connect)
            system.EndConnect(*round.connect);
        tcp.failed = state != ConnectState::Accepted;
        if (state == ConnectState::Refused)
            tcp.seen = u"连接被拒绝";
        else if (state == ConnectState::Pending)
            tcp.seen = px::IToW(static_cast<int32_t>(kProbeAnswerMs / 1000)) + u" 秒内未接受连接";
        outcomes.push_back(tcp);
    } else if (!probes.strTcp.empty()) {
        // A malformed address in a hand-edited file: the probe cannot run, and says so.
        outcomes.push_back({ProbeKind::Tcp, true, u"tcp " + probes.strTcp, u"地址无效"});
    }
    if (round.windowsAsked) {
        const WindowAnswer answer = system.WindowsAnswered();
        outcomes.push_back(
            {ProbeKind::Window, answer.unanswered > 0, u"window", px::IToW(answer.unanswered) + u" 个窗口未响应"});
    }
    if (!probes.strFile.empty()) {
        const std::optional<int64_t> ageMs = system.FileAgeMs(probes.strFile);
        ProbeOutcome file{ProbeKind::File, false, u"file " + probes.strFile, {}};
        if (!ageMs) {
            file.failed = true;
            file.seen = u"文件不存在或无法读取";
        } else if (*ageMs > int64_t{probes.nFileSec} * 1000) {
            file.failed = true;
            file.seen
                = u"已 " + px::IToW(static_cast<int32_t>(std::min<int64_t>(*ageMs / 1000, INT32_MAX))) + u" 秒未更新";
        }
        outcomes.push_back(file);
    }

    for (const ProbeOutcome& outcome : outcomes)
        m_counters.nProbeFailures += outcome.failed ? 1 : 0;
    const std::optional<ProbeOutcome> due = m_health.streaks.Record(outcomes, probes.nFails);
    ShowHealth(HealthText(m_health.streaks.Longest(), probes.nFails));
    if (due)
        RestartForHealth(*due);
}

void GuardEngine::RestartForHealth(const ProbeOutcome& failed)
{
    WriteLogEntry(logtext::kHealthRestart,
        failed.probe + u"：" + failed.seen + u"（连续 " + px::IToW(m_config.probes.nFails) + u" 次）");
    ShowStatus(u"健康探测失败（" + failed.probe + u"），正在重启程序。。。");
    m_health.streaks.Reset();
    // Ended on purpose, as the daily restart ends it: no exit to report, no back-off.
    m_bProgramUp = false;
    EndBackoffRun();
    ++m_counters.nProbeRestarts;
    m_bRestartLaunch = true;
    RaiseEvent("probe_restart");
    Notice(
        NoticeKind::ProbeRestart, u"健康探测失败（" + failed.probe + u"：" + failed.seen + u"），正在重启程序。。。");
    EndProgramForRestart();
}

void GuardEngine::EndProgramForRestart()
{
    if (IsStopping())
        return;  // a stop already under way ends it
    const int32_t timeoutSec = m_config.probes.nStopTimeoutSec;
    if (timeoutSec > 0 && AskAllNamedToClose(GetSystem(), m_program)) {
        WriteLogEntry(logtext::kStopAsked, int64_t{timeoutSec});
        m_health.stopDeadlineMs = GetSystem().GetSteadyMs() + int64_t{timeoutSec} * 1000;
        m_view.ArmTimer(TIMER_STOP, kStopPollMs);
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
    if (m_launched)
        GetSystem().TerminateLaunched(*m_launched);
    TerminateProcessesByName(m_config.strExeName);
    m_view.ArmTimer(TIMER_LAUNCHED, kLaunchedCheckMs);
}

void GuardEngine::OnStopTick()
{
    if (!m_health.stopDeadlineMs)
        return;
    const bool closed = !IsProcessRunning(m_config.strExeName);
    const bool timedOut = GetSystem().GetSteadyMs() >= *m_health.stopDeadlineMs;
    if (!closed && !timedOut)
        return;
    m_view.CancelTimer(TIMER_STOP);
    m_health.stopDeadlineMs.reset();
    if (!closed)
        WriteLogEntry(logtext::kStopForced);
    // Also when the program closed by itself: a launcher it leaves behind goes too.
    EndProgramNow();
}

void GuardEngine::EndHealthWork()
{
    m_view.CancelTimer(TIMER_PROBE);
    m_view.CancelTimer(TIMER_STOP);
    if (m_health.round && m_health.round->connect)
        GetSystem().EndConnect(*m_health.round->connect);
    m_health.round.reset();
    m_health.stopDeadlineMs.reset();
    ShowHealth(u"");
}
