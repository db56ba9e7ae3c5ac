// The Qt window host: windows built from the template table, items, masking, keys, timers,
// posted messages and message boxes, seen through a probe dialog.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCryptographicHash>
#include <QFileDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "QtHostFixture.h"
#include "TempDir.h"
#include "backends/qt/DialogUnits.h"
#include "backends/qt/QtText.h"
#include "base/Unicode.h"
#include "resources/DialogTemplates.h"
#include "resources/Resource.h"

using namespace qttest;

namespace {

// The Chinese UI font scripts/deps installs, the one the templates find on a test machine;
// the pixel sizes below are pinned for it.
const QString kFixedFont = QStringLiteral("WenQuanYi Micro Hei");

// Each template's base units in that font (at the template's point size) and its client size
// in pixels. The 高级设置 dialog grows by a row with each setting: its size is pinned through
// its base units alone (units times base units, a quarter and an eighth, rounded as MulDiv).
struct PinnedTemplate {
    int id;
    px::qt::BaseUnits base;
    QSize size;  // none: from the template's units
};
const PinnedTemplate kPinnedTemplates[] = {
    {IDD_MAIN, {7, 15}, {537, 467}},  // 10 points, 307 x 249 units
    {IDD_PASSWD, {6, 13}, {333, 125}},  // 8 points, 222 x 77 units
    {IDD_ABOUTBOX, {7, 14}, {313, 149}},  // 9 points, 179 x 85 units
    {IDD_SETTINGS, {7, 14}, {}},  // 9 points
};

QSize PinnedSize(const PinnedTemplate& pinned, const DialogTemplate& tpl)
{
    if (pinned.size.isValid())
        return pinned.size;
    const auto scale = [](int units, int base, int divisor) { return (units * base + divisor / 2) / divisor; };
    return {scale(tpl.cx, pinned.base.cx, 4), scale(tpl.cy, pinned.base.cy, 8)};
}

const PinnedTemplate* FindPinned(int id)
{
    for (const PinnedTemplate& p : kPinnedTemplates)
        if (p.id == id)
            return &p;
    return nullptr;
}

// n * base / divisor, rounded to nearest: the dialog-unit rule, computed independently.
int Scaled(int n, int base, int divisor) { return static_cast<int>(std::lround(double(n) * base / divisor)); }

QString TextOf(QWidget* w)
{
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* group = qobject_cast<QGroupBox*>(w))
        return group->title();
    return QStringLiteral("<unknown widget>");
}

bool KindMatches(ControlKind kind, QWidget* w)
{
    switch (kind) {
    case ControlKind::PushButton:
        return qobject_cast<QPushButton*>(w) && !static_cast<QPushButton*>(w)->isDefault();
    case ControlKind::DefPushButton:
        return qobject_cast<QPushButton*>(w) && static_cast<QPushButton*>(w)->isDefault();
    case ControlKind::Label:
    case ControlKind::Icon:
        return qobject_cast<QLabel*>(w) != nullptr;
    case ControlKind::GroupBox:
        return qobject_cast<QGroupBox*>(w) != nullptr;
    case ControlKind::Edit:
    case ControlKind::BrowseEdit:
        return qobject_cast<QLineEdit*>(w) != nullptr;
    case ControlKind::AutoCheckBox:
        return qobject_cast<QCheckBox*>(w) != nullptr;
    }
    return false;
}

using TemplateTest = QtHostTest;

