# shellcheck shell=bash disable=SC2154  # set by the sourcing script
# Samples of guarded programs through a daily restart, for the launch-tree tests on Linux and
# under Wine (sourced). Copies of Perennix run side by side, each in a folder of its own and
# guarding its own program; the sourcing script sets
#   copies          the copies' names
#   program         what their program is called in messages ("Java", "helper")
#   dir             its folder, the copies' folders inside
#   launch_path[C]  the path copy C launches (its FULLPATH)
# calls restart_in before it writes the copies' settings, and defines
#   start_copy C    starts copy C's Perennix in the background, its pid in perennix_pid[C]
#   copy_alive C    whether copy C's Perennix runs
#   copy_log C      copy C's log.txt
#   look            fills found[C] with the pids of copy C's program, for every copy at one
#                   look (called after the logs were read)
#   stop_copy C     ends copy C (end_perennix C) and everything it started
# with stop_copies as its EXIT trap, then calls run_through_restart. Each copy's program must
# run exactly once from its first launch to the restart minute, the restart must come in that
# minute, and the relaunch's program exactly once after it: never two at one sample.
#   starting    none yet (a minute at most);
#   running     exactly the first launch's; none only within the restart minute (the restart
#               ended it a moment before its log entry was written);
#   restarted   the restart is in the log: none while the relaunch comes (a minute at most),
#               the first launch's only while it goes (ten seconds at most);
#   relaunched  exactly the relaunch's, to the end.
# Sampling ends ten seconds after the last relaunch and five after the restart minute, or when
# every copy has failed; half a minute after the restart minute a copy not relaunched fails.
# The log then holds two launches (the first one and the relaunch) and one restart, in its
# minute. A copy that goes wrong is stopped at once (a faulty build may pile up a program a
# second) and the others carry on: report_failures fails with every copy's failure.

# shellcheck source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# restart_in MINUTES: the restart minute begins MINUTES - 1 to MINUTES minutes from now;
# restart_at is its first second, reb_time its REB_TIME. Perennix arms its countdown 1 to 4
# minutes ahead: from 2 on, its first check arms it whatever second of the minute it is now.
restart_in() {
  restart_at=$(((EPOCHSECONDS / 60 + $1) * 60))
  reb_time=$(date -d "@$restart_at" +%H:%M)
}

# Ends copy C's Perennix (perennix_pid[C]): stop_copy's first step.
end_perennix() {
  [[ -n "${perennix_pid[$1]:-}" ]] || return 0
  kill -KILL "${perennix_pid[$1]}" 2>/dev/null || true
  wait "${perennix_pid[$1]}" 2>/dev/null || true
  perennix_pid[$1]=""
}
# The EXIT trap: every copy stopped, the test's folder ($dir) removed.
stop_copies() {
  local c
  for c in "${copies[@]}"; do stop_copy "$c"; done
  rm -rf "$dir"
}

declare -A perennix_pid=() failure=() phase=() first=() second=() most=() samples=() seen_at=() fired=() found=()

copy_failed() {
  failure[$1]="$2"
  echo "FAIL: $1: $2 ($(date +%T))" >&2
  stop_copy "$1"
}

# One look: the restart entries first, then every copy's program.
take_sample() {
  local c
  for c in "${copies[@]}"; do
    fired[$c]=0 found[$c]=""
    # The log is read only when the restart may be there: a sample starts few processes.
    if [[ ${phase[$c]} == running ]] && ((EPOCHSECONDS >= restart_at)); then
      fired[$c]=$(run_log_count "$(copy_log "$c")" "$run_log_restart_fired")
    fi
  done
  look
  for c in "${copies[@]}"; do
    [[ -n "${failure[$c]:-}" ]] || judge "$c"
  done
}

