#pragma once
// How the bytes of a settings file are decoded: the encodings it may be stored in, their byte
// order marks, the escapes of the program's own UTF-8 files, and which encoding given bytes are in.

#include <string_view>

#include "platform/Files.h"

namespace px {

// How the text of a settings file is stored.
enum class ProfileEncoding {
    Utf8,  // also a file of ASCII alone, and a new file
    Utf8Bom,
    Utf16Le,  // without BOM
    Utf16LeBom,
    Utf16BeBom,
    Ansi,  // the legacy code page (GBK)
};

// The encoding of a settings file's bytes. A BOM decides. Without one: UTF-16LE when an
// ASCII character and a zero byte come first and at least half of the two-byte units are
// ASCII characters. Otherwise the legacy code page, as Windows reads every file without
// BOM, unless the bytes carry what no text in that code page holds and the program's own
// files do: well-formed UTF-8 holding a character from U+0800 up (Chinese text), a C1
// control (scrambled '|', '}', '~') or an escaped CR, LF or NUL; or well-formed UTF-8 whose
// two-byte characters the code page would not all read as valid CJK characters. A file that
// is not well-formed UTF-8 is UTF-8 only when it holds at least as many such characters as
// stray bytes.
ProfileEncoding DetectProfileEncoding(std::string_view bytes, const AnsiCodePage& ansi);
// The encoding a system whose new text files are stored as newEncoding takes bytes for: as
// DetectProfileEncoding, but where new files are the code page's, ASCII alone (a new, empty file
// too) is the code page's.
ProfileEncoding DetectProfileEncodingFor(std::string_view bytes, const AnsiCodePage& ansi, NewTextEncoding newEncoding);

// UTF-8 with or without a BOM; UTF-16 in either byte order.
bool IsUtf8(ProfileEncoding encoding);
bool IsUtf16(ProfileEncoding encoding);
// The byte order mark a file of the encoding starts with; empty for those without one.
std::string_view BomOf(ProfileEncoding encoding);

// CR, LF and NUL inside a value would end its line (or the text, for other programs). In a
// UTF-8 file they are written as their overlong two-byte forms C0 8D, C0 8A and C0 80,
// which no well-formed UTF-8 holds, so they break nothing and read back as they were.
// Scrambled arguments need this: a tab becomes CR there, and U+FFFC becomes NUL.
inline constexpr unsigned char kUtf8EscapeLead = 0xC0;
// The second byte of one of those escapes (after kUtf8EscapeLead).
inline bool IsUtf8EscapeTrail(unsigned char next) { return next == 0x80 || next == 0x8A || next == 0x8D; }

}  // namespace px
