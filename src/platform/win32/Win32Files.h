#pragma once
// The file service on Windows: files opened with CreateFileW, written through to the disk
// into a temporary file that then replaces the old one (ReplaceFileW, which keeps the old
// file's attributes and security, or MoveFileExW for a new file), and the ANSI code page
// through MultiByteToWideChar; GBK through WideCharToMultiByte.

#include "platform/Files.h"

class Win32Files : public Files {
public:
    std::optional<std::string> ReadWholeFile(const std::u16string& path) override;
    bool PathExists(const std::u16string& path) override;
    bool WriteFileAtomically(const std::u16string& path, std::string_view bytes) override;
    bool CanOpenFileForReading(const std::u16string& path) override;
    std::optional<std::u16string> DecodeAnsiCodePage(std::string_view bytes) override;
    // WideCharToMultiByte with code page 936, whatever the system's code page.
    std::string EncodeGbk(std::u16string_view text) override;
};
