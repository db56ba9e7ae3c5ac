#pragma once
// A stand-in for the system's GBK code page in the portable tests: ASCII, and the few
// Chinese characters the tests' settings files use, as their fixed GBK bytes.

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Files.h"

namespace testsupport {

inline constexpr std::pair<std::string_view, char16_t> kTestGbk[] = {
    {"\xD6\xD0", u'中'},
    {"\xCE\xC4", u'文'},
    {"\xB3\xCC", u'程'},
    {"\xD0\xF2", u'序'},
    {"\xC2\xB7", u'路'},
    {"\xBE\xB6", u'径'},
    {"\xC4\xBF", u'目'},
    {"\xC2\xBC", u'录'},
    // Their GBK bytes happen to be well-formed UTF-8 too (U+02B5, U+02B1, U+03F5, U+0373).
    {"\xCA\xB5", u'实'},
    {"\xCA\xB1", u'时'},
    {"\xCF\xB5", u'系'},
    {"\xCD\xB3", u'统'},
};

// nullopt for any byte sequence outside that table, as a decoder refuses invalid input.
inline std::optional<std::u16string> DecodeTestGbk(std::string_view bytes)
{
    std::u16string text;
    for (size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            text += static_cast<char16_t>(bytes[i++]);
            continue;
        }
        bool known = false;
        for (const auto& [gbk, unit] : kTestGbk) {
            if (bytes.substr(i, 2) == gbk) {
                text += unit;
                i += 2;
                known = true;
                break;
            }
        }
        if (!known)
            return std::nullopt;
    }
    return text;
}

}  // namespace testsupport

namespace testsupport {

// The table above as the system's code page: every byte from 0x81 to 0xFE leads a two-byte
// character, as in GBK; pairs outside the table are characters that are not valid.
class TestGbkCodePage : public AnsiCodePage {
public:
    bool IsLeadByte(unsigned char byte) const override { return byte >= 0x81 && byte <= 0xFE; }
    std::u16string Decode(std::string_view bytes, size_t* invalid) const override
    {
        std::u16string text;
        for (size_t i = 0; i < bytes.size();) {
            const auto byte = static_cast<unsigned char>(bytes[i]);
            const bool pair = IsLeadByte(byte) && i + 1 < bytes.size() && bytes[i + 1] != '\0';
            char16_t unit = byte < 0x80 ? static_cast<char16_t>(byte) : u'?';
            if (pair) {
                for (const auto& [gbk, known] : kTestGbk)
                    if (bytes.substr(i, 2) == gbk)
                        unit = known;
            }
            if (unit == u'?' && byte != '?' && invalid)
                ++*invalid;
            text += unit;
            i += pair ? 2 : 1;
        }
        return text;
    }
    std::optional<std::string> Encode(std::u16string_view text) const override
    {
        std::string bytes;
        for (const char16_t unit : text) {
            if (unit < 0x80) {
                bytes += static_cast<char>(unit);
                continue;
            }
            bool known = false;
            for (const auto& [gbk, tableUnit] : kTestGbk) {
                if (tableUnit == unit) {
                    bytes += gbk;
                    known = true;
                    break;
                }
            }
            if (!known)
                return std::nullopt;
        }
        return bytes;
    }
};

inline const AnsiCodePage& TestGbk()
{
    static const TestGbkCodePage codePage;
    return codePage;
}

}  // namespace testsupport
