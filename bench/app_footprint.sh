#!/usr/bin/env bash
# The footprint of Perennix guarding a helper program, beside Qt's minimal QDialog program built
# the same way and beside supervisord and monit guarding the same helper, in one run:
#   - RSS and PSS 30 s after start; for Perennix also with its window hidden into a tray
#     (trayer), where a watchdog spends its day;
#   - CPU per day of idle guarding (Perennix at LOOPSEC=60, monit at a 60 s cycle), from
#     PX_IDLE_SECONDS of idling with every window unfocused (a focused window's caret costs CPU);
#   - start to the window's first paint (median of PX_STARTS starts; Qt programs only);
#   - kill -9 of the helper to the new helper's start (median of PX_KILLS kills; Perennix at
#     LOOPSEC=1, supervisord's defaults, monit at a 1 s cycle).
# Runs on a private virtual desktop without a window manager (a tray only for that one figure). Installs supervisor, monit and
# libxdamage-dev with apt-get when missing (the benchmark's own needs, not the tests').
# Usage: bench/app_footprint.sh [BUILD_DIR]   (default build-footprint, configured as Release)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=../tests/e2e/lib.sh
source tests/e2e/lib.sh
export LC_ALL=C  # "." in $EPOCHREALTIME and in numbers

idle_seconds=${PX_IDLE_SECONDS:-300}
starts=${PX_STARTS:-15}
kills=${PX_KILLS:-20}

