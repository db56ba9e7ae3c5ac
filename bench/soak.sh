#!/usr/bin/env bash
# Soak: the real perennix at LOOPSEC=1 guarding a helper that a loop kills (SIGKILL) every 2 to
# 6 seconds, on a private virtual desktop, for MINUTES minutes. Once a minute it samples
# Perennix's open descriptors, resident memory (RSS), threads and unreaped children; at the
# end it counts the helper's launches against the kills. Every launch after the first must
# answer a kill, and nothing may grow: any growth is a fault to find.
# Not part of scripts/test (it runs for as long as it is told to).
# Usage: bench/soak.sh MINUTES [BUILD_DIR]   (default build-soak, configured as Release)
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C

minutes=${1:?usage: bench/soak.sh MINUTES [BUILD_DIR]}
[[ "$minutes" =~ ^[1-9][0-9]*$ ]] || { echo "soak: MINUTES must be a whole number above 0" >&2; exit 2; }

if [[ "${PX_SOAK_DESKTOP:-}" != 1 ]]; then
  build=${2:-build-soak}
  scripts/deps
  if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPERENNIX_TESTS=OFF >/dev/null
  fi
  cmake -S . -B "$build" -DPERENNIX_BENCH=ON >/dev/null
  cmake --build "$build" -j2 --target perennix footprint_helper >/dev/null
  export PX_SOAK_DESKTOP=1 WITH_X_NO_WM=1 WITH_X_NO_TRAY=1
  exec scripts/with-x "$0" "$minutes" "$(realpath "$build")"
fi

build=$2
work=$(mktemp -d /tmp/px-soak.XXXXXX)
perennix_pid=""
cleanup() {
  [[ -n "$perennix_pid" ]] && kill "$perennix_pid" 2>/dev/null || true
  pkill -KILL -f -- "^$work/" 2>/dev/null || true  # the guarded helpers
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The helper appends "<pid> <start ns>" to the record at each start; "exe" in the program
# path makes Perennix start it directly.
mkdir -p "$work/helper-exe" "$work/app"
cp "$build/bench/footprint_helper" "$work/helper-exe/pxsoak_helper"
cp "$build/src/perennix" "$work/app/perennix"
record=$work/launches.rec
printf '[PX_SETTING]\r\nFULLPATH=%s\r\nEXE_NAME=pxsoak_helper\r\nARGS=%s\r\nLOOPSEC=1\r\nAUTOSTART=1\r\n' \
  "$work/helper-exe/pxsoak_helper" "$record" >"$work/app/config.ini"

launches() { [[ -f "$record" ]] && wc -l <"$record" || echo 0; }
# The pid of the helper last started, when it still runs.
live_helper() {
  local pid
  pid=$( (tail -n 1 "$record" 2>/dev/null || true) | awk '{print $1}')
  [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null && echo "$pid"
}
wait_for_launch() {  # wait_for_launch COUNT: true once the record holds more than COUNT lines
  for _ in $(seq 1 300); do
    (($(launches) > $1)) && live_helper >/dev/null && return 0
    sleep 0.1
  done
  return 1
}
fds() { find "/proc/$perennix_pid/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l; }
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$perennix_pid/status"; }
threads() { awk '/^Threads:/ {print $2}' "/proc/$perennix_pid/status"; }
# Children that ended and were never waited for.
zombies() { ps -o stat= --ppid "$perennix_pid" 2>/dev/null | awk '$1 ~ /^Z/ {n++} END {print n + 0}'; }

(cd "$work/app" && exec ./perennix >/dev/null 2>&1) &
perennix_pid=$!
wait_for_launch 0 || { echo "soak: Perennix never launched the helper" >&2; exit 1; }

kills=0
missed=0
samples=()
sample() {
  kill -0 "$perennix_pid" 2>/dev/null || { echo "soak: Perennix ended after $1 min" >&2; exit 1; }
  local line
  line=$(printf '%6s %6d %6d %8d %7d %7d %7d' "$1" "$kills" "$(launches)" "$(fds)" "$(rss_kb)" "$(threads)" "$(zombies)")
  samples+=("$line")
  echo "$line"
}
echo "   min  kills launches   fds  RSS kB threads zombies"
sample 0
begin=$SECONDS
next_sample=60
while ((SECONDS - begin < minutes * 60)); do
  sleep "$((2 + RANDOM % 4)).$(printf '%03d' $((RANDOM % 1000)))"
  before=$(launches)
  if pid=$(live_helper); then
    kill -9 "$pid"
    kills=$((kills + 1))
    # The next kill waits for the relaunch: a kill never falls on a helper already dead.
    wait_for_launch "$before" || { missed=$((missed + 1)); echo "soak: no relaunch within 30 s of kill $kills" >&2; }
  fi
  if ((SECONDS - begin >= next_sample)); then
    sample $((next_sample / 60))
    next_sample=$((next_sample + 60))
  fi
done
sample end

first=(${samples[1]:-${samples[0]}})  # after a minute's warm-up
last=(${samples[-1]})
total=$(launches)
echo
echo "kills: $kills  launches: $total (1 at start + $((total - 1)) relaunches)  relaunches missing: $missed"
echo "descriptors ${first[3]} -> ${last[3]}, RSS ${first[4]} -> ${last[4]} kB, threads ${first[5]} -> ${last[5]}," \
  "unreaped children at the end: ${last[6]} (from minute 1 to the end)"
fault=0
((total - 1 == kills)) || { echo "FAULT: $((total - 1)) relaunches for $kills kills"; fault=1; }
((last[3] <= first[3])) || { echo "FAULT: open descriptors grew"; fault=1; }
((last[5] <= first[5])) || { echo "FAULT: threads grew"; fault=1; }
((last[6] == 0)) || { echo "FAULT: children left unreaped"; fault=1; }
# RSS moves by a page or two as the allocator works; more than 256 kB is growth.
((last[4] - first[4] <= 256)) || { echo "FAULT: RSS grew by $((last[4] - first[4])) kB"; fault=1; }
exit "$fault"
