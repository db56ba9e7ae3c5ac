#!/usr/bin/env bash
# End to end: every way the real perennix binary ends is the run log's last entry, with its
# cause, and the program it guards runs on: the window's close box, SIGTERM while hidden in
# the tray (the icon goes too), Enter while guarding (asked first), and the X server going away.
#
# Usage: end_e2e.sh PERENNIX_BINARY REPO_ROOT
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

# A folder of its own: the program, its config.ini and a helper to guard.
linux_guard_e2e "$@"

# The run log's last entry, its message decoded from GBK (the timestamp cut off).
last_entry() { tail -n 1 "$dir/log.txt" | tr -d '\r' | cut -c24- | iconv -f GBK -t UTF-8; }

# start_perennix: Perennix from its folder, guarding the helper; its pid in perennix_pid.
start_perennix() {
  (cd / && exec "$dir/perennix") >/dev/null 2>&1 &
  perennix_pid=$!
  wait_for 30 helper_running || fail "the helper was not launched"
  wait_for 30 has_main_window "$perennix_pid" || fail "the main window did not show"
  window=$(main_window "$perennix_pid")
}

# expect_end CAUSE ENTRY [STATUS]: Perennix ended with STATUS (0 unless given), its log ends
# with ENTRY and the helper it guarded still runs.
expect_end() {
  local helper status=0 expected=${3:-0}
  helper=$(helper_pid)
  wait_for 30 eval '! perennix_running' || fail "$1 did not end Perennix"
  wait "$perennix_pid" || status=$?
  perennix_pid=""
  ((status == expected)) || fail "$1: Perennix exited with status $status, not $expected"
  [[ "$(last_entry)" == "$2" ]] || fail "$1: the log ends with '$(last_entry)', not '$2'"
  [[ "$(helper_pid)" == "$helper" ]] || fail "$1: the guarded helper did not survive"
  echo "ok: $1 ended Perennix, logged as '$2'; the helper runs on"
}

# --- the close box ------------------------------------------------------------------------
start_perennix
xdotool windowactivate --sync "$window" key --clearmodifiers alt+F4
expect_end "the close box" "->退出程序（关闭窗口）。。。"

# --- Enter while guarding asks first ------------------------------------------------------
start_perennix
xdotool windowactivate --sync "$window"
xdotool mousemove --window "$window" 0 0  # no button under the pointer
click_control IDC_AUTOSTART  # the start-on-launch check box takes the focus: a field, not a button
xdotool key --clearmodifiers space  # ...and gives its check back
xdotool key --clearmodifiers Return
wait_for 30 exit_box_open || fail "Enter while guarding did not ask"
answer_exit_box Escape
wait_for 30 eval '! exit_box_open' || fail "the exit question stayed"
perennix_running || fail "Enter, then Cancel, ended Perennix"
xdotool windowactivate --sync "$window" key --clearmodifiers Return
wait_for 30 exit_box_open || fail "Enter while guarding did not ask the second time"
answer_exit_box Return
expect_end "Enter, confirmed" "->退出程序（确认退出）。。。"

# --- SIGTERM while hidden in the tray -----------------------------------------------------
start_trayer
start_perennix
click_hide
wait_for 30 trayer_icon_ready || fail "hide: no tray icon"
kill -TERM "$perennix_pid"
expect_end "SIGTERM" "->退出程序，收到信号：SIGTERM"
wait_for 30 trayer_icon_absent || fail "SIGTERM left the tray icon behind"
stop_trayer

# --- the X server goes away ---------------------------------------------------------------
exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
started+=("$xvfb_pid")
read -r -t 30 -u "$displayfd" number || fail "the second X server did not start"
DISPLAY=":$number" start_perennix
kill -9 "$xvfb_pid"
# Qt ends the process itself then, with status 1: the end was not the program's choice.
expect_end "the X server's end" "->退出程序（与显示服务器的连接断开）。。。" 1
