#!/usr/bin/env bash
# How long Perennix takes to end after "退出程序" is answered OK, on both tray kinds: an XEmbed
# tray (trayer) and a StatusNotifier tray (xfce4-panel on a session bus of its own). Each run
# starts Perennix, hides it, opens the tray menu with a right click on the icon, picks
# "退出程序" with the keys and answers the question with Enter; from that key it measures:
#   end  - until the process has ended (its /proc entry turns into a zombie, or goes);
#   gone - until the process has left the process table (what `kill -0`, pgrep or a process
#          list sees).
# Perennix is started either as this script's child ("child": the script reaps it at once) or
# detached, as a desktop or `setsid`/`nohup ... &` from a shell that ends leaves it ("detached":
# its parent is then PID 1, which reaps it when it gets to it).
# Usage: bench/tray_exit.sh [RUNS]   (RUNS per tray kind and start mode, default 9; after a build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=../tests/e2e/lib.sh
source "$root/tests/e2e/lib.sh"
export LC_ALL=C.UTF-8  # "." in $EPOCHREALTIME; UTF-8 window titles

[[ -x "$root/build/src/perennix" ]] || { echo "build first: build/src/perennix is missing" >&2; exit 1; }
export PX_CONTROLS=${PX_CONTROLS:-$root/build/px_controls}  # where "隐藏" is (lib.sh)
on_own_desktop "$root/scripts/with-x" "$0" "$@"

runs=${1:-9}
fail_label=tray_exit
make_workdir
mkdir "$dir/app"
cp "$root/build/src/perennix" "$dir/app/perennix"

now_ms() { echo $((${EPOCHREALTIME/./} / 1000)); }
# The process has ended: its entry is a zombie, or gone.
ended() { [[ ! -e /proc/$perennix_pid/stat ]] || [[ "$(awk '{print $3}' "/proc/$perennix_pid/stat" 2>/dev/null)" == Z ]]; }
gone() { ! kill -0 "$perennix_pid" 2>/dev/null; }
until_true() { until "$@"; do sleep 0.002; done; }

# start_perennix child|detached
start_perennix() {
  if [[ $1 == child ]]; then
    (cd "$dir/app" && exec ./perennix) >>"$dir/perennix.log" 2>&1 &
    perennix_pid=$!
  else
    perennix_pid=$(cd "$dir/app" && { ./perennix >>"$dir/perennix.log" 2>&1 & echo $!; })
  fi
  wait_for 30 has_main_window || fail "the main window did not show"
  window=$(main_window)
  wait_for 30 window_shown || fail "the main window is $(window_state)"
}

# right_click_icon xembed|sni: the right button on our tray icon.
right_click_icon() {
  if [[ $1 == xembed ]]; then
    wait_for 30 trayer_icon_present || fail "no icon in trayer"
    xdotool mousemove --window "$(trayer_icon)" 11 11 click 3
  else
    wait_for 30 eval '[[ "$(sni_item_count)" -eq 1 && -n "$(panel_button_centre)" ]]' || fail "no item in the panel"
    local x y
    read -r x y < <(panel_button_centre)
    xdotool mousemove "$x" "$y" click 3
  fi
}
tray_menu() { if [[ $1 == xembed ]]; then popup_menu; else panel_menu; fi; }

# One timed exit, into end_ms and gone_ms.
timed_exit() {
  local kind=$1 mode=$2 t0 t_end t_gone
  start_perennix "$mode"
  click_hide
  wait_for 30 window_withdrawn || fail "hide: the window is $(window_state)"
  right_click_icon "$kind"
  wait_for 30 eval '[[ -n "$(tray_menu "$kind")" ]]' || fail "the right click opened no menu"
  click_menu_entry "$(tray_menu "$kind")" 3  # "退出程序", after "显示/隐藏" and "高级设置"
  wait_for 30 exit_box_open || fail "退出程序 asked nothing"
  xdotool windowactivate --sync "$(exit_box)"
  t0=$(now_ms)
  xdotool key Return
  until_true ended
  t_end=$(now_ms)
  if [[ $mode == child ]]; then
    wait "$perennix_pid" || true
  else
    until_true gone
  fi
  t_gone=$(now_ms)
  perennix_pid=""
  end_ms=$((t_end - t0))
  gone_ms=$((t_gone - t0))
}

report() {
  local kind=$1 mode=$2 i ends=() gones=()
  for ((i = 0; i < runs; i++)); do
    timed_exit "$kind" "$mode"
    ends+=("$end_ms")
    gones+=("$gone_ms")
  done
  printf '%-16s %-9s end:  %s ms\n' "$kind" "$mode" "${ends[*]}"
  printf '%-16s %-9s gone: %s ms\n' "" "" "${gones[*]}"
}

echo "ms from the OK key, $runs runs each"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus"  # XEmbed: no session bus
start_trayer
report xembed child
report xembed detached
stop_trayer
sni_start_bus
sni_start_panel
report statusnotifier child
report statusnotifier detached
