#pragma once
// The Windows window host on a real desktop (Wine's, when cross-built): a host per test with
// the program's own resources, and helpers that act inside the modal loops the way a user
// would, from a thread timer that every loop of the thread dispatches.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ProbeDialog.h"
#include "backends/win32/Win32DialogWindow.h"
#include "backends/win32/Win32System.h"
#include "backends/win32/Win32WindowHost.h"
#include "backends/win32/WinPrelude.h"

namespace wintest {

using hosttest::Command;
using hosttest::Message;
using hosttest::ProbeDialog;

// Runs act once ready() holds, checked every few milliseconds from whichever message loop
// runs then (a dialog's, a message box's, a menu's, the file dialog's).
void When(std::function<bool()> ready, std::function<void()> act);
// Runs act as soon as the next message loop runs.
void Soon(std::function<void()> act);
// Lets the thread's messages be dispatched for ms (timers keep firing).
void Pause(int ms);

// Perennix.exe's module (built beside the tests), loaded for its resources.
HINSTANCE ProgramResources();
std::wstring ClassOf(HWND window);
std::wstring TextOf(HWND window);
// The visible dialog-class window (a message box, the file dialog) owned by owner.
HWND OwnedDialog(HWND owner);

class Win32HostTest : public ::testing::Test {
protected:
    Win32HostTest();
    ~Win32HostTest() override;

    // The innermost open dialog window.
    Win32DialogWindow& Top() const { return *host.OpenWindows().back(); }

    Win32WindowHost host{ProgramResources()};
    Win32System system;

private:
    UINT_PTR m_failsafe = 0;
};

}  // namespace wintest
