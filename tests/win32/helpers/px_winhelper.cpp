// A Windows program for the tests to find, end, launch and send keys to. It reports what it
// received in a file, in UTF-8, one item a line, written whole (a temporary file renamed).
//
//   px_winhelper sleep                          stays until it is ended
//   px_winhelper report DELAY_MS FILE ARGS...   waits DELAY_MS, reports its arguments, ends
//   px_winhelper modulepath FILE                reports its own path as Win32System tells it
//   px_winhelper rect TITLE ID FILE             reports "left top right bottom" on the screen of
//                                               control ID (0: the window itself) of the
//                                               top-level window titled TITLE; "none" without it
//   px_winhelper stamp FILE                     appends "<pid> <start time in ns since 1970>" to
//                                               FILE, then stays (an hour at most)
//   px_winhelper memory IMAGE FILE              reports "<private bytes> <working set>" of the
//                                               first process named IMAGE: its committed
//                                               private memory, region by region, and the
//                                               working set GetProcessMemoryInfo gives
//   px_winhelper dialog CLASS TITLE FILE        a window of class CLASS titled TITLE whose
//                                               focused default button, when pressed,
//                                               reports "pressed" and ends the program
//   px_winhelper squat FOLDER KIND FILE         stands in Perennix's way for FOLDER with a
//                                               mutex of the claim's name: KIND "mutex" owned
//                                               by this user (as any program of the user makes
//                                               it), "window" that and a message-only window of
//                                               the claim's class and name, "foreign" owned by
//                                               another user (SYSTEM) and open to all, "closed"
//                                               another user's that this user may not open;
//                                               reports "ready", then stays
//   px_winhelper hang TITLE SECONDS FILE        a window titled TITLE that takes its messages
//                                               for SECONDS, then appends "blocked <pid>" to
//                                               FILE and blocks in its window procedure for
//                                               good (a hung window); on WM_CLOSE before, as
//                                               heartbeat
//   px_winhelper tcp PORT SECONDS               listens on 127.0.0.1:PORT and accepts for
//                                               SECONDS, then closes its listening socket and
//                                               stays: alive, no longer accepting
//   px_winhelper heartbeat TITLE BEAT SECONDS FILE
//                                               a window titled TITLE; touches BEAT every
//                                               half second for SECONDS, then no more; on
//                                               WM_CLOSE reports "WM_CLOSE" and ends with
//                                               code 42
//   px_winhelper exitcode IMAGE FILE            waits for a process named IMAGE, then for its
//                                               end, and reports "<pid> <exit code>"

#include "backends/win32/WinPrelude.h"

#include <winsock2.h>

#include <psapi.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdint>
#include <string>
#include <vector>

#include "backends/win32/ProcessUser.h"
#include "backends/win32/Win32System.h"
#include "backends/win32/Win32WindowHost.h"

namespace {

constexpr int kButtonId = 1;
std::wstring g_reportPath;

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size
        = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// Appends line to the file at path, which many processes may share.
bool AppendLine(const std::wstring& path, const std::string& line)
{
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const std::string bytes = line + "\n";
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return true;
}

void Report(const std::vector<std::wstring>& lines)
{
    std::string bytes;
    for (const std::wstring& line : lines)
        bytes += Utf8(line) + "\n";
    const std::wstring temp = g_reportPath + L".part";
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    MoveFileExW(temp.c_str(), g_reportPath.c_str(), MOVEFILE_REPLACE_EXISTING);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SETFOCUS:
        // The window's focus goes to its button, as a dialog gives it to its default button.
        SetFocus(GetDlgItem(window, kButtonId));
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == kButtonId && HIWORD(wParam) == BN_CLICKED) {
            Report({L"pressed"});
            DestroyWindow(window);
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

constexpr UINT kBlockMessage = WM_APP + 1;
constexpr int kClosedCode = 42;

LRESULT CALLBACK ProbedWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kBlockMessage:
        // The window procedure never returns: the thread takes no message any more.
        AppendLine(g_reportPath, "blocked " + std::to_string(GetCurrentProcessId()));
        Sleep(INFINITE);
        return 0;
    case WM_CLOSE:
        Report({L"WM_CLOSE"});
        PostQuitMessage(kClosedCode);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

// A visible top-level window titled title; its thread takes messages until the quit message.
// Every half second onTick runs with the seconds since the start.
template <typename OnTick> int RunProbedWindow(const std::wstring& title, OnTick onTick)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = ProbedWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"px_probed";
    if (!RegisterClassW(&wc))
        return 3;
    HWND window = CreateWindowExW(0, wc.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 120, 120, 240, 120, nullptr,
        nullptr, wc.hInstance, nullptr);
    if (!window)
        return 4;
    ShowWindow(window, SW_SHOWNOACTIVATE);
    SetTimer(window, 1, 500, nullptr);
    const ULONGLONG start = GetTickCount64();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.hwnd == window)
            onTick(window, static_cast<int>((GetTickCount64() - start) / 1000));
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

int ServeTcp(int port, int seconds)
{
    WSADATA data{};
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 3;
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listener == INVALID_SOCKET || bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
        || listen(listener, 16) != 0)
        return 4;
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    while (GetTickCount64() < end) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener, &readable);
        timeval wait{0, 200 * 1000};
        if (select(0, &readable, nullptr, nullptr, &wait) == 1) {
            const SOCKET connection = accept(listener, nullptr, nullptr);
            if (connection != INVALID_SOCKET)
                closesocket(connection);
        }
    }
    closesocket(listener);
    Sleep(INFINITE);
    return 0;
}

