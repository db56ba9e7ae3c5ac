#include "platform/posix/PosixFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Unicode.h"
#include "platform/posix/PosixHandles.h"

using px::ToUtf8;
using px::posix::UniqueFd;

namespace {

// An iconv conversion descriptor, closed when it goes out of scope.
class IconvHandle {
public:
    IconvHandle(const char* to, const char* from)
        : m_cd(::iconv_open(to, from))
    {
    }
    ~IconvHandle()
    {
        if (Valid())
            ::iconv_close(m_cd);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;

    bool Valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return m_cd; }

private:
    iconv_t m_cd;
};

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

}  // namespace

std::optional<std::string> PosixFiles::ReadWholeFile(const std::u16string& path)
{
    const std::string name = ToUtf8(path);
    // O_NONBLOCK: a named pipe in place of the file must not hang the program.
    UniqueFd fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.Valid())
        return std::nullopt;
    struct stat st { };
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
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
    struct stat st { };
    return !path.empty() && ::lstat(ToUtf8(path).c_str(), &st) == 0;
}

bool PosixFiles::WriteFileAtomically(const std::u16string& path, std::string_view bytes)
{
    if (path.empty())
        return false;
    const std::string target = WriteTarget(ToUtf8(path));
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.empty())
        return false;

    // An existing file keeps its permissions; a new one stays as mkostemp makes it (0600).
    struct stat old { };
    const bool replacing = ::stat(target.c_str(), &old) == 0;
    if (replacing && !S_ISREG(old.st_mode))
        return false;

    std::string temp = folder + "." + base + ".XXXXXX";
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.Valid())
        return false;

    bool ok = true;
    if (replacing)
        ok = ::fchmod(fd.Get(), old.st_mode & 07777) == 0;
    ok = ok && WriteAll(fd.Get(), bytes);
    ok = ok && ::fsync(fd.Get()) == 0;
    ok = fd.Reset() && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }

    // Make the rename itself durable. Some file systems cannot sync a folder; the new file
    // is in place either way, so that is not a failed write.
    UniqueFd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid())
        ::fsync(dir.Get());
    return true;
}

bool PosixFiles::CanOpenFileForReading(const std::u16string& path)
{
    if (path.empty())
        return false;
    UniqueFd fd(::open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.Valid())
        return false;
    struct stat st { };
    return ::fstat(fd.Get(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::optional<std::u16string> PosixFiles::DecodeAnsiCodePage(std::string_view bytes)
{
    if (bytes.empty())
        return std::u16string();
    IconvHandle cd("UTF-16LE", "CP936");
    if (!cd.Valid())
        return std::nullopt;

    std::string input(bytes);
    char* in = input.data();
    size_t inLeft = input.size();
    // GBK takes one or two bytes for each UTF-16 unit, so two output bytes per input byte
    // always suffice.
    std::string output(input.size() * 2, '\0');
    char* out = output.data();
    size_t outLeft = output.size();
    if (::iconv(cd.Get(), &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1))
        return std::nullopt;
    if (::iconv(cd.Get(), nullptr, nullptr, &out, &outLeft) == static_cast<size_t>(-1))
        return std::nullopt;

    const size_t produced = output.size() - outLeft;
    std::u16string text;
    text.reserve(produced / 2);
    for (size_t i = 0; i + 1 < produced; i += 2) {
        text += static_cast<char16_t>(static_cast<uint8_t>(output[i]) | (static_cast<uint8_t>(output[i + 1]) << 8));
    }
    return text;
}

std::string PosixFiles::EncodeGbk(std::u16string_view text)
{
    std::string bytes;
    IconvHandle cd("CP936", "UTF-16LE");
    std::string input;
    input.reserve(text.size() * 2);
    for (const char16_t unit : text) {
        input += static_cast<char>(unit & 0xFF);
        input += static_cast<char>(unit >> 8);
    }
    char* in = input.data();
    size_t inLeft = input.size();
    char buffer[256];
    while (cd.Valid() && inLeft > 0) {
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        const size_t rc = ::iconv(cd.Get(), &in, &inLeft, &out, &outLeft);
        bytes.append(buffer, static_cast<size_t>(out - buffer));
        if (rc != static_cast<size_t>(-1) || errno == E2BIG)
            continue;
        // A character GBK has no code for (or a lone surrogate): one "?" in its place.
        const char16_t unit = static_cast<char16_t>(static_cast<uint8_t>(in[0]) | (static_cast<uint8_t>(in[1]) << 8));
        const bool pair = unit >= 0xD800 && unit <= 0xDBFF && inLeft >= 4;
        const size_t skip = std::min<size_t>(inLeft, pair ? 4 : 2);
        in += skip;
        inLeft -= skip;
        bytes += '?';
    }
    return bytes;
}
