#pragma once
// Other programs' top-level windows on the X display, and synthetic key presses.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/System.h"

namespace px::posix {

// One connection to the X display named by DISPLAY, opened on first use. Without a display
// (none configured, or Wayland without X) nothing is found and nothing fails.
class X11Desktop {
public:
    X11Desktop();
    ~X11Desktop();
    X11Desktop(const X11Desktop&) = delete;
    X11Desktop& operator=(const X11Desktop&) = delete;

    // The top-level client windows whose title (_NET_WM_NAME, else WM_NAME) is exactly title,
    // topmost first, each with the class part of its WM_CLASS, whether it is a dialog
    // (_NET_WM_WINDOW_TYPE_DIALOG or WM_TRANSIENT_FOR) and the process of its _NET_WM_PID
    // with every name.
    std::vector<TopWindow> FindTopWindows(const std::u16string& title);
    // Asks the window manager to activate the window (_NET_ACTIVE_WINDOW), else raises it and
    // gives it the input focus itself; true when the window or one of its children holds the
    // focus within a short wait.
    bool BringToFront(uint64_t window);
    // The space key down and up through XTest, to whichever window has the focus.
    void PressSpaceKey();
    // Sends _NET_WM_PING to the top-level windows whose _NET_WM_PID is one of pids and that
    // list _NET_WM_PING in WM_PROTOCOLS; PingAnswers, later, says how many answered.
    void PingWindows(const std::vector<uint32_t>& pids);
    WindowAnswer PingAnswers();

private:
    struct Connection;
    Connection* Connect();
    std::unique_ptr<Connection> m_connection;
    void DrainPingAnswers();
    std::map<uint64_t, bool> m_pinged;  // the windows pinged last, and whether each answered
    bool m_unreachableLogged = false;  // the display could not be reached; said once
};

}  // namespace px::posix
