// The health probes' system side on Windows: connection attempts that never wait, and a file's age.

#include "backends/win32/WideText.h"
#include "backends/win32/Win32System.h"
#include "backends/win32/WinPrelude.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace {

// FILETIME's 100-ns units since 1601 as one number.
int64_t FileTimeUnits(const FILETIME& time)
{
    return static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

}  // namespace

uint64_t Win32System::StartConnect(const std::u16string& host, uint16_t port)
{
    if (!m_winsockStarted) {
        WSADATA data{};
        m_winsockStarted = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    const uint64_t id = m_nextConnect++;
    Attempt attempt;
    const SOCKET s = m_winsockStarted ? ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    u_long nonBlocking = 1;
    if (s != INVALID_SOCKET) {
        attempt.socket = static_cast<uintptr_t>(s);
        const std::wstring wide = px::win32::Wide(host);
        if (::InetPtonW(AF_INET, wide.c_str(), &address.sin_addr) == 1
            && ::ioctlsocket(s, FIONBIO, &nonBlocking) == 0) {
            if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
                attempt.state = ConnectState::Accepted;
            else if (::WSAGetLastError() == WSAEWOULDBLOCK)
                attempt.state = ConnectState::Pending;
        }
    }
    m_connects.emplace(id, attempt);
    return id;
}

ConnectState Win32System::PollConnect(uint64_t id)
{
    const auto it = m_connects.find(id);
    if (it == m_connects.end())
        return ConnectState::Refused;
    Attempt& attempt = it->second;
    if (attempt.state != ConnectState::Pending)
        return attempt.state;
    // A connect that succeeded makes the socket writable; one that failed puts it in the
    // exception set.
    const SOCKET s = static_cast<SOCKET>(attempt.socket);
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval none{0, 0};
    if (::select(0, nullptr, &writable, &failed, &none) <= 0)
        return ConnectState::Pending;
    attempt.state = FD_ISSET(s, &writable) && !FD_ISSET(s, &failed) ? ConnectState::Accepted : ConnectState::Refused;
    return attempt.state;
}

void Win32System::EndConnect(uint64_t id)
{
    const auto it = m_connects.find(id);
    if (it == m_connects.end())
        return;
    if (it->second.socket != 0)
        ::closesocket(static_cast<SOCKET>(it->second.socket));
    m_connects.erase(it);
}

std::optional<int64_t> Win32System::FileAgeMs(const std::u16string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(px::win32::Wide(path).c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return (FileTimeUnits(now) - FileTimeUnits(data.ftLastWriteTime)) / 10000;
}