TEST_F(TemplateTest, EveryTemplateBuildsItsControlsWithTextIdPlaceAndTabOrder)
{
    for (const DialogTemplate& tpl : AllDialogTemplates()) {
        SCOPED_TRACE(tpl.id);
        ProbeDialog dialog(tpl.id);
        Soon([&] {
            QtDialogWindow& w = Top();
            const PinnedTemplate* pinned = FindPinned(tpl.id);
            ASSERT_NE(pinned, nullptr);
            ASSERT_EQ(QFontInfo(w.Widget()->font()).family(), kFixedFont) << "the sizes are pinned for this font";
            const px::qt::BaseUnits base = pinned->base;
            EXPECT_EQ(w.Base().cx, base.cx);
            EXPECT_EQ(w.Base().cy, base.cy);
            EXPECT_EQ(w.Widget()->windowTitle(), px::qt::ToQString(tpl.title));
            EXPECT_EQ(w.Widget()->size(), PinnedSize(*pinned, tpl));
            // The title bar's buttons are the template's, and the size is fixed: a window
            // manager offers maximising any window whose size can change.
            const Qt::WindowFlags flags = w.Widget()->windowFlags();
            EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
            EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
            EXPECT_EQ(flags.testFlag(Qt::WindowMinimizeButtonHint), tpl.style.Has(DialogStyle::MinimizeBox));
            EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
            EXPECT_EQ(w.Widget()->minimumSize(), PinnedSize(*pinned, tpl));
            EXPECT_EQ(w.Widget()->maximumSize(), PinnedSize(*pinned, tpl));

            ASSERT_EQ(w.Controls().size(), tpl.controls.size());
            std::vector<QWidget*> tabStops;
            for (size_t i = 0; i < tpl.controls.size(); ++i) {
                const ControlTemplate& c = tpl.controls[i];
                QWidget* widget = w.Controls()[i];
                SCOPED_TRACE(px::qt::ToQString(c.text).toStdString());
                EXPECT_TRUE(KindMatches(c.kind, widget));
                EXPECT_EQ(widget->property("controlId").toInt(), c.id);
                if (c.kind != ControlKind::Icon) {
                    EXPECT_EQ(TextOf(widget), px::qt::ToQString(c.text));
                }
                if (c.id != IDC_STATIC) {
                    EXPECT_EQ(w.Item(c.id), widget);
                }
                // Position and size in dialog units, relative to the window's client area.
                const QRect placed(widget->mapTo(w.Widget(), QPoint(0, 0)), widget->size());
                EXPECT_EQ(placed.topLeft(), QPoint(Scaled(c.x, base.cx, 4), Scaled(c.y, base.cy, 8)));
                if (c.kind == ControlKind::BrowseEdit) {
                    // The browse button shares the control's rectangle at its right end.
                    auto* browse = widget->parentWidget()->findChild<QToolButton*>();
                    ASSERT_NE(browse, nullptr);
                    EXPECT_EQ(placed.width() + browse->width(), Scaled(c.cx, base.cx, 4));
                    EXPECT_EQ(browse->focusPolicy(), Qt::NoFocus);
                } else if (c.kind != ControlKind::Icon) {
                    EXPECT_EQ(placed.size(), QSize(Scaled(c.cx, base.cx, 4), Scaled(c.cy, base.cy, 8)));
                }
                if (auto* label = qobject_cast<QLabel*>(widget); label && c.kind == ControlKind::Label) {
                    const Qt::Alignment horizontal = label->alignment() & Qt::AlignHorizontal_Mask;
                    EXPECT_EQ(horizontal, c.style.Has(ControlStyle::Right) ? Qt::AlignRight : Qt::AlignLeft);
                }
                if (c.style.Has(ControlStyle::TabStop)) {
                    tabStops.push_back(widget);
                } else {
                    EXPECT_FALSE(widget->focusPolicy() & Qt::TabFocus);
                }
            }
            // Tab walks the tab stops in template order and comes round again.
            ASSERT_FALSE(tabStops.empty());
            for (size_t i = 0; i < tabStops.size(); ++i) {
                QWidget* next = tabStops[i]->nextInFocusChain();
                while (next != tabStops[(i + 1) % tabStops.size()] && !(next->focusPolicy() & Qt::TabFocus))
                    next = next->nextInFocusChain();
                EXPECT_EQ(next, tabStops[(i + 1) % tabStops.size()]) << "after tab stop " << i;
            }
            // The first tab stop has the focus when the dialog opens.
            EXPECT_EQ(w.Widget()->focusWidget(), tabStops.front());
            w.EndDialog(IDOK);
        });
        EXPECT_EQ(host.RunModal(dialog, nullptr), IDOK);
    }
}

TEST_F(TemplateTest, DialogUnitsOfAFixedFont)
{
    // The rounded average width of the 52 Latin letters (316, 344 and 373 pixels for all of
    // them) and the character height.
    const std::pair<int, px::qt::BaseUnits> cases[] = {{8, {6, 13}}, {9, {7, 14}}, {10, {7, 15}}};
    for (const auto& [points, expected] : cases) {
        QFont font(kFixedFont);
        font.setPointSize(points);
        ASSERT_EQ(QFontInfo(font).family(), kFixedFont);
        const px::qt::BaseUnits base = px::qt::DialogBaseUnits(font);
        EXPECT_EQ(base.cx, expected.cx) << points;
        EXPECT_EQ(base.cy, expected.cy) << points;
    }
    // x and widths in quarters of the width, y and heights in eighths of the height, each
    // rounded on its own.
    EXPECT_EQ(px::qt::MapTemplateRect(7, 9, 50, 14, {7, 15}), QRect(12, 17, 88, 26));
    EXPECT_EQ(px::qt::MapDialogSize(307, 249, {7, 15}), QSize(537, 467));
    // Rounded to the nearest pixel, halves away from zero, like MulDiv.
    EXPECT_EQ(px::qt::MulDiv(6, 7, 4), 11);  // 10.5
    EXPECT_EQ(px::qt::MulDiv(5, 7, 4), 9);  // 8.75
    EXPECT_EQ(px::qt::MulDiv(-6, 7, 4), -11);
    EXPECT_EQ(px::qt::MulDiv(1, 1, 0), -1);
}

