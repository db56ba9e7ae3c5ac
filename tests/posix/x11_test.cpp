// Window lookup, bringing to front and the space key on a real X server: each test on a
// desktop of its own (scripts/with-x), so no other test takes its focus or its keys.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "PosixTestSupport.h"
#include "TempDir.h"
#include "backends/posix/PosixSystem.h"
#include "base/Unicode.h"
#include "guard/GatewayDialog.h"

namespace {

std::u16string U16(const std::string& utf8) { return px::FromUtf8(utf8); }

struct WindowRecipe {
    std::string instance;
    std::string windowClass;
    std::optional<std::string> netWmName;  // UTF-8
    std::optional<std::string> wmNameLatin1;
    bool dialog = false;  // _NET_WM_WINDOW_TYPE_DIALOG
    std::optional<Window> transientFor = std::nullopt;
    bool withPid = true;  // _NET_WM_PID: this process
    bool takesPing = false;  // _NET_WM_PING in WM_PROTOCOLS
};

// Bounds that only a fault reaches, however loaded the machine is.
constexpr int kWindowWaitMs = 30000;
constexpr int kJavaWaitMs = 90000;

bool HasName(const ProcessEntry& process, const std::u16string& name)
{
    return std::any_of(process.names.begin(), process.names.end(),
        [&](const ProcessName& n) { return n.text == name && !n.isPrefix; });
}

class X11Test : public ::testing::Test {
protected:
    virtual pxtest::PrivateDesktop::WindowManager DesktopWindowManager() const
    {
        return pxtest::PrivateDesktop::WindowManager::Openbox;
    }

    void SetUp() override
    {
        m_desktop = std::make_unique<pxtest::PrivateDesktop>(DesktopWindowManager());
        ASSERT_FALSE(m_desktop->Name().empty()) << "no private desktop (scripts/with-x)";
        m_display = XOpenDisplay(nullptr);
        ASSERT_NE(m_display, nullptr);
    }
    void TearDown() override
    {
        if (m_display)
            XCloseDisplay(m_display);
    }

    Window Create(const WindowRecipe& recipe)
    {
        const Window window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 40, 40, 240, 120, 0, 0,
            WhitePixel(m_display, DefaultScreen(m_display)));
        XClassHint hint{const_cast<char*>(recipe.instance.c_str()), const_cast<char*>(recipe.windowClass.c_str())};
        XSetClassHint(m_display, window, &hint);
        XWMHints wmHints{};
        wmHints.flags = InputHint;
        wmHints.input = True;
        XSetWMHints(m_display, window, &wmHints);
        if (recipe.netWmName)
            SetProperty(window, "_NET_WM_NAME", XInternAtom(m_display, "UTF8_STRING", False), 8,
                recipe.netWmName->data(), recipe.netWmName->size());
        if (recipe.wmNameLatin1)
            SetProperty(window, "WM_NAME", XA_STRING, 8, recipe.wmNameLatin1->data(), recipe.wmNameLatin1->size());
        if (recipe.dialog) {
            const long dialogType = static_cast<long>(XInternAtom(m_display, "_NET_WM_WINDOW_TYPE_DIALOG", False));
            SetProperty(window, "_NET_WM_WINDOW_TYPE", XA_ATOM, 32, &dialogType, 1);
        }
        if (recipe.transientFor)
            XSetTransientForHint(m_display, window, *recipe.transientFor);
        if (recipe.withPid) {
            const long pid = getpid();
            SetProperty(window, "_NET_WM_PID", XA_CARDINAL, 32, &pid, 1);
        }
        if (recipe.takesPing) {
            Atom protocols[] = {XInternAtom(m_display, "WM_DELETE_WINDOW", False), PingAtom()};
            XSetWMProtocols(m_display, window, protocols, 2);
        }
        XSelectInput(m_display, window, KeyPressMask | KeyReleaseMask | FocusChangeMask);
        XMapWindow(m_display, window);
        XFlush(m_display);
        return window;
    }

