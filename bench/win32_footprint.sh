#!/usr/bin/env bash
# The Windows program under Wine beside the Linux program, in one run:
#   - the size of each stripped executable, and the DLLs Perennix.exe imports;
#   - memory 30 s into idle guarding (LOOPSEC=60): on Windows' terms, private bytes and working
#     set as GetProcessMemoryInfo reports them, and on Linux's, RSS and PSS of the process;
#     with a minimal Win32 window program under Wine as the yardstick of Wine's own cost;
#   - start to the dialog's first paint (median of PX_STARTS starts);
#   - kill -9 of the guarded helper to the new helper's start at LOOPSEC=1 (median of PX_KILLS).
# Runs on a private Wine desktop without a window manager (scripts/with-wine).
# Usage: bench/win32_footprint.sh [LINUX_BUILD] [WINDOWS_BUILD]
#   (defaults build-footprint and build-win-footprint, configured as Release)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=../tests/e2e/lib.sh
source tests/e2e/lib.sh
export LC_ALL=C  # "." in $EPOCHREALTIME and in numbers

starts=${PX_STARTS:-11}
kills=${PX_KILLS:-15}
wine=/usr/lib/wine/wine64

if ! own_desktop; then
  linux=${1:-build-footprint}
  windows=${2:-build-win-footprint}
  scripts/deps
  if [[ "$(dpkg-query -W -f='${Status}' libxdamage-dev 2>/dev/null || true)" != "install ok installed" ]]; then
    SUDO=""
    [[ $(id -u) -eq 0 ]] || SUDO="sudo"
    $SUDO apt-get install -y -qq --no-install-recommends libxdamage-dev >/dev/null
  fi
  [[ -f "$linux/CMakeCache.txt" ]] || cmake -S . -B "$linux" -DCMAKE_BUILD_TYPE=Release -DPERENNIX_TESTS=OFF >/dev/null
  cmake -S . -B "$linux" -DPERENNIX_BENCH=ON >/dev/null
  cmake --build "$linux" -j"$(nproc)" --target perennix footprint_helper first_paint >/dev/null
  [[ -f "$windows/CMakeCache.txt" ]] || cmake -S . -B "$windows" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$windows" -j"$(nproc)" --target perennix px_winhelper >/dev/null
  on_own_desktop --no-wm scripts/with-wine "$windows" "$0" "$(realpath "$linux")" "$(realpath "$windows")"
fi

linux=$1
windows=$2
fail_label=win32_footprint
make_workdir /tmp/px-win32-footprint.XXXXXX
kill_at_end=(pxstamp.exe pxminimal.exe)

# Private bytes and working set in MiB, as Windows (Wine) reports them for the process IMAGE.
windows_memory_of() {
  "$wine" "$windows/tests/win32/px_winhelper.exe" memory "$1" "$(windows_path "$dir/mem.txt")" >/dev/null 2>&1 || true
  awk '$1 != "none" {printf "%.1f %.1f", $1 / 1048576, $2 / 1048576}' "$dir/mem.txt"
}

# --- the programs, each in a folder of its own with its config.ini ------------------------
mkdir -p "$dir/helper-exe"
cp "$linux/bench/footprint_helper" "$dir/helper-exe/pxh_linux"
cp "$windows/tests/win32/px_winhelper.exe" "$dir/helper-exe/pxstamp.exe"
cp "$windows/tests/win32/px_winhelper.exe" "$dir/helper-exe/pxminimal.exe"  # the yardstick: one plain window
minimal=("$wine" "$dir/helper-exe/pxminimal.exe" dialog PxMinimal PxMinimal "$(windows_path "$dir/p.txt")")
folder() {  # folder NAME PLATFORM LOOPSEC: a program folder guarding the helper (LOOPSEC empty: none)
  mkdir -p "$dir/$1"
  if [[ "$2" == linux ]]; then
    cp "$linux/src/perennix" "$dir/$1/perennix"
    [[ -z "$3" ]] || write_config "$dir/$1/config.ini" "FULLPATH=$dir/helper-exe/pxh_linux" EXE_NAME=pxh_linux \
      "ARGS=$dir/$1.rec" "LOOPSEC=$3" AUTOSTART=1
  else
    cp "$windows/src/Perennix.exe" "$dir/$1/Perennix.exe"
    [[ -z "$3" ]] || write_config "$dir/$1/config.ini" "FULLPATH=$(windows_path "$dir/helper-exe/pxstamp.exe")" \
      EXE_NAME=pxstamp.exe "ARGS=stamp $(windows_path "$dir/$1.rec")" "LOOPSEC=$3" AUTOSTART=1
  fi
}
folder start-linux linux ""
folder start-windows windows ""
folder idle-linux linux 60
folder idle-windows windows 60
folder fast-linux linux 1
folder fast-windows windows 1

