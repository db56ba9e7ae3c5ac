// Start-up, the settings handlers, the scramble switch, the window handlers and the tray,
// run on the scripted host.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "PlatformPath.h"
#include "ProgramFixture.h"
#include "TestGbk.h"
#include "log/LogEntry.h"
#include "settings/Scramble.h"

using namespace fake;
using testsupport::kOtherSeparator;
using testsupport::PlatformPath;

namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// The value of key in config.ini's text (first occurrence), or "<missing>".
std::string IniValue(const std::string& ini, const std::string& key)
{
    for (const std::string& line : Lines(ini))
        if (line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    return "<missing>";
}

using DialogTest = ProgramTest;

// The entries the main window adds to its own menu, in order.
const std::vector<std::pair<std::u16string, unsigned>> kWindowMenu
    = {{u"高级设置(&S)...", IDM_SETTINGS}, {u"关于 Perennix(&A)...", IDM_ABOUTBOX}};

TEST_F(DialogTest, FreshStartShowsDefaultsAndWritesTheLog)
{
    const bool result = Run([&](FakeWindow& w) {
        EXPECT_EQ(w.Text(IDC_FULLPATH), u"");
        EXPECT_EQ(w.Text(IDC_EXENAME), u"");
        EXPECT_EQ(w.Text(IDC_ARGS), u"");
        EXPECT_EQ(w.Text(IDC_LOOPSEC), u"60");
        EXPECT_EQ(w.Text(IDC_REBTIME), u"00:00");
        EXPECT_EQ(w.Text(IDC_STATUS), u"未启用");
        EXPECT_EQ(w.Text(IDC_START), u"开始");
        for (int id : {IDC_TIMEDCLOSE, IDC_ARGSCRYPT, IDC_AUTOSTART})
            EXPECT_FALSE(w.Checked(id)) << id;
        EXPECT_TRUE(w.Enabled(IDC_REBTIME));
        EXPECT_EQ(w.Item(IDC_ARGS).passwordChar, 0);
        EXPECT_TRUE(w.visible);
        EXPECT_FALSE(w.trayIconPresent);
        // The 高级设置 and About entries, the icons and the tray record.
        EXPECT_EQ(w.systemMenu, kWindowMenu);
        EXPECT_EQ(w.iconsSet, (std::vector<std::pair<IconId, bool>>{{IDR_MAINFRAME, true}, {IDR_MAINFRAME, false}}));
        const NotifyIconData& nid = MainDialog(w).TrayRecord();
        EXPECT_EQ(nid.cbSize, 956u);
        EXPECT_EQ(nid.hWnd, &w);
        EXPECT_EQ(nid.uID, 128u);
        EXPECT_EQ(nid.uFlags, 7u);
        EXPECT_EQ(nid.uCallbackMessage, 1125u);
        EXPECT_EQ(nid.hIcon, IDR_MAINFRAME);
        EXPECT_EQ(nid.szTip, u"Perennix");
        EXPECT_EQ(MainDialog(w).IniPath(), IniPath());
    });
    EXPECT_FALSE(result);
    EXPECT_FALSE(IniExists());  // nothing is written without a save
    const std::vector<std::string> lines = Lines(Log());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(0, 9), "---------");
    EXPECT_EQ(lines[0].substr(lines[0].size() - 11), "-----------");
    EXPECT_EQ(lines[1].substr(0, 23), "2026-03-10 12:00:00.000");
    EXPECT_EQ(testsupport::GbkToUtf8(lines[1].substr(23)), "->对话框初始化完成。。。");
}

TEST_F(DialogTest, StoredSettingsFillTheControlsAndTheStoredImageNameWins)
{
    const std::u16string program = MakeProgram("bin/Server.exe");
    WriteIni("[PX_SETTING]\r\nFULLPATH=" + px::ToUtf8(program)
        + "\r\nEXE_NAME=Other.EXE\r\nLOOPSEC=-7\r\nISTIMEDCLOSE=1\r\nREB_TIME=12:30;06:00\r\nARGS=--a \"b c\"\r\n");
    Run([&](FakeWindow& w) {
        EXPECT_EQ(w.Text(IDC_FULLPATH), program);
        EXPECT_EQ(w.Text(IDC_EXENAME), u"other.exe");
        // The path's own file name was shown first, then replaced.
        EXPECT_EQ(w.Item(IDC_EXENAME).history, (std::vector<std::u16string>{u"Server.exe", u"other.exe"}));
        EXPECT_EQ(w.Text(IDC_LOOPSEC), u"-7");
        EXPECT_TRUE(w.Checked(IDC_TIMEDCLOSE));
        EXPECT_EQ(w.Text(IDC_REBTIME), u"12:30;06:00");
        EXPECT_EQ(w.Text(IDC_ARGS), u"--a \"b c\"");
        EXPECT_EQ(MainDialog(w).Config().strExeName, u"other.exe");
    });
}

TEST_F(DialogTest, SaveTakesTheControlsAndWritesTheSevenKeysInOrder)
{
    const std::u16string program = MakeProgram("app.bin");
    Run([&](FakeWindow& w) {
        w.Type(IDC_FULLPATH, program);
        EXPECT_EQ(w.Text(IDC_EXENAME), u"app.bin");  // derived from the path
        w.Type(IDC_EXENAME, u"MyApp.EXE");
        w.Type(IDC_LOOPSEC, u"12abc");
        w.Type(IDC_ARGS, u"-v");
        w.Click(IDC_SAVE);
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].text, u"保存成功！");
        EXPECT_EQ(host.boxes[0].caption, u"提示");
        EXPECT_EQ(host.boxes[0].type, MB_OK);
        // The record is lower case, the edit keeps what was typed.
        EXPECT_EQ(MainDialog(w).Config().strExeName, u"myapp.exe");
        EXPECT_EQ(w.Text(IDC_EXENAME), u"MyApp.EXE");
    });
    const std::string ini = Ini();
    std::vector<std::string> keys;
    for (const std::string& line : Lines(ini)) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            keys.push_back(line.substr(0, eq));
    }
    EXPECT_EQ(keys,
        (std::vector<std::string>{"REB_TIME", "FULLPATH", "EXE_NAME", "ARGS", "ARGSCRYPT", "LOOPSEC", "ISTIMEDCLOSE"}));
    EXPECT_EQ(IniValue(ini, "REB_TIME"), "00:00");  // "0" was shown as 00:00 and saved as shown
    EXPECT_EQ(IniValue(ini, "EXE_NAME"), "myapp.exe");
    EXPECT_EQ(IniValue(ini, "LOOPSEC"), "12");
    EXPECT_EQ(IniValue(ini, "ARGS"), "-v");
    EXPECT_EQ(IniValue(ini, "ARGSCRYPT"), "0");
    EXPECT_EQ(IniValue(ini, "ISTIMEDCLOSE"), "0");
}

