// The whole program on the Qt host (offscreen, with a scripted system): the tray menu, the
// 高级设置 and About entries of the background menu, the browse button and the password dialog, driven
// through the widgets as a user would.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QBackingStore>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <climits>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "FakeSystem.h"
#include "QtHostFixture.h"
#include "SettingsSamples.h"
#include "TempDir.h"
#include "TestGbk.h"
#include "app/CPerennixApp.h"
#include "backends/posix/PosixFiles.h"
#include "base/Unicode.h"
#include "resources/Resource.h"
#include "settings/SettingsTable.h"

using namespace qttest;

namespace {

QMenu* ActiveMenu() { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); }

QStringList MenuTexts(QMenu* menu)
{
    QStringList texts;
    for (QAction* a : menu->actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return texts;
}

// Picks the entry with this text as a user does, with the keyboard.
void Pick(QMenu* menu, const QString& text)
{
    for (QAction* a : menu->actions()) {
        if (a->text() == text) {
            menu->setActiveAction(a);
            QTest::keyClick(menu, Qt::Key_Return);
            return;
        }
    }
    ADD_FAILURE() << "no menu entry " << text.toStdString();
    menu->close();
}

class ProgramTest : public QtHostTest {
protected:
    ProgramTest()
        : systemGuard(system)
    {
        system.modulePath = folder.File("perennix");
        clock.Set(2026, 3, 10, 12, 0, 0);
        SetFiles(&files);
    }
    ~ProgramTest() override { SetFiles(nullptr); }

    std::string Log() const { return testsupport::ReadBytes(folder.File("log.txt")); }

    // Runs the program; script acts once its main window is up.
    void Run(std::function<void(QtDialogWindow&)> script)
    {
        When([this] { return !host.OpenWindows().empty(); }, [this, script] { script(Top()); });
        CPerennixApp app;
        EXPECT_FALSE(app.InitInstance());
    }

    testsupport::TempDir folder;
    const std::filesystem::path& dir = folder.Path();
    fake::VirtualClock clock;
    fake::FakeSystem system{clock};
    fake::ScopedSystem systemGuard;
    PosixFiles files;
};

TEST_F(ProgramTest, TrayMenuCommandsReachTheirHandlersAndExitAsks)
{
    Run([&](QtDialogWindow& w) {
        QtDialogWindow* main = &w;
        QDialog* window = w.Widget();
        EXPECT_TRUE(window->isVisible());
        // Only the right button's press opens the menu.
        w.PostMessage(WM_TRAYNOTIFY, IDR_MAINFRAME, WM_LBUTTONDOWN);
        w.PostMessage(WM_TRAYNOTIFY, IDR_MAINFRAME, WM_LBUTTONDBLCLK);
        w.PostMessage(WM_TRAYNOTIFY, IDR_MAINFRAME, WM_RBUTTONUP);
        QCoreApplication::sendPostedEvents();  // all three handled, none opened a menu
        EXPECT_EQ(ActiveMenu(), nullptr);

        When([] { return ActiveMenu() != nullptr; },
            [main] {
                EXPECT_EQ(MenuTexts(ActiveMenu()),
                    (QStringList{QStringLiteral("显示/隐藏"), QStringLiteral("高级设置(&S)..."), QStringLiteral("-"),
                        QStringLiteral("退出程序")}));
                Pick(ActiveMenu(), QStringLiteral("退出程序"));
                // Cancelled: nothing changes.
                When([] { return ActiveBox() != nullptr; },
                    [main] {
                        EXPECT_EQ(ActiveBox()->text(), QStringLiteral("确定退出？"));
                        EXPECT_EQ(ActiveBox()->windowTitle(), QStringLiteral("退出"));
                        Answer(ActiveBox(), QStringLiteral("取消"));
                        QTimer::singleShot(50, [main] {
                            EXPECT_FALSE(main->Ended());
                            // Again, answered OK: the program ends.
                            When([] { return ActiveMenu() != nullptr; },
                                [] {
                                    Pick(ActiveMenu(), QStringLiteral("退出程序"));
                                    When([] { return ActiveBox() != nullptr; },
                                        [] { Answer(ActiveBox(), QStringLiteral("确定")); });
                                });
                            main->PostMessage(WM_TRAYNOTIFY, IDR_MAINFRAME, WM_RBUTTONDOWN);
                        });
                    });
            });
        w.PostMessage(WM_TRAYNOTIFY, IDR_MAINFRAME, WM_RBUTTONDOWN);
    });
    const std::string log = testsupport::GbkToUtf8(Log());
    EXPECT_EQ(log.rfind("---------", 0), 0u);
    EXPECT_NE(log.find("->对话框初始化完成。。。\r\n"), std::string::npos) << log;
}

TEST_F(ProgramTest, WithoutATrayHidingMinimisesAndTheMenuShowsTheWindowAgain)
{
    // The offscreen platform has no tray host, like a bare X server.
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    Run([&](QtDialogWindow& w) {
        QDialog* window = w.Widget();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
        window->repaint();
        EXPECT_EQ(window->backingStore()->size(), window->size());
        QTest::mouseClick(w.Item(IDC_HIDE), Qt::LeftButton);
        EXPECT_TRUE(window->isMinimized());
        EXPECT_TRUE(window->isVisible()) << "still on the taskbar";
        // A minimised window holds no pixels; shown again, it is painted whole.
        EXPECT_TRUE(window->backingStore()->size().isEmpty()) << window->backingStore()->size().width();
        w.ShowWindow(SW_SHOW);
        EXPECT_FALSE(window->isMinimized());
        EXPECT_TRUE(window->isVisible());
        window->repaint();
        EXPECT_EQ(window->backingStore()->size(), window->size());
        EXPECT_EQ(window->grab().toImage().pixelColor(window->width() / 2, 2), window->palette().window().color());
        w.ShowWindow(SW_HIDE);
        EXPECT_TRUE(window->backingStore()->size().isEmpty());
        w.ShowWindow(SW_SHOW);
        window->close();
    });
    // The window and tray icon, drawn from the pixels compiled in.
    const QIcon icon = QApplication::windowIcon();
    EXPECT_EQ(icon.availableSizes(), (QList<QSize>{{16, 16}, {24, 24}, {32, 32}, {48, 48}, {64, 64}}));
    const QImage small = icon.pixmap(16, 16).toImage();
    EXPECT_EQ(qAlpha(small.pixel(0, 0)), 0);  // a round picture: the corners are clear
    EXPECT_EQ(qAlpha(small.pixel(8, 8)), 255);
}

TEST_F(ProgramTest, AWindowPaintedWhileMinimisedShowsNoIconWhenRestored)
{
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    Run([&](QtDialogWindow& w) {
        QDialog* window = w.Widget();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
        window->repaint();
        // What the window shows: its pixels as the platform holds them.
        const auto shown = [window] { return window->screen()->grabWindow(window->winId()).toImage(); };
        const QImage before = shown();
        QTest::mouseClick(w.Item(IDC_HIDE), Qt::LeftButton);
        EXPECT_TRUE(window->isMinimized());
        // A paint while minimised (a window manager may ask for one) goes through the dialog,
        // which draws its icon in the middle of an iconic window; restored, the window shows
        // the pixels it kept.
        window->repaint();
        w.ShowWindow(SW_SHOW);
        EXPECT_FALSE(window->isMinimized());
        const QImage after = shown();
        if (before.size() == after.size() && !after.isNull()) {
            const int size = w.GetSystemIconSize().cx;
            const QPoint centre(after.width() / 2, after.height() / 2);
            int changed = 0;
            for (int y = centre.y() - size / 2; y < centre.y() + size / 2; ++y) {
                for (int x = centre.x() - size / 2; x < centre.x() + size / 2; ++x)
                    changed += after.pixelColor(x, y) != before.pixelColor(x, y);
            }
            EXPECT_EQ(changed, 0) << "pixels of the minimised window's icon stayed in the restored window";
        } else {
            ADD_FAILURE() << "no picture of the window: " << before.width() << "x" << before.height() << ", "
                          << after.width() << "x" << after.height();
        }
        window->close();
    });
}

TEST_F(ProgramTest, TheTrayMenuHoldsTheDialogsEntriesAndOpensOncePerRightClick)
{
    const QStringList entries{QStringLiteral("显示/隐藏"), QStringLiteral("高级设置(&S)..."), QStringLiteral("-"),
        QStringLiteral("退出程序")};
    Run([&](QtDialogWindow& w) {
        // No tray offscreen: the window is minimised, the icon and its menu are made all the same.
        QTest::mouseClick(w.Item(IDC_HIDE), Qt::LeftButton);
        ASSERT_NE(w.TrayIcon(), nullptr);
        QMenu* menu = w.TrayMenu();
        QSystemTrayIcon* tray = w.TrayIcon();
        EXPECT_EQ(tray->contextMenu(), menu) << "the menu a StatusNotifier host is given";

        // An XEmbed tray's right click: Qt opens the icon's menu, then reports the activation.
        menu->popup(QPoint(100, 100));
        emit tray->activated(QSystemTrayIcon::Context);
        EXPECT_EQ(ActiveMenu(), menu);
        EXPECT_EQ(MenuTexts(menu), entries) << "the dialog gave its entries before the menu showed";
        const QList<QAction*> actions = menu->actions();
        menu->close();

        // A StatusNotifier host that asks for the menu gets the same one, with the same actions
        // (a host picks an entry by the id it read for it).
        emit tray->activated(QSystemTrayIcon::Context);
        EXPECT_EQ(ActiveMenu(), menu);
        EXPECT_EQ(menu->actions(), actions);
        menu->close();

        // Left clicks open nothing.
        emit tray->activated(QSystemTrayIcon::Trigger);
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        Pause(50);
        EXPECT_EQ(ActiveMenu(), nullptr);

        // A host's pick arrives as the entry's command. 高级设置 opens over the window, showing
        // start at login as the system has it; then 退出程序 asks, and OK ends the program.
        system.startAtLogin = true;
        When([this] { return host.OpenWindows().size() == 2; },
            [this, actions] {
                QtDialogWindow& settings = Top();
                EXPECT_EQ(settings.TemplateId(), IDD_SETTINGS);
                EXPECT_EQ(settings.Widget()->windowTitle(), QStringLiteral("高级设置"));
                auto* startAtLogin = qobject_cast<QCheckBox*>(settings.Item(IDC_STARTATLOGIN));
                EXPECT_TRUE(startAtLogin && startAtLogin->isChecked());
                QTest::keyClick(settings.Widget(), Qt::Key_Escape);
                When([this] { return host.OpenWindows().size() == 1; },
                    [actions] {
                        When([] { return ActiveBox() != nullptr; },
                            [] {
                                EXPECT_EQ(ActiveBox()->text(), QStringLiteral("确定退出？"));
                                Answer(ActiveBox(), QStringLiteral("确定"));
                            });
                        actions.back()->trigger();
                    });
            });
        actions[1]->trigger();
    });
    EXPECT_TRUE(system.startAtLoginSets.empty()) << "Esc changed nothing";
}

TEST_F(ProgramTest, TheBackgroundMenuOpensTheSettingsAndTheAboutBox)
{
    struct Case {
        QString entry;
        int templateId;
        QString title;
    };
    const Case cases[] = {
        {QStringLiteral("高级设置(&S)..."), IDD_SETTINGS, QStringLiteral("高级设置")},
        {QStringLiteral("关于 Perennix(&A)..."), IDD_ABOUTBOX, QStringLiteral("关于 Perennix")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry.toStdString());
        Run([&](QtDialogWindow& w) {
            When([] { return ActiveMenu() != nullptr; },
                [&] {
                    EXPECT_EQ(MenuTexts(ActiveMenu()),
                        (QStringList{QStringLiteral("高级设置(&S)..."), QStringLiteral("关于 Perennix(&A)...")}));
                    Pick(ActiveMenu(), c.entry);
                });
            When([this] { return host.OpenWindows().size() == 2; },
                [this, &c] {
                    QtDialogWindow& opened = Top();
                    EXPECT_EQ(opened.TemplateId(), c.templateId);
                    EXPECT_EQ(opened.Widget()->windowTitle(), c.title);
                    QTest::keyClick(opened.Widget(), Qt::Key_Escape);
                    When([this] { return host.OpenWindows().size() == 1; },
                        [this] {
                            EXPECT_FALSE(Top().Ended()) << "the main window stays as it was";
                            Top().Widget()->close();
                        });
                });
            // A right click on a label reaches the window's background.
            QWidget* label = w.Controls()[1];
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), label->mapToGlobal(QPoint(2, 2)));
            QApplication::sendEvent(label, &event);
        });
    }
}

