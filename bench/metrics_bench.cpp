// The CPU cost of the metrics file per day of guarding: the engine guards a program that stays
// up for one virtual day (the fake system's process table, a virtual clock) with the metrics
// file on the real file system, and without it; the difference is the file's cost. One
// iteration is one day, so the time per iteration is the cost per day.
//   metrics_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "FakeGuardView.h"
#include "FakeSystem.h"
#include "backends/posix/PosixFiles.h"
#include "base/Unicode.h"
#include "guard/GuardEngine.h"

namespace {

constexpr int64_t kDayMs = 24LL * 60 * 60 * 1000;

void GuardOneDay(benchmark::State& state)
{
    const int loopSec = static_cast<int>(state.range(0));
    const bool metrics = state.range(1) != 0;
    char folder[] = "/tmp/perennix-metrics-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    PosixFiles files;
    SetFiles(&files);
    fake::VirtualClock clock;
    fake::FakeSystem system{clock};
    fake::ScopedSystem systemGuard{system};
    system.AddProcess(u"guarded.exe");
    GuardConfig config;
    config.strFullPath = u"/opt/guarded/guarded.exe";
    config.strExeName = u"guarded.exe";
    config.nLoopSec = loopSec;
    if (metrics)
        config.strMetricsFile = px::FromUtf8(std::string(folder) + "/perennix.prom");
    // The run log's entries (one start and stop a day) go nowhere.
    std::streambuf* log = std::cout.rdbuf(nullptr);
    for (auto _ : state) {
        fake::FakeGuardView view{clock};
        view.settings = config;
        GuardEngine engine{view};
        engine.Start(false, false);
        view.AdvanceBy(engine, kDayMs);
        engine.Stop(u"");
    }
    std::cout.rdbuf(log);
    std::remove((std::string(folder) + "/perennix.prom").c_str());
    rmdir(folder);
    SetFiles(nullptr);
}

}  // namespace

// LOOPSEC 1 and 60, without (0) and with (1) the metrics file.
BENCHMARK(GuardOneDay)
    ->ArgNames({"loopsec", "metrics"})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({60, 0})
    ->Args({60, 1})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

BENCHMARK_MAIN();
