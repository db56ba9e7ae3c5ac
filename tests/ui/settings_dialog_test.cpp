// 高级设置 on the scripted host: where it opens from, what it shows of start at login, and what
// "确定" and "取消" do with it.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "ProgramFixture.h"
#include "SettingsSamples.h"
#include "base/Paths.h"
#include "settings/SettingsTable.h"

using namespace fake;

namespace {

using SettingsDialogTest = ProgramTest;

TEST_F(SettingsDialogTest, OpensFromTheWindowsMenuAndTheTrayMenuOwnedByTheMainWindow)
{
    struct Case {
        const char* name;
        bool systemMenu;  // Windows: the system menu; Linux: the window's context menu
        bool fromTray;
    };
    const Case cases[] = {
        {"the system menu", true, false},
        {"the context menu", false, false},
        {"the tray menu", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.hasSystemMenu = c.systemMenu;
        host.modalsOpened.clear();
        host.owners.clear();
        Run([&](FakeWindow& w) {
            bool shown = false;
            host.OnModal(IDD_SETTINGS, [&](FakeWindow& s) {
                shown = true;
                EXPECT_EQ(s.Item(IDC_STARTATLOGIN).kind, ControlKind::AutoCheckBox);
                EXPECT_EQ(s.Text(IDC_STARTATLOGIN), u"登录时自动启动 Perennix");
            });
            if (c.fromTray) {
                w.Click(IDC_HIDE);
                host.nextMenuPick = ID_TRAY_SETTINGS;
                w.TrayNotify(WM_RBUTTONDOWN);
            } else {
                w.PickWindowMenuEntry(u"高级设置(&S)...");
            }
            EXPECT_TRUE(shown);
            EXPECT_EQ(host.modalsOpened, (std::vector<int>{IDD_MAIN, IDD_SETTINGS}));
            EXPECT_EQ(host.owners, (std::vector<DialogWindow*>{nullptr, &w}));
            EXPECT_FALSE(w.ended);
        });
    }
}

TEST_F(SettingsDialogTest, ShowsStartAtLoginAsTheSystemRecordsItAtEachOpening)
{
    Run([&](FakeWindow& w) {
        // The record as another tool leaves it between openings: on, off, unreadable.
        const std::optional<bool> records[] = {true, false, std::nullopt, true};
        for (const std::optional<bool>& record : records) {
            system.startAtLogin = record;
            bool shown = false;
            host.OnModal(IDD_SETTINGS, [&](FakeWindow& s) {
                shown = true;
                EXPECT_EQ(s.Checked(IDC_STARTATLOGIN), record.value_or(false));
                EXPECT_EQ(s.Enabled(IDC_STARTATLOGIN), record.has_value()) << "an unreadable record is not offered";
            });
            w.SysCommand(IDM_SETTINGS);
            EXPECT_TRUE(shown);
        }
        EXPECT_TRUE(system.startAtLoginSets.empty()) << "opening and closing changes nothing";
    });
}

TEST_F(SettingsDialogTest, OkAppliesAChangedStartAtLoginAndCancelLeavesIt)
{
    enum class Leave { Ok, Enter, Cancel, Escape };
    struct Case {
        const char* name;
        bool before;
        bool click;
        Leave leave;
        std::vector<bool> sets;
        bool after;
    };
    const Case cases[] = {
        {"switched on, 确定", false, true, Leave::Ok, {true}, true},
        {"switched on, Enter", false, true, Leave::Enter, {true}, true},
        {"switched off, 确定", true, true, Leave::Ok, {false}, false},
        {"switched on, 取消", false, true, Leave::Cancel, {}, false},
        {"switched off, Esc", true, true, Leave::Escape, {}, true},
        {"untouched, 确定", true, false, Leave::Ok, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        system.startAtLogin = c.before;
        system.startAtLoginSets.clear();
        Run([&](FakeWindow& w) {
            host.OnModal(IDD_SETTINGS, [&](FakeWindow& s) {
                if (c.click)
                    s.Click(IDC_STARTATLOGIN);
                switch (c.leave) {
                case Leave::Ok:
                    s.Click(IDOK);
                    break;
                case Leave::Enter:
                    s.PressEnter();
                    break;
                case Leave::Cancel:
                    s.Click(IDCANCEL);
                    break;
                case Leave::Escape:
                    s.PressEscape();
                    break;
                }
                EXPECT_TRUE(s.ended);
            });
            w.SysCommand(IDM_SETTINGS);
        });
        EXPECT_EQ(system.startAtLoginSets, c.sets);
        EXPECT_EQ(system.startAtLogin, c.after);
        EXPECT_TRUE(host.boxes.empty());
    }
}

TEST_F(SettingsDialogTest, ARefusedChangeSaysSoAndKeepsTheDialogOpenShowingTheRecord)
{
    system.startAtLogin = false;
    system.startAtLoginRefused = true;
    Run([&](FakeWindow& w) {
        host.OnModal(IDD_SETTINGS, [&](FakeWindow& s) {
            s.Click(IDC_STARTATLOGIN);
            s.Click(IDOK);
            ASSERT_EQ(host.boxes.size(), 1u);
            EXPECT_EQ(host.boxes[0].text, u"无法设置登录时自动启动。");
            EXPECT_FALSE(s.ended);
            EXPECT_FALSE(s.Checked(IDC_STARTATLOGIN)) << "the record as it is";
            s.Click(IDCANCEL);
        });
        w.SysCommand(IDM_SETTINGS);
    });
    EXPECT_EQ(system.startAtLoginSets, std::vector<bool>{true});
}

TEST_F(SettingsDialogTest, TheRowsOfWhatHappensWhenTheProgramDiesShowConfigIniAndOkSavesThem)
{
    WriteIni("[PX_SETTING]\r\nLOOPSEC=5\r\nMIN_UPTIME_SEC=20\r\nEVENT_CMD=/opt/hook\r\n");
    Run([&](FakeWindow& w) {
        host.OnModal(IDD_SETTINGS, [&](FakeWindow& s) {
            EXPECT_TRUE(s.Checked(IDC_BACKOFF));
            EXPECT_EQ(s.Text(IDC_BACKOFFMAX), u"300");
            EXPECT_EQ(s.Text(IDC_MINUPTIME), u"20");
            EXPECT_TRUE(s.Checked(IDC_NOTIFY));
            EXPECT_EQ(s.Text(IDC_EVENTCMD), u"/opt/hook");
            EXPECT_EQ(s.Text(IDC_METRICSFILE), u"");
            // Cancelled, nothing is written.
            s.Click(IDC_BACKOFF);
            s.Click(IDCANCEL);
        });
        w.SysCommand(IDM_SETTINGS);
        EXPECT_EQ(Ini().find("BACKOFF"), std::string::npos);

        host.OnModal(IDD_SETTINGS, [&](FakeWindow& s) {
            EXPECT_TRUE(s.Checked(IDC_BACKOFF)) << "the cancelled change is gone";
            s.Click(IDC_BACKOFF);
            s.Type(IDC_BACKOFFMAX, u"600");
            s.Click(IDC_NOTIFY);
            s.Type(IDC_METRICSFILE, u"/var/lib/prometheus/node-exporter/perennix.prom");
            s.Click(IDOK);
            EXPECT_TRUE(s.ended);
        });
        w.SysCommand(IDM_SETTINGS);
    });
    const StoredSettings stored = ReadStoredSettings(IniPath());
    EXPECT_FALSE(stored.config.bBackoff);
    EXPECT_EQ(stored.config.nBackoffMaxSec, 600);
    EXPECT_EQ(stored.config.nMinUptimeSec, 20);
    EXPECT_FALSE(stored.config.bNotify);
    EXPECT_EQ(stored.config.strEventCmd, u"/opt/hook");
    EXPECT_EQ(stored.config.strMetricsFile, u"/var/lib/prometheus/node-exporter/perennix.prom");
    EXPECT_EQ(stored.config.nLoopSec, 5) << "the main window's keys stay as they were";
}

TEST_F(SettingsDialogTest, ProbeRowsShowTheFileTakeValidValuesAndRefuseMalformedOnes)
{
    const std::u16string program = MakeProgram("guarded.exe");
    WriteIni(GuardedIni(program, "PROBE_TCP=4001\r\nPROBE_FAILS=5\r\n"));
    Run([&](FakeWindow& w) {
        host.OnModal(IDD_SETTINGS, [&](FakeWindow& s) {
            EXPECT_EQ(s.Text(IDC_PROBE_TCP), u"4001");
            EXPECT_EQ(s.Text(IDC_PROBE_FAILS), u"5");
            EXPECT_EQ(s.Text(IDC_PROBE_GRACE_SEC), u"120");
            EXPECT_EQ(s.Text(IDC_STOP_TIMEOUT_SEC), u"0");
            EXPECT_FALSE(s.Checked(IDC_PROBE_WINDOW));

            // Each refused value says why and keeps the dialog open.
            const struct {
                int id;
                std::u16string typed;
                std::u16string box;
            } refused[] = {
                {IDC_PROBE_TCP, u"gateway:4001",
                    u"TCP 探测地址格式不对，请填写端口，或 IPv4 地址:端口（如 127.0.0.1:4001）！"},
                {IDC_PROBE_FAILS, u"0", u"连续失败次数应为 1 到 100 之间的整数！"},
                {IDC_STOP_TIMEOUT_SEC, u"601", u"关闭等待时间应为 0 到 600 之间的整数！"},
                {IDC_PROBE_GRACE_SEC, u"-1", u"启动宽限期应为 0 到 86400 之间的整数！"},
            };
            for (const auto& r : refused) {
                const std::u16string before = s.Text(r.id);
                s.Type(r.id, r.typed);
                s.Click(IDOK);
                ASSERT_FALSE(host.boxes.empty());
                EXPECT_EQ(host.boxes.back().text, r.box);
                EXPECT_FALSE(s.ended);
                s.Type(r.id, before);
            }
            s.Type(IDC_PROBE_TCP, u"127.0.0.1:7497");
            s.Click(IDC_PROBE_WINDOW);
            s.Type(IDC_STOP_TIMEOUT_SEC, u"30");
            s.Click(IDOK);
            EXPECT_TRUE(s.ended);
        });
        w.SysCommand(IDM_SETTINGS);
        EXPECT_NE(Ini().find("PROBE_WINDOW=1"), std::string::npos) << "written on 确定";
        w.Click(IDC_SAVE);
    });
    for (const char* line :
        {"\nPROBE_TCP=127.0.0.1:7497\r\n", "\nPROBE_WINDOW=1\r\n", "\nPROBE_FAILS=5\r\n", "\nSTOP_TIMEOUT_SEC=30\r\n"})
        EXPECT_NE(Ini().find(line), std::string::npos) << line << Ini();
}

TEST_F(SettingsDialogTest, GatewayRowsShowTheFileAndAreSavedWithTheRest)
{
    const std::u16string program = MakeProgram("guarded.exe");
    WriteIni(GuardedIni(program, "MATCH_CMDLINE=ibgateway\r\nGW_CONFIRM=Disclaimer\r\n"));
    Run([&](FakeWindow& w) {
        host.OnModal(IDD_SETTINGS, [&](FakeWindow& s) {
            EXPECT_FALSE(s.Checked(IDC_GATEWAY));
            EXPECT_EQ(s.Text(IDC_MATCH_CMDLINE), u"ibgateway");
            EXPECT_EQ(s.Text(IDC_GW_LOGIN_SEC), u"0");
            s.Type(IDC_GW_LOGIN_SEC, u"86401");
            s.Click(IDOK);
            ASSERT_FALSE(host.boxes.empty());
            EXPECT_EQ(host.boxes.back().text, u"登录超时应为 0 到 86400 之间的整数！");
            EXPECT_FALSE(s.ended);
            s.Click(IDC_GATEWAY);
            s.Type(IDC_MATCH_CMDLINE, u"IBC");
            s.Type(IDC_GW_LOGIN_SEC, u"180");
            s.Click(IDOK);
            EXPECT_TRUE(s.ended);
        });
        w.SysCommand(IDM_SETTINGS);
        EXPECT_NE(Ini().find("GATEWAY=1"), std::string::npos) << "written on 确定";
        w.Click(IDC_SAVE);
    });
    for (const char* line :
        {"\nGATEWAY=1\r\n", "\nMATCH_CMDLINE=IBC\r\n", "\nGW_LOGIN_SEC=180\r\n", "\nGW_CONFIRM=Disclaimer\r\n"})
        EXPECT_NE(Ini().find(line), std::string::npos) << line << Ini();
}

TEST_F(SettingsDialogTest, AMalformedAddressInTheFileRefusesTheSaveWithTheSameWords)
{
    const std::u16string program = MakeProgram("guarded.exe");
    WriteIni(GuardedIni(program, "PROBE_TCP=127.0.0.1:99999\r\n"));
    const std::string before = Ini();
    Run([&](FakeWindow& w) {
        w.Click(IDC_SAVE);
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].text, u"TCP 探测地址格式不对，请填写端口，或 IPv4 地址:端口（如 127.0.0.1:4001）！");
    });
    EXPECT_EQ(Ini(), before);
}

// Types each row's changed value (SettingsSamples.h) into the open dialog; a box is clicked
// when its state is not the changed one.
void ChangeEveryRow(FakeWindow& s)
{
    for (const SettingKey& key : SettingsTable()) {
        if (key.row.nControlId == 0)
            continue;
        const std::u16string changed = testsupport::ChangedValueText(key);
        if (key.type == SettingType::Flag) {
            if (s.Checked(key.row.nControlId) != (changed == u"1"))
                s.Click(key.row.nControlId);
        } else {
            s.Type(key.row.nControlId, changed);
        }
    }
}

// What each row shows, as "KEY=value" lines.
std::string Rows(FakeWindow& s)
{
    std::string rows;
    for (const SettingKey& key : SettingsTable()) {
        if (key.row.nControlId == 0)
            continue;
        const std::u16string shown = key.type == SettingType::Flag
            ? std::u16string(s.Checked(key.row.nControlId) ? u"1" : u"0")
            : s.Text(key.row.nControlId);
        rows += px::ToUtf8(std::u16string(key.strKey)) + "=" + px::ToUtf8(shown) + "\n";
    }
    return rows;
}

// The rows as the changed values, or as settings holds them.
std::string RowsOf(StoredSettings settings)
{
    std::string rows;
    for (const SettingKey& key : SettingsTable())
        if (key.row.nControlId != 0)
            rows += px::ToUtf8(std::u16string(key.strKey)) + "=" + px::ToUtf8(StoredValue(key, settings)) + "\n";
    return rows;
}

TEST_F(SettingsDialogTest, OkWritesEveryRowInOneSaveAndTheNextStartShowsThemAll)
{
    const std::u16string program = MakeProgram("guarded.exe");
    WriteIni(GuardedIni(program, "GW_CONFIRM=Disclaimer\r\n"));
    Run([&](FakeWindow& w) {
        const MainWindowSettings record = MainDialog(w).Config();
        host.OnModal(IDD_SETTINGS, [&](FakeWindow& s) {
            ChangeEveryRow(s);
            files.writes = 0;
            s.Click(IDOK);
            EXPECT_TRUE(s.ended);
            EXPECT_TRUE(host.boxes.empty());
            EXPECT_EQ(files.writes, 1) << "one save";
        });
        w.SysCommand(IDM_SETTINGS);
        EXPECT_EQ(MainDialog(w).Config(), record) << "the main window's record is its own";
    });
    const StoredSettings stored = ReadStoredSettings(IniPath());
    EXPECT_EQ(RowsOf(stored), RowsOf(testsupport::EveryKeyChanged()));
    EXPECT_EQ(stored.config.nLoopSec, 60) << "the main window's keys stay as they were";
    EXPECT_EQ(stored.config.strFullPath, program);
    EXPECT_EQ(stored.config.gateway.strConfirm, u"Disclaimer") << "the title lists stay as the user wrote them";

    // Perennix started again: every row shows what was saved.
    Run([&](FakeWindow& w) {
        bool shown = false;
        host.OnModal(IDD_SETTINGS, [&](FakeWindow& s) {
            shown = true;
            EXPECT_EQ(Rows(s), RowsOf(testsupport::EveryKeyChanged()));
        });
        w.SysCommand(IDM_SETTINGS);
        EXPECT_TRUE(shown);
    });
}

TEST_F(SettingsDialogTest, CancelAndEscAfterEditingEveryRowChangeNothing)
{
    const std::u16string program = MakeProgram("guarded.exe");
    WriteIni(GuardedIni(program, "PROBE_FAILS=5\r\nEVENT_CMD=/opt/hook\r\n"));
    const std::string before = Ini();
    const std::string rowsBefore = RowsOf(ReadStoredSettings(IniPath()));
    system.startAtLogin = false;
    for (const bool escape : {false, true}) {
        SCOPED_TRACE(escape ? "Esc" : "取消");
        Run([&](FakeWindow& w) {
            const MainWindowSettings record = MainDialog(w).Config();
            host.OnModal(IDD_SETTINGS, [&](FakeWindow& s) {
                EXPECT_EQ(Rows(s), rowsBefore);
                s.Click(IDC_STARTATLOGIN);
                ChangeEveryRow(s);
                if (escape)
                    s.PressEscape();
                else
                    s.Click(IDCANCEL);
                EXPECT_TRUE(s.ended);
            });
            w.SysCommand(IDM_SETTINGS);
            // Opened again, the rows are the file's.
            host.OnModal(IDD_SETTINGS, [&](FakeWindow& s) {
                EXPECT_EQ(Rows(s), rowsBefore);
                EXPECT_FALSE(s.Checked(IDC_STARTATLOGIN));
            });
            w.SysCommand(IDM_SETTINGS);
            EXPECT_EQ(MainDialog(w).Config(), record);
        });
        EXPECT_EQ(Ini(), before);
        EXPECT_TRUE(system.startAtLoginSets.empty());
        EXPECT_TRUE(host.boxes.empty());
    }
}

// 确定 checks every row before it changes anything: a refused value names its row, the focus
// goes to that field, and config.ini, start at login and the main window stay as they were,
// whatever else was changed beside it.
TEST_F(SettingsDialogTest, ARefusedRowIsNamedGetsTheFocusAndNothingChanges)
{
    const std::u16string program = MakeProgram("guarded.exe");
    WriteIni(GuardedIni(program, "PROBE_FAILS=5\r\nEVENT_CMD=/opt/hook\r\n"));
    const std::string before = Ini();
    const struct {
        int id;
        std::u16string typed;
        std::u16string box;
    } cases[] = {
        {IDC_BACKOFFMAX, u"-5", u"最长等待应为 1 到 86400 之间的整数！"},
        {IDC_BACKOFFMAX, u"abc", u"最长等待应为 1 到 86400 之间的整数！"},
        {IDC_MINUPTIME, u"-5", u"最短运行时间应为 1 到 86400 之间的整数！"},
        {IDC_MINUPTIME, u"abc", u"最短运行时间应为 1 到 86400 之间的整数！"},
        {IDC_PROBE_FILE_SEC, u"-5", u"心跳最长间隔应为 1 到 86400 之间的整数！"},
        {IDC_PROBE_FAILS, u"abc", u"连续失败次数应为 1 到 100 之间的整数！"},
        {IDC_PROBE_GRACE_SEC, u"", u"启动宽限期应为 0 到 86400 之间的整数！"},
        {IDC_GW_LOGIN_SEC, u"-5", u"登录超时应为 0 到 86400 之间的整数！"},
        {IDC_PROBE_TCP, u"gateway:4001", kTcpTargetRefused},
    };
    system.startAtLogin = false;
    for (const auto& c : cases) {
        SCOPED_TRACE(px::ToUtf8(c.box) + " " + px::ToUtf8(c.typed));
        host.boxes.clear();
        Run([&](FakeWindow& w) {
            const MainWindowSettings record = MainDialog(w).Config();
            host.OnModal(IDD_SETTINGS, [&](FakeWindow& s) {
                s.Click(IDC_STARTATLOGIN);
                ChangeEveryRow(s);
                s.Type(c.id, c.typed);
                s.Click(IDOK);
                ASSERT_EQ(host.boxes.size(), 1u);
                EXPECT_EQ(host.boxes[0].text, c.box);
                EXPECT_EQ(host.boxes[0].caption, u"提示");
                EXPECT_EQ(s.FocusedItem(), c.id);
                EXPECT_FALSE(s.ended);
                EXPECT_EQ(Ini(), before);
                s.PressEscape();
            });
            w.SysCommand(IDM_SETTINGS);
            EXPECT_EQ(MainDialog(w).Config(), record);
        });
        EXPECT_EQ(Ini(), before);
        EXPECT_TRUE(system.startAtLoginSets.empty());
    }
}

TEST_F(SettingsDialogTest, AFailedWriteSaysSoKeepsTheDialogOpenAndLeavesStartAtLogin)
{
    const std::u16string program = MakeProgram("guarded.exe");
    WriteIni(GuardedIni(program));
    const std::string before = Ini();
    system.startAtLogin = false;
    Run([&](FakeWindow& w) {
        files.unwritable.insert(IniPath());
        host.OnModal(IDD_SETTINGS, [&](FakeWindow& s) {
            s.Click(IDC_STARTATLOGIN);
            s.Type(IDC_BACKOFFMAX, u"600");
            s.Click(IDOK);
            ASSERT_EQ(host.boxes.size(), 1u);
            EXPECT_EQ(host.boxes[0].text, u"无法保存设置。");
            EXPECT_FALSE(s.ended);
            EXPECT_EQ(s.Text(IDC_BACKOFFMAX), u"600") << "what was typed stays to be saved again";
            s.Click(IDCANCEL);
        });
        w.SysCommand(IDM_SETTINGS);
    });
    EXPECT_EQ(Ini(), before);
    EXPECT_TRUE(system.startAtLoginSets.empty());
}

// While guarding runs, the dialog says new values wait for the next start, and the engine keeps
// the config it started with until then.
TEST_F(SettingsDialogTest, WhileGuardingNewValuesTakeEffectAtTheNextStart)
{
    const std::u16string program = MakeProgram("guarded.exe");
    WriteIni(GuardedIni(program));
    Run([&](FakeWindow& w) {
        host.OnModal(IDD_SETTINGS, [&](FakeWindow& s) { EXPECT_EQ(s.Text(IDC_SETTINGS_NOTE), u""); });
        w.SysCommand(IDM_SETTINGS);

        host.boxAnswers.push_back({IDOK});
        w.Click(IDC_START);
        ASSERT_TRUE(MainDialog(w).IsGuarding());
        host.OnModal(IDD_SETTINGS, [&](FakeWindow& s) {
            EXPECT_EQ(s.Text(IDC_SETTINGS_NOTE), u"守护中：新设置将在下次开始守护时生效。");
            s.Type(IDC_PROBE_FAILS, u"7");
            s.Type(IDC_EVENTCMD, u"/opt/new");
            s.Click(IDOK);
            EXPECT_TRUE(s.ended);
        });
        w.SysCommand(IDM_SETTINGS);
        EXPECT_EQ(MainDialog(w).Guard().Config().probes.nFails, 3) << "in use until the next start";
        EXPECT_EQ(MainDialog(w).Guard().Config().strEventCmd, u"");

        host.boxAnswers.push_back({IDOK});
        w.Click(IDC_START);
        ASSERT_FALSE(MainDialog(w).IsGuarding());
        host.boxAnswers.push_back({IDOK});
        w.Click(IDC_START);
        ASSERT_TRUE(MainDialog(w).IsGuarding());
        EXPECT_EQ(MainDialog(w).Guard().Config().probes.nFails, 7);
        EXPECT_EQ(MainDialog(w).Guard().Config().strEventCmd, u"/opt/new");
    });
}

// "保存" and "开始" write the main window's keys and guard with the rest as config.ini holds them
// then: the window keeps no copy of 高级设置's keys that could write an older value back.
TEST_F(SettingsDialogTest, SaveAndStartLeaveTheAdvancedKeysAsTheFileHasThem)
{
    const std::u16string program = MakeProgram("guarded.exe");
    WriteIni(GuardedIni(program, "PROBE_FAILS=5\r\n"));
    Run([&](FakeWindow& w) {
        // Changed since the window loaded: by hand, or by another 高级设置.
        WriteIni(GuardedIni(program, "PROBE_FAILS=9\r\nEVENT_CMD=/opt/hook\r\n"));
        w.Type(IDC_LOOPSEC, u"30");
        w.Click(IDC_SAVE);
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_EQ(host.boxes[0].text, u"保存成功！");
        EXPECT_NE(Ini().find("\nPROBE_FAILS=9\r\n"), std::string::npos) << Ini();
        EXPECT_NE(Ini().find("\nEVENT_CMD=/opt/hook\r\n"), std::string::npos) << Ini();
        EXPECT_NE(Ini().find("\nLOOPSEC=30\r\n"), std::string::npos) << Ini();

        host.boxAnswers.push_back({IDOK});
        w.Click(IDC_START);
        ASSERT_TRUE(MainDialog(w).IsGuarding());
        const GuardConfig& inUse = MainDialog(w).Guard().Config();
        EXPECT_EQ(inUse.probes.nFails, 9);
        EXPECT_EQ(inUse.strEventCmd, u"/opt/hook");
        EXPECT_EQ(inUse.nLoopSec, 30);
        EXPECT_EQ(inUse.strFullPath, program);
    });
    EXPECT_NE(Ini().find("\nPROBE_FAILS=9\r\n"), std::string::npos) << Ini();
}

}  // namespace

