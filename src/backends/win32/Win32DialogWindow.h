#pragma once
// One live Win32 dialog: the window the dialog manager built from a template, feeding the
// dialog its window messages (commands, notifications, timer ticks, the tray callback, system
// commands, painting) and acting on it with the Win32 calls of the same names.

#include <cstdint>

#include "backends/win32/WinPrelude.h"
#include "platform/Window.h"
#include "resources/DialogTemplates.h"
// After <windows.h>.
#include <shellapi.h>

class Win32WindowHost;

class Win32DialogWindow : public DialogWindow {
public:
    Win32DialogWindow(Win32WindowHost& host, CDialogEx& dialog, const DialogTemplate& tpl);
    ~Win32DialogWindow() override;
    Win32DialogWindow(const Win32DialogWindow&) = delete;
    Win32DialogWindow& operator=(const Win32DialogWindow&) = delete;

    // Builds the window owned by owner (nullptr: a top-level window) and runs the dialog
    // manager's modal loop until EndDialog; returns the end code, -1 when no window was made.
    int RunModal(HWND owner);

    // The shell's tray call, through which every icon change and notification goes. A test
    // puts a recorder in front of the shell here (one that passes each call on) to see what
    // the shell was asked for; it is Shell_NotifyIconW otherwise.
    using ShellNotifyIconCall = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAW record);
    static ShellNotifyIconCall s_shellNotifyIcon;

    HWND Hwnd() const { return m_hwnd; }
    int TemplateId() const { return m_tpl.id; }
    bool Ended() const { return m_ended; }

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
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Deliver(UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    void PlaceOverOwner();
    void BrowseForFile(int editId);
    HWND Item(int id) const;
    NOTIFYICONDATAW ShellRecord(const NotifyIconData& nid) const;
    // NIM_MODIFY with the record's fields that flags name.
    bool ModifyIcon(NotifyIconData nid, uint32_t flags);

    Win32WindowHost& m_host;
    CDialogEx& m_dialog;
    const DialogTemplate& m_tpl;
    HWND m_hwnd = nullptr;
    bool m_ended = false;
    HDC m_paintDc = nullptr;  // while a minimised window is painted
};
