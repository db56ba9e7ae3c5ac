#include "backends/win32/Win32DialogWindow.h"

#include <algorithm>
#include <string>

#include "backends/win32/DialogTemplateEx.h"
#include "backends/win32/OsFailure.h"
#include "backends/win32/WideText.h"
#include "backends/win32/Win32WindowHost.h"
#include "resources/Resource.h"
// After <windows.h>.
#include <commdlg.h>
#include <shellapi.h>

using px::win32::FromWide;
using px::win32::LogOsFailure;
using px::win32::Wide;

Win32DialogWindow::ShellNotifyIconCall Win32DialogWindow::s_shellNotifyIcon = ::Shell_NotifyIconW;

namespace {

// Explorer broadcasts this when it (re)starts, holding none of the icons it had.
UINT TaskbarCreatedMessage()
{
    static const UINT message = [] {
        const UINT registered = ::RegisterWindowMessageW(L"TaskbarCreated");
        if (registered == 0)
            LogOsFailure("RegisterWindowMessageW(TaskbarCreated)", ::GetLastError());
        return registered;
    }();
    return message;
}

// The MB_* style of what the layer lets a box show: its buttons and its icon, nothing else.
UINT BoxStyle(unsigned type)
{
    UINT style = MessageBoxHasCancel(type) ? MB_OKCANCEL : MB_OK;
    switch (MessageBoxIconOf(type)) {
    case BoxIcon::Information:
        style |= MB_ICONINFORMATION;
        break;
    case BoxIcon::Warning:
        style |= MB_ICONWARNING;
        break;
    case BoxIcon::Error:
        style |= MB_ICONERROR;
        break;
    case BoxIcon::Question:
        style |= MB_ICONQUESTION;
        break;
    case BoxIcon::None:
        break;
    }
    return style;
}

// Gives the buttons of the next message box of this thread the program's own texts, whatever
// the language of the system's.
class MessageBoxButtonTexts {
public:
    MessageBoxButtonTexts()
        : m_hook(::SetWindowsHookExW(WH_CBT, &Hook, nullptr, ::GetCurrentThreadId()))
    {
        // Without the hook the box shows the system's own button texts.
        if (!m_hook)
            LogOsFailure("SetWindowsHookExW(WH_CBT)", ::GetLastError());
        s_pending = true;
    }
    ~MessageBoxButtonTexts()
    {
        s_pending = false;
        if (m_hook)
            ::UnhookWindowsHookEx(m_hook);
    }
    MessageBoxButtonTexts(const MessageBoxButtonTexts&) = delete;
    MessageBoxButtonTexts& operator=(const MessageBoxButtonTexts&) = delete;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam)
    {
        if (code == HCBT_ACTIVATE && s_pending) {
            const HWND box = reinterpret_cast<HWND>(wParam);
            wchar_t className[16] = {};
            ::GetClassNameW(box, className, 16);
            if (std::wstring(className) == L"#32770") {
                s_pending = false;
                ::SetDlgItemTextW(box, IDOK, Wide(GetHostText(HostText::Ok)).c_str());
                ::SetDlgItemTextW(box, IDCANCEL, Wide(GetHostText(HostText::Cancel)).c_str());
            }
        }
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }

    HHOOK m_hook;
    static inline thread_local bool s_pending = false;
};

}  // namespace

Win32DialogWindow::Win32DialogWindow(Win32WindowHost& host, CDialogEx& dialog, const DialogTemplate& tpl)
    : m_host(host)
    , m_dialog(dialog)
    , m_tpl(tpl)
{
}

Win32DialogWindow::~Win32DialogWindow() = default;

int Win32DialogWindow::RunModal(HWND owner)
{
    const px::win32::DialogTemplateEx memory(m_tpl);
    const INT_PTR result = ::DialogBoxIndirectParamW(
        m_host.Instance(), memory.Get(), owner, &DialogProc, reinterpret_cast<LPARAM>(this));
    if (result == -1)
        LogOsFailure("DialogBoxIndirectParamW", ::GetLastError());
    m_dialog.Detach();
    m_hwnd = nullptr;
    return static_cast<int>(result);
}

