#pragma once
// A stand-in for the system's GBK code page in the portable tests: ASCII, and the few
// Chinese characters that the tests' settings files and the run log's fixed messages use,
// as their fixed GBK bytes.

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/Unicode.h"
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
    // The run log's fixed messages.
    {"\xB6\xD4", u'对'},
    {"\xBB\xB0", u'话'},
    {"\xBF\xF2", u'框'},
    {"\xB3\xF5", u'初'},
    {"\xCA\xBC", u'始'},
    {"\xBB\xAF", u'化'},
    {"\xCD\xEA", u'完'},
    {"\xB3\xC9", u'成'},
    {"\xA1\xA3", u'。'},
    {"\xBE\xE0", u'距'},
    {"\xC0\xEB", u'离'},
    {"\xB2\xBB", u'不'},
    {"\xD7\xE3", u'足'},
    {"\xB7\xD6", u'分'},
    {"\xD6\xD3", u'钟'},
    {"\xA3\xAC", u'，'},
    {"\xBF\xAA", u'开'},
    {"\xD1\xAD", u'循'},
    {"\xBB\xB7", u'环'},
    {"\xD7\xBC", u'准'},
    {"\xB1\xB8", u'备'},
    {"\xB4\xA5", u'触'},
    {"\xB7\xA2", u'发'},
    {"\xD6\xB4", u'执'},
    {"\xD0\xD0", u'行'},
    {"\xB9\xD8", u'关'},
    {"\xB1\xD5", u'闭'},
    // What the watchdog records of itself, and the gateway dialogs' titles.
    {"\xBE\xAF", u'警'},
    {"\xB8\xE6", u'告'},
    {"\xC3\xFC", u'命'},
    {"\xC1\xEE", u'令'},
    {"\xBD\xE2", u'解'},
    {"\xCA\xCD", u'释'},
    {"\xC6\xF7", u'器'},
    {"\xCE\xDE", u'无'},
    {"\xB7\xA8", u'法'},
    {"\xB8\xC3", u'该'},
    {"\xCA\xD8", u'守'},
    {"\xBB\xA4", u'护'},
    {"\xD3\xC3", u'用'},
    {"\xBB\xA7", u'户'},
    {"\xB2\xD9", u'操'},
    {"\xD7\xF7", u'作'},
    {"\xC8\xED", u'软'},
    {"\xBC\xFE", u'件'},
    {"\xC6\xF4", u'启'},
    {"\xB6\xAF", u'动'},
    {"\xCA\xB1", u'时'},
    {"\xD7\xD4", u'自'},
    {"\xCD\xA3", u'停'},
    {"\xD6\xB9", u'止'},
    {"\xB4\xF2", u'打'},
    {"\xCA\xA7", u'失'},
    {"\xB0\xDC", u'败'},
    {"\xCE\xB4", u'未'},
    {"\xD4\xCB", u'运'},
    {"\xD2\xD1", u'已'},
    {"\xB4\xED", u'错'},
    {"\xCE\xF3", u'误'},
    {"\xC2\xEB", u'码'},
    {"\xC8\xB7", u'确'},
    {"\xC8\xCF", u'认'},
    {"\xCD\xF8", u'网'},
    {"\xA3\xA8", u'（'},
    {"\xA3\xA9", u'）'},
    {"\xA3\xBA", u'：'},
    // How the program ended.
    {"\xCD\xCB", u'退'},
    {"\xB3\xF6", u'出'},
    {"\xB4\xB0", u'窗'},
    {"\xBF\xDA", u'口'},
    {"\xCA\xD5", u'收'},
    {"\xB5\xBD", u'到'},
    {"\xD0\xC5", u'信'},
    {"\xBA\xC5", u'号'},
    {"\xBB\xE1", u'会'},
    {"\xBD\xE1", u'结'},
    {"\xCA\xF8", u'束'},
    {"\xD3\xEB", u'与'},
    {"\xCF\xD4", u'显'},
    {"\xCA\xBE", u'示'},
    {"\xB7\xFE", u'服'},
    {"\xCE\xF1", u'务'},
    {"\xB5\xC4", u'的'},
    {"\xC1\xAC", u'连'},
    {"\xBD\xD3", u'接'},
    {"\xB6\xCF", u'断'},
    // What the guard records when the program ends.
    {"\xB1\xBB", u'被'},
    {"\xD7\xB4", u'状'},
    {"\xCC\xAC", u'态'},
    {"\xD6\xAA", u'知'},
    {"\xCD\xAC", u'同'},
    {"\xD1\xF9", u'样'},
    {"\xD3\xD6", u'又'},
    {"\xD6\xD8", u'重'},
    {"\xB8\xB4", u'复'},
    {"\xC1\xCB", u'了'},
    {"\xB4\xCE", u'次'},
    {"\xBA\xF3", u'后'},
    {"\xC3\xEB", u'秒'},
    {"\xBC\xB4", u'即'},
    {"\xB5\xC8", u'等'},
    {"\xB4\xFD", u'待'},
    {"\xB5\xDA", u'第'},
    {"\xCA\xC2", u'事'},
    {"\xD0\xB4", u'写'},
    {"\xC8\xEB", u'入'},
    {"\xD6\xB8", u'指'},
    {"\xB1\xEA", u'标'},
    // GBK bytes that happen to be well-formed UTF-8 too (with 时 above: U+02B5, U+03F5, U+0373).
    {"\xCA\xB5", u'实'},
    {"\xCF\xB5", u'系'},
    {"\xCD\xB3", u'统'},
    // The health probes' entries.
    {"\xBD\xA1", u'健'},
    {"\xBF\xB5", u'康'},
    {"\xCC\xBD", u'探'},
    {"\xB2\xE2", u'测'},
    {"\xD6\xD8", u'重'},
    {"\xC7\xEB", u'请'},
    {"\xC7\xF3", u'求'},
    {"\xD7\xEE", u'最'},
    {"\xB6\xE0", u'多'},
    {"\xB5\xC8", u'等'},
    {"\xB4\xFD", u'待'},
    {"\xC3\xEB", u'秒'},
    {"\xCA\xFD", u'数'},
    {"\xD4\xDA", u'在'},
    {"\xBC\xE4", u'间'},
    {"\xC4\xDA", u'内'},
    {"\xB1\xBB", u'被'},
    {"\xBE\xDC", u'拒'},
    {"\xBE\xF8", u'绝'},
    {"\xCA\xDC", u'受'},
    {"\xB8\xF6", u'个'},
    {"\xCF\xEC", u'响'},
    {"\xD3\xA6", u'应'},
    {"\xB4\xE6", u'存'},
    {"\xBB\xF2", u'或'},
    {"\xB6\xC1", u'读'},
    {"\xC8\xA1", u'取'},
    {"\xB8\xFC", u'更'},
    {"\xD0\xC2", u'新'},
    {"\xD0\xF8", u'续'},
    {"\xB4\xCE", u'次'},
    // The gateway step's messages.
    {"\xD0\xE8", u'需'},
    {"\xD2\xAA", u'要'},
    {"\xC4\xFA", u'您'},
    {"\xB4\xA6", u'处'},
    {"\xC0\xED", u'理'},
    {"\xB0\xB4", u'按'},
    {"\xBC\xFC", u'键'},
    {"\xD5\xFD", u'正'},
    {"\xBF\xD5", u'空'},
    {"\xB8\xF1", u'格'},
    {"\xD0\xA7", u'效'},
    {"\xD4\xD9", u'再'},
    {"\xC8\xD4", u'仍'},
    {"\xB5\xC7", u'登'},
    {"\xB3\xAC", u'超'},
    {"\xBD\xF8", u'进'},
    {"\xB4\xCB", u'此'},
    {"\xC0\xE0", u'类'},
    {"\xBD\xF6", u'仅'},
    {"\xC3\xFB", u'名'},
    {"\xC6\xA5", u'匹'},
    {"\xC5\xE4", u'配'},
    {"\xA1\xAD", u'…'},
    {"\xBA\xAC", u'含'},
    {"\xBF\xD8", u'控'},
    {"\xD6\xC6", u'制'},
    {"\xD7\xD6", u'字'},
    {"\xB7\xFB", u'符'},
    {"\xBA\xF6", u'忽'},
    {"\xC2\xD4", u'略'},
    {"\xCC\xE2", u'题'},
    {"\xB9\xFD", u'过'},
    {"\xB3\xA4", u'长'},
    {"\xCC\xF5", u'条'},
    {"\xC6\xE4", u'其'},
    {"\xD3\xE0", u'余'},
    {"\xB6\xA8", u'定'},
    {"\xA3\xBF", u'？'},
    {"\xB9\xE6", u'规'},
    {"\xD4\xF2", u'则'},
    {"\xC2\xF0", u'吗'},
    {"\xA1\xC1", u'×'},
};

