#!/usr/bin/env bash
# The Debian package as a user meets it, made from this build with scripts/package: lintian
# finds no error; apt would install it here (its computed dependencies are met); dpkg installs
# it into a scratch root and removes it whole; from there `perennix --version` runs, the desktop
# entry validates, the man page renders, and a first start from the folder no user may write
# keeps log.txt in a new per-user folder (0700) and saves its settings there.
#
# Usage: package_deb_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
# shellcheck source=../e2e/lib.sh
source "$(dirname "$0")/../e2e/lib.sh"
build=$(realpath "$1")
source_dir=$(realpath "$2")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
make_workdir /tmp/px-deb.XXXXXX
work=$dir
chmod 0755 "$work"

"$source_dir/scripts/package" deb "$build" "$work"
deb=$work/perennix_${version}_amd64.deb
[[ -f "$deb" ]] || fail "scripts/package made no $deb"

# --- lintian, the dependencies ------------------------------------------------------------
status=0
lintian --fail-on error "$deb" >"$work/lintian.txt" 2>&1 || status=$?
grep -v 'running with root privileges' "$work/lintian.txt" || true
((status == 0)) || fail "lintian found errors"
echo "ok: lintian reports no error"
depends=$(dpkg-deb -f "$deb" Depends)
[[ "$depends" == *libqt6widgets6* && "$depends" == *libc6* ]] || fail "the dependencies were not computed: '$depends'"
apt-get install -s -q "$deb" >"$work/apt.txt" 2>&1 || fail "apt would not install it: $(cat "$work/apt.txt")"
grep -q "^Inst perennix " "$work/apt.txt" || grep -q "perennix is already the newest" "$work/apt.txt" ||
  fail "apt's plan has no perennix: $(cat "$work/apt.txt")"
echo "ok: the dependencies come from the binary ($depends) and are met here"

# --- installed into a scratch root by dpkg ------------------------------------------------
root=$work/root
mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info"
touch "$root/var/lib/dpkg/status"
# The system's libraries are not in the scratch root's database: their absence is forced.
dpkg --root="$root" --force-depends --force-script-chrootless -i "$deb" >"$work/dpkg.txt" 2>&1 ||
  fail "dpkg -i failed: $(cat "$work/dpkg.txt")"
program=$root/usr/libexec/perennix/perennix
[[ -x "$program" && -L "$root/usr/bin/perennix" ]] || fail "no program and link in the package"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/perennix" --version) || fail "--version failed"
[[ "$out" == "perennix $version" ]] || fail "--version printed '$out'"
echo "ok: installed by dpkg into a scratch root, perennix --version prints '$out'"

desktop=$root/usr/share/applications/perennix.desktop
desktop-file-validate "$desktop" || fail "the desktop entry does not validate"
grep -qxF "Exec=/usr/libexec/perennix/perennix" "$desktop" || fail "the desktop entry starts: $(grep ^Exec= "$desktop")"
for size in 16 32 48 256; do
  [[ -s "$root/usr/share/icons/hicolor/${size}x$size/apps/perennix.png" ]] || fail "no ${size}px icon"
done
MANWIDTH=80 man -l "$root/usr/share/man/man1/perennix.1.gz" 2>"$work/man.txt" >"$work/man-page.txt" ||
  fail "man -l failed: $(cat "$work/man.txt")"
[[ ! -s "$work/man.txt" ]] || fail "man warned: $(cat "$work/man.txt")"
grep -qF "perennix - keep one program running" "$work/man-page.txt" || fail "the man page reads: $(head "$work/man-page.txt")"
head -n1 "$root/usr/share/doc/perennix/copyright" | grep -qF 'copyright-format/1.0' || fail "no machine-readable copyright"
echo "ok: the desktop entry validates, the icons are there, man renders perennix(1), the copyright file is there"

# --- a first start from the installed folder, which this user may not write ---------------
# As root the start runs as "nobody" (root may write anywhere); else the folder is made
# read-only. Qt draws off screen: no display is needed to start and save.
as_user=()
if ((EUID == 0)); then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
else
  chmod 0555 "$root/usr/libexec/perennix"
fi
config_home=$work/config
mkdir "$config_home"
chmod 0777 "$config_home"
per_user=$config_home/perennix
mkdir "$work/tmp"
chmod 1777 "$work/tmp"
start() {
  "${as_user[@]}" env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR QT_QPA_PLATFORM=offscreen \
    "XDG_CONFIG_HOME=$config_home" TMPDIR="$work/tmp" "$root/usr/bin/perennix" >"$work/stderr.txt" 2>&1 &
  perennix_pid=$!
}
stop() {
  kill "$perennix_pid"
  wait "$perennix_pid" 2>/dev/null || true
  perennix_pid=""
}
logged() { iconv -f GBK -t UTF-8 "$per_user/log.txt" 2>/dev/null | grep -qF -- "$1"; }

start
wait_for 20 logged "->对话框初始化完成" || fail "the first start wrote no per-user log: $(cat "$work/stderr.txt")"
logged "->配置文件夹（程序所在文件夹不可写，按用户）：$per_user/" || fail "the log does not name the per-user folder"
[[ "$(stat -c %a "$per_user")" == 700 ]] || fail "the per-user folder has mode $(stat -c %a "$per_user")"
[[ -z "$(ls -A "$root/usr/libexec/perennix" | grep -vx perennix)" ]] || fail "the start wrote beside the program"
stop
echo "ok: the first start made $per_user (0700) and logs there, saying so"

# Settings there that start guarding at launch: the start saves them in full, in that folder,
# and guards the program they name.
mkdir "$work/bin"
cp /bin/sleep "$work/bin/pxdebsleep"
chmod 0755 "$work/bin" "$work/bin/pxdebsleep"
write_config "$per_user/config.ini" "FULLPATH=$work/bin/pxdebsleep" EXE_NAME=pxdebsleep ARGS=600 AUTOSTART=1
start
wait_for 20 pgrep -x pxdebsleep >/dev/null || fail "the installed program did not guard: $(cat "$work/stderr.txt")"
wait_for 10 grep -q '^LOOPSEC=60' "$per_user/config.ini" || fail "the start did not save: $(cat -v "$per_user/config.ini")"
stop
echo "ok: settings in the per-user folder are read and saved there; the installed program guards"

# --- removed by dpkg: nothing of it is left -----------------------------------------------
chmod 0755 "$root/usr/libexec/perennix"
dpkg --root="$root" -r perennix >"$work/dpkg.txt" 2>&1 || fail "dpkg -r failed: $(cat "$work/dpkg.txt")"
[[ ! -e "$root/usr" ]] || fail "dpkg -r left: $(find "$root/usr" | head)"
echo "ok: dpkg -r removes everything it installed"
