#!/usr/bin/env bash
# Pause, resume, stop and play on the real player, clicked like a user would: the
# tray menu's "暂停播放"/"继续播放" pause and resume in place, the toolbar's "暂停" and
# "停止" silence the sound server at once, and "播放" after "停止" starts the same
# track from its beginning. The track changes pitch every four seconds, so the
# recording tells where in the track the sound is. Last, continuous play runs from one
# track into the next without a hole.
source "$(dirname -- "${BASH_SOURCE[0]}")/lib.sh"

# How soon after the click the sink must be silent: the sound server's buffer is
# dropped, not played out.
SILENCE_WITHIN=0.150

e2e_a11y_on
steps=$(e2e_steps_mp3 steps 440:4 660:4 880:4 1320:4)
app=$(velmora_prepare)
velmora_write_playlist "$app" "$steps" "$(e2e_tone_mp3 880)"

e2e_timed_record_start sink
velmora_start "$app"
velmora_wait_window 15
e2e_a11y wait-app 15
total=$(velmora_frame_total) || velmora_wait_frame 1 >/dev/null
total=$(velmora_frame_total) || e2e_fail "the frames panel shows no total: '$(velmora_panel 3)'"
e2e_log "playing $(velmora_title), $total frames"

# ---- tray: pause in the 660 Hz part, then resume
velmora_wait_frame $((total * 30 / 100)) >/dev/null
e2e_tray_menu
[[ $(e2e_menu_item 暂停播放) == enabled ]] || e2e_fail "tray menu while playing: $E2E_MENU"
e2e_menu_choose 暂停播放
tray_pause=$E2E_CLICK_TIME
sleep 0.3
paused_at=$(velmora_frame)
sleep 0.6
[[ $(velmora_frame) == "$paused_at" ]] \
  || e2e_fail "the frames panel moves on after pausing: $paused_at, then $(velmora_frame)"
e2e_tray_menu
[[ $(e2e_menu_item 继续播放) == enabled ]] || e2e_fail "tray menu while paused: $E2E_MENU"
! e2e_menu_item 暂停播放 >/dev/null || e2e_fail "the tray menu still offers 暂停播放: $E2E_MENU"
e2e_menu_choose 继续播放
tray_resume=$E2E_CLICK_TIME
resumed_at=$(velmora_wait_frame $((paused_at + 3)) 5)
((resumed_at < paused_at + total / 4)) || e2e_fail "after resuming the track is at frame $resumed_at, paused at $paused_at"
e2e_log "tray pause at frame $paused_at, resumed to frame $resumed_at"

# ---- toolbar: pause in the 880 Hz part, play on, stop, play again
velmora_wait_frame $((total * 55 / 100)) >/dev/null
e2e_click "push button" 暂停
bar_pause=$E2E_CLICK_TIME
sleep 0.4
! [[ $(e2e_a11y states slider 播放位置) =~ (^|,)enabled(,|$) ]] || e2e_fail "the slider is still enabled after the toolbar's pause"
bar_paused_at=$(velmora_frame)
e2e_click "push button" 播放
velmora_wait_frame $((bar_paused_at + 3)) 5 >/dev/null
e2e_click "push button" 停止
bar_stop=$E2E_CLICK_TIME
sleep 1.5
e2e_click "push button" 播放
bar_replay=$E2E_CLICK_TIME
velmora_wait_title "Velmora--$steps" 5
sleep 1.2
wav=$(e2e_record_stop sink)

at() { e2e_rec_time sink "$1"; }
check_silence() { # WHAT WALL [HOLD]
  local t quiet delay
  t=$(at "$2")
  quiet=$(e2e_silent_from "$wav" "$t" --hold "${3:-0.4}") || e2e_fail "$1: the sink never fell silent"
  delay=$(awk -v q="$quiet" -v t="$t" 'BEGIN { printf "%.3f", q - t }')
  e2e_log "$1: clicked at ${t}s, silent from ${quiet}s (${delay}s)"
  awk -v d="$delay" -v limit="$SILENCE_WITHIN" 'BEGIN { exit !(d <= limit) }' \
    || e2e_fail "$1: the sink was silent only ${delay}s after the click (allowed ${SILENCE_WITHIN}s)"
}

e2e_timeline "$wav" 0.25 >&2
check_silence "tray pause" "$tray_pause"
check_silence "toolbar pause" "$bar_pause"
# Stopped means stopped: no next track either, until play is clicked.
check_silence "toolbar stop" "$bar_stop" "$(awk -v a="$(at "$bar_stop")" -v b="$(at "$bar_replay")" \
  'BEGIN { printf "%.2f", b - a - 0.05 }')"

