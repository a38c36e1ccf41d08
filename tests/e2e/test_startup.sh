#!/usr/bin/env bash
# With more than one entry in mp3.m3u beside the executable, the player starts the
# first track before its window shows, and the next one follows by itself. Checks
# the caption and what actually reaches the sound server; then a list starting with
# a missing track (reported beside the counting panels) and the demo's first screen.
source "$(dirname -- "${BASH_SOURCE[0]}")/lib.sh"

first=$(e2e_tone_mp3 440)
second=$(e2e_tone_mp3 880)
first_seconds=$(soxi -D "$first")
app=$(velmora_prepare)
velmora_write_playlist "$app" "$first" "$second"

e2e_record_start sink
velmora_start "$app"
velmora_wait_window 15
title=$(velmora_title)
[[ $title == "Velmora--$first" ]] \
  || e2e_fail "the window showed with caption '$title', expected 'Velmora--$first'"

# The first track has to end before the caption may move on.
velmora_wait_title "Velmora--$second" "$(awk -v s="$first_seconds" 'BEGIN { printf "%d", s + 10 }')"
sleep 1.5
wav=$(e2e_record_stop sink)

e2e_timeline "$wav" 0.5 >&2
first_at=$(e2e_find_tone "$wav" 440) \
  || e2e_fail "no audible 440 Hz tone (the first track) reached the sink"
second_at=$(e2e_find_tone "$wav" 880 --after "$first_at") \
  || e2e_fail "no audible 880 Hz tone (the second track) after the first one"
e2e_log "first track heard from ${first_at}s, second from ${second_at}s"
velmora_stop

# ---- a track that cannot be played: reported beside the panels, which keep counting
# for the next track; a caption with "[*]" in the path shows it as it is.
e2e_a11y_on
missing=$VELMORA_E2E_DIR/缺失[*]/乐曲[*].mp3
app=$(velmora_prepare)
velmora_write_playlist "$app" "$missing" "$first" "$second"
velmora_start "$app"
velmora_wait_window 15
e2e_a11y wait-app 15
velmora_wait_title "Velmora--$missing" 5
velmora_wait_title "Velmora--$first" 5
velmora_wait_frame 20 >/dev/null
shown=$(e2e_a11y showing label)
grep -qxF "无法播放 $missing：文件不存在" <<<"$shown" || e2e_fail "no report of the missing track beside the panels: $shown"
grep -qE '^时间: 0分0[0-9]秒/0分0[0-9]秒$' <<<"$shown" || e2e_fail "the time panel is not in view during a report: $shown"
grep -qE '^帧数: [0-9]+/[0-9]+$' <<<"$shown" || e2e_fail "the frames panel is not in view during a report: $shown"
e2e_screenshot report-beside-panels
velmora_stop

# ---- the demo as a newcomer first sees it: named entries, the first track playing
demo=$(velmora_prepare)
mkdir -p -- "$demo/demo"
cp -- "$(dirname -- "$VELMORA_BINARY")"/demo/*.mp3 "$demo/demo/" 2>/dev/null || true
bash "$VELMORA_SOURCE_DIR/scripts/make_demo.sh" "$demo"
velmora_start "$demo"
velmora_wait_window 15
e2e_a11y wait-app 15
velmora_wait_title "Velmora--$demo/demo/dawn.mp3"
velmora_wait_list "晨曦     ($demo/demo/dawn.mp3)
暮光     ($demo/demo/dusk.mp3)
晨曦--Velmora 演示.mp3          ($demo/demo/dawn.mp3)"
[[ $(velmora_panel 1) == "当前歌曲:晨曦--Velmora 演示(专辑：演示曲集)" ]] \
  || e2e_fail "the demo's first screen shows panel 1 as '$(velmora_panel 1)'"
e2e_screenshot demo-first-screen
velmora_stop

# ---- a list of a million entries: the window shows, the first track plays, the
# entries are there by their texts, and the window answers meanwhile
big=$(velmora_prepare)
python3 - "$big/mp3.m3u" "$first" "$second" <<'PY'
import sys
path, first, second = sys.argv[1:]
lines = ["#EXTM3U", "#EXTINF:235,晨曦", first]
for i in range(1, 1000000):
    lines += [f"#EXTINF:235,曲目 {i:07d}", second]
with open(path, "wb") as f:
    f.write(("\r\n".join(lines) + "\r\n").encode("gb18030"))
PY
velmora_start "$big"
velmora_wait_window 15
e2e_a11y wait-app 15
velmora_wait_title "Velmora--$first" 15
[[ $(playerctl -p velmora status) == Playing ]] || e2e_fail "a million entries: the status is '$(playerctl -p velmora status)'"
head=$(e2e_a11y list-head 2)
[[ $head == "1000001
list item	晨曦     ($first)
list item	曲目 0000001     ($second)" ]] || e2e_fail "a million entries: the list reads
$head"
e2e_log "a million entries: peak $(awk '/^VmHWM/ { print $2 }' /proc/"$VELMORA_PID"/status) kB"
velmora_stop
