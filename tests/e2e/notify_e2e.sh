#!/usr/bin/env bash
# End to end: the tray's notifications reach a real notification server. The real perennix
# binary, hidden into a StatusNotifier tray (xfce4-panel on a session bus of the test's own),
# guards a helper that starts crashing once told to; dunst serves org.freedesktop.Notifications
# on that bus. What dunst was sent and what it answered is read from the bus with dbus-monitor,
# not from Perennix; so is the tray item's tooltip, which counts the back-off's wait down. The
# first death is told at once, the deaths within the next minute in one summary when it is over
# (about 75 s in all).
#
# Usage: notify_e2e.sh PERENNIX_BINARY REPO_ROOT
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

linux_e2e "$@"
for tool in dunst dbus-monitor gdbus iconv; do
  command -v "$tool" >/dev/null || fail "no $tool (scripts/deps)"
done

# --- the desktop: a session bus, the panel's tray, the notification server, the monitor ---
sni_start_bus
sni_start_panel
dunst >"$dir/dunst.log" 2>&1 &
started+=($!)
wait_for 30 sni_has_name org.freedesktop.Notifications || fail "dunst did not take the bus name: $(cat "$dir/dunst.log")"
server=$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
  --method org.freedesktop.DBus.GetNameOwner org.freedesktop.Notifications | grep -oE ':[0-9.]+')
dbus-monitor --session "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" \
  "type='method_return',sender='$server'" >"$dir/monitor" 2>&1 &
started+=($!)
# The monitor is in place once it has seen a call of ours go by. A call made before it has
# become a monitor passes unseen, so one is made at each look until one is seen.
monitor_ready() {
  gdbus call --session --dest org.freedesktop.Notifications --object-path /org/freedesktop/Notifications \
    --method org.freedesktop.Notifications.Notify probe 0 '' monitor-ready '' '[]' '{}' 1 >/dev/null
  grep -q 'string "monitor-ready"' "$dir/monitor"
}
wait_for 30 monitor_ready || fail "dbus-monitor sees nothing: $(cat "$dir/monitor")"

# --- Perennix guarding a helper that runs until told to crash, then exits with 3 at once ---
mkdir -p "$dir/app" "$dir/helper-exe"
cat >"$dir/helper-exe/notifycrasher" <<SCRIPT
#!/bin/sh
while [ ! -e "$dir/crash" ]; do sleep 0.2; done
exit 3
SCRIPT
chmod 755 "$dir/helper-exe/notifycrasher"
write_config "$dir/app/config.ini" "FULLPATH=$dir/helper-exe/notifycrasher" EXE_NAME=notifycrasher LOOPSEC=1 AUTOSTART=1
sni_start_perennix
sni_hide_into_tray
item=$(sni_items | awk 'NR == 1')
echo "ok: Perennix guards the helper from the tray"

# --- the helper dies: one notification, which the server took --------------------------
touch "$dir/crash"
# The Notify calls of Perennix's connection: serial, the bus's time of the call, summary and
# body, tab-separated.
notifications() {
  awk '
    /^method call .*member=Notify$/ { n = 0; serial = $0; sub(/.* serial=/, "", serial); sub(/ .*/, "", serial)
      at = $0; sub(/.* time=/, "", at); sub(/ .*/, "", at); next }
    serial != "" && /^   string "/ { n++; s = $0; sub(/^   string "/, "", s); sub(/"$/, "", s); str[n] = s
      if (n == 4) { print serial "\t" at "\t" str[3] "\t" str[4]; serial = "" } }
  ' "$dir/monitor" | grep -v monitor-ready || true
}
# The server's answer to the call with this serial: the notification's id, above 0.
answered() {
  awk -v serial="$1" -v server="$server" '
    $0 ~ "^method return .*sender=" server " .*reply_serial=" serial "$" { want = 1; next }
    want && /^   uint32 [1-9]/ { found = 1 } { want = 0 } END { exit !found }' "$dir/monitor"
}
notified() { [[ -n "$(notifications)" ]]; }
wait_for 30 notified || fail "no notification reached the bus: $(cat "$dir/monitor")"
IFS=$'\t' read -r serial first_at summary body < <(notifications | awk 'NR == 1')
[[ "$summary" == "Perennix：notifycrasher" ]] || fail "the notification's summary is '$summary'"
[[ "$body" == "程序已退出，退出码：3"* ]] || fail "the notification's body is '$body'"
wait_for 10 answered "$serial" || fail "dunst did not answer the notification: $(cat "$dir/monitor")"
echo "ok: dunst got \"$summary\" / \"$body\""

# --- the crash loop goes on: the tooltip counts the wait down, and no second notification comes
# within the minute (the third quick exit waits 8 s, some ten seconds after the first) -----
log_text() { iconv -f GBK -t UTF-8 "$dir/app/log.txt" 2>/dev/null || true; }
tooltip_waits() { sni_item_property "$item" ToolTip | grep -qF "Perennix - 等待 "; }
wait_for 30 tooltip_waits || fail "the tooltip does not show the wait: $(sni_item_property "$item" ToolTip)"
third_wait() { log_text | grep -qF "等待 8 秒后重启（第 3 次）"; }
wait_for 60 third_wait || fail "the back-off did not reach its third wait: $(log_text)"
[[ "$(notifications | awk 'END {print NR}')" -eq 1 ]] || fail "more than one notification within the minute: $(notifications)"
echo "ok: the tooltip shows the wait; one notification for $(log_text | grep -c '程序未运行，已启动') launches"

# --- a minute after the first, one notification sums up the restarts since ----------------
two_notified() { [[ "$(notifications | awk 'END {print NR}')" -ge 2 ]]; }
wait_for 90 two_notified || fail "no summary came: $(notifications)"
IFS=$'\t' read -r serial second_at summary body < <(notifications | awk 'NR == 2')
[[ "$body" =~ ^已重启\ [1-9][0-9]*\ 次。程序已退出，退出码：3 ]] || fail "the summary's body is '$body'"
awk -v a="$first_at" -v b="$second_at" 'BEGIN { exit !(b - a >= 59.5) }' ||
  fail "the summary came $first_at → $second_at, within the minute"
wait_for 10 answered "$serial" || fail "dunst did not answer the summary: $(cat "$dir/monitor")"
echo "ok: dunst got the summary \"$body\" $(awk -v a="$first_at" -v b="$second_at" 'BEGIN { printf "%.1f", b - a }') s after the first"