INT_PTR CALLBACK Win32DialogWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Win32DialogWindow*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_hwnd = hwnd;
        return self->OnInitDialog();
    }
    // Messages before WM_INITDIALOG (the font, the frame's sizes) are the dialog manager's.
    auto* self = reinterpret_cast<Win32DialogWindow*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self)
        return FALSE;
    return self->OnMessage(message, wParam, lParam);
}

BOOL Win32DialogWindow::OnInitDialog()
{
    PlaceOverOwner();
    // An edit takes no more than 32,767 characters from the keyboard or a paste by default
    // (30,000 under Wine), while the program sets and saves values of any length: 0 lifts the
    // limit to the largest a single-line edit holds (0x7FFFFFFE).
    for (const ControlTemplate& c : m_tpl.controls) {
        if (c.kind != ControlKind::Edit && c.kind != ControlKind::BrowseEdit)
            continue;
        if (const HWND edit = Item(c.id))
            ::SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
    }
    m_dialog.Attach(this);
    // True: the dialog manager gives the focus to the first tab stop.
    return m_dialog.OnInitDialog() ? TRUE : FALSE;
}

void Win32DialogWindow::PlaceOverOwner()
{
    // Centred over the owner, or on the work area of the screen when there is none.
    RECT area{};
    const HWND owner = ::GetWindow(m_hwnd, GW_OWNER);
    if (owner && ::IsWindowVisible(owner)) {
        if (!::GetWindowRect(owner, &area))
            LogOsFailure("GetWindowRect(owner)", ::GetLastError());
    } else if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) {
        LogOsFailure("SystemParametersInfoW(SPI_GETWORKAREA)", ::GetLastError());
    }
    RECT own{};
    if (!::GetWindowRect(m_hwnd, &own))
        LogOsFailure("GetWindowRect", ::GetLastError());
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    const int x = std::max<int>(area.left, area.left + (area.right - area.left - width) / 2);
    const int y = std::max<int>(area.top, area.top + (area.bottom - area.top - height) / 2);
    if (!::SetWindowPos(m_hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE))
        LogOsFailure("SetWindowPos", ::GetLastError());
}

INT_PTR Win32DialogWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCDESTROY) {
        m_hwnd = nullptr;
        return FALSE;
    }
    // Once the dialog has ended, only the window's destruction reaches it.
    if (m_ended && message != WM_DESTROY)
        return FALSE;
    if (message == WM_ENDSESSION) {
        // The session ends (logoff, shutdown): Windows ends the process once this returns,
        // so the program ends here, in its own words.
        if (wParam)
            m_dialog.WindowProc(WM_ENDREQUEST, END_CAUSE_SESSION, 0);
        return FALSE;
    }
    if (message != 0 && message == TaskbarCreatedMessage()) {
        // The shell restarted and holds none of the icons it had: the dialog is told in the
        // layer's words and adds its icon again if it has one.
        m_dialog.TrayReturned();
        return FALSE;
    }
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (const int edit = px::win32::EditOfBrowseButton(m_tpl, LOWORD(wParam))) {
            BrowseForFile(edit);
            return TRUE;
        }
    }
    if (message == WM_PAINT && ::IsIconic(m_hwnd)) {
        // The dialog draws its minimised window itself, inside this paint.
        PAINTSTRUCT paint{};
        m_paintDc = ::BeginPaint(m_hwnd, &paint);
        if (!m_paintDc)
            LogOsFailure("BeginPaint", ::GetLastError());
        Deliver(message, wParam, lParam);
        m_paintDc = nullptr;
        ::EndPaint(m_hwnd, &paint);
        return TRUE;
    }
    return Deliver(message, wParam, lParam);
}

INT_PTR Win32DialogWindow::Deliver(UINT message, WPARAM wParam, LPARAM lParam)
{
    const HWND hwnd = m_hwnd;
    const MessageResult result = m_dialog.WindowProc(message, wParam, lParam);
    if (!result.handled)
        return FALSE;  // the dialog manager's default processing
    if (message == WM_QUERYDRAGICON) {
        // Returned directly, as the dialog manager expects for this message.
        return reinterpret_cast<INT_PTR>(m_host.Icon(static_cast<IconId>(result.value), true));
    }
    if (hwnd && ::IsWindow(hwnd))
        ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result.value);
    return TRUE;
}

