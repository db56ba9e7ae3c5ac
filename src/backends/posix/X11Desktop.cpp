#include "backends/posix/X11Desktop.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "backends/posix/OsFailure.h"
#include "backends/posix/ProcFs.h"
#include "base/Unicode.h"

namespace px::posix {

namespace {

// How long BringToFront waits for the focus to arrive.
constexpr int kActivationWaitMs = 500;
constexpr int kDirectFocusWaitMs = 500;
constexpr int kFocusOfferMs = 100;

// Xlib hands protocol errors to one process-wide handler whose default ends the process.
// The errors our calls meet come from another program's window going away between two
// requests (or, for the focus, not being viewable yet); what a request then returns (no
// property, no attributes) already says so. Each of our calls runs under a trap that ignores
// those, logs any other error with the request it answers, and gives the previous handler back.
int TrapError(Display* display, XErrorEvent* error)
{
    if (error->error_code == BadWindow || error->error_code == BadMatch || error->error_code == BadDrawable)
        return 0;
    char major[16];
    std::snprintf(major, sizeof major, "%d", error->request_code);
    char request[64] = {};
    XGetErrorDatabaseText(display, "XRequest", major, major, request, sizeof request);
    char text[256] = {};
    XGetErrorText(display, error->error_code, text, sizeof text);
    px::posix::LogFailure(request, {}, error->error_code, text);
    return 0;
}

class ErrorTrap {
public:
    explicit ErrorTrap(Display* display)
        : m_display(display)
    {
        XSync(m_display, False);
        m_previous = XSetErrorHandler(TrapError);
    }
    ~ErrorTrap()
    {
        XSync(m_display, False);
        XSetErrorHandler(m_previous);
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

private:
    Display* m_display;
    XErrorHandler m_previous;
};

void SleepMs(int ms)
{
    timespec pause{0, static_cast<long>(ms) * 1000000L};
    nanosleep(&pause, nullptr);
}

std::u16string FromLatin1(std::string_view bytes)
{
    std::u16string text(bytes.size(), u'\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        text[i] = static_cast<unsigned char>(bytes[i]);
    return text;
}

}  // namespace

struct X11Desktop::Connection {
    Display* display = nullptr;
    Window root = 0;
    bool lost = false;  // the server went away: reconnect next time
    bool hasXTest = false;

    Atom clientList = 0;
    Atom clientListStacking = 0;
    Atom supportingWmCheck = 0;
    Atom netWmName = 0;
    Atom utf8String = 0;
    Atom windowType = 0;
    Atom windowTypeDialog = 0;
    Atom netWmPid = 0;
    Atom activeWindow = 0;
    Atom wmState = 0;
    Atom wmProtocols = 0;
    Atom wmTakeFocus = 0;
    Atom netWmPing = 0;
    bool watchingRoot = false;  // the root's substructure events (where ping answers go) are selected