// 高级设置 on the Qt host, typed into through its widgets.
class SettingsOnQtTest : public ProgramTest {
protected:
    // Opens 高级设置 from the window's menu; act runs in it once it is up, and must end it.
    // Once it has closed again, then runs in the main window.
    void InSettings(QtDialogWindow& main, std::function<void(QtDialogWindow&)> act, std::function<void()> then)
    {
        auto closed = std::make_shared<bool>(false);
        When([this] { return host.OpenWindows().size() == 2; },
            [this, act, closed] {
                QtDialogWindow& settings = Top();
                EXPECT_EQ(settings.TemplateId(), IDD_SETTINGS);
                act(settings);
                *closed = true;
            });
        When([this, closed] { return *closed && host.OpenWindows().size() == 1; }, then);
        main.PostMessage(WM_SYSCOMMAND, IDM_SETTINGS, 0);
    }

    // Replaces a field's text as a user does: all of it selected and deleted, the new text
    // typed (pasted where it is not ASCII, which QTest cannot type).
    static void TypeInto(QtDialogWindow& dialog, int id, const std::u16string& text)
    {
        auto* edit = qobject_cast<QLineEdit*>(dialog.Item(id));
        ASSERT_NE(edit, nullptr) << id;
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        const QString typed = QString::fromStdU16String(text);
        if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; }))
            QTest::keyClicks(edit, typed);
        else
            edit->insert(typed);
    }
    static bool Checked(QtDialogWindow& dialog, int id)
    {
        auto* box = qobject_cast<QCheckBox*>(dialog.Item(id));
        return box && box->isChecked();
    }
    static void Toggle(QtDialogWindow& dialog, int id) { QTest::keyClick(dialog.Item(id), Qt::Key_Space); }

    // Each row set to its changed value (SettingsSamples.h), or to its default.
    static void SetEveryRow(QtDialogWindow& dialog, bool changed)
    {
        for (const SettingKey& key : SettingsTable()) {
            if (key.row.nControlId == 0)
                continue;
            const std::u16string value = changed ? testsupport::ChangedValueText(key) : std::u16string(key.strDefault);
            if (key.type != SettingType::Flag)
                TypeInto(dialog, key.row.nControlId, value);
            else if (Checked(dialog, key.row.nControlId) != (value == u"1"))
                Toggle(dialog, key.row.nControlId);
        }
    }
    // What the rows show, "KEY=value" a line.
    static std::string Rows(QtDialogWindow& dialog)
    {
        std::string rows;
        for (const SettingKey& key : SettingsTable()) {
            if (key.row.nControlId == 0)
                continue;
            const std::u16string shown = key.type == SettingType::Flag
                ? std::u16string(Checked(dialog, key.row.nControlId) ? u"1" : u"0")
                : qobject_cast<QLineEdit*>(dialog.Item(key.row.nControlId))->text().toStdU16String();
            rows += px::ToUtf8(std::u16string(key.strKey)) + "=" + px::ToUtf8(shown) + "\n";
        }
        return rows;
    }
    static std::string ChangedRows()
    {
        std::string rows;
        for (const SettingKey& key : SettingsTable())
            if (key.row.nControlId != 0)
                rows += px::ToUtf8(std::u16string(key.strKey)) + "=" + px::ToUtf8(testsupport::ChangedValueText(key))
                    + "\n";
        return rows;
    }

    std::string Ini() const { return testsupport::ReadBytes(folder.File("config.ini")); }
    void WriteIni(const std::string& bytes) const { testsupport::WriteBytes(folder.File("config.ini"), bytes); }
};

