#pragma once
// The run log: standard output redirected into log.txt beside the executable. Entries are
// a timestamp, a message beginning with "->", CR LF and a flush.

#include <cstdint>
#include <fstream>
#include <streambuf>
#include <string>
#include <string_view>

// The local time now, printed with format (every caller passes TIMESTAMP_FORMAT).
std::string FormatTimestamp(const char* format);
inline constexpr char TIMESTAMP_FORMAT[] = "%04d-%02d-%02d %02d:%02d:%02d.%03d";

// The fixed messages, as their GBK bytes.
namespace logtext {
extern const char kInitDone[];  // "->对话框初始化完成。。。"
extern const char kCountdownArmed[];  // ": 距离不足5分钟，开始循环准备。。。"
extern const char kRestartFired[];  // " 触发，执行关闭" + "。。。"
}  // namespace logtext

// log.txt beside the executable: modulePath cut after its last path separator, "log.txt".
std::u16string LogPathForModule(const std::u16string& modulePath);
// "---------" date " " time "-----------" for the build's __DATE__ and __TIME__.
std::string BannerLine(const char* buildDate, const char* buildTime);

// Writes one entry to standard output: timestamp, message, CR LF, flush.
void WriteLogEntry(std::string_view message);
// The restart entries: timestamp, "->", hour, ":", minute (plain decimal), message.
void WriteRestartLogEntry(int32_t minuteOfDay, const char* message);

// The log file and the redirection of standard output into it.
class RunLog {
public:
    RunLog() = default;
    ~RunLog();
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    // Opens (truncating) path and points standard output at it. A failed open is silent:
    // standard output then discards everything. Returns whether the file is open.
    bool Open(const std::u16string& path);
    // Writes the banner line and flushes.
    void WriteBanner(const char* buildDate, const char* buildTime);
    // Gives standard output its old buffer back and closes the file.
    void Close();

private:
    std::ofstream m_ofsLog;
    std::streambuf* m_previous = nullptr;
    bool m_redirected = false;
};
