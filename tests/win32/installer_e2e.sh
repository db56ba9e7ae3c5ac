#!/usr/bin/env bash
# End to end: the Windows setup program (scripts/package setup, NSIS) as a user meets it, under
# Wine: silent installs into %LOCALAPPDATA%\Programs\Perennix, an upgrade over an older version,
# the Start menu shortcut, the uninstall key and the start-at-login value, the installed
# Perennix.exe guarding a helper, a setup refused while that Perennix runs, and the silent
# uninstall, which keeps config.ini and log.txt unless /REMOVECONFIG is given.
#
# Usage: installer_e2e.sh BUILD_DIR HELPER_EXE   (inside scripts/with-wine; BUILD_DIR: the
#        MinGW-w64 build whose Perennix.exe is packaged)
set -euo pipefail
# shellcheck source=../e2e/lib.sh
source "$(dirname "$0")/../e2e/lib.sh"

build=$(realpath "$1")
wine_e2e "$build/src/Perennix.exe" "$2"
# Wine would copy the shortcut into this Linux user's menu: not for a test.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-};winemenubuilder.exe=d"
make_workdir /tmp/px-installer.XXXXXX
kill_at_end=(pxinst.exe)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
old_version=0.9.0
"$(dirname "$0")/../../scripts/package" setup "$build" "$dir"
"$(dirname "$0")/../../scripts/package" setup "$build" "$dir" "$old_version"
setup=$dir/Perennix-$version-setup.exe
old_setup=$dir/Perennix-$old_version-setup.exe
[[ -f "$setup" && -f "$old_setup" ]] || fail "scripts/package made no setup programs"

