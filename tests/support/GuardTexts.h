#pragma once
// Virtual-time units and the guard's status texts as the user reads them, for the guard's tests.

#include <cstdint>
#include <string>

namespace fake {

inline constexpr int64_t kSecond = 1000;
inline constexpr int64_t kMinute = 60 * kSecond;

inline const std::u16string kLaunching = u"正在打开目录程序。。。";
inline const std::u16string kRunning = u"守护正在运行。。。";
inline const std::u16string kLaunchFailed = u"打开程序失败，已停止守护。。。！";

}  // namespace fake
