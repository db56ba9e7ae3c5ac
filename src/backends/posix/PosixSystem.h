#pragma once
// The system services on Linux: processes from /proc, launching through fork and exec (the
// desktop's xdg-open for documents, /bin/sh for command lines), windows and keys on X11.

#include "backends/posix/X11Desktop.h"
#include "platform/System.h"

class PosixSystem : public System {
public:
    bool EnumerateProcesses(ProcessDetail detail, const std::function<bool(const ProcessEntry&)>& visit) override;
    // Only the kernel name is quick, and it is cut at 15 bytes and may differ from the
    // executable's and argv[0]'s names.
    bool QuickNamesAreComplete() const override { return false; }
    // SIGKILL, which cannot be caught. Never pid 0, a pid that would name a process group, or this process.
    bool TerminateProcess(uint32_t pid) override;

    intptr_t ShellOpen(const std::u16string& file, const std::u16string* parameters,
        std::optional<LaunchedProcess>* launched) override;
    // A pid alone could name another process once the launched one has ended: the process's
    // start time (in /proc) tells them apart.
    bool IsAlive(const LaunchedProcess& process) override;
    void Release(const LaunchedProcess&) override { }
    bool IsExecutableProgram(const std::u16string& path) override;
    std::optional<int> RunScript(const std::u16string& path) override;

    std::vector<TopWindow> FindTopWindows(const std::u16string& title) override;
    bool BringToFront(ForeignWindow window) override;
    void PressSpaceKey() override;

    SystemTime GetLocalTime() override;
    int64_t GetSteadyMs() override;
    std::u16string GetModuleFileName() override;

private:
    px::posix::X11Desktop m_desktop;
    uint32_t m_lastQuickStop = 0;  // the process the last quick scan stopped at
};
