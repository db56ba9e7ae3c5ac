# shellcheck shell=bash
# The helpers of the scripts that drive the real program: the end-to-end tests (Linux and
# Windows), the benchmarks and scripts/screenshot source this one file. It holds:
#   - the script's own desktop, waiting for a condition, failing, and the end of a run that
#     stops what the script started and removes its folder;
#   - a Perennix folder's config.ini, the guarded helper, the run log;
#   - Perennix's windows and controls (xdotool, xprop, xwininfo), our popup menus, and where the
#     dialog templates place the controls (their ids from Resource.h, their rectangles from
#     px_controls);
#   - an XEmbed tray (trayer) and a StatusNotifier tray (a session bus of its own, the settings
#     daemon of XFCE and xfce4-panel holding one systray plug-in, which is a StatusNotifier host
#     and an XEmbed tray at once, set up from a prepared configuration so the panel asks nothing
#     on its first start). The bus activates no services: everything on it is started here and
#     stopped again.
# Sourcing it only defines functions and their variables. A script that starts programs calls
# make_workdir first: its folder $dir holds them, and everything they write.
#
# (Filters read their whole input: a reader that stops early fails the pipeline under pipefail.)

# --- the script's desktop, waiting, failing, the end of the run -----------------------------
# on_own_desktop [--no-wm] LAUNCHER ARGS...: unless the script already runs on a desktop of its
# own, runs LAUNCHER ARGS in its place (scripts/with-x SCRIPT ARGS..., or scripts/with-wine BUILD
# SCRIPT ARGS...): a private virtual desktop, so that keys and clicks reach no window of a test
# running beside it, without with-x's tray (the scripts start the trays they need) and, with
# --no-wm, without a window manager.
on_own_desktop() {
  ! own_desktop || return 0
  local no_wm=0
  if [[ "$1" == --no-wm ]]; then
    no_wm=1
    shift
  fi
  export PERENNIX_OWN_DESKTOP=1 WITH_X_NO_TRAY=1 WITH_X_NO_WM=$no_wm
  exec "$@"
}

own_desktop() { [[ "${PERENNIX_OWN_DESKTOP:-}" == 1 ]]; }

# linux_e2e PERENNIX_BINARY REPO_ROOT: a Linux end-to-end test's arguments into binary and root;
# the test runs on a desktop of its own with a window manager, its folder $dir.
linux_e2e() {
  binary=$(realpath "$1")
  root=$(realpath "$2")
  on_own_desktop "$root/scripts/with-x" "$0" "$binary" "$root"
  make_workdir
}

# linux_guard_e2e PERENNIX_BINARY REPO_ROOT: linux_e2e, then $dir holds a copy of perennix and,
# under helper-exe/ ("exe" in the path: launched directly, not through /bin/sh), a helper to
# guard (sleep, as guardhelper) with its config.ini: start-on-launch, a check every second. No
# session bus: Qt's tray icon speaks XEmbed to trayer, whatever desktop the test runs from.
linux_guard_e2e() {
  linux_e2e "$@"
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus"
  helper_match=(-f -- "^$dir/helper-exe/guardhelper")
  cp "$binary" "$dir/perennix"
  mkdir "$dir/helper-exe"
  cp "$(command -v sleep)" "$dir/helper-exe/guardhelper"
  write_config "$dir/config.ini" "FULLPATH=$dir/helper-exe/guardhelper" EXE_NAME=guardhelper ARGS=1000 LOOPSEC=1 \
    AUTOSTART=1
}

# wine_e2e PERENNIX_EXE HELPER_EXE: a Windows end-to-end test's arguments into exe and helper,
# and wine, the loader; the test runs inside scripts/with-wine.
wine_e2e() {
  exe=$(realpath "$1")
  helper=$(realpath "$2")
  wine=/usr/lib/wine/wine64
  [[ -n "${WINEPREFIX:-}" && -n "${DISPLAY:-}" ]] || {
    echo "run inside scripts/with-wine" >&2
    exit 2
  }
}

# wait_for SECONDS COMMAND...: true once COMMAND succeeds, false when time runs out. Each step
# waits for what it needs with a bound that only a fault reaches, however loaded the machine is.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

