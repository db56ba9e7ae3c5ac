#pragma once
// A scripted window host with virtual time. Dialog windows are built from the template
// table; tests click, type, answer message boxes from a script and advance a virtual clock
// that delivers timer ticks in time order. Nested modal loops (message boxes, child
// dialogs) keep dispatching ticks and posted messages, as the real hosts do.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "FakeSystem.h"
#include "platform/Window.h"
#include "resources/DialogTemplates.h"

namespace fake {

class FakeHost;

struct BoxRecord {
    std::u16string text;
    std::u16string caption;
    unsigned type = 0;
    int answer = 0;
    int64_t atMs = 0;
};

// How the next message box is answered: after letting advanceMs of virtual time pass
// while it is open.
struct BoxAnswer {
    int result = IDOK;
    int64_t advanceMs = 0;
};

struct FakeItem {
    ControlKind kind = ControlKind::Label;
    std::u16string text;
    bool checked = false;
    bool enabled = true;
    char16_t passwordChar = 0;
    int redraws = 0;
    std::vector<std::u16string> history;  // every text set, by the program or typed, in order
};

struct TimerState {
    uint32_t intervalMs = 0;
    int64_t nextDueMs = 0;
    uint64_t order = 0;  // arming order breaks ties between timers due at the same moment
};

struct PostedMessage {
    unsigned message;
    uintptr_t wParam;
    intptr_t lParam;
};

class FakeWindow : public DialogWindow {
public:
    FakeWindow(FakeHost& host, CDialogEx& dialog, const DialogTemplate& tpl);

    // What a user does. Each action is ignored once the dialog has ended.
    void Click(int id);  // a button or check box (ignored when disabled)
    void Type(int id, const std::u16string& text);  // replaces an edit's text, as typing does
    void PressEnter();  // focus not on a push button: the OK command
    void PressEscape();  // the cancel command
    void Command(unsigned id);  // WM_COMMAND as a menu pick sends it
    void SysCommand(unsigned id);
    // Picks the entry with this text from the window's own menus (its system menu, else its
    // context menu), as a user reaches it; a failure when neither holds it.
    void PickWindowMenuEntry(const std::u16string& text);
    void TrayNotify(unsigned mouseMessage);  // the tray icon's callback
    void Paint();

    // What a user sees.
    const FakeItem& Item(int id) const;
    const std::u16string& Text(int id) const { return Item(id).text; }
    bool Checked(int id) const { return Item(id).checked; }
    bool Enabled(int id) const { return Item(id).enabled; }
    bool HasTimer(uintptr_t id) const { return timers.count(id) != 0; }
    // The item that has the keyboard focus; 0 before the program moved it anywhere.
    int FocusedItem() const { return focusedItem; }
    std::vector<int> ItemIds() const;

    bool ended = false;
    int endCode = 0;
    bool visible;
    bool iconic = false;
    int focusedItem = 0;
    ClientSize clientSize{460, 405};
    std::map<uintptr_t, TimerState> timers;
    std::deque<PostedMessage> posted;
    std::vector<std::pair<std::u16string, unsigned>> systemMenu;
    std::vector<std::pair<std::u16string, unsigned>> contextMenu;
    std::vector<std::pair<IconId, bool>> iconsSet;
    std::vector<std::pair<int, int>> iconsDrawn;
    std::vector<std::pair<int, bool>> enableCalls;  // (id, enable) in call order
    bool trayIconPresent = false;
    std::u16string trayTip;
    // The notifications shown from the icon: title and text.
    std::vector<std::pair<std::u16string, std::u16string>> trayNotifications;
    std::vector<std::string> trayCalls;  // "add", "delete", "show", "hide", "minimize" in call order
    CDialogEx& dialog;
    int templateId;

