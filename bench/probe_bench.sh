#!/usr/bin/env bash
# The health probes' cost and reach on Linux, on a private virtual desktop with a window
# manager:
#   1. probe_bench: the guard's cost of one check with each probe (tcp to a listening local
#      port, window on a real X11 window that answers _NET_WM_PING, file) beside the plain
#      process check (Google Benchmark, medians of PX_REPETITIONS runs);
#   2. from a hang to the relaunch: the real perennix guarding px_probe_helper, which stops
#      accepting on its port (tcp probe) or stops answering pings (window probe) at a random
#      moment of the guard's cycle; the time from that moment to the start of the new helper,
#      both read from /proc (start times, 10 ms steps). PX_SAMPLES hangs of each kind, with
#      the settings of the README's gateway example: LOOPSEC=30, PROBE_FAILS=3,
#      STOP_TIMEOUT_SEC=20 (PX_LOOPSEC, PX_FAILS, PX_STOP to change them). The grace period is
#      cut to 2 s: it only delays the first judgement after a launch, and the hang comes after it.
#      The helper ends at SIGTERM, as a program that closes when asked does.
# Usage: bench/probe_bench.sh [BUILD_DIR]   (default build-probe-bench, configured as Release)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=../tests/e2e/lib.sh
source tests/e2e/lib.sh
export LC_ALL=C

samples=${PX_SAMPLES:-3}
loopsec=${PX_LOOPSEC:-30}
fails=${PX_FAILS:-3}
stop=${PX_STOP:-20}
repetitions=${PX_REPETITIONS:-5}
grace=2

if ! own_desktop; then
  build=${1:-build-probe-bench}
  if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPERENNIX_TESTS=OFF >/dev/null
  fi
  cmake -S . -B "$build" -DPERENNIX_BENCH=ON >/dev/null
  cmake --build "$build" -j"$(nproc)" --target perennix probe_bench px_probe_helper >/dev/null
  on_own_desktop scripts/with-x "$0" "$(realpath "$build")"
fi

build=$1
fail_label=probe_bench
helper_bin=$(find "$build" -name px_probe_helper -type f -perm -u+x | head -1)
[[ -n "$helper_bin" ]] || fail "no px_probe_helper in $build"

echo "== 1. one check with each probe (probe_bench, medians of $repetitions runs)"
"$build/bench/probe_bench" --helper="$helper_bin" --benchmark_repetitions="$repetitions" \
  --benchmark_report_aggregates_only=true --benchmark_min_time=0.5 2>&1 | grep -E '^(BM_|Benchmark|---)' | grep -v -E '_(mean|stddev|cv)'

echo
echo "== 2. from a hang to the relaunch: LOOPSEC=$loopsec PROBE_FAILS=$fails STOP_TIMEOUT_SEC=$stop, $samples hangs each"
make_workdir /tmp/px-probe-bench.XXXXXX
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus"
mkdir "$dir/helper-exe"  # "exe" in the path: launched directly
cp "$helper_bin" "$dir/helper-exe/pxprobebench"
cp "$build/src/perennix" "$dir/perennix"
helper_match=(-f -- "^$dir/helper-exe/pxprobebench")
hz=$(getconf CLK_TCK)
# The start of a process in clock ticks since the machine's start (/proc/PID/stat, field 22).
start_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{print $20}'; }

for kind in tcp window; do
  delays=()
  for _ in $(seq "$samples"); do
    # The hang falls anywhere in a cycle after the grace period.
    hang_at=$((grace + 1 + RANDOM % loopsec))
    if [[ $kind == tcp ]]; then
      port=$(free_port)
      probe=("ARGS=tcp $port $hang_at" "PROBE_TCP=127.0.0.1:$port")
    else
      probe=("ARGS=x11 $hang_at" PROBE_WINDOW=1)
    fi
    write_config "$dir/config.ini" "FULLPATH=$dir/helper-exe/pxprobebench" EXE_NAME=pxprobebench "${probe[@]}" \
      LOOPSEC="$loopsec" AUTOSTART=1 PROBE_FAILS="$fails" PROBE_GRACE_SEC="$grace" STOP_TIMEOUT_SEC="$stop"
    (cd / && exec "$dir/perennix") >/dev/null 2>&1 &
    perennix_pid=$!
    wait_for 30 helper_running || fail "the helper was not launched"
    first=$(helper_pid)
    t0=$(start_ticks "$first")
    wait_for $((hang_at + (fails + 2) * (loopsec + 3) + stop + 30)) helper_is_not "$first" \
      || fail "the $kind hang was not followed by a relaunch"
    t1=$(start_ticks "$(helper_pid)")
    delay=$(awk -v a="$t0" -v b="$t1" -v hz="$hz" -v h="$hang_at" 'BEGIN {printf "%.2f", (b - a) / hz - h}')
    echo "$kind: hang ${hang_at} s after the launch, relaunch ${delay} s after the hang"
    delays+=("$delay")
    kill "$perennix_pid"
    wait "$perennix_pid" 2>/dev/null || true
    perennix_pid=""
    pkill -KILL "${helper_match[@]}" 2>/dev/null || true
    wait_for 10 eval '! helper_running' || fail "the helper did not end"
  done
  echo "$kind: median $(printf '%s\n' "${delays[@]}" | median) s, from $(printf '%s\n' "${delays[@]}" | sort -n | head -1) to $(printf '%s\n' "${delays[@]}" | sort -n | tail -1) s"
done
