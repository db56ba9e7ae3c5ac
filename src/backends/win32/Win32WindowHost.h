#pragma once
// The Windows window host: each dialog is a real Win32 dialog built from its template
// (DialogBoxIndirectParamW over an in-memory DLGTEMPLATEEX) and run by the dialog manager's
// own modal loop. One per process, installed with SetWindowHost.

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "backends/win32/WinPrelude.h"
#include "platform/Window.h"

class Win32DialogWindow;

class Win32WindowHost : public WindowHost {
public:
    // instance: the module that holds the icon resources (the program itself).
    explicit Win32WindowHost(HINSTANCE instance);
    ~Win32WindowHost() override;
    Win32WindowHost(const Win32WindowHost&) = delete;
    Win32WindowHost& operator=(const Win32WindowHost&) = delete;

    int RunModal(CDialogEx& dialog, DialogWindow* owner) override;
    // A named mutex of the user's session is the claim (the system releases it with the
    // process, also a killed one), made with a security descriptor that lets this user alone
    // open it; a message-only window of the same name takes the requests. A mutex of that name
    // owned by another user is no claim of this user's: the start goes on without one.
    bool ClaimInstance(const std::u16string& key) override;
    // Only to the window of a process of this user that runs this program.
    bool SignalInstance(const std::u16string& key) override;

    // The window class and the name (of the mutex, in the session's "Local\" namespace, and
    // of the window) of the claim for key.
    static constexpr wchar_t kInstanceClass[] = L"PerennixInstance";
    static std::wstring InstanceName(const std::u16string& key);

    // The dialog windows whose modal loops run, outermost first.
    const std::vector<Win32DialogWindow*>& OpenWindows() const { return m_open; }

    // An icon resource at the size the system shows large (window, Alt+Tab) or small
    // (caption, tray) icons in; nullptr when the program has no such icon. Loaded once.
    HICON Icon(IconId id, bool big) const;
    HINSTANCE Instance() const { return m_instance; }

private:
    static LRESULT CALLBACK InstanceWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE m_instance;
    HANDLE m_instanceMutex = nullptr;
    HWND m_instanceWindow = nullptr;
    std::vector<Win32DialogWindow*> m_open;
    mutable std::map<std::pair<IconId, bool>, HICON> m_icons;
};
