#pragma once
// Owners of POSIX handles: each closes its handle when it goes out of scope.

#include <unistd.h>

#include <utility>

namespace px::posix {

// A file descriptor.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1)
        : m_fd(fd)
    {
    }
    UniqueFd(UniqueFd&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    // Closes now; false when the close failed (for a file written to, data may be lost).
    bool Reset()
    {
        if (m_fd < 0)
            return true;
        const int rc = ::close(m_fd);
        m_fd = -1;
        return rc == 0;
    }

private:
    int m_fd;
};

}  // namespace px::posix
