#include <gtest/gtest.h>

#include <string>

#include "TempDir.h"
#include "base/Unicode.h"

namespace {

using testsupport::U8;

struct WellFormed {
    std::u16string text;
    std::string utf8;
};

TEST(Unicode, EncodesEachSequenceLengthAndDecodesItBack)
{
    const WellFormed cases[] = {
        {u"", ""},
        {u"config.ini", "config.ini"},
        {u"\u00e9", "\xC3\xA9"},
        {u"\u4e2d\u6587", "\xE4\xB8\xAD\xE6\x96\x87"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {u"\uFFFF", "\xEF\xBF\xBF"},
        {std::u16string(1, u'\0'), std::string(1, '\0')},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(px::ToUtf8(c.text), c.utf8);
        EXPECT_EQ(px::FromUtf8(c.utf8), c.text);
        EXPECT_EQ(px::DecodeUtf8Strict(c.utf8, false), c.text);
    }
}

TEST(Unicode, LoneSurrogatesTakeTheirWtf8Form)
{
    const WellFormed cases[] = {
        {u"\xD800", "\xED\xA0\x80"},
        {u"a\xDFFF", "a\xED\xBF\xBF"},
        {u"\xDBFFz", "\xED\xAF\xBFz"},
        // A low surrogate before a high one is two lone surrogates, not a pair.
        {u"\xDC00\xD800", "\xED\xB0\x80\xED\xA0\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(px::ToUtf8(c.text), c.utf8);
        EXPECT_EQ(px::FromUtf8(c.utf8), c.text);
        EXPECT_EQ(px::DecodeUtf8Strict(c.utf8, true), c.text);
        EXPECT_EQ(px::DecodeUtf8Strict(c.utf8, false), std::nullopt);
    }
}

TEST(Unicode, EveryUtf16UnitSurvivesARoundTrip)
{
    std::u16string all;
    for (char32_t unit = 0; unit <= 0xFFFF; ++unit)
        all += static_cast<char16_t>(unit);
    // Alone, each surrogate is a lone one; in the whole string U+DBFF and U+DC00 meet as a pair.
    for (char16_t unit : all) {
        const std::u16string one(1, unit);
        ASSERT_EQ(px::FromUtf8(px::ToUtf8(one)), one) << static_cast<int>(unit);
    }
    EXPECT_EQ(px::DecodeUtf8Strict(px::ToUtf8(all), true), all);
}

TEST(Unicode, BytesThatAreNotUtf8DecodeToOneUnitEach)
{
    const WellFormed cases[] = {
        {u"\xDC80", "\x80"},
        {u"a\xDCFF"
         u"b",
            "a\xFF"
            "b"},
        {u"a\xDCC3", "a\xC3"},  // cut two-byte sequence
        {u"\xDCE4\xDCB8", "\xE4\xB8"},  // cut three-byte sequence
        {u"\xDCC0\xDCAF", "\xC0\xAF"},  // overlong "/"
        {u"\xDCE0\xDC80\xDCAF", "\xE0\x80\xAF"},  // overlong three-byte form
        {u"\xDCF4\xDC90\xDC80\xDC80", "\xF4\x90\x80\x80"},  // above U+10FFFF
        {u"\xDCD6\xDCD0\xDCCE\xDCC4", "\xD6\xD0\xCE\xC4"},  // GBK bytes
    };
    for (const auto& c : cases) {
        EXPECT_EQ(px::FromUtf8(c.utf8), c.text);
        EXPECT_EQ(px::DecodeUtf8Strict(c.utf8, true), std::nullopt);
    }
}

TEST(Unicode, StrictDecodingAcceptsMixedText)
{
    EXPECT_EQ(px::DecodeUtf8Strict(U8(u8"C:\\程序\\a b.exe"), false), u"C:\\程序\\a b.exe");
}

}  // namespace
