// The Windows window host: real dialogs built from the template table, items, masking, keys,
// timers, posted messages, message boxes, the tray, menus, icons and the file dialog, seen
// through a probe dialog and driven as a user would.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "TempDir.h"
#include "Win32HostFixture.h"
#include "Win32TestSupport.h"
#include "backends/win32/DialogTemplateEx.h"
#include "resources/DialogTemplates.h"
#include "resources/Resource.h"
// After <windows.h>.
#include <commdlg.h>
#include <shellapi.h>

using namespace wintest;

// Rectangles compare and print as values (found by argument lookup: RECT is a global type).
inline bool operator==(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline std::ostream& operator<<(std::ostream& out, const RECT& r)
{
    return out << "(" << r.left << "," << r.top << ")-(" << r.right << "," << r.bottom << ")";
}

namespace {

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

// A rectangle in dialog units, in pixels: position and size each converted on their own, as
// the dialog manager does when it creates a template's controls.
RECT DialogUnits(HWND dialog, int x, int y, int cx, int cy)
{
    RECT at{x, y, x, y};
    RECT size{0, 0, cx, cy};
    ::MapDialogRect(dialog, &at);
    ::MapDialogRect(dialog, &size);
    return {at.left, at.top, at.left + size.right, at.top + size.bottom};
}

RECT PlaceInClient(HWND control)
{
    RECT r{};
    ::GetWindowRect(control, &r);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// What each kind of control is in Win32 terms, written out here on its own.
struct Expected {
    std::wstring windowClass;
    DWORD typeMask;
    DWORD type;
};

Expected ExpectedFor(ControlKind kind)
{
    switch (kind) {
    case ControlKind::PushButton:
        return {L"Button", BS_TYPEMASK, BS_PUSHBUTTON};
    case ControlKind::DefPushButton:
        return {L"Button", BS_TYPEMASK, BS_DEFPUSHBUTTON};
    case ControlKind::AutoCheckBox:
        return {L"Button", BS_TYPEMASK, BS_AUTOCHECKBOX};
    case ControlKind::GroupBox:
        return {L"Button", BS_TYPEMASK, BS_GROUPBOX};
    case ControlKind::Label:
        return {L"Static", 0, 0};  // left or right, checked apart
    case ControlKind::Icon:
        return {L"Static", SS_TYPEMASK, SS_ICON};
    case ControlKind::Edit:
    case ControlKind::BrowseEdit:
        return {L"Edit", 0, 0};
    }
    return {};
}

using TemplateTest = Win32HostTest;

TEST_F(TemplateTest, EveryTemplateBuildsItsControlsWithClassIdTextPlaceStyleAndTabOrder)
{
    for (const DialogTemplate& tpl : AllDialogTemplates()) {
        SCOPED_TRACE(tpl.id);
        ProbeDialog dialog(tpl.id);
        Soon([&] {
            const HWND w = Top().Hwnd();
            EXPECT_EQ(TextOf(w), Wide(tpl.title));
            const LONG style = ::GetWindowLongW(w, GWL_STYLE);
            const LONG exStyle = ::GetWindowLongW(w, GWL_EXSTYLE);
            EXPECT_EQ((style & WS_CAPTION) == WS_CAPTION, tpl.style.Has(DialogStyle::Caption));
            EXPECT_EQ((style & WS_SYSMENU) != 0, tpl.style.Has(DialogStyle::SysMenu));
            EXPECT_EQ((style & WS_THICKFRAME) != 0, tpl.style.Has(DialogStyle::Sizing));
            EXPECT_EQ((style & WS_MINIMIZEBOX) != 0, tpl.style.Has(DialogStyle::MinimizeBox));
            EXPECT_EQ(style & WS_MAXIMIZEBOX, 0);
            EXPECT_EQ((exStyle & WS_EX_APPWINDOW) != 0, tpl.style.Has(DialogStyle::AppWindow));
            EXPECT_EQ((exStyle & WS_EX_DLGMODALFRAME) != 0, tpl.style.Has(DialogStyle::ModalFrame));

            RECT client{};
            ::GetClientRect(w, &client);
            EXPECT_EQ(client, DialogUnits(w, 0, 0, tpl.cx, tpl.cy));

            // The template's font, at its size and weight.
            LOGFONTW font{};
            ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(w, WM_GETFONT, 0, 0)), sizeof font, &font);
            const std::wstring face = font.lfFaceName;
            EXPECT_TRUE(face == Wide(tpl.fontFace) || face == Wide(tpl.fontFace) + L" 2") << face.c_str();
            const HDC screen = ::GetDC(nullptr);
            EXPECT_EQ(font.lfHeight, -::MulDiv(tpl.fontPointSize, ::GetDeviceCaps(screen, LOGPIXELSY), 72));
            ::ReleaseDC(nullptr, screen);
            EXPECT_EQ(font.lfWeight, tpl.fontWeight);

            // The controls in template order (a browse edit followed by its button).
            HWND child = ::GetWindow(w, GW_CHILD);
            std::vector<HWND> tabStops;
            for (const ControlTemplate& c : tpl.controls) {
                SCOPED_TRACE(testing::Message() << "control " << c.id << " at " << c.x << "," << c.y);
                ASSERT_NE(child, nullptr);
                const Expected e = ExpectedFor(c.kind);
                EXPECT_EQ(ClassOf(child), e.windowClass);
                EXPECT_EQ(::GetDlgCtrlID(child), c.id);
                const LONG cs = ::GetWindowLongW(child, GWL_STYLE);
                EXPECT_EQ(static_cast<DWORD>(cs) & e.typeMask, e.type);
                EXPECT_EQ((cs & WS_TABSTOP) != 0, c.style.Has(ControlStyle::TabStop));
                EXPECT_EQ((cs & WS_GROUP) != 0, c.style.Has(ControlStyle::Group));
                if (c.kind == ControlKind::Label) {
                    EXPECT_EQ((cs & SS_TYPEMASK) == SS_RIGHT, c.style.Has(ControlStyle::Right));
                    EXPECT_EQ((cs & SS_NOPREFIX) != 0, c.style.Has(ControlStyle::NoPrefix));
                }
                if (c.kind == ControlKind::Edit || c.kind == ControlKind::BrowseEdit) {
                    EXPECT_EQ((cs & ES_AUTOHSCROLL) != 0, c.style.Has(ControlStyle::AutoHScroll));
                }
                if (c.kind != ControlKind::Icon) {
                    EXPECT_EQ(TextOf(child), Wide(c.text));
                }
                const RECT placed = PlaceInClient(child);
                if (c.kind == ControlKind::Icon) {
                    // A picture control takes the size of its icon.
                    const RECT at = DialogUnits(w, c.x, c.y, 0, 0);
                    EXPECT_EQ(placed.left, at.left);
                    EXPECT_EQ(placed.top, at.top);
                } else if (c.kind == ControlKind::BrowseEdit) {
                    // The edit and its "..." button share the control's rectangle.
                    const HWND button = ::GetWindow(child, GW_HWNDNEXT);
                    ASSERT_NE(button, nullptr);
                    EXPECT_EQ(TextOf(button), L"...");
                    EXPECT_EQ(::GetWindowLongW(button, GWL_STYLE) & WS_TABSTOP, 0);
                    const RECT whole = DialogUnits(w, c.x, c.y, c.cx, c.cy);
                    const RECT buttonPlace = PlaceInClient(button);
                    EXPECT_EQ(placed.left, whole.left);
                    EXPECT_EQ(placed.right, buttonPlace.left);
                    EXPECT_EQ(buttonPlace.right, whole.right);
                    EXPECT_EQ(buttonPlace.bottom, whole.bottom);
                } else {
                    EXPECT_EQ(placed, DialogUnits(w, c.x, c.y, c.cx, c.cy));
                }
                if (c.style.Has(ControlStyle::TabStop))
                    tabStops.push_back(child);
                child = ::GetWindow(child, GW_HWNDNEXT);
                if (c.kind == ControlKind::BrowseEdit)
                    child = ::GetWindow(child, GW_HWNDNEXT);
            }
            EXPECT_EQ(child, nullptr);
            // Tab walks the tab stops in template order and comes round again; the first has
            // the focus when the dialog opens.
            ASSERT_FALSE(tabStops.empty());
            for (size_t i = 0; i < tabStops.size(); ++i)
                EXPECT_EQ(::GetNextDlgTabItem(w, tabStops[i], FALSE), tabStops[(i + 1) % tabStops.size()]) << i;
            When([w] { return ::GetActiveWindow() == w; },
                [w, first = tabStops.front()] {
                    EXPECT_EQ(::GetFocus(), first);
                    ::EndDialog(w, IDOK);
                });
        });
        EXPECT_EQ(host.RunModal(dialog, nullptr), IDOK);
    }
}

TEST_F(TemplateTest, AChildDialogIsOwnedByItsOwnerAndBlocksIt)
{
    ProbeDialog main(IDD_MAIN);
    ProbeDialog child(IDD_PASSWD);
    HWND owner = nullptr;
    Soon([&] {
        owner = Top().Hwnd();
        Soon([&] {
            EXPECT_EQ(::GetWindow(Top().Hwnd(), GW_OWNER), owner);
            EXPECT_FALSE(::IsWindowEnabled(owner));
            Top().EndDialog(IDCANCEL);
        });
        EXPECT_EQ(host.RunModal(child, &Top()), IDCANCEL);
        EXPECT_TRUE(::IsWindowEnabled(owner));
        Top().EndDialog(IDOK);
    });
    EXPECT_EQ(host.RunModal(main, nullptr), IDOK);
}

using ItemTest = Win32HostTest;

TEST_F(ItemTest, EditsNotifyEveryChangeButtonsEveryClickAndItemsEnableWithTheirParts)
{
    ProbeDialog dialog(IDD_MAIN);
    Soon([&] {
        DialogWindow& w = Top();
        const HWND hwnd = Top().Hwnd();
        const auto changes = [&] { return dialog.Commands(IDC_LOOPSEC, EN_CHANGE); };
        w.SetDlgItemText(IDC_LOOPSEC, u"30");
        EXPECT_EQ(changes(), 1u);  // before SetDlgItemText returned
        w.SetDlgItemText(IDC_LOOPSEC, u"30");
        EXPECT_EQ(changes(), 2u);  // the same text notifies too
        const HWND edit = ::GetDlgItem(hwnd, IDC_LOOPSEC);
        ::SendMessageW(edit, EM_SETSEL, 2, 2);
        ::SendMessageW(edit, WM_CHAR, L'5', 0);  // typed
        EXPECT_EQ(changes(), 3u);
        EXPECT_EQ(w.GetDlgItemText(IDC_LOOPSEC), u"305");
        EXPECT_EQ(w.GetDlgItemText(IDC_START), u"开始");
        EXPECT_EQ(w.GetDlgItemText(IDC_STATIC), u"");

        // A click toggles a check box before the dialog hears of it; the program's own
        // ticking is silent.
        ::SendDlgItemMessageW(hwnd, IDC_TIMEDCLOSE, BM_CLICK, 0, 0);
        EXPECT_TRUE(w.IsDlgButtonChecked(IDC_TIMEDCLOSE));
        EXPECT_EQ(dialog.Commands(IDC_TIMEDCLOSE, BN_CLICKED), 1u);
        w.CheckDlgButton(IDC_TIMEDCLOSE, false);
        EXPECT_FALSE(w.IsDlgButtonChecked(IDC_TIMEDCLOSE));
        EXPECT_EQ(dialog.Commands(IDC_TIMEDCLOSE, BN_CLICKED), 1u);

        ::SendDlgItemMessageW(hwnd, IDC_START, BM_CLICK, 0, 0);
        EXPECT_EQ(dialog.Commands(IDC_START, BN_CLICKED), 1u);
        w.EnableDlgItem(IDC_START, false);
        EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(hwnd, IDC_START)));
        w.EnableDlgItem(IDC_START, true);
        EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(hwnd, IDC_START)));

        // The browse edit's button goes with it.
        const HWND browse = ::GetDlgItem(hwnd, px::win32::BrowseButtonId(IDC_FULLPATH));
        w.EnableDlgItem(IDC_FULLPATH, false);
        EXPECT_FALSE(::IsWindowEnabled(browse));
        EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(hwnd, IDC_FULLPATH)));
        w.EnableDlgItem(IDC_FULLPATH, true);
        EXPECT_TRUE(::IsWindowEnabled(browse));
        Top().EndDialog(IDOK);
    });
    EXPECT_EQ(host.RunModal(dialog, nullptr), IDOK);
}

