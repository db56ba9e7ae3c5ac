#!/usr/bin/env bash
# End to end under Wine: a launch is every process it started. Three copies of the real
# Perennix.exe, each in a folder of its own, guard the Windows helper (px_winhelper sleep, under
# a name of the copy's) through a command script that starts it:
#   r: the script starts the helper with "start" and returns; the image name is the helper's.
#      The script's path goes to the command interpreter, which Perennix runs and waits for; the
#      interpreter has ended long before the restart, and the helper alone is left of the launch.
#   n: the same script, but the image name is the script's own, which no process carries (its
#      image is cmd.exe): only the launch's job knows the helper. It must neither launch again
#      while the helper runs nor leave it running at the restart.
#   w: the script runs the helper and waits for it, so its interpreter lives as long as the
#      helper; the image name is the helper's. Its folder's name spells "exe", so the shell's
#      "open" starts it and Perennix does not wait for it (through the interpreter the window
#      would wait as long as the helper runs, and no restart could come).
# The copies run side by side through one daily restart 1 to 2 minutes after the start. Each
# copy's helpers are counted up to five times a second all along: never two at once, exactly one (the
# first launch's) until the restart minute, the restart logged in that minute, and exactly one
# again after it (the relaunch's). The run log shows two launches for each copy, and after the
# restart the first launch's interpreter of w is gone and one interpreter runs, the relaunch's.
#
# Usage: launch_tree_e2e.sh PERENNIX_EXE HELPER_EXE   (inside scripts/with-wine)
set -euo pipefail
# shellcheck source=../e2e/restart_samples.sh
source "$(dirname "$0")/../e2e/restart_samples.sh"

wine_e2e "$@"

# A folder whose path does not spell "exe": r's and n's scripts go to the interpreter.
until dir=$(mktemp -d /tmp/px-tree.XXXXXX) && [[ $dir != *exe* && $dir != *EXE* ]]; do rmdir "$dir"; done
copies=(r n w)
program=helper
declare -A image=([r]=pxtree-r.exe [n]=ibgw.cmd [w]=pxtree-w.exe) helper_path=() launch_path=() interpreters=()
first_interpreter=""

windows_path() { echo "Z:${1//\//\\}"; }
start_copy() {
  (cd "$dir/$1" && exec "$wine" Perennix.exe) >/dev/null 2>&1 &
  perennix_pid[$1]=$!
}
copy_alive() { kill -0 "${perennix_pid[$1]}" 2>/dev/null; }
copy_log() { echo "$dir/$1/log.txt"; }
# Under Wine a process's command line is its Windows one: each copy's helpers, and the
# interpreters of its script, are known by their paths. A helper's command line starts with its
# path; "start" holds it further on while it starts the helper.
look() {
  local pid command c
  for c in "${copies[@]}"; do interpreters[$c]=""; done
  while read -r pid command; do
    for c in "${copies[@]}"; do
      if [[ $command == "${helper_path[$c]}"* || $command == "\"${helper_path[$c]}\""* ]]; then found[$c]+="$pid "; fi
      if [[ $command == *cmd.exe*"${launch_path[$c]}"* ]]; then interpreters[$c]+="$pid "; fi
    done
  done < <(pgrep -a -f -- "$(basename "$dir")" || true)
  # w's interpreter waits for its helper: the first launch's runs with it, and never two.
  local list
  read -ra list <<<"${interpreters[w]}"
  if ((${#list[@]} > 1)) && [[ -z "${failure[w]:-}" ]]; then
    copy_failed w "${#list[@]} interpreters of its script at once (${interpreters[w]})"
  elif [[ -z $first_interpreter && ${#list[@]} -eq 1 && ${phase[w]} != restarted && ${phase[w]} != relaunched ]]; then
    first_interpreter=${list[0]}
  fi
}
# Ends a copy and everything it started (their command lines hold its folder).
stop_copy() {
  local c=$1 pid command
  end_perennix "$c"
  while read -r pid command; do
    if [[ $command == *"$(windows_path "$dir/$c")\\"* ]]; then kill -KILL "$pid" 2>/dev/null || true; fi
  done < <(pgrep -a -f -- "$(basename "$dir")" || true)
}
trap stop_copies EXIT

# --- the restart minute: 1 to 2 minutes ahead ------------------------------------------
restart_in 2

# --- a folder each, with Perennix.exe, its config.ini, a helper and a command script -------
for c in "${copies[@]}"; do
  mkdir -p "$dir/$c"
  cp "$exe" "$dir/$c/Perennix.exe"
  cp "$helper" "$dir/$c/pxtree-$c.exe"
  helper_path[$c]=$(windows_path "$dir/$c/pxtree-$c.exe")
done
printf '@start "" "%s" sleep\r\n' "${helper_path[r]}" >"$dir/r/launch.cmd"
printf '@start "" "%s" sleep\r\n' "${helper_path[n]}" >"$dir/n/ibgw.cmd"
mkdir "$dir/w/launcher-exe"
printf '@"%s" sleep\r\n@echo done\r\n' "${helper_path[w]}" >"$dir/w/launcher-exe/launch.cmd"
launch_path[r]=$(windows_path "$dir/r/launch.cmd")
launch_path[n]=$(windows_path "$dir/n/ibgw.cmd")
launch_path[w]=$(windows_path "$dir/w/launcher-exe/launch.cmd")
for c in "${copies[@]}"; do
  printf '[PX_SETTING]\r\nFULLPATH=%s\r\nEXE_NAME=%s\r\nLOOPSEC=1\r\nAUTOSTART=1\r\nISTIMEDCLOSE=1\r\nREB_TIME=%s\r\n' \
    "${launch_path[$c]}" "${image[$c]}" "$reb_time" >"$dir/$c/config.ini"
done
run_through_restart

# --- w's interpreter: the first launch's went with its helper, the relaunch's runs ---------
if [[ -z "${failure[w]:-}" ]]; then
  look
  read -ra list <<<"${interpreters[w]}"
  if [[ -z $first_interpreter ]]; then
    copy_failed w "no interpreter of its script was seen with the first launch's helper"
  elif ((${#list[@]} != 1)) || [[ ${list[0]} == "$first_interpreter" ]]; then
    copy_failed w "interpreters at the end: ${interpreters[w]:-none}, not one other than the first launch's ($first_interpreter)"
  fi
fi
report_failures
echo "ok: every script kept one helper from the first launch to the restart at $reb_time and one after it; w's first interpreter ($first_interpreter) went with its helper"
