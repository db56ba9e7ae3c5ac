#pragma once
// The file service: what the program needs of files and of the system's legacy code page.
// One per process, chosen at start-up like the system services: the platform's own, or the
// in-memory files of the tests.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The system's legacy ANSI code page (GBK, code page 936, on a Chinese system), converted the
// way the Windows conversion functions do it.
class AnsiCodePage {
public:
    virtual ~AnsiCodePage() = default;

    // byte begins a two-byte character: with the byte after it (unless that is NUL or there
    // is none) it forms one character, valid or not, even when the second byte is a line end.
    virtual bool IsLeadByte(unsigned char byte) const = 0;
    // Decodes character by character; a character that is not valid becomes '?' alone and
    // is counted in *invalid (when given). Every character gives exactly one UTF-16 unit.
    virtual std::u16string Decode(std::string_view bytes, size_t* invalid = nullptr) const = 0;
    // The bytes of text; nullopt when a unit has no form that decodes back to it.
    virtual std::optional<std::string> Encode(std::u16string_view text) const = 0;
};

// How the program stores a text file it writes anew, or one whose own encoding cannot hold
// what is written, so that the system's own readers take the text as written.
enum class NewTextEncoding {
    Utf8,  // UTF-8, which Linux programs read
    // The legacy ANSI code page while it holds the text, else UTF-16LE with a BOM: the two
    // encodings the Windows profile functions (GetPrivateProfileStringW) read as written.
    AnsiElseUtf16Le,
};

// A file open for appending, as the run log is written: each write lands at the file's end
// as it is at that moment, also after another program cut the file short.
class AppendFile {
public:
    virtual ~AppendFile() = default;
    // Writes bytes at the end of the file; false when they could not all be written.
    virtual bool Append(std::string_view bytes) = 0;
};

// What became of a folder the program wants to keep its files in.
enum class FolderState {
    Ready,  // a folder (made now, private to this user, or there already)
    NotAFolder,  // something else (a file) is in its place
    Failed,  // it could not be made (the failure is on standard error)
};

class Files {
public:
    virtual ~Files() = default;

    // This user can create and replace files in folder. A file service without real folders
    // (the tests' in-memory one) can write everywhere.
    virtual bool CanWriteInFolder(const std::u16string& folder);
    // The folder a copy of the program keeps its files in when it cannot keep them beside
    // itself: Linux $XDG_CONFIG_HOME/perennix (else ~/.config/perennix), Windows
    // %APPDATA%\Perennix; empty when the environment names none.
    virtual std::u16string PerUserFolder();
    // Makes folder, and any missing folder above it, private to this user where it is new.
    virtual FolderState MakePrivateFolder(const std::u16string& folder);

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
    // the old file is then untouched, unless the system took it away midway and the new file
    // could not take its place either: the new bytes then stay in a temporary file beside it.
    virtual bool WriteFileAtomically(const std::u16string& path, std::string_view bytes) = 0;
    // path names something that opens for reading as a file would (not a folder); never a
    // path with a NUL inside, which no system call could open as given.
    virtual bool CanOpenFileForReading(const std::u16string& path) = 0;
    // Opens path as the run log: a regular file, created when missing, emptied, and written
    // only at its end. Anything else at path is refused and left as it is: a symbolic link (whose
    // target would be emptied and written, wherever it lies), a named pipe (which would hold
    // the program until a reader came), a device or a folder. nullptr when refused or when
    // the file cannot be opened.
    virtual std::unique_ptr<AppendFile> OpenRunLog(const std::u16string& path) = 0;
    // The system's legacy ANSI code page; it lives as long as the file service.
    virtual const AnsiCodePage& LegacyCodePage() = 0;
    // How a text file is stored when it is new, or when its own encoding cannot hold it.
    virtual NewTextEncoding NewFileEncoding() = 0;
    // text as GBK bytes (code page 936, whatever the system's code page), the run log's
    // encoding; a character GBK cannot hold becomes "?".
    virtual std::string EncodeGbk(std::u16string_view text) = 0;
};

// The process's file service (aborts when none is installed: every entry point installs one).
Files& GetFiles();
void SetFiles(Files* files);