TEST_F(ItemTest, MaskingShowsStarsAndTheTextStaysPlain)
{
    ProbeDialog dialog(IDD_MAIN);
    Soon([&] {
        DialogWindow& w = Top();
        const HWND edit = ::GetDlgItem(Top().Hwnd(), IDC_ARGS);
        w.SetDlgItemText(IDC_ARGS, u"--secret 密码");
        w.SetPasswordChar(IDC_ARGS, u'*');
        w.RedrawItem(IDC_ARGS);
        EXPECT_EQ(::SendMessageW(edit, EM_GETPASSWORDCHAR, 0, 0), L'*');
        EXPECT_EQ(w.GetDlgItemText(IDC_ARGS), u"--secret 密码");
        w.SetPasswordChar(IDC_ARGS, 0);
        EXPECT_EQ(::SendMessageW(edit, EM_GETPASSWORDCHAR, 0, 0), 0);
        Top().EndDialog(IDOK);
    });
    host.RunModal(dialog, nullptr);
}

using KeyTest = Win32HostTest;

// The commands of clicks, keys and menus (an edit's focus notifications left out).
std::vector<Message> Clicks(const ProbeDialog& dialog)
{
    std::vector<Message> clicks;
    for (const Message& m : dialog.Received(WM_COMMAND)) {
        if (((m.wParam >> 16) & 0xFFFF) == BN_CLICKED)
            clicks.push_back(m);
    }
    return clicks;
}

