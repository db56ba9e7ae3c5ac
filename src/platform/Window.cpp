#include "platform/Window.h"

#include <algorithm>

#include "base/Paths.h"
#include "platform/System.h"

namespace {
WindowHost* g_windowHost = nullptr;
// The dialogs whose modal run is going on, innermost last.
std::vector<CDialogEx*> g_running;

bool Contains(const std::vector<uintptr_t>& ids, uintptr_t id)
{
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}
void Erase(std::vector<uintptr_t>& ids, uintptr_t id) { ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end()); }
}  // namespace

WindowHost* GetWindowHost() { return g_windowHost; }
void SetWindowHost(WindowHost* host) { g_windowHost = host; }

bool MessageBoxHasCancel(unsigned type) { return (type & MB_TYPEMASK) == MB_OKCANCEL; }

BoxIcon MessageBoxIconOf(unsigned type)
{
    switch (type & MB_ICONMASK) {
    case MB_ICONINFORMATION:
        return BoxIcon::Information;
    case MB_ICONWARNING:
        return BoxIcon::Warning;
    case MB_ICONERROR:
        return BoxIcon::Error;
    case MB_ICONQUESTION:
        return BoxIcon::Question;
    default:
        return BoxIcon::None;
    }
}

std::u16string CMFCEditBrowseCtrl::InitialFolder(std::u16string_view text)
{
    const size_t last = text.rfind(px::kPathSeparator);
    if (last == std::u16string_view::npos)
        return {};
    size_t end = last;
    while (end > 0 && text[end - 1] == px::kPathSeparator)
        --end;
    // Without its separator a root would name no folder ("") or the drive's current one ("C:").
    if (end == 0 || text[end - 1] == u':')
        return std::u16string(text.substr(0, end + 1));
    return std::u16string(text.substr(0, end));
}

CDialogEx::CDialogEx(int templateId, CDialogEx* parent)
    : m_nIDTemplate(templateId)
    , m_pParentWnd(parent)
{
}

CDialogEx::~CDialogEx() = default;

int CDialogEx::DoModal()
{
    WindowHost* host = GetWindowHost();
    if (!host)
        return -1;
    CDialogEx* owner = m_pParentWnd ? m_pParentWnd : (g_running.empty() ? nullptr : g_running.back());
    g_running.push_back(this);
    const int result = host->RunModal(*this, owner ? owner->GetWindow() : nullptr);
    g_running.erase(std::find(g_running.begin(), g_running.end(), this));
    return result;
}

bool CDialogEx::OnInitDialog()
{
    DoDataExchange();
    return true;
}

std::u16string CDialogEx::ApplicationName()
{
    const std::u16string path = GetSystem().GetModuleFileName();
    const size_t separator = path.rfind(px::kPathSeparator);
    std::u16string name = separator == std::u16string::npos ? path : path.substr(separator + 1);
    const size_t dot = name.rfind(u'.');
    if (dot != std::u16string::npos && dot > 0)
        name.resize(dot);
    return name;
}

MessageResult CDialogEx::WindowProc(unsigned message, uintptr_t wParam, intptr_t lParam)
{
    // Nested modal loops dispatch while a handler runs: each message keeps its own answer.
    const bool outer = m_bLeftToPlatform;
    m_bLeftToPlatform = false;
    MessageResult result = Dispatch(message, wParam, lParam);
    if (m_bLeftToPlatform)
        result.handled = false;
    m_bLeftToPlatform = outer;
    return result;
}

MessageResult CDialogEx::Dispatch(unsigned message, uintptr_t wParam, intptr_t lParam)
{
    switch (message) {
    case WM_COMMAND: {
        const int id = static_cast<int>(wParam & 0xFFFF);
        const int code = static_cast<int>((wParam >> 16) & 0xFFFF);
        if (OnCommand(id, code))
            return {true, 0};
        if (code == BN_CLICKED && id == IDOK)
            OnOK();
        else if (code == BN_CLICKED && id == IDCANCEL)
            OnCancel();
        else
            return {false, 0};
        return {true, 0};
    }
    case WM_TIMER:
        HandleTimer(wParam);
        return {true, 0};
    case WM_SYSCOMMAND:
        OnSysCommand(static_cast<unsigned>(wParam), lParam);
        return {true, 0};
    case WM_PAINT:
        OnPaint();
        return {true, 0};
    case WM_QUERYDRAGICON: {
        const IconId icon = OnQueryDragIcon();
        return {icon != 0, icon};
    }
    case WM_DESTROY:
        OnDestroy();
        // No icon outlives its window, whichever way the dialog ended.
        if (m_trayIcon)
            NotifyIconDelete(*m_trayIcon);
        return {false, 0};
    default:
        return {true, DefWindowProc(message, wParam, lParam)};
    }
}

