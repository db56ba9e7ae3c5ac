#pragma once
// What the files of Win32System share about a process's handle: when the process was created,
// and how it ended.

#include <cstdint>
#include <optional>

#include "backends/win32/WinPrelude.h"
#include "platform/System.h"

namespace px::win32 {

// When the process was created (100 ns units since 1601); 0 when the system does not tell.
uint64_t CreationTimeOf(HANDLE process);
// How a process that has ended ended; nullopt while it runs or when the system does not tell.
std::optional<ProcessExit> ExitOfProcess(HANDLE process);

}  // namespace px::win32
