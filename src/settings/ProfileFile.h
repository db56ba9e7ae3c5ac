#pragma once
// The INI profile file, read the way the Win32 profile functions read it and written so that
// every line the program does not set keeps its bytes, on every platform.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Files.h"
#include "settings/ProfileEncoding.h"

namespace px {

// A settings file read once: looks up any number of keys, sets keys, and gives the bytes of
// the file with them set. Parsing reads no file: ansi (which must outlive the object) is the
// legacy code page for files stored in it, and newEncoding how the system stores a new file
// (Files::NewFileEncoding); where that is the code page, a file of ASCII alone is in it.
class ParsedProfile {
public:
    static ParsedProfile Parse(
        std::string bytes, const AnsiCodePage& ansi, NewTextEncoding newEncoding = NewTextEncoding::Utf8);

    ProfileEncoding Encoding() const { return m_encoding; }

    // The value of key in the first section named section, as the Windows profile functions
    // find it: lines end at LF, CR LF, CR CR LF or a lone CR; names match ignoring ASCII case;
    // space, tab, VT, FF and ^Z around names and values are trimmed; a NUL in the
    // file ends a name or a value (a NUL the program wrote into a UTF-8 file is escaped and
    // belongs to its value); the first key of that name wins. nullopt when the section, the
    // key or its '=' is missing.
    std::optional<std::u16string> Find(std::u16string_view section, std::u16string_view key) const;
    // As GetPrivateProfileStringW, except that enclosing quotes are kept and the value is
    // whole, never cut to a buffer: the value, or def when there is none.
    std::u16string GetString(std::u16string_view section, std::u16string_view key, std::u16string_view def) const;
    // As GetPrivateProfileIntW: def when the value is missing or empty once one pair of
    // enclosing quotes is stripped; else control characters and blanks skipped, an optional
    // sign, "0x", "0o" or "0b" for base 16, 8 or 2, and the digits up to the first other
    // character (0 when there are none). Saturates at the 32-bit range instead of wrapping.
    int32_t GetInt(std::u16string_view section, std::u16string_view key, int32_t def) const;

    // Sets key in section to value as WritePrivateProfileStringW does: the line of the key
    // that Find finds is written anew (its name as spelt there), or a line is added after
    // the section's last line that is not blank, or the section is added at the end. A key
    // that already holds value keeps its line.
    void Set(std::u16string_view section, std::u16string_view key, std::u16string_view value);

    // The file with every Set applied. Lines the program did not write keep their bytes and
    // line ends; written lines end like the file's first line (CR LF in a new file). The
    // file keeps its encoding while that can hold every value written on one line and reads
    // back in it; a UTF-8 or UTF-16LE file that would not gets its BOM. Any other file becomes
    // one the system reads as written, its lines' text kept: UTF-16LE with a BOM where new
    // files are the code page's, else (or when a value holds CR, LF or NUL) UTF-8 with a BOM.
    // A new file is written as the system stores new files. UTF-8 carries CR, LF and NUL in a
    // value as C0 8D, C0 8A and C0 80.
    std::string Bytes() const;

private:
    enum class LineEnd : uint8_t { None, Lf, CrLf, Cr, CrCrLf };
    enum class LineKind : uint8_t { Blank, Section, Key };
    struct Line {
        size_t begin = 0;  // the bytes of its content in m_bytes, line end excluded
        size_t size = 0;
        LineEnd end = LineEnd::None;
        LineKind kind = LineKind::Blank;
        uint32_t nameHash = 0;  // of a section's or key's name, letter case folded
        int32_t written = -1;  // its text in m_written once the program wrote it
    };
    // A line's text, and where in it a NUL of the file stands.
    struct LineText {
        std::u16string text;
        std::vector<size_t> fileNuls;
    };
    struct Location {
        std::optional<size_t> section;
        std::optional<size_t> key;
        size_t lastOfSection = 0;  // the section's last line that is not blank
    };

    ParsedProfile(std::string bytes, const AnsiCodePage& ansi, NewTextEncoding newEncoding);
    void SplitLines();
    void Classify(Line& line) const;
    LineText TextOf(const Line& line) const;
    Location Locate(std::u16string_view section, std::u16string_view key) const;
    std::optional<std::string> Serialize(ProfileEncoding target) const;
    std::optional<std::string> EncodeWritten(std::u16string_view text, ProfileEncoding target) const;
    std::optional<std::string> ConvertLine(const Line& line, ProfileEncoding target) const;
    bool EndsInLoneLeadByte(const Line& line) const;
    // The end of a written line before line next: a lone CR followed by the LF of an empty
    // line would read as one CR LF and lose that line, so it ends like that line instead.
    LineEnd EndBefore(size_t next, LineEnd end) const;

    std::string m_bytes;
    const AnsiCodePage* m_ansi;
    NewTextEncoding m_newEncoding;
    ProfileEncoding m_encoding;
    size_t m_textBegin = 0;  // after the BOM
    size_t m_textEnd = 0;  // before a cut last byte of a UTF-16 file
    std::vector<Line> m_lines;
    std::vector<std::u16string> m_written;
    LineEnd m_newline = LineEnd::CrLf;
};

// The settings file at path, read once; a file that is missing or cannot be read is empty.
ParsedProfile LoadProfile(const std::u16string& path);

// Sets key in section to value, keeping every other line of the file byte for byte; creates
// the file, the section and the key as needed. False when the file could not be written
// (it is then unchanged).
bool WriteProfileString(
    const std::u16string& path, const std::u16string& section, const std::u16string& key, const std::u16string& value);
// A key that a file without it does without while its value is the default: written when
// the value differs from the default or the file has the key already.
struct OptionalKey {
    std::u16string key;
    std::u16string value;
    std::u16string defaultValue;
};

// Sets several keys of section in one replacement of the file, in the given order, as the
// same calls one by one would, then the optional keys that are due; either all of them are
// written or none.
bool WriteProfileStrings(const std::u16string& path, const std::u16string& section,
    const std::vector<std::pair<std::u16string, std::u16string>>& keyValues,
    const std::vector<OptionalKey>& optionalKeys = {});

}  // namespace px