TEST_F(KeyTest, EnterEscAndTheCloseBoxAreTheDialogManagersCommands)
{
    struct Case {
        const char* what;
        int templateId;
        int focus;  // the control that has the focus
        UINT message;
        WPARAM key;
        Message expected;
    };
    const Case cases[] = {
        // The main dialog has no default button: Enter in an edit is the OK command.
        {"Enter in an edit", IDD_MAIN, IDC_LOOPSEC, WM_KEYDOWN, VK_RETURN, Command(IDOK, BN_CLICKED)},
        // On a push button, Enter presses that button.
        {"Enter on a button", IDD_MAIN, IDC_SAVE, WM_KEYDOWN, VK_RETURN, Command(IDC_SAVE, BN_CLICKED)},
        {"Esc", IDD_MAIN, IDC_LOOPSEC, WM_KEYDOWN, VK_ESCAPE, Command(IDCANCEL, BN_CLICKED)},
        {"the close box", IDD_MAIN, IDC_LOOPSEC, WM_CLOSE, 0, Command(IDCANCEL, 0)},
        // The password dialog's default button takes Enter typed in its edit.
        {"Enter in the password edit", IDD_PASSWD, IDC_PASSWD, WM_KEYDOWN, VK_RETURN, Command(IDOK, BN_CLICKED)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProbeDialog dialog(c.templateId);
        Soon([&] {
            const HWND hwnd = Top().Hwnd();
            const HWND focus = ::GetDlgItem(hwnd, c.focus);
            ::SendMessageW(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);  // as Tab moves it
            ::PostMessageW(c.message == WM_CLOSE ? hwnd : focus, c.message, c.key, 0);
            When([&] { return !Clicks(dialog).empty(); },
                [&] {
                    if (!Top().Ended())
                        Top().EndDialog(-3);
                });
        });
        const int end = host.RunModal(dialog, nullptr);
        ASSERT_EQ(Clicks(dialog).size(), 1u);
        const Message got = Clicks(dialog).front();
        EXPECT_EQ(got.wParam & 0xFFFF, c.expected.wParam & 0xFFFF);
        // OK and cancel end the dialog through the dialog's default handlers.
        const int id = static_cast<int>(c.expected.wParam & 0xFFFF);
        EXPECT_EQ(end, (id == IDOK || id == IDCANCEL) ? id : -3);
    }
}

using TimerTest = Win32HostTest;

TEST_F(TimerTest, TicksGoOnWhileABoxIsOpenAndNeverReenterTheirOwnHandler)
{
    ProbeDialog dialog(IDD_MAIN);
    int slowTicks = 0;
    int fastTicks = 0;
    int fastTicksWhileBoxOpen = 0;
    int depth = 0;
    int deepest = 0;
    dialog.onInit = [&](DialogWindow&) {
        dialog.SetTimer(7, 30);
        dialog.SetTimer(8, 20);
    };
    dialog.onTimer = [&](uintptr_t id) {
        if (id == 8) {
            ++fastTicks;
            return;
        }
        ++slowTicks;
        ++depth;
        deepest = std::max(deepest, depth);
        if (slowTicks == 1) {
            When([&] { return OwnedDialog(Top().Hwnd()) != nullptr; },
                [&] {
                    const int before = fastTicks;
                    Pause(300);  // timer 7 falls due about ten times meanwhile
                    fastTicksWhileBoxOpen = fastTicks - before;
                    ::PostMessageW(OwnedDialog(Top().Hwnd()), WM_COMMAND, IDOK, 0);
                });
            dialog.MessageBox(u"等待", u"提示", MB_OK);
        } else {
            dialog.KillTimer(7);
            dialog.EndDialog(IDOK);
        }
        --depth;
    };
    EXPECT_EQ(host.RunModal(dialog, nullptr), IDOK);
    EXPECT_GE(fastTicksWhileBoxOpen, 5);
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(slowTicks, 2);
}

TEST_F(TimerTest, PostedMessagesRunAfterTheCurrentHandlerInOrderAndNothingAfterTheEnd)
{
    ProbeDialog dialog(IDD_MAIN);
    dialog.onInit = [&](DialogWindow& w) {
        w.PostMessage(WM_USER + 1, 1, 0);
        w.PostMessage(WM_USER + 2, 2, 0);
        EXPECT_TRUE(dialog.received.empty());  // not before the handler returned
    };
    When(
        [&] {
            return dialog.Count({WM_USER + 2, 2, 0}) == 1;
        },
        [&] {
            Top().PostMessage(WM_USER + 3, 3, 0);
            Top().SetTimer(9, 10);
            Top().EndDialog(IDOK);
        });
    EXPECT_EQ(host.RunModal(dialog, nullptr), IDOK);
    EXPECT_EQ(dialog.received, (std::vector<Message>{{WM_USER + 1, 1, 0}, {WM_USER + 2, 2, 0}, {WM_DESTROY, 0, 0}}));
}

using BoxTest = Win32HostTest;

TEST_F(BoxTest, BoxesShowTextCaptionAndTheProgramsButtonsAndReturnTheAnswer)
{
    struct Case {
        unsigned type;
        int press;
        int answer;
        bool hasCancel;
    };
    const Case cases[] = {
        {MB_OKCANCEL, IDCANCEL, IDCANCEL, true},
        {MB_OKCANCEL, IDOK, IDOK, true},
        {MB_OK, IDOK, IDOK, false},
    };
    for (const Case& c : cases) {
        ProbeDialog dialog(IDD_MAIN);
        int answer = 0;
        Soon([&] {
            const HWND owner = Top().Hwnd();
            When([&] { return OwnedDialog(owner) != nullptr; },
                [&] {
                    const HWND box = OwnedDialog(owner);
                    EXPECT_EQ(TextOf(box), L"提示");
                    EXPECT_EQ(TextOf(::GetDlgItem(box, 0xFFFF)), L"确定开始启用守护？");
                    EXPECT_EQ(TextOf(::GetDlgItem(box, IDOK)), L"确定");
                    EXPECT_EQ(::GetDlgItem(box, IDCANCEL) != nullptr, c.hasCancel);
                    if (c.hasCancel) {
                        EXPECT_EQ(TextOf(::GetDlgItem(box, IDCANCEL)), L"取消");
                    }
                    ::PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(c.press), 0);
                });
            answer = Top().MessageBox(u"确定开始启用守护？", u"提示", c.type);
            Top().EndDialog(IDOK);
        });
        host.RunModal(dialog, nullptr);
        EXPECT_EQ(answer, c.answer);
    }
}