# windows_env NAME: a Windows environment variable of this Wine user.
windows_env() { "$wine" cmd /c echo "%$1%" 2>/dev/null | tr -d '\r'; }
local_appdata=$(windows_env LOCALAPPDATA)
inst_win="$local_appdata\\Programs\\Perennix"
inst=$(winepath -u "$inst_win" 2>/dev/null)
shortcut=$(winepath -u "$(windows_env APPDATA)\\Microsoft\\Windows\\Start Menu\\Programs\\Perennix.lnk" 2>/dev/null)
[[ "$local_appdata" == ?:\\* && "$inst" == /* && "$shortcut" == /* ]] || fail "no per-user folders: '$local_appdata'"
uninst_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Perennix'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'

# reg_value KEY NAME: the value's data, empty when there is none.
reg_value() {
  "$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    awk -v name="$2" '$1 == name && $2 ~ /^REG_/ {sub(/^[ \t]*[^ \t]+[ \t]+[^ \t]+[ \t]+/, ""); print; exit}'
}
no_key() { ! "$wine" reg query "$1" >/dev/null 2>&1; }
# run_setup EXE ARGS...: the program's exit code (the shell waits for it).
run_setup() {
  local status=0
  "$wine" "$@" >/dev/null 2>&1 || status=$?
  echo "$status"
}

# A machine without Perennix: what an earlier run may have left is taken away.
rm -rf "$inst" "$shortcut"
"$wine" reg delete "$uninst_key" /f >/dev/null 2>&1 || true
"$wine" reg delete "$run_key" /v Perennix /f >/dev/null 2>&1 || true

# --- an older version, silently; then this one over it with start at login -----------------
[[ "$(run_setup "$old_setup" /S)" == 0 ]] || fail "the silent install of $old_version failed"
[[ -f "$inst/Perennix.exe" && "$(reg_value "$uninst_key" DisplayVersion)" == "$old_version" ]] ||
  fail "$old_version is not installed in $inst"
cp "$helper" "$dir/pxinst.exe"
write_config "$inst/config.ini" "FULLPATH=$(windows_path "$dir/pxinst.exe")" EXE_NAME=pxinst.exe ARGS=sleep \
  LOOPSEC=1 AUTOSTART=1 "; the user's own line"
cp "$inst/config.ini" "$dir/config-before.ini"
[[ "$(run_setup "$setup" /S /AUTOSTART)" == 0 ]] || fail "the silent upgrade failed"
cmp -s "$inst/config.ini" "$dir/config-before.ini" || fail "the upgrade changed config.ini"
[[ "$(reg_value "$uninst_key" DisplayVersion)" == "$version" ]] || fail "the upgrade did not register $version"
# (scripts/package strips it, stamped with the build's time)
SOURCE_DATE_EPOCH=$(stat -c %Y "$build/src/Perennix.exe") \
  x86_64-w64-mingw32-strip -o "$dir/Perennix-stripped.exe" "$build/src/Perennix.exe"
cmp -s "$inst/Perennix.exe" "$dir/Perennix-stripped.exe" || fail "the upgrade did not put this build's Perennix.exe in place"
echo "ok: $old_version installed silently, upgraded to $version; config.ini kept byte for byte"

# --- what the install made: the files, the shortcut, the uninstall key, start at login -----
for f in Perennix.exe README.txt uninstall.exe; do
  [[ -f "$inst/$f" ]] || fail "no $f in $inst"
done
[[ -s "$shortcut" ]] || fail "no Start menu shortcut $shortcut"
LC_ALL=C grep -qaF "Perennix.exe" "$shortcut" || fail "the shortcut does not name Perennix.exe"
expect_value() {
  local got
  got=$(reg_value "$1" "$2")
  [[ "$got" == "$3" ]] || fail "$1 $2 is '$got', not '$3'"
}
expect_value "$uninst_key" DisplayName Perennix
expect_value "$uninst_key" InstallLocation "$inst_win"
expect_value "$uninst_key" UninstallString "\"$inst_win\\uninstall.exe\""
expect_value "$uninst_key" QuietUninstallString "\"$inst_win\\uninstall.exe\" /S"
expect_value "$run_key" Perennix "\"$inst_win\\Perennix.exe\""
echo "ok: the program, README.txt, the uninstaller, the .lnk, the uninstall key and the Run value are there"

# A setup again without /AUTOSTART keeps the start at login the user chose.
[[ "$(run_setup "$setup" /S)" == 0 ]] || fail "the silent reinstall failed"
expect_value "$run_key" Perennix "\"$inst_win\\Perennix.exe\""
echo "ok: a reinstall without /AUTOSTART keeps start at login"

# --- the installed Perennix.exe guards; a setup while it runs is refused -------------------
(cd "$inst" && exec "$wine" "$inst_win\\Perennix.exe") >"$dir/stderr.txt" 2>&1 &
perennix_pid=$!
wait_for 30 pgrep -x pxinst.exe >/dev/null || fail "the installed Perennix.exe did not guard: $(cat "$dir/stderr.txt")"
wait_for 10 has_main_window || fail "the installed Perennix.exe showed no window"
echo "ok: the installed Perennix.exe guards the helper"
touch -d '2001-01-01' "$inst/Perennix.exe"
status=$(run_setup "$setup" /S)
[[ "$status" == 3 ]] || fail "a silent setup while Perennix runs ended with $status, not 3"
[[ "$(stat -c %Y "$inst/Perennix.exe")" == "$(date -d 2001-01-01 +%s)" ]] || fail "the refused setup replaced Perennix.exe"
status=$(run_setup "$inst/uninstall.exe" /S _?="$inst_win")
[[ "$status" == 3 && -f "$inst/Perennix.exe" ]] || fail "a silent uninstall while Perennix runs ended with $status, not 3"
perennix_running || fail "the refused setup ended Perennix"
echo "ok: while the installed Perennix runs, a silent setup and uninstall end with exit code 3 and change nothing"
kill "$perennix_pid"
wait "$perennix_pid" 2>/dev/null || true
perennix_pid=""
pkill -KILL -x pxinst.exe || true

# --- the silent uninstall: program, shortcut and keys gone; config.ini and log.txt kept ----
cp "$inst/config.ini" "$dir/config-before.ini"
# The uninstaller runs from a copy of itself in %TEMP% and returns at once: wait for its work.
[[ "$(run_setup "$inst/uninstall.exe" /S)" == 0 ]] || fail "the silent uninstall did not start"
uninstalled() { [[ ! -e "$inst/uninstall.exe" ]] && no_key "$uninst_key"; }
wait_for 30 uninstalled || fail "the silent uninstall did not finish"
for f in Perennix.exe README.txt uninstall.exe; do
  [[ ! -e "$inst/$f" ]] || fail "the uninstall left $f"
done
[[ ! -e "$shortcut" ]] || fail "the uninstall left the shortcut"
[[ -z "$(reg_value "$run_key" Perennix)" ]] || fail "the uninstall left the Run value"
cmp -s "$inst/config.ini" "$dir/config-before.ini" || fail "the uninstall did not keep config.ini"
[[ -f "$inst/log.txt" ]] || fail "the uninstall did not keep log.txt"
echo "ok: the silent uninstall removed the program, the shortcut, the uninstall key and the Run value, kept config.ini and log.txt"

# --- /REMOVECONFIG: the folder goes whole --------------------------------------------------
[[ "$(run_setup "$setup" /S)" == 0 ]] || fail "the install over kept settings failed"
cmp -s "$inst/config.ini" "$dir/config-before.ini" || fail "the install over kept settings changed config.ini"
[[ -z "$(reg_value "$run_key" Perennix)" ]] || fail "an install without /AUTOSTART wrote the Run value"
[[ "$(run_setup "$inst/uninstall.exe" /S /REMOVECONFIG)" == 0 ]] || fail "the silent uninstall did not start"
wait_for 30 eval '[[ ! -e "$inst" ]]' || fail "/REMOVECONFIG left $(ls -A "$inst" 2>/dev/null | tr '\n' ' ')"
echo "ok: an install over kept settings keeps them; uninstall /REMOVECONFIG removes config.ini, log.txt and the folder"
