#!/usr/bin/env bash
# End to end: the real Perennix.exe under Wine guarding a helper program, on the Wine desktop
# of scripts/with-wine (Xvfb, openbox, the trayer tray host). The window is driven with real
# input (xdotool); where a control is on the screen is asked of Windows (the helper's "rect").
#
# Usage: perennix_e2e.sh PERENNIX_EXE HELPER_EXE   (inside scripts/with-wine)
set -euo pipefail
source "$(dirname "$0")/../e2e/run_log_checks.sh"

exe=$(realpath "$1")
helper=$(realpath "$2")
wine=/usr/lib/wine/wine64
[[ -n "${WINEPREFIX:-}" && -n "${DISPLAY:-}" ]] || { echo "run inside scripts/with-wine" >&2; exit 2; }

dir=$(mktemp -d /tmp/px-e2e.XXXXXX)
perennix_pid=""
fail() {
  echo "FAIL: $*" >&2
  # PERENNIX_E2E_SCREENSHOT=file.png keeps a picture of the desktop at the failure.
  [[ -n "${PERENNIX_E2E_SCREENSHOT:-}" ]] && import -window root "$PERENNIX_E2E_SCREENSHOT" 2>/dev/null
  exit 1
}
cleanup() {
  [[ -n "$perennix_pid" ]] && kill "$perennix_pid" 2>/dev/null || true
  pkill -KILL -x pxguard.exe 2>/dev/null || true  # the guarded helpers this test started
  rm -rf "$dir"
}
trap cleanup EXIT

# wait_for SECONDS COMMAND...: true once COMMAND succeeds, false when time runs out.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}
windows_path() { echo "Z:${1//\//\\}"; }

# (Filters read their whole input: a reader that stops early fails the pipeline under pipefail.)
helper_pid() { pgrep -x pxguard.exe | awk 'NR == 1' || true; }
helper_running() { [[ -n "$(helper_pid)" ]]; }
helper_is_not() { local p; p=$(helper_pid); [[ -n "$p" && "$p" != "$1" ]]; }
perennix_running() { kill -0 "$perennix_pid" 2>/dev/null; }

main_window() { xdotool search --onlyvisible --name '^Perennix$' 2>/dev/null | awk 'NR == 1' || true; }
window_shown() { [[ -n "$(main_window)" ]]; }
window_hidden() { [[ -z "$(main_window)" ]]; }

# The screen rectangle of a control of the main window, as Windows places it.
control_rect() {
  rm -f "$dir/rect.txt"
  "$wine" "$helper" rect Perennix "$1" "$(windows_path "$dir/rect.txt")" >/dev/null 2>&1 || true
  cat "$dir/rect.txt" 2>/dev/null || echo none
}
click_control() {
  local left top right bottom
  read -r left top right bottom < <(control_rect "$1")
  [[ "$left" != none ]] || fail "control $1 is not on the screen"
  xdotool mousemove $(((left + right) / 2)) $(((top + bottom) / 2)) click 1
}
IDCANCEL=2 IDC_HIDE=1004