// -5 and abc are refused, naming the row, with the focus on the field and nothing saved; then
// 确定 saves every row, and after 关闭 and a new start each row shows what was saved.
TEST_F(SettingsOnQtTest, RefusedValuesTakeTheFocusAndOkKeepsEveryRowAcrossARestart)
{
    WriteIni("[PX_SETTING]\r\nLOOPSEC=30\r\nGW_CONFIRM=Disclaimer\r\n");
    const std::string before = Ini();
    Run([&](QtDialogWindow& w) {
        InSettings(
            w,
            [&](QtDialogWindow& s) {
                const struct {
                    int id;
                    std::u16string typed;
                    QString box;
                } refused[] = {
                    {IDC_BACKOFFMAX, u"-5", QStringLiteral("最长等待应为 1 到 86400 之间的整数！")},
                    {IDC_MINUPTIME, u"abc", QStringLiteral("最短运行时间应为 1 到 86400 之间的整数！")},
                    {IDC_PROBE_FAILS, u"-5", QStringLiteral("连续失败次数应为 1 到 100 之间的整数！")},
                    {IDC_GW_LOGIN_SEC, u"abc", QStringLiteral("登录超时应为 0 到 86400 之间的整数！")},
                };
                for (const auto& r : refused) {
                    SCOPED_TRACE(r.box.toStdString());
                    SetEveryRow(s, true);
                    TypeInto(s, r.id, r.typed);
                    s.Item(IDC_EVENTCMD)->setFocus();  // the focus elsewhere, for the check to tell
                    QString shown;
                    When([] { return ActiveBox() != nullptr; },
                        [&shown] {
                            shown = ActiveBox()->text();
                            EXPECT_EQ(ActiveBox()->windowTitle(), QStringLiteral("提示"));
                            Answer(ActiveBox(), QStringLiteral("确定"));
                        });
                    QTest::mouseClick(s.Item(IDOK), Qt::LeftButton);
                    EXPECT_EQ(shown, r.box);
                    EXPECT_FALSE(s.Ended());
                    EXPECT_EQ(s.Widget()->focusWidget(), s.Item(r.id)) << "the focus is on the refused field";
                    EXPECT_EQ(qobject_cast<QLineEdit*>(s.Item(r.id))->selectedText().toStdU16String(), r.typed);
                    EXPECT_EQ(Ini(), before) << "nothing saved";
                }
                SetEveryRow(s, true);
                QTest::mouseClick(s.Item(IDOK), Qt::LeftButton);
                EXPECT_TRUE(s.Ended());
            },
            [&w] { QTest::mouseClick(w.Item(IDCANCEL), Qt::LeftButton); });
    });
    const std::string saved = Ini();
    EXPECT_NE(saved.find("\r\nLOOPSEC=30\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\r\nGW_CONFIRM=Disclaimer\r\n"), std::string::npos) << saved;
    EXPECT_TRUE(system.startAtLoginSets.empty());

    // Perennix started again.
    std::string shown;
    Run([&](QtDialogWindow& w) {
        InSettings(
            w,
            [&](QtDialogWindow& s) {
                shown = Rows(s);
                QTest::keyClick(s.Widget(), Qt::Key_Escape);
            },
            [&w] { QTest::mouseClick(w.Item(IDCANCEL), Qt::LeftButton); });
    });
    EXPECT_EQ(shown, ChangedRows());
    EXPECT_EQ(Ini(), saved);
}

