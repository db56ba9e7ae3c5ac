#pragma once

// How a save of the settings ended.
enum class SaveOutcome {
    Written,  // config.ini holds the values
    WriteFailed,  // the values are in use, but config.ini could not be written
    Refused,  // the program path cannot be opened, or the image name is no name: nothing was written
};
