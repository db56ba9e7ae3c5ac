#!/usr/bin/env bash
# scripts/install-autostart: copies of Perennix in two folders get two autostart entries, each
# starting its own executable and naming its folder; --remove takes away only the entry of the
# executable it is given, and an entry left by the earlier single-name script only when it
# starts that executable. Every entry passes desktop-file-validate.
#
# Usage: autostart_test.sh REPO_ROOT
set -euo pipefail

root=$(realpath "$1")
install=$root/scripts/install-autostart
command -v desktop-file-validate >/dev/null || {
  echo "FAIL: desktop-file-validate not found (Debian: desktop-file-utils, installed by scripts/deps test)" >&2
  exit 1
}

dir=$(realpath "$(mktemp -d)")
trap 'rm -rf "$dir"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
export XDG_CONFIG_HOME=$dir/config HOME=$dir/home
autostart=$XDG_CONFIG_HOME/autostart
mkdir -p "$HOME"

# Two folders, the second one's name with a space, a % and a $ (each quoted its own way in Exec).
one=$dir/one/perennix
two=$dir/'two 100% $HOME'/perennix
for exe in "$one" "$two"; do
  mkdir -p "$(dirname "$exe")"
  printf '#!/bin/sh\nexit 0\n' >"$exe"
  chmod +x "$exe"
done

# exec_path ENTRY: the program the entry's Exec line starts, read back by the desktop entry
# rules: the value's escapes first, then the double quotes with their backslashes, then %%.
exec_path() {
  local line value text="" i c
  line=$(grep '^Exec=' "$1") || fail "$1 has no Exec line"
  [[ $(grep -c '^Exec=' "$1") == 1 ]] || fail "$1 has more than one Exec line"
  value=${line#Exec=}
  for ((i = 0; i < ${#value}; i++)); do
    c=${value:i:1}
    if [[ "$c" == '\' ]]; then
      ((++i))
      case ${value:i:1} in
        s) c=' ' ;; n) c=$'\n' ;; t) c=$'\t' ;; r) c=$'\r' ;; '\') c='\' ;;
        *) fail "$1: unknown escape in $line" ;;
      esac
    fi
    text+=$c
  done
  [[ "$text" == \"*\" ]] || fail "$1: Exec is not one quoted path: $line"
  text=${text:1:${#text}-2}
  value=""
  for ((i = 0; i < ${#text}; i++)); do
    c=${text:i:1}
    if [[ "$c" == '\' ]]; then
      ((++i))
      c=${text:i:1}
      [[ "$c" == [\"\`\$\\] ]] || fail "$1: a backslash before '$c' in the quoted path: $line"
    elif [[ "$c" == '"' ]]; then
      fail "$1: an unescaped quote inside the quoted path: $line"
    elif [[ "$c" == % ]]; then
      ((++i))
      [[ "${text:i:1}" == % ]] || fail "$1: a field code in Exec: $line"
    fi
    value+=$c
  done
  printf '%s' "$value"
}
# entry_for EXECUTABLE: the one entry of the autostart folder whose Exec starts it.
entry_for() {
  local entry found=""
  for entry in "$autostart"/*.desktop; do
    [[ -e "$entry" ]] || continue
    if [[ "$(exec_path "$entry")" == "$1" ]]; then
      [[ -z "$found" ]] || fail "two entries start $1: $found and $entry"
      found=$entry
    fi
  done
  printf '%s' "$found"
}
entries() {
  find "$autostart" -maxdepth 1 -name '*.desktop' -printf '%f\n' | sort
}
# legacy_entry EXECUTABLE: perennix.desktop as the earlier script wrote it for EXECUTABLE.
legacy_entry() {
  local quoted
  quoted=$(printf '%s' "$1" | sed -e 's/[\\"`$]/\\&/g' -e 's/\\/\\\\/g')
  {
    grep -v '^Exec=' "$root/resources/perennix.desktop.in"
    printf 'Exec="%s"\nX-GNOME-Autostart-enabled=true\n' "$quoted"
  } >"$autostart/perennix.desktop"
}

echo "== two folders, two entries"
"$install" "$one" >/dev/null
# A relative path names the file from where the command is given.
(cd "$(dirname "$two")" && "$install" perennix >/dev/null)
[[ $(entries | wc -l) == 2 ]] || fail "two folders installed, but the autostart folder holds: $(entries | tr '\n' ' ')"
entry_one=$(entry_for "$one")
entry_two=$(entry_for "$two")
[[ -n "$entry_one" ]] || fail "no entry starts $one: $(entries | tr '\n' ' ')"
[[ -n "$entry_two" ]] || fail "no entry starts $two: $(entries | tr '\n' ' ')"
[[ "$(basename "$entry_one")" == perennix-*.desktop && "$(basename "$entry_two")" == perennix-*.desktop ]] \
  || fail "entries not named perennix-*.desktop: $(entries | tr '\n' ' ')"
grep -Fxq "Name=Perennix ($dir/one)" "$entry_one" || fail "the folder is not in the name of $entry_one: $(grep '^Name=' "$entry_one")"
grep -Fxq "Name=Perennix ($(dirname "$two"))" "$entry_two" || fail "the folder is not in the name of $entry_two: $(grep '^Name=' "$entry_two")"
desktop-file-validate "$entry_one" "$entry_two" || fail "an entry does not pass desktop-file-validate"

echo "== installing again keeps one entry per folder"
"$install" "$one" >/dev/null
[[ $(entries | wc -l) == 2 && "$(entry_for "$one")" == "$entry_one" ]] || fail "a second install of $one changed the entries: $(entries | tr '\n' ' ')"

echo "== --remove takes away its own entry only"
"$install" --remove "$one" >/dev/null
[[ ! -e "$entry_one" ]] || fail "--remove $one left $entry_one"
[[ -e "$entry_two" && $(entries | wc -l) == 1 ]] || fail "--remove $one touched other entries: $(entries | tr '\n' ' ')"

echo "== an entry of the earlier single-name script"
legacy_entry "$one"
"$install" --remove "$two" >/dev/null
[[ ! -e "$entry_two" ]] || fail "--remove $two left $entry_two"
[[ -e "$autostart/perennix.desktop" ]] || fail "--remove $two removed perennix.desktop, which starts $one"
"$install" --remove "$one" >/dev/null
[[ ! -e "$autostart/perennix.desktop" ]] || fail "--remove $one left perennix.desktop, which starts $one"
legacy_entry "$two"
"$install" "$two" >/dev/null
[[ "$(entries)" == "$(basename "$entry_two")" ]] || fail "installing $two kept the old perennix.desktop that starts it: $(entries | tr '\n' ' ')"

echo "== --remove of a program that is gone"
rm -rf "$(dirname "$two")"
"$install" --remove "$two" >/dev/null
[[ -z "$(entries)" ]] || fail "--remove of a deleted program left: $(entries | tr '\n' ' ')"
echo "PASS"