// The id of the first process named image, 0 when none runs.
DWORD ProcessNamed(const wchar_t* image)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    DWORD pid = 0;
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok && !pid; ok = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, image) == 0)
            pid = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return pid;
}

int RunDialog(const std::wstring& className, const std::wstring& title)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = className.c_str();
    if (!RegisterClassW(&wc))
        return 3;
    HWND window = CreateWindowExW(0, className.c_str(), title.c_str(), WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 100,
        100, 240, 120, nullptr, nullptr, wc.hInstance, nullptr);
    if (!window)
        return 4;
    CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 70, 30, 90, 28, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButtonId)), wc.hInstance, nullptr);
    // Shown without taking the focus: the test brings it to the front itself.
    ShowWindow(window, SW_SHOWNOACTIVATE);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

// The mutex of Perennix's claim for folder, made as kind says (see the top); false when the
// system refused it.
bool Squat(const std::wstring& folder, const std::wstring& kind)
{
    const std::wstring name = Win32WindowHost::InstanceName(std::u16string(folder.begin(), folder.end()));
    std::vector<BYTE> me = px::win32::TokenUserOf(GetCurrentProcess());
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID system = nullptr;
    if (me.empty() || !AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system))
        return false;
    const bool foreign = kind == L"foreign" || kind == L"closed";
    BYTE aclBytes[256];
    auto* acl = reinterpret_cast<ACL*>(aclBytes);
    SECURITY_DESCRIPTOR descriptor{};
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)
        || !SetSecurityDescriptorOwner(&descriptor, foreign ? system : me.data(), FALSE)
        || !InitializeAcl(acl, sizeof aclBytes, ACL_REVISION)
        || !AddAccessAllowedAce(acl, ACL_REVISION, MUTEX_ALL_ACCESS, system)
        || !SetSecurityDescriptorDacl(&descriptor, TRUE, kind == L"closed" ? acl : nullptr, FALSE))
        return false;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    if (!CreateMutexW(&attributes, FALSE, (L"Local\\" + name).c_str()))
        return false;
    if (kind == L"window") {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = Win32WindowHost::kInstanceClass;
        RegisterClassW(&wc);
        if (!CreateWindowExW(
                0, wc.lpszClassName, name.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr))
            return false;
    }
    return true;
}

}  // namespace

