// The health probes: the streaks' policy, and the part of the guard that sends a check's
// probes and reads them on a later tick.

#include "guard/HealthMonitor.h"

#include <algorithm>
#include <cstdint>

#include "base/DecimalText.h"
#include "guard/ProcessMatch.h"
#include "platform/System.h"
#include "settings/ProbeSettings.h"

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

int32_t HealthMonitor::Needed() const { return m_settings.nFails; }

void HealthMonitor::BeginGrace(int64_t nowMs)
{
    m_streaks.Reset();
    m_graceEndsMs = nowMs + int64_t{m_settings.nGraceSec} * 1000;
    if (AnyProbe(m_settings))
        m_text = u"启动宽限期";
}

bool HealthMonitor::StartRound(System& system, const GuardedProgram& program, int64_t nowMs)
{
    if (!AnyProbe(m_settings) || m_round || nowMs < m_graceEndsMs)
        return false;
    ProbeRound round;
    if (const std::optional<TcpTarget> target = ParseTcpTarget(m_settings.strTcp))
        round.connect = system.StartConnect(target->host, target->port);
    if (m_settings.bWindow) {
        std::vector<uint32_t> pids;
        for (const ProcessId& process : ListGuardedProcesses(system, program).value_or(std::vector<ProcessId>()))
            pids.push_back(process.pid);
        system.AskWindows(pids);
        round.windowsAsked = true;
    }
    m_round = round;
    return true;
}

std::optional<HealthMonitor::RoundResult> HealthMonitor::FinishRound(System& system)
{
    if (!m_round)
        return std::nullopt;
    const ProbeRound round = *m_round;
    m_round.reset();
    const ProbeSettings& probes = m_settings;
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

    RoundResult result;
    for (const ProbeOutcome& outcome : outcomes)
        result.failed += outcome.failed ? 1 : 0;
    result.due = m_streaks.Record(outcomes, probes.nFails);
    m_text = HealthText(m_streaks.Longest(), probes.nFails);
    // A restart starts the count again: the next launch is judged afresh.
    if (result.due)
        m_streaks.Reset();
    return result;
}

void HealthMonitor::Abandon(System& system)
{
    if (m_round && m_round->connect)
        system.EndConnect(*m_round->connect);
    m_round.reset();
}
