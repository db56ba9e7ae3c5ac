#!/usr/bin/env bash
# End to end: the real perennix binary guarding a helper program on a private virtual desktop
# (Xvfb + openbox) with a tray host this test starts, stops and restarts itself. The window is
# driven with real input (xdotool).
#
# Usage: guard_e2e.sh PERENNIX_BINARY REPO_ROOT
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

# A folder of its own: the program, its config.ini and a helper to guard.
linux_guard_e2e "$@"

start_trayer
(cd / && exec "$dir/perennix") >/dev/null 2>&1 &
perennix_pid=$!

# --- start-on-launch guards at once; a killed helper is launched again --------------------
expect_relaunch 30 30
window=$(main_window)

# --- the run log: the banner and the init entry in GBK, CR LF line ends ------------------
export LC_ALL=C
check_run_log "$dir/log.txt" "$dir/helper-exe/guardhelper"
echo "ok: log.txt holds the banner, the GBK init entry and what the watchdog did"

# --- the window never grows past its template: no full-screen grey window ----------------
read -r width height < <(window_size)
xprop -id "$window" WM_NORMAL_HINTS | grep -qF "program specified maximum size: $width by $height" \
  || fail "the window may grow past ${width}x$height: $(xprop -id "$window" WM_NORMAL_HINTS)"
echo "ok: the window stays within its template size (${width}x$height)"

# --- the title bar has the buttons of the template: no maximise button --------------------
# The window manager's allowed actions, which decide its buttons (openbox offers maximising
# any window whose size can change, whatever the Motif hints say).
actions=$(xprop -id "$window" _NET_WM_ALLOWED_ACTIONS)
[[ "$actions" == *_NET_WM_ACTION_MINIMIZE* && "$actions" == *_NET_WM_ACTION_CLOSE* ]] \
  || fail "the window cannot be minimised and closed: $actions"
[[ "$actions" != *_NET_WM_ACTION_MAXIMIZE* ]] || fail "the window can be maximised: $actions"
echo "ok: the window can be minimised and closed, not maximised"

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
wait_for 30 popup_menu_open || fail "the right button did not open the tray menu"
window_withdrawn || fail "a left click or a double click showed the window"
[[ $(popup_menus | wc -l) -eq 1 ]] || fail "more than one tray menu is open"
click_menu_entry "$(popup_menu)" 1  # "显示/隐藏"
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
wait_for 30 popup_menu_open || fail "the right button did not open the tray menu"
click_menu_entry "$(popup_menu)" 1  # "显示/隐藏"
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
