#include "backends/qt/TrayProtocol.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QTimer>
#include <X11/Xlib.h>
#include <optional>
#include <utility>
#include <xcb/xproto.h>

#include "backends/qt/OsFailure.h"

namespace {

constexpr char kWatcherService[] = "org.kde.StatusNotifierWatcher";
constexpr char kWatcherPath[] = "/StatusNotifierWatcher";
// A watcher is a panel's plug-in: a hung panel must not hang the window that asks it.
constexpr int kWatcherTimeoutMs = 1000;

void LogDBusFailure(const char* call, const QDBusError& error)
{
    px::qt::LogOsFailure(call, error.type(), error.name() + QStringLiteral(": ") + error.message());
}

bool WatcherRegistered()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        // Taken as no StatusNotifier tray: the XEmbed protocol is then the icon's.
        LogDBusFailure("QDBusConnection::sessionBus", bus.lastError());
        return false;
    }
    if (!bus.interface())
        return false;
    const QDBusReply<bool> registered = bus.interface()->isServiceRegistered(QLatin1String(kWatcherService));
    if (!registered.isValid()) {
        LogDBusFailure("org.freedesktop.DBus.NameHasOwner(org.kde.StatusNotifierWatcher)", registered.error());
        return false;
    }
    return registered.value();
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
        const QDBusError error(reply);
        LogDBusFailure("org.kde.StatusNotifierWatcher.IsStatusNotifierHostRegistered", error);
        return error.type() != QDBusError::NoReply && error.type() != QDBusError::Timeout;
    }
    return reply.arguments().isEmpty()
        || qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool();
}

// The protocol Qt's tray icon speaks: unknown until the first tray query.
std::optional<bool> g_statusNotifier;

bool SpeaksStatusNotifier()
{
    if (!g_statusNotifier) {
        const bool watcher = WatcherRegistered();
        // Qt's choice is made by this, its first tray query, against the same bus a moment later.
        QSystemTrayIcon::isSystemTrayAvailable();
        g_statusNotifier = watcher;
    }
    return *g_statusNotifier;
}

// A new XEmbed tray announces itself with a MANAGER message to the root window, naming the
// selection it took (the System Tray Protocol); Qt asks for the root window's events that
// carry it. Seen here before Qt handles it.
class XEmbedTrayFilter : public QAbstractNativeEventFilter {
public:
    XEmbedTrayFilter(Display* display, std::function<void(px::qt::TrayChange)> onChange)
        : m_manager(::XInternAtom(display, "MANAGER", False))
        , m_selection(::XInternAtom(
              display, ("_NET_SYSTEM_TRAY_S" + QByteArray::number(DefaultScreen(display))).constData(), False))
        , m_onChange(std::move(onChange))
    {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~XEmbedTrayFilter() override
    {
        if (QCoreApplication::instance())
            QCoreApplication::instance()->removeNativeEventFilter(this);
    }
    XEmbedTrayFilter(const XEmbedTrayFilter&) = delete;
    XEmbedTrayFilter& operator=(const XEmbedTrayFilter&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7F) != XCB_CLIENT_MESSAGE)
            return false;
        const auto* client = static_cast<const xcb_client_message_event_t*>(message);
        if (client->format == 32 && client->type == m_manager && client->data.data32[1] == m_selection) {
            // The new tray replaces whatever tray there was, and holds no icon yet.
            m_onChange(px::qt::TrayChange::Gone);
            m_onChange(px::qt::TrayChange::Back);
        }
        return false;  // Qt's own tray icon hears of it too
    }

private:
    Atom m_manager;
    Atom m_selection;
    std::function<void(px::qt::TrayChange)> m_onChange;
};

}  // namespace

bool px::qt::TrayIconReachable()
{
    // Qt's own check is true when either protocol has a tray, but an icon on D-Bus is lost in
    // an XEmbed tray (and the other way round): ask about the protocol the icon speaks.
    if (SpeaksStatusNotifier())
        return StatusNotifierHostRunning();
    return QSystemTrayIcon::isSystemTrayAvailable();
}

namespace px::qt {

struct TrayWatch::Watchers {
    QObject owner;  // the StatusNotifier watchers' parent
    std::unique_ptr<XEmbedTrayFilter> xembed;
};

TrayWatch::TrayWatch(std::function<void(TrayChange)> onChange)
    : m_watchers(std::make_unique<Watchers>())
{
    if (!g_statusNotifier)
        return;  // no icon has asked for a tray yet
    if (!*g_statusNotifier) {
        auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        if (x11 && x11->display())
            m_watchers->xembed = std::make_unique<XEmbedTrayFilter>(x11->display(), std::move(onChange));
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    auto* watcher = new QDBusServiceWatcher(QLatin1String(kWatcherService), bus,
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration, &m_watchers->owner);
    QObject::connect(watcher, &QDBusServiceWatcher::serviceUnregistered, &m_watchers->owner,
        [onChange] { onChange(TrayChange::Gone); });
    QObject::connect(watcher, &QDBusServiceWatcher::serviceRegistered, &m_watchers->owner,
        [onChange] { onChange(TrayChange::Back); });
    // A host that registers with a watcher already on the bus brings the tray back as well. The
    // bus calls a slot by name; a single-shot timer's start() is one that needs no class of ours.
    auto* hostRegistered = new QTimer(&m_watchers->owner);
    hostRegistered->setSingleShot(true);
    hostRegistered->setInterval(0);
    QObject::connect(hostRegistered, &QTimer::timeout, &m_watchers->owner, [onChange] { onChange(TrayChange::Back); });
    if (!bus.connect(QString(), QLatin1String(kWatcherPath), QLatin1String(kWatcherService),
            QStringLiteral("StatusNotifierHostRegistered"), hostRegistered, SLOT(start())))
        LogDBusFailure("QDBusConnection::connect(StatusNotifierHostRegistered)", bus.lastError());
}

TrayWatch::~TrayWatch() = default;

}  // namespace px::qt
