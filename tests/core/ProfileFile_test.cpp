#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "MemoryFolder.h"
#include "TempDir.h"
#include "base/Unicode.h"
#include "settings/ProfileFile.h"

namespace {

using testsupport::U8;

constexpr char16_t S[] = u"PX_SETTING";

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

TEST_F(ProfileFile, IntegersReadWithDefaults)
{
    dir.Write(ini,
        "[PX_SETTING]\nA=60\nB=-5\nC=12abc\nD=abc\nE=\nF=99999999999\nG=-99999999999\nH=  +8  \n"
        "I=-2147483648\nJ=2147483648\nK=\"5\"\n");
    const std::pair<std::u16string, int32_t> cases[] = {
        {u"A", 60},
        {u"B", -5},
        {u"C", 12},
        {u"D", 0},
        {u"E", 0},
        {u"F", std::numeric_limits<int32_t>::max()},
        {u"G", std::numeric_limits<int32_t>::min()},
        {u"H", 8},
        {u"I", std::numeric_limits<int32_t>::min()},
        {u"J", std::numeric_limits<int32_t>::max()},
        {u"K", 0},  // quotes are kept, so no leading digits
        {u"MISSING", 77},
    };
    for (const auto& [key, value] : cases)
        EXPECT_EQ(px::ReadProfileInt(ini, S, key, 77), value) << px::ToUtf8(key);
    EXPECT_EQ(px::ReadProfileInt(dir.File("missing.ini"), S, u"A", 60), 60);
}

TEST_F(ProfileFile, ReadsEveryEncoding)
{
    const std::u16string path = u"/opt/中文/程序.exe";
    std::string utf16("\xFF\xFE");
    for (char16_t unit : u"[PX_SETTING]\r\nFULLPATH=/opt/中文/程序.exe\r\n" + std::u16string(1, u'\xD800')) {
        utf16 += static_cast<char>(unit & 0xFF);
        utf16 += static_cast<char>(unit >> 8);
    }
    utf16 += 'x';  // a cut last unit
    const std::pair<std::string, const char*> files[] = {
        {U8(u8"[PX_SETTING]\nFULLPATH=/opt/中文/程序.exe\n"), "UTF-8"},
        {"\xEF\xBB\xBF" + U8(u8"[PX_SETTING]\nFULLPATH=/opt/中文/程序.exe\n"), "UTF-8 with BOM"},
        {utf16, "UTF-16LE"},
        {"[PX_SETTING]\r\nFULLPATH=/opt/\xD6\xD0\xCE\xC4/\xB3\xCC\xD0\xF2.exe\r\n", "GBK"},
    };
    for (const auto& [bytes, name] : files) {
        dir.Write(ini, bytes);
        EXPECT_EQ(Read(u"FULLPATH"), path) << name;
    }
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
        {"\xEF\xBB", u"<default>"},
        {std::string("\0\0\0\0[PX_SETTING]\0FULLPATH=x", 27), u"<default>"},
        {"[PX_SETTING", u"<default>"},
        {"[PX_SETTING]\nFULLPATH", u"<default>"},
        {"[PX_SETTING]\nFULLPATH=/opt/app", u"/opt/app"},  // no line end at the end
        {"[PX_SETTING]\rFULLPATH=/opt/app\r", u"<default>"},  // CR alone ends no line
        // Cut inside a GBK character: neither UTF-8 nor GBK, read with the stray bytes kept apart.
        {"[PX_SETTING]\r\nFULLPATH=/opt/\xD6\xD0\xCE", u"/opt/\xDCD6\xDCD0\xDCCE"},
        // Neither UTF-8 nor GBK: the intact lines still read.
        {"[PX_SETTING]\nJUNK=\xFF\x80\xFF\nFULLPATH=/opt/app\n", u"/opt/app"},
    };
    for (const Case& c : cases) {
        dir.Write(ini, c.bytes);
        EXPECT_EQ(Read(u"FULLPATH"), c.fullPath);
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

TEST_F(ProfileFile, EncodingsAreKeptOrMadeUtf8)
{
    // UTF-16LE stays UTF-16LE.
    dir.Write(ini, std::string("\xFF\xFE[\0P\0X\0_\0S\0E\0T\0T\0I\0N\0G\0]\0\r\0\n\0", 30));
    ASSERT_TRUE(Write(u"K", u"\u4e2d"));
    EXPECT_EQ(
        dir.Read(ini), std::string("\xFF\xFE[\0P\0X\0_\0S\0E\0T\0T\0I\0N\0G\0]\0\r\0\n\0K\0=\0\x2d\x4e\r\0\n\0", 40));

    // UTF-8 with BOM keeps its BOM.
    dir.Write(ini, "\xEF\xBB\xBF[PX_SETTING]\r\n");
    ASSERT_TRUE(Write(u"K", u"v"));
    EXPECT_EQ(dir.Read(ini), "\xEF\xBB\xBF[PX_SETTING]\r\nK=v\r\n");

    // GBK becomes UTF-8, its text unchanged.
    dir.Write(ini, "; \xD6\xD0\xCE\xC4\r\n[PX_SETTING]\r\nFULLPATH=/opt/\xD6\xD0\xCE\xC4\r\n");
    ASSERT_TRUE(Write(u"K", u"v"));
    EXPECT_EQ(dir.Read(ini), U8(u8"; 中文\r\n[PX_SETTING]\r\nFULLPATH=/opt/中文\r\nK=v\r\n"));
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

    // A hand-made file with a stray C0 is no UTF-8; the intact lines still read.
    dir.Write(ini, "[PX_SETTING]\nA=x\xC0y\nB=\xC0\n");
    EXPECT_EQ(Read(u"A"), u"x\xDCC0y");
    EXPECT_EQ(Read(u"B"), u"\xDCC0");

    // UTF-16 has no spare form: there they become spaces.
    dir.Write(ini, "\xFF\xFE");
    ASSERT_TRUE(Write(u"ARGS", value));
    EXPECT_EQ(Read(u"ARGS"), u"a  b c d");
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
