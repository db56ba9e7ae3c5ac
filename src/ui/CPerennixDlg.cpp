// The main dialog's construction, initialisation, message map and window handlers.

#include "ui/CPerennixDlg.h"

#include <array>
#include <utility>

#include "base/DecimalText.h"
#include "base/Paths.h"
#include "log/LogEntry.h"
#include "resources/DialogTemplates.h"
#include "resources/Resource.h"
#include "ui/CAboutDlg.h"
#include "ui/CSettingsDlg.h"

namespace {
// The size the platform's tray record has; kept so the record reads as the shell expects.
constexpr uint32_t kNotifyIconDataSize = 956;

// The settings controls locked while guarding runs, in the order they are switched.
constexpr std::array<int, 7> kGuardLockedControls
    = {IDC_FULLPATH, IDC_EXENAME, IDC_LOOPSEC, IDC_TIMEDCLOSE, IDC_REBTIME, IDC_ARGS, IDC_ARGSCRYPT};
}  // namespace

std::u16string SignalName(intptr_t number)
{
    // The termination signals by their Linux numbers, which the log names as a user knows them.
    switch (number) {
    case 1:
        return u"SIGHUP";
    case 2:
        return u"SIGINT";
    case 15:
        return u"SIGTERM";
    default:
        return px::IToW(static_cast<int32_t>(number));
    }
}

IconPoint MinimizedIconPosition(ClientSize client, ClientSize icon)
{
    return {(client.cx - icon.cx + 1) / 2, (client.cy - icon.cy + 1) / 2};
}

CPerennixDlg::CPerennixDlg(CDialogEx* parent)
    : CDialogEx(IDD_MAIN, parent)
    , m_hIcon(IDR_MAINFRAME)
{
}

CPerennixDlg::~CPerennixDlg() = default;

void CPerennixDlg::DoDataExchange()
{
    CDialogEx::DoDataExchange();
    m_editRebTime.Bind(m_pWnd, IDC_REBTIME);
    m_chkTimedClose.Bind(m_pWnd, IDC_TIMEDCLOSE);
    m_chkArgsCrypt.Bind(m_pWnd, IDC_ARGSCRYPT);
    m_editArgs.Bind(m_pWnd, IDC_ARGS);
    m_editFullPath.Bind(m_pWnd, IDC_FULLPATH);
}

bool CPerennixDlg::OnInitDialog()
{
    CDialogEx::OnInitDialog();

    // The path edit browses for files: the host builds it that way from the template.

    // 高级设置 and About where the platform keeps a window's own commands: its system menu,
    // or the window's context menu where the desktop's window menu cannot be extended.
    for (const auto& [textId, commandId] :
        {std::pair{IDS_SETTINGS, IDM_SETTINGS}, std::pair{IDS_ABOUTBOX, IDM_ABOUTBOX}}) {
        const std::u16string_view text = LoadStringResource(textId);
        if (!text.empty())
            AppendWindowMenuItem(std::u16string(text), commandId);
    }

    m_pWnd->SetIcon(m_hIcon, true);
    m_pWnd->SetIcon(m_hIcon, false);

    // The tray record; the icon itself exists only while the window is hidden.
    m_nid.cbSize = kNotifyIconDataSize;
    m_nid.hWnd = m_pWnd;
    m_nid.szTip = u"Perennix";
    m_nid.uCallbackMessage = WM_TRAYNOTIFY;
    m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_nid.hIcon = m_hIcon;
    m_nid.uID = IDR_MAINFRAME;

    LoadSettings();
    // A folder where nothing can be saved: said at once, and guarding runs all the same.
    if (m_dataFolder && !m_dataFolder->problem.empty())
        MessageBox(m_dataFolder->problem, std::u16string(u"提示"), MB_OK | MB_ICONWARNING);

    WriteLogEntry(logtext::kInitDone);
    return true;
}

bool CPerennixDlg::OnCommand(int id, int code)
{
    if (code == EN_CHANGE) {
        if (id == IDC_FULLPATH) {
            OnEnChangeFullPath();
            return true;
        }
        return false;
    }
    if (code != BN_CLICKED)
        return false;
    switch (id) {
    case static_cast<int>(ID_TRAY_EXIT):
        OnTrayExit();
        return true;
    case static_cast<int>(ID_TRAY_SHOWHIDE):
        OnTrayShowHide();
        return true;
    case static_cast<int>(ID_TRAY_SETTINGS):
        OnSettings();
        return true;
    case IDC_START:
        OnBnClickedStart();
        return true;
    case IDC_HIDE:
        OnBnClickedHide();
        return true;
    case IDC_TIMEDCLOSE:
        OnBnClickedTimedClose();
        return true;
    case IDC_AUTOSTART:
        OnBnClickedAutoStart();
        return true;
    case IDC_ARGSCRYPT:
        OnBnClickedArgsCrypt();
        return true;
    case IDC_SAVE:
        OnBnClickedSave();
        return true;
    default:
        return false;
    }
}

