#include <gtest/gtest.h>

#include <string>

#include "MemoryFolder.h"
#include "PlatformPath.h"
#include "ProfileRead.h"
#include "TempDir.h"
#include "base/Unicode.h"
#include "settings/GuardConfig.h"
#include "settings/ProfileFile.h"
#include "settings/Scramble.h"

namespace {

using testsupport::PlatformPath;
using testsupport::U8;

class GuardConfigFile : public ::testing::Test {
protected:
    testsupport::MemoryFolder dir;
    const std::u16string ini = dir.File("config.ini");

    std::u16string StoredArgs() const { return px::ReadProfileString(ini, SETTINGS_SECTION, u"ARGS", u""); }
};

GuardConfig SampleConfig()
{
    GuardConfig config;
    config.strFullPath = u"/opt/中文/ibgateway";
    config.strArgs = u"--user=demo \"/a b/x.ini\"";
    config.strPassword = u"pässwörd";
    config.strExeName = u"ibgateway.exe";
    config.nLoopSec = 15;
    config.bTimedClose = true;
    config.strRebTime = u"12:30;06:00";
    return config;
}

void ExpectSameConfig(const GuardConfig& a, const GuardConfig& b)
{
    EXPECT_EQ(a.strFullPath, b.strFullPath);
    EXPECT_EQ(a.strArgs, b.strArgs);
    EXPECT_EQ(a.strPassword, b.strPassword);
    EXPECT_EQ(a.bArgsCrypt, b.bArgsCrypt);
    EXPECT_EQ(a.strExeName, b.strExeName);
    EXPECT_EQ(a.nLoopSec, b.nLoopSec);
    EXPECT_EQ(a.bTimedClose, b.bTimedClose);
    EXPECT_EQ(a.strRebTime, b.strRebTime);
    EXPECT_EQ(a.strUnreadableArgs, b.strUnreadableArgs);
    EXPECT_EQ(a.probes, b.probes);
    EXPECT_EQ(a.bBackoff, b.bBackoff);
    EXPECT_EQ(a.nBackoffMaxSec, b.nBackoffMaxSec);
    EXPECT_EQ(a.nMinUptimeSec, b.nMinUptimeSec);
    EXPECT_EQ(a.bNotify, b.bNotify);
    EXPECT_EQ(a.strEventCmd, b.strEventCmd);
    EXPECT_EQ(a.gateway, b.gateway);
    EXPECT_EQ(a.strMetricsFile, b.strMetricsFile);
}

// The cases of the path cut are in Paths_test.cpp.
TEST(GuardConfigPaths, IniFileIsConfigIniBesideTheExecutable)
{
    EXPECT_EQ(IniPathForModule(PlatformPath(u"/opt/perennix/perennix")), PlatformPath(u"/opt/perennix/config.ini"));
}

TEST(GuardConfigNames, OnlyAsciiLettersAreLowerCased)
{
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"IBGateway.EXE", u"ibgateway.exe"},
        {u"AZaz@[`{", u"azaz@[`{"},
        {u"\u00C0\u00C9\u00DE", u"\u00C0\u00C9\u00DE"},
        {u"\u0130\u0100\u0410\u4E2D", u"\u0130\u0100\u0410\u4E2D"},
        {u"\xD800X", u"\xD800x"},
        {u"", u""},
    };
    for (const auto& [name, lower] : cases)
        EXPECT_EQ(LowerImageName(name), lower);
}

TEST_F(GuardConfigFile, MissingFileGivesEveryDefault)
{
    const StoredSettings stored = ReadStoredSettings(ini);
    ExpectSameConfig(stored.config,
        GuardConfig{{u"", u"", u"", false, u"", 60, false, u"0", std::nullopt}, {}, true, 300, 10, true, u"", u"", {}});
    EXPECT_FALSE(stored.bAutoStart);
    EXPECT_FALSE(dir.Exists(ini));
}

TEST_F(GuardConfigFile, ReadsEveryKey)
{
    dir.Write(ini,
        U8(u8"[PX_SETTING]\r\n"
           "FULLPATH=/opt/App/run.sh\r\n"
           "EXE_NAME=Run.SH\u00C0\r\n"
           "REB_TIME=\r\n"
           "ARGS=--Plain @ text\r\n"
           "ARGSCRYPT=0\r\n"
           "LOOPSEC=-7\r\n"
           "ISTIMEDCLOSE=2\r\n"
           "AUTOSTART=1\r\n"));
    const StoredSettings stored = ReadStoredSettings(ini);
    ExpectSameConfig(stored.config,
        GuardConfig{{u"/opt/App/run.sh", u"--Plain @ text", u"", false, u"run.sh\u00C0", -7, true, u"", std::nullopt},
            {}, true, 300, 10, true, u"", u"", {}});
    EXPECT_TRUE(stored.bAutoStart);
}