using ItemTest = QtHostTest;

TEST_F(ItemTest, EditsNotifyEveryChangeAndButtonsEveryClick)
{
    ProbeDialog dialog(IDD_MAIN);
    Soon([&] {
        QtDialogWindow& w = Top();
        auto* loop = qobject_cast<QLineEdit*>(w.Item(IDC_LOOPSEC));
        ASSERT_NE(loop, nullptr);
        const Message change = Command(IDC_LOOPSEC, EN_CHANGE);

        w.SetDlgItemText(IDC_LOOPSEC, u"60");
        EXPECT_EQ(dialog.Count(change), 1u);
        w.SetDlgItemText(IDC_LOOPSEC, u"60");  // the same text notifies again, as a Win32 edit does
        EXPECT_EQ(dialog.Count(change), 2u);
        QTest::keyClicks(loop, QStringLiteral("5"));
        EXPECT_EQ(loop->text(), QStringLiteral("605"));
        EXPECT_EQ(dialog.Count(change), 3u);

        EXPECT_EQ(w.GetDlgItemText(IDC_LOOPSEC), u"605");
        EXPECT_EQ(w.GetDlgItemText(IDC_STATUS), u"未启用");
        w.SetDlgItemText(IDC_STATUS, u"守护正在运行。。。");
        EXPECT_EQ(qobject_cast<QLabel*>(w.Item(IDC_STATUS))->text(), QStringLiteral("守护正在运行。。。"));
        EXPECT_EQ(w.GetDlgItemText(12345), u"");

        // Setting a check box is silent; a click toggles first, then notifies.
        auto* box = qobject_cast<QCheckBox*>(w.Item(IDC_TIMEDCLOSE));
        w.CheckDlgButton(IDC_TIMEDCLOSE, true);
        EXPECT_TRUE(w.IsDlgButtonChecked(IDC_TIMEDCLOSE));
        EXPECT_EQ(dialog.Count(Command(IDC_TIMEDCLOSE, BN_CLICKED)), 0u);
        bool checkedWhenNotified = true;
        QObject::connect(
            box, &QCheckBox::clicked, box, [&] { checkedWhenNotified = w.IsDlgButtonChecked(IDC_TIMEDCLOSE); });
        box->click();
        EXPECT_FALSE(checkedWhenNotified);
        EXPECT_EQ(dialog.Count(Command(IDC_TIMEDCLOSE, BN_CLICKED)), 1u);

        // A disabled item takes no clicks.
        w.EnableDlgItem(IDC_START, false);
        EXPECT_FALSE(w.Item(IDC_START)->isEnabled());
        QTest::mouseClick(w.Item(IDC_START), Qt::LeftButton);
        EXPECT_EQ(dialog.Count(Command(IDC_START, BN_CLICKED)), 0u);
        w.EnableDlgItem(IDC_START, true);
        QTest::mouseClick(w.Item(IDC_START), Qt::LeftButton);
        EXPECT_EQ(dialog.Count(Command(IDC_START, BN_CLICKED)), 1u);

        // The browse edit enables as one piece.
        w.EnableDlgItem(IDC_FULLPATH, false);
        EXPECT_FALSE(w.Item(IDC_FULLPATH)->parentWidget()->findChild<QToolButton*>()->isEnabled());
        w.EndDialog(IDCANCEL);
    });
    EXPECT_EQ(host.RunModal(dialog, nullptr), IDCANCEL);
}

TEST_F(ItemTest, TheBrowseButtonShowsTheProgramsTextAndOpensInTheFolderOfThePath)
{
    testsupport::TempDir dir;
    const std::filesystem::path program = dir.Path() / "工具" / "App.bin";
    std::filesystem::create_directories(program.parent_path());
    std::ofstream(program) << "#!/bin/sh\n";
    ProbeDialog dialog(IDD_MAIN);
    QStringList openedIn;
    Soon([&] {
        QtDialogWindow& w = Top();
        auto* browse = w.Item(IDC_FULLPATH)->parentWidget()->findChild<QToolButton*>();
        ASSERT_NE(browse, nullptr);
        EXPECT_EQ(browse->text(), px::qt::ToQString(GetHostText(HostText::BrowseButton)));
        const auto openAndCancel = [&] {
            When([] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()) != nullptr; },
                [&] {
                    auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                    openedIn << files->directory().absolutePath();
                    files->reject();
                });
            browse->click();
        };
        // The path's folder, and for a folder with a separator at its end, that folder.
        w.SetDlgItemText(IDC_FULLPATH, px::FromUtf8(program.string()));
        openAndCancel();
        w.SetDlgItemText(IDC_FULLPATH, px::FromUtf8(program.parent_path().string() + "/"));
        openAndCancel();
        EXPECT_EQ(w.GetDlgItemText(IDC_FULLPATH), px::FromUtf8(program.parent_path().string() + "/"))
            << "cancelled: the text stays";
        w.EndDialog(IDOK);
    });
    host.RunModal(dialog, nullptr);
    const QString folder = QString::fromStdString(program.parent_path().string());
    EXPECT_EQ(openedIn, (QStringList{folder, folder}));
}

