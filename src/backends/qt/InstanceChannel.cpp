#include "backends/qt/InstanceChannel.h"

#include <QCryptographicHash>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "backends/qt/OsFailure.h"
#include "base/Unicode.h"

namespace {

// "\0perennix-<uid>-<sha256 of the folder>": per user, per folder, in the abstract namespace.
socklen_t AddressFor(const std::u16string& key, sockaddr_un& address)
{
    const QByteArray folder = QByteArray::fromStdString(px::ToUtf8(key));
    const QByteArray name = "perennix-" + QByteArray::number(static_cast<qulonglong>(::getuid())) + "-"
        + QCryptographicHash::hash(folder, QCryptographicHash::Sha256).toHex();
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.constData(), static_cast<size_t>(name.size()));
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<size_t>(name.size()));
}

}  // namespace

InstanceChannel::InstanceChannel() = default;

InstanceChannel::~InstanceChannel()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

bool InstanceChannel::Claim(const std::u16string& key, std::function<void()> onRequest)
{
    sockaddr_un address{};
    const socklen_t length = AddressFor(key, address);
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0) {
        px::qt::LogErrno("socket(AF_UNIX, instance)", errno);
        return true;
    }
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        const int error = errno;
        ::close(m_fd);
        m_fd = -1;
        if (error == EADDRINUSE)
            return false;
        px::qt::LogErrno("bind(instance socket)", error);
        return true;
    }
    // Bound, the name is this process's claim even where no later start can be heard.
    if (::listen(m_fd, 4) != 0)
        px::qt::LogErrno("listen(instance socket)", errno);
    m_onRequest = std::move(onRequest);
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        // Each connection is one request; what it sends does not matter.
        int client;
        while ((client = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0) {
            ::close(client);
            if (m_onRequest)
                m_onRequest();
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED && errno != EINTR)
            px::qt::LogErrno("accept4(instance socket)", errno);
    });
    return true;
}

bool InstanceChannel::Signal(const std::u16string& key)
{
    sockaddr_un address{};
    const socklen_t length = AddressFor(key, address);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        px::qt::LogErrno("socket(AF_UNIX, instance request)", errno);
        return false;
    }
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    // No name, or nobody listening on it: no process answers for the folder, which is no failure.
    if (!connected && errno != ECONNREFUSED && errno != ENOENT)
        px::qt::LogErrno("connect(instance socket)", errno);
    ::close(fd);
    return connected;
}
