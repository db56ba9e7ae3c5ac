#include "Win32HostFixture.h"

#include <chrono>
#include <filesystem>
#include <utility>
#include <vector>

namespace wintest {

namespace {

struct Pending {
    std::function<bool()> ready;
    std::function<void()> act;
};
std::vector<Pending> g_pending;
UINT_PTR g_poll = 0;

void CALLBACK Poll(HWND, UINT, UINT_PTR, DWORD)
{
    for (size_t i = 0; i < g_pending.size(); ++i) {
        if (!g_pending[i].ready())
            continue;
        // Taken off first: the action may run a loop of its own that polls again.
        Pending p = std::move(g_pending[i]);
        g_pending.erase(g_pending.begin() + static_cast<std::ptrdiff_t>(i));
        p.act();
        return;
    }
}

// A test that loses its way must fail, not hang: every box and dialog is cancelled.
void CALLBACK Failsafe(HWND, UINT, UINT_PTR, DWORD)
{
    ADD_FAILURE() << "the test did not end its dialogs in time";
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND w, LPARAM) -> BOOL {
            if (ClassOf(w) == L"#32770")
                ::PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
            return TRUE;
        },
        0);
}

}  // namespace

void When(std::function<bool()> ready, std::function<void()> act)
{
    g_pending.push_back({std::move(ready), std::move(act)});
    if (!g_poll)
        g_poll = ::SetTimer(nullptr, 0, 5, &Poll);
}

void Soon(std::function<void()> act)
{
    When([] { return true; }, std::move(act));
}

void Pause(int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

HINSTANCE ProgramResources()
{
    static const HINSTANCE module = [] {
        wchar_t self[MAX_PATH * 4] = {};
        ::GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
        const std::filesystem::path program = std::filesystem::path(self).parent_path() / L"Perennix.exe";
        return static_cast<HINSTANCE>(
            ::LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    }();
    return module;
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return name;
}

std::wstring TextOf(HWND window)
{
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

HWND OwnedDialog(HWND owner)
{
    struct Search {
        HWND owner;
        HWND found;
    } search{owner, nullptr};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND w, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            if (ClassOf(w) == L"#32770" && ::GetWindow(w, GW_OWNER) == s->owner && ::IsWindowVisible(w)) {
                s->found = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

Win32HostTest::Win32HostTest()
{
    SetWindowHost(&host);
    SetSystem(&system);
    m_failsafe = ::SetTimer(nullptr, 0, 20000, &Failsafe);
}

Win32HostTest::~Win32HostTest()
{
    ::KillTimer(nullptr, m_failsafe);
    if (g_poll) {
        ::KillTimer(nullptr, g_poll);
        g_poll = 0;
    }
    g_pending.clear();
    SetWindowHost(nullptr);
    SetSystem(nullptr);
}

}  // namespace wintest
