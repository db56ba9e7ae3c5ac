#pragma once

#include <iostream>
#include <sstream>
#include <string>

namespace testsupport {

// Points standard output at a string for the test's lifetime.
class CapturedStdout {
public:
    CapturedStdout()
        : m_old(std::cout.rdbuf(m_text.rdbuf()))
    {
    }
    ~CapturedStdout() { std::cout.rdbuf(m_old); }
    CapturedStdout(const CapturedStdout&) = delete;
    CapturedStdout& operator=(const CapturedStdout&) = delete;
    std::string Text() const { return m_text.str(); }

private:
    std::ostringstream m_text;
    std::streambuf* m_old;
};

}  // namespace testsupport