echo "== executables"
strip -o "$dir/perennix.stripped" "$linux/src/perennix"
x86_64-w64-mingw32-strip -o "$dir/Perennix.stripped.exe" "$windows/src/Perennix.exe"
size_linux=$(stat -c %s "$dir/perennix.stripped")
size_windows=$(stat -c %s "$dir/Perennix.stripped.exe")
dlls=$(x86_64-w64-mingw32-objdump -p "$windows/src/Perennix.exe" | awk '/DLL Name:/ {print $3}' | tr '\n' ' ')
echo "perennix (Linux, stripped): $size_linux bytes, shared libraries: $(ldd "$linux/src/perennix" | wc -l)"
echo "Perennix.exe (stripped): $size_windows bytes, imports: $dlls"

echo "== start to first paint ($starts starts each, interleaved)"
paint_ms() { "$linux/bench/first_paint" "$@" | awk '{print $2}'; }
declare -A paint
paint_ms Perennix "$dir/start-linux/perennix" >/dev/null  # warm the caches
paint_ms Perennix "$wine" "$dir/start-windows/Perennix.exe" >/dev/null
paint_ms PxMinimal "${minimal[@]}" >/dev/null
for _ in $(seq 1 "$starts"); do
  paint[linux]+="$(paint_ms Perennix "$dir/start-linux/perennix") "
  paint[windows]+="$(paint_ms Perennix "$wine" "$dir/start-windows/Perennix.exe") "
  paint[minimal]+="$(paint_ms PxMinimal "${minimal[@]}") "
done
for s in linux windows minimal; do echo "$s: ${paint[$s]}"; done

echo "== memory 30 s into idle guarding, each alone"
declare -A mem winmem
(cd "$dir/idle-linux" && exec ./perennix) >/dev/null 2>&1 &
pid=$!
started+=("$pid")
sleep 30
mem[linux]=$(memory_of "$pid")
kill "$pid"
pkill -KILL -x pxh_linux || true
(cd "$dir/idle-windows" && exec "$wine" Perennix.exe) >/dev/null 2>&1 &
started+=($!)
wait_for 20 pgrep -x Perennix.exe >/dev/null || fail "Perennix.exe did not start"
sleep 30
mem[windows]=$(memory_of "$(pgrep -x Perennix.exe | head -n 1)")
winmem[windows]=$(windows_memory_of Perennix.exe)
pkill -x Perennix.exe || true
pkill -KILL -x pxstamp.exe || true
"${minimal[@]}" >/dev/null 2>&1 &
started+=($!)
sleep 30
mem[minimal]=$(memory_of "$(pgrep -x pxminimal.exe | head -n 1)")
winmem[minimal]=$(windows_memory_of pxminimal.exe)
pkill -x pxminimal.exe || true
for s in linux windows minimal; do echo "$s: RSS/PSS ${mem[$s]} MiB; private bytes/working set ${winmem[$s]:-n/a} MiB"; done

echo "== kill -9 of the helper to the new helper's start ($kills kills each, LOOPSEC=1)"
declare -A relaunch
# The helpers of the idle phase are gone before the relaunch phase starts.
helpers_gone() { ! pgrep -x pxh_linux >/dev/null && ! pgrep -x pxstamp.exe >/dev/null; }
wait_for 10 helpers_gone || fail "helpers linger"
(cd "$dir/fast-linux" && exec ./perennix) >/dev/null 2>&1 &
started+=($!)
list=$(relaunch_ms "$kills" "$dir/fast-linux.rec" pgrep -nx pxh_linux)
relaunch[linux]=$(echo "$list" | median)
echo "linux: $(echo "$list" | tr '\n' ' ')"
(cd "$dir/fast-windows" && exec "$wine" Perennix.exe) >/dev/null 2>&1 &
started+=($!)
list=$(relaunch_ms "$kills" "$dir/fast-windows.rec" pgrep -nx pxstamp.exe)
relaunch[windows]=$(echo "$list" | median)
echo "windows: $(echo "$list" | tr '\n' ' ')"

echo
echo "| program | stripped size | RSS MiB | PSS MiB | private bytes MiB | working set MiB | start to first paint ms (median) | kill -9 to relaunch ms (median) |"
echo "|---|---|---|---|---|---|---|---|"
row() { echo "| $1 | $2 | ${3% *} | ${3#* } | ${4% *} | ${4#* } | $5 | $6 |"; }
row "Perennix, Linux (Qt)" "$size_linux" "${mem[linux]}" "n/a n/a" "$(echo "${paint[linux]}" | tr ' ' '\n' | median)" "${relaunch[linux]}"
row "Perennix.exe under Wine" "$size_windows" "${mem[windows]}" "${winmem[windows]}" \
  "$(echo "${paint[windows]}" | tr ' ' '\n' | median)" "${relaunch[windows]}"
row "minimal Win32 window under Wine" "n/a" "${mem[minimal]}" "${winmem[minimal]}" \
  "$(echo "${paint[minimal]}" | tr ' ' '\n' | median)" "n/a"
echo
# Under Wine every Windows program carries Wine's own private memory (its DLLs' heaps and
# data); the minimal window shows how much. What Perennix adds above it is its own.
awk -v p="${winmem[windows]% *}" -v m="${winmem[minimal]% *}" 'BEGIN {
  printf "goal private bytes <= 4 MiB:      %5.1f  %s under Wine (a minimal window: %.1f)\n", p, (p <= 4) ? "met" : "MISSED", m
  printf "Perennix above the minimal window: %5.1f MiB\n", p - m
}'
