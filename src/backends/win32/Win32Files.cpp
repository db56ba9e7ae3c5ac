#include "backends/win32/Win32Files.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "backends/win32/OsFailure.h"
#include "backends/win32/UniqueHandle.h"
#include "backends/win32/WideText.h"

using px::win32::LogOsFailure;
using px::win32::UniqueHandle;
using px::win32::Wide;

namespace {

// What a replaced file keeps of its old attributes (read-only files are never replaced).
constexpr DWORD kKeptAttributes
    = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// A path the system calls can take whole: not empty, and no NUL inside, which would end it
// early and name another file.
bool Nameable(const std::u16string& path) { return !path.empty() && path.find(u'\0') == std::u16string::npos; }

// Only these say that nothing is there; any other error is a failure to look.
bool NotThere(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Opens path for reading as _wfopen does: others may go on reading, writing and renaming it.
UniqueHandle OpenForReading(const std::u16string& path)
{
    if (!Nameable(path))
        return UniqueHandle();
    return UniqueHandle(
        ::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// False (the last error set) when a write failed.
bool WriteAll(HANDLE file, std::string_view bytes)
{
    while (!bytes.empty()) {
        const DWORD chunk = bytes.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0)
            return false;
        bytes.remove_prefix(written);
    }
    return true;
}

// A new file beside target that nobody else has: ".<name>.<pid>-<n>.tmp", written through
// to the disk. Empty (and no file) when none could be made.
// The folder (with its separator, or empty) and the file name of path.
std::pair<std::wstring, std::wstring> SplitFolder(const std::wstring& path)
{
    const size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos)
        return {std::wstring(), path};
    return {path.substr(0, separator + 1), path.substr(separator + 1)};
}

std::wstring CreateTemporaryBeside(const std::wstring& target, UniqueHandle& file)
{
    const auto [folder, name] = SplitFolder(target);
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring temp = folder + L"." + name + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-"
            + std::to_wstring(++counter) + L".tmp";
        HANDLE handle = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            file = UniqueHandle(handle);
            return temp;
        }
        const DWORD error = ::GetLastError();
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attempt == 99) {
            LogOsFailure("CreateFileW", temp, error);
            break;
        }
    }
    return {};
}

// The process that wrote a temporary file of name, from the file's name
// ".<name>.<pid>-<count>.tmp"; nullopt for any other name.
std::optional<DWORD> TemporaryWriterOf(const std::wstring& fileName, const std::wstring& name)
{
    const std::wstring prefix = L"." + name + L".";
    const std::wstring suffix = L".tmp";
    if (fileName.size() <= prefix.size() + suffix.size() || fileName.compare(0, prefix.size(), prefix) != 0
        || fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) != 0)
        return std::nullopt;
    const std::wstring middle = fileName.substr(prefix.size(), fileName.size() - prefix.size() - suffix.size());
    const size_t dash = middle.find(L'-');
    const auto digits = [](std::wstring_view part, size_t most) {
        return !part.empty() && part.size() <= most
            && std::all_of(part.begin(), part.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
    };
    if (dash == std::wstring::npos || !digits(std::wstring_view(middle).substr(0, dash), 10)
        || !digits(std::wstring_view(middle).substr(dash + 1), 10))
        return std::nullopt;
    const unsigned long long pid = std::stoull(middle.substr(0, dash));
    if (pid > MAXDWORD)
        return std::nullopt;
    return static_cast<DWORD>(pid);
}

// Another process with this id still runs (and may still be writing its temporary file).
bool OtherProcessRuns(DWORD pid)
{
    if (pid == ::GetCurrentProcessId())
        return false;  // this process writes one file at a time: its earlier ones are left over
    UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.Valid())
        return ::GetLastError() == ERROR_ACCESS_DENIED;  // it exists, another user's
    DWORD code = 0;
    if (!::GetExitCodeProcess(process.Get(), &code)) {
        LogOsFailure("GetExitCodeProcess", std::to_wstring(pid), ::GetLastError());
        return false;
    }
    return code == STILL_ACTIVE;
}

// Removes the temporary files of name in folder that a killed write left behind: exactly the
// names this service gives them, plain files only, and only when the process that wrote one
// has ended. No such file is no failure, and a folder that is not there fails the write that
// follows, which says so.
void RemoveStaleTemporaries(const std::wstring& folder, const std::wstring& name)
{
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = folder + L"." + name + L".*-*.tmp";
    HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        if (!NotThere(::GetLastError()))
            LogOsFailure("FindFirstFileW", pattern, ::GetLastError());
        return;
    }
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        const std::optional<DWORD> writer = TemporaryWriterOf(found.cFileName, name);
        const std::wstring stale = folder + found.cFileName;
        if (writer && !OtherProcessRuns(*writer) && !::DeleteFileW(stale.c_str()) && !NotThere(::GetLastError()))
            LogOsFailure("DeleteFileW", stale, ::GetLastError());
    } while (::FindNextFileW(search, &found));
    if (::GetLastError() != ERROR_NO_MORE_FILES)
        LogOsFailure("FindNextFileW", pattern, ::GetLastError());
    ::FindClose(search);
}

