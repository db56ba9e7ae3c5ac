#!/usr/bin/env bash
# The cost of config.ini's size: one load (every key read, as at start-up) and one save of a
# small file and of a 10 MB one (400,000 unknown keys before the real ones, in the same
# section), in wall time and peak memory (/usr/bin/time), median of 5 runs each.
# Usage: bench/profile_file.sh [BUILD_DIR]   (default: build-bench, configured as Release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}

if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPERENNIX_GUI=OFF -DPERENNIX_TESTS=OFF >/dev/null
fi
cmake -S . -B "$build" -DPERENNIX_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target profile_file >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
keys=$'FULLPATH=/opt/app/run\r\nEXE_NAME=run\r\nREB_TIME=12:30\r\nARGS=--x\r\nARGSCRYPT=0\r\nLOOPSEC=30\r\nISTIMEDCLOSE=1\r\nAUTOSTART=0\r\n'
printf '[PX_SETTING]\r\n%s' "$keys" >"$work/small.ini"
{
  printf '[PX_SETTING]\r\n'
  awk 'BEGIN { for (i = 0; i < 400000; i++) printf "UNKNOWN%06d=some value\r\n", i }'
  printf '%s' "$keys"
} >"$work/big.ini"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
measure() {  # mode file -> "seconds kB"
  local mode=$1 file=$2 times=() kbs=()
  for _ in 1 2 3 4 5; do
    cp "$work/$file.ini" "$work/run.ini"
    read -r t kb < <(/usr/bin/time -f '%e %M' "$build/bench/profile_file" "$mode" "$work/run.ini" 2>&1 >/dev/null)
    times+=("$t")
    kbs+=("$kb")
  done
  echo "$(printf '%s\n' "${times[@]}" | median) $(printf '%s\n' "${kbs[@]}" | median)"
}

echo "| file | size | load: s | load: peak kB | save: s | save: peak kB |"
echo "|------|------|---------|---------------|---------|---------------|"
for file in small big; do
  read -r ls lk < <(measure load "$file")
  read -r ss sk < <(measure save "$file")
  echo "| $file | $(stat -c %s "$work/$file.ini") B | $ls | $lk | $ss | $sk |"
done
