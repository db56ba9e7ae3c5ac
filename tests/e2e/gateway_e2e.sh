#!/usr/bin/env bash
# End to end: the trading gateway as it runs on Linux. A shell script named ibgateway starts a
# Java Swing program on a real JVM (the process is java); another Java program, started
# before, shows a dialog of the same title. Perennix guards the image name java with
# MATCH_CMDLINE=ibgateway and GATEWAY=1:
#   launch 1 shows "要求重新登录": confirmed with the space key (the program prints "pressed");
#   launch 2 shows "Existing session detected", a GW_RESTART title: the gateway is restarted;
#   launch 3 shows a dialog of no rule: left alone, until the daily restart (2 to 3 minutes
#   ahead) ends it and launch 4 follows.
# The other Java program's dialog never gets a key, and the daily restart leaves it running.
#
# Usage: gateway_e2e.sh PERENNIX_BINARY REPO_ROOT JAVA GATEWAY_DIALOG_JAR
set -euo pipefail
# shellcheck source=restart_samples.sh
source "$(dirname "$0")/restart_samples.sh"

binary=$(realpath "$1")
root=$(realpath "$2")
java=$(realpath "$3")
jar=$(realpath "$4")
on_own_desktop "$root/scripts/with-x" "$0" "$binary" "$root" "$java" "$jar"
make_workdir
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus"
command -v iconv >/dev/null || fail "no iconv (scripts/deps)"
gbk() { printf '%s' "$1" | iconv -f UTF-8 -t GBK; }
log_has() { [[ $(run_log_count "$dir/log.txt" "$(gbk "$1")") -ge 1 ]]; }
launches() { cat "$dir/launches" 2>/dev/null || echo 0; }
launched() { (($(launches) >= $1)); }
decoded_log() { iconv -f GBK -t UTF-8 "$dir/log.txt" 2>/dev/null || true; }

cp "$binary" "$dir/perennix"
mkdir "$dir/gw"
cat >"$dir/gw/ibgateway" <<SCRIPT
#!/bin/sh
n=\$(cat "$dir/launches" 2>/dev/null || echo 0)
n=\$((n + 1))
echo \$n >"$dir/launches"
case \$n in
1) title='要求重新登录' ;;
2) title='Existing session detected' ;;
*) title='Gateway ready' ;;
esac
exec "$java" -Dpx.role=ibgateway -cp "$jar" GatewayDialog "\$title" "IB Gateway \$n" - 600 >>"$dir/gateway.out" 2>&1
SCRIPT
chmod 755 "$dir/gw/ibgateway"

# The other Java program, with its dialog up before Perennix starts.
"$java" -cp "$jar" GatewayDialog '要求重新登录' 'Other program' - 600 >"$dir/other.out" 2>&1 &
other=$!
started+=("$other")
other_dialog() { xdotool search --all --pid "$other" --name '^要求重新登录$' 2>/dev/null | grep -q .; }
wait_for 60 other_dialog || fail "the other Java program's dialog did not show"

restart_in 3
write_config "$dir/config.ini" "FULLPATH=$dir/gw/ibgateway" EXE_NAME=java LOOPSEC=2 AUTOSTART=1 GATEWAY=1 \
  MATCH_CMDLINE=ibgateway "GW_RESTART=Existing session detected" ISTIMEDCLOSE=1 "REB_TIME=$reb_time"
(cd / && exec "$dir/perennix") >/dev/null 2>&1 &
perennix_pid=$!

wait_for 60 log_has '->已确认网关对话框：要求重新登录' || fail "the gateway's dialog was not confirmed: $(decoded_log)"
wait_for 30 grep -q pressed "$dir/gateway.out" || fail "the key did not press the gateway's button"
echo "ok: the gateway's 要求重新登录 was confirmed with the space key"

wait_for 60 log_has '->网关对话框要求重启程序：Existing session detected' \
  || fail "the restart rule did not act: $(decoded_log)"
wait_for 60 launched 3 || fail "the gateway was not launched again after the restart rule"
echo "ok: Existing session detected restarted the gateway"

# The daily restart ends the gateway alone, and the next check launches it again. The
# countdown polls every 35 s, so the restart fires anywhere in its minute up to its 35th
# second: waited for until the minute is over, and 30 s more for a loaded machine.
wait_for $((restart_at - EPOCHSECONDS + 90)) log_has "$(date -d "@$restart_at" +%-H:%-M) 触发，执行关闭。。。" \
  || fail "no daily restart: $(decoded_log)"
wait_for 60 launched 4 || fail "the gateway was not launched after the daily restart"
kill -0 "$other" 2>/dev/null || fail "the daily restart ended the other Java program"
other_dialog || fail "the other Java program's dialog went"
! grep -q pressed "$dir/other.out" || fail "the other Java program's dialog got a key"
[[ $(run_log_count "$dir/log.txt" "$(gbk '->已确认网关对话框：')") -eq 1 ]] \
  || fail "a dialog was confirmed twice: $(decoded_log)"
echo "ok: the daily restart ended the gateway alone; the other Java program's dialog got no key"
