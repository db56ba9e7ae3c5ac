// The cost of one IsProcessRunning over the real process table, with --extra=N idle
// processes added, side by side with
// - the floor: one pass over /proc reading one small file (stat) per process, and
// - one run of "pgrep -x NAME".
// The guarded program is started last, above every pid in use (the pid counter is moved on
// past a wrap if need be), so it is listed last: the quick scan finds it only at the end of
// the table (the slowest case of "found").
// Prints Google Benchmark's table, then one summary row: medians in ms and ratios.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "backends/posix/PosixSystem.h"
#include "guard/ProcessMatch.h"

extern char** environ;

namespace {

constexpr char kTargetName[] = "pxbench-target";
constexpr char16_t kTargetName16[] = u"pxbench-target";
constexpr char16_t kAbsentName16[] = u"pxbench-absent";

PosixSystem g_system;
// The text every process this benchmark starts carries in its command line (MATCH_CMDLINE).
std::u16string g_commandLineText;

pid_t Spawn(const std::string& path, const std::vector<std::string>& args, bool quiet = false)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet)
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

int WaitStatus(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    return status;
}

// The floor: what any scan that looks at every process must at least do.
size_t ReadEveryStat()
{
    DIR* dir = opendir("/proc");
    if (!dir)
        return 0;
    const int procFd = dirfd(dir);
    char path[32];
    char buf[512];
    size_t bytes = 0;
    while (const dirent* de = readdir(dir)) {
        if (de->d_name[0] < '0' || de->d_name[0] > '9')
            continue;
        const size_t length = std::strlen(de->d_name);
        std::memcpy(path, de->d_name, length);
        std::memcpy(path + length, "/stat", 6);
        const int fd = openat(procFd, path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        const ssize_t n = read(fd, buf, sizeof buf);
        close(fd);
        if (n > 0)
            bytes += static_cast<size_t>(n);
    }
    closedir(dir);
    return bytes;
}

void BM_Floor(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadEveryStat());
}

// The first check of a run: nothing known yet, the program is the last process listed.
void BM_IsProcessRunning_Found(benchmark::State& state)
{
    for (auto _ : state) {
        PosixSystem fresh;
        if (!AnyProcessNamed(fresh, kTargetName16))
            state.SkipWithError("the target process was not found");
    }
}

// Every later check while the program keeps running: the scan starts where the last one stopped.
void BM_IsProcessRunning_FoundAgain(benchmark::State& state)
{
    AnyProcessNamed(g_system, kTargetName16);
    for (auto _ : state)
        if (!AnyProcessNamed(g_system, kTargetName16))
            state.SkipWithError("the target process was not found");
}

// The same with a command-line filter: the target's /proc/PID/cmdline is read as well.
void BM_IsProcessRunning_FoundAgainFiltered(benchmark::State& state)
{
    const GuardedProgram program(kTargetName16, g_commandLineText);
    AnyProcessNamed(g_system, program);
    for (auto _ : state)
        if (!AnyProcessNamed(g_system, program))
            state.SkipWithError("the target process was not found");
}

void BM_IsProcessRunning_NotRunning(benchmark::State& state)
{
    for (auto _ : state)
        if (AnyProcessNamed(g_system, kAbsentName16))
            state.SkipWithError("a process that does not exist was found");
}

void BM_FullScan(benchmark::State& state)
{
    for (auto _ : state) {
        size_t names = 0;
        g_system.EnumerateProcesses(ProcessDetail::Full, [&](const ProcessEntry& e) {
            names += e.names.size();
            return true;
        });
        benchmark::DoNotOptimize(names);
    }
}

void BM_Pgrep(benchmark::State& state)
{
    for (auto _ : state) {
        const pid_t pid = Spawn("pgrep", {"pgrep", "-x", kTargetName}, true);
        if (pid < 0 || WaitStatus(pid) != 0)
            state.SkipWithError("pgrep -x did not find the target");
    }
}

// Keeps Google Benchmark's console output and collects each benchmark's median.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    SummaryReporter()
        : ConsoleReporter(OO_None)
    {
    }
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    std::map<std::string, double> medians;  // in ms
};

size_t CountProcesses()
{
    size_t count = 0;
    g_system.EnumerateProcesses(ProcessDetail::Quick, [&](const ProcessEntry&) { return ++count > 0; });
    return count;
}

