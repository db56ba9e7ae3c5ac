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
// What the watchdog did.
extern const char kGuardStartedByUser[];  // "->开始守护（用户操作）。。。"
extern const char kGuardStartedAtLaunch[];  // "->开始守护（软件启动时自动开始）。。。"
extern const char kGuardStoppedByUser[];  // "->停止守护（用户操作）。。。"
extern const char kGuardStoppedLaunchFailed[];  // "->停止守护（打开程序失败）。。。"
extern const char kProgramLaunched[];  // "->程序未运行，已启动：" + the program's path
extern const char kLaunchFailed[];  // "->打开程序失败，错误码：" + the system's code
extern const char kScriptNotRun[];  // "->命令解释器无法运行该文件。。。"
extern const char kGatewayConfirmed[];  // "->已确认网关对话框：" + the dialog's title
// Health probes and the stop that asks first.
extern const char kHealthRestart[];  // "->健康探测失败，重启程序：" + the probe and what it saw
extern const char kStopAsked[];  // "->已请求程序关闭，最多等待秒数：" + the stop timeout
extern const char kStopForced[];  // "->程序未在等待时间内关闭，已结束。。。"
// How the program ended.
extern const char kEndWindowClosed[];  // "->退出程序（关闭窗口）。。。"
extern const char kEndConfirmed[];  // "->退出程序（确认退出）。。。"
extern const char kEndSignal[];  // "->退出程序，收到信号：" + the signal's name
extern const char kEndSession[];  // "->退出程序（会话结束）。。。"
extern const char kDataFolderPerUser[];  // "->配置文件夹（程序所在文件夹不可写，按用户）：" + the folder
extern const char kEndDisplayLost[];  // "->退出程序（与显示服务器的连接断开）。。。"
}  // namespace logtext

// The end of an entry and of the banner line.
inline constexpr char LOG_LINE_END[] = "\r\n";

// Writes one entry to standard output: timestamp, message, CR LF, flush.
void WriteLogEntry(std::string_view message);
// An entry of a fixed message followed by text (a path, a title) in GBK.
void WriteLogEntry(const char* message, std::u16string_view text);
// An entry of a whole message given as text, written in GBK.
void WriteLogText(std::u16string_view message);
// An entry of a fixed message followed by a number in plain decimal.
void WriteLogEntry(const char* message, int64_t number);
// The restart entries: timestamp, "->", hour, ":", minute (plain decimal), message.
void WriteRestartLogEntry(int32_t minuteOfDay, const char* message);
