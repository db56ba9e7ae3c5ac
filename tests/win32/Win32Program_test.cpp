// The whole program on the Windows window host and file service (with a scripted system):
// what the saves write to config.ini, driven through the real edits, and read back by the
// Windows profile functions.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "FakeSystem.h"
#include "SettingsSamples.h"
#include "TempDir.h"
#include "Win32HostFixture.h"
#include "Win32TestSupport.h"
#include "app/CPerennixApp.h"
#include "backends/win32/Win32Files.h"
#include "base/Unicode.h"
#include "resources/Resource.h"
#include "settings/SettingsTable.h"

using namespace wintest;

namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::wstring W(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

class Win32ProgramTest : public Win32HostTest {
protected:
    Win32ProgramTest()
        : systemGuard(fakeSystem)
    {
        fakeSystem.modulePath = (folder / L"Perennix.exe").u16string();
        fakeSystem.launchStartsProcess = u"guarded.exe";
        clock.Set(2026, 3, 10, 12, 0, 0);
        std::ofstream(program) << "MZ";
        SetFiles(&files);
    }
    ~Win32ProgramTest() override { SetFiles(nullptr); }

    // Runs the program on a window host of its own (each claims the folder once); script acts
    // once the main window is up, and ends it.
    void Run(const std::function<void(HWND)>& script)
    {
        Win32WindowHost runHost(ProgramResources());
        SetWindowHost(&runHost);
        When([&] { return !runHost.OpenWindows().empty(); }, [&] { script(runHost.OpenWindows().back()->Hwnd()); });
        CPerennixApp app;
        EXPECT_FALSE(app.InitInstance());
        SetWindowHost(&host);
    }

    // Clicks "保存" and answers the box it shows; returns the box's text.
    static std::wstring Save(HWND main)
    {
        std::wstring shown;
        When([main] { return OwnedDialog(main) != nullptr; },
            [main, &shown] {
                const HWND box = OwnedDialog(main);
                shown = TextOf(::GetDlgItem(box, 0xFFFF));
                ::PostMessageW(box, WM_COMMAND, IDOK, 0);
            });
        ::SendDlgItemMessageW(main, IDC_SAVE, BM_CLICK, 0, 0);
        return shown;
    }

    static void Close(HWND main) { ::PostMessageW(main, WM_COMMAND, IDCANCEL, 0); }

    // What GetPrivateProfileStringW reads for key of [PX_SETTING].
    std::u16string WindowsReads(const std::u16string& key) const
    {
        std::wstring value(100000, L'\0');
        const DWORD length = ::GetPrivateProfileStringW(
            L"PX_SETTING", W(key).c_str(), L"<default>", value.data(), static_cast<DWORD>(value.size()), ini.c_str());
        value.resize(length);
        return std::u16string(value.begin(), value.end());
    }

    testsupport::TempDir temp;
    const fs::path folder = temp.Path();
    const fs::path ini = folder / L"config.ini";
    const fs::path program = folder / L"guarded.exe";
    fake::VirtualClock clock;
    fake::FakeSystem fakeSystem{clock};
    fake::ScopedSystem systemGuard;
    Win32Files files;
};

// Values longer than an edit holds by default (32,767 characters typed, 30,000 under Wine) are
// read whole from config.ini and saved whole by the start that start-on-launch makes.
TEST_F(Win32ProgramTest, LongValuesInConfigIniSurviveTheSaveOfAStartOnLaunch)
{
    const std::string args(40000, 'a');
    const std::string times = "06:00" + std::string(39995, ';');
    const std::string before = "[PX_SETTING]\r\nREB_TIME=" + times + "\r\nFULLPATH=" + program.string()
        + "\r\nEXE_NAME=guarded.exe\r\nARGS=" + args
        + "\r\nARGSCRYPT=0\r\nLOOPSEC=60\r\nISTIMEDCLOSE=0\r\nAUTOSTART=1\r\n";
    std::ofstream(ini, std::ios::binary) << before;
    Run([&](HWND main) {
        When([&] { return fakeSystem.CountProcessesNamed(u"guarded.exe") == 1; },
            [&, main] {
                EXPECT_EQ(::GetWindowTextLengthW(::GetDlgItem(main, IDC_ARGS)), 40000);
                EXPECT_EQ(::GetWindowTextLengthW(::GetDlgItem(main, IDC_REBTIME)), 40000);
                Close(main);
            });
    });
    const std::string after = ReadBytes(ini);
    EXPECT_EQ(after.size(), before.size());
    EXPECT_TRUE(after == before) << "config.ini changed";
}

// A long value pasted into the edit, and typed on past its end, is held and saved whole.
TEST_F(Win32ProgramTest, ALongValuePastedAndTypedIsSavedWhole)
{
    std::ofstream(ini, std::ios::binary) << "[PX_SETTING]\r\nFULLPATH=" << program.string()
                                         << "\r\nEXE_NAME=guarded.exe\r\n";
    const std::wstring pasted(40000, L'p');
    Run([&](HWND main) {
        const HWND edit = ::GetDlgItem(main, IDC_ARGS);
        ::SendMessageW(edit, EM_SETSEL, 0, -1);
        ::SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(pasted.c_str()));
        ::SendMessageW(edit, EM_SETSEL, 40000, 40000);
        ::SendMessageW(edit, WM_CHAR, L'z', 0);
        EXPECT_EQ(::GetWindowTextLengthW(edit), 40001);
        EXPECT_EQ(Save(main), L"保存成功！");
        Close(main);
    });
    const std::u16string saved = WindowsReads(u"ARGS");
    EXPECT_EQ(saved.size(), 40001u);
    EXPECT_TRUE(saved == std::u16string(40000, u'p') + u"z");
}

