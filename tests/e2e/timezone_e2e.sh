#!/usr/bin/env bash
# End to end: the real perennix binary follows a change of the system's time zone while it
# runs, as timedatectl set-timezone makes it: /etc/localtime is replaced by another zone's
# file (in a mount namespace of the test's own, which no other program on the machine shares),
# and the run log's next entry is stamped in the new zone, without a restart, and a daily
# restart fires at its time in the new zone (about two minutes). TZ is unset, as on a desktop.
#
# Usage: timezone_e2e.sh PERENNIX_BINARY REPO_ROOT   (exits 77, skipped, without a namespace)
set -euo pipefail
if [[ "${PERENNIX_ZONE_NAMESPACE:-}" != 1 ]]; then
  unshare --mount --propagation private true 2>/dev/null || {
    echo "SKIP: no mount namespace of its own here (needs CAP_SYS_ADMIN)"
    exit 77
  }
  PERENNIX_ZONE_NAMESPACE=1 exec unshare --mount --propagation private bash "$0" "$@"
fi
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

linux_e2e "$@"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus"
unset TZ
helper_match=(-f -- "^$dir/helper-exe/guardhelper")
west=Etc/GMT+5  # five hours behind UTC
east=Etc/GMT-9  # nine hours ahead
for zone in "$west" "$east"; do
  [[ -f /usr/share/zoneinfo/$zone ]] || fail "no zone file /usr/share/zoneinfo/$zone (tzdata)"
done
[[ -e /etc/localtime ]] || fail "no /etc/localtime to replace"
set_zone() { mount --bind "/usr/share/zoneinfo/$1" /etc/localtime || fail "cannot mount over /etc/localtime"; }

cp "$binary" "$dir/perennix"
mkdir "$dir/helper-exe"
cp "$(command -v sleep)" "$dir/helper-exe/guardhelper"
# A daily restart two minutes ahead in the eastern zone: fourteen hours away while the western
# zone holds, due once the zone has changed.
restart_at=$(TZ=$east date -d '+2 minutes' +%H:%M)
write_config "$dir/config.ini" "FULLPATH=$dir/helper-exe/guardhelper" EXE_NAME=guardhelper ARGS=1000 LOOPSEC=1 \
  AUTOSTART=1 ISTIMEDCLOSE=1 "REB_TIME=$restart_at"

launches() { run_log_count "$dir/log.txt" "$run_log_launched"; }
more_launches_than() { (($(launches) > $1)); }
# stamped_in ZONE: the last launch entry's time stamp is the time now in ZONE (within a minute).
stamped_in() {
  local stamp at now
  stamp=$(LC_ALL=C grep -aF -- "$run_log_launched" "$dir/log.txt" | tail -n 1 | cut -c1-19)
  at=$(TZ=$1 date -d "$stamp" +%s) || fail "not a time stamp: '$stamp'"
  now=$(date +%s)
  ((now - at >= 0 && now - at < 60)) || fail "the launch at '$stamp' is not stamped in $1 (now $(TZ=$1 date '+%F %T') there)"
}

set_zone "$west"
(cd / && exec "$dir/perennix") >/dev/null 2>&1 &
perennix_pid=$!
wait_for 30 more_launches_than 0 || fail "the helper was not launched"
stamped_in "$west"
echo "ok: the first launch is stamped in $west: $(LC_ALL=C grep -aF -- "$run_log_launched" "$dir/log.txt" | cut -c1-23)"

# The zone changes under the running program; the next launch is stamped in the new one.
set_zone "$east"
wait_for 30 helper_running || fail "the helper does not run"
kill -9 "$(helper_pid)"
wait_for 30 more_launches_than 1 || fail "the killed helper was not launched again"
stamped_in "$east"
perennix_running || fail "Perennix ended"
echo "ok: after the change of zone the next launch is stamped in $east: $(LC_ALL=C grep -aF -- "$run_log_launched" "$dir/log.txt" | tail -n 1 | cut -c1-23)"

# The next daily restart moved with the zone: it fires at its time in the new zone.
# (The entry names the time as hours and minutes without leading zeros: 14:05 is "14:5".)
entry_time=$((10#${restart_at%:*})):$((10#${restart_at#*:}))
fired() { (($(run_log_count "$dir/log.txt" "$entry_time$run_log_restart_fired") > 0)); }
((!$(run_log_count "$dir/log.txt" "$run_log_restart_fired"))) || fail "a restart fired before its time: $(cat -v "$dir/log.txt")"
wait_for 200 fired || fail "the restart at $restart_at ($east) did not fire: $(tail -n 8 "$dir/log.txt" | iconv -f GBK -t UTF-8)"
stamp=$(LC_ALL=C grep -aF -- "$entry_time$run_log_restart_fired" "$dir/log.txt" | cut -c12-16)
[[ "$stamp" == "$restart_at" ]] || fail "the restart at $restart_at fired at $stamp"
echo "ok: the daily restart at $restart_at fired at its time in $east, where the zone changed to while running"
