#pragma once

// How a save of the settings ended.
enum class SaveOutcome {
    Written,  // config.ini holds the values
    WriteFailed,  // the values are in use, but config.ini could not be written
    PathRefused,  // the program path cannot be opened: nothing was written
};
