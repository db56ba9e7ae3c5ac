#pragma once
// One live dialog window on Qt: a QDialog built from a dialog template, feeding the dialog
// the same window messages a Win32 dialog would get (commands, notifications, timer ticks,
// the tray callback, system commands).

#include <QByteArray>
#include <QPointer>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "backends/qt/DialogUnits.h"
#include "platform/Window.h"
#include "resources/DialogTemplates.h"

class QDialog;
class QEventLoop;
class QLineEdit;
class QMenu;
class QPainter;
class QPushButton;
class QSystemTrayIcon;
class QTimer;
class QWidget;
class QtWindowHost;

namespace px::qt {
class DialogWidget;
}

class QtDialogWindow : public DialogWindow {
public:
    // Builds the window of tpl for dialog; parent owns it (nullptr: a top-level window).
    QtDialogWindow(QtWindowHost& host, CDialogEx& dialog, const DialogTemplate& tpl, QWidget* parent);
    ~QtDialogWindow() override;
    QtDialogWindow(const QtDialogWindow&) = delete;
    QtDialogWindow& operator=(const QtDialogWindow&) = delete;

    // Shows the window and runs its modal loop until EndDialog; returns the end code.
    int RunModalLoop(bool focusFirstTabStop);

    QDialog* Widget() const;
    int TemplateId() const { return m_tpl.id; }
    bool Ended() const { return m_ended; }
    px::qt::BaseUnits Base() const { return m_base; }
    // The widget of a control (for an edit with a browse button, its edit); nullptr when the
    // template has no control with that id.
    QWidget* Item(int id) const;
    // Every control's widget in template order (labels and the group box included).
    const std::vector<QWidget*>& Controls() const { return m_controls; }
    QSystemTrayIcon* TrayIcon() const { return m_tray; }
    // The tray icon's menu, the one popup menu the dialog opens: Qt shows it on an XEmbed
    // tray and publishes it to a StatusNotifier host over D-Bus.
    QMenu* TrayMenu();

    // Hands a message to the dialog now (nothing once the dialog has ended).
    void Dispatch(unsigned message, uintptr_t wParam, intptr_t lParam);
    // The Enter key: a focused push button is clicked, else the default button, else the
    // OK command goes to the dialog.
    void OnEnterKey();
    // Paints what the dialog draws itself (its icon while minimised).
    void PaintDialog(QPainter& painter);
    // The window's context menu, opened by a right click on its background; nothing when the
    // dialog added no entry to it.
    void ShowContextMenu(const QPoint& globalPos);
    // The tray went and took the icon with it: it is hidden until the dialog adds it again.
    void TrayGone();
    // A tray came back: the dialog hears of it from the message loop, as of a posted message.
    void TrayBack();

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
    bool IsWindowVisible() override;
    bool IsIconic() override;
    ClientSize GetClientSize() override;
    ClientSize GetSystemIconSize() override;
    void DrawIcon(int x, int y, IconId icon) override;
    void SetIcon(IconId icon, bool bigIcon) override;
    bool NotifyIconAdd(const NotifyIconData& nid) override;
    bool NotifyIconDelete(const NotifyIconData& nid) override;
    bool NotifyIconSetTip(const NotifyIconData& nid) override;
    bool NotifyIconShowInfo(const NotifyIconData& nid) override;
    void TrackPopupMenu(const std::vector<MenuItem>& items) override;
    bool HasSystemMenu() override;
    bool AppendSystemMenuItem(const std::u16string& text, unsigned commandId) override;
    bool AppendContextMenuItem(const std::u16string& text, unsigned commandId) override;
    void EndDialog(int result) override;

private:
    struct Control {
        const ControlTemplate* tpl = nullptr;
        QWidget* widget = nullptr;  // what is placed, enabled and shown
        QWidget* focus = nullptr;  // what takes the focus and the text (an edit's line edit)
    };

    void BuildControls();
    void CreateControl(const ControlTemplate& c);
    const Control* Find(int id) const;
    QLineEdit* EditOf(int id) const;
    void BrowseForFile(int id);
    void DeliverTick(uintptr_t id);
    QWidget* FirstTabStop() const;
    void AskForTrayMenu();
    void SetTrayMenuEntries(const std::vector<MenuItem>& items);

    QtWindowHost& m_host;
    CDialogEx& m_dialog;
    const DialogTemplate& m_tpl;
    px::qt::BaseUnits m_base;
    bool m_ended = false;
    int m_result = IDCANCEL;
    QEventLoop* m_loop = nullptr;
    QPainter* m_painter = nullptr;
    // Set while the program itself changes an edit's text, so the edit's own change signal
    // does not notify a second time.
    int m_settingText = 0;

    std::vector<Control> m_items;  // template order
    std::vector<QWidget*> m_controls;
    std::map<uintptr_t, QTimer*> m_timers;
    std::vector<std::pair<std::u16string, unsigned>> m_contextMenuItems;
    QSystemTrayIcon* m_tray = nullptr;
    QMenu* m_trayMenu = nullptr;
    std::vector<MenuItem> m_trayMenuEntries;  // what the menu holds
    // Set while the dialog is asked for the tray menu's entries (the tray is about to show it),
    // and while this window opens the menu itself.
    bool m_fillingTrayMenu = false;
    bool m_openingTrayMenu = false;
    unsigned m_trayCallbackMessage = 0;
    uint32_t m_trayId = 0;
    IconId m_windowIcon = 0;
    QByteArray m_hiddenGeometry;  // where the window was when it was hidden
    // Declared last so it goes first: the widgets (and the timers they own) die before the
    // state their callbacks use.
    std::unique_ptr<px::qt::DialogWidget> m_widget;
};