// 取消 and Esc after every row and start at login were changed: nothing is kept.
TEST_F(SettingsOnQtTest, CancelAndEscKeepNothing)
{
    WriteIni("[PX_SETTING]\r\nPROBE_FAILS=5\r\n");
    const std::string before = Ini();
    system.startAtLogin = false;
    std::string first;
    std::string again;
    Run([&](QtDialogWindow& w) {
        InSettings(
            w,
            [&](QtDialogWindow& s) {
                first = Rows(s);
                Toggle(s, IDC_STARTATLOGIN);
                SetEveryRow(s, true);
                QTest::mouseClick(s.Item(IDCANCEL), Qt::LeftButton);
            },
            [&] {
                InSettings(
                    w,
                    [&](QtDialogWindow& s) {
                        again = Rows(s);
                        EXPECT_FALSE(Checked(s, IDC_STARTATLOGIN));
                        Toggle(s, IDC_STARTATLOGIN);
                        SetEveryRow(s, true);
                        QTest::keyClick(s.Widget(), Qt::Key_Escape);
                    },
                    [&w] { QTest::mouseClick(w.Item(IDCANCEL), Qt::LeftButton); });
            });
    });
    EXPECT_NE(first.find("PROBE_FAILS=5\n"), std::string::npos) << first;
    EXPECT_EQ(again, first);
    EXPECT_EQ(Ini(), before);
    EXPECT_TRUE(system.startAtLoginSets.empty());
    EXPECT_EQ(system.startAtLogin, false);
}

