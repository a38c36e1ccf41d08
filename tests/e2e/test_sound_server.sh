#!/usr/bin/env bash
# The sound server going away and coming back, as when PulseAudio/PipeWire restarts or
# a headset drops: the player says "没有声音输出：…" without hiding the panels, keeps
# counting, and sound comes back by itself within 2 s of the server, mid-track, without
# the player growing over restarts. Also started with no server at all, and a frozen
# (stopped) server at 退出.
source "$(dirname -- "${BASH_SOURCE[0]}")/lib.sh"

SOUND_BACK_WITHIN=2.0

e2e_a11y_on
app=$(velmora_prepare)
velmora_write_playlist "$app" "$(e2e_steps_mp3 low 440:5)" "$(e2e_steps_mp3 mid 660:5)" \
  "$(e2e_steps_mp3 high 880:5)"

# The labels are read whole before they are searched: grep -q leaving early would break
# the reader's pipe and fail the reading.
no_sound_reported() {
  local deadline=$((SECONDS + 5)) labels
  until labels=$(e2e_a11y showing label) && grep -q '^没有声音输出：' <<<"$labels"; do
    ((SECONDS < deadline)) || e2e_fail "$1: no report in the status bar: '$labels'"
    sleep 0.1
  done
  grep -q '^帧数: ' <<<"$labels" || e2e_fail "$1: the frames panel is hidden: $labels"
}

# Starts the server again; SOUND_DELAY: how long after that the player's stream is back
# on the sink.
server_back() { # NAME
  local back
  e2e_pulse_start
  back=$EPOCHREALTIME
  until pactl list short sink-inputs 2>/dev/null | grep -q .; do
    awk -v s="$back" -v n="$EPOCHREALTIME" -v l="$SOUND_BACK_WITHIN" 'BEGIN { exit !(n - s > l) }' \
      && e2e_fail "$1: no sound on the sink ${SOUND_BACK_WITHIN}s after the server came back"
    sleep 0.02
  done
  SOUND_DELAY=$(awk -v s="$back" -v n="$EPOCHREALTIME" 'BEGIN { printf "%.2f", n - s }')
}

# The same, then the sink must be hearing it.
server_back_then_sound() { # NAME
  local wav
  server_back "$1"
  e2e_log "$1: the player's sound is on the sink ${SOUND_DELAY}s after the server came up"
  wav=$(e2e_record 2.5 "$1") # long enough for a recorder slow to start
  awk -v l="$(e2e_level "$wav")" 'BEGIN { exit !(l > -30) }' || e2e_fail "$1: the sink is silent: $(e2e_level "$wav") dBFS"
}

# ---- no server when the player starts; it comes up while the list plays
e2e_pulse_kill
velmora_start "$app"
velmora_wait_window 15
e2e_a11y wait-app 15
velmora_wait_frame 20 >/dev/null
no_sound_reported "started without a sound server"
server_back_then_sound late_server
velmora_stop

# ---- the server dies 2.5 s into the first of three 5-s tones and is back 2 s later
velmora_start "$app"
velmora_wait_window 15
e2e_a11y wait-app 15
velmora_wait_frame 96 >/dev/null # 2.5 s
e2e_pulse_kill
killed=$SECONDS
no_sound_reported "server gone"
frame=$(velmora_frame)
sleep 0.3
frame_now=$(velmora_frame)
((frame_now != frame)) || e2e_fail "the frames panel stands still while the server is gone: $frame"
sleep $((killed + 2 - SECONDS > 0 ? killed + 2 - SECONDS : 0))
server_back_then_sound restarted
velmora_wait_title "Velmora--$VELMORA_E2E_DIR/tones/high.mp3" 10
wav=$(e2e_record 2.5 third)
e2e_timeline "$wav" 0.5 >&2
e2e_find_tone "$wav" 880 --min-seconds 0.8 >/dev/null || e2e_fail "the third track is not heard"
freq=$(e2e_freq "$wav")
awk -v f="$freq" 'BEGIN { exit !(f > 850 && f < 910) }' || e2e_fail "the third track sounds at ${freq} Hz, not by itself"

# ---- restarts leave no memory behind (each try of the device while the server is away
# had lost ALSA's configuration, ~140 KB). The first restart is the warm-up: ALSA's
# configuration is read once.
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$VELMORA_PID/status"; }
for cycle in 0 1 2 3 4; do
  e2e_pulse_kill
  sleep 1 # two tries of the device
  server_back "restart $cycle"
  ((cycle > 0)) || rss=$(rss_kb)
done
growth=$(($(rss_kb) - rss))
e2e_log "resident memory after 4 more restarts: ${growth} KB more"
((growth < 400)) || e2e_fail "4 sound-server restarts made the player ${growth} KB larger"

# ---- a frozen sound server does not keep the player alive after 退出
sleep 0.5
e2e_pulse_freeze
sleep 1 # the player's worker is now stuck writing to the server
e2e_tray_menu
e2e_menu_choose 退出
quit_at=$EPOCHREALTIME
while velmora_alive; do
  awk -v s="$quit_at" -v n="$EPOCHREALTIME" 'BEGIN { exit !(n - s > 2) }' && e2e_fail "the player still runs 2 s after 退出 with the sound server stopped"
  sleep 0.05
done
e2e_log "ended $(awk -v s="$quit_at" -v n="$EPOCHREALTIME" 'BEGIN { printf "%.2f", n - s }')s after 退出 with the server stopped"
rc=0
wait "$VELMORA_PID" 2>/dev/null || rc=$?
VELMORA_PID=
e2e_pulse_thaw
((rc == 0)) || e2e_fail "the player ended with status $rc after 退出 with the sound server stopped"
