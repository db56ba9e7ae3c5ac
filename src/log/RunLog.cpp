#include "log/RunLog.h"

#include <filesystem>
#include <iostream>

#include "base/Paths.h"
#include "base/Unicode.h"

namespace {

// The file name as the platform's file streams take it, without any lossy conversion:
// UTF-16 where wchar_t is UTF-16 (Windows), UTF-8 bytes elsewhere.
std::filesystem::path NativePath(const std::u16string& path)
{
    if constexpr (sizeof(wchar_t) == sizeof(char16_t))
        return std::filesystem::path(std::wstring(path.begin(), path.end()));
    else
        return std::filesystem::path(px::ToUtf8(path));
}

}  // namespace

std::u16string LogPathForModule(const std::u16string& modulePath)
{
    return px::PathBesideModule(modulePath, u"log.txt");
}

std::string BannerLine(const char* buildDate, const char* buildTime)
{
    return std::string("---------") + (buildDate ? buildDate : "") + " " + (buildTime ? buildTime : "") + "-----------";
}

RunLog::~RunLog() { Close(); }

bool RunLog::Open(const std::u16string& path)
{
    Close();
    // Emptied first, then written in append mode: a log rotation that copies and truncates
    // the file (logrotate's copytruncate) leaves the next entry at its new start instead of
    // behind a hole. Binary: the stream writes the entries' CR LF exactly as given.
    std::ofstream(NativePath(path), std::ios::out | std::ios::trunc | std::ios::binary).close();
    m_ofsLog.open(NativePath(path), std::ios::out | std::ios::app | std::ios::binary);
    // Standard output goes to the file's buffer even when the open failed: an unopened
    // buffer takes nothing, so every log write is then dropped silently.
    m_previous = std::cout.rdbuf(m_ofsLog.rdbuf());
    m_redirected = true;
    return m_ofsLog.is_open();
}

void RunLog::WriteBanner(const char* buildDate, const char* buildTime)
{
    std::cout << BannerLine(buildDate, buildTime) << LOG_LINE_END << std::flush;
}

void RunLog::Close()
{
    if (m_redirected) {
        // Before the file's buffer goes away; giving the buffer back also clears the error
        // state that writes to an unopened log left behind.
        std::cout.rdbuf(m_previous);
        m_previous = nullptr;
        m_redirected = false;
    }
    if (m_ofsLog.is_open())
        m_ofsLog.close();
    m_ofsLog.clear();
}