    Atom PingAtom() const { return XInternAtom(m_display, "_NET_WM_PING", False); }
    // The window lists _NET_WM_PING in its WM_PROTOCOLS.
    bool TakesPing(Window window) const
    {
        Atom* protocols = nullptr;
        int count = 0;
        if (!XGetWMProtocols(m_display, window, &protocols, &count) || !protocols)
            return false;
        const bool found = std::find(protocols, protocols + count, PingAtom()) != protocols + count;
        XFree(protocols);
        return found;
    }

    void SetProperty(Window window, const char* name, Atom type, int format, const void* data, size_t count)
    {
        XChangeProperty(m_display, window, XInternAtom(m_display, name, False), type, format, PropModeReplace,
            static_cast<const unsigned char*>(data), static_cast<int>(count));
    }

    // The windows with this title once there are count of them (the window manager lists
    // new windows a moment after they are mapped), or what there is after timeoutMs.
    std::vector<TopWindow> WaitForWindows(const std::u16string& title, size_t count = 1, int timeoutMs = kWindowWaitMs)
    {
        std::vector<TopWindow> found;
        pxtest::WaitUntil([&] { return (found = m_system.FindTopWindows(title)).size() >= count; }, timeoutMs);
        return found;
    }
    std::optional<ForeignWindow> WaitForWindow(const std::u16string& title, int timeoutMs = kWindowWaitMs)
    {
        const std::vector<TopWindow> found = WaitForWindows(title, 1, timeoutMs);
        return found.empty() ? std::nullopt : std::optional<ForeignWindow>(found.front().handle);
    }

    // Waits for a press and a release of the space key in window.
    bool SpaceArrives(Window window, int timeoutMs)
    {
        bool pressed = false;
        return pxtest::WaitUntil(
            [&] {
                while (XPending(m_display)) {
                    XEvent event;
                    XNextEvent(m_display, &event);
                    if ((event.type != KeyPress && event.type != KeyRelease) || event.xkey.window != window
                        || XLookupKeysym(&event.xkey, 0) != XK_space)
                        continue;
                    if (event.type == KeyPress)
                        pressed = true;
                    else if (pressed)
                        return true;
                }
                return false;
            },
            timeoutMs);
    }

    std::unique_ptr<pxtest::PrivateDesktop> m_desktop;  // declared first: it outlives every connection
    Display* m_display = nullptr;
    PosixSystem m_system;
    const std::string m_tag = std::to_string(getpid());
};

TEST_F(X11Test, ReportsEveryWindowWithExactlyThisTitleWithItsClassTypeAndOwner)
{
    const std::string title = "Px Title " + m_tag;
    const Window plain = Create({"pxinst" + m_tag, "PxClass" + m_tag, title, title});
    const Window dialog = Create({"pxdialog" + m_tag, "PxDialog" + m_tag, title, std::nullopt, true});
    // A class in UTF-8, a title only in WM_NAME in Latin-1 ("Überprüfung"), a class in Latin-1.
    const Window chinese = Create({"pxcn" + m_tag, "PxCn窗口" + m_tag, "警告 " + m_tag, std::nullopt});
    const Window latin1 = Create({"pxl1" + m_tag, "PxL1\xC4" + m_tag, std::nullopt,
        "\xDC"
        "berpr\xFC"
        "fung "
            + m_tag});
    // Transient for another window, with no _NET_WM_PID.
    const Window transient
        = Create({"pxtr" + m_tag, "PxTr" + m_tag, "Px Transient " + m_tag, std::nullopt, false, plain, false});

    struct Expected {
        Window handle;
        std::string windowClass;
        bool isDialog;
        bool ownedByThisProcess;
    };
    const struct {
        std::string title;
        std::vector<Expected> windows;
    } cases[] = {
        {title, {{plain, "PxClass" + m_tag, false, true}, {dialog, "PxDialog" + m_tag, true, true}}},
        {"警告 " + m_tag, {{chinese, "PxCn窗口" + m_tag, false, true}}},
        {"Überprüfung " + m_tag, {{latin1, "PxL1Ä" + m_tag, false, true}}},
        {"Px Transient " + m_tag, {{transient, "PxTr" + m_tag, true, false}}}, {"Px Title", {}},  // a part of the title
        {title + " ", {}}, {"px title " + m_tag, {}},  // titles are exact
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        std::vector<TopWindow> found = WaitForWindows(U16(c.title), c.windows.size());
        ASSERT_EQ(found.size(), c.windows.size());
        std::sort(
            found.begin(), found.end(), [](const TopWindow& a, const TopWindow& b) { return a.handle < b.handle; });
        for (size_t i = 0; i < found.size(); ++i) {
            const Expected& expected = c.windows[i];
            EXPECT_EQ(found[i].handle, expected.handle);
            EXPECT_EQ(found[i].windowClass, U16(expected.windowClass));
            EXPECT_EQ(found[i].isDialog, expected.isDialog);
            if (expected.ownedByThisProcess) {
                EXPECT_EQ(found[i].owner.pid, static_cast<uint32_t>(getpid()));
                EXPECT_TRUE(HasName(found[i].owner, u"posix_tests"));
            } else {
                EXPECT_EQ(found[i].owner.pid, 0u);
                EXPECT_TRUE(found[i].owner.names.empty());
            }
        }
    }
}

