#pragma once
// The messages of run-log text, decoded from GBK, without their timestamps.

#include <string>
#include <vector>

#include "TestGbk.h"

namespace testsupport {

inline std::vector<std::string> LogMessagesOf(const std::string& text)
{
    constexpr size_t kTimestampLength = 23;  // "2026-03-10 12:00:00.000"
    std::vector<std::string> messages;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find("\r\n", start);
        messages.push_back(GbkToUtf8(text.substr(start + kTimestampLength, end - start - kTimestampLength)));
        start = end + 2;
    }
    return messages;
}

}  // namespace testsupport