// A visible picture control holding an icon among a box's children.
bool ShowsAnIcon(HWND box)
{
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) == L"Static" && (::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON
            && ::IsWindowVisible(child) && ::SendMessageW(child, STM_GETICON, 0, 0) != 0)
            return true;
    }
    return false;
}

TEST_F(BoxTest, ABoxShowsTheIconItsTypeAsksForAndNoneWithoutOne)
{
    struct Case {
        unsigned type;
        bool icon;
        bool hasCancel;
    };
    const Case cases[] = {
        {MB_OK, false, false}, {MB_OKCANCEL, false, true}, {MB_OK | MB_ICONINFORMATION, true, false},
        {MB_OK | MB_ICONWARNING, true, false}, {MB_OK | MB_ICONERROR, true, false},
        {MB_OKCANCEL | MB_ICONQUESTION, true, true}, {MB_YESNO, false, false},  // what no host shows: OK alone
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        ProbeDialog dialog(IDD_MAIN);
        bool icon = !c.icon;
        bool cancel = !c.hasCancel;
        Soon([&] {
            const HWND owner = Top().Hwnd();
            When([&] { return OwnedDialog(owner) != nullptr; },
                [&] {
                    const HWND box = OwnedDialog(owner);
                    icon = ShowsAnIcon(box);
                    cancel = ::GetDlgItem(box, IDCANCEL) != nullptr;
                    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
                });
            Top().MessageBox(u"保存成功！", u"提示", c.type);
            Top().EndDialog(IDOK);
        });
        host.RunModal(dialog, nullptr);
        EXPECT_EQ(icon, c.icon);
        EXPECT_EQ(cancel, c.hasCancel);
    }
}

