#!/usr/bin/env bash
# A click on the position slider moves playback there: early in a track whose first
# half is 440 Hz and second half 880 Hz, a click three quarters along the slider
# makes the frames panel jump and the 880 Hz half sound at once, long before the
# track would have got there by itself. The click is a middle-button one, which
# sets the slider to the point clicked (the left button steps by a page only), and
# the button is held as long as a person holds it, longer than the player takes
# between two position reports. Last, entry 0 of a list that fills the window, which
# lies over the slider's lower edge, plays on a double click.
source "$(dirname -- "${BASH_SOURCE[0]}")/lib.sh"

e2e_a11y_on
halves=$(e2e_steps_mp3 halves 440:6 880:6)
app=$(velmora_prepare)
# Enough entries to fill the window: its first entry lies over the slider's lower edge.
filler=()
for _ in $(seq 24); do filler+=("$(e2e_tone_mp3 880)"); done
velmora_write_playlist "$app" "$halves" "$(e2e_tone_mp3 440)" "${filler[@]}"

e2e_timed_record_start sink
velmora_start "$app"
velmora_wait_window 15
e2e_a11y wait-app 15
velmora_wait_frame 8 >/dev/null
total=$(velmora_frame_total)
[[ $(e2e_a11y states slider 播放位置) =~ (^|,)enabled(,|$) ]] || e2e_fail "the slider is disabled while a track plays"
read -r x y w h < <(e2e_a11y extents slider 播放位置)
e2e_move $((x + w * 3 / 4)) $((y + h / 2))

before=$(velmora_frame)
e2e_click_xy $((x + w * 3 / 4)) $((y + h / 2)) 2 0.25
seek=$E2E_CLICK_TIME
# Well before the half, so that a jump is no mere playing on.
((before < total * 40 / 100)) || e2e_fail "the click came too late to tell a seek from playing on (frame $before of $total)"
after=$(velmora_wait_frame $((total * 60 / 100)) 2)
((after <= total * 90 / 100)) || e2e_fail "the click three quarters along moved playback to frame $after of $total"
time_panel=$(velmora_panel 2)
[[ $time_panel =~ ^时间:\ 0分(0[7-9]|1[01])秒/0分12秒$ ]] || e2e_fail "after the seek the time panel reads '$time_panel'"
e2e_log "frame $before -> $after of $total; $time_panel"

sleep 1
wav=$(e2e_record_stop sink)

e2e_timeline "$wav" 0.25 >&2
t=$(e2e_rec_time sink "$seek")
e2e_find_tone "$wav" 440 --after "$(awk -v t="$t" 'BEGIN { print (t > 1 ? t - 1 : 0) }')" >/dev/null \
  || e2e_fail "no 440 Hz before the click at ${t}s"
high=$(e2e_find_tone "$wav" 880 --after "$t" --min-seconds 0.3) || e2e_fail "no 880 Hz after the click at ${t}s"
e2e_log "clicked at ${t}s, 880 Hz from ${high}s"
awk -v h="$high" -v t="$t" 'BEGIN { exit !(h - t < 0.5) }' \
  || e2e_fail "the sound followed the slider only at ${high}s, clicked at ${t}s"

# ---- entry 0 of a full list takes a double click like any other entry
double_click_entry() { # ROW
  local name x y w h
  name=$(velmora_list_items | sed -n "$(($1 + 1))p")
  read -r x y w h < <(e2e_a11y extents "list item" "$name") || e2e_fail "no list item '$name'"
  e2e_move $((x + w / 2)) $((y + h / 2))
  xdotool click --repeat 2 --delay 80 1
}
double_click_entry 1
velmora_wait_title "Velmora--$(e2e_tone_mp3 440)"
double_click_entry 0
velmora_wait_title "Velmora--$halves"