# fail MESSAGE: ends the script with "FAIL: MESSAGE" (a benchmark puts its name in fail_label).
# On a desktop with a window manager it says when the manager is gone, and
# PERENNIX_E2E_SCREENSHOT=file.png keeps a picture of the desktop at the failure.
fail_label=FAIL
fail() {
  echo "$fail_label: $*" >&2
  if [[ -n "${WITH_X_WAIT:-}" && "${WITH_X_NO_WM:-0}" != 1 ]]; then
    "$WITH_X_WAIT" 0 wm || echo "(the window manager is gone)" >&2
  fi
  [[ -n "${PERENNIX_E2E_SCREENSHOT:-}" ]] && import -window root "$PERENNIX_E2E_SCREENSHOT" 2>/dev/null
  exit 1
}

# What the end of the run stops: Perennix, the processes in started, the trays, every program
# run from a file in $dir (the guarded helpers), and the programs named in kill_at_end (Windows
# programs, whose processes Wine names by their image alone).
perennix_pid=""
started=()
kill_at_end=()

# make_workdir [MKTEMP_TEMPLATE]: the script's temporary folder $dir; at the end of the run
# everything started is stopped and the folder removed.
make_workdir() {
  dir=$(mktemp -d "$@")
  trap end_of_run EXIT
}
# A tray that does not go away fails the run, as it would have failed the step that stopped it.
end_of_run() {
  local status=$? p
  for p in "$perennix_pid" "${started[@]}"; do
    [[ -n "$p" ]] && kill "$p" 2>/dev/null || true
  done
  (sni_stop_all) || status=1
  if [[ -n "${dir:-}" ]]; then
    pkill -KILL -f -- "^$dir/" 2>/dev/null || true
  fi
  for p in "${kill_at_end[@]}"; do
    pkill -KILL -x "$p" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  [[ -z "${dir:-}" ]] || rm -rf "$dir"
  exit "$status"
}

# --- a Perennix folder, the guarded helper, the run log ------------------------------------
# write_config FILE KEY=VALUE...: a config.ini with Perennix's section and these lines, CR LF.
write_config() {
  local file=$1
  shift
  printf '%s\r\n' '[PX_SETTING]' "$@" >"$file"
}

# A path as a Windows program under Wine names it.
windows_path() { echo "Z:${1//\//\\}"; }

perennix_running() { kill -0 "$perennix_pid" 2>/dev/null; }

# The guarded helper of a test, found with pgrep "${helper_match[@]}" (the test sets it).
helper_match=()
helper_pid() { pgrep "${helper_match[@]}" | awk 'NR == 1' || true; }
helper_running() { [[ -n "$(helper_pid)" ]]; }
helper_is_not() {
  local p
  p=$(helper_pid)
  [[ -n "$p" && "$p" != "$1" ]]
}

# expect_relaunch SECONDS RELAUNCH_SECONDS: Perennix, guarding from its start, launched the
# helper and shows its window; the helper, killed, is launched again. Their pids go into first
# and second.
expect_relaunch() {
  wait_for "$1" helper_running || fail "the helper was not launched"
  wait_for "$1" has_main_window || fail "the main window did not show"
  first=$(helper_pid)
  kill -9 "$first"
  wait_for "$2" helper_is_not "$first" || fail "the killed helper was not launched again"
  second=$(helper_pid)
  echo "ok: helper launched ($first), killed and launched again ($second)"
}

