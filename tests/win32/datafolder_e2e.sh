#!/usr/bin/env bash
# End to end: the real Perennix.exe under Wine in a folder on a read-only disk (a tmpfs mounted
# read-only: even root cannot write there). With a config.ini beside it, that file holds its
# settings; without one, config.ini and log.txt are those of the per-user folder
# %APPDATA%\Perennix, and the log says so. Each copy starts guarding from its settings
# (AUTOSTART=1), which shows which file it read.
#
# Usage: datafolder_e2e.sh PERENNIX_EXE HELPER_EXE   (inside scripts/with-wine; as root)
set -euo pipefail
# shellcheck source=../e2e/lib.sh
source "$(dirname "$0")/../e2e/lib.sh"

wine_e2e "$@"
if ((EUID != 0)); then
  echo "SKIP: mounting a read-only disk needs root"
  exit 0
fi
make_workdir /tmp/px-datafolder.XXXXXX
kill_at_end=(pxbeside.exe pxperuser.exe)
disk=$dir/disk
mkdir "$disk"
finish() {
  local status=$?
  umount "$disk" 2>/dev/null || umount -l "$disk" 2>/dev/null || true
  (exit "$status")
  end_of_run
}
trap finish EXIT
mount -t tmpfs -o size=16m tmpfs "$disk" || fail "cannot mount a tmpfs at $disk"

# The per-user folder as this Wine user's Windows names it.
appdata=$("$wine" cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')
per_user=$(winepath -u "$appdata" 2>/dev/null)/Perennix
[[ "$appdata" == ?:\\* && "$per_user" == /* ]] || fail "no %APPDATA% folder: '$appdata'"
rm -rf "$per_user"

# beside/: the program with its config.ini; per-user/: the program alone, its settings in
# %APPDATA%\Perennix. Each guards a helper of its own name.
mkdir "$disk/beside" "$disk/per-user" "$per_user"
for copy in beside per-user; do
  cp "$exe" "$disk/$copy/Perennix.exe"
  cp "$helper" "$disk/$copy/px${copy/-/}.exe"
done
write_config "$disk/beside/config.ini" "FULLPATH=$(windows_path "$disk/beside/pxbeside.exe")" EXE_NAME=pxbeside.exe \
  ARGS=sleep LOOPSEC=1 AUTOSTART=1
write_config "$per_user/config.ini" "FULLPATH=$(windows_path "$disk/per-user/pxperuser.exe")" EXE_NAME=pxperuser.exe \
  ARGS=sleep LOOPSEC=1 AUTOSTART=1
mount -o remount,ro "$disk" || fail "cannot make $disk read-only"
! touch "$disk/beside/probe" 2>/dev/null || fail "the read-only disk took a file"

# run_copy FOLDER HELPER: Perennix.exe started from FOLDER guards HELPER; it is ended after.
run_copy() {
  (cd "$1" && exec "$wine" Perennix.exe) >"$dir/stderr.txt" 2>&1 &
  perennix_pid=$!
  wait_for 30 pgrep -x "$2" >/dev/null || fail "Perennix.exe in $1 did not guard $2: $(cat "$dir/stderr.txt")"
  kill "$perennix_pid"
  wait "$perennix_pid" 2>/dev/null || true
  perennix_pid=""
  pkill -KILL -x "$2" || true
}

per_user_line=$(printf '%s' "->配置文件夹（程序所在文件夹不可写，按用户）：" | iconv -f UTF-8 -t GBK)

# --- a config.ini beside the program on the read-only disk: its settings are read there ----
rm -f "$per_user/log.txt"
run_copy "$disk/beside" pxbeside.exe
[[ ! -e "$per_user/log.txt" ]] || fail "the copy with a config.ini beside it wrote a per-user log.txt"
echo "ok: a read-only folder's config.ini is read: Perennix.exe guarded the program it names"

# --- no config.ini beside it: the per-user folder's config.ini and log.txt ------------------
run_copy "$disk/per-user" pxperuser.exe
LC_ALL=C grep -qF -- "$per_user_line$appdata\\Perennix\\" "$per_user/log.txt" ||
  fail "the per-user log does not name its folder: $(iconv -f GBK -t UTF-8 "$per_user/log.txt" | cat -v)"
echo "ok: without a config.ini beside it, Perennix.exe read %APPDATA%\\Perennix\\config.ini and logs there, saying so"
rm -rf "$per_user"
