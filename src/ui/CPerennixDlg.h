#pragma once
// The main dialog: owns the main window's record of the settings, the guard engine, the bound
// controls and the tray record. It shows the engine's state and forwards the user's acts and
// the guard timers' ticks to it; its settings handlers are in CPerennixDlgSettings.cpp. The
// config guarding uses is the engine's (Guard().Config()), built at each start from the
// window's fields and the stored settings.

#include <cstdint>
#include <optional>
#include <string>

#include "guard/GuardEngine.h"
#include "guard/RestartSchedule.h"
#include "platform/System.h"
#include "platform/Window.h"
#include "settings/DataFolder.h"
#include "settings/GuardConfig.h"
#include "settings/MainWindowSettings.h"
#include "settings/SettingsSave.h"

struct IconPoint {
    int x = 0;
    int y = 0;
};
// The name the run log gives a termination signal: SIGHUP, SIGINT, SIGTERM, else its number.
std::u16string SignalName(intptr_t number);

// Where the icon is drawn in a minimised window's client area: centred, rounding as the
// signed integer arithmetic of the original drawing code does.
IconPoint MinimizedIconPosition(ClientSize client, ClientSize icon);

class CPerennixDlg : public CDialogEx, private GuardView {
public:
    explicit CPerennixDlg(CDialogEx* parent = nullptr);
    ~CPerennixDlg() override;

    bool OnInitDialog() override;
    // Where config.ini is kept (before the dialog runs; by default beside the program).
    void SetDataFolder(const DataFolder& folder) { m_dataFolder = folder; }

    // Read access for the hosts and for tests. Config(): the main window's record, as loaded
    // or last taken from its fields.
    const MainWindowSettings& Config() const { return m_record; }
    const RestartSchedule& Schedule() const { return m_guard.Schedule(); }
    const std::u16string& IniPath() const { return m_strIniPath; }
    bool IsGuarding() const { return m_guard.IsGuarding(); }
    bool IsRestartPending() const { return m_guard.IsRestartPending(); }
    GuardEngine& Guard() { return m_guard; }
    bool IsAutoStart() const { return m_bAutoStart; }
    const NotifyIconData& TrayRecord() const { return m_nid; }

    // Settings
    void LoadSettings();
    bool SaveSettings();
    void OnBnClickedSave();
    void OnBnClickedAutoStart();
    void OnBnClickedArgsCrypt();

    // Guarding, decided by the guard engine
    void OnBnClickedStart();
    void StartGuarding();
    void StopGuarding(const std::u16string& statusText);
    void SetGuardControlsEnabled(bool enable);
    void CheckRestartSoon();

    // Window and tray
    void OnBnClickedHide();
    void OnBnClickedTimedClose();
    void OnEnChangeFullPath();
    void OnTrayShowHide();
    void OnTrayExit();
    // 高级设置, from the window's menu or the tray's.
    void OnSettings();
    // A later start in this folder asked for the window.
    void OnShowInstance();
    // The system asked the program to end (a signal, the end of the session, the display gone).
    void OnEndRequest(uintptr_t cause, intptr_t detail);

protected:
    void DoDataExchange() override;
    bool OnCommand(int id, int code) override;
    // Enter in a field: while guarding, ends only after the user confirms.
    void OnOK() override;
    // Esc, the close box and "关闭".
    void OnCancel() override;
    void OnTimer(uintptr_t nIDEvent) override;
    void OnSysCommand(unsigned nID, intptr_t lParam) override;
    void OnPaint() override;
    IconId OnQueryDragIcon() override;
    void OnDestroy() override;
    intptr_t DefWindowProc(unsigned message, uintptr_t wParam, intptr_t lParam) override;

private:
    // What the guard engine shows and asks through this window.
    std::u16string StatusText() override;
    void SetStatusText(const std::u16string& text) override;
    void SetStartCaption(const std::u16string& text) override;
    void EnableSettingsControls(bool enable) override;
    bool Ask(const std::u16string& question) override;
    std::optional<GuardConfig> SaveSettingsForStart() override;
    void ArmTimer(unsigned id, uint32_t elapseMs) override;
    void CancelTimer(unsigned id) override;
    void PostTimerTick(unsigned id) override;
    void ShowTrayStatus(const std::u16string& text) override;
    void Notify(const std::u16string& title, const std::u16string& text) override;

    // Takes the fields into the record and, unless a value is refused, writes the main
    // window's keys; gives the config to guard with (the stored settings and the record).
    SavedSettings SaveSettingsToFile();
    // After a save: names the restart times that will not fire as written.
    void WarnOfMalformedRestartTimes();
    void OpenTrayMenu();
    // Logs how the program ends, removes the tray icon and ends the dialog with result.
    void EndProgram(int result, const char* logMessage, std::u16string_view detail = {});
    void HideIntoTray();
    void RemoveTrayIcon();

    IconId m_hIcon;
    std::u16string m_strIniPath;
    MainWindowSettings m_record;
    GuardEngine m_guard{*this};
    bool m_bAutoStart = false;
    CEdit m_editRebTime;
    CButton m_chkTimedClose;
    CButton m_chkArgsCrypt;
    CEdit m_editArgs;
    NotifyIconData m_nid;
    CMFCEditBrowseCtrl m_editFullPath;
    std::u16string m_strPathText;
    bool m_bStartAtLaunchPending = false;
    std::optional<DataFolder> m_dataFolder;  // the start that start-on-launch posted has not run yet
};
