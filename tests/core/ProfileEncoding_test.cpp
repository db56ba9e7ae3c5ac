#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "TempDir.h"
#include "TestGbk.h"
#include "settings/ProfileEncoding.h"

namespace {

using testsupport::U8;

// A file without BOM is in the legacy code page, as Windows reads it, unless it holds what
// no such text holds and the program's own files do.
TEST(ProfileEncoding, WithoutBomGbkUnlessTheBytesSayUtf8)
{
    using E = px::ProfileEncoding;
    const std::pair<std::string, E> cases[] = {
        {"", E::Utf8}, {"[PX_SETTING]\r\nA=1\r\n", E::Utf8}, {"\xEF\xBB\xBF\xCA\xB5", E::Utf8Bom},
        {"\xFF\xFE[\0", E::Utf16LeBom}, {"\xFE\xFF\0[", E::Utf16BeBom}, {std::string("[\0P\0\x2D\x4E", 6), E::Utf16Le},
        {std::string("[\0\x2D\x4E\x2D\x4E\x2D\x4E", 8), E::Utf8},  // not mostly ASCII: no UTF-16
        // GBK text that is also well-formed UTF-8 (U+02B5 U+02B1 ...): read as Windows does.
        {"FULLPATH=D:\\\xCA\xB5\xCA\xB1\\\xCF\xB5\xCD\xB3.exe", E::Ansi},
        {"FULLPATH=/opt/\xD6\xD0\xCE\xC4", E::Ansi},  // not UTF-8 at all
        {"; \xFF\r\nFULLPATH=\xCA\xB5\xCA\xB1", E::Ansi},  // a stray byte besides
        // Chinese in UTF-8 has three-byte characters, which GBK text never forms.
        {U8(u8"FULLPATH=/opt/中文"), E::Utf8},
        {U8(u8"; caf\xE9\r\nFULLPATH=/opt/中文"), E::Utf8},  // a stray byte is outweighed
        {U8(u8"FULLPATH=\xCA\xB5 \u00E9"), E::Utf8},  // \xC3\xA9 is no GBK character here
        {"ARGS=\xC2\x80\xCA\xB5", E::Utf8},  // a C1 control: scrambled '|'
        {"ARGS=\xC0\x8D\xCA\xB5", E::Utf8},  // an escaped CR
        {"ARGS=\xED\xA0\x80\xCA\xB5", E::Utf8},  // a lone surrogate
    };
    for (const auto& [bytes, encoding] : cases)
        EXPECT_EQ(px::DetectProfileEncoding(bytes, testsupport::TestGbk()), encoding)
            << ::testing::PrintToString(bytes);
}

// Where the system reads a file without BOM in the code page (Windows), ASCII alone, an empty
// file too, is the code page's; every other verdict is the bytes' own. Where it reads UTF-8,
// ASCII is UTF-8.
TEST(ProfileEncoding, AsciiAloneIsTheCodePagesWhereNewFilesAre)
{
    using E = px::ProfileEncoding;
    using N = NewTextEncoding;
    struct Case {
        std::string bytes;
        N system;
        E encoding;
    };
    const std::string ascii = "[PX_SETTING]\r\nA=1\r\n";
    const std::string gbk = "FULLPATH=/opt/\xD6\xD0\xCE\xC4";
    const std::string utf16 = std::string("[\0P\0", 4);
    const Case cases[] = {
        {"", N::Utf8, E::Utf8}, {ascii, N::Utf8, E::Utf8}, {gbk, N::Utf8, E::Ansi}, {"", N::AnsiElseUtf16Le, E::Ansi},
        {ascii, N::AnsiElseUtf16Le, E::Ansi}, {gbk, N::AnsiElseUtf16Le, E::Ansi},
        {U8(u8"FULLPATH=/opt/中文"), N::AnsiElseUtf16Le, E::Utf8},
        {"\xEF\xBB\xBF" + ascii, N::AnsiElseUtf16Le, E::Utf8Bom}, {utf16, N::AnsiElseUtf16Le, E::Utf16Le},
        {"ARGS=\xC0\x8D", N::AnsiElseUtf16Le, E::Utf8},  // an escaped CR: the program's own UTF-8
    };
    for (const Case& c : cases)
        EXPECT_EQ(px::DetectProfileEncodingFor(c.bytes, testsupport::TestGbk(), c.system), c.encoding)
            << ::testing::PrintToString(c.bytes) << (c.system == N::Utf8 ? " on a UTF-8 system" : " on Windows");
}

// The BOM a file is written with is the BOM its encoding is read by, whatever follows it.
TEST(ProfileEncoding, EachBomReadsAsItsOwnEncoding)
{
    using E = px::ProfileEncoding;
    const E encodings[] = {E::Utf8, E::Utf8Bom, E::Utf16Le, E::Utf16LeBom, E::Utf16BeBom, E::Ansi};
    int withBom = 0;
    for (const E encoding : encodings) {
        const std::string_view bom = px::BomOf(encoding);
        if (bom.empty())
            continue;
        ++withBom;
        for (const std::string& text : {std::string(), std::string("[\0", 2), std::string("\xD6\xD0")})
            EXPECT_EQ(px::DetectProfileEncoding(std::string(bom) + text, testsupport::TestGbk()), encoding)
                << ::testing::PrintToString(std::string(bom) + text);
    }
    EXPECT_EQ(withBom, 3);
}

}  // namespace