TEST_F(GuardConfigFile, ReadsTheKeysOfWhatHappensWhenTheProgramDies)
{
    dir.Write(ini,
        U8(u8"[PX_SETTING]\r\n"
           "LOOPSEC=1\r\n"
           "BACKOFF=0\r\n"
           "BACKOFF_MAX_SEC=600\r\n"
           "MIN_UPTIME_SEC=30\r\n"
           "NOTIFY=0\r\n"
           "EVENT_CMD=/opt/事件/notify\r\n"
           "METRICS_FILE=/var/lib/node_exporter/perennix.prom\r\n"));
    const StoredSettings stored = ReadStoredSettings(ini);
    ExpectSameConfig(stored.config,
        GuardConfig{{u"", u"", u"", false, u"", 1, false, u"0", std::nullopt}, {}, false, 600, 30, false,
            u"/opt/事件/notify", u"/var/lib/node_exporter/perennix.prom", {}});
    // A save of the settings the window shows leaves them as they are.
    ASSERT_TRUE(WriteGuardConfig(ini, stored.config));
    ExpectSameConfig(ReadStoredSettings(ini).config, stored.config);
}

TEST_F(GuardConfigFile, FreshWriteHasTheKeysInOrder)
{
    GuardConfig config = SampleConfig();
    config.nLoopSec = -5;
    ASSERT_TRUE(WriteGuardConfig(ini, config));
    EXPECT_EQ(dir.Read(ini),
        U8(u8"[PX_SETTING]\r\n"
           "REB_TIME=12:30;06:00\r\n"
           "FULLPATH=/opt/中文/ibgateway\r\n"
           "EXE_NAME=ibgateway.exe\r\n"
           "ARGS=--user=demo \"/a b/x.ini\"\r\n"
           "ARGSCRYPT=0\r\n"
           "LOOPSEC=-5\r\n"
           "ISTIMEDCLOSE=1\r\n"));

    const StoredSettings stored = ReadStoredSettings(ini);
    config.strPassword.clear();  // not stored while scrambling is off
    ExpectSameConfig(stored.config, config);
}

TEST_F(GuardConfigFile, AutoStartIsWrittenAloneAndKeepsItsPlace)
{
    ASSERT_TRUE(WriteAutoStart(ini, true));
    EXPECT_EQ(dir.Read(ini), "[PX_SETTING]\r\nAUTOSTART=1\r\n");
    EXPECT_TRUE(ReadStoredSettings(ini).bAutoStart);

    ASSERT_TRUE(WriteGuardConfig(ini, SampleConfig()));
    ASSERT_TRUE(WriteAutoStart(ini, false));
    const std::string bytes = dir.Read(ini);
    EXPECT_EQ(bytes.rfind("[PX_SETTING]\r\nAUTOSTART=0\r\nREB_TIME=", 0), 0u) << bytes;
    EXPECT_FALSE(ReadStoredSettings(ini).bAutoStart);
}

TEST_F(GuardConfigFile, ScrambledArgsRoundTripWithTheirPassword)
{
    GuardConfig config = SampleConfig();
    config.bArgsCrypt = true;
    ASSERT_TRUE(WriteGuardConfig(ini, config));

    const std::u16string stored = StoredArgs();
    EXPECT_EQ(stored.size(), 2 * config.strArgs.size() + 85);
    EXPECT_EQ(stored.find(config.strArgs), std::u16string::npos);
    EXPECT_EQ(UnscrambleText(stored.substr(0, 60)), config.strPassword);
    EXPECT_EQ(UnscrambleText(stored.substr(60)), config.strArgs);
    EXPECT_EQ(px::ReadProfileInt(ini, SETTINGS_SECTION, u"ARGSCRYPT", 0), 1);

    ExpectSameConfig(ReadStoredSettings(ini).config, config);
}

TEST_F(GuardConfigFile, ScrambledArgsKeepCharactersAboveFffb)
{
    GuardConfig config = SampleConfig();
    config.bArgsCrypt = true;
    config.strArgs = u"\uFFFB\uFFFC\uFFFD\uFFFE\uFFFF\xD800\u4E2D{|}~";
    config.strPassword = u"\uFFFF\uFFFC";
    ASSERT_TRUE(WriteGuardConfig(ini, config));
    ExpectSameConfig(ReadStoredSettings(ini).config, config);
}