// The character of a pair of bytes of that table, or 0: looked up in a table of every pair,
// built once (the fuzzers decode millions of lines).
inline char16_t TestGbkUnit(unsigned char lead, unsigned char trail)
{
    static const std::u16string units = [] {
        std::u16string all(0x10000, u'\0');
        for (const auto& [gbk, unit] : kTestGbk)
            all[static_cast<unsigned char>(gbk[0]) << 8 | static_cast<unsigned char>(gbk[1])] = unit;
        return all;
    }();
    return units[static_cast<size_t>(lead) << 8 | trail];
}

// nullopt for any byte sequence outside that table, as a decoder refuses invalid input.
inline std::optional<std::u16string> DecodeTestGbk(std::string_view bytes)
{
    std::u16string text;
    for (size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            text += static_cast<char16_t>(bytes[i++]);
            continue;
        }
        const char16_t unit = i + 1 < bytes.size()
            ? TestGbkUnit(static_cast<unsigned char>(bytes[i]), static_cast<unsigned char>(bytes[i + 1]))
            : 0;
        if (unit == 0)
            return std::nullopt;
        text += unit;
        i += 2;
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

// GBK bytes as UTF-8 text, to compare with the text they should say; "<not GBK>" for bytes
// outside the table.
inline std::string GbkToUtf8(std::string_view gbk)
{
    const std::optional<std::u16string> text = DecodeTestGbk(gbk);
    return text ? px::ToUtf8(*text) : "<not GBK>";
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
                if (const char16_t known = TestGbkUnit(byte, static_cast<unsigned char>(bytes[i + 1])))
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