void CDialogEx::HandleTimer(uintptr_t id)
{
    if (Contains(m_ticksInHandler, id)) {
        if (!Contains(m_ticksHeldBack, id))
            m_ticksHeldBack.push_back(id);
        return;
    }
    m_ticksInHandler.push_back(id);
    OnTimer(id);
    Erase(m_ticksInHandler, id);
    // However often it fell due meanwhile, the timer gets one tick for the time it missed.
    if (Contains(m_ticksHeldBack, id)) {
        Erase(m_ticksHeldBack, id);
        if (m_pWnd)
            m_pWnd->PostMessage(WM_TIMER, id, 0);
    }
}

void CDialogEx::SetTimer(uintptr_t id, uint32_t elapseMs)
{
    Erase(m_ticksHeldBack, id);
    if (m_pWnd)
        m_pWnd->SetTimer(id, elapseMs);
}

void CDialogEx::KillTimer(uintptr_t id)
{
    Erase(m_ticksHeldBack, id);
    if (m_pWnd)
        m_pWnd->KillTimer(id);
}

int CDialogEx::MessageBox(const std::u16string& text, const std::optional<std::u16string>& caption, unsigned type)
{
    if (!m_pWnd)
        return IDCANCEL;
    return m_pWnd->MessageBox(text, caption ? *caption : ApplicationName(), type);
}

bool CDialogEx::AppendWindowMenuItem(const std::u16string& text, unsigned commandId)
{
    if (!m_pWnd)
        return false;
    if (m_pWnd->HasSystemMenu())
        return m_pWnd->AppendSystemMenuItem(text, commandId);
    return m_pWnd->AppendContextMenuItem(text, commandId);
}

bool CDialogEx::NotifyIconAdd(const NotifyIconData& nid)
{
    if (!m_pWnd || !m_pWnd->NotifyIconAdd(nid))
        return false;
    m_trayIcon = nid;
    return true;
}

bool CDialogEx::NotifyIconDelete(const NotifyIconData& nid)
{
    // nid may be the record itself: it goes once the host is done with it.
    const bool removed = m_pWnd && m_pWnd->NotifyIconDelete(nid);
    m_trayIcon.reset();
    return removed;
}

void CDialogEx::NotifyIconSetTip(const NotifyIconData& nid)
{
    if (!m_trayIcon)
        return;
    m_trayIcon->szTip = nid.szTip;
    if (m_pWnd)
        m_pWnd->NotifyIconSetTip(*m_trayIcon);
}

bool CDialogEx::NotifyIconShowInfo(const std::u16string& title, const std::u16string& text)
{
    if (!m_trayIcon || !m_pWnd)
        return false;
    NotifyIconData info = *m_trayIcon;
    info.uFlags = NIF_INFO;
    info.szInfoTitle = title;
    info.szInfo = text;
    return m_pWnd->NotifyIconShowInfo(info);
}

void CDialogEx::OnTrayReturned()
{
    if (m_trayIcon && m_pWnd)
        m_pWnd->NotifyIconAdd(*m_trayIcon);
}

std::u16string CDialogEx::GetDlgItemText(int id) const
{
    return m_pWnd ? m_pWnd->GetDlgItemText(id) : std::u16string();
}

bool CDialogEx::OnCommand(int, int) { return false; }
void CDialogEx::OnOK() { EndDialog(IDOK); }
void CDialogEx::OnCancel() { EndDialog(IDCANCEL); }
void CDialogEx::OnTimer(uintptr_t) { }
void CDialogEx::OnSysCommand(unsigned id, intptr_t lParam) { DefWindowProc(WM_SYSCOMMAND, id, lParam); }
void CDialogEx::OnPaint() { DefWindowProc(WM_PAINT, 0, 0); }
IconId CDialogEx::OnQueryDragIcon() { return 0; }

intptr_t CDialogEx::DefWindowProc(unsigned, uintptr_t, intptr_t)
{
    m_bLeftToPlatform = true;
    return 0;
}