TEST_F(DialogTest, IntervalTextIsReadLikeALeadingInteger)
{
    const std::u16string program = MakeProgram("app.bin");
    const std::pair<std::u16string, std::string> cases[]
        = {{u"abc", "0"}, {u"12abc", "12"}, {u"-5", "-5"}, {u"0", "0"}, {u"99999999999", "2147483647"}};
    for (const auto& [typed, stored] : cases) {
        Run([&](FakeWindow& w) {
            w.Type(IDC_FULLPATH, program);
            w.Type(IDC_LOOPSEC, typed);
            w.Click(IDC_SAVE);
        });
        EXPECT_EQ(IniValue(Ini(), "LOOPSEC"), stored) << px::ToUtf8(typed);
    }
}

// Long argument lists, plain and scrambled, survive a save, a restart and the launch whole.
TEST_F(DialogTest, LongArgumentsSurviveSaveRestartAndLaunchByteForByte)
{
    std::u16string args;
    for (int i = 0; args.size() < 2000; ++i)
        args += u"--opt" + px::FromUtf8(std::to_string(i)) + u"=值 ";
    args.resize(2000);
    const std::u16string program = MakeProgram("app.exe");
    for (const bool scrambled : {false, true}) {
        SCOPED_TRACE(scrambled);
        Run([&](FakeWindow& w) {
            w.Type(IDC_FULLPATH, program);
            w.Type(IDC_EXENAME, u"app.exe");
            w.Type(IDC_ARGS, args);
            if (scrambled && !w.Checked(IDC_ARGSCRYPT)) {
                host.OnModal(IDD_PASSWD, [](FakeWindow& p) {
                    p.Type(IDC_PASSWD, u"hunter22");
                    p.Click(IDOK);
                });
                w.Click(IDC_ARGSCRYPT);
            }
            w.Click(IDC_SAVE);
            EXPECT_EQ(MainDialog(w).Config().strArgs, args);
        });
        EXPECT_EQ(IniValue(Ini(), "ARGSCRYPT"), scrambled ? "1" : "0");
        system.shellLaunches.clear();
        Run([&](FakeWindow& w) {
            EXPECT_EQ(w.Text(IDC_ARGS), args);
            host.boxAnswers.push_back({IDOK});
            w.Click(IDC_START);
        });
        ASSERT_EQ(system.shellLaunches.size(), 1u);
        EXPECT_EQ(system.shellLaunches[0].parameters, args);
        // The start saved again: still whole.
        Run([&](FakeWindow& w) { EXPECT_EQ(MainDialog(w).Config().strArgs, args); });
    }
}

TEST_F(DialogTest, SaveRefusesAProgramPathThatCannotBeOpened)
{
    for (const std::u16string& path : {std::u16string(), PlatformPath(u"/nonexistent/app.exe"), folderPath}) {
        host.boxes.clear();
        Run([&](FakeWindow& w) {
            w.Type(IDC_FULLPATH, path);
            w.Type(IDC_EXENAME, u"app.exe");
            w.Click(IDC_SAVE);
            ASSERT_EQ(host.boxes.size(), 1u);
            EXPECT_EQ(host.boxes[0].text, u"未设置路径，或者设置路径不对，请检查！");
            // The record keeps what was taken from the controls.
            EXPECT_EQ(MainDialog(w).Config().strExeName, u"app.exe");
        });
        EXPECT_FALSE(IniExists()) << px::ToUtf8(path);
    }
}

TEST_F(DialogTest, AFailedWriteIsReportedButStillGuards)
{
    const std::u16string program = MakeProgram("app.exe");
    files.unwritable.insert(IniPath());  // the disk refuses the file
    Run([&](FakeWindow& w) {
        w.Type(IDC_FULLPATH, program);
        w.Click(IDC_SAVE);
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].text, u"保存失败，无法写入配置文件！");
        EXPECT_EQ(host.boxes[0].caption, u"提示");
        EXPECT_EQ(host.boxes[0].type, MB_OK);
        host.boxAnswers.push_back({IDOK});
        w.Click(IDC_START);
        EXPECT_TRUE(MainDialog(w).IsGuarding());
    });
    EXPECT_EQ(system.shellLaunches.size(), 1u);
}

TEST_F(DialogTest, StartOnLaunchBoxWritesItsKeyAloneAtOnce)
{
    Run([&](FakeWindow& w) {
        w.Click(IDC_AUTOSTART);
        EXPECT_EQ(Lines(Ini()), (std::vector<std::string>{"[PX_SETTING]", "AUTOSTART=1"}));
        EXPECT_FALSE(MainDialog(w).IsAutoStart());  // the run keeps what it started with
        w.Click(IDC_AUTOSTART);
        EXPECT_EQ(IniValue(Ini(), "AUTOSTART"), "0");
    });
}

