#pragma once
// The file service: what the program needs of files and of the system's legacy code page.
// One per process, chosen at start-up like the system services: the platform's own, or the
// in-memory files of the tests.

#include <optional>
#include <string>
#include <string_view>

class Files {
public:
    virtual ~Files() = default;

    // The whole file as bytes; nullopt when it cannot be opened or read (a folder, a pipe,
    // a missing file).
    virtual std::optional<std::string> ReadWholeFile(const std::u16string& path) = 0;
    // Something (a file, a folder, a dangling link) exists at path. Tells a missing file from
    // one that exists but cannot be read, which must not be replaced as if it were new.
    virtual bool PathExists(const std::u16string& path) = 0;
    // Replaces (or creates) path with exactly bytes. The file is replaced whole or not at all:
    // a reader, also one after a crash or a power loss, finds the old bytes or the new ones,
    // never a mix. A new file is private to its owner; an existing file keeps its permissions
    // (and its owner, where the system lets the program keep it). False when anything failed;
    // the old file is then untouched.
    virtual bool WriteFileAtomically(const std::u16string& path, std::string_view bytes) = 0;
    // path names something that opens for reading as a file would (not a folder).
    virtual bool CanOpenFileForReading(const std::u16string& path) = 0;
    // Decodes bytes from the system's legacy ANSI code page (GBK, code page 936, on a Chinese
    // system); nullopt when they are not valid in it.
    virtual std::optional<std::u16string> DecodeAnsiCodePage(std::string_view bytes) = 0;
    // text as GBK bytes (code page 936, whatever the system's code page), the run log's
    // encoding; a character GBK cannot hold becomes "?".
    virtual std::string EncodeGbk(std::u16string_view text) = 0;
};

// The process's file service (aborts when none is installed: every entry point installs one).
Files& GetFiles();
void SetFiles(Files* files);
