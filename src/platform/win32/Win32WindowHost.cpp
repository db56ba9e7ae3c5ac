#include "platform/win32/Win32WindowHost.h"

#include <algorithm>

#include "platform/win32/Win32DialogWindow.h"

Win32WindowHost::Win32WindowHost(HINSTANCE instance)
    : m_instance(instance)
{
}

Win32WindowHost::~Win32WindowHost()
{
    for (const auto& [key, icon] : m_icons) {
        if (icon)
            ::DestroyIcon(icon);
    }
}

int Win32WindowHost::RunModal(CDialogEx& dialog, DialogWindow* owner)
{
    const DialogTemplate* tpl = FindDialogTemplate(dialog.GetTemplateId());
    if (!tpl)
        return -1;
    auto* ownerWindow = dynamic_cast<Win32DialogWindow*>(owner);
    Win32DialogWindow window(*this, dialog, *tpl);
    m_open.push_back(&window);
    const int result = window.RunModal(ownerWindow ? ownerWindow->Hwnd() : nullptr);
    m_open.erase(std::find(m_open.begin(), m_open.end(), &window));
    return result;
}

HICON Win32WindowHost::Icon(IconId id, bool big) const
{
    // Loaded once per id and size, and kept as long as the host: windows and the tray hold on
    // to the handles.
    HICON& icon = m_icons[{id, big}];
    if (!icon) {
        const int cx = ::GetSystemMetrics(big ? SM_CXICON : SM_CXSMICON);
        const int cy = ::GetSystemMetrics(big ? SM_CYICON : SM_CYSMICON);
        icon = static_cast<HICON>(::LoadImageW(m_instance, MAKEINTRESOURCEW(id), IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR));
    }
    return icon;
}
