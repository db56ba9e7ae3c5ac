// A guarded program for the health probes' end-to-end tests, which stays alive whatever it
// stops doing:
//   px_probe_helper tcp PORT SECONDS
//     listens on 127.0.0.1:PORT and takes connections for SECONDS (0: for ever), then closes
//     its listening socket and sleeps until it is killed: alive, no longer accepting.
//   px_probe_helper x11 SECONDS
//     shows a window that lists _NET_WM_PING and answers pings for SECONDS, then stops reading
//     its events (a blocked event loop) and sleeps until it is killed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

int ServeTcp(int port, int seconds)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0) {
        std::perror("px_probe_helper");
        return 1;
    }
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (seconds > 0 && now.tv_sec - start.tv_sec >= seconds)
            break;
        pollfd watch{fd, POLLIN, 0};
        if (poll(&watch, 1, 200) == 1) {
            const int connection = accept(fd, nullptr, nullptr);
            if (connection >= 0)
                close(connection);
        }
    }
    close(fd);
    for (;;)
        pause();
}

int ServeWindow(int seconds)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "px_probe_helper: no display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    const Window window = XCreateSimpleWindow(display, root, 0, 0, 200, 100, 0, 0, 0xFFFFFF);
    Atom protocols[] = {XInternAtom(display, "WM_DELETE_WINDOW", False), XInternAtom(display, "_NET_WM_PING", False)};
    XSetWMProtocols(display, window, protocols, 2);
    const long pid = getpid();
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
        reinterpret_cast<const unsigned char*>(&pid), 1);
    XStoreName(display, window, "px_probe_helper");
    XMapWindow(display, window);
    XFlush(display);
    const Atom wmProtocols = XInternAtom(display, "WM_PROTOCOLS", False);
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (seconds > 0 && now.tv_sec - start.tv_sec >= seconds)
            break;
        while (XPending(display) > 0) {
            XEvent event{};
            XNextEvent(display, &event);
            // A ping goes back to the root window, as the window manager's protocol asks.
            if (event.type == ClientMessage && event.xclient.message_type == wmProtocols
                && static_cast<Atom>(event.xclient.data.l[0]) == protocols[1]) {
                event.xclient.window = root;
                XSendEvent(display, root, False, SubstructureNotifyMask | SubstructureRedirectMask, &event);
                XFlush(display);
            }
        }
        pollfd watch{ConnectionNumber(display), POLLIN, 0};
        poll(&watch, 1, 200);
    }
    for (;;)
        pause();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "tcp") == 0)
        return ServeTcp(std::atoi(argv[2]), std::atoi(argv[3]));
    if (argc == 3 && std::strcmp(argv[1], "x11") == 0)
        return ServeWindow(std::atoi(argv[2]));
    std::fprintf(stderr, "usage: %s tcp PORT SECONDS | %s x11 SECONDS\n", argv[0], argv[0]);
    return 2;
}
