#include "backends/posix/TcpConnect.h"

#include <cerrno>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace px::posix {

uint64_t ConnectAttempts::Start(const std::string& dottedHost, uint16_t port)
{
    const uint64_t id = m_next++;
    Attempt attempt{UniqueFd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)), ConnectState::Refused};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (attempt.socket.Valid() && inet_pton(AF_INET, dottedHost.c_str(), &address.sin_addr) == 1) {
        const int rc = connect(attempt.socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
        if (rc == 0)
            attempt.state = ConnectState::Accepted;
        else if (errno == EINPROGRESS)
            attempt.state = ConnectState::Pending;
    }
    m_attempts.emplace(id, std::move(attempt));
    return id;
}

ConnectState ConnectAttempts::Poll(uint64_t id)
{
    const auto it = m_attempts.find(id);
    if (it == m_attempts.end())
        return ConnectState::Refused;
    Attempt& attempt = it->second;
    if (attempt.state != ConnectState::Pending)
        return attempt.state;
    pollfd watch{attempt.socket.Get(), POLLOUT, 0};
    if (poll(&watch, 1, 0) != 1)
        return ConnectState::Pending;
    int error = 0;
    socklen_t size = sizeof error;
    const bool ok = getsockopt(attempt.socket.Get(), SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    attempt.state = ok ? ConnectState::Accepted : ConnectState::Refused;
    return attempt.state;
}

}  // namespace px::posix
