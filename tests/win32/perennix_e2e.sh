#!/usr/bin/env bash
# End to end: the real Perennix.exe under Wine guarding a helper program, on the Wine desktop
# of scripts/with-wine (Xvfb, openbox, the trayer tray host). The window is driven with real
# input (xdotool); where a control is on the screen is asked of Windows (the helper's "rect").
#
# Usage: perennix_e2e.sh PERENNIX_EXE HELPER_EXE   (inside scripts/with-wine)
set -euo pipefail
# shellcheck source=../e2e/lib.sh
source "$(dirname "$0")/../e2e/lib.sh"

wine_e2e "$@"

make_workdir /tmp/px-e2e.XXXXXX
kill_at_end=(pxguard.exe)  # the guarded helpers this test started
helper_match=(-x pxguard.exe)

# click_control_id NAME: clicks a control of the main window given by its id's name
# (Resource.h), where Windows places it on the screen.
click_control_id() {
  local id
  id=$(resource_id "$1") || exit 1
  rm -f "$dir/rect.txt"
  "$wine" "$helper" rect Perennix "$id" "$(windows_path "$dir/rect.txt")" >/dev/null 2>&1 || true
  local left top right bottom
  read -r left top right bottom < <(cat "$dir/rect.txt" 2>/dev/null || echo none)
  [[ "$left" != none ]] || fail "control $1 is not on the screen"
  xdotool mousemove $(((left + right) / 2)) $(((top + bottom) / 2)) click 1
}
# Wine docks tray icons into the tray host's panel (or, without one, into its own window), in
# a window of its tray's process; the menu of the hidden window is Perennix.exe's own.
icon_class=explorer.exe menu_class=Perennix.exe

# --- a folder of its own: the program, its config.ini and a helper to guard ---------------
cp "$exe" "$dir/Perennix.exe"
cp "$helper" "$dir/pxguard.exe"
write_config "$dir/config.ini" "FULLPATH=$(windows_path "$dir/pxguard.exe")" EXE_NAME=pxguard.exe ARGS=sleep LOOPSEC=1 \
  AUTOSTART=1

(cd "$dir" && exec "$wine" Perennix.exe) >/dev/null 2>&1 &
perennix_pid=$!

# --- start-on-launch guards at once; a killed helper is launched again --------------------
expect_relaunch 15 10

# --- the run log: the banner, the init entry and the watchdog's entries in GBK, CR LF ----
check_run_log "$dir/log.txt" "$(windows_path "$dir/pxguard.exe")"
echo "ok: log.txt holds the banner, the GBK init entry and what the watchdog did"

# --- hide into the tray; the tray menu shows the window again and removes the icon --------
click_control_id IDC_HIDE
wait_for 5 no_main_window || fail "hide: the window is still shown"
wait_for 5 trayer_icon_ready "$icon_class" || fail "hide: no tray icon in the tray host"
xdotool mousemove --window "$(trayer_icon "$icon_class")" 8 8 click 1
sleep 0.5
! popup_menu_open "$menu_class" || fail "a left click opened the tray menu"
no_main_window || fail "a left click showed the window"
xdotool mousemove --window "$(trayer_icon "$icon_class")" 8 8 click 3
wait_for 5 popup_menu_open "$menu_class" || fail "the right button did not open the tray menu"
# "显示/隐藏", the first entry, clicked: the menu of a hidden window does not hold the keyboard.
menu=$(popup_menu "$menu_class")
xdotool mousemove --window "$menu" 30 10 click 1
wait_for 5 has_main_window || fail "show from the tray menu: the window stayed hidden"
wait_for 5 trayer_icon_absent "$icon_class" || fail "the tray icon stayed after showing the window"
echo "ok: hidden into the tray; a left click did nothing; the tray menu showed the window and removed the icon"

# --- a second start in the folder shows the running one's window and leaves its log alone -
click_control_id IDC_HIDE
wait_for 5 no_main_window || fail "hide: the window is still shown"
wait_for 5 trayer_icon_ready "$icon_class" || fail "hide: no tray icon in the tray host"
cp "$dir/log.txt" "$dir/log-before.txt"
(cd "$dir" && timeout 20 "$wine" Perennix.exe) >/dev/null 2>&1 || fail "the second start did not end by itself"
wait_for 5 has_main_window || fail "the second start did not show the running window"
wait_for 5 trayer_icon_absent "$icon_class" || fail "the tray icon stayed after the second start showed the window"
cmp -s "$dir/log.txt" "$dir/log-before.txt" || fail "the second start changed log.txt: $(cat -v "$dir/log.txt")"
perennix_running || fail "the second start ended the running Perennix"
echo "ok: a second start ended at once and showed the hidden window; log.txt untouched"