using ShellTest = Win32HostTest;

TEST_F(ShellTest, TrayIconIsAddedRemovedAndAddedAgainWhenTheShellRestarts)
{
    ProbeDialog dialog(IDD_MAIN);
    Soon([&] {
        Win32DialogWindow& w = Top();
        NotifyIconData nid;
        nid.hWnd = &w;
        nid.uID = 128;
        nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        nid.uCallbackMessage = WM_TRAYNOTIFY;
        nid.hIcon = IDR_MAINFRAME;
        nid.szTip = u"Perennix";
        // Through the dialog, which adds the icon again when the shell comes back.
        ASSERT_TRUE(dialog.NotifyIconAdd(nid));
        EXPECT_FALSE(dialog.NotifyIconAdd(nid));  // the shell holds one icon per window and id

        // The shell loses its icons (Explorer restarted) and says so: the icon comes back.
        NOTIFYICONDATAW record{};
        record.cbSize = sizeof record;
        record.hWnd = w.Hwnd();
        record.uID = 128;
        ASSERT_TRUE(::Shell_NotifyIconW(NIM_DELETE, &record));
        EXPECT_FALSE(::Shell_NotifyIconW(NIM_MODIFY, &record));
        ::SendMessageW(w.Hwnd(), ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
        EXPECT_TRUE(::Shell_NotifyIconW(NIM_MODIFY, &record));

        // Its callback reaches the dialog as the shell sends it: the id and the mouse message.
        ::SendMessageW(w.Hwnd(), WM_TRAYNOTIFY, 128, WM_RBUTTONDOWN);
        EXPECT_EQ(dialog.Count({WM_TRAYNOTIFY, 128, WM_RBUTTONDOWN}), 1u);

        EXPECT_TRUE(dialog.NotifyIconDelete(nid));
        EXPECT_FALSE(dialog.NotifyIconDelete(nid));
        // Once removed, a shell restart brings nothing back.
        ::SendMessageW(w.Hwnd(), ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
        EXPECT_FALSE(::Shell_NotifyIconW(NIM_MODIFY, &record));
        w.EndDialog(IDOK);
    });
    host.RunModal(dialog, nullptr);
}

TEST_F(ShellTest, TheShellsRestartIsToldToTheDialogInTheLayersWords)
{
    ProbeDialog dialog(IDD_MAIN);
    HWND hwnd = nullptr;
    Soon([&] {
        hwnd = Top().Hwnd();
        // The shell restarted: the dialog hears of it as the tray's return, and the host adds
        // no icon of its own (it holds no record of one).
        ::SendMessageW(hwnd, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
        EXPECT_EQ(dialog.trayReturns, 1);
        NOTIFYICONDATAW record{};
        record.cbSize = sizeof record;
        record.hWnd = hwnd;
        record.uID = 128;
        EXPECT_FALSE(::Shell_NotifyIconW(NIM_MODIFY, &record));
        Top().EndDialog(IDOK);
        // Ended: nothing reaches the dialog but the window's end.
        ::SendMessageW(hwnd, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    });
    host.RunModal(dialog, nullptr);
    EXPECT_EQ(dialog.trayReturns, 1);
}

TEST_F(ShellTest, AnIconTheDialogAddedGoesWithItsWindow)
{
    ProbeDialog dialog(IDD_MAIN);
    NOTIFYICONDATAW record{};
    record.cbSize = sizeof record;
    record.uID = 128;
    Soon([&] {
        Win32DialogWindow& w = Top();
        NotifyIconData nid;
        nid.hWnd = &w;
        nid.uID = 128;
        nid.uFlags = NIF_ICON | NIF_TIP;
        nid.hIcon = IDR_MAINFRAME;
        nid.szTip = u"Perennix";
        ASSERT_TRUE(dialog.NotifyIconAdd(nid));
        record.hWnd = w.Hwnd();
        EXPECT_TRUE(::Shell_NotifyIconW(NIM_MODIFY, &record));
        w.EndDialog(IDOK);
        EXPECT_TRUE(::Shell_NotifyIconW(NIM_MODIFY, &record)) << "ending the dialog is not its window's going";
    });
    host.RunModal(dialog, nullptr);
    EXPECT_FALSE(dialog.HasTrayIcon());
    EXPECT_FALSE(::Shell_NotifyIconW(NIM_MODIFY, &record)) << "no icon is left in the tray";
}

TEST_F(ShellTest, PopupMenuShowsItsItemsAndAPickArrivesAsACommand)
{
    ProbeDialog dialog(IDD_MAIN);
    std::vector<std::wstring> shown;
    Soon([&] {
        When([] { return ::FindWindowW(L"#32768", nullptr) && ::IsWindowVisible(::FindWindowW(L"#32768", nullptr)); },
            [&] {
                const HWND menuWindow = ::FindWindowW(L"#32768", nullptr);
                const auto menu = reinterpret_cast<HMENU>(::SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
                for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
                    wchar_t text[64] = {};
                    ::GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
                    shown.push_back(std::to_wstring(::GetMenuItemID(menu, i)) + L":" + text);
                }
                // The last item, picked with the keyboard as a user does.
                for (WORD key : {VK_UP, VK_RETURN}) {
                    ::keybd_event(static_cast<BYTE>(key), 0, 0, 0);
                    ::keybd_event(static_cast<BYTE>(key), 0, KEYEVENTF_KEYUP, 0);
                }
            });
        Top().TrackPopupMenu(
            {{u"显示/隐藏", ID_TRAY_SHOWHIDE, false}, {u"", 0, true}, {u"退出程序", ID_TRAY_EXIT, false}});
        EXPECT_EQ(Clicks(dialog).size(), 0u);  // posted: it comes afterwards
        When([&] { return !Clicks(dialog).empty(); }, [&] { Top().EndDialog(IDOK); });
    });
    host.RunModal(dialog, nullptr);
    EXPECT_EQ(shown, (std::vector<std::wstring>{L"10008:显示/隐藏", L"0:", L"10005:退出程序"}));
    ASSERT_EQ(Clicks(dialog).size(), 1u);
    EXPECT_EQ(Clicks(dialog).front().wParam & 0xFFFF, ID_TRAY_EXIT);
}

TEST_F(ShellTest, SystemMenuGainsTheEntryAndOtherSystemCommandsKeepTheirDefault)
{
    ProbeDialog dialog(IDD_MAIN);
    Soon([&] {
        Win32DialogWindow& w = Top();
        ASSERT_TRUE(w.AppendSystemMenuItem(u"关于 Perennix(&A)...", IDM_ABOUTBOX));
        const HMENU menu = ::GetSystemMenu(w.Hwnd(), FALSE);
        const int count = ::GetMenuItemCount(menu);
        ASSERT_GE(count, 2);
        EXPECT_EQ(::GetMenuState(menu, static_cast<UINT>(count - 2), MF_BYPOSITION) & MF_SEPARATOR, MF_SEPARATOR);
        wchar_t text[64] = {};
        ::GetMenuStringW(menu, static_cast<UINT>(count - 1), text, 64, MF_BYPOSITION);
        EXPECT_STREQ(text, L"关于 Perennix(&A)...");
        EXPECT_EQ(::GetMenuItemID(menu, count - 1), IDM_ABOUTBOX);

        ::SendMessageW(w.Hwnd(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        EXPECT_EQ(dialog.Count({WM_SYSCOMMAND, IDM_ABOUTBOX, 0}), 1u);
        // A command the dialog leaves alone still does what the system does with it.
        ::SendMessageW(w.Hwnd(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
        EXPECT_TRUE(w.IsIconic());
        w.ShowWindow(SW_SHOW);
        w.EndDialog(IDOK);
    });
    host.RunModal(dialog, nullptr);
}

TEST_F(ShellTest, TheWindowsOwnCommandsGoToItsSystemMenu)
{
    ProbeDialog dialog(IDD_MAIN);
    Soon([&] {
        Win32DialogWindow& w = Top();
        EXPECT_TRUE(w.HasSystemMenu());
        EXPECT_FALSE(w.AppendContextMenuItem(u"关于 Perennix(&A)...", IDM_ABOUTBOX)) << "no background menu";
        const HMENU menu = ::GetSystemMenu(w.Hwnd(), FALSE);
        const int before = ::GetMenuItemCount(menu);
        EXPECT_TRUE(dialog.AppendWindowMenuItem(u"关于 Perennix(&A)...", IDM_ABOUTBOX));
        ASSERT_EQ(::GetMenuItemCount(menu), before + 2);
        EXPECT_EQ(::GetMenuItemID(menu, before + 1), IDM_ABOUTBOX);
        w.EndDialog(IDOK);
    });
    host.RunModal(dialog, nullptr);
}

TEST_F(ShellTest, WindowAndDragIconsAreTheProgramsIcon)
{
    ProbeDialog dialog(IDD_MAIN);
    dialog.dragIcon = IDR_MAINFRAME;
    Soon([&] {
        Win32DialogWindow& w = Top();
        w.SetIcon(IDR_MAINFRAME, true);
        w.SetIcon(IDR_MAINFRAME, false);
        const HICON big = host.Icon(IDR_MAINFRAME, true);
        const HICON small = host.Icon(IDR_MAINFRAME, false);
        ASSERT_NE(big, nullptr);
        ASSERT_NE(small, nullptr);
        EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageW(w.Hwnd(), WM_GETICON, ICON_BIG, 0)), big);
        EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageW(w.Hwnd(), WM_GETICON, ICON_SMALL, 0)), small);
        EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageW(w.Hwnd(), WM_QUERYDRAGICON, 0, 0)), big);
        ICONINFO info{};
        ASSERT_TRUE(::GetIconInfo(small, &info));
        BITMAP bitmap{};
        ::GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, ::GetSystemMetrics(SM_CXSMICON));
        ::DeleteObject(info.hbmColor);
        ::DeleteObject(info.hbmMask);
        w.EndDialog(IDOK);
    });
    host.RunModal(dialog, nullptr);
}

TEST_F(ShellTest, OnePerFolderAndALaterStartAsksTheFirstToShowItself)
{
    // A folder of this test process alone: tests running beside it claim others.
    const std::wstring pid = std::to_wstring(::GetCurrentProcessId());
    const std::u16string folder = u"C:\\Tools\\守护" + std::u16string(pid.begin(), pid.end()) + u"\\";
    std::u16string otherCase = folder;
    for (char16_t& c : otherCase)
        c = (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
    ProbeDialog dialog(IDD_MAIN);
    Soon([&] {
        ASSERT_TRUE(host.ClaimInstance(folder));
        Win32WindowHost later(ProgramResources());
        EXPECT_FALSE(later.ClaimInstance(folder));
        EXPECT_FALSE(later.ClaimInstance(otherCase));  // Windows compares paths ignoring case
        EXPECT_TRUE(later.SignalInstance(otherCase));
        Win32WindowHost elsewhere(ProgramResources());
        EXPECT_TRUE(elsewhere.ClaimInstance(folder + u"其他\\"));
        EXPECT_FALSE(elsewhere.SignalInstance(u"C:\\Nobody\\"));
        // The request arrives at the outermost dialog, posted.
        EXPECT_EQ(dialog.Count({WM_SHOWINSTANCE, 0, 0}), 0u);
        When([&] { return dialog.Count({WM_SHOWINSTANCE, 0, 0}) == 1; }, [&] { Top().EndDialog(IDOK); });
    });
    EXPECT_EQ(host.RunModal(dialog, nullptr), IDOK);
}

// What stands in the way of the claim without being this user's Perennix never makes a start
// end unseen. Another program's mutex of the claim's name (alone, or with a message-only
// window of the claim's class and name) leaves the claim taken but takes no request, so the
// start goes on; another user's mutex, open to this user or not, is no claim at all. (Wine
// runs every program as one user with one token: a window or a process of another user cannot
// be made there, only mutexes that name another user as their owner.)
TEST(InstanceClaim, WhatIsNoPerennixOfThisUserEndsNoStart)
{
    testsupport::TempDir dir;
    const std::wstring pid = std::to_wstring(::GetCurrentProcessId());
    const struct {
        const wchar_t* kind;
        bool claimed;
    } cases[] = {{L"mutex", false}, {L"window", false}, {L"foreign", true}, {L"closed", true}};
    for (const auto& c : cases) {
        const std::wstring kind = c.kind;
        SCOPED_TRACE(std::string(kind.begin(), kind.end()));
        const std::wstring folder = L"C:\\Tools\\占用" + pid + L"-" + kind + L"\\";
        const std::u16string key(folder.begin(), folder.end());
        const std::filesystem::path report = dir.Path() / (kind + L".txt");
        pxtest::StartedProcess squatter(
            pxtest::HelperPath(), L"squat " + pxtest::Quoted(folder) + L" " + kind + L" " + pxtest::Quoted(report));
        ASSERT_TRUE(pxtest::WaitForReport(report));
        Win32WindowHost later(ProgramResources());
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(later.ClaimInstance(key), c.claimed);
        ::testing::internal::GetCapturedStderr();
        if (!c.claimed) {
            EXPECT_FALSE(later.SignalInstance(key));
        }
    }
}

TEST_F(ShellTest, TheBrowseButtonPutsTheChosenFileIntoTheEditAndNotifies)
{
    testsupport::TempDir dir;
    const std::filesystem::path file = dir.Path() / L"守护程序.exe";
    std::ofstream(file) << "MZ";
    ProbeDialog dialog(IDD_MAIN);
    std::wstring title;
    Soon([&] {
        const HWND hwnd = Top().Hwnd();
        When([&] { return OwnedDialog(hwnd) != nullptr; },
            [&] {
                const HWND open = OwnedDialog(hwnd);
                title = TextOf(open);
                // The file name box of the file dialog (cmb13), then its OK button.
                ::SetDlgItemTextW(open, 0x047C, file.c_str());
                ::PostMessageW(open, WM_COMMAND, IDOK, 0);
            });
        ::SendDlgItemMessageW(hwnd, px::win32::BrowseButtonId(IDC_FULLPATH), BM_CLICK, 0, 0);
        Top().EndDialog(IDOK);
    });
    host.RunModal(dialog, nullptr);
    EXPECT_EQ(title, L"打开");
    EXPECT_EQ(dialog.Commands(IDC_FULLPATH, EN_CHANGE), 1u);
}

TEST_F(ShellTest, TheFileDialogOpensInTheFolderOfThePathInTheEdit)
{
    testsupport::TempDir dir;
    const std::filesystem::path folder = dir.Path() / L"工具";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / L"守护程序.exe") << "MZ";
    ProbeDialog dialog(IDD_MAIN);
    std::wstring openedIn;
    Soon([&] {
        const HWND hwnd = Top().Hwnd();
        Top().SetDlgItemText(IDC_FULLPATH, (folder / L"守护程序.exe").u16string());
        When([&] { return OwnedDialog(hwnd) != nullptr; },
            [&] {
                const HWND open = OwnedDialog(hwnd);
                wchar_t path[MAX_PATH * 4] = {};
                ::SendMessageW(
                    open, CDM_GETFOLDERPATH, static_cast<WPARAM>(std::size(path)), reinterpret_cast<LPARAM>(path));
                openedIn = path;
                ::PostMessageW(open, WM_COMMAND, IDCANCEL, 0);
            });
        ::SendDlgItemMessageW(hwnd, px::win32::BrowseButtonId(IDC_FULLPATH), BM_CLICK, 0, 0);
        Top().EndDialog(IDOK);
    });
    host.RunModal(dialog, nullptr);
    EXPECT_EQ(openedIn, folder.wstring());
    EXPECT_EQ(dialog.Commands(IDC_FULLPATH, EN_CHANGE), 1u) << "the text set; cancelled, nothing more";
}

}  // namespace
