#include "backends/qt/TrayProtocol.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QSystemTrayIcon>

namespace {

constexpr char kWatcherService[] = "org.kde.StatusNotifierWatcher";
constexpr char kWatcherPath[] = "/StatusNotifierWatcher";
// A watcher is a panel's plug-in: a hung panel must not hang the window that asks it.
constexpr int kWatcherTimeoutMs = 1000;

bool WatcherRegistered()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()
        && bus.interface()->isServiceRegistered(QLatin1String(kWatcherService)).value();
}

// A watcher is on the bus and a host shows the items registered with it.
bool StatusNotifierHostRunning()
{
    if (!WatcherRegistered())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(QLatin1String(kWatcherService), QLatin1String(kWatcherPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QLatin1String(kWatcherService) << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, kWatcherTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        // A watcher that does not answer shows nothing; one that does not know the property is
        // taken at its word of being there, as Qt takes it.
        const QDBusError::ErrorType error = QDBusError(reply).type();
        return error != QDBusError::NoReply && error != QDBusError::Timeout;
    }
    return reply.arguments().isEmpty()
        || qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool();
}

bool SpeaksStatusNotifier()
{
    static const bool statusNotifier = [] {
        const bool watcher = WatcherRegistered();
        // Qt's choice is made by this, its first tray query, against the same bus a moment later.
        QSystemTrayIcon::isSystemTrayAvailable();
        return watcher;
    }();
    return statusNotifier;
}

}  // namespace

bool px::qt::TrayIconReachable()
{
    // Qt's own check is true when either protocol has a tray, but an icon on D-Bus is lost in
    // an XEmbed tray (and the other way round): ask about the protocol the icon speaks.
    if (SpeaksStatusNotifier())
        return StatusNotifierHostRunning();
    return QSystemTrayIcon::isSystemTrayAvailable();
}