// Puts temp in target's place with one rename, written through to the disk before it returns.
bool MoveOver(const std::wstring& temp, const std::wstring& target)
{
    return ::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

// ReplaceFileW failed after taking the old file away: deleted (ERROR_UNABLE_TO_MOVE_REPLACEMENT)
// or renamed (ERROR_UNABLE_TO_MOVE_REPLACEMENT_2). The new bytes are then in the replacement
// file alone.
bool TookTheOldFileAway(DWORD error)
{
    return error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
}

// Wine's ntdll exports wine_get_version; Windows' does not. Wine's ReplaceFileW moves the old
// file away and deletes it before it renames the new one in; Windows' swaps them in one step.
bool ReplaceFileSwapsInOneStep()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return !ntdll || !::GetProcAddress(ntdll, "wine_get_version");
}

}  // namespace

Win32Files::Win32Files(Replacement replacement)
    : m_replaceFile(
        replacement == Replacement::Replace || (replacement == Replacement::Automatic && ReplaceFileSwapsInOneStep()))
{
}

bool Win32Files::ReplaceWithTemporary(const std::wstring& replaced, const std::wstring& replacement)
{
    return ::ReplaceFileW(
        replaced.c_str(), replacement.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
}

std::optional<std::string> Win32Files::ReadWholeFile(const std::u16string& path)
{
    if (!Nameable(path))
        return std::nullopt;
    UniqueHandle file = OpenForReading(path);
    if (!file.Valid()) {
        // A file that is not there reads as nothing, as it should, and a folder, which does
        // not open this way, as nothing too.
        const DWORD error = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
        const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        if (!NotThere(error) && !folder)
            LogOsFailure("CreateFileW", Wide(path), error);
        return std::nullopt;
    }
    // A pipe or a device is not a file to read whole.
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK)
        return std::nullopt;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size)) {
        LogOsFailure("GetFileSizeEx", Wide(path), ::GetLastError());
        return std::nullopt;
    }
    if (size.QuadPart < 0 || size.QuadPart > INT_MAX)
        return std::nullopt;

    std::string bytes;
    bytes.reserve(static_cast<size_t>(size.QuadPart));
    char buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr)) {
            LogOsFailure("ReadFile", Wide(path), ::GetLastError());
            return std::nullopt;
        }
        if (read == 0)
            break;
        bytes.append(buffer, read);
    }
    return bytes;
}