void CPerennixDlg::OnSysCommand(unsigned nID, intptr_t lParam)
{
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout(
            m_dataFolder ? m_dataFolder->path : px::PathBesideModule(GetSystem().GetModuleFileName(), u""));
        dlgAbout.DoModal();
        return;
    }
    if ((nID & 0xFFF0) == IDM_SETTINGS) {
        OnSettings();
        return;
    }
    CDialogEx::OnSysCommand(nID, lParam);
}

void CPerennixDlg::OnPaint()
{
    if (!m_pWnd->IsIconic()) {
        CDialogEx::OnPaint();
        return;
    }
    const IconPoint at = MinimizedIconPosition(m_pWnd->GetClientSize(), m_pWnd->GetSystemIconSize());
    m_pWnd->DrawIcon(at.x, at.y, m_hIcon);
}

IconId CPerennixDlg::OnQueryDragIcon() { return m_hIcon; }

void CPerennixDlg::OnBnClickedHide()
{
    if (!m_pWnd->IsWindowVisible())
        return;
    HideIntoTray();
}

void CPerennixDlg::HideIntoTray()
{
    // The icon is added before the window hides. Where the shell takes no icon (no tray on
    // this desktop, or none running), a hidden window could never be reached again: it is
    // minimised instead and keeps its taskbar button. So the dialog has an icon exactly while
    // its window is hidden into the tray, and only then adds it again to a tray that comes
    // back (CDialogEx::OnTrayReturned).
    const bool added = NotifyIconAdd(m_nid);
    m_pWnd->ShowWindow(added ? SW_HIDE : SW_MINIMIZE);
}

void CPerennixDlg::RemoveTrayIcon()
{
    if (HasTrayIcon())
        NotifyIconDelete(m_nid);
}

void CPerennixDlg::OnDestroy()
{
    // However the dialog ends, no icon is left behind in the tray (CDialogEx removes it with
    // the window), nor a process handle.
    m_guard.Shutdown();
}

void CPerennixDlg::OnBnClickedTimedClose() { m_editRebTime.EnableWindow(m_chkTimedClose.GetCheck() == 1); }

void CPerennixDlg::OnEnChangeFullPath()
{
    m_strPathText = m_editFullPath.GetWindowText();
    const size_t pos = m_strPathText.rfind(px::kPathSeparator);
    // A path with no separator, or whose only separator is its first character, names no
    // file to take the image name from.
    if (pos != std::u16string::npos && pos > 0)
        m_pWnd->SetDlgItemText(IDC_EXENAME, m_strPathText.substr(pos + 1));
}

intptr_t CPerennixDlg::DefWindowProc(unsigned message, uintptr_t wParam, intptr_t lParam)
{
    // The tray icon's callback: only the right button's press opens the menu.
    if (message == WM_TRAYNOTIFY && lParam == WM_RBUTTONDOWN)
        OpenTrayMenu();
    else if (message == WM_SHOWINSTANCE)
        OnShowInstance();
    else if (message == WM_ENDREQUEST)
        OnEndRequest(wParam, lParam);
    return CDialogEx::DefWindowProc(message, wParam, lParam);
}

void CPerennixDlg::OpenTrayMenu()
{
    const std::vector<MenuItem> menu = {
        {u"显示/隐藏", ID_TRAY_SHOWHIDE, false},
        {std::u16string(LoadStringResource(IDS_SETTINGS)), ID_TRAY_SETTINGS, false},
        {u"", 0, true},
        {u"退出程序", ID_TRAY_EXIT, false},
    };
    m_pWnd->TrackPopupMenu(menu);
}

void CPerennixDlg::OnSettings()
{
    CSettingsDlg dlgSettings(this, m_strIniPath, m_guard.IsGuarding());
    dlgSettings.DoModal();
}

void CPerennixDlg::OnTrayShowHide()
{
    // The icon is removed only after the window shows again, so there is never a moment
    // with neither.
    if (m_pWnd->IsWindowVisible()) {
        HideIntoTray();
    } else {
        m_pWnd->ShowWindow(SW_SHOW);
        RemoveTrayIcon();
    }
}

void CPerennixDlg::OnShowInstance()
{
    // As the tray menu shows a hidden window: the window first, then the icon goes.
    if (!m_pWnd->IsWindowVisible()) {
        m_pWnd->ShowWindow(SW_SHOW);
        RemoveTrayIcon();
    } else {
        m_pWnd->ShowWindow(m_pWnd->IsIconic() ? SW_RESTORE : SW_SHOW);
    }
}