TEST_F(ItemTest, MaskingShowsStarsAndUnmaskingShowsTheText)
{
    ProbeDialog dialog(IDD_MAIN);
    Soon([&] {
        QtDialogWindow& w = Top();
        auto* args = qobject_cast<QLineEdit*>(w.Item(IDC_ARGS));
        w.SetDlgItemText(IDC_ARGS, u"--user 张三");
        w.SetPasswordChar(IDC_ARGS, u'*');
        EXPECT_EQ(args->displayText(), QStringLiteral("*********"));
        EXPECT_EQ(w.GetDlgItemText(IDC_ARGS), u"--user 张三");  // the edit keeps the plain text
        w.RedrawItem(IDC_ARGS);
        QTest::keyClicks(args, QStringLiteral("x"));
        EXPECT_EQ(args->displayText(), QStringLiteral("**********"));
        w.SetPasswordChar(IDC_ARGS, 0);
        EXPECT_EQ(args->displayText(), QStringLiteral("--user 张三x"));
        w.EndDialog(IDCANCEL);
    });
    host.RunModal(dialog, nullptr);
}

using KeyTest = QtHostTest;

struct KeyCase {
    const char* name;
    int focusId;  // where the focus is when the key is pressed
    int key;
    int expectedEnd;  // 0: the dialog stays open
    Message expected;  // what the dialog was sent
};

