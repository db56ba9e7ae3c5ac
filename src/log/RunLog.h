#pragma once
// The run log: standard output redirected into log.txt beside the executable. Entries are
// a timestamp, a message beginning with "->", CR LF and a flush.

#include <memory>
#include <streambuf>
#include <string>

#include "log/LogEntry.h"
#include "platform/Files.h"

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

    // Opens path through the file service (emptied, appended to) and points standard output
    // at it. When the file service refuses it or it cannot be opened, standard output
    // discards everything and one line on standard error says that the program runs without
    // a log. Returns whether the file is open.
    bool Open(const std::u16string& path);
    // Writes the banner line and flushes.
    void WriteBanner(const char* buildDate, const char* buildTime);
    // Gives standard output its old buffer back and closes the file.
    void Close();

private:
    // Standard output's buffer while the log is open: what a flush ends goes to the file in
    // one write, or nowhere when there is no file.
    class Buffer : public std::streambuf {
    public:
        std::unique_ptr<AppendFile> file;

    protected:
        int_type overflow(int_type ch) override;
        std::streamsize xsputn(const char* text, std::streamsize count) override;
        int sync() override;

    private:
        std::string m_pending;
    };

    Buffer m_buffer;
    std::streambuf* m_previous = nullptr;
    bool m_redirected = false;
};