# The helpers of the benchmarks append "<pid> <start ns>" to a record file at each start.
# live_helper RECORD: the pid of the helper last started, when it still runs.
live_helper() {
  local pid
  pid=$( (tail -n 1 "$1" 2>/dev/null || true) | awk '{print $1}')
  [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null && echo "$pid"
}
# helper_recorded RECORD PID_COMMAND...: a helper has started into RECORD and runs.
helper_recorded() { [[ -s "$1" ]] && "${@:2}" >/dev/null; }
record_longer() { (($(wc -l <"$1") > $2)); }
# relaunch_ms COUNT RECORD PID_COMMAND...: kills the helper COUNT times (PID_COMMAND prints its
# pid), each time at a random moment of the guard's cycle, and prints a line per kill: the ms
# from the kill to the start of the new helper, as the new one recorded it.
relaunch_ms() {
  local count=$1 rec=$2 pid before t_kill started_ns
  shift 2
  for _ in $(seq 1 "$count"); do
    wait_for 30 helper_recorded "$rec" "$@" || fail "no helper started for $rec"
    pid=$("$@")
    sleep "1.$(printf '%03d' $((RANDOM % 1000)))"
    before=$(wc -l <"$rec")
    t_kill=$EPOCHREALTIME
    kill -9 "$pid"
    wait_for 30 record_longer "$rec" "$before" || fail "no relaunch within 30 s for $rec"
    started_ns=$(tail -n 1 "$rec" | awk '{print $2}')
    awk -v s="$started_ns" -v k="$t_kill" 'BEGIN {printf "%.0f\n", (s / 1e9 - k) * 1000}'
  done
}

median() { sort -n | awk '{v[NR] = $1} END {if (NR == 0) print "n/a"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
# Resident and proportional set size of a process in MiB.
memory_of() { awk '/^Rss:/ {r = $2} /^Pss:/ {p = $2} END {printf "%.1f %.1f", r / 1024, p / 1024}' "/proc/$1/smaps_rollup"; }

# Texts of the watchdog's entries in GBK, for grep -F.
run_log_launched=$(printf '\x2d\x3e\xb3\xcc\xd0\xf2\xce\xb4\xd4\xcb\xd0\xd0\xa3\xac\xd2\xd1\xc6\xf4\xb6\xaf\xa3\xba')  # "->程序未运行，已启动："
run_log_restart_fired=$(printf '\x20\xb4\xa5\xb7\xa2\xa3\xac\xd6\xb4\xd0\xd0\xb9\xd8\xb1\xd5\xa1\xa3\xa1\xa3\xa1\xa3')  # " 触发，执行关闭。。。"

# gbk TEXT: TEXT (UTF-8) in GBK, as the run log holds it.
gbk() { printf '%s' "$1" | iconv -f UTF-8 -t GBK; }

# run_log_count LOG TEXT: how many lines of LOG hold TEXT (0 when there is no LOG yet).
run_log_count() {
  if [[ -f "$1" ]]; then LC_ALL=C grep -cF -- "$2" "$1" || true; else echo 0; fi
}

# check_log_banner LOG: the run log's first line is the build banner, ending in CR LF.
check_log_banner() {
  head -1 "$1" | LC_ALL=C grep -qE $'^---------[A-Z][a-z]{2} [ 123][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}-----------\r$' \
    || fail "banner: $(head -1 "$1" | cat -v)"
}
# check_run_log LOG PROGRAM_PATH: the banner, the GBK init entry, guarding started at launch,
# and at least two launches of PROGRAM_PATH, each line ending in CR LF.
check_run_log() {
  local log=$1 program=$2
  check_log_banner "$log"
  local init autostart
  init=$(printf '\x2d\x3e\xb6\xd4\xbb\xb0\xbf\xf2\xb3\xf5\xca\xbc\xbb\xaf\xcd\xea\xb3\xc9\xa1\xa3\xa1\xa3\xa1\xa3')  # "->对话框初始化完成。。。" in GBK
  sed -n 2p "$log" | LC_ALL=C grep -qE "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}$init"$'\r$' \
    || fail "init entry: $(sed -n 2p "$log" | cat -v)"
  # Then what the watchdog did: guarding started at launch, and each launch with the path.
  autostart=$(printf '\x2d\x3e\xbf\xaa\xca\xbc\xca\xd8\xbb\xa4\xa3\xa8\xc8\xed\xbc\xfe\xc6\xf4\xb6\xaf\xca\xb1\xd7\xd4\xb6\xaf\xbf\xaa\xca\xbc\xa3\xa9\xa1\xa3\xa1\xa3\xa1\xa3')  # "->开始守护（软件启动时自动开始）。。。"
  sed -n 3p "$log" | LC_ALL=C grep -qF -- "$autostart" || fail "start entry: $(sed -n 3p "$log" | cat -v)"
  [[ $(run_log_count "$log" "$run_log_launched$program"$'\r') -ge 2 ]] || fail "launch entries: $(cat -v "$log")"
}

# free_port: a local TCP port nothing listens on now (Wine's sockets are Linux sockets too).
free_port() {
  local port
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 20000))
    ss -Htln "sport = :$port" | grep -q . || {
      echo "$port"
      return
    }
  done
  fail "no free port found"
}