TEST_F(KeyTest, EnterEscAndTheCloseBoxOnTheMainDialog)
{
    const KeyCase cases[] = {
        {"Enter in the interval edit is OK", IDC_LOOPSEC, Qt::Key_Return, IDOK, Command(IDOK, BN_CLICKED)},
        {"keypad Enter on a check box is OK", IDC_AUTOSTART, Qt::Key_Enter, IDOK, Command(IDOK, BN_CLICKED)},
        {"Esc in an edit is cancel", IDC_EXENAME, Qt::Key_Escape, IDCANCEL, Command(IDCANCEL, BN_CLICKED)},
        {"Enter on 关闭 clicks it", IDCANCEL, Qt::Key_Return, IDCANCEL, Command(IDCANCEL, BN_CLICKED)},
        {"Enter on 开始 clicks it", IDC_START, Qt::Key_Return, 0, Command(IDC_START, BN_CLICKED)},
        {"Space on 隐藏 clicks it", IDC_HIDE, Qt::Key_Space, 0, Command(IDC_HIDE, BN_CLICKED)},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        ProbeDialog dialog(IDD_MAIN);
        Soon([&] {
            QtDialogWindow& w = Top();
            w.Item(c.focusId)->setFocus();
            QTest::keyClick(w.Item(c.focusId), static_cast<Qt::Key>(c.key),
                c.key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
            EXPECT_EQ(w.Ended(), c.expectedEnd != 0);
            w.EndDialog(-5);
        });
        const int end = host.RunModal(dialog, nullptr);
        EXPECT_EQ(end, c.expectedEnd != 0 ? c.expectedEnd : -5);
        EXPECT_EQ(dialog.Count(c.expected), 1u);
        // Nothing asked, nothing else commanded.
        EXPECT_EQ(dialog.Received(WM_COMMAND).size(), 1u);
    }
}

TEST_F(KeyTest, TheCloseBoxIsTheCancelCommand)
{
    ProbeDialog dialog(IDD_MAIN);
    Soon([&] { Top().Widget()->close(); });
    EXPECT_EQ(host.RunModal(dialog, nullptr), IDCANCEL);
    EXPECT_EQ(dialog.Count(Command(IDCANCEL, BN_CLICKED)), 1u);
}

TEST_F(KeyTest, NoButtonOfTheMainDialogIsADefaultButton)
{
    ProbeDialog dialog(IDD_MAIN);
    Soon([&] {
        for (QPushButton* b : Top().Widget()->findChildren<QPushButton*>()) {
            EXPECT_FALSE(b->isDefault()) << b->text().toStdString();
            EXPECT_FALSE(b->autoDefault()) << b->text().toStdString();
        }
        Top().EndDialog(IDOK);
    });
    host.RunModal(dialog, nullptr);
}

TEST_F(KeyTest, PasswordDialogConfirmsWithEnterFromItsEditThroughItsDefaultButton)
{
    ProbeDialog dialog(IDD_PASSWD);
    Soon([&] {
        QtDialogWindow& w = Top();
        auto* ok = qobject_cast<QPushButton*>(w.Item(IDOK));
        ASSERT_NE(ok, nullptr);
        EXPECT_TRUE(ok->isDefault());
        EXPECT_EQ(w.Widget()->focusWidget(), ok);
        QTest::keyClick(w.Item(IDC_PASSWD), Qt::Key_Return);
    });
    EXPECT_EQ(host.RunModal(dialog, nullptr), IDOK);
    EXPECT_EQ(dialog.Count(Command(IDOK, BN_CLICKED)), 1u);
}

using TimerTest = QtHostTest;

TEST_F(TimerTest, TicksGoOnWhileABoxIsOpenAndNeverReenterTheirOwnHandler)
{
    static constexpr uintptr_t kAsking = 7;  // its first tick asks a question
    static constexpr uintptr_t kOther = 8;
    ProbeDialog dialog(IDD_MAIN);
    int depth = 0;
    int maxDepth = 0;
    int askingTicks = 0;
    int otherTicks = 0;
    int askingTicksWhileOpen = 0;
    int otherTicksWhileOpen = 0;
    bool boxOpen = false;
    dialog.onInit = [&](DialogWindow& w) {
        w.SetTimer(kAsking, 20);
        w.SetTimer(kOther, 15);
    };
    dialog.onTimer = [&](uintptr_t id) {
        DialogWindow& w = *dialog.GetWindow();
        if (id == kOther) {
            ++otherTicks;
            otherTicksWhileOpen += boxOpen ? 1 : 0;
            return;
        }
        ++askingTicks;
        askingTicksWhileOpen += boxOpen ? 1 : 0;
        maxDepth = std::max(maxDepth, ++depth);
        if (askingTicks == 1) {
            // A tick posted now must wait for this handler too.
            w.PostMessage(WM_TIMER, kAsking, 0);
            boxOpen = true;
            EXPECT_EQ(w.MessageBox(u"确定停止守护吗？", std::u16string(u"提示"), MB_OKCANCEL), IDOK);
            boxOpen = false;
        } else if (askingTicks == 3) {
            w.KillTimer(kAsking);
            w.KillTimer(kOther);
            Soon([&w] { w.EndDialog(IDOK); });
        }
        --depth;
    };
    // The box stays open until the other timer has ticked five times under it (a test whose
    // ticks stop fails on its failsafe); the asking timer falls due meanwhile too.
    When([] { return ActiveBox() != nullptr; },
        [&] { When([&] { return otherTicksWhileOpen >= 5; }, [] { Answer(ActiveBox(), QStringLiteral("确定")); }); });
    EXPECT_EQ(host.RunModal(dialog, nullptr), IDOK);
    EXPECT_EQ(askingTicksWhileOpen, 0) << "no tick re-entered the handler waiting on the box";
    EXPECT_EQ(maxDepth, 1);
    EXPECT_EQ(askingTicks, 3);
}

TEST_F(TimerTest, TicksHeldForABusyHandlerArriveOnceRightAfterIt)
{
    static constexpr uintptr_t kAsking = 9;
    ProbeDialog dialog(IDD_MAIN);
    std::vector<qint64> ticksAt;
    QElapsedTimer clock;
    dialog.onInit = [&](DialogWindow& w) {
        clock.start();
        w.SetTimer(kAsking, 1000);
        w.PostMessage(WM_TIMER, kAsking, 0);
    };
    dialog.onTimer = [&](uintptr_t) {
        DialogWindow& w = *dialog.GetWindow();
        ticksAt.push_back(clock.elapsed());
        if (ticksAt.size() == 1) {
            // Open across two expiries of the timer and one posted tick.
            w.PostMessage(WM_TIMER, kAsking, 0);
            w.MessageBox(u"box", u"提示", MB_OK);
        } else {
            w.EndDialog(IDOK);
        }
    };
    int timersPushedOut = 0;
    When([] { return ActiveBox() != nullptr; },
        [&] {
            Pause(2300);  // the timer falls due twice while its handler waits
            // Its next expiry moves an hour out, so a second tick can only be the one held
            // for the handler: delivered as soon as it returns, not at a later expiry.
            for (QTimer* timer : Top().Widget()->findChildren<QTimer*>()) {
                if (timer->isActive() && timer->interval() == 1000) {
                    timer->setInterval(3600 * 1000);
                    ++timersPushedOut;
                }
            }
            ActiveBox()->buttons().front()->click();
        });
    EXPECT_EQ(host.RunModal(dialog, nullptr), IDOK);
    EXPECT_EQ(timersPushedOut, 1);
    // One tick for all that fell due (the posted one included), after the handler.
    ASSERT_EQ(ticksAt.size(), 2u);
    EXPECT_GE(ticksAt[1], 2300);
}

TEST_F(TimerTest, RearmingRestartsTheCountAndKillingStopsIt)
{
    static constexpr uintptr_t kTimer = 30;
    ProbeDialog dialog(IDD_MAIN);
    QElapsedTimer clock;
    std::vector<qint64> ticksAt;
    dialog.onInit = [&](DialogWindow& w) {
        clock.start();
        w.SetTimer(kTimer, 200);
        QTimer::singleShot(120, [&w] { w.SetTimer(kTimer, 200); });
    };
    dialog.onTimer = [&](uintptr_t id) {
        EXPECT_EQ(id, kTimer);
        ticksAt.push_back(clock.elapsed());
        dialog.GetWindow()->KillTimer(kTimer);
        QTimer::singleShot(500, [&] { dialog.GetWindow()->EndDialog(IDOK); });
    };
    host.RunModal(dialog, nullptr);
    ASSERT_EQ(ticksAt.size(), 1u) << "killed, the timer ticks no more";
    EXPECT_GE(ticksAt[0], 120 + 180) << "the first count was abandoned";
}

TEST_F(TimerTest, PostedMessagesRunAfterTheCurrentHandlerInOrder)
{
    ProbeDialog dialog(IDD_MAIN);
    std::vector<std::string> order;
    dialog.onInit = [&](DialogWindow& w) {
        w.PostMessage(WM_COMMAND, 5001, 0);
        w.PostMessage(WM_TIMER, 33, 0);
        order.push_back("init done");
    };
    dialog.onTimer = [&](uintptr_t id) {
        order.push_back("tick " + std::to_string(id));
        dialog.GetWindow()->EndDialog(IDOK);
    };
    host.RunModal(dialog, nullptr);
    ASSERT_GE(dialog.received.size(), 2u);
    EXPECT_EQ(order, (std::vector<std::string>{"init done", "tick 33"}));
    EXPECT_EQ(dialog.Received(WM_COMMAND).front(), (Message{WM_COMMAND, 5001, 0}));
}

TEST_F(TimerTest, NothingReachesADialogThatHasEnded)
{
    ProbeDialog dialog(IDD_MAIN);
    dialog.onInit = [&](DialogWindow& w) {
        w.SetTimer(1, 10);
        w.PostMessage(WM_COMMAND, 5002, 0);
        w.EndDialog(IDCANCEL);
    };
    EXPECT_EQ(host.RunModal(dialog, nullptr), IDCANCEL);
    QApplication::processEvents();
    Pause(50);
    // Only the window's going is told, after the end: no tick, no posted command.
    EXPECT_EQ(dialog.received, (std::vector<Message>{{WM_DESTROY, 0, 0}}));
}

using BoxTest = QtHostTest;

TEST_F(BoxTest, BoxesShowTextCaptionAndButtonsAndReturnTheAnswer)
{
    struct Case {
        const char16_t* text;
        std::u16string caption;
        unsigned type;
        const char* answer;  // a button's text, or "esc" or "close"
        QString expectedTitle;
        int expected;
    };
    const Case cases[] = {
        {u"确定退出？", u"退出", MB_OKCANCEL, "确定", QStringLiteral("退出"), IDOK},
        {u"确定退出？", u"退出", MB_OKCANCEL, "取消", QStringLiteral("退出"), IDCANCEL},
        {u"确定退出？", u"退出", MB_OKCANCEL, "esc", QStringLiteral("退出"), IDCANCEL},
        {u"保存成功！", u"提示", MB_OK, "esc", QStringLiteral("提示"), IDOK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        ProbeDialog dialog(IDD_MAIN);
        int result = 0;
        dialog.onInit = [&](DialogWindow& w) { w.PostMessage(WM_COMMAND, 6000, 0); };
        When([] { return ActiveBox() != nullptr; },
            [&] {
                QMessageBox* box = ActiveBox();
                EXPECT_EQ(box->windowTitle(), c.expectedTitle);
                EXPECT_EQ(box->text(), px::qt::ToQString(c.text));
                EXPECT_EQ(box->buttons().size(), c.type == MB_OKCANCEL ? 2 : 1);
                if (std::string(c.answer) == "esc")
                    QTest::keyClick(box, Qt::Key_Escape);
                else
                    Answer(box, QString::fromUtf8(c.answer));
            });
        Soon([&] {
            result = Top().MessageBox(c.text, c.caption, c.type);
            Top().EndDialog(IDOK);
        });
        host.RunModal(dialog, nullptr);
        EXPECT_EQ(result, c.expected);
    }
}

TEST_F(BoxTest, ABoxShowsTheIconItsTypeAsksForAndNoneWithoutOne)
{
    const std::pair<unsigned, QMessageBox::Icon> cases[] = {
        {MB_OK, QMessageBox::NoIcon},
        {MB_OKCANCEL, QMessageBox::NoIcon},
        {MB_OK | MB_ICONINFORMATION, QMessageBox::Information},
        {MB_OK | MB_ICONWARNING, QMessageBox::Warning},
        {MB_OK | MB_ICONERROR, QMessageBox::Critical},
        {MB_OKCANCEL | MB_ICONQUESTION, QMessageBox::Question},
    };
    for (const auto& [type, expected] : cases) {
        SCOPED_TRACE(type);
        ProbeDialog dialog(IDD_MAIN);
        QMessageBox::Icon shown = QMessageBox::NoIcon;
        bool pixmap = false;
        int buttons = 0;
        When([] { return ActiveBox() != nullptr; },
            [&] {
                shown = ActiveBox()->icon();
                pixmap = !ActiveBox()->iconPixmap().isNull();
                buttons = static_cast<int>(ActiveBox()->buttons().size());
                QTest::keyClick(ActiveBox(), Qt::Key_Escape);
            });
        Soon([&] {
            Top().MessageBox(u"保存成功！", u"提示", type);
            Top().EndDialog(IDOK);
        });
        host.RunModal(dialog, nullptr);
        EXPECT_EQ(shown, expected);
        EXPECT_EQ(pixmap, expected != QMessageBox::NoIcon);
        EXPECT_EQ(buttons, MessageBoxHasCancel(type) ? 2 : 1);
    }
}

using TrayTest = QtHostTest;

TEST_F(TrayTest, ATrayThatGoesTakesTheIconAndOneThatComesBackIsToldToTheDialog)
{
    ProbeDialog dialog(IDD_MAIN);
    ProbeDialog* told = nullptr;
    Soon([&] {
        QtDialogWindow& w = Top();
        NotifyIconData nid;
        nid.hWnd = &w;
        nid.uID = IDR_MAINFRAME;
        nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        nid.uCallbackMessage = WM_TRAYNOTIFY;
        nid.hIcon = IDR_MAINFRAME;
        nid.szTip = u"Perennix";
        EXPECT_FALSE(dialog.NotifyIconAdd(nid)) << "offscreen, no tray takes the icon";
        ASSERT_NE(w.TrayIcon(), nullptr);
        w.TrayIcon()->show();  // as if a tray had taken it
        host.OnTrayChange(px::qt::TrayChange::Gone);
        EXPECT_FALSE(w.TrayIcon()->isVisible()) << "the tray that went took the icon with it";
        host.OnTrayChange(px::qt::TrayChange::Back);
        EXPECT_EQ(dialog.trayReturns, 0) << "told from the message loop";
        When([&] { return dialog.trayReturns != 0; },
            [&] {
                // No host shows an icon on its own: the dialog had none to add again.
                EXPECT_FALSE(w.TrayIcon()->isVisible());
                told = &dialog;
                w.EndDialog(IDOK);
            });
    });
    host.RunModal(dialog, nullptr);
    ASSERT_EQ(told, &dialog);
    EXPECT_EQ(dialog.trayReturns, 1);
    host.OnTrayChange(px::qt::TrayChange::Back);  // no dialog open: nobody to tell
    QApplication::processEvents();
    EXPECT_EQ(dialog.trayReturns, 1);
}

}  // namespace

namespace {

using InstanceTest = QtHostTest;

// A key no other test or running Perennix uses.
std::u16string UniqueKey(const char* name)
{
    return u"/perennix-instance-test/" + px::FromUtf8(name) + u"/"
        + px::FromUtf8(std::to_string(QCoreApplication::applicationPid()));
}

TEST_F(InstanceTest, OneHolderPerFolderAndItsRequestsReachTheOutermostDialog)
{
    const std::u16string key = UniqueKey("one");
    ASSERT_TRUE(host.ClaimInstance(key));
    {
        QtWindowHost second;
        EXPECT_FALSE(second.ClaimInstance(key));  // the same folder, while the first lives
        EXPECT_TRUE(second.ClaimInstance(UniqueKey("other")));  // another folder is free
    }
    EXPECT_FALSE(host.SignalInstance(UniqueKey("nobody")));

    ProbeDialog dialog(IDD_MAIN);
    dialog.onInit = [&](DialogWindow& w) { w.SetTimer(1, 10); };
    dialog.onTimer = [&](uintptr_t) {
        DialogWindow& w = *dialog.GetWindow();
        w.KillTimer(1);
        EXPECT_TRUE(host.SignalInstance(key));
    };
    When([&] { return !dialog.Received(WM_SHOWINSTANCE).empty(); }, [&] { Top().EndDialog(IDOK); });
    host.RunModal(dialog, nullptr);
    EXPECT_EQ(dialog.Received(WM_SHOWINSTANCE).size(), 1u);
}

// The claim lives in the user's runtime folder: a lock file and a socket, both gone with the
// holder. What stands at the socket's name without the claim (another program's socket) is
// replaced, not obeyed.
TEST_F(InstanceTest, TheClaimLivesInTheRuntimeFolderAndGoesWithItsHolder)
{
    testsupport::TempDir runtime;
    std::filesystem::permissions(runtime.Path(), std::filesystem::perms::owner_all);
    const QByteArray previous = qgetenv("XDG_RUNTIME_DIR");
    const bool hadPrevious = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.Path().string()));
    const auto names = [&] {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(runtime.Path()))
            found.push_back(entry.path().extension().string());
        std::sort(found.begin(), found.end());
        return found;
    };
    const std::u16string key = UniqueKey("runtime");
    {
        QtWindowHost first;
        ASSERT_TRUE(first.ClaimInstance(key));
        EXPECT_EQ(names(), (std::vector<std::string>{".lock", ".lock", ".sock"}));
        QtWindowHost second;
        EXPECT_FALSE(second.ClaimInstance(key));
        EXPECT_TRUE(second.SignalInstance(key));
    }
    EXPECT_EQ(names(), std::vector<std::string>{".lock"});  // the lock of all claims stays

    // Another program's socket at the name, without the claim.
    const std::string name = std::filesystem::path(runtime.Path()).string() + "/perennix-"
        + QCryptographicHash::hash(QByteArray::fromStdString(px::ToUtf8(key)), QCryptographicHash::Sha256)
              .toHex()
              .left(32)
              .toStdString()
        + ".sock";
    const int other = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.data(), name.size());
    ASSERT_EQ(::bind(other, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(other, 4), 0);
    {
        QtWindowHost later;
        EXPECT_TRUE(later.ClaimInstance(key));
        EXPECT_TRUE(host.SignalInstance(key));
    }
    ::close(other);

    if (hadPrevious)
        qputenv("XDG_RUNTIME_DIR", previous);
    else
        qunsetenv("XDG_RUNTIME_DIR");
}

