// Launches on Windows: the shell's open verb, scripts through cmd, a job object per launch, the event command's runs.

#include "backends/win32/Win32System.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "backends/win32/OsFailure.h"
#include "backends/win32/UniqueHandle.h"
#include "backends/win32/WideText.h"
#include "backends/win32/Win32SystemInternal.h"
// After <windows.h>, which the handle header brings in.
#include <shellapi.h>

using px::win32::ExitOfProcess;
using px::win32::LogOsFailure;
using px::win32::UniqueHandle;
using px::win32::Wide;

namespace {

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

}  // namespace

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
