#pragma once
// A private folder for one test, removed with everything in it afterwards, and small file
// helpers for tests.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "PlatformPath.h"
#include "base/Paths.h"
#include "base/Unicode.h"

namespace testsupport {

class TempDir {
public:
    TempDir()
    {
        // Never below a path holding "exe" or "EXE": the launch rule looks for them in
        // program paths the tests make here.
        std::filesystem::path base = std::filesystem::temp_directory_path();
        const std::u16string baseText = base.u16string();
        if (baseText.find(u"exe") != std::u16string::npos || baseText.find(u"EXE") != std::u16string::npos)
            base = "/tmp";
        std::random_device random;
        for (;;) {
            m_path = base / ("perennix-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(m_path))
                break;
        }
        // Only the platform's own separator in the path text the program is given.
        m_path.make_preferred();
    }
    ~TempDir()
    {
        std::error_code ignored;
        // A test may have taken permissions away: give them back so everything can go.
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, ignored);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_path, ignored))
            if (entry.is_directory(ignored) && !entry.is_symlink(ignored))
                std::filesystem::permissions(
                    entry.path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // The folder, and name inside it (UTF-8, "/" between folders), as the program's UTF-16
    // path text. Built from UTF-16 on every platform: a narrow path on Windows would read
    // the UTF-8 bytes in the ANSI code page.
    std::u16string Text() const { return m_path.u16string(); }
    std::u16string File(const std::string& name) const
    {
        return Text() + px::kPathSeparator + PlatformPath(px::FromUtf8(name));
    }
    // name inside the folder as UTF-8 text (the native path text on POSIX systems).
    std::string operator/(const std::string& name) const { return px::ToUtf8(File(name)); }

private:
    std::filesystem::path m_path;
};

// The program's UTF-16 path text as a file system path: the standard library converts it
// (to UTF-8 on POSIX systems, not at all on Windows).
inline std::filesystem::path NativePath(const std::u16string& path) { return std::filesystem::path(path); }

inline std::string ReadBytes(const std::u16string& path)
{
    std::ifstream in(NativePath(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::u16string& path, const std::string& bytes)
{
    std::ofstream out(NativePath(path), std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The bytes of UTF-8 text given as a u8 literal.
inline std::string U8(std::u8string_view text) { return std::string(text.begin(), text.end()); }

// text as UTF-16 bytes, little- or big-endian, with or without its BOM.
inline std::string Utf16Bytes(std::u16string_view text, bool bigEndian = false, bool bom = true)
{
    std::string bytes;
    if (bom)
        bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : text) {
        const char lo = static_cast<char>(unit & 0xFF);
        const char hi = static_cast<char>(unit >> 8);
        bytes += bigEndian ? hi : lo;
        bytes += bigEndian ? lo : hi;
    }
    return bytes;
}

}  // namespace testsupport
