#pragma once
// The guard cycle's launch rule; the cycle itself is CPerennixDlg's timer handling.

#include <cstdint>
#include <string>

#include "platform/System.h"

// The launch mode for the program path: the shell's "open" (true) or the command interpreter.
bool LaunchesThroughShell(const std::u16string& path, System& system);

// After a launch (or the end of the program for a restart) the program is looked for once
// this much later, before the next loop tick.
inline constexpr uint32_t kLaunchedCheckMs = 3000;