# --- Enter while guarding asks first; Cancel keeps guarding ------------------------------
# The start-on-launch check box takes the focus (a click, then space gives its check back):
# Enter there is the dialog's OK command.
click_control_id IDC_AUTOSTART
xdotool key --clearmodifiers space
xdotool key --clearmodifiers Return
wait_for 10 has_titled_window 退出 "$menu_class" || fail "Enter while guarding did not ask"
xdotool windowactivate --sync "$(titled_window 退出 "$menu_class")" key --clearmodifiers Escape
wait_for 10 eval '! has_titled_window 退出 "$menu_class"' || fail "the exit question stayed"
perennix_running || fail "Enter, then Cancel, ended Perennix"
echo "ok: Enter while guarding asked first; Cancel kept Perennix guarding"

# --- closing the window ends Perennix, logged, and leaves the helper running --------------
click_control_id IDCANCEL
wait_for 10 eval '! perennix_running' || fail "关闭 did not end Perennix"
perennix_pid=""
[[ "$(helper_pid)" == "$second" ]] || fail "the helper did not survive the end of Perennix"
closed=$(printf '\x2d\x3e\xcd\xcb\xb3\xf6\xb3\xcc\xd0\xf2\xa3\xa8\xb9\xd8\xb1\xd5\xb4\xb0\xbf\xda\xa3\xa9\xa1\xa3\xa1\xa3\xa1\xa3')  # "->退出程序（关闭窗口）。。。"
tail -n 1 "$dir/log.txt" | LC_ALL=C grep -qF -- "$closed"$'\r' || fail "the log does not end with the end: $(tail -n 1 "$dir/log.txt" | cat -v)"
echo "ok: 关闭 ended Perennix, logged; the helper keeps running"

# --- another program's mutex and window of the claim's name in the way ends no start --------
# (Wine runs every program as this user: what another user would put there is not shown.)
mkdir "$dir/other"
cp "$exe" "$dir/other/Perennix.exe"
cp "$helper" "$dir/other/pxguard2.exe"
cp "$helper" "$dir/squatter.exe"
kill_at_end+=(pxguard2.exe squatter.exe)
write_config "$dir/other/config.ini" "FULLPATH=$(windows_path "$dir/other/pxguard2.exe")" EXE_NAME=pxguard2.exe \
  ARGS=sleep LOOPSEC=1 AUTOSTART=1
"$wine" "$dir/squatter.exe" squat "$(windows_path "$dir/other")\\" window "$(windows_path "$dir/squat.txt")" \
  >/dev/null 2>&1 &
wait_for 10 test -s "$dir/squat.txt" || fail "the squatter did not take the claim's name"
(cd "$dir/other" && exec "$wine" Perennix.exe) >"$dir/other/stderr.txt" 2>&1 &
perennix_pid=$!
wait_for 20 pgrep -x pxguard2.exe >/dev/null || fail "Perennix.exe did not start and guard: $(cat "$dir/other/stderr.txt")"
wait_for 10 has_main_window || fail "Perennix.exe showed no window"
echo "ok: another program's mutex and window of the claim's name did not keep Perennix.exe from starting and guarding"
kill "$perennix_pid"
wait "$perennix_pid" 2>/dev/null || true
perennix_pid=""

# --- a script that runs for 30 s at every check leaves the window answering ----------------
# Guarding a name no process has, each check launches the script again; a click on "停止"
# asks, and the answer stops guarding, long before any script ends.
mkdir "$dir/script"
cp "$exe" "$dir/script/Perennix.exe"
cp "$helper" "$dir/script/pxguard3.exe"
kill_at_end+=(pxguard3.exe)
printf '@"%s" report 30000 "%s" finished\r\n' "$(windows_path "$dir/script/pxguard3.exe")" \
  "$(windows_path "$dir/script/never.txt")" >"$dir/script/sleeper.bat"
write_config "$dir/script/config.ini" "FULLPATH=$(windows_path "$dir/script/sleeper.bat")" EXE_NAME=px-no-such.exe \
  LOOPSEC=2 AUTOSTART=1
(cd "$dir/script" && exec "$wine" Perennix.exe) >/dev/null 2>&1 &
perennix_pid=$!
wait_for 20 pgrep -x pxguard3.exe >/dev/null || fail "the script was not run"
wait_for 10 has_main_window || fail "Perennix.exe showed no window"
sleep 3  # more checks, each running the script again while the first ones still wait
t0=$(date +%s%3N)
click_control_id IDC_START # "停止" while guarding
wait_for 10 has_titled_window 提示 "$menu_class" || fail "the click on 停止 asked nothing"
t1=$(date +%s%3N)
xdotool windowactivate --sync "$(titled_window 提示 "$menu_class")" key --clearmodifiers Return
stopped=$(printf '\x2d\x3e\xcd\xa3\xd6\xb9\xca\xd8\xbb\xa4\xa3\xa8\xd3\xc3\xbb\xa7\xb2\xd9\xd7\xf7\xa3\xa9') # "->停止守护（用户操作）"
wait_for 10 eval '(($(run_log_count "$dir/script/log.txt" "$stopped") >= 1))' || fail "guarding did not stop"
t2=$(date +%s%3N)
[[ ! -e "$dir/script/never.txt" ]] || fail "a script ended before the window answered"
echo "click on 停止 to its question: $((t1 - t0)) ms; answer to guarding stopped: $((t2 - t1)) ms"
echo "ok: scripts that run for 30 s at every check leave the window answering"
