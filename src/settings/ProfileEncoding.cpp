#include "settings/ProfileEncoding.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>

#include "base/Unicode.h"

namespace px {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

// A text of mostly ASCII characters stored as UTF-16LE without a BOM: text in a byte
// encoding never has a zero byte right after its first character.
bool LooksLikeUtf16Le(std::string_view bytes)
{
    if (bytes.size() < 2 || bytes[0] == '\0' || bytes[1] != '\0' || static_cast<unsigned char>(bytes[0]) >= 0x80)
        return false;
    size_t units = 0;
    size_t ascii = 0;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        ++units;
        if (bytes[i + 1] == '\0' && bytes[i] != '\0' && static_cast<unsigned char>(bytes[i]) < 0x80)
            ++ascii;
    }
    return ascii * 2 >= units;
}

bool IsCjk(char16_t unit)
{
    return (unit >= 0x3000 && unit <= 0x303F) || (unit >= 0x3400 && unit <= 0x4DBF)
        || (unit >= 0x4E00 && unit <= 0x9FFF) || (unit >= 0xF900 && unit <= 0xFAFF)
        || (unit >= 0xFF00 && unit <= 0xFFEF);
}

// Every two-byte character of bytes is, in the code page, a valid CJK character.
bool CodePageReadsAsCjk(std::string_view bytes, const AnsiCodePage& ansi)
{
    for (size_t i = 0; i < bytes.size();) {
        if (!ansi.IsLeadByte(static_cast<unsigned char>(bytes[i]))) {
            if (static_cast<unsigned char>(bytes[i]) >= 0x80)
                return false;
            ++i;
            continue;
        }
        if (i + 1 >= bytes.size() || bytes[i + 1] == '\0')
            return false;
        size_t invalid = 0;
        const std::u16string text = ansi.Decode(bytes.substr(i, 2), &invalid);
        if (invalid != 0 || text.size() != 1 || !IsCjk(text[0]))
            return false;
        i += 2;
    }
    return true;
}

// What a scan of bytes as UTF-8 finds: stray bytes, characters no code page text holds
// (from U+0800 up, C1 controls, the escapes of CR, LF and NUL), and other two-byte ones.
struct Utf8Evidence {
    size_t stray = 0;
    size_t strong = 0;
    size_t twoByte = 0;
};

Utf8Evidence ScanUtf8(std::string_view bytes)
{
    Utf8Evidence found;
    for (size_t pos = 0; pos < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[pos]);
        if (lead < 0x80) {
            ++pos;
            continue;
        }
        if (lead == kUtf8EscapeLead && pos + 1 < bytes.size()
            && IsUtf8EscapeTrail(static_cast<unsigned char>(bytes[pos + 1]))) {
            ++found.strong;
            pos += 2;
            continue;
        }
        size_t length = 0;
        if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = 3;
        else if (lead >= 0xF0 && lead <= 0xF4)
            length = 4;
        const std::optional<std::u16string> decoded = length != 0 && pos + length <= bytes.size()
            ? DecodeUtf8Strict(bytes.substr(pos, length), true)
            : std::nullopt;
        if (!decoded) {
            ++found.stray;
            ++pos;
            continue;
        }
        const bool c1Control = length == 2 && (*decoded)[0] < 0xA0;
        ++(length > 2 || c1Control ? found.strong : found.twoByte);
        pos += length;
    }
    return found;
}

}  // namespace

bool IsUtf16(ProfileEncoding encoding)
{
    return encoding == ProfileEncoding::Utf16Le || encoding == ProfileEncoding::Utf16LeBom
        || encoding == ProfileEncoding::Utf16BeBom;
}
bool IsUtf8(ProfileEncoding encoding)
{
    return encoding == ProfileEncoding::Utf8 || encoding == ProfileEncoding::Utf8Bom;
}

std::string_view BomOf(ProfileEncoding encoding)
{
    switch (encoding) {
    case ProfileEncoding::Utf8Bom:
        return kUtf8Bom;
    case ProfileEncoding::Utf16LeBom:
        return kUtf16LeBom;
    case ProfileEncoding::Utf16BeBom:
        return kUtf16BeBom;
    default:
        return {};
    }
}

ProfileEncoding DetectProfileEncoding(std::string_view bytes, const AnsiCodePage& ansi)
{
    if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom)
        return ProfileEncoding::Utf8Bom;
    if (bytes.substr(0, 2) == kUtf16LeBom)
        return ProfileEncoding::Utf16LeBom;
    if (bytes.substr(0, 2) == kUtf16BeBom)
        return ProfileEncoding::Utf16BeBom;
    if (LooksLikeUtf16Le(bytes))
        return ProfileEncoding::Utf16Le;
    const Utf8Evidence utf8 = ScanUtf8(bytes);
    if (utf8.stray != 0)
        return utf8.strong >= utf8.stray ? ProfileEncoding::Utf8 : ProfileEncoding::Ansi;
    if (utf8.strong != 0 || utf8.twoByte == 0 || !CodePageReadsAsCjk(bytes, ansi))
        return ProfileEncoding::Utf8;
    return ProfileEncoding::Ansi;
}

ProfileEncoding DetectProfileEncodingFor(std::string_view bytes, const AnsiCodePage& ansi, NewTextEncoding newEncoding)
{
    const ProfileEncoding detected = DetectProfileEncoding(bytes, ansi);
    // ASCII reads the same in every byte encoding. Where the system's own readers take a file
    // without BOM for the code page's, such a file (a new, empty one too) is the code page's,
    // and a value it is given is written there.
    if (newEncoding != NewTextEncoding::AnsiElseUtf16Le || detected != ProfileEncoding::Utf8)
        return detected;
    const bool ascii
        = std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii ? ProfileEncoding::Ansi : detected;
}

}  // namespace px
