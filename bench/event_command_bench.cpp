// What an event command costs the guard's thread: one RunCommand and one look at how it ended,
// for a command that is missing, one that hangs and one that floods its output. The command's
// own run happens beside the guard and is not part of the figure.
//   event_command_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "backends/posix/PosixSystem.h"
#include "base/Unicode.h"

namespace {

void RunEventCommand(benchmark::State& state)
{
    const char* bodies[] = {nullptr, "exec sleep 600", "exec yes flood"};
    const char* body = bodies[state.range(0)];
    char folder[] = "/tmp/perennix-event-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string path = std::string(folder) + "/command";
    if (body) {
        FILE* file = std::fopen(path.c_str(), "w");
        std::fprintf(file, "#!/bin/sh\n%s\n", body);
        std::fclose(file);
        chmod(path.c_str(), 0755);
    }
    // Missing commands log a line each on standard error; it goes nowhere here.
    FILE* discarded = std::freopen("/dev/null", "w", stderr);
    PosixSystem system;
    const std::u16string program = px::FromUtf8(path);
    const std::vector<EnvironmentVariable> environment = {{u"PERENNIX_EVENT", u"died"}};
    for (auto _ : state) {
        const std::optional<uint64_t> id = system.RunCommand(program, environment);
        if (id)
            benchmark::DoNotOptimize(system.CommandExit(*id));
        state.PauseTiming();
        if (id) {
            kill(static_cast<pid_t>(*id), SIGKILL);
            while (!system.CommandExit(*id))
                usleep(1000);
        }
        state.ResumeTiming();
    }
    (void)discarded;
    std::remove(path.c_str());
    rmdir(folder);
}

}  // namespace

BENCHMARK(RunEventCommand)->ArgName("missing0_hang1_flood2")->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