# Wine docks tray icons into the tray host's panel (or, without one, into its own window).
tray_panel() { xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {print $1; exit}'; }
tray_icon() {
  local panel
  panel=$(tray_panel)
  [[ -n "$panel" ]] && xwininfo -id "$panel" -tree | awk '/"explorer.exe"/ {print $1; exit}'
}
tray_icon_present() { [[ -n "$(tray_icon)" ]]; }
tray_icon_absent() { [[ -z "$(tray_icon)" ]]; }
tray_icon_ready() {
  local icon
  icon=$(tray_icon)
  [[ -n "$icon" && "$(xwininfo -id "$icon" 2>/dev/null)" == *IsViewable* ]]
}
# Our popup menu: a visible override-redirect window of Perennix.exe.
tray_menu() {
  local w
  for w in $(xdotool search --onlyvisible --class Perennix.exe 2>/dev/null || true); do
    [[ "$(xwininfo -id "$w" 2>/dev/null)" == *"Override Redirect State: yes"* ]] && { echo "$w"; return 0; }
  done
  return 1
}
tray_menu_open() { tray_menu >/dev/null; }

# --- a folder of its own: the program, its config.ini and a helper to guard ---------------
cp "$exe" "$dir/Perennix.exe"
cp "$helper" "$dir/pxguard.exe"
printf '[PX_SETTING]\r\nFULLPATH=%s\r\nEXE_NAME=pxguard.exe\r\nARGS=sleep\r\nLOOPSEC=1\r\nAUTOSTART=1\r\n' \
  "$(windows_path "$dir/pxguard.exe")" >"$dir/config.ini"

(cd "$dir" && exec "$wine" Perennix.exe) >/dev/null 2>&1 &
perennix_pid=$!

# --- start-on-launch guards at once; a killed helper is launched again --------------------
wait_for 15 helper_running || fail "the helper was not launched"
wait_for 15 window_shown || fail "the main window did not show"
first=$(helper_pid)
kill -9 "$first"
wait_for 10 helper_is_not "$first" || fail "the killed helper was not launched again"
second=$(helper_pid)
echo "ok: helper launched ($first), killed and launched again ($second)"

# --- the run log: the banner, the init entry and the watchdog's entries in GBK, CR LF ----
check_run_log "$dir/log.txt" "$(windows_path "$dir/pxguard.exe")"
echo "ok: log.txt holds the banner, the GBK init entry and what the watchdog did"

# --- hide into the tray; the tray menu shows the window again and removes the icon --------
click_control "$IDC_HIDE"
wait_for 5 window_hidden || fail "hide: the window is still shown"
wait_for 5 tray_icon_ready || fail "hide: no tray icon in the tray host"
xdotool mousemove --window "$(tray_icon)" 8 8 click 1
sleep 0.5
! tray_menu_open || fail "a left click opened the tray menu"
window_hidden || fail "a left click showed the window"
xdotool mousemove --window "$(tray_icon)" 8 8 click 3
wait_for 5 tray_menu_open || fail "the right button did not open the tray menu"
# "显示/隐藏", the first entry, clicked: the menu of a hidden window does not hold the keyboard.
menu=$(tray_menu)
xdotool mousemove --window "$menu" 30 10 click 1
wait_for 5 window_shown || fail "show from the tray menu: the window stayed hidden"
wait_for 5 tray_icon_absent || fail "the tray icon stayed after showing the window"
echo "ok: hidden into the tray; a left click did nothing; the tray menu showed the window and removed the icon"

# --- a second start in the folder shows the running one's window and leaves its log alone -
click_control "$IDC_HIDE"
wait_for 5 window_hidden || fail "hide: the window is still shown"
wait_for 5 tray_icon_ready || fail "hide: no tray icon in the tray host"
cp "$dir/log.txt" "$dir/log-before.txt"
(cd "$dir" && timeout 20 "$wine" Perennix.exe) >/dev/null 2>&1 || fail "the second start did not end by itself"
wait_for 5 window_shown || fail "the second start did not show the running window"
wait_for 5 tray_icon_absent || fail "the tray icon stayed after the second start showed the window"
cmp -s "$dir/log.txt" "$dir/log-before.txt" || fail "the second start changed log.txt: $(cat -v "$dir/log.txt")"
perennix_running || fail "the second start ended the running Perennix"
echo "ok: a second start ended at once and showed the hidden window; log.txt untouched"

# --- closing the window ends Perennix and leaves the helper running -----------------------
click_control "$IDCANCEL"
wait_for 10 eval '! perennix_running' || fail "关闭 did not end Perennix"
perennix_pid=""
[[ "$(helper_pid)" == "$second" ]] || fail "the helper did not survive the end of Perennix"
echo "ok: 关闭 ended Perennix; the helper keeps running"
