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

    intptr_t ShellOpen(const std::u16string& file, const std::u16string* parameters) override;
    // Windows knows a program by its name alone.
    bool IsExecutableProgram(const std::u16string&) override { return false; }
    int RunCommandLine(const std::u16string& commandLine) override;

    std::optional<ForeignWindow> FindTopWindow(const std::u16string& windowClass, const std::u16string& title) override;
    // True when the window is the foreground window afterwards: Windows may refuse the change.
    bool BringToFront(ForeignWindow window) override;
    void PressSpaceKey() override;

    SystemTime GetLocalTime() override;
    std::u16string GetModuleFileName() override;
};
