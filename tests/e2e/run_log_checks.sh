# The run log as the end-to-end tests read it (sourced; the caller defines fail).

# Texts of the watchdog's entries in GBK, for grep -F.
run_log_launched=$(printf '\x2d\x3e\xb3\xcc\xd0\xf2\xce\xb4\xd4\xcb\xd0\xd0\xa3\xac\xd2\xd1\xc6\xf4\xb6\xaf\xa3\xba')  # "->程序未运行，已启动："
run_log_restart_fired=$(printf '\x20\xb4\xa5\xb7\xa2\xa3\xac\xd6\xb4\xd0\xd0\xb9\xd8\xb1\xd5\xa1\xa3\xa1\xa3\xa1\xa3')  # " 触发，执行关闭。。。"

# run_log_count LOG TEXT: how many lines of LOG hold TEXT (0 when there is no LOG yet).
run_log_count() {
  if [[ -f "$1" ]]; then LC_ALL=C grep -cF -- "$2" "$1" || true; else echo 0; fi
}

#   check_run_log LOG PROGRAM_PATH
# the banner, the GBK init entry, guarding started at launch, and at least two launches of
# PROGRAM_PATH, each line ending in CR LF.
check_run_log() {
  local log=$1 program=$2
  head -1 "$log" | LC_ALL=C grep -qE $'^---------[A-Z][a-z]{2} [ 123][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}-----------\r$' \
    || fail "banner: $(head -1 "$log" | cat -v)"
  local init autostart
  init=$(printf '\x2d\x3e\xb6\xd4\xbb\xb0\xbf\xf2\xb3\xf5\xca\xbc\xbb\xaf\xcd\xea\xb3\xc9\xa1\xa3\xa1\xa3\xa1\xa3')  # "->对话框初始化完成。。。" in GBK
  sed -n 2p "$log" | LC_ALL=C grep -qE "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}$init"$'\r$' \
    || fail "init entry: $(sed -n 2p "$log" | cat -v)"
  # Then what the watchdog did: guarding started at launch, and each launch with the path.
  autostart=$(printf '\x2d\x3e\xbf\xaa\xca\xbc\xca\xd8\xbb\xa4\xa3\xa8\xc8\xed\xbc\xfe\xc6\xf4\xb6\xaf\xca\xb1\xd7\xd4\xb6\xaf\xbf\xaa\xca\xbc\xa3\xa9\xa1\xa3\xa1\xa3\xa1\xa3')  # "->开始守护（软件启动时自动开始）。。。"
  sed -n 3p "$log" | LC_ALL=C grep -qF -- "$autostart" || fail "start entry: $(sed -n 3p "$log" | cat -v)"
  [[ $(run_log_count "$log" "$run_log_launched$program"$'\r') -ge 2 ]] || fail "launch entries: $(cat -v "$log")"
}
