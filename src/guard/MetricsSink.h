#pragma once
// The metrics file (METRICS_FILE) as a sink of the guard's events: written after a check when
// something changed or a minute has passed, and at once when guarding stops.

#include <cstdint>
#include <string>

#include "guard/GuardEvent.h"

struct GuardConfig;

class MetricsSink : public GuardSink {
public:
    explicit MetricsSink(const GuardConfig& config)
        : m_config(config)
    {
    }
    void OnEvent(const GuardEvent& event) override;

private:
    void Write(const GuardStatus& status, bool force);

    const GuardConfig& m_config;
    std::string m_lastMetrics;  // the text last written
    int64_t m_lastMetricsMs = 0;
    bool m_bFailureLogged = false;
};