if ! own_desktop; then
  build=${1:-build-footprint}
  scripts/deps
  missing=()
  for p in supervisor monit libxdamage-dev; do
    [[ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)" == "install ok installed" ]] || missing+=("$p")
  done
  if ((${#missing[@]})); then
    SUDO=""
    [[ $(id -u) -eq 0 ]] || SUDO="sudo"
    $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
  if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPERENNIX_TESTS=OFF >/dev/null
  fi
  cmake -S . -B "$build" -DPERENNIX_BENCH=ON >/dev/null
  cmake --build "$build" -j"$(nproc)" --target perennix minimal_qdialog footprint_helper first_paint px_controls \
    >/dev/null
  on_own_desktop --no-wm scripts/with-x "$0" "$(realpath "$build")"
fi

build=$1
export PX_CONTROLS="$build/px_controls"  # where "隐藏" is (lib.sh)
fail_label=footprint
make_workdir /tmp/px-footprint.XXXXXX

# CPU time used so far by all threads of a process, in ns (exact, unlike the 10 ms ticks of stat).
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%d", s}'; }
wait_helper() { wait_for 30 live_helper "$1" >/dev/null || fail "no helper started for $1"; }

mkdir -p "$dir/helper-exe"  # "exe" in the program path: Perennix starts it directly
for name in pxh_perennix pxh_fast pxh_super pxh_monit pxh_monit1; do
  cp "$build/bench/footprint_helper" "$dir/helper-exe/$name"
done
# A folder with Perennix and its config.ini: perennix_folder NAME HELPER LOOPSEC
perennix_folder() {
  mkdir -p "$dir/$1"
  cp "$build/src/perennix" "$dir/$1/perennix"
  if [[ -n "$2" ]]; then
    write_config "$dir/$1/config.ini" "FULLPATH=$dir/helper-exe/$2" "EXE_NAME=$2" "ARGS=$dir/$2.rec" "LOOPSEC=$3" \
      AUTOSTART=1
  fi
}
perennix_folder start "" ""
perennix_folder idle pxh_perennix 60
perennix_folder fast pxh_fast 1

cat >"$dir/supervisord.conf" <<EOF
[supervisord]
nodaemon=true
logfile=$dir/supervisord.log
pidfile=$dir/supervisord.pid
childlogdir=$dir
[program:pxh]
command=$dir/helper-exe/pxh_super $dir/pxh_super.rec
autorestart=true
stdout_logfile=NONE
stderr_logfile=NONE
EOF
monitrc() {  # monitrc NAME HELPER CYCLE
  cat >"$dir/$1" <<EOF
set daemon $3
set logfile $dir/$1.log
set pidfile $dir/$1.pid
set idfile $dir/$1.id
set statefile $dir/$1.state
check process $2 matching "^$dir/helper-exe/$2 "
  start program = "/bin/sh -c '$dir/helper-exe/$2 $dir/$2.rec &'"
EOF
  chmod 600 "$dir/$1"
}
monitrc monit60rc pxh_monit 60
monitrc monit1rc pxh_monit1 1

echo "== start to first paint ($starts starts each, interleaved)"
minimal="$build/bench/minimal_qdialog"
minimal_ms=()
label_ms=()
widgets_ms=()
perennix_ms=()
paint_ms() { "$build/bench/first_paint" "$@" | awk '{print $2}'; }
paint_ms MinimalQDialog "$minimal" >/dev/null  # warm the caches
paint_ms MinimalQDialog "$minimal" --label >/dev/null
paint_ms MinimalQDialog "$minimal" --widgets >/dev/null
paint_ms Perennix "$dir/start/perennix" >/dev/null
for _ in $(seq 1 "$starts"); do
  minimal_ms+=("$(paint_ms MinimalQDialog "$minimal")")
  label_ms+=("$(paint_ms MinimalQDialog "$minimal" --label)")
  widgets_ms+=("$(paint_ms MinimalQDialog "$minimal" --widgets)")
  perennix_ms+=("$(paint_ms Perennix "$dir/start/perennix")")
done
start_minimal=$(printf '%s\n' "${minimal_ms[@]}" | median)
start_label=$(printf '%s\n' "${label_ms[@]}" | median)
start_widgets=$(printf '%s\n' "${widgets_ms[@]}" | median)
start_perennix=$(printf '%s\n' "${perennix_ms[@]}" | median)
echo "minimal QDialog:           ${minimal_ms[*]}"
echo "minimal QDialog + label:   ${label_ms[*]}"
echo "minimal QDialog + widgets: ${widgets_ms[*]}"
echo "Perennix:                  ${perennix_ms[*]}"

declare -A mem cpu0 cpu
echo "== memory 30 s after start, each Qt program alone (shared libraries count for it alone)"
memory_alone() {  # memory_alone NAME COMMAND...
  "${@:2}" >/dev/null 2>&1 &
  local pid=$!
  started+=("$pid")
  sleep 30
  mem[$1]=$(memory_of "$pid")
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  echo "$1: RSS/PSS ${mem[$1]} MiB"
}
memory_alone minimal "$minimal"
memory_alone label "$minimal" --label
memory_alone widgets "$minimal" --widgets
memory_alone perennix "$dir/idle/perennix"
pkill -KILL -f -- "^$dir/helper-exe/pxh_perennix " || true

# Perennix where a watchdog spends its day: guarding, its window hidden into a tray (trayer)
# with "隐藏", 30 s after start.
start_trayer
"$dir/idle/perennix" >/dev/null 2>&1 &
pid_tray=$!
started+=("$pid_tray")
wait_for 30 has_main_window || fail "no window to hide"
window=$(main_window)
wait_for 30 window_viewable || fail "the window did not show"
begin=$SECONDS
click_hide
wait_for 30 eval '! window_viewable' || fail "the window did not hide"
wait_for 30 trayer_icon_present || fail "no tray icon"
sleep $((30 - (SECONDS - begin) > 0 ? 30 - (SECONDS - begin) : 0))
mem[tray]=$(memory_of "$pid_tray")
echo "perennix hidden in the tray: RSS/PSS ${mem[tray]} MiB"
kill "$pid_tray"
wait "$pid_tray" 2>/dev/null || true
stop_trayer
pkill -KILL -f -- "^$dir/helper-exe/pxh_perennix " || true

echo "== CPU of idle guarding over $idle_seconds s, all at once, no window focused"
"$dir/idle/perennix" >/dev/null 2>&1 &
pid_perennix=$!
"$minimal" >/dev/null 2>&1 &
pid_minimal=$!
"$minimal" --label >/dev/null 2>&1 &
pid_label=$!
supervisord -n -c "$dir/supervisord.conf" >/dev/null 2>&1 &
pid_super=$!
monit -I -c "$dir/monit60rc" >/dev/null 2>&1 &
pid_monit=$!
started+=("$pid_perennix" "$pid_minimal" "$pid_label" "$pid_super" "$pid_monit")
begin=$SECONDS
for rec in pxh_perennix pxh_super pxh_monit; do wait_helper "$dir/$rec.rec"; done
# No window keeps the focus: the pointer goes to a corner and the focus to the root window.
sleep 2
xdotool mousemove 0 0
xdotool windowfocus "$(xwininfo -root | awk '/Window id:/ {print $4}')"
sleep $((30 - (SECONDS - begin) > 0 ? 30 - (SECONDS - begin) : 0))
mem[super]=$(memory_of "$pid_super")
mem[monit]=$(memory_of "$pid_monit")
for s in perennix minimal label super monit; do
  pid_var=pid_$s
  cpu0[$s]=$(cpu_ns "${!pid_var}")
done
echo "focused window during the idle period: $(xdotool getwindowfocus 2>/dev/null || echo none)" \
  "(the root window: $(($(xwininfo -root | awk '/Window id:/ {print $4}'))))"
sleep "$idle_seconds"
for s in perennix minimal label super monit; do
  pid_var=pid_$s
  kill -0 "${!pid_var}" || { echo "footprint: $s ended during the idle period" >&2; exit 1; }
  cpu[$s]=$(awk -v a="${cpu0[$s]}" -v b="$(cpu_ns "${!pid_var}")" -v t="$idle_seconds" \
    'BEGIN {printf "%.2f", (b - a) / 1e9 * 86400 / t}')
done
kill "$pid_perennix" "$pid_minimal" "$pid_label" "$pid_monit"
pkill -KILL -f -- "^$dir/helper-exe/pxh_(perennix|monit) " || true

echo "== kill -9 of the helper to the new helper's start ($kills kills each)"
"$dir/fast/perennix" >/dev/null 2>&1 &
started+=($!)
monit -I -c "$dir/monit1rc" >/dev/null 2>&1 &
started+=($!)
declare -A relaunch
for s in fast super monit1; do
  case $s in fast) rec=pxh_fast ;; super) rec=pxh_super ;; monit1) rec=pxh_monit1 ;; esac
  list=$(relaunch_ms "$kills" "$dir/$rec.rec" live_helper "$dir/$rec.rec")
  relaunch[$s]=$(echo "$list" | median)
  echo "$s: $(echo "$list" | tr '\n' ' ')"
done

echo
echo "| program | RSS MiB | PSS MiB | CPU s/day idle | start to first paint ms (median) | kill -9 to relaunch ms (median) |"
echo "|---|---|---|---|---|---|"
row() { echo "| $1 | ${2% *} | ${2#* } | $3 | $4 | $5 |"; }
row "Perennix (LOOPSEC=60; relaunch at LOOPSEC=1)" "${mem[perennix]}" "${cpu[perennix]}" "$start_perennix" "${relaunch[fast]}"
row "Perennix hidden in the tray (guarding)" "${mem[tray]}" "" "" ""
row "Qt minimal QDialog" "${mem[minimal]}" "${cpu[minimal]}" "$start_minimal" "n/a"
row "Qt minimal QDialog + one Chinese label" "${mem[label]}" "${cpu[label]}" "$start_label" "n/a"
row "Qt QDialog with the main window's widgets, no program" "${mem[widgets]}" "" "$start_widgets" "n/a"
row "supervisord" "${mem[super]}" "${cpu[super]}" "n/a" "${relaunch[super]}"
row "monit (60 s cycle; relaunch at a 1 s cycle)" "${mem[monit]}" "${cpu[monit]}" "n/a" "${relaunch[monit1]}"
echo
awk -v pr="${mem[perennix]% *}" -v mr="${mem[minimal]% *}" -v lr="${mem[label]% *}" -v pc="${cpu[perennix]}" \
  -v ps="$start_perennix" -v ms="$start_minimal" -v ls="$start_label" -v rl="${relaunch[fast]}" \
  -v tr="${mem[tray]% *}" -v wr="${mem[widgets]% *}" -v ws="$start_widgets" 'BEGIN {
  printf "goal RSS <= one-label dialog + 2 MiB: %5.1f <= %5.1f  %s   (hidden in the tray: %5.1f  %s)\n", pr, lr + 2,
    (pr <= lr + 2) ? "met" : "MISSED", tr, (tr <= lr + 2) ? "met" : "MISSED"
  printf "  the main window'"'"'s widgets alone: one-label dialog + %.1f MiB; Perennix above them: %.1f MiB\n", wr - lr, pr - wr
  printf "goal CPU <= 0.5 s per idle day:       %5.2f           %s\n", pc, (pc <= 0.5) ? "met" : "MISSED"
  printf "goal RSS <= minimal + 3 MiB:         %5.1f <= %5.1f  %s   (minimal + label + 3: %5.1f  %s)\n", pr, mr + 3,
    (pr <= mr + 3) ? "met" : "MISSED", lr + 3, (pr <= lr + 3) ? "met" : "MISSED"
  printf "goal CPU <= 1 s per idle day:         %5.2f           %s\n", pc, (pc <= 1) ? "met" : "MISSED"
  printf "goal start <= 1.1 x minimal:         %5.1f <= %5.1f  %s   (1.1 x minimal + label: %5.1f  %s)\n", ps, ms * 1.1,
    (ps <= ms * 1.1) ? "met" : "MISSED", ls * 1.1, (ps <= ls * 1.1) ? "met" : "MISSED"
  printf "  the main window'"'"'s widgets alone: %.2f x the one-label dialog; Perennix: %.2f x them\n", ws / ls, ps / ws
  printf "goal kill to relaunch <= 700 ms:     %5.0f           %s\n", rl, (rl <= 700) ? "met" : "MISSED"
}'