using MenuTest = QtHostTest;

// No Linux desktop lets a program extend the window menu it draws: a window's own commands
// go to its context menu.
TEST_F(MenuTest, TheWindowsOwnCommandsGoToItsContextMenu)
{
    ProbeDialog dialog(IDD_MAIN);
    Soon([&] {
        QtDialogWindow& w = Top();
        EXPECT_FALSE(w.HasSystemMenu());
        EXPECT_FALSE(w.AppendSystemMenuItem(u"关于 Perennix(&A)...", IDM_ABOUTBOX));
        EXPECT_TRUE(dialog.AppendWindowMenuItem(u"关于 Perennix(&A)...", IDM_ABOUTBOX));
        When([] { return ActiveMenu() != nullptr; },
            [] {
                EXPECT_EQ(MenuTexts(ActiveMenu()), QStringList{QStringLiteral("关于 Perennix(&A)...")});
                Pick(ActiveMenu(), QStringLiteral("关于 Perennix(&A)..."));
            });
        When([&] { return !dialog.Received(WM_SYSCOMMAND).empty(); }, [&] { Top().EndDialog(IDOK); });
        QWidget* label = w.Controls()[1];
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), label->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(label, &event);
    });
    EXPECT_EQ(host.RunModal(dialog, nullptr), IDOK);
    EXPECT_EQ(dialog.Received(WM_SYSCOMMAND), (std::vector<Message>{{WM_SYSCOMMAND, IDM_ABOUTBOX, 0}}));
}

