#pragma once
// A system call that failed where the back end hands its caller only a plain "no" (false, no
// value, an empty list) leaves one line on standard error with what the caller cannot see:
//   perennix: <call> [<object>] failed: <code> <text>
// (errno and its text; for X requests, the X error code and its text).
// Outcomes that are no failure (a process that has ended, a file that is not there when the
// caller only asks whether it is) are not logged; the call sites say which those are.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace px::posix {

// Logs call's failure about object (a path, a pid; empty: none) with the error's code and text.
// Leaves errno as it was.
inline void LogFailure(const char* call, std::string_view object, long code, const char* text)
{
    const int saved = errno;
    std::string line = "perennix: ";
    line += call;
    if (!object.empty()) {
        line += ' ';
        line += object;
    }
    line += " failed: " + std::to_string(code) + " " + text + "\n";
    std::fputs(line.c_str(), stderr);
    errno = saved;
}

// The same for a system call that failed with error (an errno value).
inline void LogOsFailure(const char* call, std::string_view object, int error)
{
    char buffer[256];
    // The GNU strerror_r: thread-safe, it returns the text (in buffer or a static string).
    LogFailure(call, object, error, ::strerror_r(error, buffer, sizeof buffer));
}

inline void LogOsFailure(const char* call, int error) { LogOsFailure(call, std::string_view(), error); }

}  // namespace px::posix