TEST_F(DialogTest, ScrambledArgumentsAreStoredHiddenAndComeBackMasked)
{
    const std::u16string program = MakeProgram("app.exe");
    const std::u16string args = u"--user trader --password s3cr€t";
    Run([&](FakeWindow& w) {
        w.Type(IDC_FULLPATH, program);
        w.Type(IDC_ARGS, args);
        host.OnModal(IDD_PASSWD, [](FakeWindow& p) {
            p.Type(IDC_PASSWD, u"hunter22");
            p.Click(IDOK);
        });
        w.Click(IDC_ARGSCRYPT);
        w.Click(IDC_SAVE);
    });
    const std::u16string stored = px::FromUtf8(IniValue(Ini(), "ARGS"));
    EXPECT_EQ(IniValue(Ini(), "ARGSCRYPT"), "1");
    EXPECT_EQ(stored.size(), 2 * args.size() + 85);
    EXPECT_EQ(stored.find(u"trader"), std::u16string::npos);
    EXPECT_EQ(UnscrambleText(stored.substr(0, 60)), u"hunter22");
    EXPECT_EQ(UnscrambleText(stored.substr(60)), args);

    // The next run shows the plain text in the edit, masked, with the switch on.
    Run([&](FakeWindow& w) {
        EXPECT_EQ(w.Text(IDC_ARGS), args);
        EXPECT_EQ(w.Item(IDC_ARGS).passwordChar, u'*');
        EXPECT_TRUE(w.Checked(IDC_ARGSCRYPT));
        EXPECT_EQ(MainDialog(w).Config().strPassword, u"hunter22");
        // Switching off needs the password; saving then stores plain text and no password.
        host.OnModal(IDD_PASSWD, [](FakeWindow& p) {
            p.Type(IDC_PASSWD, u"hunter22");
            p.Click(IDOK);
        });
        w.Click(IDC_ARGSCRYPT);
        w.Click(IDC_SAVE);
    });
    EXPECT_EQ(IniValue(Ini(), "ARGS"), px::ToUtf8(args));
    EXPECT_EQ(IniValue(Ini(), "ARGSCRYPT"), "0");
}

