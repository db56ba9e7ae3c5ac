#!/usr/bin/env bash
# End to end: the health probes of the real Perennix.exe under Wine, three copies side by side,
# each in a folder of its own guarding a helper of its own name at LOOPSEC=1:
#   - tcp: a helper that listens on a port and then closes its listening socket, still alive,
#     is restarted after two refused connections;
#   - window: a helper whose window procedure blocks is restarted through IsHungAppWindow
#     (Wine counts a window as hung when its thread has not taken a message for 5 s and is not
#     waiting for one) after it blocked; asked to close first, it cannot, and is ended after
#     the stop timeout;
#   - graceful stop: a helper that stops touching its heartbeat file is asked to close, takes
#     WM_CLOSE and ends by itself, with its own exit code, before the stop timeout: no kill.
# A watcher program waits for the first helper of each of the last two and records how it
# ended, as Windows tells it (GetExitCodeProcess): Perennix ends a program with code 0.
#
# Usage: probe_e2e.sh PERENNIX_EXE HELPER_EXE   (inside scripts/with-wine)
set -euo pipefail
# shellcheck source=../e2e/lib.sh
source "$(dirname "$0")/../e2e/lib.sh"

wine_e2e "$@"
make_workdir /tmp/px-probe.XXXXXX
kill_at_end=(pxtcp.exe pxhang.exe pxclose.exe pxwatch.exe)
cp "$helper" "$dir/pxwatch.exe"

hang_after=3  # seconds the hung helper takes its messages first
closed_code=42  # the exit code of the heartbeat helper that took WM_CLOSE

# guard NAME ARGS KEY=VALUE...: a copy of Perennix.exe in $dir/NAME guarding NAME.exe, a copy
# of the helper started with ARGS, from its start at LOOPSEC=1 with the probes in KEY=VALUE.
guard() {
  local name=$1 args=$2
  shift 2
  mkdir "$dir/$name"
  cp "$exe" "$dir/$name/Perennix.exe"
  cp "$helper" "$dir/$name/$name.exe"
  write_config "$dir/$name/config.ini" "FULLPATH=$(windows_path "$dir/$name/$name.exe")" "EXE_NAME=$name.exe" \
    "ARGS=$args" LOOPSEC=1 AUTOSTART=1 PROBE_GRACE_SEC=1 PROBE_FAILS=2 "$@"
  (cd "$dir/$name" && exec "$wine" Perennix.exe) >/dev/null 2>&1 &
  started+=($!)
}
# watch NAME: records how the first NAME.exe ends into $dir/NAME/exit.txt ("<pid> <code>").
watch() {
  "$wine" "$dir/pxwatch.exe" exitcode "$1.exe" "$(windows_path "$dir/$1/exit.txt")" >/dev/null 2>&1 &
  started+=($!)
}
pid_of() { pgrep -x "$1.exe" | awk 'NR == 1' || true; }
log_text() { iconv -f GBK -t UTF-8 "$dir/$1/log.txt" 2>/dev/null || true; }
log_count() { log_text "$1" | grep -cF -- "$2" || true; }
# health_restarts_are NAME ENTRY: the run log of NAME holds at least one health restart, and
# each is ENTRY (a relaunched helper fails the same way again, and may be restarted again
# before the test looks).
health_restarts_are() {
  local restarts
  restarts=$(log_count "$1" "->健康探测失败")
  ((restarts >= 1)) && [[ $(log_count "$1" "$2") -eq $restarts ]]
}
# relaunched NAME FIRST_PID: another NAME.exe than FIRST_PID runs.
relaunched() {
  local now
  now=$(pid_of "$1")
  [[ -n "$now" && "$now" != "$2" ]]
}

port=$(free_port)
guard pxtcp "tcp $port 4" "PROBE_TCP=127.0.0.1:$port"
guard pxhang "hang pxhang $hang_after $(windows_path "$dir/pxhang/blocked.txt")" PROBE_WINDOW=1 STOP_TIMEOUT_SEC=2
guard pxclose "heartbeat pxclose $(windows_path "$dir/pxclose/beat.txt") 3 $(windows_path "$dir/pxclose/report.txt")" \
  "PROBE_FILE=$(windows_path "$dir/pxclose/beat.txt")" PROBE_FILE_SEC=1 STOP_TIMEOUT_SEC=20