# Resumed in place: the 660 Hz part again (or the 880 Hz one that follows it), and
# not the 440 Hz start of the track, which is heard again only after the toolbar's play.
t=$(at "$tray_resume")
first_440=$(e2e_find_tone "$wav" 440 --after "$t" --min-seconds 0.3) || e2e_fail "no 440 Hz after resuming at all"
replay=$(at "$bar_replay")
# (find-tone works in 50 ms windows: a tone that starts just after the click may be
# placed at the start of the window that holds the click.)
awk -v a="$first_440" -v r="$replay" 'BEGIN { exit !(a >= r - 0.06) }' \
  || e2e_fail "the track started over (440 Hz at ${first_440}s) after the tray's resume at ${t}s"
back=$(e2e_find_tone "$wav" 660 --after "$t" --min-seconds 0.2 || e2e_find_tone "$wav" 880 --after "$t" --min-seconds 0.2) \
  || e2e_fail "no sound of the paused part after resuming at ${t}s"
awk -v b="$back" -v t="$t" 'BEGIN { exit !(b - t < 1.0) }' || e2e_fail "sound came back only at ${back}s after resuming at ${t}s"

# Play after stop starts the same track from its beginning: sound comes promptly, and
# 440 Hz is the first tone heard. (On a busy machine the first moments may stutter,
# so the clean tone is allowed to settle.)
onset=$(python3 "$E2E_LIB_DIR/audio_analysis.py" sound-from "$wav" "$replay") || e2e_fail "no sound after play at ${replay}s"
awk -v o="$onset" -v r="$replay" 'BEGIN { exit !(o - r < 1.0) }' \
  || e2e_fail "play after stop: sound only at ${onset}s, play clicked at ${replay}s"
awk -v a="$first_440" -v r="$replay" 'BEGIN { exit !(a - r < 4.0) }' \
  || e2e_fail "play after stop: 440 Hz heard only at ${first_440}s, play clicked at ${replay}s"
for hz in 660 880 1320; do
  other=$(e2e_find_tone "$wav" "$hz" --after "$replay" --min-seconds 0.2) || continue
  awk -v o="$other" -v a="$first_440" 'BEGIN { exit !(o > a) }' \
    || e2e_fail "play after stop: $hz Hz at ${other}s came before the start of the track (${first_440}s)"
done
e2e_log "resumed sound at ${back}s (resume at ${t}s); replay clicked at ${replay}s, sound from ${onset}s, 440 Hz from ${first_440}s"

# ---- no hole between tracks: a steady 440 Hz tone cut into two tracks and another cut
# into five (each part a whole number of cycles, so that any part may follow any other)
# plays on from one track into the next without a single silent sample between them.
velmora_stop
cut_tone() { # NAME PARTS SECONDS_EACH: prints the parts' paths
  local dir=$VELMORA_E2E_DIR/tones i
  mkdir -p -- "$dir"
  sox -V1 -n -r 44100 -c 2 -b 16 "$dir/$1.wav" synth "$(awk -v n="$2" -v s="$3" 'BEGIN { print n * s }')" sine 440 vol 0.5
  for ((i = 0; i < $2; i++)); do
    sox -V1 "$dir/$1.wav" "$dir/$1.$i.wav" trim "$(awk -v i="$i" -v s="$3" 'BEGIN { print i * s }')" "$3"
    # lame writes its encoder delay and padding into the header, for a decoder to cut.
    lame --quiet -b 192 "$dir/$1.$i.wav" "$dir/$1.$i.mp3"
    echo "$dir/$1.$i.mp3"
  done
}
mapfile -t halves < <(cut_tone halves 2 1.5)
mapfile -t fifths < <(cut_tone fifths 5 0.6)
app=$(velmora_prepare)
velmora_write_playlist "$app" "${halves[@]}" "${fifths[@]}"
e2e_record_start gapless
until [[ -s $VELMORA_E2E_DIR/gapless.raw ]]; do sleep 0.05; done # recording before the first sound
velmora_start "$app"
velmora_wait_window 15
# The start-up appends an entry for the first track: the list goes round to it after the fifths.
velmora_wait_title "Velmora--${fifths[4]}" 20
velmora_wait_title "Velmora--${halves[0]}" 5
sleep 0.3
velmora_stop
wav=$(e2e_record_stop gapless)
changes=$(python3 "$E2E_LIB_DIR/audio_analysis.py" holes "$wav" --tracks 1.5,1.5,0.6,0.6,0.6,0.6,0.6,0.3) \
  || e2e_fail "a hole at a track change:"$'\n'"$changes"
e2e_log "track changes, each without a hole:"$'\n'"$changes"
