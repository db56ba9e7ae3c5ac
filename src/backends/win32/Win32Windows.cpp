// Other programs' windows and keys on Windows: finding them, the foreground, the space key, WM_CLOSE, hung windows.

#include "backends/win32/Win32System.h"

#include <algorithm>
#include <vector>

#include "backends/win32/OsFailure.h"
#include "backends/win32/UniqueHandle.h"
#include "backends/win32/WideText.h"
#include "backends/win32/Win32SystemInternal.h"

using px::win32::CreationTimeOf;
using px::win32::FromWide;
using px::win32::LogOsFailure;
using px::win32::UniqueHandle;
using px::win32::Wide;

namespace {

// How long another program's window may take to come to the front.
constexpr ULONGLONG kForegroundWaitMs = 500;

HWND ToHwnd(ForeignWindow window) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(window)); }

}  // namespace

bool Win32System::AskToClose(uint32_t pid, uint64_t startStamp)
{
    if (pid == 0 || pid == ::GetCurrentProcessId())
        return false;
    if (startStamp != 0) {
        const UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
        if (!process.Valid() || CreationTimeOf(process.Get()) != startStamp)
            return false;
    }
    // WM_CLOSE is what the window's close button sends: the program may save and end, or
    // ask, as it would for the user. Posted, so a hung program never holds this one up.
    struct Search {
        DWORD pid;
        bool posted;
    } search{pid, false};
    ::EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            if (owner == s->pid && ::IsWindowVisible(window) && ::GetWindow(window, GW_OWNER) == nullptr
                && ::PostMessageW(window, WM_CLOSE, 0, 0))
                s->posted = true;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.posted;
}

std::vector<TopWindow> Win32System::FindTopWindows(const std::u16string& title)
{
    struct Search {
        std::wstring title;
        std::vector<HWND> found;
    } search{Wide(title), {}};
    // Top-level windows come in z-order, topmost first. Another program's title is read from
    // the window itself, so a program that hangs holds nothing up.
    const BOOL listed = ::EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
            text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
            if (text == s->title)
                s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (!listed)
        LogOsFailure("EnumWindows", ::GetLastError());

    std::vector<TopWindow> windows;
    for (const HWND window : search.found) {
        TopWindow w;
        w.handle = static_cast<ForeignWindow>(reinterpret_cast<uintptr_t>(window));
        wchar_t className[257] = {};
        ::GetClassNameW(window, className, static_cast<int>(std::size(className)));
        w.windowClass = FromWide(className);
        w.isDialog
            = w.windowClass == u"#32770" || (::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME) != 0;
        DWORD pid = 0;
        ::GetWindowThreadProcessId(window, &pid);
        w.owner.pid = pid;
        // Another user's process may not be opened: then its image stays unknown, which is
        // no failure.
        UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
        wchar_t image[MAX_PATH * 4] = {};
        DWORD length = static_cast<DWORD>(std::size(image));
        if (process.Valid()) {
            if (::QueryFullProcessImageNameW(process.Get(), 0, image, &length)) {
                const std::wstring full(image, length);
                w.owner.names.push_back({FromWide(full.substr(full.find_last_of(L"\\/") + 1)), false});
            } else {
                LogOsFailure("QueryFullProcessImageNameW", std::to_wstring(pid), ::GetLastError());
            }
        }
        windows.push_back(std::move(w));
    }
    return windows;
}

bool Win32System::BringToFront(ForeignWindow window)
{
    const HWND target = ToHwnd(window);
    if (!::SetForegroundWindow(target))
        return false;  // refused: another program holds the foreground
    // Activating another program's window completes in that program's thread (and, under
    // Wine, in the X window manager): wait a moment for it, answering the messages sent to
    // this thread meanwhile (the deactivation of its own window) without dispatching others.
    const ULONGLONG deadline = ::GetTickCount64() + kForegroundWaitMs;
    for (;;) {
        if (::GetForegroundWindow() == target)
            return true;
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline)
            return false;
        ::MsgWaitForMultipleObjects(
            0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 10)), QS_SENDMESSAGE);
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void Win32System::PressSpaceKey()
{
    ::keybd_event(VK_SPACE, 0, 0, 0);
    ::keybd_event(VK_SPACE, 0, KEYEVENTF_KEYUP, 0);
}

WindowAnswer Win32System::WindowsAnswered()
{
    struct Look {
        const std::vector<uint32_t>* pids;
        WindowAnswer answer;
    } look{&m_windowPids, {}};
    ::EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* l = reinterpret_cast<Look*>(context);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            if (!::IsWindowVisible(window) || std::find(l->pids->begin(), l->pids->end(), owner) == l->pids->end())
                return TRUE;
            ++l->answer.judged;
            if (::IsHungAppWindow(window))
                ++l->answer.unanswered;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&look));
    return look.answer;
}
