#pragma once
// The file service on Linux: POSIX files (a temporary file renamed over the old one for an
// atomic replacement) and iconv's CP936 for the legacy code page.

#include "platform/Files.h"

class PosixFiles : public Files {
public:
    std::optional<std::string> ReadWholeFile(const std::u16string& path) override;
    bool PathExists(const std::u16string& path) override;
    // A temporary file in the same folder, flushed to disk, then renamed over the old one; a
    // symbolic link is followed, so a linked file is updated where it lives.
    bool WriteFileAtomically(const std::u16string& path, std::string_view bytes) override;
    bool CanOpenFileForReading(const std::u16string& path) override;
    std::optional<std::u16string> DecodeAnsiCodePage(std::string_view bytes) override;
    std::string EncodeGbk(std::u16string_view text) override;
};
