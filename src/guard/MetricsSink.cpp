#include "guard/MetricsSink.h"

#include <utility>

#include "base/Paths.h"
#include "log/LogEntry.h"
#include "platform/Files.h"
#include "platform/System.h"
#include "settings/GuardConfig.h"

namespace {

constexpr int64_t kMetricsRefreshMs = 60 * 1000;

}  // namespace

void MetricsSink::OnEvent(const GuardEvent& event)
{
    if (event.kind == GuardEventKind::CheckDone)
        Write(event.status, false);
    else if (event.kind == GuardEventKind::Stopped)
        Write(event.status, true);
}

void MetricsSink::Write(const GuardStatus& status, bool force)
{
    if (m_config.strMetricsFile.empty())
        return;
    MetricsState state;
    state.image = m_config.strExeName;
    state.folder = px::PathBesideModule(GetSystem().GetModuleFileName(), u"");
    if (state.folder.size() > 1)
        state.folder.pop_back();  // the separator after the folder's name
    state.guarding = status.guarding;
    state.programUp = status.programUp;
    state.backoffSeconds = static_cast<double>(status.backoffWaitMs) / 1000.0;
    state.counters = status.counters;
    std::string text = MetricsText(state);
    const int64_t now = GetSystem().GetSteadyMs();
    // Unchanged, it is written again once a minute: a file older than that tells a monitor
    // that this program no longer looks.
    if (!force && text == m_lastMetrics && now - m_lastMetricsMs < kMetricsRefreshMs)
        return;
    if (GetFiles().WriteFileAtomically(m_config.strMetricsFile, text)) {
        m_bFailureLogged = false;
        m_lastMetrics = std::move(text);
        m_lastMetricsMs = now;
        return;
    }
    // Logged once until a write succeeds again; guarding goes on, and the next check retries.
    if (!m_bFailureLogged)
        WriteLogText(u"->无法写入指标文件：" + m_config.strMetricsFile);
    m_bFailureLogged = true;
    m_lastMetricsMs = now;
}
