#include "platform/Window.h"

namespace {
WindowHost* g_windowHost = nullptr;
}

WindowHost* GetWindowHost() { return g_windowHost; }
void SetWindowHost(WindowHost* host) { g_windowHost = host; }

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
    return host->RunModal(*this, m_pParentWnd ? m_pParentWnd->GetWindow() : nullptr);
}

bool CDialogEx::OnInitDialog()
{
    DoDataExchange();
    return true;
}

intptr_t CDialogEx::WindowProc(unsigned message, uintptr_t wParam, intptr_t lParam)
{
    switch (message) {
    case WM_COMMAND: {
        const int id = static_cast<int>(wParam & 0xFFFF);
        const int code = static_cast<int>((wParam >> 16) & 0xFFFF);
        if (OnCommand(id, code))
            return 0;
        if (code == BN_CLICKED && id == IDOK)
            OnOK();
        else if (code == BN_CLICKED && id == IDCANCEL)
            OnCancel();
        return 0;
    }
    case WM_TIMER:
        OnTimer(wParam);
        return 0;
    case WM_SYSCOMMAND:
        OnSysCommand(static_cast<unsigned>(wParam), lParam);
        return 0;
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_QUERYDRAGICON:
        return OnQueryDragIcon();
    default:
        return DefWindowProc(message, wParam, lParam);
    }
}

bool CDialogEx::OnCommand(int, int) { return false; }
void CDialogEx::OnOK() { EndDialog(IDOK); }
void CDialogEx::OnCancel() { EndDialog(IDCANCEL); }
void CDialogEx::OnTimer(uintptr_t) { }
void CDialogEx::OnSysCommand(unsigned id, intptr_t lParam) { DefWindowProc(WM_SYSCOMMAND, id, lParam); }
void CDialogEx::OnPaint() { }
IconId CDialogEx::OnQueryDragIcon() { return 0; }

intptr_t CDialogEx::DefWindowProc(unsigned message, uintptr_t wParam, intptr_t lParam)
{
    return m_pWnd ? m_pWnd->DefaultWindowProc(message, wParam, lParam) : 0;
}
