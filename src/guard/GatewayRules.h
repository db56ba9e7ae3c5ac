#pragma once
// The gateway's dialogs as a table: a title (exact) and what to do when a dialog of that
// title is up. The table begins with the four warning and re-login titles confirmed with the
// space key, in their order; the user's title lists in config.ini follow.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/System.h"
#include "settings/GuardConfig.h"

enum class GatewayAction {
    Confirm,  // brought to the front and confirmed with the space key
    Restart,  // the program is ended for the next check to launch it again
    Alert,  // the user is told; nothing touches the dialog
};

struct GatewayRule {
    std::u16string title;
    GatewayAction action = GatewayAction::Confirm;
    bool operator==(const GatewayRule&) const = default;
};

struct GatewayRules {
    std::vector<GatewayRule> rules;  // in the order they are looked for
    std::vector<std::u16string> loginTitles;  // GW_LOGIN_TITLE's titles
    // What was left out of the lists and why, one line each, for the log.
    std::vector<std::u16string> ignored;
};

// The most titles one list takes: each is looked for at every check.
inline constexpr size_t kMaxTitlesPerList = 50;
// The longest title taken, in UTF-16 units.
inline constexpr size_t kMaxTitleLength = 256;

// The table for these settings. A list's entries are separated by ";", blanks around each
// dropped; an empty entry, one with a control character, one longer than kMaxTitleLength,
// one already in the table (the first place wins) and those past kMaxTitlesPerList are left
// out and named in ignored.
GatewayRules BuildGatewayRules(const GatewaySettings& settings);

// The gateway step runs for this program: the image name ibgateway.exe, or GATEWAY set.
bool IsGatewayProgram(const GuardConfig& config);

// What the gateway step remembers between checks.
struct GatewayState {
    ForeignWindow pressed = 0;  // the dialog the last space key went to
    int32_t presses = 0;  // keys it got, one a check, while it stayed up
    std::set<ForeignWindow> givenUp;  // dialogs a space key did not close: left alone
    std::set<ForeignWindow> alerted;  // dialogs the user was alerted to
    bool loginJudged = true;  // the login window of the last launch was looked for
    int32_t restartsInRow = 0;  // restarts the dialogs asked for, one launch after the other
};

// Space keys a dialog gets without closing before it is left alone.
inline constexpr int32_t kGatewayPressesBeforeGivingUp = 3;