// Every row of the scramble switch's state table.
TEST_F(DialogTest, ScrambleSwitchFollowsItsStateTable)
{
    const std::u16string kLengthMessage = u"请输入6～16位字符！";
    const std::u16string kMismatch = u"密码验证错误！";
    struct Row {
        const char* name;
        std::optional<std::u16string> stored;  // the stored password when scrambling starts on
        std::vector<std::u16string> typed;  // one entry per OK; the dialog is closed after them
        bool endOn;
        std::vector<std::u16string> messages;
    };
    // Longer than a new password may be, short enough for the 60-character field at any offset.
    const std::u16string longStored = u"a password of twenty";
    const Row rows[] = {
        {"off, set 6 characters", std::nullopt, {u"abcdef"}, true, {}},
        {"off, set 16 characters", std::nullopt, {u"abcdefghijklmnop"}, true, {}},
        {"off, 5 then 17 then 8 characters", std::nullopt, {u"abcde", u"abcdefghijklmnopq", u"abcdefgh"}, true,
            {kLengthMessage, kLengthMessage}},
        {"off, empty entry refused, then closed", std::nullopt, {u""}, false, {kLengthMessage}},
        {"off, cancel", std::nullopt, {}, false, {}},
        {"on, right password", u"Secret99", {u"Secret99"}, false, {}},
        {"on, wrong case", u"Secret99", {u"secret99"}, true, {kMismatch}},
        {"on, empty entry against a password", u"Secret99", {u""}, true, {kMismatch}},
        {"on, empty entry against an empty password", u"", {u""}, false, {}},
        {"on, any length when it matches", longStored, {longStored}, false, {}},
        {"on, cancel", u"Secret99", {}, true, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        host.boxes.clear();
        const bool startOn = row.stored.has_value();
        if (startOn)
            WriteIni("[PX_SETTING]\r\nARGSCRYPT=1\r\nARGS="
                + px::ToUtf8(ScrambleText(*row.stored, 60) + ScrambleText(u"-a", 0)) + "\r\n");
        else
            WriteIni("[PX_SETTING]\r\nARGS=-a\r\n");
        Run([&](FakeWindow& w) {
            host.OnModal(IDD_PASSWD, [&](FakeWindow& p) {
                // Set: typed in plain; verify: masked.
                EXPECT_EQ(p.Item(IDC_PASSWD).passwordChar, startOn ? u'*' : 0);
                EXPECT_EQ(p.Text(IDC_PASSWD_PROMPT), u"请设定密码保护：");
                for (const std::u16string& t : row.typed) {
                    p.Type(IDC_PASSWD, t);
                    p.Click(IDOK);
                }
                if (row.typed.empty())
                    p.Click(IDCANCEL);
            });
            const int redrawsBefore = w.Item(IDC_ARGS).redraws;
            w.Click(IDC_ARGSCRYPT);
            EXPECT_EQ(host.modalsOpened.back(), IDD_PASSWD);
            EXPECT_EQ(w.Checked(IDC_ARGSCRYPT), row.endOn);
            EXPECT_EQ(MainDialog(w).Config().bArgsCrypt, row.endOn);
            EXPECT_EQ(w.Item(IDC_ARGS).passwordChar, row.endOn ? u'*' : 0);
            // A new password replaces the record's; switching off keeps it in memory.
            EXPECT_EQ(MainDialog(w).Config().strPassword, startOn ? *row.stored : row.endOn ? row.typed.back() : u"");
            // A mismatch returns before the repaint; every other path repaints.
            const bool mismatch = startOn && !row.messages.empty();
            EXPECT_EQ(w.Item(IDC_ARGS).redraws, redrawsBefore + (mismatch ? 0 : 1));
        });
        std::vector<std::u16string> shown;
        for (const BoxRecord& b : host.boxes) {
            shown.push_back(b.text);
            // Only the mismatch message goes without a caption of its own: it shows the
            // application's name, the executable's file name.
            if (b.text == kMismatch)
                EXPECT_EQ(b.caption, u"perennix");
            else
                EXPECT_EQ(b.caption, u"提示");
        }
        EXPECT_EQ(shown, row.messages);
        EXPECT_EQ(IniValue(Ini(), "ARGSCRYPT"), startOn ? "1" : "<missing>");  // nothing written
    }
}

TEST_F(DialogTest, SwitchingOffAndOnAgainAsksForANewPassword)
{
    WriteIni("[PX_SETTING]\r\nARGSCRYPT=1\r\nARGS="
        + px::ToUtf8(ScrambleText(u"OldSecret", 60) + ScrambleText(u"-a", 0)) + "\r\n");
    Run([&](FakeWindow& w) {
        host.OnModal(IDD_PASSWD, [](FakeWindow& p) {
            p.Type(IDC_PASSWD, u"OldSecret");
            p.Click(IDOK);
        });
        w.Click(IDC_ARGSCRYPT);
        ASSERT_FALSE(w.Checked(IDC_ARGSCRYPT));
        host.OnModal(IDD_PASSWD, [](FakeWindow& p) {
            EXPECT_EQ(p.Item(IDC_PASSWD).passwordChar, 0);  // set mode: typed in plain
            p.Type(IDC_PASSWD, u"NewSecret");
            p.Click(IDOK);
        });
        w.Click(IDC_ARGSCRYPT);
        EXPECT_TRUE(w.Checked(IDC_ARGSCRYPT));
        EXPECT_EQ(MainDialog(w).Config().strPassword, u"NewSecret");
    });
}

// Scrambled arguments that do not unscramble (written by hand, or damaged) show an empty
// field and a word in the status line; saves keep them as stored until arguments are typed.
TEST_F(DialogTest, UnreadableScrambledArgumentsAreKeptUntilArgumentsAreTyped)
{
    const std::u16string program = MakeProgram("app.exe");
    const std::string head
        = "[PX_SETTING]\r\nREB_TIME=00:00\r\nFULLPATH=" + px::ToUtf8(program) + "\r\nEXE_NAME=app.exe\r\n";
    const std::string tail = "\r\nARGSCRYPT=1\r\nLOOPSEC=60\r\nISTIMEDCLOSE=0\r\n";
    const std::u16string readable = ScrambleText(u"hunter22", 60) + ScrambleText(u"--port 4001", 0);
    const std::string unreadable[] = {
        "--port 4001 --user Dave",  // plain text
        px::ToUtf8(readable.substr(0, 80)),  // the arguments' field cut short
        px::ToUtf8(readable.substr(0, 20)),  // the password's field cut short
    };
    for (const std::string& args : unreadable) {
        SCOPED_TRACE(args);
        const std::string before = head + "ARGS=" + args + tail;
        WriteIni(before);
        host.boxes.clear();
        Run([&](FakeWindow& w) {
            EXPECT_EQ(w.Text(IDC_ARGS), u"");
            EXPECT_TRUE(w.Checked(IDC_ARGSCRYPT));
            EXPECT_EQ(w.Text(IDC_STATUS), u"参数无法解密，已保留原值");
            w.Click(IDC_SAVE);
            ASSERT_EQ(host.boxes.size(), 1u);
            EXPECT_EQ(host.boxes[0].text, u"保存成功！");
        });
        EXPECT_EQ(Ini(), before);

        // The save of a start keeps them too; the launch has no arguments.
        system.shellLaunches.clear();
        Run([&](FakeWindow& w) {
            host.boxAnswers.push_back({IDOK});
            w.Click(IDC_START);
            EXPECT_TRUE(MainDialog(w).IsGuarding());
        });
        EXPECT_EQ(Ini(), before);
        ASSERT_EQ(system.shellLaunches.size(), 1u);
        EXPECT_FALSE(system.shellLaunches[0].parameters.has_value());
    }

    // Typed arguments replace them, scrambled as usual.
    Run([&](FakeWindow& w) {
        w.Type(IDC_ARGS, u"--port 4002");
        w.Click(IDC_SAVE);
    });
    const std::u16string stored = px::FromUtf8(IniValue(Ini(), "ARGS"));
    EXPECT_EQ(UnscrambleText(stored.substr(60)), u"--port 4002");
    Run([&](FakeWindow& w) {
        EXPECT_EQ(w.Text(IDC_ARGS), u"--port 4002");
        EXPECT_EQ(w.Text(IDC_STATUS), u"未启用");
    });
}

// Switching scrambling off (with the password, or an empty one where none can be read) lets
// the unreadable value go: that save stores the empty field, and later ones do not bring it back.
TEST_F(DialogTest, SwitchingScramblingOffLetsUnreadableArgumentsGo)
{
    const std::u16string program = MakeProgram("app.exe");
    WriteIni("[PX_SETTING]\r\nFULLPATH=" + px::ToUtf8(program)
        + "\r\nEXE_NAME=app.exe\r\nARGSCRYPT=1\r\nARGS=--port 4001 --user Dave\r\n");
    Run([&](FakeWindow& w) {
        host.OnModal(IDD_PASSWD, [](FakeWindow& p) { p.Click(IDOK); });
        w.Click(IDC_ARGSCRYPT);
        ASSERT_FALSE(w.Checked(IDC_ARGSCRYPT));
        w.Click(IDC_SAVE);
        EXPECT_EQ(IniValue(Ini(), "ARGS"), "");
        EXPECT_EQ(IniValue(Ini(), "ARGSCRYPT"), "0");
        host.OnModal(IDD_PASSWD, [](FakeWindow& p) {
            p.Type(IDC_PASSWD, u"hunter22");
            p.Click(IDOK);
        });
        w.Click(IDC_ARGSCRYPT);
        ASSERT_TRUE(w.Checked(IDC_ARGSCRYPT));
        w.Click(IDC_SAVE);
    });
    const std::u16string stored = px::FromUtf8(IniValue(Ini(), "ARGS"));
    EXPECT_EQ(UnscrambleText(stored.substr(0, 60)), u"hunter22");
    EXPECT_EQ(UnscrambleText(stored.substr(60)), u"");
    EXPECT_EQ(stored.size(), 60u + 25u);  // an empty text's field
}

TEST_F(DialogTest, ScrambleSwitchIsLockedWhileGuarding)
{
    WriteIni("[PX_SETTING]\r\nFULLPATH=" + px::ToUtf8(MakeProgram("app.exe")) + "\r\nEXE_NAME=app.exe\r\n");
    system.AddProcess(u"app.exe");
    Run([&](FakeWindow& w) {
        host.boxAnswers.push_back({IDOK});
        w.Click(IDC_START);
        EXPECT_FALSE(w.Enabled(IDC_ARGSCRYPT));
        w.Click(IDC_ARGSCRYPT);
        EXPECT_EQ(host.modalsOpened, std::vector<int>{IDD_MAIN});
        EXPECT_FALSE(w.Checked(IDC_ARGSCRYPT));
    });
}

TEST_F(DialogTest, PathChangeDerivesTheImageName)
{
    struct Case {
        std::u16string path;
        std::u16string name;  // what IDC_EXENAME shows after typing the path
    };
    const Case cases[] = {
        {PlatformPath(u"/d/tools/app.exe"), u"app.exe"}, {PlatformPath(u"/D/Tools/App.EXE"), u"App.EXE"},
        {PlatformPath(u"/d/tools/"), u""},  // ends with the separator: empty
        {u"app.exe", u"previous"},  // no separator: unchanged
        {PlatformPath(u"/app.exe"), u"previous"},  // only separator is the first character: unchanged
        {u"tools" + std::u16string(1, kOtherSeparator) + u"app.exe", u"previous"},  // a name character here
    };
    Run([&](FakeWindow& w) {
        for (const Case& c : cases) {
            w.Type(IDC_EXENAME, u"previous");
            w.Type(IDC_FULLPATH, c.path);
            EXPECT_EQ(w.Text(IDC_EXENAME), c.name) << px::ToUtf8(c.path);
        }
    });
}

TEST_F(DialogTest, DailyRestartBoxEnablesTheTimesEdit)
{
    WriteIni("[PX_SETTING]\r\nISTIMEDCLOSE=0\r\n");
    Run([&](FakeWindow& w) {
        EXPECT_TRUE(w.Enabled(IDC_REBTIME));  // enabled at start whatever the box shows
        w.Click(IDC_TIMEDCLOSE);
        EXPECT_TRUE(w.Enabled(IDC_REBTIME));
        w.Click(IDC_TIMEDCLOSE);
        EXPECT_FALSE(w.Enabled(IDC_REBTIME));
        w.Click(IDC_TIMEDCLOSE);
        EXPECT_TRUE(w.Enabled(IDC_REBTIME));
    });
}

TEST_F(DialogTest, EnterEscapeAndCloseEndTheDialogWithoutAQuestionOrASave)
{
    const std::pair<const char*, std::function<void(FakeWindow&)>> ways[] = {
        {"enter", [](FakeWindow& w) { w.PressEnter(); }},
        {"escape", [](FakeWindow& w) { w.PressEscape(); }},
        {"close button", [](FakeWindow& w) { w.Click(IDCANCEL); }},
    };
    for (const auto& [name, act] : ways) {
        int endCode = 0;
        Run([&](FakeWindow& w) {
            w.Type(IDC_LOOPSEC, u"5");
            act(w);
            EXPECT_TRUE(w.ended) << name;
            endCode = w.endCode;
        });
        EXPECT_EQ(endCode, std::string(name) == "enter" ? IDOK : IDCANCEL) << name;
        EXPECT_TRUE(host.boxes.empty()) << name;
        EXPECT_FALSE(IniExists()) << name;
    }
}

TEST_F(DialogTest, AboutEntryOpensTheAboutBox)
{
    Run([&](FakeWindow& w) {
        w.SysCommand(0xF060);  // another system command: nothing of ours
        EXPECT_EQ(host.modalsOpened, std::vector<int>{IDD_MAIN});
        w.SysCommand(IDM_ABOUTBOX | 0x3);  // the low four bits are the system's
        EXPECT_EQ(host.modalsOpened, (std::vector<int>{IDD_MAIN, IDD_ABOUTBOX}));
        EXPECT_FALSE(w.ended);
    });
}

TEST_F(DialogTest, MinimisedWindowDrawsItsIconCentred)
{
    EXPECT_EQ(MinimizedIconPosition({100, 50}, {32, 32}).x, 34);
    EXPECT_EQ(MinimizedIconPosition({100, 50}, {32, 32}).y, 9);
    EXPECT_EQ(MinimizedIconPosition({20, 10}, {32, 32}).x, -5);  // truncates toward zero
    Run([&](FakeWindow& w) {
        w.Paint();
        EXPECT_TRUE(w.iconsDrawn.empty());
        w.iconic = true;
        w.clientSize = {100, 50};
        w.Paint();
        EXPECT_EQ(w.iconsDrawn, (std::vector<std::pair<int, int>>{{34, 9}}));
        const MessageResult dragIcon = w.dialog.WindowProc(WM_QUERYDRAGICON, 0, 0);
        EXPECT_TRUE(dragIcon.handled);
        EXPECT_EQ(dragIcon.value, IDR_MAINFRAME);
    });
}

TEST_F(DialogTest, HideShowAndExitThroughTheTray)
{
    WriteIni("[PX_SETTING]\r\nFULLPATH=" + px::ToUtf8(MakeProgram("guarded.exe")) + "\r\nEXE_NAME=guarded.exe\r\n");
    system.AddProcess(u"guarded.exe");
    Run([&](FakeWindow& w) {
        host.boxAnswers.push_back({IDOK});
        w.Click(IDC_START);
        ASSERT_TRUE(MainDialog(w).IsGuarding());
        host.boxes.clear();
        w.Click(IDC_HIDE);
        EXPECT_FALSE(w.visible);
        EXPECT_TRUE(w.trayIconPresent);
        EXPECT_EQ(w.trayTip, u"Perennix");
        EXPECT_EQ(w.trayCalls, (std::vector<std::string>{"add", "hide"}));
        w.Click(IDC_HIDE);  // not visible: nothing
        EXPECT_EQ(w.trayCalls.size(), 2u);

        // Only the right button's press opens the menu.
        for (unsigned m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP, WM_MOUSEMOVE})
            w.TrayNotify(m);
        EXPECT_TRUE(host.menus.empty());
        w.TrayNotify(WM_RBUTTONDOWN);
        ASSERT_EQ(host.menus.size(), 1u);
        const std::vector<MenuItem>& menu = host.menus[0];
        EXPECT_EQ(menu,
            (std::vector<MenuItem>{{u"显示/隐藏", ID_TRAY_SHOWHIDE, false},
                {u"高级设置(&S)...", ID_TRAY_SETTINGS, false}, {u"", 0, true}, {u"退出程序", ID_TRAY_EXIT, false}}));

        // Show: the window comes back first, then the icon goes.
        host.nextMenuPick = ID_TRAY_SHOWHIDE;
        w.TrayNotify(WM_RBUTTONDOWN);
        EXPECT_TRUE(w.visible);
        EXPECT_FALSE(w.trayIconPresent);
        EXPECT_EQ(w.trayCalls, (std::vector<std::string>{"add", "hide", "show", "delete"}));

        // Hidden again from the menu: the icon comes before the window goes.
        w.Command(ID_TRAY_SHOWHIDE);
        EXPECT_FALSE(w.visible);
        EXPECT_EQ(w.trayCalls, (std::vector<std::string>{"add", "hide", "show", "delete", "add", "hide"}));
        // Exit answered Cancel keeps everything.
        host.boxAnswers.push_back({IDCANCEL});
        host.nextMenuPick = ID_TRAY_EXIT;
        w.TrayNotify(WM_RBUTTONDOWN);
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].text, u"确定退出？");
        EXPECT_EQ(host.boxes[0].caption, u"退出");
        EXPECT_EQ(host.boxes[0].type, MB_OKCANCEL);
        EXPECT_FALSE(w.ended);
        EXPECT_TRUE(w.trayIconPresent);

        // OK removes the icon and ends the program.
        host.boxAnswers.push_back({IDOK});
        w.Command(ID_TRAY_EXIT);
        EXPECT_TRUE(w.ended);
        EXPECT_EQ(w.endCode, IDCANCEL);
        EXPECT_FALSE(w.trayIconPresent);
    });
    // Guarding ended with the window; the guarded program keeps running.
    EXPECT_TRUE(system.terminated.empty());
    EXPECT_EQ(system.CountProcessesNamed(u"guarded.exe"), 1u);
}

}  // namespace

