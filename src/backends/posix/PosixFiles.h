#pragma once
// The file service on Linux: POSIX files (a temporary file renamed over the old one for an
// atomic replacement) and code page 936 for the legacy code page. A path with a NUL inside
// names no file here.

#include "backends/posix/Cp936.h"
#include "platform/Files.h"

class PosixFiles : public Files {
public:
    std::optional<std::string> ReadWholeFile(const std::u16string& path) override;
    bool PathExists(const std::u16string& path) override;
    // access(W_OK | X_OK) on the folder: its owner, group and others' bits, and a read-only mount.
    bool CanWriteInFolder(const std::u16string& folder) override;
    std::u16string PerUserFolder() override;
    // New folders get mode 0700.
    FolderState MakePrivateFolder(const std::u16string& folder) override;
    // A temporary file ".NAME.XXXXXX" in the same folder, flushed to disk, then renamed over
    // the old one, whose mode, owner and group it takes as far as the process may set them.
    // A symbolic link is followed, so a linked file is updated where it lives; a hard link is
    // not (the name gets the new file). Temporary files of that name left by a write that
    // was killed are removed; one that another process is writing stays: the writer holds
    // a lock on it from its creation until it has been renamed into place.
    bool WriteFileAtomically(const std::u16string& path, std::string_view bytes) override;
    bool CanOpenFileForReading(const std::u16string& path) override;
    // Opened without following a link (O_NOFOLLOW) and without waiting for a pipe's reader
    // (O_NONBLOCK), in append mode; fstat must then find a regular file, which ftruncate
    // empties through the same descriptor.
    std::unique_ptr<AppendFile> OpenRunLog(const std::u16string& path) override;
    const AnsiCodePage& LegacyCodePage() override { return m_cp936; }
    NewTextEncoding NewFileEncoding() override { return NewTextEncoding::Utf8; }
    std::string EncodeGbk(std::u16string_view text) override;

private:
    Cp936CodePage m_cp936;
};
