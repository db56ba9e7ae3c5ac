// The cost of reading the local time afresh: localtime_r alone (the zone read once, at the
// first call) beside tzset() + localtime_r (the zone looked up again at every reading: TZ
// compared with the last one, and without TZ a stat of /etc/localtime), and the program's own
// PosixSystem::GetLocalTime. Each with TZ unset (the system's zone file, as on a desktop) and
// with TZ set to a zone name.
//   build/bench/local_time_bench [--benchmark_repetitions=N]

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>

#include "backends/posix/PosixSystem.h"

namespace {

void SetZone(const benchmark::State& state)
{
    if (state.range(0) == 0)
        unsetenv("TZ");
    else
        setenv("TZ", "Asia/Shanghai", 1);
    tzset();
}

void LocalTimeOnly(benchmark::State& state)
{
    SetZone(state);
    const time_t now = std::time(nullptr);
    for (auto _ : state) {
        tm local{};
        benchmark::DoNotOptimize(localtime_r(&now, &local));
    }
}

void TzsetThenLocalTime(benchmark::State& state)
{
    SetZone(state);
    const time_t now = std::time(nullptr);
    for (auto _ : state) {
        tzset();
        tm local{};
        benchmark::DoNotOptimize(localtime_r(&now, &local));
    }
}

void GetLocalTime(benchmark::State& state)
{
    SetZone(state);
    PosixSystem system;
    for (auto _ : state)
        benchmark::DoNotOptimize(system.GetLocalTime());
}

}  // namespace

// Argument 0: TZ unset; 1: TZ=Asia/Shanghai.
BENCHMARK(LocalTimeOnly)->Arg(0)->Arg(1);
BENCHMARK(TzsetThenLocalTime)->Arg(0)->Arg(1);
BENCHMARK(GetLocalTime)->Arg(0)->Arg(1);

BENCHMARK_MAIN();
