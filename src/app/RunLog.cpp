#include "app/RunLog.h"

#include <cstdio>
#include <filesystem>
#include <iostream>

#include "platform/Files.h"
#include "platform/System.h"
#include "platform/Unicode.h"

namespace logtext {
// "->对话框初始化完成。。。"
const char kInitDone[]
    = "\x2d\x3e\xb6\xd4\xbb\xb0\xbf\xf2\xb3\xf5\xca\xbc\xbb\xaf\xcd\xea\xb3\xc9\xa1\xa3\xa1\xa3\xa1\xa3";
// ": 距离不足5分钟，开始循环准备。。。"
const char kCountdownArmed[] = "\x3a\x20\xbe\xe0\xc0\xeb\xb2\xbb\xd7\xe3\x35\xb7\xd6\xd6\xd3\xa3\xac\xbf\xaa\xca\xbc"
                               "\xd1\xad\xbb\xb7\xd7\xbc\xb1\xb8\xa1\xa3\xa1\xa3\xa1\xa3";
// " 触发，执行关闭" followed by "。。。"
const char kRestartFired[] = "\x20\xb4\xa5\xb7\xa2\xa3\xac\xd6\xb4\xd0\xd0\xb9\xd8\xb1\xd5"
                             "\xa1\xa3\xa1\xa3\xa1\xa3";
}  // namespace logtext

namespace {

constexpr char LINE_END[] = "\r\n";

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

std::string FormatTimestamp(const char* format)
{
    const SystemTime now = GetSystem().GetLocalTime();
    char buffer[32] = {};
    const int written = std::snprintf(buffer, sizeof buffer, format, int{now.wYear}, int{now.wMonth}, int{now.wDay},
        int{now.wHour}, int{now.wMinute}, int{now.wSecond}, int{now.wMilliseconds});
    return written < 0 ? std::string() : std::string(buffer);
}

std::u16string LogPathForModule(const std::u16string& modulePath)
{
    return px::PathBesideModule(modulePath, u"log.txt");
}

std::string BannerLine(const char* buildDate, const char* buildTime)
{
    return std::string("---------") + (buildDate ? buildDate : "") + " " + (buildTime ? buildTime : "") + "-----------";
}

void WriteLogEntry(std::string_view message)
{
    std::cout << FormatTimestamp(TIMESTAMP_FORMAT) << message << LINE_END << std::flush;
}

void WriteRestartLogEntry(int32_t minuteOfDay, const char* message)
{
    std::cout << FormatTimestamp(TIMESTAMP_FORMAT) << "->" << minuteOfDay / 60 << ":" << minuteOfDay % 60
              << (message ? message : "") << LINE_END << std::flush;
}

RunLog::~RunLog() { Close(); }

bool RunLog::Open(const std::u16string& path)
{
    Close();
    // Binary: the stream writes the entries' CR LF exactly as given, on every platform.
    m_ofsLog.open(NativePath(path), std::ios::out | std::ios::trunc | std::ios::binary);
    // Standard output goes to the file's buffer even when the open failed: an unopened
    // buffer takes nothing, so every log write is then dropped silently.
    m_previous = std::cout.rdbuf(m_ofsLog.rdbuf());
    m_redirected = true;
    return m_ofsLog.is_open();
}

void RunLog::WriteBanner(const char* buildDate, const char* buildTime)
{
    std::cout << BannerLine(buildDate, buildTime) << LINE_END << std::flush;
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
