#include "base/Unicode.h"

#include <cstdint>

namespace px {

namespace {

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, char32_t c)
{
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
}

struct Decoded {
    char32_t codePoint = 0;
    size_t length = 0;  // 0: the bytes at this position are not a well-formed sequence
};

// One sequence at bytes[pos]: the shortest form only, at most U+10FFFF; the three-byte
// forms of U+D800..U+DFFF only when allowSurrogates.
Decoded DecodeOne(std::string_view bytes, size_t pos, bool allowSurrogates)
{
    const auto byteAt = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
    const uint8_t lead = byteAt(pos);
    if (lead < 0x80)
        return {lead, 1};

    size_t length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
        minimum = 0x10000;
    } else {
        return {};
    }
    if (bytes.size() - pos < length)
        return {};
    for (size_t i = 1; i < length; ++i) {
        const uint8_t next = byteAt(pos + i);
        if ((next & 0xC0) != 0x80)
            return {};
        c = (c << 6) | (next & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF)
        return {};
    if (!allowSurrogates && c >= 0xD800 && c <= 0xDFFF)
        return {};
    return {c, length};
}

}  // namespace

std::string ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char32_t unit = text[i];
        if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            const char32_t low = text[i + 1];
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
            ++i;
        } else {
            // A lone surrogate takes its own three-byte form (WTF-8).
            AppendUtf8(out, unit);
        }
    }
    return out;
}

std::u16string FromUtf8(std::string_view bytes)
{
    std::u16string out;
    out.reserve(bytes.size());
    for (size_t pos = 0; pos < bytes.size();) {
        const Decoded d = DecodeOne(bytes, pos, true);
        if (d.length == 0) {
            out += static_cast<char16_t>(0xDC00 + static_cast<uint8_t>(bytes[pos]));
            ++pos;
        } else {
            AppendUtf16(out, d.codePoint);
            pos += d.length;
        }
    }
    return out;
}

std::optional<std::u16string> DecodeUtf8Strict(std::string_view bytes, bool allowSurrogates)
{
    std::u16string out;
    out.reserve(bytes.size());
    for (size_t pos = 0; pos < bytes.size();) {
        const Decoded d = DecodeOne(bytes, pos, allowSurrogates);
        if (d.length == 0)
            return std::nullopt;
        AppendUtf16(out, d.codePoint);
        pos += d.length;
    }
    return out;
}

}  // namespace px
