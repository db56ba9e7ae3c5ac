#pragma once
// A Windows call that failed where the back end hands its caller only a plain "no" (false, no
// value, a code) leaves one line on standard error with what the caller cannot see:
//   perennix: <call> [<object>] failed: <code> <text>
// the code from GetLastError and its text from FormatMessageW, in UTF-8. Outcomes that are no
// failure (a process that has ended, a file that is not there when the caller only asks
// whether it is) are not logged; the call sites say which those are.

#include <cstdio>
#include <string>
#include <string_view>

#include "backends/win32/WinPrelude.h"

namespace px::win32 {

namespace detail {

inline std::string Utf8Of(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

}  // namespace detail

// Logs call's failure with error (a GetLastError code, or a function's own result of that
// kind; a code with its top bit set is an HRESULT, written in hexadecimal as it is listed).
// Leaves the last error as it was.
inline void LogOsFailure(const char* call, unsigned long error)
{
    const DWORD saved = ::GetLastError();
    wchar_t* text = nullptr;
    const DWORD length = error == 0
        ? 0
        : ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = text ? std::wstring(text, length)
                                : std::wstring(error == 0 ? L"(no error code)" : L"(no text for this code)");
    if (text)
        ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' '))
        message.pop_back();
    char code[16] = {};
    std::snprintf(code, sizeof code, (error & 0x80000000UL) ? "0x%08lX" : "%lu", error);
    const std::string line
        = std::string("perennix: ") + call + " failed: " + code + " " + detail::Utf8Of(message) + "\n";
    std::fputs(line.c_str(), stderr);
    ::SetLastError(saved);
}

// The same about object (a path, a process id).
inline void LogOsFailure(const char* call, std::wstring_view object, unsigned long error)
{
    LogOsFailure((std::string(call) + " " + detail::Utf8Of(object)).c_str(), error);
}

// The same line for an error code of a component's own range, which the system has no text
// for (CommDlgExtendedError's): the code in hexadecimal, as the component's header lists it.
inline void LogComponentFailure(const char* call, const char* component, unsigned long code)
{
    char hex[16] = {};
    std::snprintf(hex, sizeof hex, "0x%04lX", code);
    const std::string line = std::string("perennix: ") + call + " failed: " + hex + " (" + component + ")\n";
    std::fputs(line.c_str(), stderr);
}

}  // namespace px::win32
