#pragma once
// File services the portable code needs and the standard library does not give portably.
// Each platform back end implements these once.

#include <optional>
#include <string>
#include <string_view>

namespace px {

// The separator between a directory and a file name in this platform's paths.
extern const char16_t kPathSeparator;

// fileName in the folder of modulePath: the path cut after its last separator (nothing
// kept when it has none), then fileName.
std::u16string PathBesideModule(const std::u16string& modulePath, std::u16string_view fileName);

// The whole file as bytes; nullopt when it cannot be opened or read.
std::optional<std::string> ReadWholeFile(const std::u16string& path);

// Something (a file, a folder, a dangling link) exists at path. Tells a missing file from
// one that exists but cannot be read, which must not be replaced as if it were new.
bool PathExists(const std::u16string& path);

// Replaces (or creates) path with exactly bytes: written to a temporary file in the same
// folder, flushed to disk, then renamed over the old one, so no reader ever sees half a file.
// A new file is created readable by its owner only; an existing file keeps its mode.
// False when anything failed (the old file is then untouched).
bool WriteFileAtomically(const std::u16string& path, std::string_view bytes);

// Opens path for reading and closes it again (what _wfopen(path, L"r") would allow); a
// directory is not a readable file.
bool CanOpenFileForReading(const std::u16string& path);

// Decodes bytes from the system's legacy ANSI code page (GBK, code page 936, on Linux);
// nullopt when they are not valid in it.
std::optional<std::u16string> DecodeAnsiCodePage(std::string_view bytes);

}  // namespace px
