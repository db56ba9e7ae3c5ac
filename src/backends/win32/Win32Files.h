#pragma once
// The file service on Windows: files opened with CreateFileW, written through to the disk
// into a temporary file that then takes the old one's place (see Replacement; MoveFileExW for
// a new file), the ANSI code page (Win32CodePage.h), and GBK through WideCharToMultiByte.

#include "backends/win32/Win32CodePage.h"
#include "platform/Files.h"

class Win32Files : public Files {
public:
    // How a save puts the new file in the place of an existing one. Either way the old file's
    // attributes are given to the new one first.
    enum class Replacement {
        // ReplaceFileW where it swaps the files in one step (Windows); a rename where it does
        // not (Wine, whose ReplaceFileW deletes the old file before it renames the new one in,
        // so a kill between the two leaves no file at all, and keeps nothing a rename does not).
        Automatic,
        // ReplaceFileW, which keeps the old file's security too. When it fails having taken
        // the old file away (ERROR_UNABLE_TO_MOVE_REPLACEMENT: deleted it;
        // ERROR_UNABLE_TO_MOVE_REPLACEMENT_2: renamed it), as it does while a scanner holds
        // the new file, the new file is renamed in; if that fails too, the temporary file is
        // kept, since it holds the only copy, and the save fails.
        Replace,
        // MoveFileExW over the old file: a single rename, which the reader sees whole.
        Rename,
    };

    explicit Win32Files(Replacement replacement = Replacement::Automatic);

    std::optional<std::string> ReadWholeFile(const std::u16string& path) override;
    bool PathExists(const std::u16string& path) override;
    // A file made and deleted in the folder: Windows' access checks answer only by trying.
    bool CanWriteInFolder(const std::u16string& folder) override;
    // %APPDATA%\Perennix.
    std::u16string PerUserFolder() override;
    // New folders take the user profile's permissions, which are this user's alone.
    FolderState MakePrivateFolder(const std::u16string& folder) override;
    bool WriteFileAtomically(const std::u16string& path, std::string_view bytes) override;
    bool CanOpenFileForReading(const std::u16string& path) override;
    // Opened with FILE_FLAG_OPEN_REPARSE_POINT, so a symbolic link or junction is opened
    // itself and refused by its attributes, never followed; emptied through the same handle;
    // each write goes to the end of the file as a file stream in append mode does it.
    std::unique_ptr<AppendFile> OpenRunLog(const std::u16string& path) override;
    const AnsiCodePage& LegacyCodePage() override { return m_ansi; }
    // As the profile functions read it back: the ANSI code page, else UTF-16LE with a BOM.
    NewTextEncoding NewFileEncoding() override { return NewTextEncoding::AnsiElseUtf16Le; }
    // WideCharToMultiByte with code page 936, whatever the system's code page.
    std::string EncodeGbk(std::u16string_view text) override;

protected:
    // ReplaceFileW(replaced, replacement) without a backup file; false, with the last error
    // set, when it failed. The tests put failures in its place that Wine's never gives.
    virtual bool ReplaceWithTemporary(const std::wstring& replaced, const std::wstring& replacement);

private:
    bool m_replaceFile;
    Win32AnsiCodePage m_ansi;
};
