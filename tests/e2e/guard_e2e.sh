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
  export PERENNIX_E2E_DESKTOP=1 WITH_X_NO_TRAY=1
  exec "$root/scripts/with-x" "$0" "$binary" "$root"
fi

dir=$(mktemp -d)
# No session bus: Qt's tray icon speaks XEmbed to trayer, whatever desktop the test runs from.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus"
perennix_pid=""
tray_pid=""
wm_running() {
  local wm
  wm=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | awk '{print $NF}')
  [[ "$wm" == 0x* ]] && xwininfo -id "$wm" >/dev/null 2>&1
}
fail() {
  echo "FAIL: $*" >&2
  wm_running || echo "(the window manager is gone)" >&2
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

# wait_for SECONDS COMMAND...: true once COMMAND succeeds, false when time runs out.
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

start_tray() {
  trayer --edge bottom --align right --widthtype pixel --width 120 --height 24 >>"$dir/trayer.log" 2>&1 &
  tray_pid=$!
  wait_for 5 tray_panel_exists || { cat "$dir/trayer.log"; fail "the tray host did not start"; }
}
stop_tray() {
  kill "$tray_pid"
  wait "$tray_pid" 2>/dev/null || true
  tray_pid=""
}
tray_panel() { xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {print $1; exit}'; }
tray_panel_exists() { [[ -n "$(tray_panel)" ]]; }
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
# Our popup menus: visible windows of ours wider than the tray icon, while the main window is hidden.
tray_menu_count() {
  local w
  for w in $(xdotool search --onlyvisible --class perennix 2>/dev/null || true); do
    [[ "$(xwininfo -id "$w" 2>/dev/null | awk '/Width:/ {print $2}')" -gt 60 ]] && echo "$w"
  done | awk 'END {print NR}'
}
tray_menu_open() { [[ "$(tray_menu_count)" -gt 0 ]]; }
tray_icon_absent() { [[ -z "$(tray_icon)" ]]; }

main_window() { xdotool search --onlyvisible --name '^Perennix$' 2>/dev/null | awk 'NR == 1' || true; }
window_state() { xprop -id "$window" WM_STATE 2>/dev/null | awk '/window state/ {print $3}'; }
window_shown() { [[ "$(window_state)" == Normal && "$(xwininfo -id "$window")" == *IsViewable* ]]; }
window_withdrawn() { [[ -z "$(window_state)" || "$(window_state)" == Withdrawn ]]; }
window_iconic() { [[ "$(window_state)" == Iconic ]]; }

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
wait_for 10 helper_running || fail "the helper was not launched"
wait_for 10 eval '[[ -n "$(main_window)" ]]' || fail "the main window did not show"
window=$(main_window)
first=$(helper_pid)
kill -9 "$first"
wait_for 5 helper_is_not "$first" || fail "the killed helper was not launched again"
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

# --- hide into the tray; the icon survives a restart of the tray host ---------------------
click_hide
wait_for 5 window_withdrawn || fail "hide: the window is still $(window_state)"
wait_for 5 tray_icon_present || fail "hide: no tray icon"
stop_tray
start_tray
wait_for 10 tray_icon_ready || fail "the icon did not come back to the restarted tray host"
echo "ok: hidden into the tray; the icon came back after the tray host restarted"

# --- the tray menu shows the window again and removes the icon ----------------------------
wait_for 5 tray_icon_ready || fail "the tray icon was not shown"
xdotool mousemove --window "$(tray_icon)" 11 11 click 1 sleep 0.3 click --repeat 2 1
sleep 1
! tray_menu_open || fail "a left click or a double click opened the tray menu"
window_withdrawn || fail "a left click or a double click showed the window"
# A menu that has just mapped may not hold the keyboard yet, and keys sent then are lost:
# like a user, try again when the window did not come back.
shown=0
for attempt in 1 2 3; do
  xdotool mousemove --window "$(tray_icon)" 11 11 click 3
  wait_for 5 tray_menu_open || fail "the right button did not open the tray menu"
  sleep 0.3
  [[ "$(tray_menu_count)" -eq 1 ]] || fail "one right click opened $(tray_menu_count) menus"
  xdotool key Down Return  # "显示/隐藏"
  if wait_for 3 window_shown; then
    shown=1
    break
  fi
  echo "retry: the menu did not take the keys (attempt $attempt)"
  xdotool key Escape
  sleep 0.3
done
((shown)) || fail "show from the tray menu: the window is $(window_state)"
wait_for 5 tray_icon_absent || fail "the tray icon stayed after showing the window"
echo "ok: left clicks did nothing; the tray menu showed the window and removed the icon"

# --- without a tray host, hiding minimises instead of leaving an unreachable window ------
stop_tray
sleep 0.5
click_hide
wait_for 5 window_iconic || fail "hide without a tray: the window is '$(window_state)', not minimised"
xdotool windowactivate "$window"
wait_for 5 window_shown || fail "the minimised window could not be restored"
echo "ok: with no tray host the window was minimised and restored"

# --- closing the window ends Perennix and leaves the helper running -----------------------
# The window manager maps the window before the program has taken the news: give it a moment.
sleep 0.5
click_close
wait_for 5 eval '! perennix_running' || fail "关闭 did not end Perennix"
wait "$perennix_pid" || fail "Perennix exited with status $?"
perennix_pid=""
[[ "$(helper_pid)" == "$second" ]] || fail "the helper did not survive the end of Perennix"
echo "ok: 关闭 ended Perennix; the helper keeps running"