    explicit Connection(Display* opened)
        : display(opened)
        , root(DefaultRootWindow(opened))
    {
        // Without this, losing the server would end the whole program.
        XSetIOErrorExitHandler(
            display, [](Display*, void* self) { static_cast<Connection*>(self)->lost = true; }, this);
        // Each atom beside the member it goes into, all interned in one round trip.
        static constexpr struct {
            const char* name;
            Atom Connection::*member;
        } kAtoms[] = {
            {"_NET_CLIENT_LIST", &Connection::clientList},
            {"_NET_CLIENT_LIST_STACKING", &Connection::clientListStacking},
            {"_NET_SUPPORTING_WM_CHECK", &Connection::supportingWmCheck},
            {"_NET_WM_NAME", &Connection::netWmName},
            {"UTF8_STRING", &Connection::utf8String},
            {"_NET_WM_WINDOW_TYPE", &Connection::windowType},
            {"_NET_WM_WINDOW_TYPE_DIALOG", &Connection::windowTypeDialog},
            {"_NET_WM_PID", &Connection::netWmPid},
            {"_NET_ACTIVE_WINDOW", &Connection::activeWindow},
            {"WM_STATE", &Connection::wmState},
            {"WM_PROTOCOLS", &Connection::wmProtocols},
            {"WM_TAKE_FOCUS", &Connection::wmTakeFocus},
            {"_NET_WM_PING", &Connection::netWmPing},
        };
        char* names[std::size(kAtoms)];
        for (size_t i = 0; i < std::size(kAtoms); ++i)
            names[i] = const_cast<char*>(kAtoms[i].name);
        Atom atoms[std::size(kAtoms)] = {};
        XInternAtoms(display, names, static_cast<int>(std::size(kAtoms)), False, atoms);
        for (size_t i = 0; i < std::size(kAtoms); ++i)
            this->*kAtoms[i].member = atoms[i];
        int event = 0, error = 0, major = 0, minor = 0;
        hasXTest = XTestQueryExtension(display, &event, &error, &major, &minor);
    }
    ~Connection() { XCloseDisplay(display); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The raw value of a property of the given type (AnyPropertyType: any); nullopt when
    // the window has no such property or does not exist.
    std::optional<std::string> Property(
        Window window, Atom property, Atom type, int* format = nullptr, Atom* actualTypeOut = nullptr) const
    {
        Atom actualType = None;
        int actualFormat = 0;
        unsigned long items = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        const int status = XGetWindowProperty(
            display, window, property, 0, LONG_MAX / 4, False, type, &actualType, &actualFormat, &items, &after, &data);
        if (status != Success || actualType == None || (type != AnyPropertyType && actualType != type)) {
            if (data)
                XFree(data);
            return std::nullopt;
        }
        // Xlib returns 32-bit items as longs.
        const size_t itemSize = actualFormat == 32 ? sizeof(long) : static_cast<size_t>(actualFormat / 8);
        std::string value(reinterpret_cast<const char*>(data), items * itemSize);
        XFree(data);
        if (format)
            *format = actualFormat;
        if (actualTypeOut)
            *actualTypeOut = actualType;
        return value;
    }

    // A property holding 32-bit items (windows, atoms, cardinals).
    std::vector<unsigned long> Items(Window window, Atom property, Atom type) const
    {
        int format = 0;
        const std::optional<std::string> raw = Property(window, property, type, &format);
        std::vector<unsigned long> items;
        if (!raw || format != 32)
            return items;
        items.resize(raw->size() / sizeof(long));
        for (size_t i = 0; i < items.size(); ++i)
            items[i] = reinterpret_cast<const unsigned long*>(raw->data())[i];
        return items;
    }

    // A window manager is running when the root's check window exists and names itself.
    bool WindowManagerIsLive() const
    {
        const std::vector<unsigned long> check = Items(root, supportingWmCheck, XA_WINDOW);
        if (check.empty() || check[0] == 0)
            return false;
        const std::vector<unsigned long> self = Items(check[0], supportingWmCheck, XA_WINDOW);
        return !self.empty() && self[0] == check[0];
    }

    bool HasWmState(Window window) const { return Property(window, wmState, AnyPropertyType).has_value(); }

    std::vector<Window> Children(Window window) const
    {
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        std::vector<Window> result;
        if (XQueryTree(display, window, &rootReturn, &parent, &children, &count) && children)
            result.assign(children, children + count);
        if (children)
            XFree(children);
        return result;
    }

    // The client inside a window manager's frame: the first window down the tree with WM_STATE.
    Window ClientOf(Window frame) const
    {
        if (HasWmState(frame))
            return frame;
        std::vector<Window> level = Children(frame);
        for (int depth = 0; depth < 3 && !level.empty(); ++depth) {
            std::vector<Window> next;
            for (const Window child : level) {
                if (HasWmState(child))
                    return child;
                const std::vector<Window> grandchildren = Children(child);
                next.insert(next.end(), grandchildren.begin(), grandchildren.end());
            }
            level.swap(next);
        }
        return frame;
    }

    // Top-level client windows, topmost first.
    std::vector<Window> TopLevelWindows() const
    {
        std::vector<Window> windows;
        if (WindowManagerIsLive()) {
            std::vector<unsigned long> list = Items(root, clientListStacking, XA_WINDOW);
            if (list.empty())
                list = Items(root, clientList, XA_WINDOW);
            windows.assign(list.rbegin(), list.rend());  // both lists run bottom to top / oldest first
            return windows;
        }
        std::vector<Window> children = Children(root);  // bottom to top
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            XWindowAttributes attributes;
            if (XGetWindowAttributes(display, *it, &attributes) && attributes.map_state == IsViewable)
                windows.push_back(ClientOf(*it));
        }
        return windows;
    }

    std::optional<std::u16string> Title(Window window) const
    {
        if (std::optional<std::string> name = Property(window, netWmName, utf8String))
            return px::FromUtf8(*name);
        XTextProperty text{};
        if (!XGetWMName(display, window, &text) || !text.value)
            return std::nullopt;
        std::optional<std::u16string> title;
        const std::string_view bytes(reinterpret_cast<const char*>(text.value), text.nitems);
        if (text.encoding == XA_STRING) {
            title = FromLatin1(bytes);
        } else if (text.encoding == utf8String) {
            title = px::FromUtf8(bytes);
        } else {
            // COMPOUND_TEXT and other encodings: Xlib converts them.
            char** list = nullptr;
            int count = 0;
            if (Xutf8TextPropertyToTextList(display, &text, &list, &count) >= Success && list) {
                std::string joined;
                for (int i = 0; i < count; ++i)
                    joined += list[i];
                title = px::FromUtf8(joined);
                XFreeStringList(list);
            }
        }
        XFree(text.value);
        return title;
    }

