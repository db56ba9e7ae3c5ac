#pragma once
// The guard cycle's launch rule; the cycle itself is CPerennixDlg's timer handling.

#include <string>

#include "platform/System.h"

// The launch mode for the program path: the shell's "open" (true) or the command interpreter.
bool LaunchesThroughShell(const std::u16string& path, System& system);
