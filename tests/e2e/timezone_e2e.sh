#!/usr/bin/env bash
# End to end: the real perennix binary follows a change of the system's time zone while it
# runs, as timedatectl set-timezone makes it: /etc/localtime is replaced by another zone's
# file (in a mount namespace of the test's own, which no other program on the machine shares),
# and the run log's next entry is stamped in the new zone, without a restart. TZ is unset, as
# on a desktop.
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
write_config "$dir/config.ini" "FULLPATH=$dir/helper-exe/guardhelper" EXE_NAME=guardhelper ARGS=1000 LOOPSEC=1 \
  AUTOSTART=1

launches() { LC_ALL=C grep -caF -- "$run_log_launched" "$dir/log.txt" 2>/dev/null || true; }
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
