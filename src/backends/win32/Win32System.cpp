#include "backends/win32/Win32System.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "backends/win32/OsFailure.h"
#include "backends/win32/ProcessUser.h"
#include "backends/win32/UniqueHandle.h"
#include "backends/win32/WideText.h"
// After <windows.h>, which the handle header brings in.
#include <shellapi.h>
#include <tlhelp32.h>

using px::win32::FromWide;
using px::win32::LogOsFailure;
using px::win32::TokenUserOf;
using px::win32::UniqueHandle;
using px::win32::Wide;

namespace {

// How long another program's window may take to come to the front.
constexpr ULONGLONG kForegroundWaitMs = 500;

HWND ToHwnd(ForeignWindow window) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(window)); }

HANDLE FromId(uint64_t id) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(id)); }
uint64_t ToId(HANDLE handle) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle)); }

// A launch as the system keeps it: the job (null when the process could not be put into one)
// and the process started.
LaunchedProcess MakeLaunch(UniqueHandle process)
{
    UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
    if (!job.Valid()) {
        LogOsFailure("CreateJobObjectW", ::GetLastError());
    } else if (!::AssignProcessToJobObject(job.Get(), process.Get())) {
        // A process already in a job that forbids nesting (before Windows 8): the launch is
        // the process alone.
        LogOsFailure("AssignProcessToJobObject", ::GetLastError());
        job.Reset();
    }
    return LaunchedProcess{ToId(job.Take()), ToId(process.Take())};
}

