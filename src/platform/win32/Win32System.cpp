#include "platform/win32/Win32System.h"

#include <algorithm>
#include <cstdlib>

#include "platform/win32/UniqueHandle.h"
#include "platform/win32/WideText.h"
// After <windows.h>, which the handle header brings in.
#include <shellapi.h>
#include <tlhelp32.h>

using px::win32::FromWide;
using px::win32::UniqueHandle;
using px::win32::Wide;

namespace {

// How long another program's window may take to come to the front.
constexpr ULONGLONG kForegroundWaitMs = 500;

HWND ToHwnd(ForeignWindow window) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(window)); }

}  // namespace

bool Win32System::EnumerateProcesses(ProcessDetail, const std::function<bool(const ProcessEntry&)>& visit)
{
    UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.Valid())
        return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    if (!::Process32FirstW(snapshot.Get(), &entry))
        return false;
    ProcessEntry process;
    process.names.resize(1);
    do {
        process.pid = entry.th32ProcessID;
        process.names[0].text = FromWide(entry.szExeFile);
        if (!visit(process))
            break;
    } while (::Process32NextW(snapshot.Get(), &entry));
    return true;
}

bool Win32System::TerminateProcess(uint32_t pid)
{
    if (pid == 0 || pid == ::GetCurrentProcessId())
        return false;
    // All access rights, as the program has always asked for; the handle is closed at once.
    UniqueHandle process(::OpenProcess(PROCESS_ALL_ACCESS, TRUE, pid));
    if (!process.Valid())
        return false;
    ::TerminateProcess(process.Get(), 0);
    return true;
}

intptr_t Win32System::ShellOpen(
    const std::u16string& file, const std::u16string* parameters, std::optional<LaunchedProcess>* launched)
{
    const std::wstring path = Wide(file);
    const std::wstring words = parameters ? Wide(*parameters) : std::wstring();
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    info.lpFile = path.c_str();
    info.lpParameters = parameters ? words.c_str() : nullptr;
    info.nShow = SW_SHOWNORMAL;
    ::ShellExecuteExW(&info);
    // hInstApp holds the code ShellExecuteW would return, success included.
    const intptr_t code = reinterpret_cast<intptr_t>(info.hInstApp);
    if (info.hProcess) {
        if (launched && code > 32)
            *launched = LaunchedProcess{static_cast<uint64_t>(reinterpret_cast<uintptr_t>(info.hProcess)), 0};
        else
            ::CloseHandle(info.hProcess);
    }
    return code;
}

bool Win32System::IsAlive(const LaunchedProcess& process)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(process.id));
    return handle && ::WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
}

void Win32System::Release(const LaunchedProcess& process)
{
    if (const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(process.id)))
        ::CloseHandle(handle);
}

std::optional<int> Win32System::RunScript(const std::u16string& path)
{
    // cmd /c strips the outer pair of quotes when the text holds more than two, so the path
    // goes in quotes inside quotes: one word, spaces and all. A quote cannot be part of a
    // Windows file name, so none can close the word early.
    if (path.empty() || path.find(u'"') != std::u16string::npos)
        return std::nullopt;
    const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    const int status = ::_wsystem((L"\"\"" + Wide(path) + L"\"\"").c_str());
    // -1: no interpreter could be started; 9009: cmd found nothing to run by that name.
    if (status == -1 || status == 9009)
        return std::nullopt;
    return status;
}

std::vector<TopWindow> Win32System::FindTopWindows(const std::u16string& title)
{
    std::vector<TopWindow> found;
    const std::wstring wanted = Wide(title);
    for (HWND window = ::FindWindowExW(nullptr, nullptr, nullptr, wanted.c_str()); window;
         window = ::FindWindowExW(nullptr, window, nullptr, wanted.c_str())) {
        TopWindow top;
        top.handle = static_cast<ForeignWindow>(reinterpret_cast<uintptr_t>(window));
        wchar_t className[256] = {};
        const int length = ::GetClassNameW(window, className, 256);
        top.windowClass = FromWide(std::wstring(className, length > 0 ? static_cast<size_t>(length) : 0));
        const LONG_PTR exStyle = ::GetWindowLongPtrW(window, GWL_EXSTYLE);
        top.isDialog = top.windowClass == u"#32770" || (exStyle & WS_EX_DLGMODALFRAME) != 0;
        DWORD pid = 0;
        ::GetWindowThreadProcessId(window, &pid);
        top.owner.pid = pid;
        EnumerateProcesses(ProcessDetail::Full, [&](const ProcessEntry& p) {
            if (p.pid != pid)
                return true;
            top.owner.names = p.names;
            return false;
        });
        found.push_back(std::move(top));
    }
    return found;
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

std::u16string Win32System::GetModuleFileName()
{
    // A path may be longer than MAX_PATH: grow the buffer until the whole path fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return FromWide(path);
        }
        if (path.size() >= 32768)
            return {};
        path.resize(path.size() * 2);
    }
}