    bool IsDialog(Window window) const
    {
        for (const unsigned long type : Items(window, windowType, XA_ATOM))
            if (type == windowTypeDialog)
                return true;
        Window owner = 0;
        return XGetTransientForHint(display, window, &owner) && owner != 0;
    }

    // The class part of WM_CLASS: Latin-1 by the book, but many programs write UTF-8 into it.
    std::u16string ClassName(Window window) const
    {
        XClassHint hint{};
        if (!XGetClassHint(display, window, &hint))
            return {};
        std::u16string name;
        if (hint.res_class) {
            const std::string_view bytes(hint.res_class);
            name = px::DecodeUtf8Strict(bytes, false).value_or(FromLatin1(bytes));
        }
        if (hint.res_name)
            XFree(hint.res_name);
        if (hint.res_class)
            XFree(hint.res_class);
        return name;
    }

    // The process that says it shows the window (_NET_WM_PID), if it still runs here.
    ProcessEntry Owner(Window window) const
    {
        const std::vector<unsigned long> pid = Items(window, netWmPid, XA_CARDINAL);
        if (pid.empty() || pid[0] == 0 || pid[0] > UINT32_MAX)
            return {};
        return ReadProcess("/proc", static_cast<uint32_t>(pid[0])).value_or(ProcessEntry{});
    }

    // Gives the window the focus the way a window manager does (ICCCM 4.1.7): set directly
    // unless its WM_HINTS refuse input, and offered through WM_TAKE_FOCUS when it takes part
    // in focus handling, as Java's windows do (they move the focus to a proxy child).
    void GiveFocus(Window window) const
    {
        bool acceptsInput = true;
        if (XWMHints* hints = XGetWMHints(display, window)) {
            if (hints->flags & InputHint)
                acceptsInput = hints->input != False;
            XFree(hints);
        }
        if (acceptsInput)
            XSetInputFocus(display, window, RevertToParent, CurrentTime);
        Atom* protocols = nullptr;
        int count = 0;
        if (XGetWMProtocols(display, window, &protocols, &count) && protocols) {
            if (std::find(protocols, protocols + count, wmTakeFocus) != protocols + count) {
                XEvent event{};
                event.xclient.type = ClientMessage;
                event.xclient.window = window;
                event.xclient.message_type = wmProtocols;
                event.xclient.format = 32;
                event.xclient.data.l[0] = static_cast<long>(wmTakeFocus);
                event.xclient.data.l[1] = CurrentTime;
                XSendEvent(display, window, False, NoEventMask, &event);
            }
            XFree(protocols);
        }
    }

    // The focus is on window or on a window inside it (Java focuses a proxy child).
    bool HoldsFocus(Window window) const
    {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(display, &focus, &revert);
        for (int depth = 0; depth < 32 && focus != None && focus != PointerRoot; ++depth) {
            if (focus == window)
                return true;
            if (focus == root)
                return false;
            Window rootReturn = 0, parent = 0;
            Window* children = nullptr;
            unsigned int count = 0;
            if (!XQueryTree(display, focus, &rootReturn, &parent, &children, &count))
                return false;
            if (children)
                XFree(children);
            focus = parent;
        }
        return false;
    }

