#include "backends/qt/InstanceChannel.h"

#include <QCryptographicHash>
#include <QSocketNotifier>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "backends/qt/OsFailure.h"
#include "base/Unicode.h"

namespace {

// A failed call about a file of the claim, told as the host tells every failure it swallows.
void LogFailure(const char* call, const std::string& object, int error)
{
    px::qt::LogErrno((std::string(call) + "(" + object + ")").c_str(), error);
}

// "perennix-" and 32 hex digits of the SHA-256 of the folder: the names of key's claim.
std::string NameFor(const std::u16string& key)
{
    const QByteArray folder = QByteArray::fromStdString(px::ToUtf8(key));
    return "perennix-" + QCryptographicHash::hash(folder, QCryptographicHash::Sha256).toHex().left(32).toStdString();
}

// The longest folder whose claim names still fit a socket address.
constexpr size_t kLongestFolder = sizeof(sockaddr_un::sun_path) - 1 - std::strlen("/perennix-") - 32 - 5;

// path is a folder (not a link) of this user's that nobody else may enter.
bool IsPrivateFolder(const std::string& path)
{
    struct stat st { };
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
        && (st.st_mode & 077) == 0;
}

// The folder of this user's claims: $XDG_RUNTIME_DIR, the user's runtime folder, where it is
// set and is this user's alone; otherwise "perennix-<uid>" in $TMPDIR (or /tmp), made when
// missing. Empty when that is no private folder of this user's (another user made it first,
// or put a link there): said once on standard error.
std::string ClaimFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && std::strlen(runtime) <= kLongestFolder && IsPrivateFolder(runtime))
        return runtime;
    const char* temp = std::getenv("TMPDIR");
    const std::string folder = std::string(temp && temp[0] == '/' ? temp : "/tmp") + "/perennix-"
        + std::to_string(static_cast<unsigned long>(::geteuid()));
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        LogFailure("mkdir", folder, errno);
        return {};
    }
    if (folder.size() > kLongestFolder || !IsPrivateFolder(folder)) {
        std::fprintf(stderr,
            "perennix: %s is not a folder of this user's alone: starting without the one-copy-per-folder check\n",
            folder.c_str());
        return {};
    }
    return folder;
}

socklen_t AddressOf(const std::string& path, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
}

int OpenLockFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0)
        LogFailure("open", path, errno);
    return fd;
}

bool Lock(int fd, int operation)
{
    int rc;
    do {
        rc = ::flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

// The program file a process runs (without the " (deleted)" of one replaced meanwhile).
std::string ProgramOf(const std::string& process)
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(("/proc/" + process + "/exe").c_str(), buffer, sizeof buffer);
    std::string path(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.ends_with(kDeleted))
        path.resize(path.size() - kDeleted.size());
    return path;
}

// The process at the other end of fd runs as this user and runs this program.
bool PeerIsThisProgram(int fd)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return false;
    if (peer.uid != ::geteuid())
        return false;
    const std::string program = ProgramOf(std::to_string(peer.pid));
    return !program.empty() && program == ProgramOf("self");
}

}  // namespace

InstanceChannel::InstanceChannel() = default;

InstanceChannel::~InstanceChannel()
{
    m_notifier.reset();
    if (m_lockFd < 0)
        return;
    // The names go while no start is between opening the lock file and locking it. A start
    // that found the claim held and asks now finds nobody listening, and goes on.
    const int setup = OpenLockFile(m_setupPath);
    if (setup >= 0 && Lock(setup, LOCK_EX)) {
        ::unlink(m_socketPath.c_str());
        ::unlink(m_lockPath.c_str());
    }
    ::close(m_fd);
    ::close(m_lockFd);
    if (setup >= 0)
        ::close(setup);
}

bool InstanceChannel::Claim(const std::u16string& key, std::function<void()> onRequest)
{
    const std::string folder = ClaimFolder();
    if (folder.empty())
        return true;
    const std::string base = folder + "/" + NameFor(key);
    m_setupPath = folder + "/perennix.lock";
    m_lockPath = base + ".lock";
    m_socketPath = base + ".sock";
    // One start at a time looks at a claim and takes it: a claim held is one whose socket
    // listens already.
    const int setup = OpenLockFile(m_setupPath);
    if (setup < 0 || !Lock(setup, LOCK_EX)) {
        if (setup >= 0)
            LogFailure("flock", m_setupPath, errno);
        return true;
    }
    struct SetupEnd {
        int fd;
        ~SetupEnd() { ::close(fd); }
    } setupEnd{setup};

    const int lockFd = OpenLockFile(m_lockPath);
    if (lockFd < 0)
        return true;
    if (!Lock(lockFd, LOCK_EX | LOCK_NB)) {
        const int error = errno;
        ::close(lockFd);
        if (error == EWOULDBLOCK)
            return false;
        LogFailure("flock", m_lockPath, error);
        return true;
    }

    // Whatever is at the socket's name holds no claim: a killed copy's socket, or another
    // program's.
    if (::unlink(m_socketPath.c_str()) != 0 && errno != ENOENT)
        LogFailure("unlink", m_socketPath, errno);
    sockaddr_un address{};
    const socklen_t length = AddressOf(m_socketPath, address);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const char* failed = fd < 0                                                ? "socket"
        : ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ? "bind"
        : ::listen(fd, 4) != 0                                                 ? "listen"
                                                                               : nullptr;
    if (failed) {
        // No claim that nobody can ask: the next start takes it.
        LogFailure(failed, m_socketPath, errno);
        if (fd >= 0)
            ::close(fd);
        ::close(lockFd);
        return true;
    }
    m_fd = fd;
    m_lockFd = lockFd;
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
    const std::string folder = ClaimFolder();
    if (folder.empty())
        return false;
    sockaddr_un address{};
    const socklen_t length = AddressOf(folder + "/" + NameFor(key) + ".sock", address);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        px::qt::LogErrno("socket(AF_UNIX, instance request)", errno);
        return false;
    }
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    // No name, or nobody listening on it: no process answers for the folder, which is no failure.
    if (!connected && errno != ECONNREFUSED && errno != ENOENT)
        px::qt::LogErrno("connect(instance socket)", errno);
    const bool answered = connected && PeerIsThisProgram(fd);
    ::close(fd);
    return answered;
}
