#include "backends/posix/PosixFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "backends/posix/OsFailure.h"
#include "backends/posix/PosixHandles.h"
#include "base/Unicode.h"

using px::ToUtf8;
using px::posix::LogOsFailure;
using px::posix::UniqueFd;

namespace {

// False (errno set) when a write failed.
bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// The file a write to path lands in: a symbolic link is followed, so that a linked
// config.ini is updated where it lives instead of being replaced by a plain file.
std::string WriteTarget(const std::string& path)
{
    struct stat st { };
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            std::string target(resolved);
            std::free(resolved);
            return target;
        }
    }
    return path;
}

// The system's name for path; nullopt for a path that no system call could take whole.
std::optional<std::string> NativeName(const std::u16string& path)
{
    if (path.empty() || path.find(u'\0') != std::u16string::npos)
        return std::nullopt;
    return ToUtf8(path);
}

// The name of a temporary file of base: "." + base + "." and the six letters and digits
// mkostemp puts in place of "XXXXXX".
bool IsTemporaryOf(std::string_view name, std::string_view base)
{
    constexpr size_t kRandom = 6;
    if (name.size() != base.size() + 2 + kRandom || name[0] != '.' || name.substr(1, base.size()) != base
        || name[base.size() + 1] != '.')
        return false;
    for (const char c : name.substr(base.size() + 2)) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum)
            return false;
    }
    return true;
}

// Removes the temporary files of base in folder that a killed write left behind. A write
// holds a lock on its temporary file from just after creating it, so a file that can be
// locked belongs to no write any more.
// A folder that is not there fails the write that follows, which says so: only the other
// failures are logged here. A temporary file another process removed meanwhile, one that is
// no plain file (O_NOFOLLOW refuses a link) and one a write holds are no failures either.
void RemoveStaleTemporaries(const std::string& folder, const std::string& base)
{
    const char* const folderName = folder.empty() ? "." : folder.c_str();
    UniqueFd dirFd(::open(folderName, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd.Valid()) {
        if (errno != ENOENT && errno != ENOTDIR)
            LogOsFailure("open", folderName, errno);
        return;
    }
    DIR* dir = ::fdopendir(::dup(dirFd.Get()));
    if (!dir) {
        LogOsFailure("fdopendir", folderName, errno);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsTemporaryOf(entry->d_name, base))
            continue;
        const std::string name = folder + entry->d_name;
        UniqueFd fd(::openat(dirFd.Get(), entry->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
        if (!fd.Valid()) {
            if (errno != ENOENT && errno != ELOOP)
                LogOsFailure("openat", name, errno);
            continue;
        }
        struct stat st { };
        if (::fstat(fd.Get(), &st) != 0) {
            LogOsFailure("fstat", name, errno);
            continue;
        }
        if (!S_ISREG(st.st_mode))
            continue;
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK)
                LogOsFailure("flock", name, errno);
            continue;
        }
        if (::unlinkat(dirFd.Get(), entry->d_name, 0) != 0 && errno != ENOENT)
            LogOsFailure("unlinkat", name, errno);
    }
    ::closedir(dir);
}

// Creates and locks a new temporary file of base in folder; its name goes to temp.
UniqueFd CreateTemporary(const std::string& folder, const std::string& base, std::string& temp)
{
    // Another process clearing stale files may remove the new file before it is locked:
    // then the next one is made.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::string pattern = folder + "." + base + ".XXXXXX";
        temp = pattern;
        UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
        if (!fd.Valid()) {
            LogOsFailure("mkostemp", pattern, errno);
            return fd;
        }
        if (::flock(fd.Get(), LOCK_EX) != 0) {
            LogOsFailure("flock", temp, errno);
            continue;
        }
        struct stat st { };
        if (::fstat(fd.Get(), &st) != 0) {
            LogOsFailure("fstat", temp, errno);
            continue;
        }
        if (st.st_nlink > 0)
            return fd;
    }
    return UniqueFd(-1);
}

}  // namespace

std::optional<std::string> PosixFiles::ReadWholeFile(const std::u16string& path)
{
    const std::optional<std::string> native = NativeName(path);
    if (!native)
        return std::nullopt;
    const std::string& name = *native;
    // O_NONBLOCK: a named pipe in place of the file must not hang the program.
    UniqueFd fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.Valid()) {
        // A file that is not there reads as nothing, as it should.
        if (errno != ENOENT)
            LogOsFailure("open", name, errno);
        return std::nullopt;
    }
    struct stat st { };
    if (::fstat(fd.Get(), &st) != 0) {
        LogOsFailure("fstat", name, errno);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode))
        return std::nullopt;

    std::string bytes;
    if (st.st_size > 0)
        bytes.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            LogOsFailure("read", name, errno);
            return std::nullopt;
        }
        if (n == 0)
            break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

bool PosixFiles::PathExists(const std::u16string& path)
{
    const std::optional<std::string> native = NativeName(path);
    if (!native)
        return false;
    struct stat st { };
    if (::lstat(native->c_str(), &st) == 0)
        return true;
    // Only "not there" answers the question; a path that cannot be looked at answers nothing.
    if (errno != ENOENT && errno != ENOTDIR)
        LogOsFailure("lstat", *native, errno);
    return false;
}