void CPerennixDlg::OnTrayExit()
{
    if (MessageBox(u"确定退出？", std::u16string(u"退出"), MB_OKCANCEL) != IDOK)
        return;
    EndProgram(IDCANCEL, logtext::kEndConfirmed);
}

void CPerennixDlg::OnOK()
{
    // Enter in a field is the dialog's OK command. While guarding, a stray Enter must not
    // leave the program unguarded without a word: it asks as the tray's exit does.
    if (!m_guard.IsGuarding()) {
        EndProgram(IDOK, logtext::kEndWindowClosed);
        return;
    }
    if (MessageBox(u"确定退出？", std::u16string(u"退出"), MB_OKCANCEL) != IDOK)
        return;
    EndProgram(IDOK, logtext::kEndConfirmed);
}

void CPerennixDlg::OnCancel() { EndProgram(IDCANCEL, logtext::kEndWindowClosed); }

void CPerennixDlg::OnEndRequest(uintptr_t cause, intptr_t detail)
{
    switch (cause) {
    case END_CAUSE_SIGNAL:
        EndProgram(IDCANCEL, logtext::kEndSignal, SignalName(detail));
        break;
    case END_CAUSE_SESSION:
        EndProgram(IDCANCEL, logtext::kEndSession);
        break;
    case END_CAUSE_DISPLAY_LOST:
        EndProgram(IDCANCEL, logtext::kEndDisplayLost);
        break;
    default:
        break;
    }
}

void CPerennixDlg::EndProgram(int result, const char* logMessage, std::u16string_view detail)
{
    // Every way out is in the run log: a log that ends at the last launch would not tell
    // whether the watchdog was closed, killed or lost its desktop.
    if (detail.empty())
        WriteLogEntry(logMessage);
    else
        WriteLogEntry(logMessage, detail);
    RemoveTrayIcon();
    EndDialog(result);
}

void CPerennixDlg::OnTimer(uintptr_t nIDEvent) { m_guard.OnTimer(nIDEvent); }

void CPerennixDlg::OnBnClickedStart()
{
    if (!m_guard.IsGuarding())
        StartGuarding();
    else
        m_guard.StopAfterAsking();
}

void CPerennixDlg::StartGuarding()
{
    // A program started with start-on-launch set never asks during that run.
    const bool atLaunch = m_bStartAtLaunchPending;
    m_bStartAtLaunchPending = false;
    m_guard.Start(!m_bAutoStart, atLaunch);
}

void CPerennixDlg::StopGuarding(const std::u16string& statusText) { m_guard.Stop(statusText); }

void CPerennixDlg::CheckRestartSoon() { m_guard.CheckRestartSoon(); }

void CPerennixDlg::SetGuardControlsEnabled(bool enable)
{
    for (int id : kGuardLockedControls)
        m_pWnd->EnableDlgItem(id, enable);
}

std::u16string CPerennixDlg::StatusText() { return GetDlgItemText(IDC_STATUS); }

void CPerennixDlg::SetStatusText(const std::u16string& text) { m_pWnd->SetDlgItemText(IDC_STATUS, text); }

void CPerennixDlg::SetStartCaption(const std::u16string& text) { m_pWnd->SetDlgItemText(IDC_START, text); }

void CPerennixDlg::EnableSettingsControls(bool enable) { SetGuardControlsEnabled(enable); }

bool CPerennixDlg::Ask(const std::u16string& question)
{
    return MessageBox(question, std::u16string(u"提示"), MB_OKCANCEL) == IDOK;
}

std::optional<GuardConfig> CPerennixDlg::SaveSettingsForStart()
{
    SavedSettings saved = SaveSettingsToFile();
    if (saved.outcome == SaveOutcome::Refused)
        return std::nullopt;
    return std::move(saved.config);
}

void CPerennixDlg::ArmTimer(unsigned id, uint32_t elapseMs) { SetTimer(id, elapseMs); }

void CPerennixDlg::CancelTimer(unsigned id) { KillTimer(id); }

void CPerennixDlg::PostTimerTick(unsigned id) { m_pWnd->PostMessage(WM_TIMER, id, 0); }

void CPerennixDlg::ShowTrayStatus(const std::u16string& text)
{
    m_nid.szTip = text.empty() ? u"Perennix" : u"Perennix - " + text;
    NotifyIconSetTip(m_nid);
}

void CPerennixDlg::Notify(const std::u16string& title, const std::u16string& text)
{
    // Shown from the tray icon, which is there while the window is hidden into the tray; an
    // open window says the same in its status line.
    NotifyIconShowInfo(title, text);
}