// The highest pid listed now.
uint32_t HighestPid()
{
    uint32_t highest = 0;
    g_system.EnumerateProcesses(ProcessDetail::Quick, [&](const ProcessEntry& e) {
        highest = std::max(highest, e.pid);
        return true;
    });
    return highest;
}

long PidMax()
{
    long value = 32768;
    if (FILE* file = std::fopen("/proc/sys/kernel/pid_max", "r")) {
        if (std::fscanf(file, "%ld", &value) != 1)
            value = 32768;
        std::fclose(file);
    }
    return value;
}

// Starts a child that ends at once and reaps it: the kernel's pid counter moves on by one.
// Returns the child's pid (-1 when none could be started).
pid_t SpendOnePid()
{
    const pid_t pid = vfork();
    if (pid == 0)
        _exit(0);
    if (pid > 0)
        WaitStatus(pid);
    return pid;
}

// Starts such children one after the other until one gets a pid for which done(pid) holds
// (about 5 s for 30,000 pids). Returns how many it started, or -1 when none could be started
// or none did within one round of the pid numbers.
long SpendPidsUntil(long pidMax, const std::function<bool(long)>& done)
{
    for (long spent = 1; spent <= pidMax + 1; ++spent) {
        const pid_t pid = SpendOnePid();
        if (pid < 0)
            return -1;
        if (done(pid))
            return spent;
    }
    return -1;
}

// The scan lists processes in pid order, and the kernel hands out pids in rising order until it
// wraps at pid_max and starts again from the low numbers: after a wrap, the processes started
// before it hold the high numbers and are listed after anything started now. These place the
// pids of the processes started next.

// Moves the counter so that the next `count` pids are above every pid in use. Returns how many
// pids it spent, or -1 when there is no such room below pid_max.
long MovePidCounterAboveAll(long pidMax, long count)
{
    uint32_t highest = HighestPid();
    if (highest + count >= pidMax)
        return -1;
    return SpendPidsUntil(pidMax, [&](long pid) {
        if (pid <= static_cast<long>(highest) || pid + count >= pidMax)
            return false;
        highest = HighestPid();  // another user's process may have started above meanwhile
        return pid >= static_cast<long>(highest);
    });
}

// Moves the counter below the highest pid in use, `count` pids before it (past a wrap if need
// be). Returns how many pids it spent, or -1 when it could not.
long MovePidCounterBelowHighest(long pidMax, long count)
{
    const long highest = HighestPid();
    return SpendPidsUntil(pidMax, [&](long pid) { return pid + count < highest; });
}

// Where the target comes in the scan: 1-based position among the listed processes.
size_t TargetPosition(pid_t target)
{
    size_t position = 0;
    size_t found = 0;
    g_system.EnumerateProcesses(ProcessDetail::Quick, [&](const ProcessEntry& e) {
        ++position;
        if (e.pid == static_cast<uint32_t>(target))
            found = position;
        return true;
    });
    return found;
}

}  // namespace

