#pragma once
// The window layer: what the program's dialogs need of a window, with no toolkit behind it.
// A dialog's behaviour is a CDialogEx subclass; a back end (Qt, Win32, the scripted test host)
// builds the window from the dialog's template, attaches it, and feeds it window messages.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WinConst.h"

class CDialogEx;
class DialogWindow;

// Icons are named by resource id; each back end renders its own image for the id.
using IconId = int;

// The icon of a message box, asked for with the MB_ICON* bits of its type.
enum class BoxIcon { None, Information, Warning, Error, Question };
// What a host shows of a message box's type: OK, or OK and Cancel (MB_OKCANCEL), and the
// icon; every other bit of the type is ignored, on every host.
bool MessageBoxHasCancel(unsigned type);
BoxIcon MessageBoxIconOf(unsigned type);

// The tray record, shaped like the platform's NOTIFYICONDATAW: only the fields that uFlags
// names carry meaning.
struct NotifyIconData {
    uint32_t cbSize = 0;
    DialogWindow* hWnd = nullptr;
    uint32_t uID = 0;
    uint32_t uFlags = 0;
    uint32_t uCallbackMessage = 0;
    IconId hIcon = 0;
    std::u16string szTip;  // holds at most 127 units on Windows
    // A notification's title and text (NIF_INFO); at most 63 and 255 units on Windows.
    std::u16string szInfoTitle;
    std::u16string szInfo;
};

// One entry of a popup menu; a separator has no text and id 0.
struct MenuItem {
    std::u16string text;
    unsigned id = 0;
    bool separator = false;
    bool operator==(const MenuItem&) const = default;
};

struct ClientSize {
    int cx = 0;
    int cy = 0;
};

// One live dialog window as the program's handlers see it. Items are addressed by control id.
// A back end only reports and acts: every decision users see (captions, cuts, the no-tray
// fallback, re-entry of timer ticks, owners) is made by CDialogEx and its subclasses.
class DialogWindow {
public:
    virtual ~DialogWindow() = default;

    // An item's whole text (empty for an item that does not exist).
    virtual std::u16string GetDlgItemText(int id) = 0;
    // Sets an item's text; an edit whose text changes notifies the dialog (WM_COMMAND, EN_CHANGE)
    // before this returns, as a Win32 edit does.
    virtual void SetDlgItemText(int id, const std::u16string& text) = 0;
    virtual bool IsDlgButtonChecked(int id) = 0;
    virtual void CheckDlgButton(int id, bool checked) = 0;
    virtual void EnableDlgItem(int id, bool enable) = 0;
    // Masks an edit's text with ch; 0 removes the masking.
    virtual void SetPasswordChar(int id, char16_t ch) = 0;
    // Repaints an item in full, background included.
    virtual void RedrawItem(int id) = 0;
    // Moves the keyboard focus to an item, an edit's text selected, as the dialog's own Tab
    // key does (nothing for an item that does not exist).
    virtual void GotoDlgItem(int id) = 0;

    // Arms timer id (re-arming restarts its count); each expiry arrives as WM_TIMER with the id.
    // A timer that fell due several times while the thread was busy delivers one tick.
    virtual void SetTimer(uintptr_t id, uint32_t elapseMs) = 0;
    virtual void KillTimer(uintptr_t id) = 0;
    // Queues a message that the dialog gets after the current handler has returned.
    virtual void PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) = 0;

    // A modal message box owned by the window, with this caption, the buttons and the icon the
    // type asks for (MessageBoxHasCancel, MessageBoxIconOf); timer ticks and posted messages
    // keep being dispatched while it is open. Returns IDOK or IDCANCEL.
    virtual int MessageBox(const std::u16string& text, const std::u16string& caption, unsigned type) = 0;

    // SW_HIDE, SW_MINIMIZE, SW_RESTORE (a minimised window back to its size), or SW_SHOW;
    // a window shown or restored comes to the front.
    virtual void ShowWindow(int showCommand) = 0;
    virtual bool IsWindowVisible() = 0;
    virtual bool IsIconic() = 0;
    virtual ClientSize GetClientSize() = 0;
    virtual ClientSize GetSystemIconSize() = 0;
    // Paints a minimised window: its background erased, then icon at (x, y).
    virtual void DrawIcon(int x, int y, IconId icon) = 0;
    virtual void SetIcon(IconId icon, bool bigIcon) = 0;

    // Adds or removes the tray icon the record describes; false when the shell refused (no
    // tray on this desktop, or the icon was already there or already gone). A tray that goes
    // takes the icon with it; when one comes back, the dialog is told (CDialogEx::TrayReturned)
    // and adds it again if it wants it: a host never adds an icon on its own.
    virtual bool NotifyIconAdd(const NotifyIconData& nid) = 0;
    virtual bool NotifyIconDelete(const NotifyIconData& nid) = 0;
    // Changes the tooltip of the icon the record describes; false when it is not there.
    virtual bool NotifyIconSetTip(const NotifyIconData& nid) = 0;
    // Shows a notification from the icon the record describes, titled szInfoTitle, saying
    // szInfo (Windows: the icon's balloon; Linux: the tray's message, which a desktop with a
    // notification server shows as its notification); false when the icon is not there.
    virtual bool NotifyIconShowInfo(const NotifyIconData& nid) = 0;
    // Shows a popup menu at the mouse position; a picked item reaches the dialog as WM_COMMAND
    // with the item's id. A host whose tray shows the icon's menu itself asks for it with the
    // tray callback's WM_RBUTTONDOWN just before, and takes the entries from this call.
    virtual void TrackPopupMenu(const std::vector<MenuItem>& items) = 0;
    // Whether the window has a system menu (the title bar's window menu) the program can
    // extend: Windows' windows do; a Linux desktop draws its own, which no program extends.
    virtual bool HasSystemMenu() = 0;
    // Appends a separator and a text item to the window's system menu; false when it has none.
    // The item arrives as WM_SYSCOMMAND.
    virtual bool AppendSystemMenuItem(const std::u16string& text, unsigned commandId) = 0;
    // Appends a text item to the menu a right click on the window's background opens (its
    // context menu); false when the window has none. The item arrives as WM_SYSCOMMAND.
    virtual bool AppendContextMenuItem(const std::u16string& text, unsigned commandId) = 0;

    // Ends the modal run of this window's dialog with the given result.
    virtual void EndDialog(int result) = 0;
};