declare -A first launched_at
for name in pxtcp pxhang pxclose; do
  wait_for 30 eval "[[ -n \"\$(pid_of $name)\" ]]" || fail "$name.exe was not launched"
  first[$name]=$(pid_of "$name")
  launched_at[$name]=$SECONDS
done
watch pxhang
watch pxclose

# --- tcp: two refused connections in a row restart the helper ------------------------------
wait_for 60 relaunched pxtcp "${first[pxtcp]}" || fail "the helper that stopped accepting was not restarted: $(log_text pxtcp)"
entry="->健康探测失败，重启程序：tcp 127.0.0.1:$port：连接被拒绝（连续 2 次）"
health_restarts_are pxtcp "$entry" || fail "the tcp restart's log entry: $(log_text pxtcp)"
echo "ok: a helper that closed its listening socket on port $port was restarted after 2 refused connections, logged"

# --- window: IsHungAppWindow restarts the helper whose window procedure blocked -------------
wait_for 60 relaunched pxhang "${first[pxhang]}" || fail "the hung helper was not restarted: $(log_text pxhang)"
restarted_after=$((SECONDS - launched_at[pxhang]))
entry="->健康探测失败，重启程序：window：1 个窗口未响应（连续 2 次）"
health_restarts_are pxhang "$entry" || fail "the window restart's log entry: $(log_text pxhang)"
# The hung window cannot take WM_CLOSE: it is ended when the stop timeout is over. Had the
# probe failed while the window still took its messages, the helper would have taken WM_CLOSE
# and ended by itself (code 42) before it ever blocked.
wait_for 10 test -s "$dir/pxhang/exit.txt" || fail "the watcher saw no end of the hung helper"
read -r pid code <"$dir/pxhang/exit.txt"
grep -qx "blocked $pid" "$dir/pxhang/blocked.txt" || fail "the helper was restarted before its window procedure blocked"
forced=$(log_count pxhang "->程序未在等待时间内关闭，已结束。。。")
((forced >= 1 && $(log_count pxhang "->已请求程序关闭，最多等待秒数：2") >= forced)) \
  || fail "the hung helper's stop in the log: $(log_text pxhang)"
[[ "$code" == 0 ]] || fail "the hung helper ended with code $code, not by Perennix's kill (0)"
echo "ok: a helper whose window procedure blocked after $hang_after s was restarted through IsHungAppWindow (new helper seen after about $restarted_after s); asked to close, it was ended after 2 s (exit code $code)"

# --- graceful stop: the helper takes WM_CLOSE and ends by itself ----------------------------
wait_for 60 relaunched pxclose "${first[pxclose]}" || fail "the helper without a heartbeat was not restarted: $(log_text pxclose)"
health_restarts_are pxclose "->健康探测失败，重启程序：file $(windows_path "$dir/pxclose/beat.txt")：已 " \
  || fail "the file probe's restart entry: $(log_text pxclose)"
wait_for 10 test -s "$dir/pxclose/exit.txt" || fail "the watcher saw no end of the heartbeat helper"
read -r _ code <"$dir/pxclose/exit.txt"
[[ "$(cat "$dir/pxclose/report.txt" 2>/dev/null)" == WM_CLOSE ]] || fail "the helper got no WM_CLOSE"
[[ "$code" == "$closed_code" ]] || fail "the helper ended with code $code, not its own $closed_code: it was killed"
[[ $(log_count pxclose "->已请求程序关闭，最多等待秒数：20") -ge 1 && $(log_count pxclose "->程序未在等待时间内关闭") -eq 0 ]] \
  || fail "the graceful stop in the log: $(log_text pxclose)"
echo "ok: a helper that stopped its heartbeat took WM_CLOSE and ended by itself (exit code $code), and was launched again"
