#!/usr/bin/env bash
# End to end: the real perennix binary guarding a helper program on a private virtual desktop
# (Xvfb + openbox) with a tray host this test starts, stops and restarts itself. The window is
# driven with real input (xdotool).
#
# Usage: guard_e2e.sh PERENNIX_BINARY REPO_ROOT
set -euo pipefail
source "$(dirname "$0")/run_log_checks.sh"

binary=$(realpath "$1")
root=$(realpath "$2")

# A display of its own: keys and clicks must not reach windows of tests running beside it.
if [[ "${PERENNIX_E2E_DESKTOP:-}" != 1 ]]; then
  export PERENNIX_E2E_DESKTOP=1 WITH_X_NO_TRAY=1 WITH_X_NO_WM=0
  exec "$root/scripts/with-x" "$0" "$binary" "$root"
fi

dir=$(mktemp -d)
# No session bus: Qt's tray icon speaks XEmbed to trayer, whatever desktop the test runs from.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus"
perennix_pid=""
tray_pid=""
fail() {
  echo "FAIL: $*" >&2
  "$WITH_X_WAIT" 0 wm || echo "(the window manager is gone)" >&2
  # PERENNIX_E2E_SCREENSHOT=file.png keeps a picture of the desktop at the failure.
  [[ -n "${PERENNIX_E2E_SCREENSHOT:-}" ]] && import -window root "$PERENNIX_E2E_SCREENSHOT" 2>/dev/null
  exit 1
}
cleanup() {
  [[ -n "$perennix_pid" ]] && kill "$perennix_pid" 2>/dev/null || true
  [[ -n "$tray_pid" ]] && kill "$tray_pid" 2>/dev/null || true
  pkill -KILL -f -- "^$dir/" 2>/dev/null || true  # the guarded helpers this test started
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

# The desktop's helpers: waiting (every step waits for what it needs with a bound that only a
# fault reaches, however loaded the machine is), the window, its controls, trayer and its icon,
# our tray menu.
# shellcheck source=tray_desktop.sh
source "$root/tests/e2e/tray_desktop.sh"

# (Filters read their whole input: a reader that stops early fails the pipeline under pipefail.)
helper_pid() { pgrep -f -- "^$dir/helper-exe/guardhelper" | awk 'NR == 1' || true; }
helper_running() { [[ -n "$(helper_pid)" ]]; }
helper_is_not() { local p; p=$(helper_pid); [[ -n "$p" && "$p" != "$1" ]]; }
perennix_running() { kill -0 "$perennix_pid" 2>/dev/null; }

# --- a folder of its own: the program, its config.ini and a helper to guard ---------------
cp "$binary" "$dir/perennix"
mkdir "$dir/helper-exe"  # "exe" in the path: launched directly, not through /bin/sh
cp "$(command -v sleep)" "$dir/helper-exe/guardhelper"
printf '[PX_SETTING]\r\nFULLPATH=%s\r\nEXE_NAME=guardhelper\r\nARGS=1000\r\nLOOPSEC=1\r\nAUTOSTART=1\r\n' \
  "$dir/helper-exe/guardhelper" >"$dir/config.ini"

start_trayer
(cd / && exec "$dir/perennix") >/dev/null 2>&1 &
perennix_pid=$!

# --- start-on-launch guards at once; a killed helper is launched again --------------------
wait_for 30 helper_running || fail "the helper was not launched"
wait_for 30 eval '[[ -n "$(main_window)" ]]' || fail "the main window did not show"
window=$(main_window)
first=$(helper_pid)
kill -9 "$first"
wait_for 30 helper_is_not "$first" || fail "the killed helper was not launched again"
second=$(helper_pid)
echo "ok: helper launched ($first), killed and launched again ($second)"

# --- the run log: the banner and the init entry in GBK, CR LF line ends ------------------
export LC_ALL=C
check_run_log "$dir/log.txt" "$dir/helper-exe/guardhelper"
echo "ok: log.txt holds the banner, the GBK init entry and what the watchdog did"

# --- the window never grows past its template: no full-screen grey window ----------------
read -r width height < <(window_size)
xprop -id "$window" WM_NORMAL_HINTS | grep -qF "program specified maximum size: $width by $height" \
  || fail "the window may grow past ${width}x$height: $(xprop -id "$window" WM_NORMAL_HINTS)"
echo "ok: the window stays within its template size (${width}x$height)"

# --- hide into the tray; the icon survives a restart of the tray host ---------------------
position=$(window_position)
click_hide
wait_for 30 window_withdrawn || fail "hide: the window is still $(window_state)"
wait_for 30 trayer_icon_present || fail "hide: no tray icon"
stop_trayer
start_trayer
wait_for 30 trayer_icon_ready || fail "the icon did not come back to the restarted tray host"
echo "ok: hidden into the tray; the icon came back after the tray host restarted"

# --- the tray menu shows the window again and removes the icon ----------------------------
# Left clicks and a double click, then the right button. The icon's clicks are handled in
# turn, so once the right button's menu is open the left clicks have been handled too: the
# window is still hidden, and this one menu is open.
wait_for 30 trayer_icon_ready || fail "the tray icon was not shown"
xdotool mousemove --window "$(trayer_icon)" 11 11 click 1 sleep 0.5 click --repeat 2 1 sleep 0.5 click 3
wait_for 30 qt_menu_open || fail "the right button did not open the tray menu"
window_withdrawn || fail "a left click or a double click showed the window"
[[ $(qt_menus | wc -l) -eq 1 ]] || fail "more than one tray menu is open"
click_menu_entry "$(qt_menu)" 1  # "显示/隐藏"
wait_for 30 window_shown || fail "show from the tray menu: the window is $(window_state)"
wait_for 30 trayer_icon_absent || fail "the tray icon stayed after showing the window"
[[ "$(window_position)" == "$position" ]] || fail "the window moved from $position to $(window_position) across hide and show"
echo "ok: left clicks did nothing; the tray menu showed the window where it was and removed the icon"

# --- without a tray host, hiding minimises instead of leaving an unreachable window ------
stop_trayer
click_hide
wait_for 30 window_iconic || fail "hide without a tray: the window is '$(window_state)', not minimised"
xdotool windowactivate "$window"
wait_for 30 window_shown || fail "the minimised window could not be restored"
echo "ok: with no tray host the window was minimised and restored"

# --- a window restored from the taskbar hides into a tray that came later, and comes back --
start_trayer
click_hide
wait_for 30 window_withdrawn || fail "hide after the restore: the window is still $(window_state)"
wait_for 30 trayer_icon_ready || fail "hide after the restore: no tray icon"
xdotool mousemove --window "$(trayer_icon)" 11 11 click 3
wait_for 30 qt_menu_open || fail "the right button did not open the tray menu"
click_menu_entry "$(qt_menu)" 1  # "显示/隐藏"
wait_for 30 window_shown || fail "after a restore from the taskbar the tray menu left the window $(window_state)"
stop_trayer
echo "ok: restored from the taskbar, hidden into a new tray and shown again from its menu"

# --- closing the window ends Perennix and leaves the helper running -----------------------
click_close
wait_for 30 eval '! perennix_running' || fail "关闭 did not end Perennix"
wait "$perennix_pid" || fail "Perennix exited with status $?"
perennix_pid=""
[[ "$(helper_pid)" == "$second" ]] || fail "the helper did not survive the end of Perennix"
echo "ok: 关闭 ended Perennix; the helper keeps running"
