#pragma once

#include "settings/GuardConfig.h"

// How a save of the settings ended.
enum class SaveOutcome {
    Written,  // config.ini holds the values
    WriteFailed,  // the values are in use, but config.ini could not be written
    Refused,  // the program path cannot be opened, or the image name is no name: nothing was written
};

// A save's outcome, and the config to guard with: config.ini's settings with the main window's
// fields in place of the file's (meaningless when refused).
struct SavedSettings {
    SaveOutcome outcome = SaveOutcome::Refused;
    GuardConfig config;
};
