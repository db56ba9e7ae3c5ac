/* Waits until a condition holds on the X display named by DISPLAY; scripts/with-x builds it.
 *
 * Usage: x-wait [-p PID] SECONDS CONDITION
 *   wm                  a window manager runs: the root window's _NET_SUPPORTING_WM_CHECK
 *                       names a window that names itself the same way
 *   manages             a window manager runs and manages a window mapped now: a probe
 *                       window gets its WM_STATE (and is destroyed again). A manager that
 *                       is still starting can drop a request to map a window unseen, so the
 *                       check window alone does not tell that it is ready.
 *   owned SELECTION     SELECTION has an owner (a tray host owns _NET_SYSTEM_TRAY_S0)
 *   unowned SELECTION   SELECTION has no owner (its owner has gone, with its windows)
 *   -p PID              give up as soon as process PID has ended (the program that was to
 *                       bring the condition about)
 *
 * Exits 0 once the condition holds, 1 when SECONDS pass first or PID ends, 2 on bad use or
 * when the display cannot be opened. It wakes on every event of the root window (property
 * changes, a new selection owner's MANAGER message) and at least every 20 ms. */

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static int IgnoreError(Display* display, XErrorEvent* event)
{
    (void)display;
    (void)event;
    return 0; /* a window that went away while we read it: the condition just does not hold */
}

static double Now(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

/* The window a WINDOW property holds; None when there is none. */
static Window WindowProperty(Display* display, Window window, Atom property)
{
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = NULL;
    Window value = None;
    if (XGetWindowProperty(display, window, property, 0, 1, False, XA_WINDOW, &type, &format, &items, &after, &data)
            == Success
        && type == XA_WINDOW && format == 32 && items == 1)
        value = (Window)((unsigned long*)data)[0];
    if (data)
        XFree(data);
    return value;
}

static int WindowManagerRuns(Display* display)
{
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    const Window named = WindowProperty(display, DefaultRootWindow(display), check);
    return named != None && WindowProperty(display, named, check) == named;
}

/* The process has ended: it is gone, or a zombie its parent has not reaped yet. */
static int ProcessEnded(long pid)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    FILE* file = fopen(path, "r");
    if (!file)
        return 1;
    char text[512];
    const size_t n = fread(text, 1, sizeof text - 1, file);
    fclose(file);
    text[n] = '\0';
    const char* close = strrchr(text, ')');
    return close && close[1] == ' ' && (close[2] == 'Z' || close[2] == 'X');
}

static int HasProperty(Display* display, Window window, Atom property)
{
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = NULL;
    const int status = XGetWindowProperty(
        display, window, property, 0, 0, False, AnyPropertyType, &type, &format, &items, &after, &data);
    if (data)
        XFree(data);
    return status == Success && type != None;
}

/* The window is in the window manager's list of the windows it manages. */
static int Listed(Display* display, Window window)
{
    const Atom clientList = XInternAtom(display, "_NET_CLIENT_LIST", False);
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = NULL;
    int listed = 0;
    if (XGetWindowProperty(display, DefaultRootWindow(display), clientList, 0, 65536, False, XA_WINDOW, &type, &format,
            &items, &after, &data)
            == Success
        && type == XA_WINDOW && format == 32) {
        for (unsigned long i = 0; i < items; ++i)
            if ((Window)((unsigned long*)data)[i] == window)
                listed = 1;
    }
    if (data)
        XFree(data);
    return listed;
}

/* One step of the probe: 1 once a window manager has managed the probe window and let go
 * of it again. */
static int ProbeManaged(Display* display)
{
    static Window probe = None;
    static double mappedAt = 0;
    static int destroyed = 0;
    if (destroyed)
        return !Listed(display, probe);
    if (!WindowManagerRuns(display))
        return 0;
    if (probe == None) {
        probe = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
        XStoreName(display, probe, "x-wait probe");
    } else if (HasProperty(display, probe, XInternAtom(display, "WM_STATE", False))) {
        XDestroyWindow(display, probe);
        XSync(display, False);
        destroyed = 1;
        return !Listed(display, probe);
    } else if (Now() - mappedAt < 0.2) {
        return 0;
    }
    /* Map it (again: a manager that was still starting may have dropped the last request). */
    XMapWindow(display, probe);
    XFlush(display);
    mappedAt = Now();
    return 0;
}

static int Usage(void)
{
    fprintf(stderr, "usage: x-wait [-p PID] SECONDS wm|manages|owned SELECTION|unowned SELECTION\n");
    return 2;
}

int main(int argc, char** argv)
{
    int arg = 1;
    long pid = 0;
    if (arg + 1 < argc && strcmp(argv[arg], "-p") == 0) {
        pid = strtol(argv[arg + 1], NULL, 10);
        arg += 2;
    }
    if (arg + 1 >= argc)
        return Usage();
    const double seconds = strtod(argv[arg], NULL);
    const char* condition = argv[arg + 1];
    const char* selection = arg + 2 < argc ? argv[arg + 2] : NULL;
    const int wm = strcmp(condition, "wm") == 0;
    const int manages = strcmp(condition, "manages") == 0;
    const int owned = strcmp(condition, "owned") == 0;
    if (!wm && !manages && !owned && strcmp(condition, "unowned") != 0)
        return Usage();
    if (!wm && !manages && !selection)
        return Usage();

    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "x-wait: cannot open the display %s\n", getenv("DISPLAY") ? getenv("DISPLAY") : "(unset)");
        return 2;
    }
    XSetErrorHandler(IgnoreError);
    XSelectInput(display, DefaultRootWindow(display), PropertyChangeMask | StructureNotifyMask);
    const Atom selectionAtom = selection ? XInternAtom(display, selection, False) : None;

    const double deadline = Now() + seconds;
    for (;;) {
        int holds;
        if (wm)
            holds = WindowManagerRuns(display);
        else if (manages)
            holds = ProbeManaged(display);
        else
            holds = (XGetSelectionOwner(display, selectionAtom) != None) == owned;
        if (holds)
            return 0;
        const double left = deadline - Now();
        if (left <= 0 || (pid > 0 && ProcessEnded(pid)))
            return 1;
        struct pollfd connection = {ConnectionNumber(display), POLLIN, 0};
        poll(&connection, 1, left < 0.02 ? (int)(left * 1000) + 1 : 20);
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
        }
    }
}