// The arguments start at character 75 to 84 of the stored value, and a read keeps 499
// characters: 415 always come back whole, longer ones may be cut.
TEST_F(GuardConfigFile, LongArgsComeBackWholePlainOrScrambled)
{
    GuardConfig config = SampleConfig();
    for (const size_t length : {415u, 480u, 2000u, 20000u}) {
        for (const bool scrambled : {false, true}) {
            config.bArgsCrypt = scrambled;
            config.strArgs = std::u16string(length, u'b');
            config.strArgs[length / 2] = u'中';
            ASSERT_TRUE(WriteGuardConfig(ini, config));
            const GuardConfig read = ReadStoredSettings(ini).config;
            EXPECT_EQ(read.strArgs, config.strArgs) << length << " " << scrambled;
            EXPECT_EQ(read.strPassword, scrambled ? config.strPassword : u"");
        }
    }
}

TEST_F(GuardConfigFile, ScrambleFlagOverMalformedArgs)
{
    struct Case {
        std::string args;
        std::u16string password;
        std::u16string arguments;
        bool unreadable;  // kept as stored for the next save
    };
    const std::u16string passwordOnly = ScrambleTextSeeded(u"pw", 60, 1);
    const Case cases[] = {
        {"", u"", u"", false},
        {"plain", u"", u"", true},  // 60 characters or fewer
        {std::string(60, 'q'), u"", u"", true},
        {std::string(61, 'q'), u"", u"", true},  // plain text with no terminator after the shift
        {std::string(600, '9'), u"", u"", true},
        {px::ToUtf8(passwordOnly), u"pw", u"", false},  // no arguments' field: no arguments
        {px::ToUtf8(passwordOnly + u"x"), u"pw", u"", true},
        // A damaged password's field alone loses no arguments.
        {std::string(60, 'q') + px::ToUtf8(ScrambleTextSeeded(u"--y", 0, 2)), u"", u"--y", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        dir.Write(ini, "[PX_SETTING]\r\nARGSCRYPT=1\r\nARGS=" + c.args + "\r\n");
        const GuardConfig config = ReadStoredSettings(ini).config;
        EXPECT_TRUE(config.bArgsCrypt);
        EXPECT_EQ(config.strPassword, c.password);
        EXPECT_EQ(config.strArgs, c.arguments);
        EXPECT_EQ(config.strUnreadableArgs, c.unreadable ? std::optional(px::FromUtf8(c.args)) : std::nullopt);

        // Written back as stored while the arguments stay empty and scrambled.
        ASSERT_TRUE(WriteGuardConfig(ini, config));
        if (c.unreadable) {
            EXPECT_EQ(StoredArgs(), px::FromUtf8(c.args));
        } else {
            EXPECT_EQ(ReadScrambledText(StoredArgs().substr(0, 60)), c.password);
            EXPECT_EQ(ReadScrambledText(StoredArgs().substr(60)), c.arguments);
        }
        GuardConfig typed = config;
        typed.strArgs = u"--x";
        ASSERT_TRUE(WriteGuardConfig(ini, typed));
        EXPECT_EQ(UnscrambleText(StoredArgs().substr(60)), u"--x");
        GuardConfig plain = config;
        plain.bArgsCrypt = false;
        ASSERT_TRUE(WriteGuardConfig(ini, plain));
        EXPECT_EQ(StoredArgs(), c.arguments);
    }
}

TEST_F(GuardConfigFile, PasswordFieldSplitsAtExactlySixty)
{
    // A password field followed by arguments scrambled on their own.
    const std::u16string args = ScrambleTextSeeded(u"pw", 60, 1) + ScrambleTextSeeded(u"--x", 0, 2);
    ASSERT_TRUE(px::WriteProfileString(ini, SETTINGS_SECTION, u"ARGS", args));
    ASSERT_TRUE(px::WriteProfileString(ini, SETTINGS_SECTION, u"ARGSCRYPT", u"1"));
    const GuardConfig config = ReadStoredSettings(ini).config;
    EXPECT_EQ(config.strPassword, u"pw");
    EXPECT_EQ(config.strArgs, u"--x");
}

TEST_F(GuardConfigFile, FailedWritesAreReported)
{
    EXPECT_FALSE(WriteGuardConfig(dir.File("missing/config.ini"), SampleConfig()));
    EXPECT_FALSE(WriteAutoStart(dir.File("missing/config.ini"), true));
    dir.MakeFolder("config.ini");
    EXPECT_FALSE(WriteGuardConfig(ini, SampleConfig()));
}

// A load reads the file once for all its keys, a save once before its one replacement.
TEST_F(GuardConfigFile, OneReadPerLoadAndPerSave)
{
    ASSERT_TRUE(WriteGuardConfig(ini, SampleConfig()));
    dir.files.reads = 0;
    dir.files.writes = 0;
    ReadStoredSettings(ini);
    EXPECT_EQ(dir.files.reads, 1);
    ASSERT_TRUE(WriteGuardConfig(ini, SampleConfig()));
    EXPECT_EQ(dir.files.reads, 2);
    EXPECT_EQ(dir.files.writes, 1);
}

// Scrambling turns a tab into CR: in a UTF-16 file such a password must still come back.
TEST_F(GuardConfigFile, ScrambledTabsSurviveAUtf16File)
{
    dir.Write(ini, std::string("\xFF\xFE[\0P\0X\0_\0S\0E\0T\0T\0I\0N\0G\0]\0\r\0\n\0", 30));
    GuardConfig config = SampleConfig();
    config.bArgsCrypt = true;
    config.strPassword = u"pass\tword";
    config.strArgs = u"--a\tb";
    ASSERT_TRUE(WriteGuardConfig(ini, config));
    ExpectSameConfig(ReadStoredSettings(ini).config, config);
}

// A GBK file from a Chinese Windows system reads as Windows reads it, also when its bytes
// happen to be well-formed UTF-8, and a save keeps it GBK.
TEST_F(GuardConfigFile, WindowsGbkFileReadsAndStaysGbk)
{
    dir.Write(ini, "[PX_SETTING]\r\nFULLPATH=D:\\\xCA\xB5\xCA\xB1\\\xCF\xB5\xCD\xB3.exe\r\nLOOPSEC=\"30\"\r\n");
    GuardConfig config = ReadStoredSettings(ini).config;
    EXPECT_EQ(config.strFullPath, u"D:\\实时\\系统.exe");
    EXPECT_EQ(config.nLoopSec, 30);
    config.strExeName = u"系统.exe";
    ASSERT_TRUE(WriteGuardConfig(ini, config));
    EXPECT_NE(dir.Read(ini).find("EXE_NAME=\xCF\xB5\xCD\xB3.exe\r\n"), std::string::npos);
    EXPECT_EQ(ReadStoredSettings(ini).config.strFullPath, u"D:\\实时\\系统.exe");
}

TEST_F(GuardConfigFile, CanOpenForReadingNamesReadableFilesOnly)
{
    dir.Write(dir.File("app.exe"), "MZ");
    EXPECT_TRUE(CanOpenForReading(dir.File("app.exe")));
    EXPECT_FALSE(CanOpenForReading(dir.File("missing.exe")));
    EXPECT_FALSE(CanOpenForReading(dir.Path()));
    EXPECT_FALSE(CanOpenForReading(u""));
    // A NUL would cut the path short for the system: never a readable path.
    EXPECT_FALSE(CanOpenForReading(dir.File("app.exe") + std::u16string(1, u'\0') + u"/junk"));
}

}  // namespace

