#!/usr/bin/env bash
# End to end: Perennix in a folder another local user ("nobody") may write, with that user
# doing what such a neighbour can. A log.txt linked to a file of ours leaves that file's bytes
# as they were, and Perennix guards without a log; the one-copy name that user bound first
# does not stop it; arguments of 40,000 characters survive the save that a start at launch
# makes; and a script that sleeps 30 s at every launch leaves the window answering: a click
# on "停止" asks, and the answer takes effect, without waiting for a script to end. The real perennix binary on a
# private virtual desktop.
#
# Usage: neighbour_e2e.sh PERENNIX_BINARY REPO_ROOT   (PX_LISTEN: the px_listen helper)
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

linux_e2e "$@"
[[ -x "${PX_LISTEN:-}" ]] || fail "PX_LISTEN does not name the px_listen helper"
[[ $(id -u) == 0 ]] || {
  echo "another user's actions need root to take that user's identity"
  exit 77
}
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus"
export XDG_RUNTIME_DIR="$dir/run"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
chmod 0755 "$dir"
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"; }
ms_now() { date +%s%3N; }

# shared/: a folder anyone may write (not sticky: nothing there protects our opens, so only
# Perennix's own care does), holding our Perennix and the program it guards.
shared=$dir/shared
mkdir "$shared"
chmod 0777 "$shared"
cp "$binary" "$shared/perennix"
mkdir "$shared/helper-exe"
cp "$(command -v sleep)" "$shared/helper-exe/guardhelper"
helper_match=(-f -- "^$shared/helper-exe/guardhelper")
# 40,000 characters of arguments: sleep adds up its operands, 1000 and 19,998 zeros.
args="1000$(printf ' 0%.0s' $(seq 19998))"
((${#args} == 40000)) || fail "the arguments have ${#args} characters"
write_config "$shared/config.ini" "FULLPATH=$shared/helper-exe/guardhelper" EXE_NAME=guardhelper "ARGS=$args" \
  LOOPSEC=1 AUTOSTART=1

# The neighbour links log.txt to a file of ours and binds the name the claim had before
# Perennix kept it in a folder only its user may enter.
printf 'notes of our own\n' >"$dir/notes.txt"
notes_before=$(sha256sum <"$dir/notes.txt")
as_nobody ln -s "$dir/notes.txt" "$shared/log.txt"
cp "$PX_LISTEN" "$dir/px_listen"
as_nobody "$dir/px_listen" "@perennix-$(id -u)-$(printf '%s' "$shared/" | sha256sum | cut -c1-64)" \
  >"$dir/listening" 2>&1 &
started+=($!)
wait_for 10 grep -q listening "$dir/listening" || fail "the neighbour's listener did not start: $(cat "$dir/listening")"

"$shared/perennix" >/dev/null 2>"$dir/stderr.txt" &
perennix_pid=$!
wait_for 30 has_main_window "$perennix_pid" || fail "Perennix did not start: $(cat "$dir/stderr.txt")"
wait_for 30 helper_running || fail "the helper was not launched"
[[ -L "$shared/log.txt" ]] || fail "log.txt is no longer the neighbour's link"
[[ "$(sha256sum <"$dir/notes.txt")" == "$notes_before" ]] || fail "the linked file changed: $(cat -v "$dir/notes.txt")"
grep -qF "perennix: running without a log: $shared/log.txt" "$dir/stderr.txt" \
  || fail "Perennix did not say it runs without a log: $(cat "$dir/stderr.txt")"
echo "ok: a log.txt linked by the neighbour is neither followed nor stops guarding"
echo "ok: the name the neighbour bound stops no start"

# The start at launch saved the settings: the arguments are whole, on disk and in the program.
saved=$(tr -d '\r' <"$shared/config.ini" | sed -n 's/^ARGS=//p')
[[ "$saved" == "$args" ]] || fail "the save kept ${#saved} of the 40,000 characters of ARGS"
helper_args=$(tr '\0' '\n' <"/proc/$(helper_pid)/cmdline" | tail -n +2 | wc -l)
((helper_args == 19999)) || fail "the helper got $helper_args arguments, not 19,999"
echo "ok: 40,000 characters of arguments survive the save and reach the program"
kill "$perennix_pid"
wait "$perennix_pid" 2>/dev/null || true
perennix_pid=""

# script/: a script that sleeps 30 s, for a name no process has, so every check launches it
# again; the window keeps answering all the while.
folder=$dir/script
mkdir "$folder"
chmod 0777 "$folder"
cp "$binary" "$folder/perennix"
printf '#!/bin/sh\nsleep 30\n' >"$folder/sleeper.sh"
write_config "$folder/config.ini" "FULLPATH=$folder/sleeper.sh" EXE_NAME=px-no-such-program LOOPSEC=2 AUTOSTART=1
"$folder/perennix" >/dev/null 2>"$dir/stderr2.txt" &
perennix_pid=$!
wait_for 30 has_main_window "$perennix_pid" || fail "Perennix did not start in script/"
window=$(main_window "$perennix_pid")
wait_for 10 window_normal "$window" || fail "the window manager did not take the window"
wait_for 30 pgrep -f -- "sleeper.sh" >/dev/null || fail "the script was not launched"
sleep 3  # two more checks, each launching the script again while the first ones still sleep
stopped=$(printf '\x2d\x3e\xcd\xa3\xd6\xb9\xca\xd8\xbb\xa4\xa3\xa8\xd3\xc3\xbb\xa7\xb2\xd9\xd7\xf7\xa3\xa9') # "->停止守护（用户操作）"
t0=$(ms_now)
click_control IDC_START # "停止"
wait_for 10 has_titled_window 提示 || fail "the click on 停止 asked nothing"
t1=$(ms_now)
xdotool windowactivate --sync "$(titled_window 提示)" key --clearmodifiers Return
wait_for 10 bash -c "[[ \$(LC_ALL=C grep -cF -- '$stopped' '$folder/log.txt') -ge 1 ]]" || fail "guarding did not stop"
t2=$(ms_now)
# A window frozen by the scripts would answer only when one ends, 30 s after its launch: the
# bounds above (10 s) only that reaches. What it took is printed.
echo "click on 停止 to its question: $((t1 - t0)) ms; answer to guarding stopped: $((t2 - t1)) ms"
echo "ok: a script that sleeps at every launch leaves the window answering"
pkill -f -- "$folder/sleeper.sh" || true
echo "neighbour_e2e: all checks passed"