// What a dialog did with a message: handled, with its result, or left to the platform's own
// processing (a Win32 dialog procedure then returns FALSE).
struct MessageResult {
    bool handled = false;
    intptr_t value = 0;
};

// Builds windows for dialogs and runs them modally. One per process, chosen at start-up.
class WindowHost {
public:
    virtual ~WindowHost() = default;
    // Creates dialog's window from its template, owned by owner (nullptr: a top-level window)
    // and placed over it, attaches it, runs OnInitDialog, dispatches messages until EndDialog,
    // sends WM_DESTROY, detaches; returns the end code (-1 when no window could be made).
    virtual int RunModal(CDialogEx& dialog, DialogWindow* owner) = 0;

    // Makes this process the one that answers for key (a folder), for as long as it runs;
    // false when another live process of this user already does. While it answers, a request
    // from a later start reaches the outermost open dialog as WM_SHOWINSTANCE. Another user
    // can neither take the claim nor make it look taken.
    virtual bool ClaimInstance(const std::u16string& key) = 0;
    // Asks the process that answers for key to show its window; false when what answers is
    // not this program run by this user, or nothing does.
    virtual bool SignalInstance(const std::u16string& key) = 0;
};

WindowHost* GetWindowHost();
void SetWindowHost(WindowHost* host);

// A control bound to a dialog member: the window and the item id, nothing else.
class CDlgItem {
public:
    void Bind(DialogWindow* wnd, int id)
    {
        m_pWnd = wnd;
        m_nID = id;
    }
    void EnableWindow(bool enable) const
    {
        if (m_pWnd)
            m_pWnd->EnableDlgItem(m_nID, enable);
    }
    void RedrawWindow() const
    {
        if (m_pWnd)
            m_pWnd->RedrawItem(m_nID);
    }
    // The control's whole text.
    std::u16string GetWindowText() const { return m_pWnd ? m_pWnd->GetDlgItemText(m_nID) : std::u16string(); }

protected:
    DialogWindow* m_pWnd = nullptr;
    int m_nID = 0;
};

class CEdit : public CDlgItem {
public:
    void SetPasswordChar(char16_t ch) const
    {
        if (m_pWnd)
            m_pWnd->SetPasswordChar(m_nID, ch);
    }
};

class CButton : public CDlgItem {
public:
    int GetCheck() const { return (m_pWnd && m_pWnd->IsDlgButtonChecked(m_nID)) ? 1 : 0; }
    void SetCheck(int state) const
    {
        if (m_pWnd)
            m_pWnd->CheckDlgButton(m_nID, state != 0);
    }
};

// The edit with a browse button; the host gives it its file dialog, which opens in
// InitialFolder of the edit's text.
class CMFCEditBrowseCtrl : public CEdit {
public:
    // The folder of the path in text: the text before its last separator (and before any
    // separators right ahead of that), a root keeping its separator ("/", or a drive's "C:"
    // with it); empty when the text names no folder, and the file dialog then opens where the
    // platform opens it.
    static std::u16string InitialFolder(std::u16string_view text);
};

// The toolkit-neutral dialog: handlers and message dispatch, no window of its own until a
// host attaches one.
class CDialogEx {
public:
    explicit CDialogEx(int templateId, CDialogEx* parent = nullptr);
    virtual ~CDialogEx();
    CDialogEx(const CDialogEx&) = delete;
    CDialogEx& operator=(const CDialogEx&) = delete;

    // Runs the dialog modally through the process's window host. A dialog without a parent
    // is owned by the innermost dialog running at the time, as the framework gives an
    // ownerless dialog the main window.
    int DoModal();

    int GetTemplateId() const { return m_nIDTemplate; }
    DialogWindow* GetWindow() const { return m_pWnd; }