bool Win32Files::PathExists(const std::u16string& path)
{
    if (!Nameable(path))
        return false;
    if (::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    // Only "not found" means nothing is there: a file that is locked or that we may not look
    // at exists all the same.
    const DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_INVALID_NAME
        && error != ERROR_BAD_NETPATH && error != ERROR_INVALID_DRIVE;
}

bool Win32Files::WriteFileAtomically(const std::u16string& path, std::string_view bytes)
{
    if (!Nameable(path))
        return false;
    const std::wstring target = Wide(path);
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    const bool replacing = attributes != INVALID_FILE_ATTRIBUTES;
    if (!replacing && !NotThere(::GetLastError()))
        LogOsFailure("GetFileAttributesW", target, ::GetLastError());
    // A folder is not replaced, nor a read-only file, which ReplaceFileW refuses and Wine's
    // rename would replace.
    if (replacing && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        return false;

    // While the file is missing, a temporary file beside it may hold the only copy of its
    // bytes (a save whose new file could not be put in place): they stay until there is a
    // file again.
    const auto [folder, name] = SplitFolder(target);
    if (replacing)
        RemoveStaleTemporaries(folder, name);
    UniqueHandle file;
    const std::wstring temp = CreateTemporaryBeside(target, file);
    if (temp.empty())
        return false;
    // Each step of the write, logged with the file it was about when it fails.
    const auto step = [](bool done, const char* call, const std::wstring& object) {
        if (!done)
            LogOsFailure(call, object, ::GetLastError());
        return done;
    };
    bool ok = step(WriteAll(file.Get(), bytes), "WriteFile", temp);
    ok = ok && step(::FlushFileBuffers(file.Get()), "FlushFileBuffers", temp);
    ok = step(file.Reset(), "CloseHandle", temp) && ok;
    bool keepTemporary = false;
    if (ok) {
        // The old file's attributes are given to the new file first: a rename keeps none of
        // them, and not every implementation of ReplaceFileW carries them over.
        if (replacing)
            step(::SetFileAttributesW(temp.c_str(), attributes & kKeptAttributes), "SetFileAttributesW", temp);
        if (replacing && m_replaceFile) {
            ok = step(ReplaceWithTemporary(target, temp), "ReplaceFileW", target);
            // The old file is gone: the new one is moved into its place, and kept where it is
            // when even that fails.
            if (!ok && TookTheOldFileAway(::GetLastError())) {
                ok = step(MoveOver(temp, target), "MoveFileExW", target);
                keepTemporary = !ok;
            }
        } else {
            ok = step(MoveOver(temp, target), "MoveFileExW", target);
        }
    }
    if (!ok && !keepTemporary)
        step(::DeleteFileW(temp.c_str()), "DeleteFileW", temp);
    return ok;
}

namespace {

// The run log's handle. Each write moves to the end first, so that a log another program cut
// short goes on at its new end.
class Win32AppendFile : public AppendFile {
public:
    explicit Win32AppendFile(UniqueHandle file)
        : m_file(std::move(file))
    {
    }
    bool Append(std::string_view bytes) override
    {
        return ::SetFilePointerEx(m_file.Get(), LARGE_INTEGER{}, nullptr, FILE_END) && WriteAll(m_file.Get(), bytes);
    }

private:
    UniqueHandle m_file;
};

}  // namespace

std::unique_ptr<AppendFile> Win32Files::OpenRunLog(const std::u16string& path)
{
    if (!Nameable(path))
        return nullptr;
    const std::wstring name = Wide(path);
    // Shared for reading and writing, as a file stream opens it.
    UniqueHandle file(::CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.Valid()) {
        // A folder does not open this way: a refusal, not a failure.
        const DWORD error = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesW(name.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            LogOsFailure("CreateFileW", name, error);
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.Get(), &info)) {
        LogOsFailure("GetFileInformationByHandle", name, ::GetLastError());
        return nullptr;
    }
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK
        || (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
        return nullptr;
    // The new handle stands at the start of the file: its end is put there.
    if (!::SetEndOfFile(file.Get())) {
        LogOsFailure("SetEndOfFile", name, ::GetLastError());
        return nullptr;
    }
    return std::make_unique<Win32AppendFile>(std::move(file));
}

bool Win32Files::CanOpenFileForReading(const std::u16string& path) { return OpenForReading(path).Valid(); }

std::string Win32Files::EncodeGbk(std::u16string_view text)
{
    constexpr UINT kGbk = 936;
    std::string bytes;
    // One character at a time (a surrogate pair is one): a character GBK has no code for
    // becomes one "?", however many units it takes.
    for (size_t i = 0; i < text.size();) {
        const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00
            && text[i + 1] <= 0xDFFF;
        const int units = pair ? 2 : 1;
        const std::wstring unit(
            text.begin() + static_cast<std::ptrdiff_t>(i), text.begin() + static_cast<std::ptrdiff_t>(i) + units);
        i += static_cast<size_t>(units);
        char buffer[8];
        BOOL replaced = FALSE;
        const int length = ::WideCharToMultiByte(kGbk, 0, unit.data(), units, buffer, sizeof buffer, "?", &replaced);
        if (length <= 0 || replaced)
            bytes += '?';
        else
            bytes.append(buffer, static_cast<size_t>(length));
    }
    return bytes;
}

bool Win32Files::CanWriteInFolder(const std::u16string& folder)
{
    std::wstring probe = Wide(folder);
    if (!probe.empty() && probe.back() != L'\\')
        probe += L'\\';
    probe += L".perennix-write-" + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
    const HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(file);
    return true;
}

std::u16string Win32Files::PerUserFolder()
{
    const DWORD size = ::GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
    if (size == 0)
        return {};
    std::wstring appData(size, L'\0');
    appData.resize(::GetEnvironmentVariableW(L"APPDATA", appData.data(), size));
    if (appData.empty())
        return {};
    if (appData.back() != L'\\')
        appData += L'\\';
    appData += L"Perennix";
    return std::u16string(appData.begin(), appData.end());
}

FolderState Win32Files::MakePrivateFolder(const std::u16string& folder)
{
    const std::wstring path = Wide(folder);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FolderState::Ready : FolderState::NotAFolder;
    if (!::CreateDirectoryW(path.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        LogOsFailure("CreateDirectoryW", path, ::GetLastError());
        return FolderState::Failed;
    }
    return FolderState::Ready;
}
