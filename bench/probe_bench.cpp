// The guard's cost of one check with each health probe, beside the plain process check, on
// the real system: the guarded program is px_probe_helper, which listens on a local port (the
// tcp probe connects to it) and, on a desktop (DISPLAY set), shows a window that answers
// _NET_WM_PING (the window probe asks it).
//   process: one AnyProcessNamed over /proc, as every check makes it (the scan starts where
//            the last one found the program);
//   tcp:     the connection started at a check, read and closed at the probe's tick;
//   window:  the pings sent at a check (a walk over the desktop's top-level windows, reading
//            each one's _NET_WM_PID and WM_PROTOCOLS), the answers read at the tick; with 0
//            and 100 more windows of another program on the desktop;
//   file:    the heartbeat file's age (one stat).
// The time between a probe's start and its tick (the guard reads answers 3 s later) is the
// program's, not the guard's, and is left out: the timer is paused while the answer comes.
// Usage: probe_bench --helper=PATH [Google Benchmark options]   (the window probe needs X)

#include <benchmark/benchmark.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xlib.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "backends/posix/PosixSystem.h"
#include "guard/ProcessMatch.h"

extern char** environ;

namespace {

constexpr char16_t kHelperName[] = u"px_probe_helper";

PosixSystem g_system;
std::vector<pid_t> g_helpers;
uint16_t g_port = 0;
std::string g_heartbeat;

pid_t Spawn(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    return posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

// A local port nothing listens on now: the one the system picks for a socket bound to port 0.
uint16_t FreePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const bool bound = fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
        && getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
    if (fd >= 0)
        close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

// Lets the program answer, the timer paused: a local connection or a ping takes well under
// this, mostly.
void WaitForTheAnswer(benchmark::State& state, int ms)
{
    state.PauseTiming();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    state.ResumeTiming();
}

void BM_Process(benchmark::State& state)
{
    for (auto _ : state)
        if (!AnyProcessNamed(g_system, kHelperName))
            state.SkipWithError("the helper was not found");
}

void BM_Tcp(benchmark::State& state)
{
    for (auto _ : state) {
        const uint64_t id = g_system.StartConnect(u"127.0.0.1", g_port);
        WaitForTheAnswer(state, 1);
        const ConnectState connected = g_system.PollConnect(id);
        g_system.EndConnect(id);
        if (connected != ConnectState::Accepted)
            state.SkipWithError("the helper did not accept the connection");
    }
}

void BM_Window(benchmark::State& state)
{
    if (!std::getenv("DISPLAY")) {
        state.SkipWithError("no DISPLAY: run on a desktop (scripts/with-x)");
        return;
    }
    // Other windows on the desktop, of a program the probe does not ask: the walk passes them.
    Display* display = XOpenDisplay(nullptr);
    std::vector<Window> others;
    for (int64_t i = 0; i < state.range(0); ++i) {
        others.push_back(XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 10, 10, 0, 0, 0));
        XMapWindow(display, others.back());
    }
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the window manager takes them in
    const std::vector<uint32_t> pids(g_helpers.begin(), g_helpers.end());
    int unanswered = 0;
    for (auto _ : state) {
        g_system.AskWindows(pids);
        WaitForTheAnswer(state, 10);
        const WindowAnswer answer = g_system.WindowsAnswered();
        if (answer.judged != 1) {
            state.SkipWithError("the helper's window was not asked");
            break;
        }
        unanswered += answer.unanswered;
    }
    // A ping whose answer came after the wait: the helper's time, not the guard's.
    state.counters["late"] = static_cast<double>(unanswered);
    XCloseDisplay(display);
}

void BM_File(benchmark::State& state)
{
    for (auto _ : state)
        if (!g_system.FileAgeMs(std::u16string(g_heartbeat.begin(), g_heartbeat.end())))
            state.SkipWithError("the heartbeat file cannot be read");
}

// The probes that wait for an answer run a fixed count: the waits are not timed, and a count
// found from the timed part alone would wait for minutes.
BENCHMARK(BM_Process);
BENCHMARK(BM_Tcp)->Iterations(2000);
BENCHMARK(BM_Window)->Arg(0)->Arg(100)->Iterations(200);
BENCHMARK(BM_File);

}  // namespace

int main(int argc, char** argv)
{
    std::string helper;
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--helper=", 9) == 0)
            helper = argv[i] + 9;
        else
            rest.push_back(argv[i]);
    }
    if (helper.empty()) {
        std::fprintf(stderr, "usage: %s --helper=PATH-TO-px_probe_helper [benchmark options]\n", argv[0]);
        return 2;
    }
    int restCount = static_cast<int>(rest.size());
    benchmark::Initialize(&restCount, rest.data());

    g_port = FreePort();
    g_helpers.push_back(Spawn({helper, "tcp", std::to_string(g_port), "0"}));
    if (std::getenv("DISPLAY"))
        g_helpers.push_back(Spawn({helper, "x11", "0"}));
    g_heartbeat = "/tmp/px_probe_bench." + std::to_string(getpid());
    std::ofstream(g_heartbeat) << "beat\n";
    // Up once it accepts and, on a desktop, its window answers.
    bool up = false;
    for (int i = 0; i < 100 && !up; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const uint64_t id = g_system.StartConnect(u"127.0.0.1", g_port);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        up = g_system.PollConnect(id) == ConnectState::Accepted;
        g_system.EndConnect(id);
        if (up && std::getenv("DISPLAY")) {
            g_system.AskWindows({g_helpers.begin(), g_helpers.end()});
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const WindowAnswer answer = g_system.WindowsAnswered();
            up = answer.judged == 1 && answer.unanswered == 0;
        }
    }
    int status = 0;
    if (!up) {
        std::fprintf(stderr, "probe_bench: the helper did not come up (port %u)\n", g_port);
        status = 1;
    } else {
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    for (const pid_t pid : g_helpers) {
        kill(pid, SIGKILL);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
    }
    std::remove(g_heartbeat.c_str());
    return status;
}
