#include "Win32TestSupport.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "backends/win32/WinPrelude.h"
#include "base/Unicode.h"

namespace pxtest {

std::filesystem::path HelperPath()
{
    wchar_t self[MAX_PATH * 4] = {};
    ::GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
    return std::filesystem::path(self).parent_path() / L"px_winhelper.exe";
}

StartedProcess::StartedProcess(const std::filesystem::path& program, const std::wstring& arguments)
{
    std::wstring commandLine = Quoted(program) + L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(
            program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return;
    ::CloseHandle(info.hThread);
    m_process = info.hProcess;
    m_pid = info.dwProcessId;
}

StartedProcess::~StartedProcess()
{
    if (!m_process)
        return;
    if (::WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(m_process, 1);
        ::WaitForSingleObject(m_process, 5000);
    }
    ::CloseHandle(m_process);
}

std::optional<uint32_t> StartedProcess::WaitForExit(int timeoutMs)
{
    if (!m_process || ::WaitForSingleObject(m_process, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(m_process, &code);
    return code;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::optional<std::vector<std::u16string>> WaitForReport(const std::filesystem::path& path, int timeoutMs)
{
    if (!WaitUntil([&] { return std::filesystem::exists(path); }, timeoutMs))
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::u16string> lines;
    std::istringstream text(bytes);
    for (std::string line; std::getline(text, line);)
        lines.push_back(px::FromUtf8(line));
    return lines;
}

std::wstring Quoted(const std::filesystem::path& path)
{
    const std::wstring text = path.wstring();
    return text.find(L' ') == std::wstring::npos ? text : L"\"" + text + L"\"";
}

}  // namespace pxtest