judge() {
  local c=$1 list now=$EPOCHSECONDS
  copy_alive "$c" || { copy_failed "$c" "Perennix ended"; return; }
  read -ra list <<<"${found[$c]}"
  samples[$c]=$((samples[$c] + 1))
  ((${#list[@]} <= most[$c])) || most[$c]=${#list[@]}
  if [[ ${phase[$c]} == running ]]; then
    # The restart writes its entry before the relaunch: when the look found another program
    # than the first launch's, the entry it missed before the look is there now.
    if ((fired[$c] == 0)) && { ((${#list[@]} > 1)) || [[ ${#list[@]} -eq 1 && ${list[0]} != "${first[$c]}" ]]; }; then
      fired[$c]=$(run_log_count "$(copy_log "$c")" "$run_log_restart_fired")
    fi
    if ((fired[$c] > 0)); then
      phase[$c]=restarted seen_at[$c]=$now
      echo "$c: the restart is in the log ($(date +%T))"
    fi
  fi
  ((${#list[@]} <= 1)) || { copy_failed "$c" "${#list[@]} ${program}s at once (${found[$c]}) while ${phase[$c]}"; return; }
  case ${phase[$c]} in
    starting)
      if ((${#list[@]} == 1)); then
        phase[$c]=running first[$c]=${list[0]}
        echo "$c: the first launch's $program runs: ${first[$c]} ($(date +%T))"
      elif ((now >= started + 60)); then
        copy_failed "$c" "no $program ran within a minute"
      fi
      ;;
    running)
      if ((${#list[@]} == 0 && now < restart_at)); then
        copy_failed "$c" "the first launch's $program ended before the restart minute"
      elif ((${#list[@]} == 1)) && [[ ${list[0]} != "${first[$c]}" ]]; then
        copy_failed "$c" "another $program (${list[0]}) replaced the first launch's (${first[$c]}) before the restart"
      fi
      ;;
    restarted)
      if ((${#list[@]} == 1)) && [[ ${list[0]} != "${first[$c]}" ]]; then
        phase[$c]=relaunched second[$c]=${list[0]} seen_at[$c]=$now
        echo "$c: the relaunch's $program runs: ${second[$c]} ($(date +%T))"
      elif ((${#list[@]} == 1 && now > seen_at[$c] + 10)); then
        copy_failed "$c" "the restart left the first launch's $program (${first[$c]}) running"
      elif ((now > seen_at[$c] + 60)); then
        copy_failed "$c" "no relaunch within a minute of the restart"
      fi
      ;;
    relaunched)
      if ((${#list[@]} != 1)) || [[ ${list[0]} != "${second[$c]}" ]]; then
        copy_failed "$c" "after the relaunch: ${found[$c]:-no $program}, not the relaunch's ${second[$c]}"
      fi
      ;;
  esac
}

sampling_done() {
  local c left=0 done=1
  for c in "${copies[@]}"; do
    [[ -n "${failure[$c]:-}" ]] && continue
    left=1
    [[ ${phase[$c]} == relaunched ]] && ((EPOCHSECONDS >= seen_at[$c] + 10)) || done=0
  done
  ((left == 0 || (done == 1 && EPOCHSECONDS >= restart_at + 65)))
}

# Samples every 200 ms (or as fast as a sample takes, when slower) until done.
sample_through_restart() {
  local c next=${EPOCHREALTIME/[.,]/} wait fraction
  for c in "${copies[@]}"; do phase[$c]=starting most[$c]=0 samples[$c]=0; done
  until sampling_done; do
    take_sample
    if ((EPOCHSECONDS >= restart_at + 90)); then
      for c in "${copies[@]}"; do
        [[ -n "${failure[$c]:-}" || ${phase[$c]} == relaunched ]] \
          || copy_failed "$c" "still ${phase[$c]} half a minute after the restart minute"
      done
    fi
    next=$((next + 200000))
    wait=$((next - ${EPOCHREALTIME/[.,]/}))
    if ((wait > 0)); then
      printf -v fraction '%06d' $((wait % 1000000))
      sleep "$((wait / 1000000)).$fraction"
    else
      next=${EPOCHREALTIME/[.,]/}
    fi
  done
}

# Starts the copies, samples them through the restart and checks their logs.
run_through_restart() {
  local c
  for c in "${copies[@]}"; do start_copy "$c"; done
  started=$EPOCHSECONDS
  echo "started at $(date +%T), daily restart at $reb_time"
  sample_through_restart
  for c in "${copies[@]}"; do check_restart_log "$c"; done
}

# Copy C's log: two launches, one restart in its minute. Prints the copy's figures.
check_restart_log() {
  local c=$1 log launches restart_line
  log=$(copy_log "$c")
  launches=$(run_log_count "$log" "$run_log_launched${launch_path[$c]}"$'\r')
  echo "$c: ${samples[$c]} samples, at most ${most[$c]} $program(s) at once, $launches launch(es) in the log"
  [[ -z "${failure[$c]:-}" ]] || return 0
  ((launches == 2)) || { copy_failed "$c" "$launches launches in the log, not 2: $(cat -v "$log")"; return; }
  restart_line=$(LC_ALL=C grep -F -- "$run_log_restart_fired" "$log" || true)
  [[ $(wc -l <<<"$restart_line") -eq 1 && ${restart_line:11:5} == "$reb_time" ]] \
    || copy_failed "$c" "the restart entries are not one in the minute $reb_time: $(cat -v <<<"$restart_line")"
}

# Fails with every copy's failure, if any.
report_failures() {
  local c status=0
  for c in "${copies[@]}"; do
    [[ -z "${failure[$c]:-}" ]] || { echo "FAIL: $c: ${failure[$c]}" >&2; status=1; }
  done
  return "$status"
}