// When the process was created (100 ns units since 1601); 0 when the system does not tell.
uint64_t CreationTimeOf(HANDLE process)
{
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return (uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime;
}

// The process runs as this user (see px::win32::IsOwnProcess); startStamp gets when it was
// created.
bool IsOwnProcess(DWORD pid, const std::vector<BYTE>& me, DWORD mySession, uint64_t& startStamp)
{
    const UniqueHandle handle(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    startStamp = handle.Valid() ? CreationTimeOf(handle.Get()) : 0;
    return px::win32::IsOwnProcess(handle.Get(), pid, me, mySession);
}

}  // namespace

bool Win32System::EnumerateProcesses(ProcessDetail, const std::function<bool(const ProcessEntry&)>& visit)
{
    UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.Valid()) {
        LogOsFailure("CreateToolhelp32Snapshot", ::GetLastError());
        return false;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    if (!::Process32FirstW(snapshot.Get(), &entry)) {
        LogOsFailure("Process32FirstW", ::GetLastError());
        return false;
    }
    ProcessEntry process;
    process.names.resize(1);
    const std::vector<BYTE> me = TokenUserOf(::GetCurrentProcess());
    DWORD mySession = 0;
    ::ProcessIdToSessionId(::GetCurrentProcessId(), &mySession);
    do {
        process.pid = entry.th32ProcessID;
        process.names[0].text = FromWide(entry.szExeFile);
        process.ownUser = IsOwnProcess(entry.th32ProcessID, me, mySession, process.startStamp);
        if (!visit(process))
            break;
    } while (::Process32NextW(snapshot.Get(), &entry));
    return true;
}

namespace {

// The ntdll call that reads another process's command line, as the SDK declares it.
using NtQueryInformationProcessFn = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
constexpr ULONG kProcessCommandLineInformation = 60;

// The UNICODE_STRING the call writes first, its text following in the same buffer.
struct CommandLineHeader {
    USHORT length;  // in bytes
    USHORT maximumLength;
    PWSTR buffer;
};

NtQueryInformationProcessFn NtQueryInformationProcessCall()
{
    static const NtQueryInformationProcessFn call = [] {
        const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
        const FARPROC found = ntdll ? ::GetProcAddress(ntdll, "NtQueryInformationProcess") : nullptr;
        return reinterpret_cast<NtQueryInformationProcessFn>(reinterpret_cast<void (*)()>(found));
    }();
    return call;
}

}  // namespace

namespace {

constexpr ULONG kProcessBasicInformation = 0;
constexpr size_t kMaxCommandLineBytes = 1024 * 1024;

// PROCESS_BASIC_INFORMATION as the SDK lays it out.
struct BasicInformation {
    LONG exitStatus;
    PVOID pebBaseAddress;
    ULONG_PTR affinityMask;
    LONG basePriority;
    ULONG_PTR uniqueProcessId;
    ULONG_PTR inheritedFromUniqueProcessId;
};

// Where the command line lies in another process of this program's kind (64-bit): the PEB's
// ProcessParameters, and that block's CommandLine.
constexpr size_t kPebProcessParameters = 0x20;
constexpr size_t kParametersCommandLine = 0x70;

std::wstring TextOf(const CommandLineHeader& header, const unsigned char* begin)
{
    std::wstring text(header.length / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), begin, text.size() * sizeof(wchar_t));
    return text;
}

// Windows 8.1 and later: the system copies the line out.
std::optional<std::wstring> QueriedCommandLine(NtQueryInformationProcessFn query, HANDLE process)
{
    std::vector<unsigned char> buffer(4096);
    ULONG needed = 0;
    LONG status
        = query(process, kProcessCommandLineInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status < 0 && needed > buffer.size() && needed <= kMaxCommandLineBytes) {
        buffer.resize(needed);
        status
            = query(process, kProcessCommandLineInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    }
    if (status < 0)
        return std::nullopt;
    CommandLineHeader header{};
    std::memcpy(&header, buffer.data(), sizeof header);
    const auto* begin = reinterpret_cast<const unsigned char*>(header.buffer);
    if (!begin || begin < buffer.data() || begin + header.length > buffer.data() + buffer.size())
        return std::nullopt;
    return TextOf(header, begin);
}

// WORKAROUND: Wine 8 does not answer ProcessCommandLineInformation; the line is read from the
// process's own parameters block instead, as debuggers read it.
std::optional<std::wstring> ReadCommandLineFromPeb(NtQueryInformationProcessFn query, HANDLE process)
{
    BOOL wow64 = FALSE;
    if (!::IsWow64Process(process, &wow64) || wow64)
        return std::nullopt;  // a 32-bit process lays its blocks out otherwise
    BasicInformation basic{};
    ULONG got = 0;
    if (query(process, kProcessBasicInformation, &basic, sizeof basic, &got) < 0 || !basic.pebBaseAddress)
        return std::nullopt;
    const auto read = [&](uintptr_t address, void* into, size_t size) {
        SIZE_T done = 0;
        return ::ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), into, size, &done) && done == size;
    };
    uintptr_t parameters = 0;
    CommandLineHeader header{};
    if (!read(reinterpret_cast<uintptr_t>(basic.pebBaseAddress) + kPebProcessParameters, &parameters, sizeof parameters)
        || !parameters || !read(parameters + kParametersCommandLine, &header, sizeof header) || !header.buffer)
        return std::nullopt;
    std::vector<unsigned char> text(header.length);
    if (!read(reinterpret_cast<uintptr_t>(header.buffer), text.data(), text.size()))
        return std::nullopt;
    return TextOf(header, text.data());
}

}  // namespace

std::optional<std::u16string> Win32System::CommandLineOf(uint32_t pid, uint64_t startStamp)
{
    const NtQueryInformationProcessFn query = NtQueryInformationProcessCall();
    if (!query || pid == 0)
        return std::nullopt;
    UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    if (!process.Valid())
        process = UniqueHandle(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.Valid())
        return std::nullopt;
    if (startStamp != 0 && CreationTimeOf(process.Get()) != startStamp)
        return std::nullopt;
    std::optional<std::wstring> text = QueriedCommandLine(query, process.Get());
    if (!text)
        text = ReadCommandLineFromPeb(query, process.Get());
    if (!text)
        return std::nullopt;
    return FromWide(*text);
}

