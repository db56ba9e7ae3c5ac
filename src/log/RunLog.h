#pragma once
// The run log: standard output redirected into log.txt beside the executable. Entries are
// a timestamp, a message beginning with "->", CR LF and a flush.

#include <fstream>
#include <streambuf>
#include <string>

#include "log/LogEntry.h"

// log.txt beside the executable: modulePath cut after its last path separator, "log.txt".
std::u16string LogPathForModule(const std::u16string& modulePath);
// "---------" date " " time "-----------" for the build's __DATE__ and __TIME__.
std::string BannerLine(const char* buildDate, const char* buildTime);

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