# --- Perennix's windows -------------------------------------------------------------------
# main_window [PID]: Perennix's main window (of the process PID), when it shows.
main_window() {
  local of=()
  [[ -z "${1:-}" ]] || of=(--pid "$1")
  xdotool search --all --onlyvisible "${of[@]}" --name '^Perennix$' 2>/dev/null | awk 'NR == 1' || true
}
has_main_window() { [[ -n "$(main_window "$@")" ]]; }
no_main_window() { [[ -z "$(main_window "$@")" ]]; }

# The state of a window ($window unless one is given) as the window manager keeps it.
window_state() { xprop -id "${1:-$window}" WM_STATE 2>/dev/null | awk '/window state/ {print $3}'; }
window_normal() { [[ "$(window_state "$@")" == Normal ]]; }
window_iconic() { [[ "$(window_state "$@")" == Iconic ]]; }
window_withdrawn() { [[ -z "$(window_state "$@")" || "$(window_state "$@")" == Withdrawn ]]; }
window_viewable() { [[ "$(xwininfo -id "${1:-$window}" 2>/dev/null)" == *IsViewable* ]]; }
window_shown() { window_normal "$@" && window_viewable "$@"; }
window_position() { xwininfo -id "$window" | awk '/Absolute upper-left X:/ {x = $4} /Absolute upper-left Y:/ {y = $4} END {print x, y}'; }
window_size() { xwininfo -id "${1:-$window}" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w, h}'; }

# titled_window TITLE [CLASS]: the first visible window (of the class, when one is given) with
# exactly this title. Titles are compared as UTF-8 (_NET_WM_NAME, which getwindowname reads):
# xdotool's own name pattern sees the legacy WM_NAME.
titled_window() {
  local w candidates
  if [[ -n "${2:-}" ]]; then
    candidates=$(xdotool search --onlyvisible --class "$2" 2>/dev/null || true)
  else
    candidates=$(xdotool search --onlyvisible --name . 2>/dev/null || true)
  fi
  for w in $candidates; do
    [[ "$(xdotool getwindowname "$w" 2>/dev/null)" == "$1" ]] && { echo "$w"; return 0; }
  done
  return 0
}
has_titled_window() { [[ -n "$(titled_window "$@")" ]]; }

# The exit question: a window of ours titled "退出".
exit_box() { titled_window 退出 perennix; }
exit_box_open() { [[ -n "$(exit_box)" ]]; }
# Answers the exit question with a key, the question's window brought to the front first.
answer_exit_box() {
  xdotool windowactivate --sync "$(exit_box)" key "$1"
}

# Our own popup menus (Qt shows the tray menu itself on an XEmbed tray, and Wine the menu of
# Perennix.exe): visible windows of the class (ours, perennix, unless one is given) right on
# the root window (neither framed by the window manager nor docked in the tray), other than the
# icon's tooltip.
popup_menus() {
  local w
  for w in $(xdotool search --onlyvisible --class "${1:-perennix}" 2>/dev/null || true); do
    [[ "$(xwininfo -id "$w" -children 2>/dev/null)" == *"Parent window id: "*"(the root window)"* ]] || continue
    [[ "$(xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null)" == *_NET_WM_WINDOW_TYPE_TOOLTIP* ]] || echo "$w"
  done
  return 0
}
popup_menu() { popup_menus "$@" | awk 'NR == 1'; }
popup_menu_open() { [[ -n "$(popup_menu "$@")" ]]; }

