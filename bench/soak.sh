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
# shellcheck source=../tests/e2e/lib.sh
source tests/e2e/lib.sh
export LC_ALL=C

minutes=${1:?usage: bench/soak.sh MINUTES [BUILD_DIR]}
[[ "$minutes" =~ ^[1-9][0-9]*$ ]] || { echo "soak: MINUTES must be a whole number above 0" >&2; exit 2; }

if ! own_desktop; then
  build=${2:-build-soak}
  scripts/deps
  if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPERENNIX_TESTS=OFF >/dev/null
  fi
  cmake -S . -B "$build" -DPERENNIX_BENCH=ON >/dev/null
  cmake --build "$build" -j2 --target perennix footprint_helper >/dev/null
  on_own_desktop --no-wm scripts/with-x "$0" "$minutes" "$(realpath "$build")"
fi

build=$2
fail_label=soak
make_workdir /tmp/px-soak.XXXXXX

# The helper appends "<pid> <start ns>" to the record at each start; "exe" in the program
# path makes Perennix start it directly.
mkdir -p "$dir/helper-exe" "$dir/app"
cp "$build/bench/footprint_helper" "$dir/helper-exe/pxsoak_helper"
cp "$build/src/perennix" "$dir/app/perennix"
record=$dir/launches.rec
write_config "$dir/app/config.ini" "FULLPATH=$dir/helper-exe/pxsoak_helper" EXE_NAME=pxsoak_helper "ARGS=$record" \
  LOOPSEC=1 AUTOSTART=1

launches() { [[ -f "$record" ]] && wc -l <"$record" || echo 0; }
# launched_after COUNT: the record holds more than COUNT lines and its last helper runs.
launched_after() { (($(launches) > $1)) && live_helper "$record" >/dev/null; }
fds() { find "/proc/$perennix_pid/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l; }
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$perennix_pid/status"; }
threads() { awk '/^Threads:/ {print $2}' "/proc/$perennix_pid/status"; }
# Children that ended and were never waited for.
zombies() { ps -o stat= --ppid "$perennix_pid" 2>/dev/null | awk '$1 ~ /^Z/ {n++} END {print n + 0}'; }

(cd "$dir/app" && exec ./perennix >/dev/null 2>&1) &
perennix_pid=$!
wait_for 30 launched_after 0 || fail "Perennix never launched the helper"

kills=0
missed=0
samples=()
sample() {
  perennix_running || fail "Perennix ended after $1 min"
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
  if pid=$(live_helper "$record"); then
    kill -9 "$pid"
    kills=$((kills + 1))
    # The next kill waits for the relaunch: a kill never falls on a helper already dead.
    wait_for 30 launched_after "$before" || { missed=$((missed + 1)); echo "soak: no relaunch within 30 s of kill $kills" >&2; }
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
