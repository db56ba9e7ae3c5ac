#!/usr/bin/env bash
# The differential test of the settings file reader against the Windows profile functions:
# a small console program, cross-built with MinGW-w64, asks Wine's GetPrivateProfileStringW
# (500-unit buffer) and GetPrivateProfileIntW about every file of corpus.txt under the
# Chinese code page (936), and profile_diff compares each answer with the program's reader.
# Every read agrees or is listed in differences.txt.
#   tests/profile-diff/run.sh BUILD_DIR   (BUILD_DIR holds tests/profile-diff/profile_diff)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
out=$build/profile-diff
diff_tool=$build/tests/profile-diff/profile_diff
mkdir -p "$out"

# The probe, built again when its source changed.
probe=$out/probe.exe
if [[ ! -x $probe || $here/probe.cpp -nt $probe ]]; then
  x86_64-w64-mingw32-g++-posix -std=c++17 -O1 -municode -static -Wall -Wextra -Werror -o "$probe" "$here/probe.cpp"
fi

# A zh_CN.UTF-8 locale of its own: with it Wine's ANSI code page is 936.
if [[ ! -f $out/locale/zh_CN.UTF-8/LC_CTYPE ]]; then
  mkdir -p "$out/locale"
  localedef -i zh_CN -f UTF-8 "$out/locale/zh_CN.UTF-8"
fi

"$diff_tool" prepare "$here/corpus.txt" "$out"

# A Wine prefix of its own in the build folder, created on the first run; no desktop, no
# Mono or Gecko installers. The server runs only while the probe does.
export WINEPREFIX=$out/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset LC_ALL LC_CTYPE LC_MESSAGES DISPLAY WAYLAND_DISPLAY
chinese=(env LOCPATH="$out/locale" LANG=zh_CN.UTF-8)
mkdir -p "$WINEPREFIX"
stop_wine() { wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT
"${chinese[@]}" wineserver -p </dev/null >/dev/null 2>&1
queries="Z:${out//\//\\}\\queries.txt"  # the root of the Linux file system is drive Z:
"${chinese[@]}" wine "$probe" "$queries" </dev/null >"$out/windows.txt" 2>"$out/wine.log"
stop_wine
trap - EXIT

"$diff_tool" compare "$here/corpus.txt" "$here/differences.txt" "$out"