int main(int argc, char** argv)
{
    size_t extra = 0;
    std::string sleeper = PX_BENCH_SLEEPER;
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--extra=", 8) == 0)
            extra = std::strtoul(argv[i] + 8, nullptr, 10);
        else if (std::strncmp(argv[i], "--sleeper=", 10) == 0)
            sleeper = argv[i] + 10;
        else
            rest.push_back(argv[i]);
    }
    int restCount = static_cast<int>(rest.size());
    benchmark::Initialize(&restCount, rest.data());

    const std::string parent = std::to_string(getpid());
    g_commandLineText = u" " + std::u16string(parent.begin(), parent.end());
    // The idle processes, then the target, above every pid in use; when a process holds a pid
    // too close to pid_max for that, the idle processes below it and the target above it.
    const long pidMax = PidMax();
    constexpr int kTargetAttempts = 20;
    constexpr long kTargetRoom = 2 * kTargetAttempts;
    long spent = MovePidCounterAboveAll(pidMax, static_cast<long>(extra) + kTargetRoom);
    if (spent < 0)
        spent = MovePidCounterBelowHighest(pidMax, static_cast<long>(extra) + kTargetRoom);
    std::vector<pid_t> children;
    for (size_t i = 0; i < extra; ++i) {
        const pid_t pid = Spawn(sleeper, {"bench_sleeper", parent});
        if (pid < 0) {
            std::fprintf(stderr, "could not start idle process %zu: %s\n", i, std::strerror(errno));
            break;
        }
        children.push_back(pid);
    }
    // The guarded program: the sleeper under the target's name, through a symlink.
    char linkDir[] = "/tmp/pxbench-XXXXXX";
    if (!mkdtemp(linkDir))
        return 1;
    const std::string link = std::string(linkDir) + "/" + kTargetName;
    if (symlink(sleeper.c_str(), link.c_str()) != 0)
        return 1;
    // Started last, past every pid in use. Processes another user starts at the same moment
    // may be listed after it, so it is started again until it is among the last few; the last
    // attempt is kept whatever its place, and its place is printed below.
    const long spentForTarget = MovePidCounterAboveAll(pidMax, kTargetRoom);
    if (spentForTarget < 0)
        std::printf("no room for the target above every pid in use: it may not be listed last\n");
    spent = std::max(spent, 0L) + std::max(spentForTarget, 0L);
    if (spent > 100)
        std::printf("pid numbers spent to list the target last: %ld (pid_max %ld)\n", spent, pidMax);
    pid_t target = -1;
    size_t position = 0;
    size_t processes = 0;
    for (int attempt = 1; attempt <= kTargetAttempts; ++attempt) {
        target = Spawn(link, {kTargetName, parent});
        if (target < 0)
            break;
        usleep(20000);  // let it exec
        processes = CountProcesses();
        position = TargetPosition(target);
        if (position + 3 >= processes || attempt == kTargetAttempts)
            break;
        kill(target, SIGKILL);
        WaitStatus(target);
    }
    if (target < 0) {
        std::fprintf(stderr, "could not start the target %s\n", link.c_str());
        unlink(link.c_str());
        rmdir(linkDir);
        return 1;  // the idle processes end with this one
    }
    children.push_back(target);

    std::printf(
        "processes listed: %zu (extra idle: %zu); the target is number %zu in the scan\n", processes, extra, position);
    std::fflush(stdout);

    for (auto* b :
        {benchmark::RegisterBenchmark("Floor", BM_Floor),
            benchmark::RegisterBenchmark("IsProcessRunning_Found", BM_IsProcessRunning_Found),
            benchmark::RegisterBenchmark("IsProcessRunning_FoundAgain", BM_IsProcessRunning_FoundAgain),
            benchmark::RegisterBenchmark("IsProcessRunning_FoundAgainFiltered", BM_IsProcessRunning_FoundAgainFiltered),
            benchmark::RegisterBenchmark("IsProcessRunning_NotRunning", BM_IsProcessRunning_NotRunning),
            benchmark::RegisterBenchmark("FullScan", BM_FullScan), benchmark::RegisterBenchmark("Pgrep", BM_Pgrep)})
        b->Unit(benchmark::kMillisecond)->UseRealTime();

    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    for (const pid_t pid : children)
        kill(pid, SIGKILL);
    for (const pid_t pid : children)
        WaitStatus(pid);
    unlink(link.c_str());
    rmdir(linkDir);

    const auto median = [&](const char* name) {
        const auto it = reporter.medians.find(name);
        return it == reporter.medians.end() ? 0.0 : it->second;
    };
    const double floor = median("Floor");
    const double pgrep = median("Pgrep");
    const double found = median("IsProcessRunning_Found");
    const double again = median("IsProcessRunning_FoundAgain");
    const double missing = median("IsProcessRunning_NotRunning");
    const double full = median("FullScan");
    if (floor <= 0 || pgrep <= 0) {
        std::fprintf(stderr, "no medians: run with --benchmark_repetitions=3 or more\n");
        return 1;
    }
    // | processes | floor | found first (x floor, x pgrep) | found again | not running (...) | full scan | pgrep
    // | us per process |
    std::printf("| %5zu | %7.3f | %7.3f (%.2fx, %.3fx) | %7.4f (%.3fx, %.4fx) | %7.3f (%.2fx, %.3fx) | %7.3f (%.2fx) "
                "| %7.2f | %.2f / %.2f |\n",
        processes, floor, found, found / floor, found / pgrep, again, again / floor, again / pgrep, missing,
        missing / floor, missing / pgrep, full, full / floor, pgrep, 1000.0 * floor / static_cast<double>(processes),
        1000.0 * found / static_cast<double>(processes));
    return 0;
}
