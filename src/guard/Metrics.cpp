#include "guard/Metrics.h"

#include <cstdio>

#include "base/Unicode.h"

std::string LabelValue(const std::u16string& value)
{
    std::string out;
    for (const char c : px::ToUtf8(value)) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

namespace {

void AddMetric(std::string& out, const char* name, const char* type, const char* help, const std::string& labels,
    const std::string& value)
{
    out += std::string("# HELP ") + name + " " + help + "\n";
    out += std::string("# TYPE ") + name + " " + type + "\n";
    out += std::string(name) + "{" + labels + "} " + value + "\n";
}

std::string Number(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
}

}  // namespace

std::string MetricsText(const MetricsState& state)
{
    const std::string labels = "image=\"" + LabelValue(state.image) + "\",folder=\"" + LabelValue(state.folder) + "\"";
    const GuardCounters& c = state.counters;
    std::string out;
    AddMetric(
        out, "perennix_guarding", "gauge", "1 while Perennix guards the program.", labels, state.guarding ? "1" : "0");
    AddMetric(out, "perennix_program_up", "gauge", "1 while a process of the image name runs.", labels,
        state.programUp ? "1" : "0");
    AddMetric(
        out, "perennix_launches_total", "counter", "Launches of the program.", labels, std::to_string(c.nLaunches));
    AddMetric(out, "perennix_probe_failures_total", "counter", "Failed health probes of the program.", labels,
        std::to_string(c.nProbeFailures));
    out += "# HELP perennix_restarts_total Launches after the program ended, by reason.\n";
    out += "# TYPE perennix_restarts_total counter\n";
    out += "perennix_restarts_total{" + labels + ",reason=\"crash\"} " + std::to_string(c.nCrashRestarts) + "\n";
    out += "perennix_restarts_total{" + labels + ",reason=\"daily\"} " + std::to_string(c.nDailyRestarts) + "\n";
    out += "perennix_restarts_total{" + labels + ",reason=\"probe\"} " + std::to_string(c.nProbeRestarts) + "\n";
    out += "perennix_restarts_total{" + labels + ",reason=\"gateway\"} " + std::to_string(c.nGatewayRestarts) + "\n";
    AddMetric(out, "perennix_last_launch_timestamp_seconds", "gauge",
        "When the program was last launched, in seconds since 1970 (0: not yet).", labels,
        std::to_string(c.lastLaunchUnixSec));
    AddMetric(out, "perennix_backoff_seconds", "gauge", "The wait before the next launch after quick exits.", labels,
        Number(state.backoffSeconds));
    return out;
}
