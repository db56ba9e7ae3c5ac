#include "log/LogEntry.h"

#include <cstdio>
#include <iostream>

#include "platform/Files.h"
#include "platform/System.h"

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
const char kGuardStartedByUser[] = "\x2d\x3e\xbf\xaa\xca\xbc\xca\xd8\xbb\xa4\xa3\xa8\xd3\xc3\xbb\xa7\xb2\xd9\xd7\xf7"
                                   "\xa3\xa9\xa1\xa3\xa1\xa3\xa1\xa3";
const char kGuardStartedAtLaunch[] = "\x2d\x3e\xbf\xaa\xca\xbc\xca\xd8\xbb\xa4\xa3\xa8\xc8\xed\xbc\xfe\xc6\xf4\xb6\xaf"
                                     "\xca\xb1\xd7\xd4\xb6\xaf\xbf\xaa\xca\xbc\xa3\xa9\xa1\xa3\xa1\xa3\xa1\xa3";
const char kGuardStoppedByUser[] = "\x2d\x3e\xcd\xa3\xd6\xb9\xca\xd8\xbb\xa4\xa3\xa8\xd3\xc3\xbb\xa7\xb2\xd9\xd7\xf7"
                                   "\xa3\xa9\xa1\xa3\xa1\xa3\xa1\xa3";
const char kGuardStoppedLaunchFailed[]
    = "\x2d\x3e\xcd\xa3\xd6\xb9\xca\xd8\xbb\xa4\xa3\xa8\xb4\xf2\xbf\xaa\xb3\xcc\xd0\xf2"
      "\xca\xa7\xb0\xdc\xa3\xa9\xa1\xa3\xa1\xa3\xa1\xa3";
const char kProgramLaunched[]
    = "\x2d\x3e\xb3\xcc\xd0\xf2\xce\xb4\xd4\xcb\xd0\xd0\xa3\xac\xd2\xd1\xc6\xf4\xb6\xaf\xa3\xba";
const char kLaunchFailed[]
    = "\x2d\x3e\xb4\xf2\xbf\xaa\xb3\xcc\xd0\xf2\xca\xa7\xb0\xdc\xa3\xac\xb4\xed\xce\xf3\xc2\xeb\xa3\xba";
const char kScriptNotRun[] = "\x2d\x3e\xc3\xfc\xc1\xee\xbd\xe2\xca\xcd\xc6\xf7\xce\xde\xb7\xa8\xd4\xcb\xd0\xd0\xb8\xc3"
                             "\xce\xc4\xbc\xfe\xa1\xa3\xa1\xa3\xa1\xa3";
const char kGatewayConfirmed[] = "\x2d\x3e\xd2\xd1\xc8\xb7\xc8\xcf\xcd\xf8\xb9\xd8\xb6\xd4\xbb\xb0\xbf\xf2\xa3\xba";
}  // namespace logtext

std::string FormatTimestamp(const char* format)
{
    const SystemTime now = GetSystem().GetLocalTime();
    char buffer[32] = {};
    const int written = std::snprintf(buffer, sizeof buffer, format, int{now.wYear}, int{now.wMonth}, int{now.wDay},
        int{now.wHour}, int{now.wMinute}, int{now.wSecond}, int{now.wMilliseconds});
    return written < 0 ? std::string() : std::string(buffer);
}

void WriteLogEntry(std::string_view message)
{
    std::cout << FormatTimestamp(TIMESTAMP_FORMAT) << message << LOG_LINE_END << std::flush;
}

void WriteLogEntry(const char* message, std::u16string_view text)
{
    WriteLogEntry(std::string(message) + GetFiles().EncodeGbk(text));
}

void WriteLogEntry(const char* message, int64_t number)
{
    WriteLogEntry(std::string(message) + std::to_string(number));
}

void WriteRestartLogEntry(int32_t minuteOfDay, const char* message)
{
    std::cout << FormatTimestamp(TIMESTAMP_FORMAT) << "->" << minuteOfDay / 60 << ":" << minuteOfDay % 60
              << (message ? message : "") << LOG_LINE_END << std::flush;
}