void Win32DialogWindow::BrowseForFile(int editId)
{
    // Any file: no filter, no default extension; opened in the folder the dialog's rule gives
    // for the edit's text. The chosen path replaces the edit's text, which notifies the dialog
    // of the change.
    std::wstring file(32768, L'\0');
    const std::wstring title = Wide(GetHostText(HostText::OpenFileTitle));
    const std::wstring folder = Wide(CMFCEditBrowseCtrl::InitialFolder(GetDlgItemText(editId)));
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = m_hwnd;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!::GetOpenFileNameW(&ofn)) {
        // 0: the user cancelled.
        if (const DWORD error = ::CommDlgExtendedError())
            px::win32::LogComponentFailure("GetOpenFileNameW", "CommDlgExtendedError", error);
        return;
    }
    if (m_ended)
        return;
    file.resize(std::wcslen(file.c_str()));
    if (!::SetDlgItemTextW(m_hwnd, editId, file.c_str()))
        LogOsFailure("SetDlgItemTextW(browse edit)", ::GetLastError());
}

HWND Win32DialogWindow::Item(int id) const
{
    // Several controls share -1: nobody addresses them.
    return (id == -1 || !m_hwnd) ? nullptr : ::GetDlgItem(m_hwnd, id);
}

std::u16string Win32DialogWindow::GetDlgItemText(int id)
{
    const HWND item = Item(id);
    if (!item)
        return {};
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(item)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(item, text.data(), static_cast<int>(text.size()))));
    return FromWide(text);
}

void Win32DialogWindow::SetDlgItemText(int id, const std::u16string& text)
{
    const HWND item = Item(id);
    if (item && !::SetWindowTextW(item, Wide(text).c_str()))
        LogOsFailure("SetWindowTextW", ::GetLastError());
}

bool Win32DialogWindow::IsDlgButtonChecked(int id)
{
    return Item(id) && ::IsDlgButtonChecked(m_hwnd, id) == BST_CHECKED;
}

void Win32DialogWindow::CheckDlgButton(int id, bool checked)
{
    if (Item(id))
        ::CheckDlgButton(m_hwnd, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void Win32DialogWindow::EnableDlgItem(int id, bool enable)
{
    if (const HWND item = Item(id))
        ::EnableWindow(item, enable ? TRUE : FALSE);
    // A browse edit's button is part of the control.
    if (const HWND button = Item(px::win32::BrowseButtonId(id)))
        ::EnableWindow(button, enable ? TRUE : FALSE);
}

void Win32DialogWindow::SetPasswordChar(int id, char16_t ch)
{
    if (const HWND item = Item(id))
        ::SendMessageW(item, EM_SETPASSWORDCHAR, static_cast<WPARAM>(ch), 0);
}

void Win32DialogWindow::RedrawItem(int id)
{
    const HWND item = Item(id);
    if (item && !::RedrawWindow(item, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW))
        LogOsFailure("RedrawWindow", ::GetLastError());
}

void Win32DialogWindow::GotoDlgItem(int id)
{
    // WM_NEXTDLGCTL, not SetFocus: the dialog manager then selects an edit's text and moves
    // the default button as the Tab key would.
    if (const HWND item = Item(id))
        ::SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item), TRUE);
}

void Win32DialogWindow::SetTimer(uintptr_t id, uint32_t elapseMs)
{
    if (m_hwnd && !m_ended && ::SetTimer(m_hwnd, id, elapseMs, nullptr) == 0)
        LogOsFailure("SetTimer", ::GetLastError());
}

void Win32DialogWindow::KillTimer(uintptr_t id)
{
    // Its only failure is a timer that is not armed, which the program may kill all the same.
    if (m_hwnd)
        ::KillTimer(m_hwnd, id);
}