# --- where the dialog templates place the controls -------------------------------------------
# The scripts copy neither ids nor positions: an id's number is read from src/resources/Resource.h
# (IDOK and IDCANCEL from src/platform/WinConst.h), a control's rectangle from the templates
# themselves through px_controls, a helper of the build ($PX_CONTROLS, which ctest sets).
px_source_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# resource_id NAME: the number of a dialog's or a control's id (IDD_MAIN, IDC_HIDE, IDCANCEL).
resource_id() {
  local id
  id=$(sed -n -E -e "s/^inline constexpr (int|unsigned) $1 = (-?[0-9]+);.*/\2/p" -e "s/^#define $1 ([0-9]+)\$/\1/p" \
    "$px_source_root/src/resources/Resource.h" "$px_source_root/src/platform/WinConst.h")
  [[ "$id" =~ ^-?[0-9]+$ ]] || fail "no id $1 in Resource.h or WinConst.h"
  echo "$id"
}

# control_rect DIALOG CONTROL: "x y cx cy" of a control in its dialog's template, in dialog
# units; DIALOG is the dialog's id by name, CONTROL the control's by name or number. CONTROL 0
# is the dialog itself: "0 0 cx cy", its size.
control_rect() {
  local dialog control rect
  dialog=$(resource_id "$1") || exit 1
  if [[ "$2" =~ ^-?[0-9]+$ ]]; then control=$2; else control=$(resource_id "$2") || exit 1; fi
  [[ -x "${PX_CONTROLS:-}" ]] || fail "PX_CONTROLS names no px_controls program (built with the tests: build/px_controls)"
  rect=$("$PX_CONTROLS" | awk -v d="$dialog" -v c="$control" '$1 == d && $2 == c && !found {print $3, $4, $5, $6; found = 1}')
  [[ -n "$rect" ]] || fail "the template $1 has no control $2"
  echo "$rect"
}

# click_control CONTROL: clicks the centre of a control of the main window ($window), its
# template rectangle scaled by the window's size over the template's.
click_control() {
  local x y cx cy dialog_cx dialog_cy width height
  read -r x y cx cy < <(control_rect IDD_MAIN "$1")
  read -r _ _ dialog_cx dialog_cy < <(control_rect IDD_MAIN 0)
  read -r width height < <(window_size)
  xdotool mousemove --window "$window" $(((x * 2 + cx) * width / dialog_cx / 2)) \
    $(((y * 2 + cy) * height / dialog_cy / 2)) click 1
}
click_hide() { click_control IDC_HIDE; }
click_close() { click_control IDCANCEL; }

# --- the StatusNotifier tray's panel on screen ---------------------------------------------
# The panel's button for our item: the systray plug-in embedded in the panel holds it alone.
panel_button_centre() {
  local panel
  panel=$(xdotool search --onlyvisible --class xfce4-panel 2>/dev/null | while read -r w; do
    [[ "$(xwininfo -id "$w" | awk '/Width:/ {print $2}')" -gt 200 ]] && echo "$w"
  done | awk 'NR == 1')
  [[ -n "$panel" ]] && xwininfo -id "$panel" -tree | awk '/"wrapper-2.0"/ {
    split($(NF - 1), size, /[x+]/); split($NF, at, /\+/); print at[2] + int(size[1] / 2), at[3] + int(size[2] / 2); exit }'
}
# A menu the plug-in opened: a visible window of its process higher than the panel's button.
panel_menu() {
  local w
  for w in $(xdotool search --onlyvisible --class wrapper-2.0 2>/dev/null || true); do
    [[ "$(xwininfo -id "$w" 2>/dev/null | awk '/Height:/ {print $2}')" -gt 40 ]] && echo "$w"
  done | awk 'NR == 1'
}
panel_menu_open() { [[ -n "$(panel_menu)" ]]; }

# Clicks entry N of an open tray menu: its three entries ("显示/隐藏", "高级设置", "退出程序") are
# equally high with a thin separator before the last, so the middle of each sixth 1, 3 and 5 of
# the menu's height is within entry 1, 2 and 3.
click_menu_entry() {
  local width height
  read -r width height < <(window_size "$1")
  xdotool mousemove --window "$1" $((width / 2)) $((height * (2 * $2 - 1) / 6)) click 1
}