namespace {

TEST_F(DialogTest, WithoutATrayHidingMinimisesSoTheWindowStaysReachable)
{
    host.trayAvailable = false;
    Run([&](FakeWindow& w) {
        w.Click(IDC_HIDE);
        EXPECT_TRUE(w.visible);
        EXPECT_TRUE(w.iconic);
        EXPECT_FALSE(w.trayIconPresent);
        EXPECT_EQ(w.trayCalls, (std::vector<std::string>{"add", "minimize"}));
        // The tray menu's command does the same; showing again touches no icon.
        w.Command(ID_TRAY_SHOWHIDE);
        EXPECT_EQ(w.trayCalls, (std::vector<std::string>{"add", "minimize", "add", "minimize"}));
        w.iconic = false;
        w.visible = false;
        w.Command(ID_TRAY_SHOWHIDE);
        EXPECT_EQ(w.trayCalls.back(), "show");
    });
}

TEST_F(DialogTest, TheTrayIconGoesWhicheverWayTheDialogEnds)
{
    const std::pair<const char*, std::function<void(FakeWindow&)>> ways[] = {
        {"cancel command", [](FakeWindow& w) { w.Command(IDCANCEL); }},
        {"ok command", [](FakeWindow& w) { w.Command(IDOK); }},
        {"ended by the host", [](FakeWindow& w) { w.EndDialog(IDCANCEL); }},
    };
    for (const auto& [name, end] : ways) {
        FakeWindow* window = nullptr;
        Run([&](FakeWindow& w) {
            window = &w;
            w.Click(IDC_HIDE);
            ASSERT_TRUE(w.trayIconPresent);
            end(w);
        });
        ASSERT_NE(window, nullptr);
        EXPECT_FALSE(window->trayIconPresent) << name;
        EXPECT_EQ(window->trayCalls, (std::vector<std::string>{"add", "hide", "delete"})) << name;
    }
    // Without an icon nothing is removed.
    Run([](FakeWindow&) {});
    EXPECT_EQ(host.closed.back()->trayCalls, std::vector<std::string>{});
}

TEST_F(DialogTest, ChildDialogsAreOwnedByTheDialogThatOpenedThem)
{
    Run([&](FakeWindow& w) {
        w.SysCommand(IDM_ABOUTBOX);
        host.OnModal(IDD_PASSWD, [](FakeWindow& p) { p.PressEscape(); });
        w.Click(IDC_ARGSCRYPT);
        EXPECT_EQ(host.modalsOpened, (std::vector<int>{IDD_MAIN, IDD_ABOUTBOX, IDD_PASSWD}));
        EXPECT_EQ(host.owners, (std::vector<DialogWindow*>{nullptr, &w, &w}));
    });
}

TEST_F(DialogTest, ABoxWithoutCaptionShowsTheExecutablesName)
{
    const std::u16string sep(1, px::kPathSeparator);
    const std::pair<std::u16string, std::u16string> cases[] = {
        {sep + u"opt" + sep + u"perennix" + sep + u"perennix", u"perennix"},
        {sep + u"opt" + sep + u"Perennix.exe", u"Perennix"},
        {sep + u"opt" + sep + u"a.b" + sep + u"run", u"run"},
        {sep + u"opt" + sep + u"app.tar.gz", u"app.tar"},
        {sep + u"opt" + sep + u".hidden", u".hidden"},
        {u"Perennix.exe", u"Perennix"},
    };
    for (const auto& [module, name] : cases) {
        system.modulePath = module;
        EXPECT_EQ(CDialogEx::ApplicationName(), name) << px::ToUtf8(module);
    }
}

// A dialog whose timer handler waits in a message box while time passes.
class AskingDialog : public CDialogEx {
public:
    AskingDialog()
        : CDialogEx(IDD_ABOUTBOX)
    {
    }
    bool OnInitDialog() override
    {
        CDialogEx::OnInitDialog();
        SetTimer(kTimer, 1000);
        return true;
    }
    void OnTimer(uintptr_t id) override
    {
        ticks.push_back(id);
        if (ticks.size() == 1) {
            ++depth;
            maxDepth = std::max(maxDepth, depth);
            MessageBox(u"box", std::u16string(u"提示"), MB_OK);
            if (killInBox)
                KillTimer(kTimer);
            --depth;
        }
    }
    static constexpr uintptr_t kTimer = 7;
    std::vector<uintptr_t> ticks;
    int depth = 0;
    int maxDepth = 0;
    bool killInBox = false;
};

TEST_F(DialogTest, ATickIsNeverHandledInsideItsOwnHandler)
{
    for (const bool killInBox : {false, true}) {
        AskingDialog dialog;
        dialog.killInBox = killInBox;
        host.boxAnswers.push_back({IDOK, 3500});  // three more expiries while the box is open
        host.OnModal(IDD_ABOUTBOX, [&](FakeWindow&) { host.AdvanceBy(1000); });
        dialog.DoModal();
        EXPECT_EQ(dialog.maxDepth, 1) << killInBox;
        // The ticks missed meanwhile arrive once after the handler, unless the timer was
        // killed in it; the clock then stood at 4.5 s, so no further expiry was due.
        EXPECT_EQ(dialog.ticks.size(), killInBox ? 1u : 2u) << killInBox;
    }
}

TEST_F(DialogTest, ALaterStartInTheSameFolderShowsTheRunningOneAndLeavesTheFolderAlone)
{
    const std::u16string folder = folderPath + px::kPathSeparator;
    WriteIni("[PX_SETTING]\r\nAUTOSTART=1\r\n");
    memory.Write(folder + u"log.txt", "the running copy's log\r\n");
    host.heldElsewhere = {folder};
    EXPECT_FALSE(Run([](FakeWindow&) { ADD_FAILURE() << "no window for a second copy"; }));
    EXPECT_TRUE(host.modalsOpened.empty());
    EXPECT_EQ(host.instanceSignals, std::vector<std::u16string>{folder});
    EXPECT_EQ(Ini(), "[PX_SETTING]\r\nAUTOSTART=1\r\n");
    EXPECT_EQ(Log(), "the running copy's log\r\n");
    EXPECT_TRUE(system.shellLaunches.empty());
}

// What holds the claim but takes no request (another program in the way of the claim) never
// makes a start end unseen: it runs, says so on standard error, and claims the folder if it
// can by now.
TEST_F(DialogTest, AStartRunsWhenWhatHoldsTheFolderIsNoPerennix)
{
    const std::u16string folder = folderPath + px::kPathSeparator;
    WriteIni(GuardedIni(MakeProgram("guarded.exe"), "AUTOSTART=1\r\n"));
    host.heldByStranger = {folder};
    ::testing::internal::CaptureStderr();
    bool guarded = false;
    Run([&](FakeWindow& w) { guarded = MainDialog(w).IsGuarding(); });
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
        "perennix: the claim of this folder is held by something that is not this user's Perennix: starting anyway\n");
    EXPECT_TRUE(guarded);
    EXPECT_EQ(host.instanceSignals, std::vector<std::u16string>{folder});
    EXPECT_EQ(host.claims, (std::vector<std::u16string>{folder, folder}));
    EXPECT_NE(Log().find(logtext::kInitDone), std::string::npos);
}

