#!/usr/bin/env bash
# End to end: the real perennix binary guards a helper that crashes at once, first with exit
# code 3, then killed by SIGKILL, then stays up. The run log (GBK) says how each ended and the
# back-off's waits; the event command hears each event; the metrics file passes Prometheus's
# promtool and a real node_exporter's textfile collector serves its values over HTTP.
#
# Usage: alerts_e2e.sh PERENNIX_BINARY REPO_ROOT
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

linux_e2e "$@"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus"
for tool in promtool prometheus-node-exporter curl iconv; do
  command -v "$tool" >/dev/null || fail "no $tool (scripts/deps)"
done
cp "$binary" "$dir/perennix"
mkdir "$dir/helper-exe" "$dir/textfile"
# The helper's runs: 1 exits with 3, 2 is killed by a signal, every later one stays up.
cat >"$dir/helper-exe/crasher" <<SCRIPT
#!/bin/sh
n=\$(cat "$dir/runs" 2>/dev/null || echo 0)
n=\$((n + 1))
echo \$n >"$dir/runs"
case \$n in
1) exit 3 ;;
2) kill -KILL \$\$ ;;
esac
exec sleep 1000
SCRIPT
chmod 755 "$dir/helper-exe/crasher"
cat >"$dir/on-event" <<SCRIPT
#!/bin/sh
echo "\$PERENNIX_EVENT|\$PERENNIX_IMAGE|\$PERENNIX_EXIT_CODE|\$PERENNIX_RESTARTS" >>"$dir/events"
SCRIPT
chmod 755 "$dir/on-event"
metrics=$dir/textfile/perennix.prom
write_config "$dir/config.ini" "FULLPATH=$dir/helper-exe/crasher" EXE_NAME=crasher LOOPSEC=1 AUTOSTART=1 \
  MIN_UPTIME_SEC=3 "EVENT_CMD=$dir/on-event" "METRICS_FILE=$metrics"

(cd / && exec "$dir/perennix") >/dev/null 2>&1 &
perennix_pid=$!

log_text() { iconv -f GBK -t UTF-8 "$dir/log.txt" 2>/dev/null || true; }
logged() { log_text | grep -qF -- "$1"; }
third_run_up() { [[ "$(cat "$dir/runs" 2>/dev/null)" == 3 ]] && pgrep -f -- "^sleep 1000" >/dev/null; }
wait_for 60 third_run_up || fail "the helper did not reach its third run: $(log_text)"
for entry in "->程序已退出，退出码：3" "->程序已退出，被信号结束：SIGKILL (9)" \
  "->程序启动后不到 3 秒即退出，等待 2 秒后重启（第 1 次）" "->程序启动后不到 3 秒即退出，等待 4 秒后重启（第 2 次）"; do
  logged "$entry" || fail "no '$entry' in the run log: $(log_text)"
done
echo "ok: both ends and the back-off are in log.txt"
up() { grep -q '^perennix_program_up{.*} 1$' "$metrics" 2>/dev/null && grep -q '^perennix_backoff_seconds{.*} 0$' "$metrics"; }
wait_for 30 up || fail "the metrics file does not show the program up: $(cat "$metrics" 2>/dev/null)"

events_have() { grep -qxF -- "$1" "$dir/events" 2>/dev/null; }
for event in "died|crasher|3|0" "died|crasher|SIGKILL|1" "backoff|crasher||0"; do
  wait_for 10 events_have "$event" || fail "the event command did not get '$event': $(cat "$dir/events" 2>/dev/null)"
done
echo "ok: the event command got the events"

promtool check metrics <"$metrics" || fail "promtool rejects the metrics file: $(cat "$metrics")"
echo "ok: promtool check metrics passes"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
prometheus-node-exporter --web.listen-address="127.0.0.1:$port" --collector.disable-defaults --collector.textfile \
  --collector.textfile.directory="$dir/textfile" >"$dir/exporter.log" 2>&1 &
started+=($!)
scrape() { curl -fsS "http://127.0.0.1:$port/metrics" >"$dir/scraped" 2>/dev/null; }
wait_for 30 scrape || fail "node_exporter does not answer: $(cat "$dir/exporter.log")"
labels="folder=\"$dir\",image=\"crasher\""
for line in "perennix_guarding{$labels} 1" "perennix_program_up{$labels} 1" "perennix_launches_total{$labels} 3" \
  "perennix_restarts_total{$labels,reason=\"crash\"} 2"; do
  grep -qxF -- "$line" "$dir/scraped" || fail "node_exporter does not serve '$line': $(grep perennix "$dir/scraped")"
done
grep -q '^node_textfile_scrape_error 0$' "$dir/scraped" || fail "the textfile collector failed: $(grep textfile "$dir/scraped")"
echo "ok: node_exporter serves the values"
