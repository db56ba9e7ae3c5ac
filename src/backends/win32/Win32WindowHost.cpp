#include "backends/win32/Win32WindowHost.h"

#include <algorithm>

#include "backends/win32/OsFailure.h"
#include "backends/win32/WideText.h"
#include "backends/win32/Win32DialogWindow.h"
#include "resources/Resource.h"

using px::win32::LogOsFailure;

namespace {

constexpr wchar_t kInstanceClass[] = L"PerennixInstance";

// The name of the claim for key: a folder's path, folded to one case as Windows compares
// paths, hashed to fit the limits of object names (FNV-1a, 64 bits).
std::wstring InstanceName(const std::u16string& key)
{
    std::wstring folded = px::win32::Wide(key);
    if (!folded.empty())
        ::CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
    uint64_t hash = 14695981039346656037ull;
    for (wchar_t unit : folded) {
        hash ^= static_cast<uint16_t>(unit);
        hash *= 1099511628211ull;
    }
    wchar_t text[17] = {};
    for (int i = 15; i >= 0; --i, hash >>= 4)
        text[i] = L"0123456789abcdef"[hash & 0xF];
    return std::wstring(L"Perennix-") + text;
}

}  // namespace

Win32WindowHost::Win32WindowHost(HINSTANCE instance)
    : m_instance(instance)
{
}

Win32WindowHost::~Win32WindowHost()
{
    if (m_instanceWindow && !::DestroyWindow(m_instanceWindow))
        LogOsFailure("DestroyWindow(instance window)", ::GetLastError());
    if (m_instanceMutex && !::CloseHandle(m_instanceMutex))
        LogOsFailure("CloseHandle(instance mutex)", ::GetLastError());
    for (const auto& [key, icon] : m_icons) {
        if (icon && !::DestroyIcon(icon))
            LogOsFailure("DestroyIcon", ::GetLastError());
    }
}

int Win32WindowHost::RunModal(CDialogEx& dialog, DialogWindow* owner)
{
    const DialogTemplate* tpl = FindDialogTemplate(dialog.GetTemplateId());
    if (!tpl)
        return -1;
    auto* ownerWindow = dynamic_cast<Win32DialogWindow*>(owner);
    Win32DialogWindow window(*this, dialog, *tpl);
    m_open.push_back(&window);
    const int result = window.RunModal(ownerWindow ? ownerWindow->Hwnd() : nullptr);
    m_open.erase(std::find(m_open.begin(), m_open.end(), &window));
    return result;
}

HICON Win32WindowHost::Icon(IconId id, bool big) const
{
    // Loaded once per id and size, and kept as long as the host: windows and the tray hold on
    // to the handles.
    HICON& icon = m_icons[{id, big}];
    if (!icon) {
        const int cx = ::GetSystemMetrics(big ? SM_CXICON : SM_CXSMICON);
        const int cy = ::GetSystemMetrics(big ? SM_CYICON : SM_CYSMICON);
        icon = static_cast<HICON>(::LoadImageW(m_instance, MAKEINTRESOURCEW(id), IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR));
        if (!icon)
            LogOsFailure("LoadImageW(icon)", ::GetLastError());
    }
    return icon;
}

bool Win32WindowHost::ClaimInstance(const std::u16string& key)
{
    const std::wstring name = InstanceName(key);
    const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, (L"Local\\" + name).c_str());
    if (!mutex) {
        LogOsFailure("CreateMutexW(instance)", ::GetLastError());
        return true;  // none could be made: a start is never refused for want of one
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        return false;
    }
    m_instanceMutex = mutex;

    WNDCLASSW wc{};
    wc.lpfnWndProc = &InstanceWindowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kInstanceClass;
    // Registered once per process: a host made before registered it already.
    if (!::RegisterClassW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        LogOsFailure("RegisterClassW(instance window)", ::GetLastError());
    m_instanceWindow = ::CreateWindowExW(
        0, kInstanceClass, name.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    if (m_instanceWindow)
        ::SetWindowLongPtrW(m_instanceWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    else
        LogOsFailure("CreateWindowExW(instance window)", ::GetLastError());
    return true;
}

bool Win32WindowHost::SignalInstance(const std::u16string& key)
{
    const HWND window = ::FindWindowExW(HWND_MESSAGE, nullptr, kInstanceClass, InstanceName(key).c_str());
    if (!window)
        return false;
    // The running program may then bring its window to the front: this start, which the
    // user just made, holds the right to the foreground and passes it on (a start that holds
    // none has none to pass, a refusal by design).
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    ::AllowSetForegroundWindow(pid);
    if (!::PostMessageW(window, WM_SHOWINSTANCE, 0, 0)) {
        LogOsFailure("PostMessageW(WM_SHOWINSTANCE)", ::GetLastError());
        return false;
    }
    return true;
}

LRESULT CALLBACK Win32WindowHost::InstanceWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SHOWINSTANCE) {
        auto* host = reinterpret_cast<Win32WindowHost*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (host && !host->m_open.empty())
            host->m_open.front()->PostMessage(WM_SHOWINSTANCE, 0, 0);
        return 0;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}
