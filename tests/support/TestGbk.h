#pragma once
// A stand-in for the system's GBK code page in the portable tests: ASCII, and the few
// Chinese characters the tests' settings files use, as their fixed GBK bytes.

#include <optional>
#include <string>
#include <string_view>
#include <utility>

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
    {"\xBE\xAF", u'警'},
    {"\xB8\xE6", u'告'},
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

// GBK bytes of text for the characters of that table; "?" for any other.
inline std::string EncodeTestGbk(std::u16string_view text)
{
    std::string bytes;
    for (const char16_t unit : text) {
        if (unit < 0x80) {
            bytes += static_cast<char>(unit);
            continue;
        }
        std::string_view gbk = "?";
        for (const auto& [code, known] : kTestGbk)
            if (known == unit)
                gbk = code;
        bytes += gbk;
    }
    return bytes;
}

}  // namespace testsupport
