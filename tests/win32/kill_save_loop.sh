#!/usr/bin/env bash
# Kills a Windows program that keeps saving a 2 MiB config.ini through the program's own code
# (helpers/px_win_save_loop.cpp, under Wine) with SIGKILL at random moments, ROUNDS times, and
# checks what each kill left: config.ini must be there and be the whole file of one record or
# the other, nothing but the temporary files of saves may be beside it, and the next save must
# remove those that killed saves left. Prints the figures; exits non-zero on any fault.
#
# Usage: kill_save_loop.sh ROUNDS SAVER_EXE [SEED]   (inside scripts/with-wine)
set -euo pipefail

rounds=$1
saver=$(realpath "$2")
seed=${3:-$((SRANDOM % 32768))}
RANDOM=$seed
wine=/usr/lib/wine/wine64
[[ -n "${WINEPREFIX:-}" ]] || { echo "run inside scripts/with-wine" >&2; exit 2; }

dir=$(mktemp -d /tmp/px-kill-loop.XXXXXX)
saver_pid=""
end_of_run() {
  [[ -z "$saver_pid" ]] || kill -KILL "$saver_pid" 2>/dev/null || true
  rm -rf "$dir"
}
trap end_of_run EXIT
mkdir "$dir/settings"
ini=$dir/settings/config.ini
ini_windows="Z:${ini//\//\\}"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
save() { "$wine" "$saver" "$ini_windows" "$1" || fail "the saver's \"$1\" failed"; }

# The two whole files: each record saved over the 2 MiB file; saving the other record and
# this one again gives the same bytes back.
save make
cp "$ini" "$dir/first.ini"
save second
cp "$ini" "$dir/second.ini"
save first
cmp -s "$ini" "$dir/first.ini" || fail "saving the first record again changed the file"
cmp -s "$dir/first.ini" "$dir/second.ini" && fail "the two records give the same file"

# The names in the settings folder: config.ini, the temporary files of saves, anything else.
temporaries() { find "$dir/settings" -mindepth 1 -maxdepth 1 -name '.config.ini.*-*.tmp' -printf '%f\n'; }
others() { find "$dir/settings" -mindepth 1 -maxdepth 1 ! -name config.ini ! -name '.config.ini.*-*.tmp' -printf '%f\n'; }
# The temporary files of saves whose process is not PID.
temporaries_not_of() { temporaries | { grep -v "^\.config\.ini\.$1-" || true; }; }

declare -A seen_others=()
faults=0 changed=0 left_temporary=0 most_temporaries=0 left_after_save=0 missing=0
fault() {
  echo "round $round: $*" >&2
  faults=$((faults + 1))
}
start=$SECONDS
for ((round = 0; round < rounds; round++)); do
  cp "$ini" "$dir/before.ini"
  coproc SAVER { exec "$wine" "$saver" "$ini_windows" loop; }
  # shellcheck disable=SC2153 # coproc sets SAVER_PID
  saver_pid=$SAVER_PID
  # It has made one whole save (and with it removed what earlier kills left) and saves on.
  # (A Windows program ends its lines with CR LF.)
  if ! IFS=$' \r' read -r -t 60 -u "${SAVER[0]}" word windows_pid || [[ "$word" != saving ]]; then
    fail "round $round: the saver did not start saving"
  fi
  stale=$(temporaries_not_of "$windows_pid")
  if [[ -n "$stale" ]]; then
    fault "the next save left the temporary files of killed saves: $(echo "$stale" | tr '\n' ' ')"
    left_after_save=$((left_after_save + 1))
  fi
  # One save takes about a tenth of a second here: kills up to 250 ms later land in every
  # step of the next one or two.
  sleep "0.$(printf '%06d' $(((RANDOM * 32768 + RANDOM) % 250000)))"
  kill -KILL "$saver_pid"
  status=0
  wait "$saver_pid" 2>/dev/null || status=$?
  saver_pid=""
  ((status == 128 + 9)) || fault "the saver ended by itself (status $status)"

  if [[ ! -e "$ini" ]]; then
    fault "config.ini is missing; beside it: $({ others; temporaries; } | tr '\n' ' ')"
    missing=$((missing + 1))
    # The next round needs a file to start from: the one the kill lost.
    cp "$dir/before.ini" "$ini"
  elif ! cmp -s "$ini" "$dir/first.ini" && ! cmp -s "$ini" "$dir/second.ini"; then
    fault "config.ini is neither record ($(stat -c %s "$ini") bytes)"
    cp "$dir/before.ini" "$ini"
  fi
  cmp -s "$ini" "$dir/before.ini" || changed=$((changed + 1))
  count=$(temporaries | wc -l)
  ((count == 0)) || left_temporary=$((left_temporary + 1))
  ((count <= most_temporaries)) || most_temporaries=$count
  # Anything else beside it (a file no save removes) is a fault once, when it appears.
  for other in $(others); do
    [[ -z "${seen_others[$other]:-}" ]] || continue
    seen_others[$other]=1
    fault "a file beside config.ini that is no save's temporary file: $other"
  done
done

# The last kill's temporary files too go with the next save.
save first
[[ -z "$(temporaries)" ]] || fault "the last save left a temporary file: $(temporaries)"
echo "kill loop (Windows): $rounds rounds (seed $seed) in $((SECONDS - start)) s: $changed kills left a whole changed" \
  "file, $((rounds - changed - missing)) the whole old one, $missing none; $left_temporary left a temporary file" \
  "(at most $most_temporaries at once), $left_after_save the next save did not remove; ${#seen_others[@]} other" \
  "files appeared; $faults faults"
((faults == 0))
