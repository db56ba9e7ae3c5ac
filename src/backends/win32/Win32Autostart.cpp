// Start at login on Windows: the value "Perennix" under the user's Run key.

#include "backends/win32/Win32System.h"

#include <cwchar>

#include "backends/win32/OsFailure.h"
#include "backends/win32/WideText.h"
#include "backends/win32/WinPrelude.h"

using px::win32::LogOsFailure;
using px::win32::Wide;

namespace {
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRunValue[] = L"Perennix";
}  // namespace

std::optional<bool> Win32System::IsStartAtLogin()
{
    const std::wstring program = Wide(GetModuleFileName());
    if (program.empty())
        return std::nullopt;
    DWORD size = 0;
    LSTATUS status = ::RegGetValueW(HKEY_CURRENT_USER, kRunKey, kRunValue,
        RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND)
        return false;
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    if (status == ERROR_SUCCESS) {
        size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        status = ::RegGetValueW(HKEY_CURRENT_USER, kRunKey, kRunValue,
            RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, data.data(), &size);
    }
    if (status == ERROR_UNSUPPORTED_TYPE)
        return false;  // a value of that name that is no command line starts nothing of ours
    if (status != ERROR_SUCCESS) {
        LogOsFailure("RegGetValueW", kRunValue, static_cast<unsigned long>(status));
        return std::nullopt;
    }
    data.resize(::wcsnlen(data.c_str(), data.size()));
    // The command line names this program, quoted or not.
    if (data.size() >= 2 && data.front() == L'"' && data.back() == L'"')
        data = data.substr(1, data.size() - 2);
    return ::CompareStringOrdinal(data.c_str(), -1, program.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool Win32System::SetStartAtLogin(bool enable)
{
    if (!enable) {
        const LSTATUS status = ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kRunValue);
        if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND)
            return true;
        LogOsFailure("RegDeleteKeyValueW", kRunValue, static_cast<unsigned long>(status));
        return false;
    }
    const std::wstring program = Wide(GetModuleFileName());
    if (program.empty())
        return false;
    // Quoted, so a path with spaces names one program.
    const std::wstring command = L"\"" + program + L"\"";
    const LSTATUS status = ::RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, kRunValue, REG_SZ, command.c_str(),
        static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) {
        LogOsFailure("RegSetKeyValueW", kRunValue, static_cast<unsigned long>(status));
        return false;
    }
    return true;
}
