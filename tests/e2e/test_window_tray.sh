#!/usr/bin/env bash
# The idle window as a screen reader sees it, and the window with a real window
# manager: toolbar buttons named by their captions, status panels readable as
# labels with their first texts, the tray menu's items and states; the window stays
# above other windows, minimising hides it to the tray, and the tray menu's
# "显示窗口" brings it back, still above the others.
source "$(dirname -- "${BASH_SOURCE[0]}")/lib.sh"

e2e_a11y_on
app=$(velmora_prepare)
# One entry: the player starts idle.
velmora_write_playlist "$app" "$(e2e_tone_mp3 440)"
velmora_start "$app"
velmora_wait_window 15
e2e_a11y wait-app 15
window=$VELMORA_WINDOW
[[ $(velmora_title) == Velmora ]] || e2e_fail "idle caption is '$(velmora_title)'"

# ---- what assistive technology reads
buttons=$(e2e_a11y names "push button" | tr '\n' ' ')
[[ $buttons == "打开 保存 播放 暂停 停止 " ]] || e2e_fail "toolbar buttons read as: $buttons"
labels=$(e2e_a11y names label | tr '\n' '|')
[[ $labels == "当前歌曲:|时间：|帧数：|" ]] || e2e_fail "status panels read as: $labels"
[[ $(e2e_a11y states slider 播放位置) =~ (^|,)enabled(,|$) ]] && e2e_fail "the slider is enabled while idle"
e2e_tray_menu
[[ $(cut -f1,2 <<<"$E2E_MENU" | tr '\t\n' ':|') == "显示窗口:enabled|暂停播放:disabled|关于:enabled|退出:enabled|" ]] \
  || e2e_fail "idle tray menu: $E2E_MENU"
xdotool key Escape

# ---- the one entry lies over the slider's lower edge and still takes every click
entry=$(velmora_list_items | head -n 1)
read -r ex ey ew eh < <(e2e_a11y extents "list item" "$entry") || e2e_fail "no list item '$entry'"
entry_x=$((ex + ew / 2)) entry_y=$((ey + eh / 2))
read -r sx sy sw sh < <(e2e_a11y extents slider 播放位置)
((entry_y < sy + sh)) || e2e_fail "entry 0 (centre $entry_y) no longer lies over the slider (to $((sy + sh)))"
e2e_click_xy "$entry_x" "$entry_y"
deadline=$((SECONDS + 5))
until [[ $(e2e_a11y states "list item" "$entry") =~ (^|,)selected(,|$) ]]; do
  ((SECONDS < deadline)) || e2e_fail "a left click on entry 0 did not select it"
  sleep 0.05
done
e2e_list_menu "$entry_x" "$entry_y"
[[ $(e2e_menu_item 播放) == enabled ]] || e2e_fail "right click on entry 0 after selecting it: $E2E_MENU"
xdotool key Escape
e2e_log "entry 0 at $entry_x,$entry_y takes left and right clicks"

# ---- a window manager from here on
e2e_window_manager

# Windows from the bottom of the stack to its top.
stacking() { xprop -root -notype _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g'; }
is_above() { # WINDOW OTHER: WINDOW stands higher in the stack than OTHER
  local order w pos_a=-1 pos_b=-1 i=0
  order=$(stacking)
  for w in $order; do
    (($(printf '%d' "$w") == $1)) && pos_a=$i
    (($(printf '%d' "$w") == $2)) && pos_b=$i
    i=$((i + 1))
  done
  ((pos_a >= 0 && pos_b >= 0 && pos_a > pos_b))
}
wait_managed() { # WINDOW
  local deadline=$((SECONDS + 10)) w
  while :; do
    for w in $(stacking); do (($(printf '%d' "$w") == $1)) && return 0; done
    ((SECONDS < deadline)) || e2e_fail "window $1 is not managed by the window manager: $(stacking)"
    sleep 0.1
  done
}
# Activates OTHER and waits until the window manager has made it the active window.
activate() { # OTHER
  local deadline=$((SECONDS + 10))
  xdotool windowactivate "$1" 2>/dev/null || true
  until (($(xprop -root -notype _NET_ACTIVE_WINDOW | sed 's/.*# //; s/,.*//') == $1)); do
    ((SECONDS < deadline)) || e2e_fail "the window manager did not activate window $1"
    sleep 0.05
  done
}
above_state() { xprop -id "$window" _NET_WM_STATE 2>/dev/null | grep -q _NET_WM_STATE_ABOVE; }

wait_managed "$window"
above_state || e2e_fail "the window is not kept above: $(xprop -id "$window" _NET_WM_STATE)"

# Another program's window, activated: ours still stays on top.
xmessage -geometry 600x400+0+0 "another program" &
other_pid=$!
deadline=$((SECONDS + 10))
until other=$(xdotool search --onlyvisible --name '^xmessage$' 2>/dev/null | head -n 1) && [[ -n $other ]]; do
  ((SECONDS < deadline)) || e2e_fail "the other window did not show"
  sleep 0.1
done
wait_managed "$other"
activate "$other"
is_above "$window" "$other" || e2e_fail "an activated window went over ours: $(stacking)"

# ---- minimise: hidden to the tray; "显示窗口" brings it back
e2e_minimise "$window"
sleep 0.5
e2e_viewable "$window" && e2e_fail "the minimised window showed again by itself"
e2e_tray_xy >/dev/null || e2e_fail "the tray icon went away with the window"
e2e_log "minimised: hidden"

e2e_tray_menu
e2e_menu_choose 显示窗口
e2e_wait_viewable "$window" "显示窗口 did not bring the window back"
wait_managed "$window"
deadline=$((SECONDS + 5))
until above_state; do
  ((SECONDS < deadline)) || e2e_fail "the window came back without staying above: $(xprop -id "$window" _NET_WM_STATE)"
  sleep 0.05
done
activate "$other"
is_above "$window" "$other" || e2e_fail "after coming back the window no longer stays above: $(stacking)"
[[ $(xprop -id "$window" WM_STATE) =~ Normal ]] || e2e_fail "the window came back as $(xprop -id "$window" WM_STATE)"
e2e_log "shown again, above: $(xprop -id "$window" _NET_WM_STATE)"
kill "$other_pid" 2>/dev/null || true

# A double click on the one entry plays it (the window manager has placed the window anew).
read -r ex ey ew eh < <(e2e_a11y extents "list item" "$entry") || e2e_fail "no list item '$entry'"
e2e_move $((ex + ew / 2)) $((ey + eh / 2))
xdotool click --repeat 2 --delay 80 1
velmora_wait_title "Velmora--$(e2e_tone_mp3 440)"
