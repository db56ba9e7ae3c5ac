#include "backends/qt/EndRequests.h"

#include <QtGlobal>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "resources/Resource.h"

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

int g_signalWriteFd = -1;
EndRequests::Handler* g_handler = nullptr;
QtMessageHandler g_previousMessageHandler = nullptr;

// Async-signal-safe: one byte per signal into the socket the window thread watches.
void OnSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    if (g_signalWriteFd >= 0) [[maybe_unused]]
        const ssize_t n = write(g_signalWriteFd, &byte, 1);
    errno = saved;
}

// WORKAROUND: Qt's X11 platform plugin ends the process with exit(1) right after this warning
// when the X server goes away; the message is the only notice the program gets.
void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("The X11 connection broke")) && g_handler) {
        EndRequests::Handler* handler = g_handler;
        g_handler = nullptr;  // once
        (*handler)(END_CAUSE_DISPLAY_LOST, 0);
    }
    if (g_previousMessageHandler)
        g_previousMessageHandler(type, context, message);
}

}  // namespace

EndRequests::EndRequests(Handler handler)
    : m_handler(std::move(handler))
{
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, m_fds) == 0) {
        g_signalWriteFd = m_fds[1];
        m_notifier = std::make_unique<QSocketNotifier>(m_fds[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { ReadSignals(); });
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int number : kSignals)
            sigaction(number, &action, nullptr);
    }
    g_handler = &m_handler;
    g_previousMessageHandler = qInstallMessageHandler(OnQtMessage);
}

EndRequests::~EndRequests()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int number : kSignals)
        sigaction(number, &action, nullptr);
    qInstallMessageHandler(g_previousMessageHandler);
    g_previousMessageHandler = nullptr;
    g_handler = nullptr;
    g_signalWriteFd = -1;
    m_notifier.reset();
    for (int fd : m_fds)
        if (fd >= 0)
            close(fd);
}

void EndRequests::ReadSignals()
{
    unsigned char byte = 0;
    while (read(m_fds[0], &byte, 1) == 1)
        m_handler(END_CAUSE_SIGNAL, byte);
}
