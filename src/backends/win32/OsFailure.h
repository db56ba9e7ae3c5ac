#pragma once
// Every OS failure a Windows back end swallows is told on standard error, one line each, as
// CopyQ logs its platform's: "perennix: <call> failed: <code> <the system's text for it>".
// The window host and the system and file services share it.

#include <cstdio>
#include <string>

#include "backends/win32/WinPrelude.h"

namespace px::win32 {

// call names the function and what it was asked ("Shell_NotifyIconW(NIM_ADD)"); error is
// GetLastError()'s code (or the function's own result of that kind), 0 when the system gave
// none. A code with its top bit set is an HRESULT, written in hexadecimal as it is listed.
inline void LogOsFailure(const char* call, unsigned long error)
{
    char code[16] = {};
    std::snprintf(code, sizeof code, (error & 0x80000000UL) ? "0x%08lX" : "%lu", error);
    std::string line = std::string("perennix: ") + call + " failed: " + code;
    wchar_t* text = nullptr;
    const DWORD length = error == 0
        ? 0
        : ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring reason = error == 0 ? std::wstring(L"(no error code)") : std::wstring(text ? text : L"", length);
    if (text)
        ::LocalFree(text);
    while (!reason.empty() && (reason.back() == L'\r' || reason.back() == L'\n' || reason.back() == L' '))
        reason.pop_back();
    if (!reason.empty()) {
        const int size = ::WideCharToMultiByte(
            CP_UTF8, 0, reason.data(), static_cast<int>(reason.size()), nullptr, 0, nullptr, nullptr);
        std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
        ::WideCharToMultiByte(
            CP_UTF8, 0, reason.data(), static_cast<int>(reason.size()), utf8.data(), size, nullptr, nullptr);
        line += " " + utf8;
    }
    line += "\n";
    // One write, so that lines of two threads never interleave.
    std::fwrite(line.data(), 1, line.size(), stderr);
}

// The same line for an error code of a component's own range, which the system has no text
// for (CommDlgExtendedError's): the code in hexadecimal, as the component's header lists it.
inline void LogComponentFailure(const char* call, const char* component, unsigned long code)
{
    char hex[16] = {};
    std::snprintf(hex, sizeof hex, "0x%04lX", code);
    const std::string line = std::string("perennix: ") + call + " failed: " + hex + " (" + component + ")\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace px::win32
