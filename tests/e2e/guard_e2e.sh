#!/usr/bin/env bash
# End to end: the real perennix binary guarding a helper program on a private virtual desktop
# (Xvfb + openbox) with a tray host this test starts, stops and restarts itself. The window is
# driven with real input (xdotool).
#
# Usage: guard_e2e.sh PERENNIX_BINARY REPO_ROOT
set -euo pipefail

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

# wait_for SECONDS COMMAND...: true once COMMAND succeeds, false when time runs out. Every
# step waits for what it needs with a bound that only a fault reaches, however loaded the
# machine is.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

# (Filters read their whole input: a reader that stops early fails the pipeline under pipefail.)
helper_pid() { pgrep -f -- "^$dir/helper-exe/guardhelper" | awk 'NR == 1' || true; }
helper_running() { [[ -n "$(helper_pid)" ]]; }
helper_is_not() { local p; p=$(helper_pid); [[ -n "$p" && "$p" != "$1" ]]; }
perennix_running() { kill -0 "$perennix_pid" 2>/dev/null; }

# The tray host is up once it owns the tray selection, and gone (its windows with it) once
# the selection has no owner: only then does a program see the tray as it is.
start_tray() {
  trayer --edge bottom --align right --widthtype pixel --width 120 --height 24 >>"$dir/trayer.log" 2>&1 &
  tray_pid=$!
  "$WITH_X_WAIT" -p "$tray_pid" 30 owned _NET_SYSTEM_TRAY_S0 || { cat "$dir/trayer.log"; fail "the tray host did not start"; }
}
stop_tray() {
  kill "$tray_pid"
  wait "$tray_pid" 2>/dev/null || true
  tray_pid=""
  "$WITH_X_WAIT" 30 unowned _NET_SYSTEM_TRAY_S0 || fail "the stopped tray host still owns the tray"
}
tray_panel() { xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {print $1; exit}'; }
# The window Qt docks into the tray host's panel for our icon.
tray_icon() {
  local panel
  panel=$(tray_panel)
  [[ -n "$panel" ]] && xwininfo -id "$panel" -tree | awk '/"perennix"/ {print $1; exit}'
}
tray_icon_present() { [[ -n "$(tray_icon)" ]]; }
# Docked and shown: the tray host maps the icon only once it has placed it.
tray_icon_ready() {
  local icon
  icon=$(tray_icon)
  [[ -n "$icon" && "$(xwininfo -id "$icon" 2>/dev/null)" == *IsViewable* ]]
}
# Our popup menus: visible windows of ours right on the root window (neither framed by the
# window manager nor docked in the tray), other than the icon's tooltip.
tray_menus() {
  local w
  for w in $(xdotool search --onlyvisible --class perennix 2>/dev/null || true); do
    [[ "$(xwininfo -id "$w" -children 2>/dev/null)" == *"Parent window id: "*"(the root window)"* ]] || continue
    [[ "$(xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null)" == *_NET_WM_WINDOW_TYPE_TOOLTIP* ]] || echo "$w"
  done
  return 0
}
tray_menu_open() { [[ -n "$(tray_menus)" ]]; }
# Clicks an entry of the open tray menu: its two entries ("显示/隐藏", "退出程序") are equally
# high around a thin separator, so the upper and lower quarter of the menu are within them.
pick_tray_menu_entry() {
  local menu width height
  menu=$(tray_menus | awk 'NR == 1')
  read -r width height < <(xwininfo -id "$menu" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w, h}')
  xdotool mousemove --window "$menu" $((width / 2)) $((height * (2 * $1 - 1) / 4)) click 1
}
tray_icon_absent() { [[ -z "$(tray_icon)" ]]; }

main_window() { xdotool search --onlyvisible --name '^Perennix$' 2>/dev/null | awk 'NR == 1' || true; }
window_state() { xprop -id "$window" WM_STATE 2>/dev/null | awk '/window state/ {print $3}'; }
window_shown() { [[ "$(window_state)" == Normal && "$(xwininfo -id "$window")" == *IsViewable* ]]; }
window_withdrawn() { [[ -z "$(window_state)" || "$(window_state)" == Withdrawn ]]; }
window_iconic() { [[ "$(window_state)" == Iconic ]]; }
window_position() { xwininfo -id "$window" | awk '/Absolute upper-left X:/ {x = $4} /Absolute upper-left Y:/ {y = $4} END {print x, y}'; }
window_size() { xwininfo -id "$window" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w, h}'; }

# Clicks the centre of a control given by its template rectangle in dialog units (x y cx cy),
# converted with the window's own scale: the client area is 307 by 249 dialog units.
click_control() {
  local width height
  read -r width height < <(xwininfo -id "$window" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w, h}')
  local px=$((($1 * 2 + $3) * width / 307 / 2)) py=$((($2 * 2 + $4) * height / 249 / 2))
  xdotool mousemove --window "$window" "$px" "$py" click 1
}
click_hide() { click_control 108 202 36 14; }
click_close() { click_control 171 202 32 14; }

# --- a folder of its own: the program, its config.ini and a helper to guard ---------------
cp "$binary" "$dir/perennix"
mkdir "$dir/helper-exe"  # "exe" in the path: launched directly, not through /bin/sh
cp "$(command -v sleep)" "$dir/helper-exe/guardhelper"
printf '[PX_SETTING]\r\nFULLPATH=%s\r\nEXE_NAME=guardhelper\r\nARGS=1000\r\nLOOPSEC=1\r\nAUTOSTART=1\r\n' \
  "$dir/helper-exe/guardhelper" >"$dir/config.ini"

start_tray
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
log="$dir/log.txt"
head -1 "$log" | grep -qE $'^---------[A-Z][a-z]{2} [ 123][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}-----------\r$' \
  || fail "banner: $(head -1 "$log" | cat -v)"
init=$(printf '\x2d\x3e\xb6\xd4\xbb\xb0\xbf\xf2\xb3\xf5\xca\xbc\xbb\xaf\xcd\xea\xb3\xc9\xa1\xa3\xa1\xa3\xa1\xa3')  # "->对话框初始化完成。。。" in GBK
sed -n 2p "$log" | grep -qE "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}$init"$'\r$' \
  || fail "init entry: $(sed -n 2p "$log" | cat -v)"
# Then what the watchdog did: guarding started at launch, and each launch with the path.
autostart=$(printf '\x2d\x3e\xbf\xaa\xca\xbc\xca\xd8\xbb\xa4\xa3\xa8\xc8\xed\xbc\xfe\xc6\xf4\xb6\xaf\xca\xb1\xd7\xd4\xb6\xaf\xbf\xaa\xca\xbc\xa3\xa9\xa1\xa3\xa1\xa3\xa1\xa3')  # "->开始守护（软件启动时自动开始）。。。"
launched=$(printf '\x2d\x3e\xb3\xcc\xd0\xf2\xce\xb4\xd4\xcb\xd0\xd0\xa3\xac\xd2\xd1\xc6\xf4\xb6\xaf\xa3\xba')  # "->程序未运行，已启动："
sed -n 3p "$log" | grep -qF -- "$autostart" || fail "start entry: $(sed -n 3p "$log" | cat -v)"
[[ $(grep -cF -- "$launched$dir/helper-exe/guardhelper"$'\r' "$log") -ge 2 ]] || fail "launch entries: $(cat -v "$log")"
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
wait_for 30 tray_icon_present || fail "hide: no tray icon"
stop_tray
start_tray
wait_for 30 tray_icon_ready || fail "the icon did not come back to the restarted tray host"
echo "ok: hidden into the tray; the icon came back after the tray host restarted"

# --- the tray menu shows the window again and removes the icon ----------------------------
# Left clicks and a double click, then the right button. The icon's clicks are handled in
# turn, so once the right button's menu is open the left clicks have been handled too: the
# window is still hidden, and this one menu is open.
wait_for 30 tray_icon_ready || fail "the tray icon was not shown"
xdotool mousemove --window "$(tray_icon)" 11 11 click 1 sleep 0.5 click --repeat 2 1 sleep 0.5 click 3
wait_for 30 tray_menu_open || fail "the right button did not open the tray menu"
window_withdrawn || fail "a left click or a double click showed the window"
[[ $(tray_menus | wc -l) -eq 1 ]] || fail "more than one tray menu is open"
pick_tray_menu_entry 1  # "显示/隐藏"
wait_for 30 window_shown || fail "show from the tray menu: the window is $(window_state)"
wait_for 30 tray_icon_absent || fail "the tray icon stayed after showing the window"
[[ "$(window_position)" == "$position" ]] || fail "the window moved from $position to $(window_position) across hide and show"
echo "ok: left clicks did nothing; the tray menu showed the window where it was and removed the icon"

# --- without a tray host, hiding minimises instead of leaving an unreachable window ------
stop_tray
click_hide
wait_for 30 window_iconic || fail "hide without a tray: the window is '$(window_state)', not minimised"
xdotool windowactivate "$window"
wait_for 30 window_shown || fail "the minimised window could not be restored"
echo "ok: with no tray host the window was minimised and restored"

# --- a window restored from the taskbar hides into a tray that came later, and comes back --
start_tray
click_hide
wait_for 30 window_withdrawn || fail "hide after the restore: the window is still $(window_state)"
wait_for 30 tray_icon_ready || fail "hide after the restore: no tray icon"
xdotool mousemove --window "$(tray_icon)" 11 11 click 3
wait_for 30 tray_menu_open || fail "the right button did not open the tray menu"
pick_tray_menu_entry 1  # "显示/隐藏"
wait_for 30 window_shown || fail "after a restore from the taskbar the tray menu left the window $(window_state)"
stop_tray
echo "ok: restored from the taskbar, hidden into a new tray and shown again from its menu"

# --- closing the window ends Perennix and leaves the helper running -----------------------
click_close
wait_for 30 eval '! perennix_running' || fail "关闭 did not end Perennix"
wait "$perennix_pid" || fail "Perennix exited with status $?"
perennix_pid=""
[[ "$(helper_pid)" == "$second" ]] || fail "the helper did not survive the end of Perennix"
echo "ok: 关闭 ended Perennix; the helper keeps running"