TEST_F(DialogTest, TheRunningCopyShowsItsWindowWhenALaterStartAsks)
{
    Run([&](FakeWindow& w) {
        EXPECT_EQ(host.claims, std::vector<std::u16string>{folderPath + px::kPathSeparator});
        // Hidden into the tray: shown again, then the icon goes, as the tray menu does it.
        w.Click(IDC_HIDE);
        w.Dispatch(WM_SHOWINSTANCE, 0, 0);
        EXPECT_TRUE(w.visible);
        EXPECT_FALSE(w.trayIconPresent);
        EXPECT_EQ(w.trayCalls, (std::vector<std::string>{"add", "hide", "show", "delete"}));
        // Minimised: restored. Shown: brought to the front.
        w.trayCalls.clear();
        w.iconic = true;
        w.Dispatch(WM_SHOWINSTANCE, 0, 0);
        w.Dispatch(WM_SHOWINSTANCE, 0, 0);
        EXPECT_EQ(w.trayCalls, (std::vector<std::string>{"restore", "show"}));
    });
    EXPECT_TRUE(host.instanceSignals.empty());
}

}  // namespace

namespace {

// What the hosts read from the program instead of writing it themselves.
TEST(HostTextTest, TheHostsShowTheProgramsOwnTexts)
{
    EXPECT_EQ(GetHostText(HostText::Ok), u"确定");
    EXPECT_EQ(GetHostText(HostText::Cancel), u"取消");
    EXPECT_EQ(GetHostText(HostText::OpenFileTitle), u"打开");
    EXPECT_EQ(GetHostText(HostText::BrowseButton), u"...");
}

// The folder the browse button's file dialog opens in, for the text in the edit.
TEST(BrowseFolderTest, TheFileDialogOpensInTheFolderOfThePathInTheEdit)
{
    const std::u16string other(1, kOtherSeparator);
    struct Case {
        std::u16string text;
        std::u16string folder;  // empty: where the platform opens it
    };
    const Case cases[] = {
        {u"", u""},
        {PlatformPath(u"/opt/tools/app.exe"), PlatformPath(u"/opt/tools")},
        {PlatformPath(u"/opt/工具/守护.exe"), PlatformPath(u"/opt/工具")},
        {PlatformPath(u"/opt/tools/"), PlatformPath(u"/opt/tools")},  // a folder: itself
        {PlatformPath(u"/opt/tools//app.exe"), PlatformPath(u"/opt/tools")},  // doubled separators
        {PlatformPath(u"/opt//"), PlatformPath(u"/opt")},
        {PlatformPath(u"tools/app.exe"), u"tools"},  // relative: as relative as the path
        {PlatformPath(u"/app.exe"), PlatformPath(u"/")},  // the root keeps its separator
        {PlatformPath(u"//app.exe"), PlatformPath(u"/")},
        {PlatformPath(u"C:/app.exe"), PlatformPath(u"C:/")},  // so does a drive's
        {PlatformPath(u"C:/Tools/app.exe"), PlatformPath(u"C:/Tools")},
        {PlatformPath(u"//server/share/app.exe"), PlatformPath(u"//server/share")},
        {u"app.exe", u""},  // a file name alone names no folder
        {u"C:app.exe", u""},
        {u"tools" + other + u"app.exe", u""},  // the other platform's separator is a name character
        {u"  ", u""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CMFCEditBrowseCtrl::InitialFolder(c.text), c.folder) << px::ToUtf8(c.text);
}

// What a host shows of a message box's type: the buttons and the icon, nothing else.
TEST(MessageBoxTypeTest, TheTypeAsksForButtonsAndAnIcon)
{
    struct Case {
        unsigned type;
        bool cancel;
        BoxIcon icon;
    };
    const Case cases[] = {
        {MB_OK, false, BoxIcon::None}, {MB_OKCANCEL, true, BoxIcon::None},
        {MB_OK | MB_ICONINFORMATION, false, BoxIcon::Information},
        {MB_OKCANCEL | MB_ICONQUESTION, true, BoxIcon::Question}, {MB_ICONWARNING, false, BoxIcon::Warning},
        {MB_ICONEXCLAMATION, false, BoxIcon::Warning}, {MB_ICONERROR, false, BoxIcon::Error},
        {MB_ICONHAND | MB_OKCANCEL, true, BoxIcon::Error}, {MB_ICONASTERISK, false, BoxIcon::Information},
        {0x80, false, BoxIcon::None},  // MB_USERICON: not one of ours
        {0x04, false, BoxIcon::None},  // MB_YESNO: OK alone
        {0x1000 | MB_OKCANCEL, true, BoxIcon::None},  // MB_SYSTEMMODAL: ignored
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MessageBoxHasCancel(c.type), c.cancel) << c.type;
        EXPECT_EQ(MessageBoxIconOf(c.type), c.icon) << c.type;
    }
}

TEST_F(DialogTest, TheProgramsBoxesAskForNoIcon)
{
    Run([&](FakeWindow& w) {
        w.Click(IDC_SAVE);  // refused: no program path
        host.boxAnswers.push_back({IDOK});
        w.Command(ID_TRAY_EXIT);
    });
    ASSERT_EQ(host.boxes.size(), 2u);
    for (const BoxRecord& box : host.boxes)
        EXPECT_EQ(MessageBoxIconOf(box.type), BoxIcon::None) << px::ToUtf8(box.text);
}

TEST_F(DialogTest, TheAboutEntryIsWhereTheWindowKeepsItsCommandsAndOpensTheAboutBox)
{
    struct Case {
        const char* name;
        bool systemMenu;
        bool contextMenu;
    };
    const Case cases[] = {
        {"a system menu (Windows)", true, false},
        {"a system menu and a context menu", true, true},
        {"a context menu only (Linux)", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.hasSystemMenu = c.systemMenu;
        host.hasContextMenu = c.contextMenu;
        host.modalsOpened.clear();
        host.owners.clear();
        Run([&](FakeWindow& w) {
            const auto& holder = c.systemMenu ? w.systemMenu : w.contextMenu;
            const auto& other = c.systemMenu ? w.contextMenu : w.systemMenu;
            EXPECT_EQ(holder, kWindowMenu);
            EXPECT_TRUE(other.empty()) << "each entry once, in one place";
            w.PickWindowMenuEntry(u"关于 Perennix(&A)...");
            w.PickWindowMenuEntry(u"高级设置(&S)...");
            EXPECT_EQ(host.modalsOpened, (std::vector<int>{IDD_MAIN, IDD_ABOUTBOX, IDD_SETTINGS}));
            EXPECT_EQ(host.owners, (std::vector<DialogWindow*>{nullptr, &w, &w}));
            EXPECT_FALSE(w.ended);
        });
    }
}

TEST_F(DialogTest, AWindowWithNeitherMenuOffersNoAboutEntryAndRunsAsAlways)
{
    host.hasSystemMenu = false;
    host.hasContextMenu = false;
    Run([&](FakeWindow& w) {
        EXPECT_TRUE(w.systemMenu.empty());
        EXPECT_TRUE(w.contextMenu.empty());
        w.Click(IDC_HIDE);
        EXPECT_TRUE(w.trayIconPresent);
        w.Command(ID_TRAY_SHOWHIDE);
        EXPECT_TRUE(w.visible);
        EXPECT_EQ(host.modalsOpened, std::vector<int>{IDD_MAIN});
    });
    EXPECT_EQ(host.closed.back()->endCode, IDCANCEL);
}

TEST_F(DialogTest, AReturningTrayGetsTheIconAgainOnlyWhileTheWindowIsHiddenThere)
{
    Run([&](FakeWindow& w) {
        // Shown: a tray that comes back gets nothing.
        host.TrayReturns();
        EXPECT_TRUE(w.trayCalls.empty());

        // Hidden into the tray: the icon goes with the tray and comes back with the next.
        w.Click(IDC_HIDE);
        ASSERT_TRUE(w.trayIconPresent);
        host.TrayReturns();
        EXPECT_TRUE(w.trayIconPresent);
        EXPECT_FALSE(w.visible);
        EXPECT_EQ(w.trayCalls, (std::vector<std::string>{"add", "hide", "add"}));

        // A tray that refuses it leaves the window as it is; the next return brings the icon.
        host.trayAvailable = false;
        host.TrayReturns();
        EXPECT_FALSE(w.trayIconPresent);
        EXPECT_FALSE(w.visible);
        host.trayAvailable = true;
        host.TrayReturns();
        EXPECT_TRUE(w.trayIconPresent);
        EXPECT_EQ(w.trayCalls, (std::vector<std::string>{"add", "hide", "add", "add", "add"}));

        // Shown again from the tray menu: the icon is gone for good.
        w.Command(ID_TRAY_SHOWHIDE);
        EXPECT_FALSE(w.trayIconPresent);
        w.trayCalls.clear();
        host.TrayReturns();
        EXPECT_TRUE(w.trayCalls.empty());

        // Minimised because no tray took the icon: a tray that comes later gets none either.
        host.trayAvailable = false;
        w.Click(IDC_HIDE);
        ASSERT_TRUE(w.iconic);
        host.trayAvailable = true;
        host.TrayReturns();
        EXPECT_EQ(w.trayCalls, (std::vector<std::string>{"add", "minimize"}));
        EXPECT_FALSE(w.trayIconPresent);
    });
}

// A dialog that adds an icon and never removes it itself.
class IconDialog : public CDialogEx {
public:
    IconDialog()
        : CDialogEx(IDD_ABOUTBOX)
    {
    }
    bool OnInitDialog() override
    {
        CDialogEx::OnInitDialog();
        NotifyIconData nid;
        nid.hWnd = m_pWnd;
        nid.uID = 7;
        nid.uFlags = NIF_TIP;
        nid.szTip = u"leftover";
        added = NotifyIconAdd(nid);
        return true;
    }
    bool added = false;
};

TEST_F(DialogTest, AnIconNeverOutlivesItsWindowWhicheverDialogAddedIt)
{
    IconDialog dialog;
    FakeWindow* window = nullptr;
    host.OnModal(IDD_ABOUTBOX, [&](FakeWindow& w) {
        window = &w;
        EXPECT_TRUE(w.trayIconPresent);
        w.PressEscape();
    });
    dialog.DoModal();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(dialog.added);
    EXPECT_FALSE(window->trayIconPresent);
    EXPECT_EQ(window->trayCalls, (std::vector<std::string>{"add", "delete"}));
}

}  // namespace