bool PosixFiles::WriteFileAtomically(const std::u16string& path, std::string_view bytes)
{
    const std::optional<std::string> native = NativeName(path);
    if (!native)
        return false;
    const std::string target = WriteTarget(*native);
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.empty())
        return false;

    // An existing file keeps its permissions; a new one stays as mkostemp makes it (0600).
    struct stat old { };
    const bool replacing = ::stat(target.c_str(), &old) == 0;
    if (!replacing && errno != ENOENT)
        LogOsFailure("stat", target, errno);
    if (replacing && !S_ISREG(old.st_mode))
        return false;

    RemoveStaleTemporaries(folder, base);
    std::string temp;
    UniqueFd fd = CreateTemporary(folder, base, temp);
    if (!fd.Valid())
        return false;

    // Each step of the write, logged when it fails.
    const auto step = [&temp](bool done, const char* call) {
        if (!done)
            LogOsFailure(call, temp, errno);
        return done;
    };
    bool ok = true;
    if (replacing) {
        // The owner and group stay when the process may set them (root may; an owner may pass
        // the file to another of its groups); otherwise the file becomes the process's, which
        // is no failure. Before the mode, which a change of owner can clear.
        const bool ownerKept = ::fchown(fd.Get(), old.st_uid, old.st_gid) == 0
            || ::fchown(fd.Get(), static_cast<uid_t>(-1), old.st_gid) == 0;
        static_cast<void>(ownerKept);
        ok = step(::fchmod(fd.Get(), old.st_mode & 07777) == 0, "fchmod");
    }
    ok = ok && step(WriteAll(fd.Get(), bytes), "write");
    ok = ok && step(::fsync(fd.Get()) == 0, "fsync");
    // Renamed while still open: closing releases the lock, and another save clearing stale
    // files would then take this one for a killed save's and remove it before the rename.
    ok = ok && step(::rename(temp.c_str(), target.c_str()) == 0, "rename");
    if (!ok) {
        step(::unlink(temp.c_str()) == 0, "unlink");
        return false;
    }
    // The bytes are on the disk (fsync) and in place: a failed close loses nothing.
    step(fd.Reset(), "close");

    // Make the rename itself durable. Some file systems cannot sync a folder; the new file
    // is in place either way, so that is not a failed write.
    UniqueFd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid())
        ::fsync(dir.Get());
    return true;
}

namespace {

// The run log's descriptor; O_APPEND puts every write at the end of the file.
class PosixAppendFile : public AppendFile {
public:
    explicit PosixAppendFile(UniqueFd fd)
        : m_fd(std::move(fd))
    {
    }
    bool Append(std::string_view bytes) override { return WriteAll(m_fd.Get(), bytes); }

private:
    UniqueFd m_fd;
};

}  // namespace

std::unique_ptr<AppendFile> PosixFiles::OpenRunLog(const std::u16string& path)
{
    const std::optional<std::string> native = NativeName(path);
    if (!native)
        return nullptr;
    const std::string& name = *native;
    // A link at path fails with ELOOP, a named pipe without a reader with ENXIO and a folder
    // with EISDIR: refusals, not failures. The mode is the one a file stream gives a new file.
    UniqueFd fd(
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0666));
    if (!fd.Valid()) {
        if (errno != ELOOP && errno != ENXIO && errno != EISDIR)
            LogOsFailure("open", name, errno);
        return nullptr;
    }
    struct stat st { };
    if (::fstat(fd.Get(), &st) != 0) {
        LogOsFailure("fstat", name, errno);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode))
        return nullptr;
    if (::ftruncate(fd.Get(), 0) != 0) {
        LogOsFailure("ftruncate", name, errno);
        return nullptr;
    }
    return std::make_unique<PosixAppendFile>(std::move(fd));
}

bool PosixFiles::CanOpenFileForReading(const std::u16string& path)
{
    const std::optional<std::string> native = NativeName(path);
    if (!native)
        return false;
    UniqueFd fd(::open(native->c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.Valid())
        return false;
    struct stat st { };
    return ::fstat(fd.Get(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string PosixFiles::EncodeGbk(std::u16string_view text)
{
    // The legacy code page is GBK here; a character it has no code for is one "?".
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00
            && text[i + 1] <= 0xDFFF;
        const std::optional<std::string> encoded = pair ? std::nullopt : m_cp936.Encode(text.substr(i, 1));
        bytes += encoded.value_or("?");
        i += pair ? 1 : 0;
    }
    return bytes;
}

bool PosixFiles::CanWriteInFolder(const std::u16string& folder)
{
    const std::string path = px::ToUtf8(folder);
    struct stat st { };
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(path.c_str(), W_OK | X_OK) == 0;
}

std::u16string PosixFiles::PerUserFolder()
{
    // As the desktop's ${XDG_CONFIG_HOME:-$HOME/.config}; a relative XDG_CONFIG_HOME is to be
    // ignored, by the base directory rules.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return px::FromUtf8(std::string(config) + "/perennix");
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return px::FromUtf8(std::string(home) + "/.config/perennix");
    return {};
}

FolderState PosixFiles::MakePrivateFolder(const std::u16string& folder)
{
    const std::string path = px::ToUtf8(folder);
    struct stat st { };
    if (::stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? FolderState::Ready : FolderState::NotAFolder;
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        const FolderState parent = MakePrivateFolder(px::FromUtf8(path.substr(0, slash)));
        if (parent != FolderState::Ready)
            return parent;
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        px::posix::LogOsFailure("mkdir", path, errno);
        return FolderState::Failed;
    }
    return FolderState::Ready;
}
