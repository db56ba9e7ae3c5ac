#pragma once
// Other programs' top-level windows on the X display, and synthetic key presses.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace px::posix {

// The window class the gateway's dialogs have on Windows. On X11 it stands for a dialog window
// (_NET_WM_WINDOW_TYPE_DIALOG or WM_TRANSIENT_FOR) of a process whose image is "java".
inline constexpr char16_t kJavaDialogClass[] = u"SunAwtDialog";

// One connection to the X display named by DISPLAY, opened on first use. Without a display
// (none configured, or Wayland without X) nothing is found and nothing fails.
class X11Desktop {
public:
    X11Desktop();
    ~X11Desktop();
    X11Desktop(const X11Desktop&) = delete;
    X11Desktop& operator=(const X11Desktop&) = delete;

    // The top-level client window whose title (_NET_WM_NAME, else WM_NAME) is exactly title
    // and whose class matches windowClass (kJavaDialogClass, else WM_CLASS instance or class
    // exactly), topmost first.
    std::optional<uint64_t> FindTopWindow(const std::u16string& windowClass, const std::u16string& title);
    // Asks the window manager to activate the window (_NET_ACTIVE_WINDOW), else raises it and
    // gives it the input focus itself; true when the window or one of its children holds the
    // focus within a short wait.
    bool BringToFront(uint64_t window);
    // The space key down and up through XTest, to whichever window has the focus.
    void PressSpaceKey();

private:
    struct Connection;
    Connection* Connect();
    std::unique_ptr<Connection> m_connection;
};

}  // namespace px::posix
