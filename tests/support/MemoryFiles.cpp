#include "MemoryFiles.h"

#include <memory>
#include <utility>

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

bool MemoryFiles::CanWriteInFolder(const std::u16string& folder)
{
    std::u16string name = folder;
    while (!name.empty() && (name.back() == u'/' || name.back() == u'\\'))
        name.pop_back();
    return !readOnlyFolders.count(name) && (name.empty() || m_folders.count(name) != 0);
}

FolderState MemoryFiles::MakePrivateFolder(const std::u16string& folder)
{
    if (m_files.count(folder))
        return FolderState::NotAFolder;
    m_folders.insert(folder);
    return FolderState::Ready;
}

bool MemoryFiles::WriteFileAtomically(const std::u16string& path, std::string_view bytes)
{
    const size_t separator = path.find_last_of(u"/\\");
    if (separator != std::u16string::npos && readOnlyFolders.count(path.substr(0, separator)))
        return false;
    if (path.empty() || diskFull || unwritable.count(path) || m_folders.count(path) || !FolderExists(path))
        return false;
    m_files[path] = std::string(bytes);
    ++writes;
    return true;
}

namespace {

// Appends to a file of the map: also after the test cut it short or filled it anew, at its
// end as it is then.
class MemoryAppendFile : public AppendFile {
public:
    MemoryAppendFile(MemoryFiles& files, std::u16string path)
        : m_files(files)
        , m_path(std::move(path))
    {
    }
    bool Append(std::string_view bytes) override
    {
        if (m_files.diskFull)
            return false;
        m_files.PutAtEnd(m_path, bytes);
        return true;
    }

private:
    MemoryFiles& m_files;
    std::u16string m_path;
};

}  // namespace

std::unique_ptr<AppendFile> MemoryFiles::OpenRunLog(const std::u16string& path)
{
    if (path.empty() || unwritable.count(path) || m_folders.count(path) || !FolderExists(path))
        return nullptr;
    m_files[path].clear();
    return std::make_unique<MemoryAppendFile>(*this, path);
}

bool MemoryFiles::CanOpenFileForReading(const std::u16string& path)
{
    return path.find(u'\0') == std::u16string::npos && Find(path) && !unreadable.count(path);
}

namespace {

class AsciiOnly : public AnsiCodePage {
public:
    bool IsLeadByte(unsigned char) const override { return false; }
    std::u16string Decode(std::string_view bytes, size_t* invalid) const override
    {
        std::u16string text;
        text.reserve(bytes.size());
        for (const char c : bytes) {
            const bool ascii = static_cast<unsigned char>(c) < 0x80;
            if (!ascii && invalid)
                ++*invalid;
            text += ascii ? static_cast<char16_t>(c) : u'?';
        }
        return text;
    }
    std::optional<std::string> Encode(std::u16string_view text) const override
    {
        std::string bytes;
        for (const char16_t unit : text) {
            if (unit >= 0x80)
                return std::nullopt;
            bytes += static_cast<char>(unit);
        }
        return bytes;
    }
};

}  // namespace

const AnsiCodePage& MemoryFiles::AsciiCodePage()
{
    static const AsciiOnly codePage;
    return codePage;
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