TEST_F(X11Test, SpaceKeyReachesTheWindowBroughtToFront)
{
    const std::string title = "Px Keys " + m_tag;
    const Window target = Create({"pxkeys" + m_tag, "PxKeys" + m_tag, title, title});
    ASSERT_EQ(WaitForWindow(U16(title)), target);
    // Another window takes the focus first.
    const Window other = Create({"pxcover" + m_tag, "PxCover" + m_tag, "Px Cover " + m_tag, std::nullopt});
    ASSERT_EQ(WaitForWindow(U16("Px Cover " + m_tag)), other);
    ASSERT_TRUE(m_system.BringToFront(other));

    ASSERT_TRUE(m_system.BringToFront(target));
    m_system.PressSpaceKey();
    EXPECT_TRUE(SpaceArrives(target, kWindowWaitMs));

    XDestroyWindow(m_display, target);
    XSync(m_display, False);
    EXPECT_FALSE(m_system.BringToFront(target));
}

TEST_F(X11Test, AJavaDialogIsReportedAsTheGatewaysDialogAndTheSpaceKeyPressesItsButton)
{
#if defined(PX_JAVA) && defined(PX_GATEWAY_DIALOG_JAR)
    const std::string dialogTitle = "Warning " + m_tag;
    const std::string frameTitle = "Gateway " + m_tag;
    const testsupport::TempDir folder;
    const std::string focused = (folder.Path() / "focused").string();
    // A window of this process that takes pings, up before Java's, so that they take the focus.
    const std::string pingTitle = "Px Ping " + m_tag;
    const Window pinged
        = Create({"pxping" + m_tag, "PxPing" + m_tag, pingTitle, std::nullopt, false, std::nullopt, true, true});
    ASSERT_EQ(WaitForWindow(U16(pingTitle)), pinged);
    pxtest::ChildProcess java(
        PX_JAVA, {"java", "-cp", PX_GATEWAY_DIALOG_JAR, "GatewayDialog", dialogTitle, frameTitle, focused});
    ASSERT_TRUE(java.Started());
    const std::vector<TopWindow> dialogs = WaitForWindows(U16(dialogTitle), 1, kJavaWaitMs);
    ASSERT_EQ(dialogs.size(), 1u);
    const std::vector<TopWindow> frames = WaitForWindows(U16(frameTitle), 1, kJavaWaitMs);
    ASSERT_EQ(frames.size(), 1u);

    // Java names its windows' class after the program's main class; the dialog is a dialog,
    // the main frame is not, and both belong to the java process.
    for (const TopWindow& window : {dialogs[0], frames[0]}) {
        EXPECT_EQ(window.windowClass, u"GatewayDialog");
        EXPECT_EQ(window.owner.pid, static_cast<uint32_t>(java.Pid()));
        EXPECT_TRUE(HasName(window.owner, u"java"));
    }
    EXPECT_TRUE(dialogs[0].isDialog);
    EXPECT_FALSE(frames[0].isDialog);

    // The JDK's windows do not take _NET_WM_PING (their WM_PROTOCOLS list WM_DELETE_WINDOW and
    // WM_TAKE_FOCUS only), so the window probe does not judge them; the window of this process
    // that takes pings, asked with them, is judged.
    for (const TopWindow& window : {dialogs[0], frames[0]})
        EXPECT_FALSE(TakesPing(static_cast<Window>(window.handle)));
    m_system.AskWindows({static_cast<uint32_t>(java.Pid()), static_cast<uint32_t>(getpid())});
    const WindowAnswer answer = m_system.WindowsAnswered();
    EXPECT_EQ(answer.judged, 1);
    EXPECT_EQ(answer.unanswered, 1);  // this test does not read its events
    EXPECT_EQ(FindGatewayDialog(m_system, U16(dialogTitle)), dialogs[0].handle);
    EXPECT_EQ(FindGatewayDialog(m_system, U16(frameTitle)), std::nullopt);

    // Once its button holds the focus, the dialog takes a space key press as a click. Java
    // drops a key that arrives while it is still moving its own focus after an activation (the
    // X focus is already on the dialog then), which is why the guard brings the dialog to the
    // front and presses at every check while the dialog is up: so does this test, a second apart.
    ASSERT_TRUE(pxtest::WaitUntil([&] { return access(focused.c_str(), F_OK) == 0; }, kJavaWaitMs))
        << "the dialog's button never took the focus";
    std::optional<int> status;
    for (int check = 0; check < kJavaWaitMs / 1000 && !status; ++check) {
        if (!m_system.BringToFront(dialogs[0].handle))
            break;  // the dialog is gone: the program is ending
        m_system.PressSpaceKey();
        status = java.WaitForExit(1000);
    }
    if (!status)
        status = java.WaitForExit(kJavaWaitMs);
    ASSERT_TRUE(status) << "the dialog's button was not pressed";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
#else
    GTEST_SKIP() << "no Java development kit at build time";
#endif
}