TEST_F(ProgramTest, BrowsingForAFileSetsThePathAndTheImageName)
{
    const std::filesystem::path program = dir / "tools" / "App.bin";
    std::filesystem::create_directories(program.parent_path());
    std::ofstream(program) << "#!/bin/sh\n";
    Run([&](QtDialogWindow& w) {
        When([] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()) != nullptr; },
            [&] {
                auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                EXPECT_EQ(files->fileMode(), QFileDialog::ExistingFile);
                // No filter: every file is offered.
                ASSERT_EQ(files->nameFilters().size(), 1);
                EXPECT_TRUE(files->nameFilters().front().endsWith(QStringLiteral("(*)")));
                files->selectFile(QString::fromStdString(program.string()));
                static_cast<QDialog*>(files)->accept();
            });
        w.Item(IDC_FULLPATH)->parentWidget()->findChild<QToolButton*>()->click();
        EXPECT_EQ(w.GetDlgItemText(IDC_FULLPATH), px::FromUtf8(program.string()));
        EXPECT_EQ(w.GetDlgItemText(IDC_EXENAME), u"App.bin");
        w.Widget()->close();
    });
}

TEST_F(ProgramTest, PasswordDialogRefusesAShortPasswordThenMasksTheArguments)
{
    Run([&](QtDialogWindow& w) {
        w.SetDlgItemText(IDC_ARGS, u"--port 4001");
        When([this] { return host.OpenWindows().size() == 2; },
            [this] {
                QtDialogWindow& passwd = Top();
                EXPECT_EQ(passwd.Widget()->windowTitle(), QStringLiteral("密码"));
                auto* edit = qobject_cast<QLineEdit*>(passwd.Item(IDC_PASSWD));
                EXPECT_EQ(edit->echoMode(), QLineEdit::Normal) << "a new password is typed in plain";
                QTest::keyClicks(edit, QStringLiteral("abc"));
                When([] { return ActiveBox() != nullptr; },
                    [edit] {
                        EXPECT_EQ(ActiveBox()->text(), QStringLiteral("请输入6～16位字符！"));
                        EXPECT_EQ(ActiveBox()->windowTitle(), QStringLiteral("提示"));
                        Answer(ActiveBox(), QStringLiteral("确定"));
                        QTimer::singleShot(20, [edit] {
                            QTest::keyClicks(edit, QStringLiteral("def"));
                            QTest::keyClick(edit, Qt::Key_Return);
                        });
                    });
                QTest::keyClick(edit, Qt::Key_Return);
            });
        QTest::mouseClick(w.Item(IDC_ARGSCRYPT), Qt::LeftButton, {}, QPoint(4, 4));
        EXPECT_TRUE(w.IsDlgButtonChecked(IDC_ARGSCRYPT));
        auto* args = qobject_cast<QLineEdit*>(w.Item(IDC_ARGS));
        EXPECT_EQ(args->displayText(), QString(11, QLatin1Char('*')));

        // Switching off asks for the password masked.
        When([this] { return host.OpenWindows().size() == 2; },
            [this] {
                auto* edit = qobject_cast<QLineEdit*>(Top().Item(IDC_PASSWD));
                QTest::keyClicks(edit, QStringLiteral("abcdef"));
                EXPECT_EQ(edit->displayText(), QStringLiteral("******"));
                QTest::keyClick(edit, Qt::Key_Return);
            });
        QTest::mouseClick(w.Item(IDC_ARGSCRYPT), Qt::LeftButton, {}, QPoint(4, 4));
        EXPECT_FALSE(w.IsDlgButtonChecked(IDC_ARGSCRYPT));
        EXPECT_EQ(args->displayText(), QStringLiteral("--port 4001"));
        w.Widget()->close();
    });
}

}  // namespace