TEST_F(GuardConfigFile, ProbeKeysAreWrittenOnlyOnceSetAndReadBackClamped)
{
    // Default probes add no key: the file is what it always was.
    ASSERT_TRUE(WriteGuardConfig(ini, SampleConfig()));
    EXPECT_EQ(dir.Read(ini).find("PROBE_"), std::string::npos);
    EXPECT_EQ(dir.Read(ini).find("STOP_TIMEOUT_SEC"), std::string::npos);

    GuardConfig config = SampleConfig();
    config.probes.strTcp = u"127.0.0.1:4001";
    config.probes.nStopTimeoutSec = 20;
    ASSERT_TRUE(WriteGuardConfig(ini, config));
    EXPECT_NE(
        dir.Read(ini).find("ISTIMEDCLOSE=1\r\nPROBE_TCP=127.0.0.1:4001\r\nSTOP_TIMEOUT_SEC=20\r\n"), std::string::npos)
        << dir.Read(ini);
    EXPECT_EQ(ReadStoredSettings(ini).config.probes, config.probes);

    // Set back to its default, a key the file has is written again, not left stale.
    config.probes.nStopTimeoutSec = 0;
    ASSERT_TRUE(WriteGuardConfig(ini, config));
    EXPECT_NE(dir.Read(ini).find("STOP_TIMEOUT_SEC=0\r\n"), std::string::npos);
    EXPECT_EQ(ReadStoredSettings(ini).config.probes.nStopTimeoutSec, 0);

    // Hand-edited numbers out of range are moved into it.
    dir.Write(ini,
        "[PX_SETTING]\r\nPROBE_WINDOW=1\r\nPROBE_FAILS=0\r\nPROBE_GRACE_SEC=-5\r\nSTOP_TIMEOUT_SEC=99999\r\n"
        "PROBE_FILE=/run/hb\r\nPROBE_FILE_SEC=0\r\n");
    const ProbeSettings probes = ReadStoredSettings(ini).config.probes;
    EXPECT_TRUE(probes.bWindow);
    EXPECT_EQ(probes.nFails, kMinFails);
    EXPECT_EQ(probes.nGraceSec, 0);
    EXPECT_EQ(probes.nStopTimeoutSec, kMaxStopTimeoutSec);
    EXPECT_EQ(probes.strFile, u"/run/hb");
    EXPECT_EQ(probes.nFileSec, kMinFileSec);
}