class X11WithoutWindowManagerTest : public X11Test {
protected:
    pxtest::PrivateDesktop::WindowManager DesktopWindowManager() const override
    {
        return pxtest::PrivateDesktop::WindowManager::Absent;
    }
};

// Another program's window that takes the focus only when offered it (no input in its
// WM_HINTS, WM_TAKE_FOCUS in its WM_PROTOCOLS: ICCCM's globally active model, as Java's
// windows have it), and then gives it to a child window of its own. It runs in a process of
// its own with its own connection, reports its window's id and, once the space key has come
// down and up in its child, a 'k'.
class FocusTaker {
public:
    FocusTaker(const std::string& windowClass, const std::string& title)
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            close(fds[0]);
            Serve(fds[1], windowClass, title);
        }
        close(fds[1]);
        m_report = fds[0];
        uint64_t window = 0;
        if (m_pid > 0 && ReadExactly(&window, sizeof window))
            m_window = window;
    }
    ~FocusTaker()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) { }
        }
        if (m_report >= 0)
            close(m_report);
    }
    FocusTaker(const FocusTaker&) = delete;
    FocusTaker& operator=(const FocusTaker&) = delete;

    std::optional<Window> TopWindow() const { return m_window; }
    bool SpaceArrived(int timeoutMs)
    {
        pollfd ready{m_report, POLLIN, 0};
        char key = 0;
        return poll(&ready, 1, timeoutMs) == 1 && ReadExactly(&key, 1) && key == 'k';
    }

