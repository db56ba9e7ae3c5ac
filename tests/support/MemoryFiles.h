#pragma once
// Files that live in memory: the file service of the portable tests, with switches for the
// failures a disk can have.

#include <functional>
#include <map>
#include <set>
#include <string>

#include "platform/Files.h"

class MemoryFiles : public Files {
public:
    // The bytes of a file; nullptr when there is none.
    const std::string* Find(const std::u16string& path) const;
    void Put(const std::u16string& path, std::string bytes) { m_files[path] = std::move(bytes); }
    // Adds bytes at the end of the file (creating it).
    void PutAtEnd(const std::u16string& path, std::string_view bytes) { m_files[path] += bytes; }
    void Remove(const std::u16string& path) { m_files.erase(path); }
    // A file can be written only into a folder that exists (a path without a separator is
    // in the current folder, which always does).
    void AddFolder(const std::u16string& path) { m_folders.insert(path); }

    // Failures: files that exist but cannot be read, and paths whose writes fail.
    std::set<std::u16string> unreadable;
    std::set<std::u16string> unwritable;
    bool diskFull = false;  // every write fails
    // Folders this user may not write in (named without a final separator), and the per-user
    // folder the service names (empty: none).
    std::set<std::u16string> readOnlyFolders;
    std::u16string perUserFolder;
    // The legacy code page; by default one that holds ASCII alone.
    const AnsiCodePage* codePage = &AsciiCodePage();
    // Encodes GBK; unset: ASCII alone, "?" for everything else.
    std::function<std::string(std::u16string_view)> gbkEncoder;
    // How new files are stored; by default as on Linux.
    NewTextEncoding newFileEncoding = NewTextEncoding::Utf8;
    int reads = 0;  // whole-file reads made
    int writes = 0;  // successful replacements

    std::optional<std::string> ReadWholeFile(const std::u16string& path) override;
    bool PathExists(const std::u16string& path) override;
    bool WriteFileAtomically(const std::u16string& path, std::string_view bytes) override;
    bool CanOpenFileForReading(const std::u16string& path) override;
    bool CanWriteInFolder(const std::u16string& folder) override;
    std::u16string PerUserFolder() override { return perUserFolder; }
    // A file at the path is no folder; otherwise the folder now exists.
    FolderState MakePrivateFolder(const std::u16string& folder) override;
    // The file's bytes as the log writes them; refused into a folder that is not there, at a
    // path in unwritable, and for a folder.
    std::unique_ptr<AppendFile> OpenRunLog(const std::u16string& path) override;
    const AnsiCodePage& LegacyCodePage() override { return *codePage; }
    NewTextEncoding NewFileEncoding() override { return newFileEncoding; }
    std::string EncodeGbk(std::u16string_view text) override;

    // A code page of ASCII alone: every other byte is a character of its own, not valid.
    static const AnsiCodePage& AsciiCodePage();

private:
    bool FolderExists(const std::u16string& path) const;

    std::map<std::u16string, std::string> m_files;
    std::set<std::u16string> m_folders;
};
