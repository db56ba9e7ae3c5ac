#!/usr/bin/env bash
# End to end on a StatusNotifier tray (the D-Bus tray of XFCE, KDE, LXQt and GNOME with the
# AppIndicator extension): the real perennix binary on a private virtual desktop with a session
# bus and xfce4-panel. "隐藏" registers an item whose menu is the dialog's; the panel's right
# click shows that menu and its entries reach the dialog; the item comes back when the panel
# restarts; a tray that changes to XEmbed mid-run gets no lost icon, the window is minimised.
#
# Usage: tray_sni_e2e.sh PERENNIX_BINARY REPO_ROOT
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

linux_e2e "$@"
item() { sni_items | awk 'NR == 1'; }
one_item() { [[ "$(sni_item_count)" -eq 1 ]]; }
no_item() { [[ "$(sni_item_count)" -eq 0 ]]; }

# --- the desktop: a session bus, the panel, then Perennix in a folder of its own ----------
sni_start_bus
sni_start_panel
sni_start_perennix

# --- "隐藏" registers one item whose menu is the dialog's ---------------------------------
sni_hide_into_tray
menu_path=$(sni_item_property "$(item)" Menu)
[[ "$menu_path" != *NO_DBUSMENU* ]] || fail "the item publishes no menu: $menu_path"
entries=$(sni_menu_entries "$(item)" | paste -sd '|')
[[ "$entries" == "显示/隐藏|高级设置(_S)...|-|退出程序" ]] || fail "the item's menu holds '$entries'"
[[ "$(sni_item_property "$(item)" ToolTip)" == *"'Perennix'"* ]] || fail "tooltip: $(sni_item_property "$(item)" ToolTip)"
echo "ok: hidden; the item's menu is 显示/隐藏 | 高级设置(_S)... | - | 退出程序"

# --- the panel restarted while hidden: the item registers again --------------------------
sni_stop_panel
sni_start_panel
wait_for 30 one_item || fail "the item did not come back to the restarted panel"
entries=$(sni_menu_entries "$(item)" | paste -sd '|')
[[ "$entries" == "显示/隐藏|高级设置(_S)...|-|退出程序" ]] || fail "after the panel restart the menu holds '$entries'"
echo "ok: the item came back to the restarted panel with its menu"

# --- the panel's right click shows our menu; "显示/隐藏" brings the window back -------------
wait_for 30 eval '[[ -n "$(panel_button_centre)" ]]' || fail "the panel shows no button for the item"
read -r bx by < <(panel_button_centre)
xdotool mousemove "$bx" "$by" click 3
wait_for 30 panel_menu_open || fail "the right click opened no menu"
# The panel's own menu would have "Status Tray Plugin" first; ours shows the window.
click_menu_entry "$(panel_menu)" 1
wait_for 30 window_shown || fail "显示/隐藏 from the panel's menu: the window is $(window_state)"
wait_for 30 no_item || fail "the item stayed after the window came back"
echo "ok: the panel's right click showed our menu; 显示/隐藏 brought the window back and removed the item"

# --- the tray changes to XEmbed: hiding minimises instead of losing the window ------------
# Perennix speaks StatusNotifier for this whole run; an XEmbed-only tray cannot show its icon.
sni_stop_panel
start_trayer
click_hide
wait_for 30 window_iconic || fail "hide with an XEmbed tray only: the window is '$(window_state)', not minimised"
trayer_icon_present && fail "an icon was docked into the XEmbed tray"
xdotool windowactivate "$window"
wait_for 30 window_shown || fail "the minimised window could not be restored"
stop_trayer
echo "ok: with the tray changed to XEmbed, 隐藏 minimised the window"

# --- back on the panel: "退出程序" asks; Cancel keeps everything, OK ends Perennix ----------
sni_start_panel
click_hide
wait_for 30 window_withdrawn || fail "hide on the panel again: the window is $(window_state)"
wait_for 30 one_item || fail "hide on the panel again: $(sni_item_count) items"
sni_menu_click "$(item)" 退出程序
wait_for 30 exit_box_open || fail "退出程序 asked nothing"
answer_exit_box Escape
wait_for 30 eval '! exit_box_open' || fail "the question stayed after Escape"
perennix_running || fail "Cancel ended Perennix"
window_withdrawn || fail "Cancel showed the window: $(window_state)"
one_item || fail "Cancel removed the item"
sni_menu_click "$(item)" 退出程序
wait_for 30 exit_box_open || fail "退出程序 asked nothing the second time"
answer_exit_box Return
wait_for 30 eval '! perennix_running' || fail "OK did not end Perennix"
wait "$perennix_pid" || fail "Perennix exited with status $?"
perennix_pid=""
wait_for 30 no_item || fail "the item stayed after Perennix ended"
echo "ok: 退出程序 asked; Cancel kept Perennix hidden, OK ended it and removed the item"
