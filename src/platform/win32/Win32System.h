#pragma once
// The system services on Windows: the Toolhelp process snapshot, OpenProcess and
// TerminateProcess, the shell's open verb (ShellExecuteW), the command interpreter (_wsystem),
// FindWindowW, SetForegroundWindow and keybd_event, GetLocalTime and GetModuleFileNameW.

#include "platform/System.h"

class Win32System : public System {
public:
    bool EnumerateProcesses(ProcessDetail detail, const std::function<bool(const ProcessEntry&)>& visit) override;
    // The snapshot carries each process's image file name whole.
    bool QuickNamesAreComplete() const override { return true; }
    // Never pid 0 (the idle process) or this process.
    bool TerminateProcess(uint32_t pid) override;

    // ShellExecuteExW: the process it started comes back as a handle, which the launched
    // process keeps until it is released.
    intptr_t ShellOpen(const std::u16string& file, const std::u16string* parameters,
        std::optional<LaunchedProcess>* launched) override;
    bool IsAlive(const LaunchedProcess& process) override;
    void Release(const LaunchedProcess& process) override;
    // Windows knows a program by its name alone.
    bool IsExecutableProgram(const std::u16string&) override { return false; }
    // cmd /c with the path quoted as one word.
    std::optional<int> RunScript(const std::u16string& path) override;

    // Every top-level window of that title: its class (GetClassNameW), whether it is a dialog
    // (the dialog class "#32770" or a window with a modal dialog frame), and its process.
    std::vector<TopWindow> FindTopWindows(const std::u16string& title) override;
    // True when the window is the foreground window afterwards: Windows may refuse the change.
    bool BringToFront(ForeignWindow window) override;
    void PressSpaceKey() override;

    SystemTime GetLocalTime() override;
    std::u16string GetModuleFileName() override;
};
