#!/usr/bin/env bash
# End to end: a launch is every process it started. Two copies of the real perennix binary, each
# in a folder of its own, guard a gateway's launcher script by its image name, the script's own
# name; it starts a Java program on a real JVM (a headless one that only waits to be ended):
#   a: the launcher starts Java in the background and returns at once;
#   b: the launcher runs Java in the foreground and waits for it (no exec).
# Both copies run side by side through one daily restart 2 to 3 minutes after the start. Each
# copy's Java processes are counted up to five times a second all along: never two at once,
# exactly one (the first launch's) until the restart minute, the restart logged in that minute,
# and exactly one again after it (the relaunch's). The run log shows two launches for each copy:
# the first one and the one after the restart.
#
# Usage: launch_tree_e2e.sh PERENNIX_BINARY REPO_ROOT JAVA SLEEPER_JAR
set -euo pipefail
# shellcheck source=restart_samples.sh
source "$(dirname "$0")/restart_samples.sh"

binary=$(realpath "$1")
root=$(realpath "$2")
java=$3
jar=$(realpath "$4")

# A display of its own for Perennix's windows; neither a tray nor a window manager is needed.
if [[ "${PERENNIX_E2E_DESKTOP:-}" != 1 ]]; then
  export PERENNIX_E2E_DESKTOP=1 WITH_X_NO_TRAY=1 WITH_X_NO_WM=1
  exec "$root/scripts/with-x" "$0" "$binary" "$root" "$java" "$jar"
fi

dir=$(mktemp -d)
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus"
copies=(a b)
program=Java
declare -A image=() launch_path=()

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
start_copy() {
  (cd / && exec "$dir/$1/perennix") >/dev/null 2>&1 &
  perennix_pid[$1]=$!
}
copy_alive() { kill -0 "${perennix_pid[$1]}" 2>/dev/null; }
copy_log() { echo "$dir/$1/log.txt"; }
# Each copy's Java programs, at one look: their argument names the copy's folder.
look() {
  local pid command c
  while read -r pid command; do
    for c in "${copies[@]}"; do
      if [[ $command == *" $dir/$c/launched" ]]; then found[$c]+="$pid "; fi
    done
  done < <(pgrep -a -f -- "LaunchedSleeper $dir/[ab]/launched\$" || true)
}
# Ends a copy and everything it started (its launchers and Java programs name its folder).
stop_copy() {
  local c=$1
  end_perennix "$c"
  pkill -KILL -f -- "$dir/$c/" 2>/dev/null || true
}
trap stop_copies EXIT

# --- the restart minute: 2 to 3 minutes ahead ------------------------------------------
restart_in 3

# --- two folders, each with Perennix, its config.ini and a launcher named like the gateway's -
# The image name counts for every process of the user: each copy's launcher has a name of its
# own (and this run's: tests beside this one may run it too), else a copy would find the other
# one's launcher running, and its restart would end it. At most 15 bytes, the kernel's name of
# a script.
printf -v java_command '%q ' "$java" -Xmx32m -XX:+UseSerialGC -XX:TieredStopAtLevel=1 \
  -Djava.awt.headless=true -cp "$jar" LaunchedSleeper
for c in "${copies[@]}"; do
  mkdir -p "$dir/$c/launcher"
  cp "$binary" "$dir/$c/perennix"
  image[$c]=ibgw-$$-$c
  launcher=$dir/$c/launcher/${image[$c]}
  launch_path[$c]=$launcher
  if [[ $c == a ]]; then
    printf '#!/bin/sh\n# Starts the program in the background and returns.\nnohup %s%q >>%q 2>&1 &\nexit 0\n' \
      "$java_command" "$dir/$c/launched" "$dir/$c/java.log" >"$launcher"
  else
    printf '#!/bin/sh\n# Runs the program and waits for it.\n%s%q >>%q 2>&1\necho done\n' \
      "$java_command" "$dir/$c/launched" "$dir/$c/java.log" >"$launcher"
  fi
  chmod +x "$launcher"  # a program file: started directly, the window never waits for it
  printf '[PX_SETTING]\r\nFULLPATH=%s\r\nEXE_NAME=%s\r\nLOOPSEC=1\r\nAUTOSTART=1\r\nISTIMEDCLOSE=1\r\nREB_TIME=%s\r\n' \
    "$launcher" "${image[$c]}" "$reb_time" >"$dir/$c/config.ini"
done
run_through_restart

# --- the launchers left: b's waits for its Java, a's returned -----------------------------
for c in "${copies[@]}"; do
  [[ -z "${failure[$c]:-}" ]] || continue
  launchers=$(pgrep -c -f -- " $dir/$c/launcher/${image[$c]}\$") || true
  expected=$([[ $c == a ]] && echo 0 || echo 1)
  ((launchers == expected)) || copy_failed "$c" "$launchers launcher(s) running at the end, not $expected"
done
report_failures
echo "ok: both launchers kept one Java program from the first launch to the restart at $reb_time and one after it"