bool Win32System::TerminateProcess(uint32_t pid, uint64_t startStamp)
{
    if (pid == 0 || pid == ::GetCurrentProcessId())
        return false;
    // The handle names one process for good; it is not inherited by what this program starts.
    UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.Valid()) {
        // A process that ended since the snapshot was taken is no failure.
        const DWORD error = ::GetLastError();
        if (error != ERROR_INVALID_PARAMETER)
            LogOsFailure("OpenProcess", std::to_wstring(pid), error);
        return false;
    }
    // A process that got the id since the snapshot was taken started later: it is left alone.
    if (startStamp != 0 && CreationTimeOf(process.Get()) != startStamp)
        return false;
    if (::TerminateProcess(process.Get(), 0))
        return true;
    LogOsFailure("TerminateProcess", std::to_wstring(pid), ::GetLastError());
    return false;
}

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

intptr_t Win32System::ShellOpen(
    const std::u16string& file, const std::u16string* parameters, std::optional<LaunchedProcess>* launched)
{
    // ShellExecuteW's call (no owner, "open", no folder, shown normally), with the process
    // it starts kept when the caller wants it.
    const std::wstring path = Wide(file);
    const std::wstring words = parameters ? Wide(*parameters) : std::wstring();
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI | (launched ? SEE_MASK_NOCLOSEPROCESS : 0);
    info.lpVerb = L"open";
    info.lpFile = path.c_str();
    info.lpParameters = parameters ? words.c_str() : nullptr;
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info))
        LogOsFailure("ShellExecuteExW", path, ::GetLastError());
    const auto result = reinterpret_cast<intptr_t>(info.hInstApp);
    UniqueHandle process(info.hProcess);
    // WORKAROUND: ShellExecuteExW cannot start a process suspended, so the job takes it as it
    // runs: what it starts in its first moments, before the assignment, is not the launch's.
    if (launched && result > 32 && process.Valid())
        *launched = MakeLaunch(std::move(process));
    return result;
}

namespace {
// The processes of the job that are still running; nullopt when the job cannot be asked.
std::optional<DWORD> ActiveProcesses(HANDLE job)
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
    if (!::QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr)) {
        LogOsFailure("QueryInformationJobObject", ::GetLastError());
        return std::nullopt;
    }
    return info.ActiveProcesses;
}
}  // namespace

bool Win32System::IsAlive(const LaunchedProcess& process)
{
    if (const HANDLE job = FromId(process.id))
        if (const std::optional<DWORD> active = ActiveProcesses(job))
            return *active > 0;
    const HANDLE first = FromId(process.stamp);
    if (!first)
        return false;
    const DWORD state = ::WaitForSingleObject(first, 0);
    if (state == WAIT_FAILED)
        LogOsFailure("WaitForSingleObject", ::GetLastError());
    return state == WAIT_TIMEOUT;
}

bool Win32System::TerminateLaunched(const LaunchedProcess& process)
{
    const bool alive = IsAlive(process);
    if (const HANDLE job = FromId(process.id)) {
        if (::TerminateJobObject(job, 0))
            return alive;
        LogOsFailure("TerminateJobObject", ::GetLastError());
        return false;
    }
    const HANDLE first = FromId(process.stamp);
    return first && alive && ::TerminateProcess(first, 0);
}

void Win32System::Release(const LaunchedProcess& process)
{
    for (const uint64_t id : {process.id, process.stamp})
        if (const HANDLE handle = FromId(id); handle && !::CloseHandle(handle))
            LogOsFailure("CloseHandle", ::GetLastError());
}

bool Win32System::IsExecutableProgram(const std::u16string& path)
{
    // Windows runs a program by its extension, in any letter case: "Client.Exe" is one.
    const size_t dot = path.rfind(u'.');
    if (dot == std::u16string::npos || path.find_first_of(u"\\/", dot) != std::u16string::npos)
        return false;
    std::u16string extension = path.substr(dot);
    for (char16_t& c : extension)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    return extension == u".exe" || extension == u".com";
}

