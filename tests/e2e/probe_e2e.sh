#!/usr/bin/env bash
# End to end: the health probes against real programs. A helper that listens on a port and
# then stops accepting, still alive, and a helper whose window stops answering _NET_WM_PING
# are restarted after PROBE_FAILS failed checks, each with its
# own entry in the run log; a helper that keeps accepting is never restarted.
#
# Usage: PX_PROBE_HELPER=px_probe_helper probe_e2e.sh PERENNIX_BINARY REPO_ROOT
# PX_HEALTHY_SECONDS: how long the healthy helper is watched; 20 by default, 600 for the long run.
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

probe_helper=$(realpath "$PX_PROBE_HELPER")
healthy_seconds=${PX_HEALTHY_SECONDS:-20}
linux_guard_e2e "$@"
export LC_ALL=C
cp "$probe_helper" "$dir/helper-exe/guardhelper"

health_entries() { run_log_count "$dir/log.txt" "$(gbk '->健康探测失败，重启程序：')"; }

start_perennix() {
  (cd / && exec "$dir/perennix") >/dev/null 2>&1 &
  perennix_pid=$!
}
stop_perennix() {
  kill "$perennix_pid"
  wait "$perennix_pid" 2>/dev/null || true
  pkill -KILL -f -- "^$dir/helper-exe/" 2>/dev/null || true
}

# --- a helper that stops accepting after 6 s is restarted after three failed checks ------
port=$(free_port)
write_config "$dir/config.ini" "FULLPATH=$dir/helper-exe/guardhelper" EXE_NAME=guardhelper "ARGS=tcp $port 6" \
  LOOPSEC=1 AUTOSTART=1 "PROBE_TCP=127.0.0.1:$port" PROBE_FAILS=3 PROBE_GRACE_SEC=2
start_perennix
wait_for 30 helper_running || fail "the helper was not launched"
first=$(helper_pid)
sleep 5
[[ "$(helper_pid)" == "$first" ]] || fail "the helper was restarted while it accepted"
wait_for 60 helper_is_not "$first" || fail "the helper that stopped accepting was not restarted"
expected=$(gbk "->健康探测失败，重启程序：tcp 127.0.0.1:$port：连接被拒绝（连续 3 次）")
[[ $(run_log_count "$dir/log.txt" "$expected"$'\r') -eq 1 ]] \
  || fail "the restart's log entry: $(iconv -f GBK -t UTF-8 "$dir/log.txt")"
echo "ok: a helper that stopped accepting on port $port was restarted after 3 failed checks, logged once"
stop_perennix

# --- a helper whose window stops answering _NET_WM_PING after 6 s is restarted -----------
write_config "$dir/config.ini" "FULLPATH=$dir/helper-exe/guardhelper" EXE_NAME=guardhelper "ARGS=x11 6" \
  LOOPSEC=1 AUTOSTART=1 PROBE_WINDOW=1 PROBE_FAILS=3 PROBE_GRACE_SEC=2
start_perennix
wait_for 30 helper_running || fail "the window helper was not launched"
first=$(helper_pid)
sleep 5
[[ "$(helper_pid)" == "$first" ]] || fail "the window helper was restarted while it answered pings"
wait_for 60 helper_is_not "$first" || fail "the helper whose window stopped answering was not restarted"
expected=$(gbk "->健康探测失败，重启程序：window：1 个窗口未响应（连续 3 次）")
[[ $(run_log_count "$dir/log.txt" "$expected"$'\r') -eq 1 ]] \
  || fail "the window restart's log entry: $(iconv -f GBK -t UTF-8 "$dir/log.txt")"
echo "ok: a helper whose window stopped answering _NET_WM_PING was restarted after 3 failed checks"
stop_perennix

# --- a helper that keeps accepting is never restarted ------------------------------------
port=$(free_port)
write_config "$dir/config.ini" "FULLPATH=$dir/helper-exe/guardhelper" EXE_NAME=guardhelper "ARGS=tcp $port 0" \
  LOOPSEC=1 AUTOSTART=1 "PROBE_TCP=$port" PROBE_FAILS=3 PROBE_GRACE_SEC=0
start_perennix  # a new run log
wait_for 30 helper_running || fail "the healthy helper was not launched"
first=$(helper_pid)
sleep "$healthy_seconds"
[[ "$(helper_pid)" == "$first" && $(health_entries) -eq 0 ]] \
  || fail "the healthy helper was restarted: $(iconv -f GBK -t UTF-8 "$dir/log.txt")"
echo "ok: a helper that kept accepting ran ${healthy_seconds} s at LOOPSEC=1 with 0 restarts"