namespace {

using DataFolderTest = ProgramTest;

// A copy in a folder it cannot write keeps config.ini and log.txt in the per-user folder, says
// so in the log's first lines and in the About box; a per-user folder that is a file is said at
// once, and guarding still runs.
TEST_F(DataFolderTest, AProgramInAReadOnlyFolderKeepsItsFilesPerUser)
{
    const std::u16string perUser = folderPath + px::kPathSeparator + u"user";
    const std::u16string program = folderPath + px::kPathSeparator + u"guarded.exe";
    files.Put(program, "MZ");
    system.executablePrograms.push_back(program);
    files.readOnlyFolders.insert(folderPath);
    files.perUserFolder = perUser;
    const std::u16string perUserIni = perUser + px::kPathSeparator + u"config.ini";
    const std::u16string perUserLog = perUser + px::kPathSeparator + u"log.txt";

    std::u16string aboutFolder;
    Run([&](FakeWindow& w) {
        EXPECT_TRUE(host.boxes.empty());
        host.OnModal(IDD_ABOUTBOX, [&](FakeWindow& a) { aboutFolder = a.Text(IDC_ABOUT_FOLDER); });
        w.SysCommand(IDM_ABOUTBOX);
        w.Type(IDC_FULLPATH, program);
        w.Click(IDC_SAVE);
    });
    EXPECT_EQ(aboutFolder, u"配置文件夹：" + perUser + px::kPathSeparator);
    ASSERT_NE(files.Find(perUserIni), nullptr) << "saved per user";
    EXPECT_EQ(files.Find(IniPath()), nullptr) << "nothing beside the program";
    ASSERT_NE(files.Find(perUserLog), nullptr);
    EXPECT_EQ(files.Find(folderPath + px::kPathSeparator + u"log.txt"), nullptr);
    EXPECT_NE(files.Find(perUserLog)->find("user"), std::string::npos) << "the log names the folder";

    // The per-user folder is a file: a box says so, and guarding starts all the same.
    files.Remove(perUserIni);
    files.Remove(perUserLog);
    files.Put(perUser, "a file");
    host.boxes.clear();
    Run([&](FakeWindow& w) {
        ASSERT_EQ(host.boxes.size(), 1u);
        EXPECT_NE(host.boxes[0].text.find(u"是一个文件"), std::u16string::npos);
        w.Type(IDC_FULLPATH, program);
        w.Type(IDC_EXENAME, u"guarded.exe");
        host.boxAnswers.push_back({IDOK});  // "开始" asks first
        w.Click(IDC_START);
        EXPECT_TRUE(MainDialog(w).IsGuarding());
    });
}

}  // namespace
