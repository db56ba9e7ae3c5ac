// Processes on Windows: the Toolhelp snapshot, owners, start times, command lines, ending one, how one ended.

#include "backends/win32/Win32System.h"

#include <cstring>
#include <vector>

#include "backends/win32/OsFailure.h"
#include "backends/win32/ProcessUser.h"
#include "backends/win32/UniqueHandle.h"
#include "backends/win32/WideText.h"
#include "backends/win32/Win32SystemInternal.h"
// After <windows.h>, which the handle header brings in.
#include <tlhelp32.h>

using px::win32::CreationTimeOf;
using px::win32::FromWide;
using px::win32::LogOsFailure;
using px::win32::TokenUserOf;
using px::win32::UniqueHandle;

namespace px::win32 {

uint64_t CreationTimeOf(HANDLE process)
{
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return (uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime;
}

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

}  // namespace px::win32

namespace {

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
