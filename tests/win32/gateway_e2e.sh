#!/usr/bin/env bash
# End to end: the real Perennix.exe under Wine guarding a stand-in ibgateway.exe (the test
# helper under that name) whose window is of class SunAwtDialog, beside a second ibgateway.exe
# told apart by its command line (MATCH_CMDLINE). One Perennix run per action of the dialog
# table, each with the title its gateway shows:
#   confirm: "Warning" gets the space key (the gateway reports "pressed"); the other
#            ibgateway.exe's "Warning" never does;
#   restart: "Existing session detected" (GW_RESTART) ends the gateway and it is launched again;
#            the other ibgateway.exe lives on;
#   alert:   "Second Factor Authentication" (GW_ALERT) is logged once and never gets a key.
#
# Usage: gateway_e2e.sh PERENNIX_EXE HELPER_EXE   (inside scripts/with-wine)
set -euo pipefail
# shellcheck source=../e2e/lib.sh
source "$(dirname "$0")/../e2e/lib.sh"

wine_e2e "$@"
make_workdir /tmp/px-gateway.XXXXXX
kill_at_end=(ibgateway.exe)
cp "$exe" "$dir/Perennix.exe"
mkdir "$dir/gw" "$dir/other"
cp "$helper" "$dir/gw/ibgateway.exe"
cp "$helper" "$dir/other/ibgateway.exe"

log_text() { iconv -f GBK -t UTF-8 "$dir/log.txt" 2>/dev/null || true; }
logged() { log_text | grep -qF -- "$1"; }
logged_times() { log_text | grep -cF -- "$1" || true; }
other_alive() { kill -0 "$other" 2>/dev/null; }

# The other ibgateway.exe, with a "Warning" of the same class, up before Perennix starts.
(cd "$dir/other" && exec "$wine" ibgateway.exe dialog SunAwtDialog Warning "$(windows_path "$dir/other/pressed")") \
  >/dev/null 2>&1 &
other=$!
started+=("$other")

# run_phase NAME TITLE KEY=VALUE...: a fresh run log, a Perennix guarding ibgateway.exe whose
# launches show TITLE and report to gw-NAME (the text the command-line filter looks for).
run_phase() {
  local name=$1 title=$2
  shift 2
  rm -f "$dir/log.txt"
  write_config "$dir/config.ini" "FULLPATH=$(windows_path "$dir/gw/ibgateway.exe")" EXE_NAME=ibgateway.exe \
    "ARGS=dialog SunAwtDialog \"$title\" $(windows_path "$dir/gw-$name")" LOOPSEC=2 AUTOSTART=1 \
    "MATCH_CMDLINE=gw-$name" "$@"
  (cd "$dir" && exec "$wine" Perennix.exe) >/dev/null 2>&1 &
  perennix_pid=$!
}
end_phase() {
  kill "$perennix_pid" 2>/dev/null || true
  wait "$perennix_pid" 2>/dev/null || true
  perennix_pid=""
}

run_phase confirm Warning
wait_for 60 logged "->已确认网关对话框：Warning" || fail "the gateway's Warning was not confirmed: $(log_text)"
wait_for 30 test -s "$dir/gw-confirm" || fail "the key did not press the gateway's button"
end_phase
[[ ! -e "$dir/other/pressed" ]] || fail "the other ibgateway.exe's Warning got the key"
other_alive || fail "the other ibgateway.exe went"
echo "ok: confirm: the gateway's Warning got the space key, the other ibgateway.exe's did not"

run_phase restart "Existing session detected" "GW_RESTART=Existing session detected"
wait_for 60 logged "->网关对话框要求重启程序：Existing session detected" || fail "no restart: $(log_text)"
two_launches() { (($(logged_times "->程序未运行，已启动：") >= 2)); }
wait_for 60 two_launches || fail "the gateway was not launched again: $(log_text)"
end_phase
other_alive || fail "the restart ended the other ibgateway.exe"
[[ ! -e "$dir/gw-restart" ]] || fail "the restart's dialog got a key"
echo "ok: restart: Existing session detected restarted the gateway alone"
pkill -KILL -f -- 'gw-restart' 2>/dev/null || true

run_phase alert "Second Factor Authentication" "GW_ALERT=Second Factor Authentication"
wait_for 60 logged "->网关对话框需要用户处理（未按键）：Second Factor Authentication" || fail "no alert: $(log_text)"
sleep 8  # four more checks
end_phase
[[ ! -e "$dir/gw-alert" ]] || fail "the alert's dialog got a key"
[[ $(logged_times "->网关对话框需要用户处理") -eq 1 ]] || fail "the alert was logged more than once: $(log_text)"
echo "ok: alert: Second Factor Authentication was logged once and got no key"
