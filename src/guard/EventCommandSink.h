#pragma once
// The event command (EVENT_CMD): run for each event a user may want to act on, with the event,
// the image name, the exit code and the restarts so far in its environment. It runs beside the
// guard and holds nothing up; how earlier runs ended is logged when they are found ended.

#include <cstdint>
#include <string>
#include <vector>

#include "guard/GuardEvent.h"

struct GuardConfig;

class EventCommandSink : public GuardSink {
public:
    // The command and the image name come from config, the engine's settings in use.
    explicit EventCommandSink(const GuardConfig& config)
        : m_config(config)
    {
    }
    void OnEvent(const GuardEvent& event) override;

private:
    void Run(const char* name, const GuardEvent& event);
    void Collect();

    const GuardConfig& m_config;
    std::vector<uint64_t> m_runs;  // commands not yet known to have ended
};

// The event's name for the command ("died", "probe_restart" …), or nullptr when the event
// runs no command.
const char* EventCommandName(const GuardEvent& event);
