#!/usr/bin/env bash
# The cost of one IsProcessRunning over the real process table and with 300 and 3,000
# extra idle processes, side by side with the floor (one stat read per process) and one
# pgrep -x run, all measured in the same run of each size.
# Usage: bench/process_scan.sh [BUILD_DIR]   (default: build-bench, configured as Release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
sizes=${PX_BENCH_SIZES:-"0 300 3000"}

if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPERENNIX_GUI=OFF -DPERENNIX_TESTS=OFF >/dev/null
fi
cmake -S . -B "$build" -DPERENNIX_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target process_scan_bench bench_sleeper >/dev/null

rows=()
for extra in $sizes; do
  echo "== $extra extra idle processes"
  out=$("$build/bench/process_scan_bench" --extra="$extra" \
    --benchmark_repetitions=7 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true --benchmark_min_time=0.2)
  echo "$out" | grep -v '^| '
  rows+=("$(echo "$out" | grep '^| ')")
done

echo
echo "Medians in ms; (x floor, x pgrep). Found first: the first check of a run, the program the last"
echo "process listed. Found again: every later check while it runs (the scan starts where the last stopped)."
echo "| procs | floor   | IsProcessRunning, found first | found again                  | IsProcessRunning, not running | full 3-name scan | pgrep -x | us/proc floor / found |"
echo "|-------|---------|-------------------------------|------------------------------|-------------------------------|------------------|----------|-----------------------|"
printf '%s\n' "${rows[@]}"
