#pragma once
// The gateway step as a part of the guard: at each check that finds the gateway running, the
// dialogs of the table get their actions (a space key, a restart, an alert), a dialog that a
// space key does not close is left alone after a few tries, and a login window still up too
// long after the launch asks for a restart. It keeps what it remembers between checks and
// answers with what the engine is to tell and do.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "guard/GatewayRules.h"
#include "guard/GuardEvent.h"

class System;
struct GuardedProgram;

// A restart a part asks for.
struct RestartRequest {
    RestartReason reason = RestartReason::Crash;
    std::u16string logText;  // the run log's line (or its detail)
    std::u16string status;  // the status line while the program is restarted
    std::u16string notice;  // the notification's text
    int32_t restartsInRow = 0;  // restarts of this kind one launch after the other, this one included
};

struct GatewayAnswer {
    std::u16string status;  // what the status line says instead of "running"; empty: running
    std::vector<GuardEvent> events;  // what happened, in order
    std::optional<RestartRequest> restart;
};

class GatewayWatcher {
public:
    // Guarding starts with settings: the table is built, the memory of dialogs forgotten.
    void Begin(const GatewaySettings& settings);
    // A launch was made: its login window is looked for in time.
    void OnLaunch() { m_state.loginJudged = false; }
    // One check while the program runs, upMs after its launch.
    GatewayAnswer Check(System& system, const GuardedProgram& program, int64_t upMs);

    const GatewayRules& Rules() const { return m_rules; }

private:
    bool Confirm(System& system, ForeignWindow dialog, const std::u16string& title, GatewayAnswer& answer);
    std::optional<RestartRequest> LoginTimeout(System& system, const GuardedProgram& program, int64_t upMs);

    GatewayRules m_rules;
    GatewayState m_state;
    int32_t m_nLoginSec = 0;
};