# --- the XEmbed tray ----------------------------------------------------------------------
tray_pid=""
start_trayer() {
  trayer --edge bottom --align right --widthtype pixel --width 120 --height 24 >>"$dir/trayer.log" 2>&1 &
  tray_pid=$!
  "$WITH_X_WAIT" -p "$tray_pid" 30 owned _NET_SYSTEM_TRAY_S0 || { cat "$dir/trayer.log" >&2; fail "trayer did not start"; }
}
stop_trayer() {
  [[ -n "$tray_pid" ]] || return 0
  kill "$tray_pid" 2>/dev/null || true
  wait "$tray_pid" 2>/dev/null || true
  tray_pid=""
  "$WITH_X_WAIT" 30 unowned _NET_SYSTEM_TRAY_S0 || fail "trayer's tray stayed"
}
trayer_panel() { xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {print $1; exit}'; }
# trayer_icon [CLASS]: the window docked into trayer's panel for our icon: Qt's (class
# perennix), or under Wine the one of Wine's tray (class explorer.exe).
trayer_icon() {
  local panel
  panel=$(trayer_panel)
  [[ -n "$panel" ]] && xwininfo -id "$panel" -tree | awk -v class="\"${1:-perennix}\"" 'index($0, class) {print $1; exit}'
}
trayer_icon_present() { [[ -n "$(trayer_icon "$@")" ]]; }
trayer_icon_absent() { [[ -z "$(trayer_icon "$@")" ]]; }
# Docked and shown: the tray maps the icon only once it has placed it.
trayer_icon_ready() {
  local icon
  icon=$(trayer_icon "$@")
  [[ -n "$icon" ]] && window_viewable "$icon"
}

# --- the StatusNotifier tray --------------------------------------------------------------
sni_bus_pid=""
sni_xfconfd_pid=""
sni_panel_pid=""

# The session bus, and the settings daemon the panel reads its configuration from.
sni_start_bus() {
  mkdir -p "$dir/config/xfce4/xfconf/xfce-perchannel-xml" "$dir/cache" "$dir/data"
  cat >"$dir/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$dir/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
  # One panel along the bottom edge with the systray plug-in alone.
  cat >"$dir/config/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=8;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="26"/>
      <property name="icon-size" type="uint" value="16"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
EOF
  # Everything started from here on reads and writes inside $dir, over this bus only; GTK
  # starts no accessibility bus and keeps its settings in memory.
  export XDG_CONFIG_HOME="$dir/config" XDG_CACHE_HOME="$dir/cache" XDG_DATA_HOME="$dir/data"
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/bus" NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory GDK_BACKEND=x11
  unset WAYLAND_DISPLAY SESSION_MANAGER
  dbus-daemon --config-file="$dir/bus.conf" --nofork >>"$dir/bus.log" 2>&1 &
  sni_bus_pid=$!
  wait_for 30 sni_bus_up || { cat "$dir/bus.log" >&2; fail "the session bus did not start"; }
  local xfconfd
  xfconfd=$(compgen -G "/usr/lib/*/xfce4/xfconf/xfconfd" | head -1)
  [[ -x "$xfconfd" ]] || fail "xfconfd is not installed (scripts/deps installs xfce4-panel)"
  "$xfconfd" >>"$dir/xfconfd.log" 2>&1 &
  sni_xfconfd_pid=$!
  wait_for 30 sni_has_name org.xfce.Xfconf || { cat "$dir/xfconfd.log" >&2; fail "xfconfd did not start"; }
}
sni_bus_up() { gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
  --method org.freedesktop.DBus.GetId >/dev/null 2>&1; }
sni_has_name() {
  [[ "$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner "$1" 2>/dev/null)" == "(true,)" ]]
}

# The panel, up once its tray shows StatusNotifier items.
sni_start_panel() {
  command -v xfce4-panel >/dev/null || fail "xfce4-panel is not installed (scripts/deps installs it)"
  xfce4-panel >>"$dir/panel.log" 2>&1 &
  sni_panel_pid=$!
  wait_for 30 sni_host_up || { cat "$dir/panel.log" >&2; fail "the panel's StatusNotifier host did not start"; }
}
sni_host_up() {
  [[ "$(sni_watcher_property IsStatusNotifierHostRegistered)" == "(<true>,)" ]]
}
sni_watcher_property() {
  gdbus call --session --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher \
    --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher "$1" 2>/dev/null
}
# Ends the panel and its plug-in: the plug-in runs in a process of its own and goes with its
# panel; the test waits until the watcher has left the bus.
sni_stop_panel() {
  [[ -n "$sni_panel_pid" ]] || return 0
  kill "$sni_panel_pid" 2>/dev/null || true
  wait "$sni_panel_pid" 2>/dev/null || true
  sni_panel_pid=""
  wait_for 30 eval '! sni_has_name org.kde.StatusNotifierWatcher' || fail "the panel's tray stayed on the bus"
}

# The items registered with the watcher, one "bus-name/path" a line.
sni_items() { sni_watcher_property RegisteredStatusNotifierItems | grep -oE "'[^']+'" | tr -d "'" || true; }
sni_item_count() { sni_items | awk 'END {print NR}'; }

# An item's property, as gdbus prints it.
sni_item_property() {
  local item=$1
  gdbus call --session --dest "${item%%/*}" --object-path "/${item#*/}" \
    --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem "$2"
}

# The entries of an item's exported menu (com.canonical.dbusmenu), one a line: a label, or "-"
# for a separator.
sni_menu_layout() {
  local item=$1 menu
  menu=$(sni_item_property "$item" Menu | grep -oE "'/[^']*'" | tr -d "'")
  gdbus call --session --dest "${item%%/*}" --object-path "$menu" --method com.canonical.dbusmenu.GetLayout -- 0 -1 '[]'
}
sni_menu_entries() {
  sni_menu_layout "$1" | grep -oE "'label': <'[^']*'>|'type': <'separator'>" \
    | sed -e "s/^'label': <'\(.*\)'>$/\1/" -e "s/^'type': <'separator'>$/-/"
}
# Picks the entry with this label as a StatusNotifier host does when the user clicks it.
sni_menu_click() {
  local item=$1 label=$2 menu id
  menu=$(sni_item_property "$item" Menu | grep -oE "'/[^']*'" | tr -d "'")
  id=$(sni_menu_layout "$item" | grep -oE "\(([0-9]+), \{[^}]*'label': <'$label'>" | grep -oE '^\([0-9]+' | tr -d '(')
  [[ -n "$id" ]] || fail "no menu entry $label"
  gdbus call --session --dest "${item%%/*}" --object-path "$menu" \
    --method com.canonical.dbusmenu.Event "$id" clicked '<int32 0>' 0 >/dev/null
}

# Starts $dir/app/perennix (a copy of $binary, with whatever config.ini the folder holds) from
# its folder and waits until its main window, $window, shows.
sni_start_perennix() {
  mkdir -p "$dir/app"
  cp "$binary" "$dir/app/perennix"
  (cd "$dir/app" && exec ./perennix) >"$dir/perennix.log" 2>&1 &
  perennix_pid=$!
  wait_for 30 has_main_window || fail "the main window did not show"
  window=$(main_window)
  wait_for 30 window_shown || fail "the main window is $(window_state)"
}
# "隐藏": the window goes, and one item is registered with the panel's tray.
sni_hide_into_tray() {
  click_hide
  wait_for 30 window_withdrawn || fail "hide: the window is still $(window_state)"
  wait_for 30 eval '[[ "$(sni_item_count)" -eq 1 ]]' || fail "hide: $(sni_item_count) items registered"
}

# Stops both trays, each waited for until it is gone.
sni_stop_all() {
  stop_trayer
  sni_stop_panel
  local p
  for p in "$sni_xfconfd_pid" "$sni_bus_pid"; do
    [[ -n "$p" ]] && kill "$p" 2>/dev/null || true
    [[ -n "$p" ]] && wait "$p" 2>/dev/null || true
  done
  sni_xfconfd_pid=""
  sni_bus_pid=""
}
