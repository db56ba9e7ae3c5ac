#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "MemoryFolder.h"
#include "ProfileRead.h"
#include "TempDir.h"
#include "base/Unicode.h"
#include "settings/ProfileFile.h"

namespace {

using testsupport::U8;
using testsupport::Utf16Bytes;

constexpr char16_t S[] = u"PX_SETTING";

// A literal with the NULs inside it.
template <class Char, size_t N> std::basic_string<Char> WithNuls(const Char (&literal)[N])
{
    return std::basic_string<Char>(literal, N - 1);
}

class ProfileFile : public ::testing::Test {
protected:
    testsupport::MemoryFolder dir;
    const std::u16string ini = dir.File("config.ini");

    std::u16string Read(const std::u16string& key, const std::u16string& def = u"<default>") const
    {
        return px::ReadProfileString(ini, S, key, def);
    }
    bool Write(const std::u16string& key, const std::u16string& value) const
    {
        return px::WriteProfileString(ini, S, key, value);
    }
};

TEST_F(ProfileFile, ReadingFindsKeysTheWayProfileFilesDo)
{
    dir.Write(ini,
        "ORPHAN=before any section\r\n"
        "[OTHER]\r\n"
        "FULLPATH=/other\r\n"
        "  [ px_setting ]  \r\n"
        "; FULLPATH=/commented\r\n"
        "a line without equals sign\r\n"
        "  FullPath \t=  \t/opt/app/run.sh \t \r\n"
        "FULLPATH=/second\r\n"
        "ARGS=\"C:\\a b\\x.ini\" --x=1\r\n"
        "EMPTY=\r\n"
        "EQUALS=a=b=c\r\n"
        "[PX_SETTING]\r\n"
        "LATE=in a second section of the same name\r\n");
    EXPECT_EQ(Read(u"FULLPATH"), u"/opt/app/run.sh");
    EXPECT_EQ(Read(u"fullpath"), u"/opt/app/run.sh");
    EXPECT_EQ(Read(u"ARGS"), u"\"C:\\a b\\x.ini\" --x=1");
    EXPECT_EQ(Read(u"EMPTY"), u"");
    EXPECT_EQ(Read(u"EQUALS"), u"a=b=c");
    EXPECT_EQ(Read(u"ORPHAN"), u"<default>");
    EXPECT_EQ(Read(u"LATE"), u"<default>");
    EXPECT_EQ(Read(u"MISSING"), u"<default>");
    EXPECT_EQ(px::ReadProfileString(ini, u"NOSECTION", u"FULLPATH", u"d"), u"d");
    EXPECT_EQ(px::ReadProfileString(dir.File("missing.ini"), S, u"FULLPATH", u"d"), u"d");
}

TEST_F(ProfileFile, LongStringsAreReadWhole)
{
    const std::string value(100000, 'v');
    dir.Write(ini, "[PX_SETTING]\nLONG=" + value + "\nSHORT=" + value.substr(0, 499) + "\n");
    EXPECT_EQ(Read(u"LONG"), std::u16string(100000, u'v'));
    EXPECT_EQ(Read(u"SHORT"), std::u16string(499, u'v'));
    EXPECT_EQ(Read(u"MISSING", std::u16string(700, u'd')), std::u16string(700, u'd'));
}

// As GetPrivateProfileIntW reads them: one pair of enclosing quotes stripped, an empty value
// gives the default, base prefixes; beyond 32 bits the value saturates.
TEST_F(ProfileFile, IntegersReadAsTheWindowsFunctionReadsThem)
{
    const std::pair<std::string, int32_t> cases[] = {
        {"60", 60},
        {"-5", -5},
        {"12abc", 12},
        {"abc", 0},
        {"99999999999", std::numeric_limits<int32_t>::max()},
        {"-99999999999", std::numeric_limits<int32_t>::min()},
        {"  +8  ", 8},
        {"-2147483648", std::numeric_limits<int32_t>::min()},
        {"2147483648", std::numeric_limits<int32_t>::max()},
        {"\"30\"", 30},
        {"'1'", 1},
        {"\" 1\"", 1},
        {"\"5", 0},  // no pair of quotes
        {"\"5'", 0},
        {"\"", 0},
        {"\" \"", 0},
        {"0x1F", 31},
        {"0o17", 15},
        {"0b101", 5},
        {"-0x10", -16},
        {"0X10", 0},  // the prefixes are lower case
        {"0x", 0},
        {"", 77},  // empty: the default, as for a missing key
        {"   ", 77},
        {"\"\"", 77},
        {"''", 77},
    };
    for (const auto& [value, expected] : cases) {
        dir.Write(ini, "[PX_SETTING]\r\nK=" + value + "\r\n");
        EXPECT_EQ(px::ReadProfileInt(ini, S, u"K", 77), expected) << value;
    }
    dir.Write(ini, "[PX_SETTING]\r\nNOEQUALS\r\n");
    EXPECT_EQ(px::ReadProfileInt(ini, S, u"NOEQUALS", 77), 77);
    EXPECT_EQ(px::ReadProfileInt(ini, S, u"MISSING", 77), 77);
    EXPECT_EQ(px::ReadProfileInt(dir.File("missing.ini"), S, u"A", 60), 60);
}

TEST_F(ProfileFile, ReadsEveryEncoding)
{
    const std::u16string path = u"/opt/中文/程序.exe";
    const std::u16string text = u"[PX_SETTING]\r\nFULLPATH=/opt/中文/程序.exe\r\n";
    const std::pair<std::string, const char*> files[] = {
        {U8(u8"[PX_SETTING]\nFULLPATH=/opt/中文/程序.exe\n"), "UTF-8"},
        {"\xEF\xBB\xBF" + U8(u8"[PX_SETTING]\nFULLPATH=/opt/中文/程序.exe\n"), "UTF-8 with BOM"},
        {Utf16Bytes(text + std::u16string(1, u'\xD800')) + "x", "UTF-16LE, cut in its last unit"},
        {Utf16Bytes(text, false, false), "UTF-16LE without BOM"},
        {Utf16Bytes(text, true), "UTF-16BE"},
        {"[PX_SETTING]\r\nFULLPATH=/opt/\xD6\xD0\xCE\xC4/\xB3\xCC\xD0\xF2.exe\r\n", "GBK"},
    };
    for (const auto& [bytes, name] : files) {
        dir.Write(ini, bytes);
        EXPECT_EQ(Read(u"FULLPATH"), path) << name;
    }
}

// Lines end at LF, CR LF, CR CR LF (a Windows file converted twice) and at a lone CR (old
// Mac files); space, tab, VT, FF and ^Z around names and values are trimmed.
TEST_F(ProfileFile, LineEndsAndBlanksAsTheWindowsFunctionsReadThem)
{
    const std::pair<std::string, const char*> files[] = {
        {"[PX_SETTING]\rAUTOSTART=1\rFULLPATH=/opt/app\r", "CR"},
        {"[PX_SETTING]\r\r\nAUTOSTART=1\r\r\nFULLPATH=/opt/app\r\r\n", "CR CR LF"},
        {"[PX_SETTING]\n\rAUTOSTART=1\n\rFULLPATH=/opt/app", "LF CR"},
        {"\x0B[PX_SETTING]\x1A\r\n\x0C AUTOSTART\t\x0B=\x1A"
         "1\x0C\r\nFULLPATH=\x0B/opt/app\x1A\r\n",
            "VT, FF, ^Z"},
    };
    for (const auto& [bytes, name] : files) {
        dir.Write(ini, bytes);
        EXPECT_EQ(Read(u"FULLPATH"), u"/opt/app") << name;
        EXPECT_EQ(px::ReadProfileInt(ini, S, u"AUTOSTART", 0), 1) << name;
    }
}

// As the Windows functions keep names and values as C strings, a NUL in the file ends them;
// a line without '=' is a key without a value that hides later ones; "[" without "]" starts
// no section; a section name runs up to the line's last "]".
TEST_F(ProfileFile, NulsAndOddLinesAsTheWindowsFunctionsReadThem)
{
    dir.Write(ini,
        WithNuls("[PX_SETTING]\r\nREB_TIME\0junk=12:30\r\nFULLPATH=/opt/app/run\0/junk\r\n"
                 "ARGS\r\nARGS=hidden\r\n[OTHER\r\nLOOPSEC=5\r\n[A]B] x\r\nK=v\r\n"));
    EXPECT_EQ(Read(u"REB_TIME"), u"12:30");
    EXPECT_EQ(Read(u"FULLPATH"), u"/opt/app/run");
    EXPECT_EQ(Read(u"ARGS"), u"<default>");
    EXPECT_EQ(px::ReadProfileInt(ini, S, u"LOOPSEC", 0), 5);
    EXPECT_EQ(px::ReadProfileString(ini, u"A]B", u"K", u""), u"v");
}

TEST_F(ProfileFile, DamagedFilesReadWithoutFailing)
{
    struct Case {
        std::string bytes;
        std::u16string fullPath;
    };
    const Case cases[] = {
        {"", u"<default>"},
        {"\xFF\xFE", u"<default>"},
        {"\xFF\xFE[", u"<default>"},
        {"\xFE\xFF\0", u"<default>"},
        {"\xEF\xBB", u"<default>"},
        {std::string("\0\0\0\0[PX_SETTING]\0FULLPATH=x", 27), u"<default>"},
        {"[PX_SETTING", u"<default>"},
        {"[PX_SETTING]\nFULLPATH", u"<default>"},
        {"[PX_SETTING]\nFULLPATH=/opt/app", u"/opt/app"},  // no line end at the end
        // Cut inside a GBK character: only that character is lost.
        {"[PX_SETTING]\r\nFULLPATH=/opt/\xD6\xD0\xCE", u"/opt/中?"},
        // A stray byte in a GBK file spoils its own character alone.
        {"; \xFF\xD6\xD0\r\n[PX_SETTING]\r\nFULLPATH=/opt/\xCA\xB5\xCA\xB1/\xCF\xB5\xCD\xB3\r\n", u"/opt/实时/系统"},
        // A lead byte takes the line end after it into its character, as on Windows.
        {"[PX_SETTING]\r\nJUNK=\xD6\nFULLPATH=/opt/app\nLOOPSEC=1\n", u"<default>"},
    };
    for (const Case& c : cases) {
        dir.Write(ini, c.bytes);
        EXPECT_EQ(Read(u"FULLPATH"), c.fullPath) << ::testing::PrintToString(c.bytes);
    }

    std::string binary;
    for (int i = 0; i < 1 << 16; ++i)
        binary += static_cast<char>((i * 7919) >> 3);
    dir.Write(ini, binary);
    EXPECT_EQ(Read(u"FULLPATH"), u"<default>");
    EXPECT_TRUE(Write(u"FULLPATH", u"/opt/app"));
    EXPECT_EQ(Read(u"FULLPATH"), u"/opt/app");
}

TEST_F(ProfileFile, HugeFileIsReadToTheEnd)
{
    std::string bytes = "[PX_SETTING]\r\n";
    for (int i = 0; i < 20000; ++i)
        bytes += "UNKNOWN" + std::to_string(i) + "=some value\r\n";
    bytes += "FULLPATH=/at/the/end\r\n";
    dir.Write(ini, bytes);
    EXPECT_EQ(Read(u"FULLPATH"), u"/at/the/end");
    ASSERT_TRUE(Write(u"LOOPSEC", u"5"));
    EXPECT_EQ(px::ReadProfileInt(ini, S, u"LOOPSEC", 0), 5);
}

TEST_F(ProfileFile, FirstWriteCreatesAUtf8File)
{
    EXPECT_FALSE(dir.Exists(ini));
    EXPECT_EQ(Read(u"FULLPATH"), u"<default>");
    EXPECT_FALSE(dir.Exists(ini));

    ASSERT_TRUE(Write(u"AUTOSTART", u"1"));
    EXPECT_EQ(dir.Read(ini), "[PX_SETTING]\r\nAUTOSTART=1\r\n");

    ASSERT_TRUE(Write(u"FULLPATH", u"/opt/中文"));
    EXPECT_EQ(dir.Read(ini), U8(u8"[PX_SETTING]\r\nAUTOSTART=1\r\nFULLPATH=/opt/中文\r\n"));
}

TEST_F(ProfileFile, WriteChangesOnlyItsKey)
{
    const std::string before = "; settings of the watchdog\r\n"
                               "[OTHER]\r\n"
                               "FULLPATH=/other\r\n"
                               "\r\n"
                               "[px_setting]\r\n"
                               "  FullPath = /old/path\r\n"
                               "; a comment\r\n"
                               "CUSTOM=kept\r\n"
                               "\r\n"
                               "[LAST]\r\n"
                               "X=1";
    dir.Write(ini, before);

    ASSERT_TRUE(Write(u"FULLPATH", u"/new/path"));
    ASSERT_TRUE(Write(u"LOOPSEC", u"30"));
    ASSERT_TRUE(px::WriteProfileString(ini, u"NEW", u"K", u"v"));
    EXPECT_EQ(dir.Read(ini),
        "; settings of the watchdog\r\n"
        "[OTHER]\r\n"
        "FULLPATH=/other\r\n"
        "\r\n"
        "[px_setting]\r\n"
        "FullPath=/new/path\r\n"
        "; a comment\r\n"
        "CUSTOM=kept\r\n"
        "LOOPSEC=30\r\n"
        "\r\n"
        "[LAST]\r\n"
        "X=1\r\n"
        "[NEW]\r\n"
        "K=v\r\n");
}

TEST_F(ProfileFile, SeveralKeysInOneWriteMatchOneByOne)
{
    const std::string before = "; kept\r\n[PX_SETTING]\r\nLOOPSEC=60\r\n\r\n[OTHER]\r\nA=1\r\n";
    const std::vector<std::pair<std::u16string, std::u16string>> keyValues
        = {{u"REB_TIME", u"12:30"}, {u"LOOPSEC", u"5"}, {u"ARGS", u"a\nb"}, {u"REB_TIME", u"06:00"}};
    const std::u16string oneByOne = dir.File("one-by-one.ini");
    dir.Write(ini, before);
    dir.Write(oneByOne, before);

    ASSERT_TRUE(px::WriteProfileStrings(ini, S, keyValues));
    for (const auto& [key, value] : keyValues)
        ASSERT_TRUE(px::WriteProfileString(oneByOne, S, key, value));
    EXPECT_EQ(dir.Read(ini), dir.Read(oneByOne));
    EXPECT_EQ(dir.Read(ini),
        "; kept\r\n[PX_SETTING]\r\nLOOPSEC=5\r\nREB_TIME=06:00\r\nARGS=a\xC0\x8A"
        "b\r\n\r\n[OTHER]\r\nA=1\r\n");
    EXPECT_TRUE(px::WriteProfileStrings(ini, S, {}));
    EXPECT_FALSE(px::WriteProfileStrings(dir.File("missing/config.ini"), S, keyValues));
}

TEST_F(ProfileFile, AppendsToASectionThatEndsTheFile)
{
    dir.Write(ini, "[PX_SETTING]\nA=1");
    ASSERT_TRUE(Write(u"B", u"2"));
    EXPECT_EQ(dir.Read(ini), "[PX_SETTING]\nA=1\nB=2\n");  // the file's own line ends
    dir.Write(ini, "[PX_SETTING]");
    ASSERT_TRUE(Write(u"B", u"2"));
    EXPECT_EQ(dir.Read(ini), "[PX_SETTING]\r\nB=2\r\n");
}

// Every encoding is written back in itself: only the lines of the keys written are new.
TEST_F(ProfileFile, EncodingsAreKept)
{
    struct Case {
        std::string before;
        std::string after;
        const char* name;
    };
    const std::u16string before = u"; 中文\r\n[PX_SETTING]\r\nFULLPATH=/old\r\n";
    const std::u16string after = u"; 中文\r\n[PX_SETTING]\r\nFULLPATH=/opt/程序\r\nK=v\r\n";
    const Case cases[] = {
        {Utf16Bytes(before), Utf16Bytes(after), "UTF-16LE"},
        {Utf16Bytes(before, false, false), Utf16Bytes(after, false, false), "UTF-16LE without BOM"},
        {Utf16Bytes(before, true), Utf16Bytes(after, true), "UTF-16BE"},
        {"\xEF\xBB\xBF" + px::ToUtf8(before), "\xEF\xBB\xBF" + px::ToUtf8(after), "UTF-8 with BOM"},
        {px::ToUtf8(before), px::ToUtf8(after), "UTF-8"},
        {"; \xD6\xD0\xCE\xC4\r\n[PX_SETTING]\r\nFULLPATH=/old\r\n",
            "; \xD6\xD0\xCE\xC4\r\n[PX_SETTING]\r\nFULLPATH=/opt/\xB3\xCC\xD0\xF2\r\nK=v\r\n", "GBK"},
    };
    for (const Case& c : cases) {
        dir.Write(ini, c.before);
        ASSERT_TRUE(px::WriteProfileStrings(ini, S, {{u"FULLPATH", u"/opt/程序"}, {u"K", u"v"}})) << c.name;
        EXPECT_EQ(dir.Read(ini), c.after) << c.name;
        EXPECT_EQ(Read(u"FULLPATH"), u"/opt/程序") << c.name;
    }
}

// What the program writes reads back as written: a file whose new value would make it look
// like GBK gets a BOM.
TEST_F(ProfileFile, OwnFilesReadBackAsWritten)
{
    const std::u16string looksLikeGbk = u"/opt/\u02B5\u02B1";
    ASSERT_TRUE(Write(u"FULLPATH", looksLikeGbk));
    EXPECT_EQ(dir.Read(ini), "\xEF\xBB\xBF[PX_SETTING]\r\nFULLPATH=/opt/\xCA\xB5\xCA\xB1\r\n");
    EXPECT_EQ(Read(u"FULLPATH"), looksLikeGbk);
}

// The parsed file answers every key from one read.
TEST_F(ProfileFile, OneReadAnswersEveryKey)
{
    dir.Write(ini, "[PX_SETTING]\r\nA=1\r\nB=two\r\n[OTHER]\r\nA=3\r\n");
    const int before = dir.files.reads;
    const px::ParsedProfile profile = px::LoadProfile(ini);
    EXPECT_EQ(profile.GetInt(S, u"A", 0), 1);
    EXPECT_EQ(profile.GetString(S, u"B", u""), u"two");
    EXPECT_EQ(profile.GetInt(u"other", u"a", 0), 3);
    EXPECT_EQ(profile.Find(S, u"C"), std::nullopt);
    EXPECT_EQ(dir.files.reads, before + 1);
}

// Only a value a file's encoding cannot hold on one line makes it UTF-8 (with a BOM, so it
// is never taken for GBK); every line keeps its text.
TEST_F(ProfileFile, AFileBecomesUtf8OnlyForAValueItCannotHold)
{
    struct Case {
        std::string before;
        std::u16string value;
        const char* name;
    };
    const Case cases[] = {
        {"; \xD6\xD0\xCE\xC4\r\n[PX_SETTING]\r\n", u"/opt/\u00E4", "GBK, a character it lacks"},
        {"; \xD6\xD0\xCE\xC4\r\n[PX_SETTING]\r\n", u"a\rb", "GBK, a CR"},
        {Utf16Bytes(u"; 中文\r\n[PX_SETTING]\r\n"), std::u16string(u"a\0b", 3), "UTF-16LE, a NUL"},
        {Utf16Bytes(u"; 中文\r\n[PX_SETTING]\r\n", true), u"a\nb", "UTF-16BE, a LF"},
    };
    for (const Case& c : cases) {
        dir.Write(ini, c.before);
        ASSERT_TRUE(Write(u"ARGS", c.value)) << c.name;
        EXPECT_EQ(Read(u"ARGS"), c.value) << c.name;
        const std::string after = dir.Read(ini);
        EXPECT_EQ(after.rfind(U8(u8"\xEF\xBB\xBF; 中文\r\n[PX_SETTING]\r\nARGS="), 0), 0u) << c.name;
    }
}

// Rewriting a line can change what the bytes say about the encoding: here three stray bytes
// outweighed two UTF-8 sequences, and the new LOOPSEC line takes them away. Kept as they were,
// the bytes would next be read as UTF-8, so the file becomes UTF-8 with its lines' text.
TEST_F(ProfileFile, AGbkFileThatWouldReadAsUtf8AfterASaveBecomesUtf8)
{
    const std::string foreign = "; \xE4\xB8\xAD\xE6\x96\x87";  // GBK bytes that are also UTF-8
    const std::string before = foreign + "\r\n[PX_SETTING]\r\nLOOPSEC=\xBA\x77\xBA\x77\xBA\x77\r\n";
    ASSERT_EQ(px::DetectProfileEncoding(before, testsupport::TestGbk()), px::ProfileEncoding::Ansi);
    dir.Write(ini, before);
    ASSERT_TRUE(Write(u"LOOPSEC", u"60"));
    EXPECT_EQ(dir.Read(ini),
        "\xEF\xBB\xBF" + px::ToUtf8(testsupport::TestGbk().Decode(foreign)) + "\r\n[PX_SETTING]\r\nLOOPSEC=60\r\n");
    EXPECT_EQ(Read(u"LOOPSEC"), u"60");
}

// Where the system's profile functions read a file without BOM in the ANSI code page
// (Windows), a new file is written there while it holds every value, else in UTF-16LE with a
// BOM; a file of ASCII alone counts as new. So is a file whose own encoding cannot hold a
// value: the lines' text is kept. A UTF-8 or UTF-16 file that holds the values keeps its bytes.
TEST_F(ProfileFile, WhereFilesAreAnsiNewOnesAreAnsiElseUtf16)
{
    dir.files.newFileEncoding = NewTextEncoding::AnsiElseUtf16Le;
    const std::string gbkMisread = "; \xE4\xB8\xAD\xE6\x96\x87";  // GBK bytes that are also UTF-8
    const std::u16string gbkMisreadText = testsupport::TestGbk().Decode(gbkMisread);
    struct Case {
        std::string before;
        std::vector<std::pair<std::u16string, std::u16string>> values;
        std::string after;
        const char* name;
    };
    const Case cases[] = {
        {"", {{u"AUTOSTART", u"1"}}, "[PX_SETTING]\r\nAUTOSTART=1\r\n", "new, ASCII"},
        {"", {{u"FULLPATH", u"/opt/中文"}, {u"K", u"v"}}, "[PX_SETTING]\r\nFULLPATH=/opt/\xD6\xD0\xCE\xC4\r\nK=v\r\n",
            "new, GBK"},
        {"", {{u"FULLPATH", u"/opt/中文"}, {u"ARGS", u"-\u00E4"}},
            Utf16Bytes(u"[PX_SETTING]\r\nFULLPATH=/opt/中文\r\nARGS=-\u00E4\r\n"), "new, a character GBK lacks"},
        {"", {{u"ARGS", u"a\rb"}},
            "\xEF\xBB\xBF[PX_SETTING]\r\nARGS=a\xC0\x8D"
            "b\r\n",
            "new, a CR: UTF-8 alone holds it"},
        {"[PX_SETTING]\nAUTOSTART=1\n", {{u"FULLPATH", u"/opt/中文"}},
            "[PX_SETTING]\nAUTOSTART=1\nFULLPATH=/opt/\xD6\xD0\xCE\xC4\n", "ASCII, GBK"},
        {"[PX_SETTING]\nAUTOSTART=1\n", {{u"FULLPATH", u"/opt/\u00E4"}},
            Utf16Bytes(u"[PX_SETTING]\nAUTOSTART=1\nFULLPATH=/opt/\u00E4\n"), "ASCII, a character GBK lacks"},
        {"; \xD6\xD0\xCE\xC4\r\n[PX_SETTING]\r\n", {{u"ARGS", u"-\u00E4"}},
            Utf16Bytes(u"; 中文\r\n[PX_SETTING]\r\nARGS=-\u00E4\r\n"), "GBK, a character it lacks"},
        {gbkMisread + "\r\n[PX_SETTING]\r\nLOOPSEC=\xBA\x77\xBA\x77\xBA\x77\r\n", {{u"LOOPSEC", u"60"}},
            Utf16Bytes(gbkMisreadText + u"\r\n[PX_SETTING]\r\nLOOPSEC=60\r\n"), "GBK that would read as UTF-8"},
        {"; \xD6\xD0\xCE\xC4\r\n[PX_SETTING]\r\n", {{u"ARGS", u"a\rb"}},
            U8(u8"\xEF\xBB\xBF; 中文\r\n[PX_SETTING]\r\nARGS=a\xC0\x8D"
               "b\r\n"),
            "GBK, a CR"},
        {U8(u8"; 中文\r\n[PX_SETTING]\r\n"), {{u"ARGS", u"-\u00E4"}},
            U8(u8"; 中文\r\n[PX_SETTING]\r\nARGS=-\u00E4\r\n"), "UTF-8 stays"},
        {Utf16Bytes(u"; 中文\r\n[PX_SETTING]\r\n", true), {{u"ARGS", u"-\u00E4"}},
            Utf16Bytes(u"; 中文\r\n[PX_SETTING]\r\nARGS=-\u00E4\r\n", true), "UTF-16BE stays"},
    };
    for (const Case& c : cases) {
        if (c.before.empty())
            dir.files.Remove(ini);
        else
            dir.Write(ini, c.before);
        ASSERT_TRUE(px::WriteProfileStrings(ini, S, c.values)) << c.name;
        EXPECT_EQ(dir.Read(ini), c.after) << c.name;
        for (const auto& [key, value] : c.values)
            EXPECT_EQ(Read(key), value) << c.name;
    }
}

TEST_F(ProfileFile, ForeignLinesKeepTheirBytes)
{
    std::string binary;
    for (int i = 0; i < 8192; ++i)
        binary += static_cast<char>((i * 7919) >> 3);
    const std::string junk[] = {
        "; caf\xe9 au lait",  // Latin-1
        WithNuls("NUL\0inside=and\rCR"),
        "stray \xC0 and \xED\xA0\x80 and \xF8",
        binary,
    };
    for (const std::string& foreign : junk) {
        const std::string before
            = "; kept\r\n" + foreign + "\r\n[PX_SETTING]\r\nFULLPATH=/old\r\n[OTHER]\r\n" + foreign;
        dir.Write(ini, before);
        ASSERT_TRUE(px::WriteProfileStrings(ini, S, {{u"FULLPATH", u"/new"}, {u"LOOPSEC", u"5"}}));
        const std::string after = dir.Read(ini);
        EXPECT_EQ(after.size(), before.size() + 11);  // the new line alone
        EXPECT_TRUE(
            after == "; kept\r\n" + foreign + "\r\n[PX_SETTING]\r\nFULLPATH=/new\r\nLOOPSEC=5\r\n[OTHER]\r\n" + foreign)
            << ::testing::PrintToString(foreign.substr(0, 40));
    }
}

// In GBK a lead byte takes the byte after it into its character, even a line end: what the
// program adds after a lead byte left alone at the end, and a GBK file made UTF-8, keep the
// lines as they were read.
TEST_F(ProfileFile, LeadBytesNeverTakeInTheLinesTheProgramWrites)
{
    for (const std::string lineEnd : {"\n", "\r", "\r\n"}) {
        const std::string before = "[PX_SETTING]" + lineEnd + "A=1" + lineEnd + "; \xD6";
        dir.Write(ini, before);
        ASSERT_TRUE(Write(u"B", u"2"));
        EXPECT_EQ(Read(u"B"), u"2") << lineEnd.size();
        EXPECT_EQ(dir.Read(ini).rfind(before, 0), 0u) << lineEnd.size();
    }
    // The first line takes in the LF after its lead byte: there is no section header here.
    dir.Write(ini, "; \xD6\n[PX_SETTING]\nFULLPATH=/x\n");
    EXPECT_EQ(Read(u"FULLPATH"), u"<default>");
    ASSERT_TRUE(Write(u"FULLPATH", u"/opt/\u00E4"));  // no GBK form: the file becomes UTF-8
    EXPECT_EQ(Read(u"FULLPATH"), u"/opt/\u00E4");
    EXPECT_EQ(dir.Read(ini).rfind("\xEF\xBB\xBF; ?[PX_SETTING]\nFULLPATH=/x\n", 0), 0u);
}

// A key spelt with a NUL is the key for reading and writing alike; a value that is already
// stored keeps its line as it is.
TEST_F(ProfileFile, ReadingAndWritingAgreeOnWhatAKeyIs)
{
    const std::string before = Utf16Bytes(WithNuls(u"[PX_SETTING]\r\nREB_TIME\0=12:30\r\n  FULLPATH = /same \r\n"));
    dir.Write(ini, before);
    EXPECT_EQ(Read(u"REB_TIME"), u"12:30");
    ASSERT_TRUE(Write(u"FULLPATH", u"/same"));
    EXPECT_EQ(dir.Read(ini), before);
    EXPECT_EQ(Read(u"REB_TIME"), u"12:30");
    ASSERT_TRUE(Write(u"REB_TIME", u"06:00"));
    EXPECT_EQ(dir.Read(ini), Utf16Bytes(u"[PX_SETTING]\r\nREB_TIME=06:00\r\n  FULLPATH = /same \r\n"));
}

// New lines end like the file's own lines.
TEST_F(ProfileFile, WrittenLinesEndLikeTheFile)
{
    const std::pair<std::string, std::string> cases[] = {
        {"[PX_SETTING]\rA=1\r", "[PX_SETTING]\rA=2\rB=3\r"},
        {"[PX_SETTING]\r\r\nA=1", "[PX_SETTING]\r\r\nA=2\r\r\nB=3\r\r\n"},
        {"[PX_SETTING]\nA=1\r\n", "[PX_SETTING]\nA=2\r\nB=3\n"},
        // A lone CR before the LF of a blank line would make one CR LF and lose that line:
        // the new line ends like the blank line instead.
        {"[PX_SETTING]\rA=1\n\n[OTHER]\n", "[PX_SETTING]\rA=2\nB=3\n\n[OTHER]\n"},
        {"[PX_SETTING]\rA=1\n\r\n[OTHER]\n", "[PX_SETTING]\rA=2\nB=3\r\n\r\n[OTHER]\n"},
    };
    for (const auto& [before, after] : cases) {
        dir.Write(ini, before);
        ASSERT_TRUE(px::WriteProfileStrings(ini, S, {{u"A", u"2"}, {u"B", u"3"}}));
        EXPECT_EQ(dir.Read(ini), after);
    }
}

TEST_F(ProfileFile, AnyUtf16UnitSurvivesAWriteAndARead)
{
    std::u16string value = u"\xD800"
                           u"x\xDFFF\xDBFF\xDC00\uFFFF\u0001|";
    // Around each end of the surrogate ranges, and the top of UTF-16.
    for (const auto& [first, last] :
        {std::pair{0xD7F0, 0xD810}, {0xDBF0, 0xDC10}, {0xDFF0, 0xE010}, {0xFF00, 0xFFFF}}) {
        for (int unit = first; unit < last; ++unit)
            value += static_cast<char16_t>(unit);
    }
    ASSERT_LE(value.size(), 499u);
    ASSERT_TRUE(Write(u"ARGS", value));
    EXPECT_EQ(Read(u"ARGS"), value);
    EXPECT_NE(dir.Read(ini).find("=\xED\xA0\x80x\xED\xBF\xBF\xF4\x8F\xB0\x80"), std::string::npos);

    dir.Write(ini, "\xFF\xFE");
    ASSERT_TRUE(Write(u"ARGS", value));
    EXPECT_EQ(Read(u"ARGS"), value);
}

// A tab in scrambled arguments becomes CR, U+FFFC becomes NUL: they must come back.
TEST_F(ProfileFile, LineBreakingUnitsInAValueKeepTheFileWhole)
{
    const std::u16string value(u"a\r\nb\0c\nd\r", 9);
    ASSERT_TRUE(Write(u"ARGS", value));
    ASSERT_TRUE(Write(u"NEXT", u"1"));
    EXPECT_EQ(dir.Read(ini),
        "[PX_SETTING]\r\nARGS=a\xC0\x8D\xC0\x8A"
        "b\xC0\x80"
        "c\xC0\x8A"
        "d\xC0\x8D\r\nNEXT=1\r\n");
    EXPECT_EQ(Read(u"ARGS"), value);
    EXPECT_EQ(Read(u"NEXT"), u"1");

    // A hand-made file with stray C0 bytes is no UTF-8: read as GBK, the intact lines read.
    dir.Write(ini, "[PX_SETTING]\nA=x\xC0y\nB=\xC0 \nC=z\n");
    EXPECT_EQ(Read(u"A"), u"x?");
    EXPECT_EQ(Read(u"B"), u"?");
    EXPECT_EQ(Read(u"C"), u"z");
}

TEST_F(ProfileFile, RefusedWritesLeaveThingsAsTheyWere)
{
    EXPECT_FALSE(px::WriteProfileString(dir.File("missing/config.ini"), S, u"K", u"v"));
    EXPECT_FALSE(px::WriteProfileString(u"", S, u"K", u"v"));
    // Something that exists but is no readable file is never replaced.
    dir.MakeFolder("config.ini");
    EXPECT_FALSE(Write(u"K", u"v"));
    EXPECT_FALSE(dir.Exists(ini));
    // Nor is a file that exists but cannot be read.
    dir.Write(dir.File("locked.ini"), "[PX_SETTING]\r\nK=old\r\n");
    dir.files.unreadable.insert(dir.File("locked.ini"));
    EXPECT_FALSE(px::WriteProfileString(dir.File("locked.ini"), S, u"K", u"v"));
    EXPECT_EQ(dir.Read(dir.File("locked.ini")), "[PX_SETTING]\r\nK=old\r\n");
}

}  // namespace