private:
    bool ReadExactly(void* data, size_t size)
    {
        ssize_t n;
        do {
            n = read(m_report, data, size);
        } while (n < 0 && errno == EINTR);
        return n == static_cast<ssize_t>(size);
    }

    [[noreturn]] static void Serve(int report, const std::string& windowClass, const std::string& title)
    {
        Display* display = XOpenDisplay(nullptr);
        if (!display)
            _exit(1);
        const Window top = XCreateSimpleWindow(display, DefaultRootWindow(display), 40, 40, 240, 120, 0, 0, 0);
        const Window proxy = XCreateSimpleWindow(display, top, 0, 0, 1, 1, 0, 0, 0);
        XClassHint hint{const_cast<char*>(windowClass.c_str()), const_cast<char*>(windowClass.c_str())};
        XSetClassHint(display, top, &hint);
        XChangeProperty(display, top, XInternAtom(display, "_NET_WM_NAME", False),
            XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
            reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
        XWMHints wmHints{};
        wmHints.flags = InputHint;
        wmHints.input = False;
        XSetWMHints(display, top, &wmHints);
        Atom takeFocus = XInternAtom(display, "WM_TAKE_FOCUS", False);
        XSetWMProtocols(display, top, &takeFocus, 1);
        XSelectInput(display, proxy, KeyPressMask | KeyReleaseMask);
        XMapWindow(display, proxy);
        XMapWindow(display, top);
        XSync(display, False);
        const uint64_t id = top;
        (void)!write(report, &id, sizeof id);

        const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
        bool spaceDown = false;
        for (;;) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == ClientMessage && event.xclient.message_type == protocols
                && static_cast<Atom>(event.xclient.data.l[0]) == takeFocus) {
                XSetInputFocus(display, proxy, RevertToParent, static_cast<Time>(event.xclient.data.l[1]));
                XFlush(display);
            } else if ((event.type == KeyPress || event.type == KeyRelease)
                && XLookupKeysym(&event.xkey, 0) == XK_space) {
                if (event.type == KeyPress)
                    spaceDown = true;
                else if (spaceDown)
                    (void)!write(report, "k", 1);
            }
        }
    }

    pid_t m_pid = -1;
    int m_report = -1;
    std::optional<Window> m_window;
};

TEST_F(X11WithoutWindowManagerTest, AWindowThatTakesTheFocusItselfIsOfferedIt)
{
    const std::string title = "Px Offer " + m_tag;
    FocusTaker taker("pxtaker" + m_tag, title);
    ASSERT_TRUE(taker.TopWindow());
    ASSERT_EQ(WaitForWindow(U16(title)), *taker.TopWindow());

    // With no window manager to offer it, the focus comes only from our own offer.
    ASSERT_TRUE(m_system.BringToFront(*taker.TopWindow()));
    m_system.PressSpaceKey();
    EXPECT_TRUE(taker.SpaceArrived(kWindowWaitMs));
}

TEST(NoDisplay, NothingIsFoundAndNothingFails)
{
    const pxtest::ScopedEnv display("DISPLAY", std::nullopt);
    PosixSystem system;
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(system.FindTopWindows(u"Warning").empty());
    EXPECT_FALSE(system.BringToFront(0x400001));
    system.PressSpaceKey();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");  // no X session is no failure
}

// A display that is named but cannot be reached is logged once, not at every try.
TEST(NoDisplay, AnUnreachableDisplayIsLoggedOnce)
{
    // No server listens on display 4711 (the tests' own desktops use 91 to 140).
    const pxtest::ScopedEnv display("DISPLAY", ":4711");
    PosixSystem system;
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(system.FindTopWindows(u"Warning").empty());
    EXPECT_FALSE(system.BringToFront(0x400001));
    system.PressSpaceKey();
    const std::string logged = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(logged.starts_with("perennix: XOpenDisplay :4711 failed: ") && logged.find('\n') == logged.size() - 1)
        << logged;
}

}  // namespace
