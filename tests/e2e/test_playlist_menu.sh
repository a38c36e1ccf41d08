#!/usr/bin/env bash
# The playlist's pop-up menu on the real player: which items it offers when, "保存"
# writing mp3.m3u byte for byte (GB18030, CR LF), "添加" and "打开列表" through the
# real file dialog (a typed name of no file taken and reported), "保存" after
# "打开列表" writing the opened list, and the tray's "退出" ending the program
# without writing anything.
source "$(dirname -- "${BASH_SOURCE[0]}")/lib.sh"

# Qt's own texts in the dialogs are Chinese whatever the system's locale.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
e2e_a11y_on
music=$VELMORA_E2E_DIR/音乐
mkdir -p -- "$music" "$VELMORA_E2E_DIR/lists"
# Long enough that no track ends during the test: an end would move the selection
# and so change the menu's states.
cp -- "$(e2e_steps_mp3 long440 440:60)" "$music/甲.mp3"
cp -- "$(e2e_steps_mp3 long880 880:60)" "$music/乙.mp3"
added=$VELMORA_E2E_DIR/lists/added_tone.mp3
cp -- "$(e2e_tone_mp3 440)" "$added"
app=$(velmora_prepare)

gb() { iconv -f UTF-8 -t GB18030; }
printf '#EXTM3U\r\n#EXTINF:235,第一首\r\n%s\r\n#EXTINF:235,第二首\r\n%s\r\n' "$music/甲.mp3" "$music/乙.mp3" \
  | gb >"$app/mp3.m3u"

velmora_start "$app"
velmora_wait_window 15
e2e_a11y wait-app 15
velmora_wait_title "Velmora--$music/甲.mp3"
# Start-up read the list and added the playing track under its (empty) tag name.
started="第一首     ($music/甲.mp3)
第二首     ($music/乙.mp3)
--.mp3          ($music/甲.mp3)"
velmora_wait_list "$started"

# Entry 0 was selected at start-up, so the first menu offers every item.
e2e_list_menu
for item in 播放 添加 删除 保存 打开列表 列表另存为; do
  [[ $(e2e_menu_item "$item") == enabled ]] || e2e_fail "first menu: '$item' is not enabled: $E2E_MENU"
done
[[ $(cut -f1 <<<"$E2E_MENU" | tr '\n' ' ') == "播放 添加 删除 保存 打开列表 列表另存为 " ]] \
  || e2e_fail "the playlist menu's items: $(cut -f1 <<<"$E2E_MENU" | tr '\n' ' ')"
e2e_menu_choose 保存
printf '#EXTM3U\r\n#EXTINF:235,第一首     \r\n%s\r\n#EXTINF:235,第二首     \r\n%s\r\n#EXTINF:235,--.mp3          \r\n%s\r\n' \
  "$music/甲.mp3" "$music/乙.mp3" "$music/甲.mp3" | gb >"$VELMORA_E2E_DIR/saved.m3u"
e2e_wait_bytes "$app/mp3.m3u" "$VELMORA_E2E_DIR/saved.m3u"
e2e_log "保存 wrote mp3.m3u: $(wc -c <"$app/mp3.m3u") bytes"

# The press that opened that menu took back "播放" and "删除".
e2e_list_menu
[[ $(e2e_menu_item 播放) == disabled && $(e2e_menu_item 删除) == disabled ]] \
  || e2e_fail "second menu in a row: $E2E_MENU"
[[ $(e2e_menu_item 添加) == enabled ]] || e2e_fail "second menu in a row: $E2E_MENU"

e2e_menu_choose 添加
dialog=$(e2e_a11y dialog 打开 10)
for text in "label	查找范围：" "label	文件类型：" "push button	取消" "combo box	*.mp3"; do
  grep -qxF "$text" <<<"$dialog" || e2e_fail "the 添加 dialog lacks '$text':
$dialog"
done
e2e_dialog_enter 打开 "$added"
velmora_wait_list "$started
added_tone.mp3          ($added)"
e2e_log "添加 appended $added"

# A typed name of no file is taken as typed; the list that is not there is reported
# and the list stays as it was.
e2e_list_menu
e2e_menu_choose 打开列表
e2e_dialog_enter 打开 "$VELMORA_E2E_DIR/lists/不在.m3u"
deadline=$((SECONDS + 10))
until e2e_a11y names label | grep -qxF "无法打开播放列表：文件不存在"; do
  ((SECONDS < deadline)) || e2e_fail "no report of the missing list; the labels: $(e2e_a11y names label)"
  sleep 0.1
