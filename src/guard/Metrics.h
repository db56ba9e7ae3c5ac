#pragma once
// The metrics file: the guard's state in the text format that Prometheus's node_exporter (and
// windows_exporter) read from a folder of *.prom files.

#include <cstdint>
#include <string>

// What the guard has done since this program started.
struct GuardCounters {
    uint64_t nLaunches = 0;
    uint64_t nProbeFailures = 0;  // failed checks of the health probes, each probe counted
    uint64_t nProbeRestarts = 0;  // restarts after a probe failed PROBE_FAILS checks in a row
    uint64_t nCrashRestarts = 0;  // launches after the program had ended
    uint64_t nDailyRestarts = 0;
    uint64_t nGatewayRestarts = 0;  // restarts a gateway dialog or the login watch asked for
    int64_t lastLaunchUnixSec = 0;  // 0: none yet

    // Every launch after the program had ended or was ended: crashes, daily, probe and gateway
    // restarts.
    uint64_t Restarts() const { return nCrashRestarts + nDailyRestarts + nProbeRestarts + nGatewayRestarts; }
};

// The state the metrics file shows.
struct MetricsState {
    std::u16string image;  // the image name guarded
    std::u16string folder;  // this program's folder
    bool guarding = false;
    bool programUp = false;
    double backoffSeconds = 0;  // the wait before the next launch
    GuardCounters counters;
};

// The whole file: every metric with its HELP and TYPE lines, labelled image and folder.
std::string MetricsText(const MetricsState& state);
// value as a label value: UTF-8, with backslash, double quote and line feed escaped.
std::string LabelValue(const std::u16string& value);
