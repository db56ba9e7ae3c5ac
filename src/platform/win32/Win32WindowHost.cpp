#include "platform/win32/Win32WindowHost.h"

#include <algorithm>
#include <map>
#include <utility>

#include "platform/win32/Win32DialogWindow.h"

Win32WindowHost::Win32WindowHost(HINSTANCE instance)
    : m_instance(instance)
{
}

Win32WindowHost::~Win32WindowHost() = default;

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
    // Shared icons stay loaded for the life of the process: one load per id and size.
    const int cx = ::GetSystemMetrics(big ? SM_CXICON : SM_CXSMICON);
    const int cy = ::GetSystemMetrics(big ? SM_CYICON : SM_CYSMICON);
    return static_cast<HICON>(
        ::LoadImageW(m_instance, MAKEINTRESOURCEW(id), IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR | LR_SHARED));
}
