#!/usr/bin/env bash
# End to end: the real Perennix.exe under Wine guarding a helper that exits with code 3 at once:
# the exit code reaches log.txt (GBK), the back-off waits, and the metrics file is written.
#
# Usage: alerts_e2e.sh PERENNIX_EXE HELPER_EXE   (inside scripts/with-wine)
set -euo pipefail
# shellcheck source=../e2e/lib.sh
source "$(dirname "$0")/../e2e/lib.sh"

wine_e2e "$@"
make_workdir /tmp/px-alerts.XXXXXX
kill_at_end=(pxcrash.exe)

cp "$exe" "$dir/Perennix.exe"
cp "$helper" "$dir/pxcrash.exe"
write_config "$dir/config.ini" "FULLPATH=$(windows_path "$dir/pxcrash.exe")" EXE_NAME=pxcrash.exe "ARGS=exit 3" \
  LOOPSEC=1 AUTOSTART=1 "METRICS_FILE=$(windows_path "$dir/perennix.prom")"

(cd "$dir" && exec "$wine" Perennix.exe) >/dev/null 2>&1 &
perennix_pid=$!

log_text() { iconv -f GBK -t UTF-8 "$dir/log.txt" 2>/dev/null || true; }
logged() { log_text | grep -qF -- "$1"; }
wait_for 60 logged "->程序已退出，退出码：3" || fail "the exit code is not in the run log: $(log_text)"
wait_for 30 logged "->程序启动后不到 10 秒即退出，等待 4 秒后重启（第 2 次）" || fail "no back-off in the run log: $(log_text)"
echo "ok: the helper's exit code and the back-off are in log.txt"

metrics_show() { grep -q '^perennix_guarding{image="pxcrash.exe",folder=".*"} 1$' "$dir/perennix.prom" 2>/dev/null &&
  grep -q '^perennix_launches_total{.*} [3-9]$' "$dir/perennix.prom"; }
wait_for 30 metrics_show || fail "the metrics file does not show the guard: $(cat "$dir/perennix.prom" 2>/dev/null)"
echo "ok: the metrics file is written"