namespace {

class GuardingProgramTest : public ProgramTest {
protected:
    GuardingProgramTest()
    {
        const std::string program = folder / "guarded.exe";
        std::ofstream(program) << "#!/bin/sh\n";
        std::ofstream(folder / "config.ini")
            << "[PX_SETTING]\r\nFULLPATH=" << program << "\r\nEXE_NAME=guarded.exe\r\nLOOPSEC=60\r\nAUTOSTART=1\r\n";
        system.launchStartsProcess = u"guarded.exe";
    }
    // The run log's last entry, without its timestamp.
    std::string LastLogEntry() const
    {
        const std::string log = testsupport::GbkToUtf8(Log());
        const size_t end = log.rfind("\r\n");
        const size_t start = log.rfind("\r\n", end - 1);
        return start == std::string::npos ? std::string() : log.substr(start + 2 + 23, end - start - 2 - 23);
    }
};

// Enter while guarding asks first, on the real widgets.
TEST_F(GuardingProgramTest, EnterWhileGuardingAsksFirst)
{
    Run([&](QtDialogWindow& w) {
        QtDialogWindow* main = &w;
        When([this] { return system.CountProcessesNamed(u"guarded.exe") == 1; },
            [main] {
                // The settings' fields are locked while guarding: the check box holds the focus.
                QWidget* focused = main->Item(IDC_AUTOSTART);
                ASSERT_NE(focused, nullptr);
                focused->setFocus();
                When([] { return ActiveBox() != nullptr; },
                    [main, focused] {
                        EXPECT_EQ(ActiveBox()->text(), QStringLiteral("确定退出？"));
                        EXPECT_EQ(ActiveBox()->windowTitle(), QStringLiteral("退出"));
                        Answer(ActiveBox(), QStringLiteral("取消"));
                        QTimer::singleShot(50, [main, focused] {
                            EXPECT_FALSE(main->Ended());
                            When([] { return ActiveBox() != nullptr; },
                                [] { Answer(ActiveBox(), QStringLiteral("确定")); });
                            QTest::keyClick(focused, Qt::Key_Return);
                        });
                    });
                QTest::keyClick(focused, Qt::Key_Return);
            });
    });
    EXPECT_EQ(LastLogEntry(), "->退出程序（确认退出）。。。");
}

// A termination signal ends the program as the user's exit would, also while a box waits
// for an answer: logged, and the program it guarded runs on.
TEST_F(GuardingProgramTest, ATerminationSignalEndsTheProgramWhereverItWaits)
{
    Run([&](QtDialogWindow& w) {
        QtDialogWindow* main = &w;
        When([this] { return system.CountProcessesNamed(u"guarded.exe") == 1; },
            [main] {
                When([] { return ActiveBox() != nullptr; }, [] { raise(SIGTERM); });
                main->Dispatch(WM_COMMAND, CDialogEx::MakeCommandWParam(IDC_START, BN_CLICKED), 0);  // "stop?"
            });
    });
    EXPECT_EQ(LastLogEntry(), "->退出程序，收到信号：SIGTERM");
    EXPECT_EQ(system.CountProcessesNamed(u"guarded.exe"), 1u);
}

}  // namespace

