#pragma once
// Which tray Qt's tray icon reaches. On X11 it speaks one of two protocols: StatusNotifier over
// D-Bus (the trays of KDE, XFCE, LXQt and GNOME's AppIndicator extension) or XEmbed (the older
// docking trays). Qt picks StatusNotifier when a watcher is on the session bus at the process's
// first tray query, XEmbed otherwise, and keeps that choice for the whole run.

namespace px::qt {

// True when a tray of the protocol Qt's tray icon speaks is running now, so an icon shown
// there can be reached.
bool TrayIconReachable();

}  // namespace px::qt