bool Win32System::StartScript(const std::u16string& path, std::optional<LaunchedProcess>* launched)
{
    // Only a file the interpreter can read is run (an empty path names none).
    if (path.empty())
        return false;
    UniqueHandle file(::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        LogOsFailure("CreateFileW", Wide(path), ::GetLastError());
        return false;
    }
    file.Reset();
    // The interpreter expands the variable once and reads what it holds as one quoted word:
    // "&", "^" or "%" in a file name stay characters of the name.
    constexpr wchar_t kVariable[] = L"PERENNIX_SCRIPT";
    wchar_t comspec[MAX_PATH] = L"cmd.exe";
    const DWORD length = ::GetEnvironmentVariableW(L"COMSPEC", comspec, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        wcscpy_s(comspec, L"cmd.exe");
    std::wstring command = std::wstring(L"\"") + comspec + L"\" /c \"\"%PERENNIX_SCRIPT%\"\"";
    ::SetEnvironmentVariableW(kVariable, Wide(path).c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    const BOOL created = ::CreateProcessW(
        comspec, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup, &started);
    const DWORD error = ::GetLastError();
    ::SetEnvironmentVariableW(kVariable, nullptr);
    if (!created) {
        LogOsFailure("CreateProcessW", comspec, error);
        return false;  // no interpreter could be started
    }
    // Into the launch's job before its first instruction: all it starts belongs to it. The
    // script then runs beside this program, which never waits for it.
    const LaunchedProcess launch = MakeLaunch(UniqueHandle(started.hProcess));
    const UniqueHandle thread(started.hThread);
    if (::ResumeThread(thread.Get()) == static_cast<DWORD>(-1))
        LogOsFailure("ResumeThread", ::GetLastError());
    if (launched)
        *launched = launch;
    else
        Release(launch);
    return true;
}

namespace {
// How a process that has ended ended; nullopt while it runs or when the system does not tell.
std::optional<ProcessExit> ExitOfProcess(HANDLE process)
{
    if (::WaitForSingleObject(process, 0) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    if (!::GetExitCodeProcess(process, &code)) {
        LogOsFailure("GetExitCodeProcess", ::GetLastError());
        return std::nullopt;
    }
    return ProcessExit{false, static_cast<int64_t>(code), u""};
}
}  // namespace

std::optional<ProcessExit> Win32System::ExitOf(const LaunchedProcess& process)
{
    const HANDLE first = FromId(process.stamp);
    return first ? ExitOfProcess(first) : std::nullopt;
}

std::optional<uint64_t> Win32System::RunCommand(
    const std::u16string& program, const std::vector<EnvironmentVariable>& environment)
{
    // This process's environment without the variables given, then the variables.
    std::wstring block;
    if (wchar_t* own = ::GetEnvironmentStringsW()) {
        for (const wchar_t* entry = own; *entry; entry += wcslen(entry) + 1) {
            const std::wstring_view text = entry;
            const std::wstring_view name = text.substr(0, text.find(L'=', 1));
            const bool replaced
                = std::any_of(environment.begin(), environment.end(), [&](const EnvironmentVariable& v) {
                      return ::CompareStringOrdinal(
                                 name.data(), static_cast<int>(name.size()), Wide(v.name).c_str(), -1, TRUE)
                          == CSTR_EQUAL;
                  });
            if (!replaced)
                block.append(text).push_back(L'\0');
        }
        ::FreeEnvironmentStringsW(own);
    }
    for (const EnvironmentVariable& variable : environment)
        block.append(Wide(variable.name)).append(L"=").append(Wide(variable.value)).push_back(L'\0');
    block.push_back(L'\0');

    const std::wstring path = Wide(program);
    std::wstring command = L"\"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE,
            CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, block.data(), nullptr, &startup, &started)) {
        LogOsFailure("CreateProcessW", path, ::GetLastError());
        return std::nullopt;
    }
    const UniqueHandle thread(started.hThread);
    m_commands[started.dwProcessId] = ToId(started.hProcess);
    return uint64_t{started.dwProcessId};
}

std::optional<ProcessExit> Win32System::CommandExit(uint64_t id)
{
    const auto it = m_commands.find(id);
    if (it == m_commands.end())
        return std::nullopt;
    const std::optional<ProcessExit> exit = ExitOfProcess(FromId(it->second));
    if (exit) {
        UniqueHandle closing(FromId(it->second));
        m_commands.erase(it);
    }
    return exit;
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
