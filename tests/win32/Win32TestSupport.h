#pragma once
// Real processes and reports for the tests of the Windows back end.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pxtest {

// The test program px_winhelper.exe, built beside the test executable.
std::filesystem::path HelperPath();

// A program the test started (CreateProcessW); ended and waited for when it goes out of scope.
class StartedProcess {
public:
    StartedProcess(const std::filesystem::path& program, const std::wstring& arguments);
    ~StartedProcess();
    StartedProcess(const StartedProcess&) = delete;
    StartedProcess& operator=(const StartedProcess&) = delete;

    bool Started() const { return m_process != nullptr; }
    uint32_t Pid() const { return m_pid; }
    // Its exit code once it has ended within timeoutMs; nullopt while it still runs.
    std::optional<uint32_t> WaitForExit(int timeoutMs);

private:
    void* m_process = nullptr;
    uint32_t m_pid = 0;
};

// Polls condition every 10 ms until it holds or timeoutMs has passed.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

// The lines of a helper's report once it exists (within timeoutMs), as UTF-16 text.
std::optional<std::vector<std::u16string>> WaitForReport(const std::filesystem::path& path, int timeoutMs = 10000);

// path as a command-line word: quoted when it holds a space.
std::wstring Quoted(const std::filesystem::path& path);

}  // namespace pxtest