void Win32DialogWindow::PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam)
{
    if (m_hwnd && !m_ended && !::PostMessageW(m_hwnd, message, wParam, lParam))
        LogOsFailure("PostMessageW", ::GetLastError());
}

int Win32DialogWindow::MessageBox(const std::u16string& text, const std::u16string& caption, unsigned type)
{
    const MessageBoxButtonTexts buttons;
    const int answer = ::MessageBoxW(m_hwnd, Wide(text).c_str(), Wide(caption).c_str(), BoxStyle(type));
    if (answer == 0)
        LogOsFailure("MessageBoxW", ::GetLastError());
    return answer == IDOK ? IDOK : IDCANCEL;
}

void Win32DialogWindow::ShowWindow(int showCommand)
{
    if (!m_hwnd || m_ended)
        return;
    ::ShowWindow(m_hwnd, showCommand);
    // A window shown or restored comes to the front.
    if (showCommand == SW_SHOW || showCommand == SW_RESTORE)
        ::SetForegroundWindow(m_hwnd);
}

bool Win32DialogWindow::IsWindowVisible() { return m_hwnd && ::IsWindowVisible(m_hwnd); }
bool Win32DialogWindow::IsIconic() { return m_hwnd && ::IsIconic(m_hwnd); }

ClientSize Win32DialogWindow::GetClientSize()
{
    RECT client{};
    if (m_hwnd)
        ::GetClientRect(m_hwnd, &client);
    return {client.right - client.left, client.bottom - client.top};
}

ClientSize Win32DialogWindow::GetSystemIconSize()
{
    return {::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON)};
}

void Win32DialogWindow::DrawIcon(int x, int y, IconId icon)
{
    // Drawing happens only inside the window's painting.
    if (!m_paintDc)
        return;
    ::SendMessageW(m_hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(m_paintDc), 0);
    if (!::DrawIcon(m_paintDc, x, y, m_host.Icon(icon, true)))
        LogOsFailure("DrawIcon", ::GetLastError());
}

void Win32DialogWindow::SetIcon(IconId icon, bool bigIcon)
{
    if (m_hwnd)
        ::SendMessageW(
            m_hwnd, WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(m_host.Icon(icon, bigIcon)));
}

NOTIFYICONDATAW Win32DialogWindow::ShellRecord(const NotifyIconData& nid) const
{
    // The platform's full record (956 bytes in a 32-bit program, 976 in a 64-bit one), with
    // only the fields the flags name filled in.
    NOTIFYICONDATAW record{};
    record.cbSize = sizeof record;
    auto* owner = dynamic_cast<Win32DialogWindow*>(nid.hWnd);
    record.hWnd = owner ? owner->m_hwnd : m_hwnd;
    record.uID = nid.uID;
    record.uFlags = nid.uFlags;
    record.uCallbackMessage = nid.uCallbackMessage;
    record.hIcon = m_host.Icon(nid.hIcon, false);
    const std::wstring tip = Wide(nid.szTip).substr(0, std::size(record.szTip) - 1);
    std::copy(tip.begin(), tip.end(), record.szTip);
    const std::wstring infoTitle = Wide(nid.szInfoTitle).substr(0, std::size(record.szInfoTitle) - 1);
    std::copy(infoTitle.begin(), infoTitle.end(), record.szInfoTitle);
    const std::wstring info = Wide(nid.szInfo).substr(0, std::size(record.szInfo) - 1);
    std::copy(info.begin(), info.end(), record.szInfo);
    // A notification has the information icon and the shell's own time to show it (it is no
    // longer the program's to choose).
    if (nid.uFlags & NIF_INFO)
        record.dwInfoFlags = NIIF_INFO;
    return record;
}

bool Win32DialogWindow::NotifyIconAdd(const NotifyIconData& nid)
{
    if (!m_hwnd || m_ended)
        return false;
    NOTIFYICONDATAW record = ShellRecord(nid);
    if (!s_shellNotifyIcon(NIM_ADD, &record)) {
        LogOsFailure("Shell_NotifyIconW(NIM_ADD)", ::GetLastError());
        return false;
    }
    return true;
}

