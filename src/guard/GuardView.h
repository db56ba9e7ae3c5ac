#pragma once
// The guard engine's port to the window that shows it: the status line, the start button's
// caption, questions, the guard's timers, the tray icon's tooltip and notifications.

#include <cstdint>
#include <optional>
#include <string>

#include "settings/GuardConfig.h"

// What the engine needs of the window that shows it.
class GuardView {
public:
    virtual ~GuardView() = default;

    // The status line.
    virtual std::u16string StatusText() = 0;
    virtual void SetStatusText(const std::u16string& text) = 0;
    // The caption of the button that starts and stops guarding.
    virtual void SetStartCaption(const std::u16string& text) = 0;
    // Unlocks (true) or locks the controls of the settings guarding runs with.
    virtual void EnableSettingsControls(bool enable) = 0;
    // An OK/Cancel question titled "提示"; true when the user chose OK.
    virtual bool Ask(const std::u16string& question) = 0;
    // Takes the settings from the window and saves them; the settings to guard with, or none
    // when the save refused them (the window has told the user why).
    virtual std::optional<GuardConfig> SaveSettingsForStart() = 0;
    // The window's guard timers: armed (re-arming restarts the count), cancelled, and a tick
    // queued to arrive as soon as the current handler has returned.
    virtual void ArmTimer(unsigned id, uint32_t elapseMs) = 0;
    virtual void CancelTimer(unsigned id) = 0;
    virtual void PostTimerTick(unsigned id) = 0;
    // What the tray icon's tooltip says after "Perennix - ": the back-off's wait while it runs
    // ("等待 8 秒后重启（第 3 次）"), else the health the probes found ("健康", "探测失败 2/3");
    // empty when there is nothing to say.
    virtual void ShowTrayStatus(const std::u16string& text) = 0;
    // A notification from the tray icon: a title and a text. The engine has decided it is due
    // (one a minute at most); the window shows it where its icon is.
    virtual void Notify(const std::u16string& title, const std::u16string& text) = 0;
};