TEST_F(InstanceTest, AFolderIsFreeAgainOnceItsHolderIsGone)
{
    const std::u16string key = UniqueKey("again");
    {
        QtWindowHost first;
        ASSERT_TRUE(first.ClaimInstance(key));
        EXPECT_FALSE(host.ClaimInstance(key));
    }
    EXPECT_FALSE(host.SignalInstance(key));
    EXPECT_TRUE(host.ClaimInstance(key));
}

}  // namespace

namespace {

using ChineseTest = QtHostTest;

// Qt's own dialogs speak Chinese like the program: the file dialog's buttons, for one.
TEST_F(ChineseTest, QtsOwnTextsAreChinese)
{
    QFileDialog dialog(nullptr, QStringLiteral("打开"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    QStringList texts;
    for (const QPushButton* button : dialog.findChildren<QPushButton*>())
        texts << button->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("打开(&O)"))) << texts.join(u'|').toStdString();
    EXPECT_TRUE(texts.contains(QStringLiteral("取消"))) << texts.join(u'|').toStdString();
    EXPECT_FALSE(texts.contains(QStringLiteral("&Open")));
}

// A box is wide enough for its caption, however short its text.
TEST_F(ChineseTest, BoxesAreWideEnoughForTheirCaption)
{
    for (const std::u16string caption : {u"提示", u"密码验证错误！这是一个很长的标题"}) {
        ProbeDialog dialog(IDD_MAIN);
        int width = 0;
        dialog.onInit = [&](DialogWindow& w) { w.PostMessage(WM_COMMAND, 6000, 0); };
        When([] { return ActiveBox() != nullptr; },
            [&] {
                width = ActiveBox()->width();
                ActiveBox()->done(0);
            });
        Soon([&] {
            Top().MessageBox(u"好", caption, MB_OK);
            Top().EndDialog(IDOK);
        });
        host.RunModal(dialog, nullptr);
        const QFontMetrics title(QApplication::font("QMdiSubWindowTitleBar"));
        EXPECT_GE(width, title.horizontalAdvance(px::qt::ToQString(caption))) << px::ToUtf8(caption);
    }
}

}  // namespace