done
velmora_wait_list "$started
added_tone.mp3          ($added)"

# Another list, opened through the dialog, replaces the list and starts its first track.
other=$VELMORA_E2E_DIR/lists/other.m3u
printf '#EXTM3U\r\n#EXTINF:235,Alpha\r\n%s\r\n#EXTINF:180,Ignored\r\n%s\r\n' "$music/乙.mp3" "$music/甲.mp3" | gb >"$other"
e2e_list_menu
e2e_menu_choose 打开列表
dialog=$(e2e_a11y dialog 打开 10)
grep -qxF "combo box	MP3播放列表(*.m3u)" <<<"$dialog" || e2e_fail "the 打开列表 dialog's file types: $dialog"
e2e_dialog_enter 打开 "$other"
velmora_wait_list "Alpha     ($music/乙.mp3)
Alpha     ($music/甲.mp3)
--.mp3          ($music/乙.mp3)"
velmora_wait_title "Velmora--$music/乙.mp3"

# "保存" now writes the opened list; mp3.m3u stays as saved before.
e2e_list_menu
e2e_menu_choose 保存
printf '#EXTM3U\r\n#EXTINF:235,Alpha     \r\n%s\r\n#EXTINF:235,Alpha     \r\n%s\r\n#EXTINF:235,--.mp3          \r\n%s\r\n' \
  "$music/乙.mp3" "$music/甲.mp3" "$music/乙.mp3" | gb >"$VELMORA_E2E_DIR/other_saved.m3u"
e2e_wait_bytes "$other" "$VELMORA_E2E_DIR/other_saved.m3u"
cmp -s -- "$app/mp3.m3u" "$VELMORA_E2E_DIR/saved.m3u" || e2e_fail "保存 after 打开列表 changed mp3.m3u"

# Entry 1 clicked and deleted leaves nothing selected; a double click below the last
# entry then plays entry 0 again from its start.
read -r ex ey ew eh < <(e2e_a11y extents "list item" "Alpha     ($music/甲.mp3)") || e2e_fail "no entry 1"
e2e_click_xy $((ex + ew / 2)) $((ey + eh / 2))
e2e_list_menu
e2e_menu_choose 删除
velmora_wait_list "Alpha     ($music/乙.mp3)
--.mp3          ($music/乙.mp3)"
before=$(velmora_wait_frame 100 15)
read -r bx by < <(e2e_a11y list-blank) || e2e_fail "no blank part of the playlist"
e2e_move "$bx" "$by"
xdotool click --repeat 2 --delay 80 1
deadline=$((SECONDS + 5))
until frame=$(velmora_frame) && ((frame < before)); do
  ((SECONDS < deadline)) || e2e_fail "a double click below the entries did not restart entry 0 (frame ${frame:-?}, was $before)"
  sleep 0.05
done
velmora_wait_title "Velmora--$music/乙.mp3"
e2e_log "double click on blank space: entry 0 from frame $before back to $frame"

# Edit once more, then leave through the tray: nothing is written on the way out.
e2e_list_menu
e2e_menu_choose 添加
e2e_dialog_enter 打开 "$added"
velmora_wait_list "Alpha     ($music/乙.mp3)
--.mp3          ($music/乙.mp3)
added_tone.mp3          ($added)"
e2e_tray_menu
e2e_menu_choose 退出
deadline=$((SECONDS + 10))
while velmora_alive; do
  ((SECONDS < deadline)) || e2e_fail "the player is still running 10s after 退出"
  sleep 0.05
done
wait "$VELMORA_PID" 2>/dev/null || true
VELMORA_PID=
cmp -s -- "$app/mp3.m3u" "$VELMORA_E2E_DIR/saved.m3u" || e2e_fail "退出 changed mp3.m3u"
cmp -s -- "$other" "$VELMORA_E2E_DIR/other_saved.m3u" || e2e_fail "退出 changed the opened list"
[[ -z $(find "$app" "$VELMORA_E2E_DIR/lists" -newer "$other" -type f) ]] \
  || e2e_fail "files written after the last save: $(find "$app" "$VELMORA_E2E_DIR/lists" -newer "$other" -type f)"