    // DialogWindow
    std::u16string GetDlgItemText(int id) override;
    void SetDlgItemText(int id, const std::u16string& text) override;
    bool IsDlgButtonChecked(int id) override;
    void CheckDlgButton(int id, bool checked) override;
    void EnableDlgItem(int id, bool enable) override;
    void SetPasswordChar(int id, char16_t ch) override;
    void RedrawItem(int id) override;
    void GotoDlgItem(int id) override;
    void SetTimer(uintptr_t id, uint32_t elapseMs) override;
    void KillTimer(uintptr_t id) override;
    void PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) override;
    int MessageBox(const std::u16string& text, const std::u16string& caption, unsigned type) override;
    void ShowWindow(int showCommand) override;
    bool IsWindowVisible() override { return visible; }
    bool IsIconic() override { return iconic; }
    ClientSize GetClientSize() override { return clientSize; }
    ClientSize GetSystemIconSize() override { return {32, 32}; }
    void DrawIcon(int x, int y, IconId) override { iconsDrawn.emplace_back(x, y); }
    void SetIcon(IconId icon, bool bigIcon) override { iconsSet.emplace_back(icon, bigIcon); }
    bool NotifyIconAdd(const NotifyIconData& nid) override;
    bool NotifyIconDelete(const NotifyIconData& nid) override;
    bool NotifyIconSetTip(const NotifyIconData& nid) override;
    bool NotifyIconShowInfo(const NotifyIconData& nid) override;
    void TrackPopupMenu(const std::vector<MenuItem>& items) override;
    bool HasSystemMenu() override;
    bool AppendSystemMenuItem(const std::u16string& text, unsigned commandId) override;
    bool AppendContextMenuItem(const std::u16string& text, unsigned commandId) override;
    void EndDialog(int result) override;

    // Hands a message to the dialog (nothing once it has ended).
    void Dispatch(unsigned message, uintptr_t wParam, intptr_t lParam);

private:
    FakeItem& MutableItem(int id);

    FakeHost& m_host;
    std::map<int, FakeItem> m_items;
};

class FakeHost : public WindowHost {
public:
    using Script = std::function<void(FakeWindow&)>;

    explicit FakeHost(VirtualClock& clock)
        : clock(clock)
    {
    }
    ~FakeHost() override;

    // The script runs inside the modal loop of the next dialog opened with this template,
    // after its initialisation and the messages it posted; when the script returns and the
    // dialog is still open, it is closed with IDCANCEL, as a user closing it would.
    void OnModal(int templateId, Script script) { m_scripts[templateId].push_back(std::move(script)); }

    // Lets ms of virtual time pass, delivering every timer tick that falls due, in time
    // order, and every posted message.
    void AdvanceBy(int64_t ms);
    // Delivers the posted messages of every open window.
    void Pump();
    // The tray comes back after it went, as a restarted shell: the icons it held are gone, and
    // every open dialog is told.
    void TrayReturns();

    int RunModal(CDialogEx& dialog, DialogWindow* owner) override;
    bool ClaimInstance(const std::u16string& key) override;
    bool SignalInstance(const std::u16string& key) override;
    // Folders another (pretended) process answers for, folders whose claim something that is
    // not Perennix holds (it takes no request), the claims made, and the requests sent.
    std::vector<std::u16string> heldElsewhere;
    std::vector<std::u16string> heldByStranger;
    std::vector<std::u16string> claims;
    std::vector<std::u16string> instanceSignals;

    VirtualClock& clock;
    std::deque<BoxAnswer> boxAnswers;
    std::vector<BoxRecord> boxes;
    std::vector<std::vector<MenuItem>> menus;
    std::optional<unsigned> nextMenuPick;  // what the user picks in the next popup menu
    bool trayAvailable = true;
    // What the windows have of their own menus: Windows' windows a system menu, the Qt host's a
    // context menu only; a window may have neither.
    bool hasSystemMenu = true;
    bool hasContextMenu = true;
    std::vector<int> modalsOpened;  // template ids, in the order the dialogs opened
    std::vector<DialogWindow*> owners;  // the owner each of them was given
    std::vector<FakeWindow*> open;  // innermost last
    // Windows whose modal run is over, kept for inspection (their dialogs may be gone).
    std::vector<std::unique_ptr<FakeWindow>> closed;

private:
    friend class FakeWindow;
    uint64_t m_armOrder = 0;
    std::map<int, std::deque<Script>> m_scripts;
};

// Installs a host as the process's window host for the lifetime of the guard.
class ScopedHost {
public:
    explicit ScopedHost(WindowHost& h) { SetWindowHost(&h); }
    ~ScopedHost() { SetWindowHost(nullptr); }
    ScopedHost(const ScopedHost&) = delete;
    ScopedHost& operator=(const ScopedHost&) = delete;
};

}  // namespace fake