bool Win32DialogWindow::ModifyIcon(NotifyIconData nid, uint32_t flags)
{
    nid.uFlags = flags;
    NOTIFYICONDATAW record = ShellRecord(nid);
    return s_shellNotifyIcon(NIM_MODIFY, &record) != FALSE;
}

bool Win32DialogWindow::NotifyIconSetTip(const NotifyIconData& nid)
{
    return m_hwnd && !m_ended && ModifyIcon(nid, NIF_TIP);
}

bool Win32DialogWindow::NotifyIconShowInfo(const NotifyIconData& nid)
{
    if (!m_hwnd || m_ended)
        return false;
    if (!ModifyIcon(nid, NIF_INFO)) {
        LogOsFailure("Shell_NotifyIconW(NIM_MODIFY, NIF_INFO)", ::GetLastError());
        return false;
    }
    return true;
}

bool Win32DialogWindow::NotifyIconDelete(const NotifyIconData& nid)
{
    if (!m_hwnd)
        return false;
    NOTIFYICONDATAW record = ShellRecord(nid);
    if (!s_shellNotifyIcon(NIM_DELETE, &record)) {
        LogOsFailure("Shell_NotifyIconW(NIM_DELETE)", ::GetLastError());
        return false;
    }
    return true;
}

void Win32DialogWindow::TrackPopupMenu(const std::vector<MenuItem>& items)
{
    if (!m_hwnd || m_ended)
        return;
    POINT at{};
    if (!::GetCursorPos(&at))
        LogOsFailure("GetCursorPos", ::GetLastError());
    const HMENU menu = ::CreatePopupMenu();
    if (!menu) {
        LogOsFailure("CreatePopupMenu", ::GetLastError());
        return;
    }
    for (const MenuItem& item : items) {
        const BOOL appended = item.separator ? ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr)
                                             : ::AppendMenuW(menu, MF_STRING, item.id, Wide(item.text).c_str());
        if (!appended)
            LogOsFailure("AppendMenuW(popup menu)", ::GetLastError());
    }
    // In front first, so that the menu closes when the user clicks elsewhere (a refusal, which
    // Windows makes by design for a program in the background, leaves the menu open until
    // picked or escaped); the posted message lets the menu's loop see the window's queue once
    // more before it returns.
    ::SetForegroundWindow(m_hwnd);
    if (!::TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, m_hwnd, nullptr))
        LogOsFailure("TrackPopupMenu", ::GetLastError());
    if (!::PostMessageW(m_hwnd, WM_NULL, 0, 0))
        LogOsFailure("PostMessageW(WM_NULL)", ::GetLastError());
    if (!::DestroyMenu(menu))
        LogOsFailure("DestroyMenu", ::GetLastError());
}

bool Win32DialogWindow::HasSystemMenu() { return m_hwnd && (::GetWindowLongW(m_hwnd, GWL_STYLE) & WS_SYSMENU) != 0; }

bool Win32DialogWindow::AppendSystemMenuItem(const std::u16string& text, unsigned commandId)
{
    if (!HasSystemMenu())
        return false;
    const HMENU menu = ::GetSystemMenu(m_hwnd, FALSE);
    if (!menu) {
        LogOsFailure("GetSystemMenu", ::GetLastError());
        return false;
    }
    if (!::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr))
        LogOsFailure("AppendMenuW(system menu separator)", ::GetLastError());
    if (!::AppendMenuW(menu, MF_STRING, commandId, Wide(text).c_str())) {
        LogOsFailure("AppendMenuW(system menu)", ::GetLastError());
        return false;
    }
    return true;
}

// A Windows dialog's background has no menu: a window's own commands are in its system menu.
bool Win32DialogWindow::AppendContextMenuItem(const std::u16string&, unsigned) { return false; }

void Win32DialogWindow::EndDialog(int result)
{
    if (!m_hwnd || m_ended)
        return;
    m_ended = true;
    if (!::EndDialog(m_hwnd, result))
        LogOsFailure("EndDialog", ::GetLastError());
}
