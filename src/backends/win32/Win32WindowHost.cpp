#include "backends/win32/Win32WindowHost.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "backends/win32/OsFailure.h"
#include "backends/win32/ProcessUser.h"
#include "backends/win32/UniqueHandle.h"
#include "backends/win32/WideText.h"
#include "backends/win32/Win32DialogWindow.h"
#include "resources/Resource.h"

using px::win32::LogOsFailure;
using px::win32::UniqueHandle;

namespace {

// The claim's mutex, open to this user alone (me: this user's SID, empty when unknown).
HANDLE CreateClaimMutex(const std::wstring& name, std::vector<BYTE>& me)
{
    if (me.empty())
        return ::CreateMutexW(nullptr, FALSE, name.c_str());
    const PSID sid = me.data();
    std::vector<BYTE> aclBytes(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid));
    auto* acl = reinterpret_cast<ACL*>(aclBytes.data());
    SECURITY_DESCRIPTOR descriptor{};
    const bool made = ::InitializeAcl(acl, static_cast<DWORD>(aclBytes.size()), ACL_REVISION)
        && ::AddAccessAllowedAce(acl, ACL_REVISION, MUTEX_ALL_ACCESS, sid)
        && ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)
        && ::SetSecurityDescriptorOwner(&descriptor, sid, FALSE)
        && ::SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
    if (!made)
        LogOsFailure("InitializeSecurityDescriptor", name, ::GetLastError());
    SECURITY_ATTRIBUTES attributes{sizeof attributes, made ? &descriptor : nullptr, FALSE};
    return ::CreateMutexW(&attributes, FALSE, name.c_str());
}

// The owner of a kernel object is me.
bool OwnedBy(HANDLE object, std::vector<BYTE>& me)
{
    DWORD size = 0;
    ::GetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION, nullptr, 0, &size);
    std::vector<BYTE> descriptor(size);
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    return size > 0 && !me.empty()
        && ::GetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION, descriptor.data(), size, &size)
        && ::GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted) && owner && ::EqualSid(owner, me.data());
}

}  // namespace

std::wstring Win32WindowHost::InstanceName(const std::u16string& key)
{
    // A folder's path, folded to one case as Windows compares paths, hashed to fit the limits
    // of object names (FNV-1a, 64 bits).
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
    // The window first: a claim another start finds taken already has the window its
    // requests go to.
    WNDCLASSW wc{};
    wc.lpfnWndProc = &InstanceWindowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kInstanceClass;
    // Registered once per process: a host made before registered it already.
    if (!::RegisterClassW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        LogOsFailure("RegisterClassW(instance window)", ::GetLastError());
    const HWND window = ::CreateWindowExW(
        0, kInstanceClass, name.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    if (!window)
        LogOsFailure("CreateWindowExW(instance window)", ::GetLastError());

    std::vector<BYTE> me = px::win32::TokenUserOf(::GetCurrentProcess());
    const HANDLE mutex = CreateClaimMutex(L"Local\\" + name, me);
    const DWORD error = ::GetLastError();
    const bool taken = mutex && error == ERROR_ALREADY_EXISTS;
    if (!mutex || taken) {
        // A mutex that is not this user's (another user's that this user may not open, or one
        // it may but does not own) holds no claim of this user's: the start goes on without
        // one. None could be made at all: the same; a start is never refused for want of one.
        const bool ours = taken && OwnedBy(mutex, me);
        if (mutex)
            ::CloseHandle(mutex);
        if (window)
            ::DestroyWindow(window);
        if (ours)
            return false;
        if (taken)
            std::fprintf(stderr,
                "perennix: the claim Local\\%s is not this user's: starting without the one-copy-per-folder check\n",
                px::win32::detail::Utf8Of(name).c_str());
        else
            LogOsFailure("CreateMutexW(instance)", error);
        return true;
    }
    m_instanceMutex = mutex;
    m_instanceWindow = window;
    if (m_instanceWindow)
        ::SetWindowLongPtrW(m_instanceWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return true;
}

bool Win32WindowHost::SignalInstance(const std::u16string& key)
{
    const std::wstring name = InstanceName(key);
    const std::vector<BYTE> me = px::win32::TokenUserOf(::GetCurrentProcess());
    DWORD mySession = 0;
    ::ProcessIdToSessionId(::GetCurrentProcessId(), &mySession);
    const std::wstring myProgram = px::win32::ProgramOf(::GetCurrentProcess());
    // Windows of that name that other programs, or other users, made are passed over.
    for (HWND window = nullptr; (window = ::FindWindowExW(HWND_MESSAGE, window, kInstanceClass, name.c_str()));) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(window, &pid);
        const UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
        const std::wstring program = process.Valid() ? px::win32::ProgramOf(process.Get()) : std::wstring();
        if (program.empty() || !px::win32::IsOwnProcess(process.Get(), pid, me, mySession)
            || ::CompareStringOrdinal(program.c_str(), -1, myProgram.c_str(), -1, TRUE) != CSTR_EQUAL)
            continue;
        // The running program may then bring its window to the front: this start, which the
        // user just made, holds the right to the foreground and passes it on (a start that
        // holds none has none to pass, a refusal by design).
        ::AllowSetForegroundWindow(pid);
        // The folder's Perennix runs, also when the request cannot reach it (one running
        // elevated takes no message from this start): this start is not needed.
        if (!::PostMessageW(window, WM_SHOWINSTANCE, 0, 0))
            LogOsFailure("PostMessageW(WM_SHOWINSTANCE)", ::GetLastError());
        return true;
    }
    return false;
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
