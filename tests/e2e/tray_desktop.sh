# The desktops of the tray tests, sourced by the scripts that need them: Perennix's windows on a
# virtual desktop, an XEmbed tray (trayer) and a StatusNotifier tray (a session bus of its own,
# the settings daemon of XFCE and xfce4-panel holding one systray plug-in, which is a
# StatusNotifier host and an XEmbed tray at once, set up from a prepared configuration so the
# panel asks nothing on its first start).
#
# The sourcing script sets $dir (a temporary folder it removes), defines fail, and runs under
# scripts/with-x without its tray (WITH_X_WAIT waits for the desktop's conditions). It calls sni_start_bus once, sni_start_panel and
# sni_stop_panel as it needs, and sni_stop_all when it ends. The bus activates no services:
# everything on it is started here and stopped again.

# --- Perennix's windows -------------------------------------------------------------------
# wait_for SECONDS COMMAND...: true once COMMAND succeeds, false when time runs out.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

main_window() { xdotool search --onlyvisible --name '^Perennix$' 2>/dev/null | awk 'NR == 1' || true; }
window_state() { xprop -id "$window" WM_STATE 2>/dev/null | awk '/window state/ {print $3}'; }
window_shown() { [[ "$(window_state)" == Normal && "$(xwininfo -id "$window")" == *IsViewable* ]]; }
window_withdrawn() { [[ -z "$(window_state)" || "$(window_state)" == Withdrawn ]]; }
window_iconic() { [[ "$(window_state)" == Iconic ]]; }
# The exit question: a window of ours titled "退出" (a UTF-8 title, which xdotool's name search
# does not read).
exit_box() {
  local w
  for w in $(xdotool search --onlyvisible --class perennix 2>/dev/null || true); do
    [[ "$(xprop -id "$w" _NET_WM_NAME 2>/dev/null)" == *'= "退出"' ]] && echo "$w"
  done | awk 'NR == 1'
}
exit_box_open() { [[ -n "$(exit_box)" ]]; }
# Answers the exit question with a key, the question's window brought to the front first.
answer_exit_box() {
  xdotool windowactivate --sync "$(exit_box)" key "$1"
}

# Our own popup menus (Qt shows the tray menu itself on an XEmbed tray): visible windows of ours
# right on the root window (neither framed by the window manager nor docked in the tray), other
# than the icon's tooltip.
qt_menus() {
  local w
  for w in $(xdotool search --onlyvisible --class perennix 2>/dev/null || true); do
    [[ "$(xwininfo -id "$w" -children 2>/dev/null)" == *"Parent window id: "*"(the root window)"* ]] || continue
    [[ "$(xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null)" == *_NET_WM_WINDOW_TYPE_TOOLTIP* ]] || echo "$w"
  done
  return 0
}
qt_menu() { qt_menus | awk 'NR == 1'; }
qt_menu_open() { [[ -n "$(qt_menu)" ]]; }

# Clicks the centre of a control given by its template rectangle in dialog units (x y cx cy).
click_control() {
  local width height
  read -r width height < <(xwininfo -id "$window" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w, h}')
  xdotool mousemove --window "$window" $((($1 * 2 + $3) * width / 307 / 2)) $((($2 * 2 + $4) * height / 249 / 2)) click 1
}
click_hide() { click_control 108 202 36 14; }
click_close() { click_control 171 202 32 14; }
window_position() { xwininfo -id "$window" | awk '/Absolute upper-left X:/ {x = $4} /Absolute upper-left Y:/ {y = $4} END {print x, y}'; }
window_size() { xwininfo -id "$window" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w, h}'; }

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

# Clicks entry N of an open tray menu: its two entries ("显示/隐藏", "退出程序") are equally
# high around a thin separator, so the upper and lower quarter of the menu are within them.
click_menu_entry() {
  local width height
  read -r width height < <(xwininfo -id "$1" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w, h}')
  xdotool mousemove --window "$1" $((width / 2)) $((height * (2 * $2 - 1) / 4)) click 1
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
# The window Qt docks into trayer's panel for our icon.
trayer_icon() {
  local panel
  panel=$(trayer_panel)
  [[ -n "$panel" ]] && xwininfo -id "$panel" -tree | awk '/"perennix"/ {print $1; exit}'
}
trayer_icon_present() { [[ -n "$(trayer_icon)" ]]; }
trayer_icon_absent() { [[ -z "$(trayer_icon)" ]]; }
# Docked and shown: the tray maps the icon only once it has placed it.
trayer_icon_ready() {
  local icon
  icon=$(trayer_icon)
  [[ -n "$icon" && "$(xwininfo -id "$icon" 2>/dev/null)" == *IsViewable* ]]
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
