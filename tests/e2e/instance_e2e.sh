#!/usr/bin/env bash
# End to end: one Perennix per folder. A second start in the same folder shows the running
# copy's window and exits; a killed copy does not block the next start; copies in two
# folders are independent. The real perennix binary on a private virtual desktop.
#
# Usage: instance_e2e.sh PERENNIX_BINARY REPO_ROOT
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

linux_e2e "$@"
mkdir -p "$dir/a" "$dir/b"
cp "$binary" "$dir/a/perennix"
cp "$binary" "$dir/b/perennix"

copies() { pgrep -f -- "^$dir/$1/perennix" | wc -l; }

# The first copy in a.
"$dir/a/perennix" >/dev/null 2>&1 &
first=$!
wait_for 10 has_main_window "$first" || fail "the first copy showed no window"
window=$(main_window "$first")
# Managed by the window manager before anything is asked of it.
wait_for 10 window_normal "$window" || fail "the window manager did not take the window"
check_log_banner "$dir/a/log.txt"
log_before=$(cat "$dir/a/log.txt")

# Minimised, then a second start in the same folder: it exits at once with status 0, and
# the first copy's window comes back.
xdotool windowminimize "$window"
wait_for 5 window_iconic "$window" || fail "the window did not minimise"
status=0
timeout 10 "$dir/a/perennix" >/dev/null 2>&1 || status=$?
[[ $status == 0 ]] || fail "the second start ended with status $status"
wait_for 5 window_normal "$window" || fail "the first copy's window was not shown again"
[[ $(copies a) == 1 ]] || fail "$(copies a) copies run in one folder"
[[ "$(cat "$dir/a/log.txt")" == "$log_before" ]] || fail "the second start touched the first copy's log"
[[ ! -e "$dir/a/config.ini" ]] || fail "the second start wrote config.ini"

# A copy in another folder runs beside it.
"$dir/b/perennix" >/dev/null 2>&1 &
other=$!
wait_for 10 has_main_window "$other" || fail "a copy in another folder did not start"
[[ $(copies a) == 1 && $(copies b) == 1 ]] || fail "two folders do not give two copies"

# A killed copy leaves nothing that blocks the next start in its folder.
kill -KILL "$first"
wait "$first" 2>/dev/null || true
"$dir/a/perennix" >/dev/null 2>&1 &
again=$!
wait_for 10 has_main_window "$again" || fail "a start after a killed copy showed no window"
[[ $(copies a) == 1 ]] || fail "$(copies a) copies in the folder after the restart"
echo "instance_e2e: all checks passed"