namespace {

// Values longer than a line edit takes by default (32,767 characters) are read whole from
// config.ini and saved whole by the start that start-on-launch makes.
TEST_F(ProgramTest, LongValuesInConfigIniSurviveTheSaveOfAStartOnLaunch)
{
    const std::string program = folder / "guarded.exe";
    std::ofstream(program) << "#!/bin/sh\n";
    system.launchStartsProcess = u"guarded.exe";
    const std::string times = "06:00" + std::string(39995, ';');
    const std::string before = "[PX_SETTING]\r\nREB_TIME=" + times + "\r\nFULLPATH=" + program
        + "\r\nEXE_NAME=guarded.exe\r\nARGS=" + std::string(40000, 'a')
        + "\r\nARGSCRYPT=0\r\nLOOPSEC=60\r\nISTIMEDCLOSE=0\r\nAUTOSTART=1\r\n";
    std::ofstream(folder / "config.ini", std::ios::binary) << before;
    Run([&](QtDialogWindow& w) {
        QtDialogWindow* main = &w;
        When([this] { return system.CountProcessesNamed(u"guarded.exe") == 1; },
            [main] {
                EXPECT_EQ(qobject_cast<QLineEdit*>(main->Item(IDC_ARGS))->text().size(), 40000);
                EXPECT_EQ(qobject_cast<QLineEdit*>(main->Item(IDC_REBTIME))->text().size(), 40000);
                main->Widget()->close();
            });
    });
    const std::string after = testsupport::ReadBytes(folder.File("config.ini"));
    EXPECT_EQ(after.size(), before.size());
    EXPECT_TRUE(after == before) << "config.ini changed";
}

// A long value pasted into the edit, and typed on past its end, is held and saved whole.
TEST_F(ProgramTest, ALongValuePastedAndTypedIsSavedWhole)
{
    const std::string program = folder / "guarded.exe";
    std::ofstream(program) << "#!/bin/sh\n";
    std::ofstream(folder / "config.ini", std::ios::binary)
        << "[PX_SETTING]\r\nFULLPATH=" << program << "\r\nEXE_NAME=guarded.exe\r\n";
    Run([&](QtDialogWindow& w) {
        auto* args = qobject_cast<QLineEdit*>(w.Item(IDC_ARGS));
        args->setFocus();
        QApplication::clipboard()->setText(QString(40000, QLatin1Char('p')));
        QTest::keyClick(args, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(args, Qt::Key_Z);
        EXPECT_EQ(args->text().size(), 40001);
        When([] { return ActiveBox() != nullptr; },
            [] {
                EXPECT_EQ(ActiveBox()->text(), QStringLiteral("保存成功！"));
                Answer(ActiveBox(), QStringLiteral("确定"));
            });
        qobject_cast<QAbstractButton*>(w.Item(IDC_SAVE))->click();
        w.Widget()->close();
    });
    const std::string ini = testsupport::ReadBytes(folder.File("config.ini"));
    const std::string expected = "ARGS=" + std::string(40000, 'p') + "z\r\n";
    EXPECT_NE(ini.find(expected), std::string::npos) << "ARGS is not the 40,001 characters pasted and typed";
}

}  // namespace
