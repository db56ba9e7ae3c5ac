#pragma once
// A private folder for one test, removed with everything in it afterwards.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "platform/Unicode.h"

namespace coretest {

class TempDir {
public:
    TempDir()
    {
        std::random_device random;
        for (;;) {
            m_path = std::filesystem::temp_directory_path() / ("perennix-core-" + std::to_string(random()));
            if (std::filesystem::create_directory(m_path))
                break;
        }
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // name inside the folder, as the program's UTF-16 path text.
    std::u16string File(const std::string& name) const { return px::FromUtf8((m_path / name).string()); }

private:
    std::filesystem::path m_path;
};

inline std::filesystem::path NativePath(const std::u16string& path) { return px::ToUtf8(path); }

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

}  // namespace coretest
