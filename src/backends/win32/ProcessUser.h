#pragma once
// Who runs a process, and which program: what tells this user's processes, and this
// program, from others.

#include <string>
#include <vector>

#include "backends/win32/WinPrelude.h"

namespace px::win32 {

// The user a process runs as, as a SID; empty when the system does not tell.
std::vector<BYTE> TokenUserOf(HANDLE process);
// The process pid (process: a handle to it with PROCESS_QUERY_LIMITED_INFORMATION, or none)
// runs as this user (me: TokenUserOf this process): its token's user is me. Where the token
// cannot be read (a process of this user running elevated), the process's logon session
// tells: another user's processes and the services run in sessions of their own.
bool IsOwnProcess(HANDLE process, DWORD pid, const std::vector<BYTE>& me, DWORD mySession);
// The full path of the program a process runs; empty when the system does not tell.
std::wstring ProgramOf(HANDLE process);

}  // namespace px::win32