TEST_F(GuardConfigFile, GatewayKeysAreReadAndOnlyTheWindowsOnesWritten)
{
    ASSERT_TRUE(WriteGuardConfig(ini, SampleConfig()));
    for (const char* key : {"GATEWAY", "MATCH_CMDLINE", "GW_"})
        EXPECT_EQ(dir.Read(ini).find(key), std::string::npos) << key;

    dir.Write(ini,
        U8(u8"[PX_SETTING]\r\nEXE_NAME=java\r\nGATEWAY=1\r\nMATCH_CMDLINE=ibgateway\r\n"
           "GW_CONFIRM=Disclaimer;Accept\r\nGW_RESTART=Existing session detected\r\n"
           "GW_ALERT=Second Factor Authentication\r\nGW_LOGIN_SEC=99999999\r\nGW_LOGIN_TITLE=登录\r\n"));
    const GuardConfig config = ReadStoredSettings(ini).config;
    EXPECT_TRUE(config.gateway.bGateway);
    EXPECT_EQ(config.gateway.strMatchCmdline, u"ibgateway");
    EXPECT_EQ(config.gateway.strConfirm, u"Disclaimer;Accept");
    EXPECT_EQ(config.gateway.strRestart, u"Existing session detected");
    EXPECT_EQ(config.gateway.strAlert, u"Second Factor Authentication");
    EXPECT_EQ(config.gateway.nLoginSec, kMaxLoginSec) << "moved into its range";
    EXPECT_EQ(config.gateway.strLoginTitle, u"登录");
    EXPECT_EQ(ReadStoredSettings(ini + u"-missing").config.gateway, GatewaySettings{});

    // A save writes the window's three keys; the title lists stay as the user wrote them.
    GuardConfig changed = config;
    changed.gateway.strMatchCmdline = u"IBC";
    changed.gateway.nLoginSec = 180;
    ASSERT_TRUE(WriteGuardConfig(ini, changed));
    const std::string text = dir.Read(ini);
    EXPECT_NE(text.find("MATCH_CMDLINE=IBC\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("GW_LOGIN_SEC=180\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("GW_CONFIRM=Disclaimer;Accept\r\n"), std::string::npos) << text;
    EXPECT_EQ(ReadStoredSettings(ini).config.gateway, changed.gateway);
}

TEST(ProbeSettingsText, TcpTargets)
{
    const struct {
        std::u16string text;
        std::optional<TcpTarget> target;
    } cases[] = {
        {u"4001", TcpTarget{u"127.0.0.1", 4001}},
        {u" 127.0.0.1:4001 ", TcpTarget{u"127.0.0.1", 4001}},
        {u"localhost:7497", TcpTarget{u"127.0.0.1", 7497}},
        {u"10.0.0.255:65535", TcpTarget{u"10.0.0.255", 65535}},
        {u"127.0.0.1:0", std::nullopt},
        {u"127.0.0.1:65536", std::nullopt},
        {u"127.0.0.1:", std::nullopt},
        {u"127.0.0.1", std::nullopt},
        {u"256.0.0.1:80", std::nullopt},
        {u"1.2.3:80", std::nullopt},
        {u"1.2.3.4.5:80", std::nullopt},
        {u"gateway.example:4001", std::nullopt},
        {u"127.0.0.1:40a1", std::nullopt},
        {u"-1", std::nullopt},
        {u"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseTcpTarget(c.text), c.target) << px::ToUtf8(c.text);
}
