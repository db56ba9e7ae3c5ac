#pragma once
// Connection attempts that never wait: started with a non-blocking connect, looked at with a
// poll of zero timeout.

#include <cstdint>
#include <map>
#include <string>

#include "backends/posix/PosixHandles.h"
#include "platform/System.h"

namespace px::posix {

class ConnectAttempts {
public:
    uint64_t Start(const std::string& dottedHost, uint16_t port);
    ConnectState Poll(uint64_t id);
    void End(uint64_t id) { m_attempts.erase(id); }

private:
    struct Attempt {
        UniqueFd socket;
        ConnectState state = ConnectState::Pending;
    };
    std::map<uint64_t, Attempt> m_attempts;
    uint64_t m_next = 1;
};

}  // namespace px::posix
