// The rest of the system services on Windows: the local time, the steady clock, this executable's path.

#include "backends/win32/Win32System.h"

#include "backends/win32/OsFailure.h"
#include "backends/win32/WideText.h"
#include "backends/win32/WinPrelude.h"

using px::win32::FromWide;
using px::win32::LogOsFailure;

SystemTime Win32System::GetLocalTime()
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    SystemTime st;
    st.wYear = now.wYear;
    st.wMonth = now.wMonth;
    st.wDayOfWeek = now.wDayOfWeek;
    st.wDay = now.wDay;
    st.wHour = now.wHour;
    st.wMinute = now.wMinute;
    st.wSecond = now.wSecond;
    st.wMilliseconds = now.wMilliseconds;
    return st;
}

// The tick count goes on while the machine sleeps or hibernates.
int64_t Win32System::GetSteadyMs() { return static_cast<int64_t>(::GetTickCount64()); }

std::u16string Win32System::GetModuleFileName()
{
    // A path may be longer than MAX_PATH: grow the buffer until the whole path fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            LogOsFailure("GetModuleFileNameW", ::GetLastError());
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return FromWide(path);
        }
        if (path.size() >= 32768)
            return {};
        path.resize(path.size() * 2);
    }
}