    // Host side: attach the window before OnInitDialog, detach after the modal run.
    void Attach(DialogWindow* wnd) { m_pWnd = wnd; }
    void Detach() { m_pWnd = nullptr; }
    // Host side: the host's tray came back after it had gone (the shell restarted, a tray host
    // started again), holding none of the icons the tray that went had. Every open dialog is
    // told from the host's message loop, whatever the platform's own way of telling
    // (TaskbarCreated on Windows, a tray announcing itself on Linux).
    void TrayReturned() { OnTrayReturned(); }

    // The dialog's message procedure: the message map of the dialog framework. A timer's
    // tick is never handled inside its own handler (one waiting in a message box): a tick
    // that falls due meanwhile is handled once, after the handler has returned, unless the
    // timer was killed or re-armed in between.
    virtual MessageResult WindowProc(unsigned message, uintptr_t wParam, intptr_t lParam);
    virtual bool OnInitDialog();

    // Send a command as the host does for a click, a key or a menu pick.
    void SendCommand(int id, int code = BN_CLICKED) { WindowProc(WM_COMMAND, MakeCommandWParam(id, code), 0); }
    static uintptr_t MakeCommandWParam(int id, int code)
    {
        return (static_cast<uintptr_t>(static_cast<uint16_t>(code)) << 16) | static_cast<uint16_t>(id);
    }

    // The application's name: the executable's file name without its extension, the caption
    // of a message box that names none.
    static std::u16string ApplicationName();

protected:
    virtual void DoDataExchange() { }
    // A command or control notification; true when the dialog handled it. Unhandled IDOK and
    // IDCANCEL end the dialog through OnOK and OnCancel.
    virtual bool OnCommand(int id, int code);
    virtual void OnOK();
    virtual void OnCancel();
    virtual void OnTimer(uintptr_t id);
    virtual void OnSysCommand(unsigned id, intptr_t lParam);
    virtual void OnPaint();
    // The cursor shown while the minimised window is dragged (0: the platform's default).
    virtual IconId OnQueryDragIcon();
    // The window is about to go, however the dialog ended.
    virtual void OnDestroy() { }
    // Leaves the message to the platform's own processing (the result is then the platform's).
    virtual intptr_t DefWindowProc(unsigned message, uintptr_t wParam, intptr_t lParam);

    void EndDialog(int result)
    {
        if (m_pWnd)
            m_pWnd->EndDialog(result);
    }
    // A message box owned by this dialog; without a caption, the application's name.
    int MessageBox(const std::u16string& text, const std::optional<std::u16string>& caption, unsigned type);
    // Adds a command to the window's own menu where its platform keeps it: the system menu
    // when the window has one, else its context menu; false when it has neither, and the
    // command is then not offered. The command arrives as WM_SYSCOMMAND.
    bool AppendWindowMenuItem(const std::u16string& text, unsigned commandId);
    // The tray icon, through the dialog: it keeps the record of the icon it added until the
    // icon is removed, adds the icon again when the host's tray comes back (OnTrayReturned),
    // and removes it when the window goes, however the dialog ended.
    bool NotifyIconAdd(const NotifyIconData& nid);
    bool NotifyIconDelete(const NotifyIconData& nid);
    // Changes the icon's tooltip to nid's, also in the record kept for a tray that comes back.
    void NotifyIconSetTip(const NotifyIconData& nid);
    // A notification from the icon this dialog added, titled title; false when it has none in
    // the tray. The record kept for a tray that comes back does not repeat it.
    bool NotifyIconShowInfo(const std::u16string& title, const std::u16string& text);
    // An icon this dialog added and has not removed since: it belongs in the tray (a tray that
    // went may have taken it, and one that comes back gets it again).
    bool HasTrayIcon() const { return m_trayIcon.has_value(); }
    // The host's tray came back: the icon the dialog has is added again. An add the tray
    // refuses leaves it wanted, for the next return.
    virtual void OnTrayReturned();
    // An item's whole text: values are taken as typed, never cut to a buffer.
    std::u16string GetDlgItemText(int id) const;
    // The keyboard focus to an item: the field a refused value was typed in.
    void GotoDlgCtrl(int id)
    {
        if (m_pWnd)
            m_pWnd->GotoDlgItem(id);
    }
    // The window's timers, through the dialog so that a tick held back for its busy handler
    // is dropped when the timer is killed or re-armed.
    void SetTimer(uintptr_t id, uint32_t elapseMs);
    void KillTimer(uintptr_t id);

    DialogWindow* m_pWnd = nullptr;
    int m_nIDTemplate;
    CDialogEx* m_pParentWnd;

private:
    MessageResult Dispatch(unsigned message, uintptr_t wParam, intptr_t lParam);
    void HandleTimer(uintptr_t id);

    // Set by DefWindowProc while a message is being dispatched: it was left to the platform.
    bool m_bLeftToPlatform = false;
    std::optional<NotifyIconData> m_trayIcon;
    std::vector<uintptr_t> m_ticksInHandler;
    std::vector<uintptr_t> m_ticksHeldBack;
};
