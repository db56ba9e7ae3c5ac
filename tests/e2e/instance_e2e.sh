#!/usr/bin/env bash
# End to end: one Perennix per folder. A second start in the same folder shows the running
# copy's window and exits; a killed copy does not block the next start; copies in two
# folders are independent. Nothing another program or another user puts in the way of the
# claim (a listener on its name, the claims' folder made first, a named pipe as log.txt)
# keeps Perennix from starting and guarding. The real perennix binary on a private virtual
# desktop.
#
# Usage: instance_e2e.sh PERENNIX_BINARY REPO_ROOT   (PX_LISTEN: the px_listen helper)
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

linux_e2e "$@"
[[ -x "${PX_LISTEN:-}" ]] || fail "PX_LISTEN does not name the px_listen helper"
# The claims of this run in a runtime folder of its own.
export XDG_RUNTIME_DIR="$dir/run"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
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

# --- what others put in the way of the claim ---------------------------------------------
# Another user ("nobody") runs programs from here.
chmod 0755 "$dir"
cp "$PX_LISTEN" "$dir/px_listen"
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"; }
sha256() { printf '%s' "$1" | sha256sum | cut -c1-64; }
# listen_on NAME ADDRESS [as_nobody]: a listener on ADDRESS that takes connections and never
# answers, until the end of the run.
listen_on() {
  "${@:3}" "$dir/px_listen" "$2" >"$dir/$1.listening" 2>&1 &
  started+=($!)
  wait_for 10 grep -q listening "$dir/$1.listening" || fail "$1: the listener did not start: $(cat "$dir/$1.listening")"
}
# starts_and_guards FOLDER [ENV...]: a Perennix in FOLDER guarding a helper of its own from its
# start shows its window and launches the helper; its pid goes into last_pid.
starts_and_guards() {
  local folder=$dir/$1
  mkdir -p "$folder/helper-exe"
  cp "$binary" "$folder/perennix"
  cp "$(command -v sleep)" "$folder/helper-exe/guard-$1"  # a name of its own: each Perennix guards its helper
  write_config "$folder/config.ini" "FULLPATH=$folder/helper-exe/guard-$1" EXE_NAME="guard-$1" ARGS=1000 \
    LOOPSEC=1 AUTOSTART=1
  env "${@:2}" "$folder/perennix" >"$folder/stderr.txt" 2>&1 &
  last_pid=$!
  started+=("$last_pid")
  wait_for 20 has_main_window "$last_pid" || fail "$1: Perennix did not start: $(cat "$folder/stderr.txt")"
  wait_for 20 pgrep -f -- "^$folder/helper-exe/guard-$1" >/dev/null || fail "$1: Perennix does not guard"
}

# The name the claim had before, in the abstract namespace, which anyone can bind: taken by
# another user, and by another program of this user.
listen_on old-by-nobody "@perennix-$(id -u)-$(sha256 "$dir/c/")" as_nobody
starts_and_guards c
listen_on old-by-this-user "@perennix-$(id -u)-$(sha256 "$dir/d/")"
starts_and_guards d
echo "ok: a listener on the old name of a folder's claim, another user's or this user's, stops no start"

# The claim's own socket, taken by another program of this user before Perennix starts: the
# name is taken over, and a second start asks the real Perennix and ends.
name=$(sha256 "$dir/e/" | cut -c1-32)
listen_on new-by-this-user "$XDG_RUNTIME_DIR/perennix-$name.sock"
starts_and_guards e
first_e=$last_pid
window=$(main_window "$first_e")
xdotool windowminimize "$window"
wait_for 5 window_iconic "$window" || fail "the window did not minimise"
timeout 10 "$dir/e/perennix" >/dev/null 2>&1 || fail "a second start in e did not end by itself with status 0"
wait_for 5 window_normal "$window" || fail "the second start in e did not show the first one's window"
[[ $(copies e) == 1 ]] || fail "$(copies e) copies run in e"
echo "ok: a listener on a claim's socket stops no start, and the next start finds the real Perennix"

# The claim itself (its lock and its socket) held by another program of this user: a start
# asks it, finds it is no Perennix, and starts anyway, saying so.
name=$(sha256 "$dir/h/" | cut -c1-32)
listen_on claim-by-this-user "$XDG_RUNTIME_DIR/perennix-$name.sock" flock -n "$XDG_RUNTIME_DIR/perennix-$name.lock"
starts_and_guards h
grep -qF "perennix: the claim of this folder is held by something that is not this user's Perennix: starting anyway" \
  "$dir/h/stderr.txt" || fail "the start in h did not say why it starts: $(cat "$dir/h/stderr.txt")"
echo "ok: a claim held by another program of this user stops no start"

# Without a runtime folder the claims go to a private folder in the temporary folder. Another
# user who made that folder first cannot keep Perennix from starting: it starts without the
# claim and says why.
mkdir -m 1777 "$dir/tmp"
as_nobody mkdir -m 0700 "$dir/tmp/perennix-$(id -u)"
starts_and_guards f -u XDG_RUNTIME_DIR TMPDIR="$dir/tmp"
grep -qF "perennix: $dir/tmp/perennix-$(id -u) is not a folder of this user's alone" "$dir/f/stderr.txt" \
  || fail "the start in f did not say why it runs without the claim: $(cat "$dir/f/stderr.txt")"
echo "ok: another user's folder in place of the private one stops no start"

# A named pipe as log.txt neither holds the start (before its window, with the claim taken)
# nor gets the log; the next start finds the running Perennix.
mkdir -p "$dir/g"
mkfifo "$dir/g/log.txt"
starts_and_guards g
[[ -p "$dir/g/log.txt" ]] || fail "log.txt in g is no longer the named pipe"
grep -qF "perennix: running without a log: $dir/g/log.txt" "$dir/g/stderr.txt" \
  || fail "the start in g did not say it runs without a log: $(cat "$dir/g/stderr.txt")"
timeout 10 "$dir/g/perennix" >/dev/null 2>&1 || fail "a second start in g did not end by itself with status 0"
[[ $(copies g) == 1 ]] || fail "$(copies g) copies run in g"
echo "ok: a named pipe as log.txt holds no start"
echo "instance_e2e: all checks passed"
