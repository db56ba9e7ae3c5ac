#include "platform/MemoryFiles.h"

const std::string* MemoryFiles::Find(const std::u16string& path) const
{
    const auto it = m_files.find(path);
    return it == m_files.end() ? nullptr : &it->second;
}

std::optional<std::string> MemoryFiles::ReadWholeFile(const std::u16string& path)
{
    ++reads;
    const std::string* bytes = Find(path);
    if (!bytes || unreadable.count(path))
        return std::nullopt;
    return *bytes;
}

bool MemoryFiles::PathExists(const std::u16string& path) { return Find(path) || m_folders.count(path); }

bool MemoryFiles::FolderExists(const std::u16string& path) const
{
    const size_t separator = path.find_last_of(u"/\\");
    return separator == std::u16string::npos || m_folders.count(path.substr(0, separator)) != 0;
}

bool MemoryFiles::WriteFileAtomically(const std::u16string& path, std::string_view bytes)
{
    if (path.empty() || diskFull || unwritable.count(path) || m_folders.count(path) || !FolderExists(path))
        return false;
    m_files[path] = std::string(bytes);
    ++writes;
    return true;
}

bool MemoryFiles::CanOpenFileForReading(const std::u16string& path) { return Find(path) && !unreadable.count(path); }

std::optional<std::u16string> MemoryFiles::DecodeAnsiCodePage(std::string_view bytes)
{
    if (ansiDecoder)
        return ansiDecoder(bytes);
    std::u16string text;
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return std::nullopt;
        text += static_cast<char16_t>(c);
    }
    return text;
}

std::string MemoryFiles::EncodeGbk(std::u16string_view text)
{
    if (gbkEncoder)
        return gbkEncoder(text);
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        // A surrogate pair is one character: one "?".
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            ++i;
        bytes += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return bytes;
}