    bool WaitForFocus(Window window, int timeoutMs) const
    {
        constexpr int kStepMs = 10;
        for (int waited = 0;; waited += kStepMs) {
            if (HoldsFocus(window))
                return true;
            if (waited >= timeoutMs || lost)
                return false;
            SleepMs(kStepMs);
        }
    }
};

X11Desktop::X11Desktop() = default;
X11Desktop::~X11Desktop() = default;

X11Desktop::Connection* X11Desktop::Connect()
{
    if (m_connection && m_connection->lost)
        m_connection.reset();
    if (!m_connection) {
        errno = 0;
        Display* display = XOpenDisplay(nullptr);
        if (!display) {
            // Without DISPLAY there is no X session to reach, which is no failure. A display
            // that cannot be reached is logged once, not at every check until it can. Xlib
            // leaves errno at 0 when it found no address to connect to.
            const char* name = std::getenv("DISPLAY");
            if (name && *name && !m_unreachableLogged) {
                if (errno != 0)
                    LogOsFailure("XOpenDisplay", name, errno);
                else
                    LogFailure("XOpenDisplay", name, 0, "no address to connect to");
            }
            m_unreachableLogged = true;
            return nullptr;
        }
        m_unreachableLogged = false;
        m_connection = std::make_unique<Connection>(display);
    }
    return m_connection.get();
}

void X11Desktop::PingWindows(const std::vector<uint32_t>& pids)
{
    // The answers to the last pings are dropped: a new look begins.
    m_pinged.clear();
    Connection* c = Connect();
    if (!c)
        return;
    ErrorTrap trap(c->display);
    if (!c->watchingRoot) {
        // A client answers a ping by sending it back to the root window, to those who watch
        // its substructure (EWMH); watching it costs an event per window change, drained below.
        XWindowAttributes attributes{};
        XGetWindowAttributes(c->display, c->root, &attributes);
        XSelectInput(c->display, c->root, attributes.your_event_mask | SubstructureNotifyMask);
        c->watchingRoot = true;
    }
    DrainPingAnswers();
    for (const Window window : c->TopLevelWindows()) {
        const std::vector<unsigned long> pid = c->Items(window, c->netWmPid, XA_CARDINAL);
        if (pid.empty() || std::find(pids.begin(), pids.end(), pid[0]) == pids.end())
            continue;
        // A window that does not list _NET_WM_PING cannot be asked, and is not judged.
        Atom* protocols = nullptr;
        int count = 0;
        bool takesPing = false;
        if (XGetWMProtocols(c->display, window, &protocols, &count) && protocols) {
            takesPing = std::find(protocols, protocols + count, c->netWmPing) != protocols + count;
            XFree(protocols);
        }
        if (!takesPing)
            continue;
        XEvent ping{};
        ping.xclient.type = ClientMessage;
        ping.xclient.window = window;
        ping.xclient.message_type = c->wmProtocols;
        ping.xclient.format = 32;
        ping.xclient.data.l[0] = static_cast<long>(c->netWmPing);
        ping.xclient.data.l[1] = CurrentTime;
        ping.xclient.data.l[2] = static_cast<long>(window);
        XSendEvent(c->display, window, False, NoEventMask, &ping);
        m_pinged[window] = false;
    }
    XFlush(c->display);
}

void X11Desktop::DrainPingAnswers()
{
    Connection* c = m_connection.get();
    if (!c || c->lost)
        return;
    while (XPending(c->display) > 0) {
        XEvent event{};
        XNextEvent(c->display, &event);
        if (event.type != ClientMessage || event.xclient.message_type != c->wmProtocols
            || static_cast<Atom>(event.xclient.data.l[0]) != c->netWmPing)
            continue;
        const auto it = m_pinged.find(static_cast<uint64_t>(event.xclient.data.l[2]));
        if (it != m_pinged.end())
            it->second = true;
    }
}

WindowAnswer X11Desktop::PingAnswers()
{
    DrainPingAnswers();
    WindowAnswer answer;
    for (const auto& [window, answered] : m_pinged) {
        ++answer.judged;
        if (!answered)
            ++answer.unanswered;
    }
    return answer;
}

std::vector<TopWindow> X11Desktop::FindTopWindows(const std::u16string& title)
{
    std::vector<TopWindow> found;
    Connection* c = Connect();
    if (!c)
        return found;
    ErrorTrap trap(c->display);
    for (const Window window : c->TopLevelWindows()) {
        if (c->lost)
            break;
        const std::optional<std::u16string> windowTitle = c->Title(window);
        if (!windowTitle || *windowTitle != title)
            continue;
        found.push_back({window, c->ClassName(window), c->IsDialog(window), c->Owner(window)});
    }
    return found;
}

bool X11Desktop::BringToFront(uint64_t id)
{
    Connection* c = Connect();
    if (!c)
        return false;
    ErrorTrap trap(c->display);
    const auto window = static_cast<Window>(id);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(c->display, window, &attributes))
        return false;
    if (c->WindowManagerIsLive()) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = c->activeWindow;
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2;  // on the user's behalf: no focus-stealing prevention
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(c->display, c->root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
        XFlush(c->display);
        if (c->WaitForFocus(window, kActivationWaitMs))
            return true;
    }
    // Without a window manager, or when it did not act: raise and focus the window ourselves,
    // offering the focus again a few times (a window that was just mapped may not take it yet).
    for (int waited = 0; waited < kDirectFocusWaitMs; waited += kFocusOfferMs) {
        XRaiseWindow(c->display, window);
        c->GiveFocus(window);
        XSync(c->display, False);
        if (c->WaitForFocus(window, kFocusOfferMs))
            return true;
    }
    return false;
}

void X11Desktop::PressSpaceKey()
{
    Connection* c = Connect();
    if (!c || !c->hasXTest)
        return;
    const KeyCode space = XKeysymToKeycode(c->display, XK_space);
    if (space == 0)
        return;
    ErrorTrap trap(c->display);
    XTestFakeKeyEvent(c->display, space, True, CurrentTime);
    XTestFakeKeyEvent(c->display, space, False, CurrentTime);
    XSync(c->display, False);
}

}  // namespace px::posix
