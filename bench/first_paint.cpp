// Start to first paint of a program's window: starts the command and reports, in ms, when
// the first top-level window titled TITLE was mapped and when its contents were first drawn
// (the X server's first damage report for it). Then ends the program.
// Usage: first_paint TITLE COMMAND [ARGS...]   (on an X display without a window manager)

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double NowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

std::string NameOf(Display* display, Window window)
{
    char* name = nullptr;
    if (!XFetchName(display, window, &name) || !name)
        return {};
    std::string result(name);
    XFree(name);
    return result;
}

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }  // windows may vanish while we look

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: first_paint TITLE COMMAND [ARGS...]\n");
        return 2;
    }
    const std::string title = argv[1];
    Display* display = XOpenDisplay(nullptr);
    int damageEvent = 0;
    int damageError = 0;
    if (!display || !XDamageQueryExtension(display, &damageEvent, &damageError)) {
        std::fprintf(stderr, "first_paint: no X display with the DAMAGE extension\n");
        return 2;
    }
    XSetErrorHandler(IgnoreErrors);
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const double start = NowMs();
    const pid_t child = fork();
    if (child == 0) {
        // The program's own output would only mix with the figures.
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        execvp(argv[2], argv + 2);
        _exit(127);
    }

    std::map<Window, Damage> watched;
    double mappedAt = -1;
    double paintedAt = -1;
    const int fd = ConnectionNumber(display);
    while (paintedAt < 0 && NowMs() - start < 20000) {
        if (!XPending(display)) {
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, 100);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == CreateNotify && event.xcreatewindow.parent == root) {
            // Watched from its creation, before it can be mapped or drawn.
            const Window w = event.xcreatewindow.window;
            watched[w] = XDamageCreate(display, w, XDamageReportNonEmpty);
        } else if (event.type == MapNotify && watched.count(event.xmap.window) && mappedAt < 0) {
            if (NameOf(display, event.xmap.window) == title)
                mappedAt = NowMs() - start;
        } else if (event.type == damageEvent + XDamageNotify) {
            const auto* damage = reinterpret_cast<XDamageNotifyEvent*>(&event);
            XDamageSubtract(display, damage->damage, None, None);
            if (NameOf(display, damage->drawable) == title)
                paintedAt = NowMs() - start;
        }
    }
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    if (paintedAt < 0) {
        std::fprintf(stderr, "first_paint: no window titled %s was drawn\n", title.c_str());
        return 1;
    }
    std::printf("%.1f %.1f\n", mappedAt, paintedAt);
    return 0;
}