// A config.ini the program creates reads back through the Windows profile functions as it
// was saved: in the ANSI code page while it holds every value, else UTF-16LE with a BOM.
TEST_F(Win32ProgramTest, ANewConfigIniReadsBackThroughTheWindowsProfileFunctions)
{
    struct Case {
        std::u16string folderName;
        std::u16string args;
        std::string bom;
    };
    const Case cases[] = {
        {u"实时", u"--用户 交易员", ""},
        {u"실시간", u"--user 한국어 \u00E4", "\xFF\xFE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(px::ToUtf8(c.folderName));
        fs::remove(ini);
        const fs::path chinese = folder / W(c.folderName) / L"系统.exe";
        fs::create_directories(chinese.parent_path());
        std::ofstream(chinese) << "MZ";
        const std::u16string path = chinese.u16string();
        Run([&](HWND main) {
            ::SetDlgItemTextW(main, IDC_FULLPATH, W(path).c_str());
            ::SetDlgItemTextW(main, IDC_ARGS, W(c.args).c_str());
            EXPECT_EQ(Save(main), L"保存成功！");
            Close(main);
        });
        const std::string bytes = ReadBytes(ini);
        EXPECT_EQ(bytes.substr(0, c.bom.size()), c.bom);
        if (c.bom.empty()) {
            EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");
            EXPECT_NE(bytes.substr(0, 2), "\xFF\xFE");
        }
        EXPECT_EQ(WindowsReads(u"FULLPATH"), path);
        EXPECT_EQ(WindowsReads(u"EXE_NAME"), u"系统.exe");
        EXPECT_EQ(WindowsReads(u"ARGS"), c.args);
        EXPECT_EQ(WindowsReads(u"LOOPSEC"), u"60");
    }
}

// 高级设置 on the real dialog: its fields filled as a user's paste fills them, its boxes clicked.
class Win32SettingsTest : public Win32ProgramTest {
protected:
    // Opens 高级设置 from the system menu; act runs in it once it is up and must end it; then
    // runs in the main window once it has gone.
    static void InSettings(HWND main, std::function<void(HWND)> act, std::function<void()> then)
    {
        When([main] { return OwnedDialog(main) != nullptr; },
            [main, act, then] {
                const HWND settings = OwnedDialog(main);
                act(settings);
                When([main] { return OwnedDialog(main) == nullptr; }, then);
            });
        ::PostMessageW(main, WM_SYSCOMMAND, IDM_SETTINGS, 0);
    }

    static void TypeInto(HWND dialog, int id, const std::u16string& text)
    {
        const HWND edit = ::GetDlgItem(dialog, id);
        ASSERT_NE(edit, nullptr) << id;
        const std::wstring typed = W(text);
        ::SendMessageW(edit, EM_SETSEL, 0, -1);
        ::SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(typed.c_str()));
    }
    static bool Checked(HWND dialog, int id) { return ::IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

    // Each row set to its changed value (SettingsSamples.h), or to its default.
    static void SetEveryRow(HWND dialog, bool changed)
    {
        for (const SettingKey& key : SettingsTable()) {
            if (key.row.nControlId == 0)
                continue;
            const std::u16string value = changed ? testsupport::ChangedValueText(key) : std::u16string(key.strDefault);
            if (key.type != SettingType::Flag)
                TypeInto(dialog, key.row.nControlId, value);
            else if (Checked(dialog, key.row.nControlId) != (value == u"1"))
                ::SendDlgItemMessageW(dialog, key.row.nControlId, BM_CLICK, 0, 0);
        }
    }
    // What the rows show, "KEY=value" a line; with changed, the changed values instead.
    static std::string Rows(HWND dialog, bool changed = false)
    {
        std::string rows;
        for (const SettingKey& key : SettingsTable()) {
            if (key.row.nControlId == 0)
                continue;
            std::u16string shown;
            if (changed) {
                shown = testsupport::ChangedValueText(key);
            } else if (key.type == SettingType::Flag) {
                shown = Checked(dialog, key.row.nControlId) ? u"1" : u"0";
            } else {
                const std::wstring text = TextOf(::GetDlgItem(dialog, key.row.nControlId));
                shown.assign(text.begin(), text.end());
            }
            rows += px::ToUtf8(std::u16string(key.strKey)) + "=" + px::ToUtf8(shown) + "\n";
        }
        return rows;
    }
};

// -5 and abc are refused, naming the row, with the focus on the field and nothing saved; 确定
// then saves every row, and after 关闭 and a new start each row shows what was saved; 取消 after
// changing every row and start at login keeps nothing.
TEST_F(Win32SettingsTest, RefusedValuesTakeTheFocusOkKeepsEveryRowAndCancelKeepsNothing)
{
    std::ofstream(ini, std::ios::binary) << "[PX_SETTING]\r\nLOOPSEC=30\r\nGW_CONFIRM=Disclaimer\r\n";
    const std::string before = ReadBytes(ini);
    fakeSystem.startAtLogin = false;
    Run([&](HWND main) {
        InSettings(
            main,
            [&](HWND settings) {
                const struct {
                    int id;
                    std::u16string typed;
                    std::wstring box;
                } refused[] = {
                    {IDC_BACKOFFMAX, u"-5", L"最长等待应为 1 到 86400 之间的整数！"},
                    {IDC_MINUPTIME, u"abc", L"最短运行时间应为 1 到 86400 之间的整数！"},
                    {IDC_PROBE_FAILS, u"-5", L"连续失败次数应为 1 到 100 之间的整数！"},
                    {IDC_GW_LOGIN_SEC, u"abc", L"登录超时应为 0 到 86400 之间的整数！"},
                };
                for (const auto& r : refused) {
                    SCOPED_TRACE(px::ToUtf8(r.typed));
                    SetEveryRow(settings, true);
                    TypeInto(settings, r.id, r.typed);
                    ::SetFocus(::GetDlgItem(settings, IDC_EVENTCMD));  // elsewhere, for the check to tell
                    std::wstring shown;
                    std::wstring caption;
                    When([settings] { return OwnedDialog(settings) != nullptr; },
                        [settings, &shown, &caption] {
                            const HWND box = OwnedDialog(settings);
                            shown = TextOf(::GetDlgItem(box, 0xFFFF));
                            caption = TextOf(box);
                            ::PostMessageW(box, WM_COMMAND, IDOK, 0);
                        });
                    ::SendDlgItemMessageW(settings, IDOK, BM_CLICK, 0, 0);
                    EXPECT_EQ(shown, r.box);
                    EXPECT_EQ(caption, L"提示");
                    EXPECT_TRUE(::IsWindowVisible(settings)) << "the dialog stays open";
                    EXPECT_EQ(::GetFocus(), ::GetDlgItem(settings, r.id)) << "the focus is on the refused field";
                    EXPECT_EQ(ReadBytes(ini), before) << "nothing saved";
                }
                SetEveryRow(settings, true);
                ::SendDlgItemMessageW(settings, IDOK, BM_CLICK, 0, 0);
            },
            [main] { Close(main); });
    });
    const std::string saved = ReadBytes(ini);
    EXPECT_NE(saved, before);
    EXPECT_EQ(WindowsReads(u"LOOPSEC"), u"30");
    EXPECT_EQ(WindowsReads(u"GW_CONFIRM"), u"Disclaimer");
    EXPECT_EQ(WindowsReads(u"EVENT_CMD"), testsupport::ChangedValueText(*FindSetting(u"EVENT_CMD")));

    // Perennix started again: every row as saved. Changed back and cancelled: nothing kept.
    std::string shown;
    std::string changed;
    std::string again;
    Run([&](HWND main) {
        InSettings(
            main,
            [&](HWND settings) {
                shown = Rows(settings);
                changed = Rows(settings, true);
                ::SendDlgItemMessageW(settings, IDC_STARTATLOGIN, BM_CLICK, 0, 0);
                SetEveryRow(settings, false);
                ::SendDlgItemMessageW(settings, IDCANCEL, BM_CLICK, 0, 0);
            },
            [&, main] {
                InSettings(
                    main,
                    [&](HWND settings) {
                        again = Rows(settings);
                        EXPECT_FALSE(Checked(settings, IDC_STARTATLOGIN));
                        ::SendDlgItemMessageW(settings, IDCANCEL, BM_CLICK, 0, 0);
                    },
                    [main] { Close(main); });
            });
    });
    EXPECT_EQ(shown, changed);
    EXPECT_EQ(again, changed);
    EXPECT_EQ(ReadBytes(ini), saved);
    EXPECT_TRUE(fakeSystem.startAtLoginSets.empty());
}

// 高级设置 on the window host: reached from the system menu and from the tray icon's menu, it
// shows start at login as the system records it and changes it with "确定".
TEST_F(Win32ProgramTest, TheSettingsDialogOpensFromTheSystemMenuAndTheTrayMenu)
{
    struct Case {
        const char* name;
        bool fromTray;
        bool before;
    };
    const Case cases[] = {{"the system menu", false, false}, {"the tray menu", true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakeSystem.startAtLogin = c.before;
        fakeSystem.startAtLoginSets.clear();
        std::wstring title;
        Run([&](HWND main) {
            When([main] { return OwnedDialog(main) != nullptr; },
                [main, &title, &c] {
                    const HWND settings = OwnedDialog(main);
                    title = TextOf(settings);
                    EXPECT_EQ(::IsDlgButtonChecked(settings, IDC_STARTATLOGIN), c.before ? BST_CHECKED : BST_UNCHECKED);
                    ::SendDlgItemMessageW(settings, IDC_STARTATLOGIN, BM_CLICK, 0, 0);
                    ::SendDlgItemMessageW(settings, IDOK, BM_CLICK, 0, 0);
                    When([main] { return OwnedDialog(main) == nullptr; }, [main] { Close(main); });
                });
            if (!c.fromTray) {
                const HMENU menu = ::GetSystemMenu(main, FALSE);
                bool offered = false;
                for (int i = 0; i < ::GetMenuItemCount(menu); ++i)
                    offered = offered || ::GetMenuItemID(menu, i) == IDM_SETTINGS;
                EXPECT_TRUE(offered);
                ::PostMessageW(main, WM_SYSCOMMAND, IDM_SETTINGS, 0);
                return;
            }
            // The tray icon's menu, its second entry picked with the keyboard as a user does.
            When([] { return ::FindWindowW(L"#32768", nullptr) != nullptr; },
                [] {
                    for (WORD key : {VK_DOWN, VK_DOWN, VK_RETURN}) {
                        ::keybd_event(static_cast<BYTE>(key), 0, 0, 0);
                        ::keybd_event(static_cast<BYTE>(key), 0, KEYEVENTF_KEYUP, 0);
                    }
                });
            ::PostMessageW(main, WM_TRAYNOTIFY, IDR_MAINFRAME, WM_RBUTTONDOWN);
        });
        EXPECT_EQ(title, L"高级设置");
        EXPECT_EQ(fakeSystem.startAtLoginSets, std::vector<bool>{!c.before});
    }
}

}  // namespace

namespace {

// Every tray call the window host makes, as the shell got it, and the shell's answer.
struct ShellCall {
    DWORD message = 0;
    UINT flags = 0;
    std::wstring infoTitle;
    std::wstring info;
    BOOL result = FALSE;
};
std::vector<ShellCall> g_shellCalls;

BOOL WINAPI RecordShellCall(DWORD message, PNOTIFYICONDATAW record)
{
    const BOOL result = ::Shell_NotifyIconW(message, record);
    g_shellCalls.push_back({message, record->uFlags, record->szInfoTitle, record->szInfo, result});
    return result;
}

// The real system, with the program's folder a temporary one.
class FolderSystem : public Win32System {
public:
    explicit FolderSystem(std::u16string modulePath)
        : m_modulePath(std::move(modulePath))
    {
    }
    std::u16string GetModuleFileName() override { return m_modulePath; }

private:
    std::u16string m_modulePath;
};

// The whole program on the Windows window host and the real system, guarding the helper
// started as pxcrash.exe with "exit 3": it ends at once with code 3, at every launch.
class Win32CrashTest : public Win32HostTest {
protected:
    Win32CrashTest()
    {
        fs::copy_file(pxtest::HelperPath(), folder / L"pxcrash.exe");
        std::ofstream(folder / L"config.ini", std::ios::binary)
            << "[PX_SETTING]\r\nFULLPATH=" << (folder / L"pxcrash.exe").string()
            << "\r\nEXE_NAME=pxcrash.exe\r\nARGS=exit 3\r\nLOOPSEC=1\r\nAUTOSTART=1\r\n";
        SetSystem(&folderSystem);
        SetFiles(&files);
        g_shellCalls.clear();
        Win32DialogWindow::s_shellNotifyIcon = &RecordShellCall;
    }
    ~Win32CrashTest() override
    {
        Win32DialogWindow::s_shellNotifyIcon = &::Shell_NotifyIconW;
        SetFiles(nullptr);
    }

    testsupport::TempDir temp;
    const fs::path folder = temp.Path();
    FolderSystem folderSystem{(folder / L"Perennix.exe").u16string()};
    Win32Files files;
};

TEST_F(Win32CrashTest, AHelperThatDiesIsToldInTheTrayIconsBalloon)
{
    const auto balloon = [] {
        return std::find_if(g_shellCalls.begin(), g_shellCalls.end(),
            [](const ShellCall& call) { return call.message == NIM_MODIFY && call.flags == NIF_INFO; });
    };
    Win32WindowHost runHost(ProgramResources());
    SetWindowHost(&runHost);
    When([&] { return !runHost.OpenWindows().empty(); },
        [&] {
            // Into the tray before the first check finds the helper gone, a second after its launch.
            const HWND main = runHost.OpenWindows().back()->Hwnd();
            ::SendDlgItemMessageW(main, IDC_HIDE, BM_CLICK, 0, 0);
            When([&] { return balloon() != g_shellCalls.end(); },
                [main] { ::PostMessageW(main, WM_COMMAND, IDCANCEL, 0); });
        });
    CPerennixApp app;
    EXPECT_FALSE(app.InitInstance());
    SetWindowHost(&host);

    ASSERT_FALSE(g_shellCalls.empty());
    EXPECT_EQ(g_shellCalls.front().message, static_cast<DWORD>(NIM_ADD));
    EXPECT_TRUE(g_shellCalls.front().result) << "the shell took no icon";
    const auto call = balloon();
    ASSERT_NE(call, g_shellCalls.end()) << "no balloon was asked for";
    EXPECT_TRUE(call->result) << "the shell refused the balloon";
    EXPECT_EQ(call->infoTitle, L"Perennix：pxcrash.exe");
    EXPECT_EQ(call->info.rfind(L"程序已退出，退出码：3", 0), 0u)
        << px::ToUtf8(std::u16string(call->info.begin(), call->info.end()));
}

}  // namespace
