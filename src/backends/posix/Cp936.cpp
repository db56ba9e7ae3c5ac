#include "backends/posix/Cp936.h"

#include <cstdint>
#include <iconv.h>
#include <vector>

namespace {

constexpr int kFirstLead = 0x81;
constexpr int kLeads = 0xFE - kFirstLead + 1;

bool IsTrailByte(int byte) { return byte >= 0x40 && byte <= 0xFE && byte != 0x7F; }

// The codes outside the user-defined areas that GBK leaves unassigned and Windows gives the
// private-use characters from U+E766 on, in this order.
constexpr std::pair<uint16_t, uint16_t> kUnassigned[] = {
    {0xA2AB, 0xA2B0},
    {0xA2E3, 0xA2E4},
    {0xA2EF, 0xA2F0},
    {0xA2FD, 0xA2FE},
    {0xA4F4, 0xA4FE},
    {0xA5F7, 0xA5FE},
    {0xA6B9, 0xA6C0},
    {0xA6D9, 0xA6DF},
    {0xA6EC, 0xA6ED},
    {0xA6F3, 0xA6F3},
    {0xA6F6, 0xA6FE},
    {0xA7C2, 0xA7D0},
    {0xA7F2, 0xA7FE},
    {0xA896, 0xA8A0},
    {0xA8BC, 0xA8BC},
    {0xA8BF, 0xA8BF},
    {0xA8C1, 0xA8C4},
    {0xA8EA, 0xA8FE},
    {0xA958, 0xA958},
    {0xA95B, 0xA95B},
    {0xA95D, 0xA95F},
    {0xA989, 0xA995},
    {0xA997, 0xA9A3},
    {0xA9F0, 0xA9FE},
    {0xD7FA, 0xD7FE},
    {0xFE50, 0xFE7E},
    {0xFE80, 0xFEA0},
};

// The private-use character Windows gives a code that glibc's CP936 table does not map:
// the three user-defined areas in order, then the unassigned codes; 0 for any other code.
char16_t PrivateUseFor(int lead, int trail)
{
    if (lead >= 0xAA && lead <= 0xAF && trail >= 0xA1)
        return static_cast<char16_t>(0xE000 + (lead - 0xAA) * 94 + (trail - 0xA1));
    if (lead >= 0xF8 && lead <= 0xFE && trail >= 0xA1)
        return static_cast<char16_t>(0xE234 + (lead - 0xF8) * 94 + (trail - 0xA1));
    if (lead >= 0xA1 && lead <= 0xA7 && trail <= 0xA0)
        return static_cast<char16_t>(0xE4C6 + (lead - 0xA1) * 96 + (trail - 0x40) - (trail > 0x7F ? 1 : 0));
    const int code = (lead << 8) | trail;
    int index = 0;
    for (const auto& [first, last] : kUnassigned) {
        if (code >= first && code <= last)
            return static_cast<char16_t>(0xE766 + index + (code - first));
        index += last - first + 1;
    }
    return 0;
}

// glibc's CP936 converter for one two-byte code; 0 when it has none.
char16_t GlibcUnit(iconv_t cd, int lead, int trail)
{
    char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    char out[8];
    char* inPtr = in;
    char* outPtr = out;
    size_t inLeft = sizeof in;
    size_t outLeft = sizeof out;
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLeft != 0 || outPtr - out != 2)
        return 0;
    return static_cast<char16_t>(static_cast<uint8_t>(out[0]) | (static_cast<uint8_t>(out[1]) << 8));
}

struct Tables {
    std::vector<char16_t> decode;  // by (lead - 0x81) * 256 + trail; 0: not a character
    std::vector<uint16_t> encode;  // by unit: its two-byte code, or 0
};

// Built once, on first use, from glibc's table and the private-use rule above.
const Tables& GetTables()
{
    static const Tables tables = [] {
        Tables t;
        t.decode.assign(static_cast<size_t>(kLeads) * 256, 0);
        t.encode.assign(0x10000, 0);
        const iconv_t cd = ::iconv_open("UTF-16LE", "CP936");
        for (int lead = kFirstLead; lead < kFirstLead + kLeads; ++lead) {
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                if (!IsTrailByte(trail))
                    continue;
                char16_t unit = PrivateUseFor(lead, trail);
                if (unit == 0 && cd != reinterpret_cast<iconv_t>(-1))
                    unit = GlibcUnit(cd, lead, trail);
                if (unit == 0)
                    continue;
                t.decode[static_cast<size_t>(lead - kFirstLead) * 256 + static_cast<size_t>(trail)] = unit;
                if (t.encode[unit] == 0)
                    t.encode[unit] = static_cast<uint16_t>((lead << 8) | trail);
            }
        }
        if (cd != reinterpret_cast<iconv_t>(-1))
            ::iconv_close(cd);
        return t;
    }();
    return tables;
}

// Single bytes beyond ASCII: the euro sign, and U+F8F5 for 0xFF.
constexpr char16_t kEuro = 0x20AC;
constexpr char16_t kByteFf = 0xF8F5;

}  // namespace

std::u16string Cp936CodePage::Decode(std::string_view bytes, size_t* invalid) const
{
    std::u16string text;
    text.reserve(bytes.size());
    const Tables* tables = nullptr;
    for (size_t i = 0; i < bytes.size();) {
        const int byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80 || byte == 0x80 || byte == 0xFF) {
            text += byte == 0x80 ? kEuro : byte == 0xFF ? kByteFf : static_cast<char16_t>(byte);
            ++i;
            continue;
        }
        const bool pair = i + 1 < bytes.size() && bytes[i + 1] != '\0';
        char16_t unit = 0;
        if (pair) {
            if (!tables)
                tables = &GetTables();
            unit
                = tables
                      ->decode[static_cast<size_t>(byte - kFirstLead) * 256 + static_cast<unsigned char>(bytes[i + 1])];
        }
        if (unit == 0 && invalid)
            ++*invalid;
        text += unit == 0 ? u'?' : unit;
        i += pair ? 2 : 1;
    }
    return text;
}

std::optional<std::string> Cp936CodePage::Encode(std::u16string_view text) const
{
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (const char16_t unit : text) {
        if (unit < 0x80 || unit == kEuro || unit == kByteFf) {
            bytes += unit == kEuro ? '\x80' : unit == kByteFf ? '\xFF' : static_cast<char>(unit);
            continue;
        }
        const uint16_t code = GetTables().encode[unit];
        if (code == 0)
            return std::nullopt;
        bytes += static_cast<char>(code >> 8);
        bytes += static_cast<char>(code & 0xFF);
    }
    return bytes;
}
