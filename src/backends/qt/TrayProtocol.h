#pragma once
// Which tray Qt's tray icon reaches. On X11 it speaks one of two protocols: StatusNotifier over
// D-Bus (the trays of KDE, XFCE, LXQt and GNOME's AppIndicator extension) or XEmbed (the older
// docking trays). Qt picks StatusNotifier when a watcher is on the session bus at the process's
// first tray query, XEmbed otherwise, and keeps that choice for the whole run.

#include <functional>
#include <memory>

namespace px::qt {

// True when a tray of the protocol Qt's tray icon speaks is running now, so an icon shown
// there can be reached.
bool TrayIconReachable();

enum class TrayChange {
    Gone,  // the tray went, and took the icons it showed
    Back,  // a tray is there again, holding none of them
};

// Watches the tray of the protocol Qt's tray icon speaks, which TrayIconReachable must have
// been asked about first: a StatusNotifier watcher leaving or joining the session bus (and a
// host registering with it), or a new XEmbed tray announcing itself on the root window, which
// replaces the one before (gone, then back). onChange runs on the GUI thread; for an XEmbed
// tray, before Qt's own tray icon hears of the new tray.
class TrayWatch {
public:
    explicit TrayWatch(std::function<void(TrayChange)> onChange);
    ~TrayWatch();
    TrayWatch(const TrayWatch&) = delete;
    TrayWatch& operator=(const TrayWatch&) = delete;

private:
    struct Watchers;
    std::unique_ptr<Watchers> m_watchers;
};

}  // namespace px::qt
