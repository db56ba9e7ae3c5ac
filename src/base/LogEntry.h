#pragma once
// Entries of the run log: a timestamp, a message beginning with "->", CR LF and a flush,
// written to standard output (which the application points at log.txt).

#include <cstdint>
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

// The end of an entry and of the banner line.
inline constexpr char LOG_LINE_END[] = "\r\n";

// Writes one entry to standard output: timestamp, message, CR LF, flush.
void WriteLogEntry(std::string_view message);
// The restart entries: timestamp, "->", hour, ":", minute (plain decimal), message.
void WriteRestartLogEntry(int32_t minuteOfDay, const char* message);
