#!/usr/bin/env bash
# End to end: one Perennix per folder. A second start in the same folder shows the running
# copy's window and exits; a killed copy does not block the next start; copies in two
# folders are independent. The real perennix binary on a private virtual desktop.
#
# Usage: instance_e2e.sh PERENNIX_BINARY REPO_ROOT
set -euo pipefail

binary=$(realpath "$1")
root=$(realpath "$2")

if [[ "${PERENNIX_E2E_DESKTOP:-}" != 1 ]]; then
  export PERENNIX_E2E_DESKTOP=1 WITH_X_NO_TRAY=1
  exec "$root/scripts/with-x" "$0" "$binary" "$root"
fi

dir=$(mktemp -d)
cleanup() {
  pkill -KILL -f -- "^$dir/" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

mkdir -p "$dir/a" "$dir/b"
cp "$binary" "$dir/a/perennix"
cp "$binary" "$dir/b/perennix"

copies() { pgrep -f -- "^$dir/$1/perennix" | wc -l; }
window_of() { xdotool search --all --onlyvisible --pid "$1" --name '^Perennix$' 2>/dev/null | awk 'NR == 1' || true; }
has_window() { [[ -n "$(window_of "$1")" ]]; }
# WM_STATE 1 is a normal (shown) window, 3 an iconic (minimised) one.
wm_state() { xprop -id "$1" WM_STATE 2>/dev/null | awk '/window state:/ {print $3}'; }
is_normal() { [[ "$(wm_state "$1")" == Normal ]]; }
is_iconic() { [[ "$(wm_state "$1")" == Iconic ]]; }

# The first copy in a.
"$dir/a/perennix" >/dev/null 2>&1 &
first=$!
wait_for 10 has_window "$first" || fail "the first copy showed no window"
window=$(window_of "$first")
# Managed by the window manager before anything is asked of it.
wait_for 10 is_normal "$window" || fail "the window manager did not take the window"
sed -n 1p "$dir/a/log.txt" | grep -q -- '^---------' || fail "the first copy wrote no banner"
log_before=$(cat "$dir/a/log.txt")

# Minimised, then a second start in the same folder: it exits at once with status 0, and
# the first copy's window comes back.
xdotool windowminimize "$window"
wait_for 5 is_iconic "$window" || fail "the window did not minimise"
status=0
timeout 10 "$dir/a/perennix" >/dev/null 2>&1 || status=$?
[[ $status == 0 ]] || fail "the second start ended with status $status"
wait_for 5 is_normal "$window" || fail "the first copy's window was not shown again"
[[ $(copies a) == 1 ]] || fail "$(copies a) copies run in one folder"
[[ "$(cat "$dir/a/log.txt")" == "$log_before" ]] || fail "the second start touched the first copy's log"
[[ ! -e "$dir/a/config.ini" ]] || fail "the second start wrote config.ini"

# A copy in another folder runs beside it.
"$dir/b/perennix" >/dev/null 2>&1 &
other=$!
wait_for 10 has_window "$other" || fail "a copy in another folder did not start"
[[ $(copies a) == 1 && $(copies b) == 1 ]] || fail "two folders do not give two copies"

# A killed copy leaves nothing that blocks the next start in its folder.
kill -KILL "$first"
wait "$first" 2>/dev/null || true
"$dir/a/perennix" >/dev/null 2>&1 &
again=$!
wait_for 10 has_window "$again" || fail "a start after a killed copy showed no window"
[[ $(copies a) == 1 ]] || fail "$(copies a) copies in the folder after the restart"
echo "instance_e2e: all checks passed"
