#include "log/RunLog.h"

#include <iostream>

#include "base/Paths.h"
#include "base/Unicode.h"

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
    // Emptied at the start, then written in append mode: a log rotation that copies and
    // truncates the file (logrotate's copytruncate) leaves the next entry at its new start
    // instead of behind a hole. The entries' CR LF are written exactly as given.
    m_buffer.file = GetFiles().OpenRunLog(path);
    if (!m_buffer.file)
        std::cerr << "perennix: running without a log: " << px::ToUtf8(path) << " cannot be opened as a file\n";
    // Standard output goes to the buffer even without a file, which then drops every entry.
    m_previous = std::cout.rdbuf(&m_buffer);
    m_redirected = true;
    return m_buffer.file != nullptr;
}

void RunLog::WriteBanner(const char* buildDate, const char* buildTime)
{
    std::cout << BannerLine(buildDate, buildTime) << LOG_LINE_END << std::flush;
}

void RunLog::Close()
{
    if (m_redirected) {
        std::cout.flush();
        // Before the file goes away; giving the buffer back also clears any error state.
        std::cout.rdbuf(m_previous);
        m_previous = nullptr;
        m_redirected = false;
    }
    m_buffer.file.reset();
}

RunLog::Buffer::int_type RunLog::Buffer::overflow(int_type ch)
{
    if (!traits_type::eq_int_type(ch, traits_type::eof()))
        m_pending += traits_type::to_char_type(ch);
    return traits_type::not_eof(ch);
}

std::streamsize RunLog::Buffer::xsputn(const char* text, std::streamsize count)
{
    m_pending.append(text, static_cast<size_t>(count));
    return count;
}

int RunLog::Buffer::sync()
{
    // An entry that cannot be written (a full disk) is lost alone: the next one is tried.
    if (file && !m_pending.empty())
        file->Append(m_pending);
    m_pending.clear();
    return 0;
}