int wmain()
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv)
        return 2;
    // Without arguments, as an event command runs: reports the event it was given, ends with 5.
    if (argc < 2) {
        wchar_t report[MAX_PATH] = {};
        wchar_t event[64] = {};
        if (!GetEnvironmentVariableW(L"PX_ENV_REPORT", report, MAX_PATH))
            return 2;
        GetEnvironmentVariableW(L"PERENNIX_EVENT", event, 64);
        g_reportPath = report;
        Report({event});
        return 5;
    }
    const std::wstring mode = argv[1];
    if (mode == L"exit" && argc == 3)
        return _wtoi(argv[2]);
    if (mode == L"sleep") {
        Sleep(INFINITE);
        return 0;
    }
    if (mode == L"report" && argc >= 4) {
        Sleep(static_cast<DWORD>(_wtoi(argv[2])));
        g_reportPath = argv[3];
        Report(std::vector<std::wstring>(argv + 4, argv + argc));
        return 0;
    }
    if (mode == L"modulepath" && argc == 3) {
        g_reportPath = argv[2];
        const std::u16string path = Win32System().GetModuleFileName();
        Report({std::wstring(path.begin(), path.end())});
        return 0;
    }
    if (mode == L"stamp" && argc == 3) {
        FILETIME now{};
        GetSystemTimePreciseAsFileTime(&now);
        // 100 ns units since 1601 to ns since 1970.
        const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        const uint64_t ns = (ticks - 116444736000000000ull) * 100;
        if (!AppendLine(argv[2], std::to_string(GetCurrentProcessId()) + " " + std::to_string(ns)))
            return 1;
        Sleep(3600 * 1000);
        return 0;
    }
    if (mode == L"memory" && argc == 4) {
        g_reportPath = argv[3];
        const DWORD pid = ProcessNamed(argv[2]);
        HANDLE process = pid ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid) : nullptr;
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        if (!process || !GetProcessMemoryInfo(process, &counters, sizeof counters)) {
            Report({L"none"});
            return 1;
        }
        // Private bytes: the committed private regions of its address space, counted directly
        // (not every implementation of GetProcessMemoryInfo fills PrivateUsage in for another
        // process).
        uint64_t privateBytes = 0;
        MEMORY_BASIC_INFORMATION region{};
        for (const char* at = nullptr; VirtualQueryEx(process, at, &region, sizeof region) == sizeof region;
             at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
            if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
                privateBytes += region.RegionSize;
        }
        CloseHandle(process);
        Report({std::to_wstring(privateBytes) + L" " + std::to_wstring(counters.WorkingSetSize)});
        return 0;
    }
    if (mode == L"rect" && argc == 5) {
        g_reportPath = argv[4];
        HWND window = FindWindowW(nullptr, argv[2]);
        const int id = _wtoi(argv[3]);
        if (window && id != 0)
            window = GetDlgItem(window, id);
        RECT r{};
        if (!window || !IsWindowVisible(window) || !GetWindowRect(window, &r)) {
            Report({L"none"});
            return 1;
        }
        Report({std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " + std::to_wstring(r.right) + L" "
            + std::to_wstring(r.bottom)});
        return 0;
    }
    if (mode == L"squat" && argc == 5) {
        g_reportPath = argv[4];
        if (!Squat(argv[2], argv[3]))
            return 1;
        Report({L"ready"});
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0)
            DispatchMessageW(&msg);
        return 0;
    }
    if (mode == L"hang" && argc == 5) {
        const int seconds = _wtoi(argv[3]);
        g_reportPath = argv[4];
        return RunProbedWindow(argv[2], [seconds](HWND window, int elapsed) {
            if (elapsed >= seconds)
                PostMessageW(window, kBlockMessage, 0, 0);
        });
    }
    if (mode == L"tcp" && argc == 4)
        return ServeTcp(_wtoi(argv[2]), _wtoi(argv[3]));
    if (mode == L"heartbeat" && argc == 6) {
        const std::wstring beat = argv[3];
        const int seconds = _wtoi(argv[4]);
        g_reportPath = argv[5];
        return RunProbedWindow(argv[2], [&beat, seconds](HWND, int elapsed) {
            if (elapsed >= seconds)
                return;
            HANDLE file = CreateFileW(beat.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE)
                return;
            FILETIME now{};
            GetSystemTimeAsFileTime(&now);
            SetFileTime(file, nullptr, nullptr, &now);
            CloseHandle(file);
        });
    }
    if (mode == L"exitcode" && argc == 4) {
        g_reportPath = argv[3];
        HANDLE process = nullptr;
        DWORD pid = 0;
        while (!process) {
            pid = ProcessNamed(argv[2]);
            process = pid ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid) : nullptr;
            if (!process)
                Sleep(50);
        }
        DWORD code = 0;
        WaitForSingleObject(process, INFINITE);
        GetExitCodeProcess(process, &code);
        CloseHandle(process);
        Report({std::to_wstring(pid) + L" " + std::to_wstring(code)});
        return 0;
    }
    if (mode == L"dialog" && argc == 5) {
        g_reportPath = argv[4];
        return RunDialog(argv[2], argv[3]);
    }
    return 2;
}
