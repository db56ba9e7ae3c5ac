#pragma once
// The main dialog: owns the settings, the restart schedule, the guard flags, the bound
// controls and the tray record. Its guard handlers live in guard/, its settings handlers in
// settings/, its window handlers in ui/.

#include <cstdint>
#include <optional>
#include <string>

#include "guard/RestartSchedule.h"
#include "platform/System.h"
#include "platform/Window.h"
#include "settings/GuardConfig.h"
#include "settings/SettingsSave.h"

struct IconPoint {
    int x = 0;
    int y = 0;
};
// Where the icon is drawn in a minimised window's client area: centred, rounding as the
// signed integer arithmetic of the original drawing code does.
IconPoint MinimizedIconPosition(ClientSize client, ClientSize icon);

class CPerennixDlg : public CDialogEx {
public:
    explicit CPerennixDlg(CDialogEx* parent = nullptr);
    ~CPerennixDlg() override;

    bool OnInitDialog() override;

    // Read access for the hosts and for tests.
    const GuardConfig& Config() const { return m_config; }
    const RestartSchedule& Schedule() const { return m_schedule; }
    const std::u16string& IniPath() const { return m_strIniPath; }
    bool IsGuarding() const { return m_bGuarding; }
    bool IsRestartPending() const { return m_bRestartPending; }
    bool IsAutoStart() const { return m_bAutoStart; }
    const NotifyIconData& TrayRecord() const { return m_nid; }

    // Settings (settings/)
    void LoadSettings();
    bool SaveSettings();
    void OnBnClickedSave();
    void OnBnClickedAutoStart();
    void OnBnClickedArgsCrypt();

    // Guarding (guard/)
    void OnBnClickedStart();
    void StartGuarding();
    void StopGuarding(const std::u16string& statusText);
    void SetGuardControlsEnabled(bool enable);
    void CheckRestartSoon();
    void FireDueRestart();
    bool IsProcessRunning(const std::u16string& imageName);
    bool TerminateProcessesByName(const std::u16string& imageName);

    // Window and tray (ui/)
    void OnBnClickedHide();
    void OnBnClickedTimedClose();
    void OnEnChangeFullPath();
    void OnTrayShowHide();
    void OnTrayExit();
    // A later start in this folder asked for the window.
    void OnShowInstance();

protected:
    void DoDataExchange() override;
    bool OnCommand(int id, int code) override;
    void OnTimer(uintptr_t nIDEvent) override;
    void OnSysCommand(unsigned nID, intptr_t lParam) override;
    void OnPaint() override;
    IconId OnQueryDragIcon() override;
    void OnDestroy() override;
    intptr_t DefWindowProc(unsigned message, uintptr_t wParam, intptr_t lParam) override;

private:
    void GuardedCheck(uintptr_t nIDEvent);
    void ShowStatus(const std::u16string& text);
    // Launches the program; false when that failed and guarding has stopped.
    bool LaunchProgram();
    void StopLaunchFailed();
    void ForgetLaunchedProcess();
    void ConfirmGatewayDialog();
    // Fires the restarts whose times the wall clock jumped over since jumpedFrom (none: it did
    // not jump); true when one fired.
    bool FireJumpedOverRestarts(std::optional<int32_t> jumpedFrom, int32_t minuteNow, int32_t dayNow);
    void FireRestart(RestartEntry& entry, int32_t dayNow);
    SaveOutcome SaveSettingsToFile();
    void OpenTrayMenu();
    void HideIntoTray();
    void RemoveTrayIcon();

    IconId m_hIcon;
    std::u16string m_strIniPath;
    GuardConfig m_config;
    RestartSchedule m_schedule;
    bool m_bRestartPending = false;
    bool m_bGuarding = false;
    bool m_bAutoStart = false;
    CEdit m_editRebTime;
    CButton m_chkTimedClose;
    CButton m_chkArgsCrypt;
    CEdit m_editArgs;
    NotifyIconData m_nid;
    CMFCEditBrowseCtrl m_editFullPath;
    std::u16string m_strPathText;
    bool m_bTrayIconShown = false;  // the shell took the icon and it has not been removed since
    bool m_bStartAtLaunchPending = false;  // the start that start-on-launch posted has not run yet
    std::optional<LaunchedProcess> m_launched;  // what the last launch started, when the system knows it
    std::optional<ClockReading> m_lastClockLook;  // the clocks at the schedule's last look
};
