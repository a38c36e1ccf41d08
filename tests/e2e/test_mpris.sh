#!/usr/bin/env bash
# The player under remote control through MPRIS2, as the desktop's media keys and
# playerctl use it: status and metadata, pause and resume, next and previous,
# SetPosition with its Seeked signal, no chatter while a track just plays, OpenUri,
# Volume, and Quit.
# The first track is tagged in GBK and changes pitch every four seconds; the second
# is one steady tone, so the recording tells which track and which part sounds.
source "$(dirname -- "${BASH_SOURCE[0]}")/lib.sh"

BUS=org.mpris.MediaPlayer2.velmora
OBJ=/org/mpris/MediaPlayer2
SILENCE_WITHIN=0.050
# Debian's usual limit of open files, which calls running inside one another exhausted.
ulimit -n 1024

mpris_call() { # METHOD ARGS...: a method of the Player interface (Quit: of the root one)
  local member=$1 iface=org.mpris.MediaPlayer2.Player
  shift
  [[ $member == Quit ]] && iface=org.mpris.MediaPlayer2
  dbus-send --session --print-reply=literal --dest=$BUS $OBJ "$iface.$member" "$@" >/dev/null
}
status() { playerctl -p velmora status 2>/dev/null; }
wait_status() { # EXPECTED
  local deadline=$((SECONDS + 5))
  until [[ $(status) == "$1" ]]; do
    ((SECONDS < deadline)) || e2e_fail "MPRIS status is '$(status)', expected $1"
    sleep 0.05
  done
}
# Signals from the player's object so far, of MEMBER (PropertiesChanged, Seeked).
signals() { grep -c -- "$1\$" "$VELMORA_E2E_DIR/signals.txt" || true; }
# Waits until a change has had time to go out, then prints the number of MEMBER signals.
settled_signals() { sleep 0.6; signals "$1"; }
wait_volume() { # EXPECTED WHAT: until the Volume property reads EXPECTED ("0.250000")
  for _ in $(seq 100); do
    [[ $(playerctl -p velmora volume 2>/dev/null) == "$1" ]] && return
    sleep 0.05
  done
  e2e_fail "$2: Volume reads $(playerctl -p velmora volume 2>&1), expected $1"
}

e2e_a11y_on
steps=$(e2e_steps_mp3 steps 440:4 660:4 880:4 1320:4)
python3 "$VELMORA_SOURCE_DIR/tests/fixtures/write_tags.py" "$steps" --v1-gbk \
  --title 中文标题 --artist 中文歌手 --album 中文专辑 >/dev/null
steady=$(e2e_steps_mp3 steady 550:16)
app=$(velmora_prepare)
velmora_write_playlist "$app" "$steps" "$steady"
cp -- "$app/mp3.m3u" "$VELMORA_E2E_DIR/list-before.m3u"

# One line per signal: type, time, serial, sender, destination, path, interface, member.
dbus-monitor --session --profile "type='signal',path='$OBJ'" >"$VELMORA_E2E_DIR/signals.txt" 2>/dev/null &
monitor=$!
e2e_timed_record_start sink
velmora_start "$app"
velmora_wait_window 15
e2e_a11y wait-app 15
deadline=$((SECONDS + 10))
until playerctl -l 2>/dev/null | grep -qx velmora; do
  ((SECONDS < deadline)) || e2e_fail "no MPRIS player named velmora on the bus: $(playerctl -l 2>&1)"
  sleep 0.1
done
total=$(velmora_frame_total) || velmora_wait_frame 1 >/dev/null
total=$(velmora_frame_total) || e2e_fail "the frames panel shows no total: '$(velmora_panel 3)'"

# ---- status and metadata after start-up
[[ $(status) == Playing ]] || e2e_fail "after start-up the MPRIS status is '$(status)'"
mkdir -p -- "$E2E_ARTIFACTS"
playerctl -p velmora metadata | tee "$E2E_ARTIFACTS/metadata.txt" >&2
panel=$(velmora_panel 1)
[[ $panel =~ ^当前歌曲:(.*)--(.*)\(专辑：(.*)\)$ ]] || e2e_fail "panel 1 reads '$panel'"
[[ $(playerctl -p velmora metadata xesam:title) == "${BASH_REMATCH[1]}" && ${BASH_REMATCH[1]} == 中文标题 ]] \
  || e2e_fail "title over MPRIS '$(playerctl -p velmora metadata xesam:title)', panel 1 '$panel'"
[[ $(playerctl -p velmora metadata xesam:artist) == 中文歌手 && $(playerctl -p velmora metadata xesam:album) == 中文专辑 ]] \
  || e2e_fail "artist or album over MPRIS wrong: $(playerctl -p velmora metadata)"
[[ $(playerctl -p velmora metadata xesam:url) == "file://$steps" ]] || e2e_fail "xesam:url: $(playerctl -p velmora metadata xesam:url)"
length=$(playerctl -p velmora metadata mpris:length)
((length > 15500000 && length < 16500000)) || e2e_fail "mpris:length $length for a 16 s track"
identity=$(gdbus call --session --dest $BUS --object-path $OBJ --method org.freedesktop.DBus.Properties.Get \
  org.mpris.MediaPlayer2 Identity)
[[ $identity == "(<'Velmora'>,)" ]] || e2e_fail "Identity: $identity"

# ---- steady play: nothing at all on the bus
before=$(signals PropertiesChanged)
sleep 5
[[ $(signals PropertiesChanged) == "$before" ]] || e2e_fail "PropertiesChanged while a track just plays:
$(cat "$VELMORA_E2E_DIR/signals.txt")"

# ---- PlayPause: silent at once, the tray item offers 继续播放, again: on from the same frame
pause_wall=$EPOCHREALTIME
mpris_call PlayPause
wait_status Paused
sleep 0.4
paused_at=$(velmora_frame)
position=$(playerctl -p velmora position)
e2e_tray_menu
[[ $(e2e_menu_item 继续播放) == enabled ]] || e2e_fail "tray menu after PlayPause: $E2E_MENU"
xdotool key Escape
sleep 0.3
[[ $(velmora_frame) == "$paused_at" ]] || e2e_fail "the frames panel moves on while paused"
resume_wall=$EPOCHREALTIME
playerctl -p velmora play-pause
wait_status Playing
resumed_at=$(velmora_wait_frame $((paused_at + 1)) 5)
((resumed_at < paused_at + 76)) || e2e_fail "resumed at frame $resumed_at, paused at $paused_at"
e2e_log "paused at frame $paused_at (position ${position}s), resumed at $resumed_at"

# ---- Next and Previous: selection, caption and pitch; one PropertiesChanged each
skip() { # COMMAND TRACK ROW: the command moves to TRACK, entry ROW (from 1) of the list
  local changes
  changes=$(settled_signals PropertiesChanged)
  skip_wall=$EPOCHREALTIME
  playerctl -p velmora "$1"
  velmora_wait_title "Velmora--$2" 5
  [[ $(e2e_a11y states "list item" "$(sed -n "$3p" <<<"$(velmora_list_items)")") =~ (^|,)selected(,|$) ]] \
    || e2e_fail "after $1 entry $3 is not selected"
  [[ $(playerctl -p velmora metadata xesam:url) == "file://$2" ]] || e2e_fail "metadata after $1: $(playerctl -p velmora metadata)"
  (($(settled_signals PropertiesChanged) == changes + 1)) \
    || e2e_fail "$1: $(($(signals PropertiesChanged) - changes)) PropertiesChanged signals, expected one"
  [[ $(status) == Playing ]] || e2e_fail "status after $1: $(status)"
}
skip next "$steady" 2
next_wall=$skip_wall
skip previous "$steps" 1
previous_wall=$skip_wall

# ---- SetPosition: into the 1320 Hz part; Seeked follows. A stale track id is ignored.
sleep 0.5
seeks=$(signals Seeked)
trackid=$(playerctl -p velmora metadata mpris:trackid | tr -d "'")
before=$(velmora_frame)
mpris_call SetPosition objpath:/org/velmora/track/0 int64:13000000
sleep 0.3
after=$(velmora_frame)
((after >= before && after < before + 76)) || e2e_fail "SetPosition with a stale track id: frame $before, then $after"
seek_wall=$EPOCHREALTIME
mpris_call SetPosition "objpath:$trackid" int64:13000000
jumped=$(velmora_wait_frame $((total * 13 / 16)) 2)
((jumped < total * 15 / 16)) || e2e_fail "SetPosition to 13 s moved playback to frame $jumped of $total"
(($(settled_signals Seeked) == seeks + 1)) || e2e_fail "no Seeked signal after SetPosition"
seeked_to=$(gdbus call --session --dest $BUS --object-path $OBJ --method org.freedesktop.DBus.Properties.Get \
  org.mpris.MediaPlayer2.Player Position)
e2e_log "SetPosition 13 s: frame $jumped of $total, Position now $seeked_to"
# A click on the slider is a seek as well.
read -r x y w h < <(e2e_a11y extents slider 播放位置)
e2e_click_xy $((x + w / 4)) $((y + h / 2)) 2 0.2
(($(settled_signals Seeked) == seeks + 2)) || e2e_fail "no Seeked signal after a click on the slider"
sleep 0.5
wav=$(e2e_record_stop sink)

# ---- OpenUri: a name in capitals opens; a relative one is refused, with a report
upper=$VELMORA_E2E_DIR/TONE.MP3
cp -- "$(e2e_tone_mp3 770)" "$upper"
mpris_call OpenUri "string:file://$upper"
velmora_wait_title "Velmora--$upper" 5
# The panel names the new track at once, not after it has played through.
[[ $(velmora_panel 1) == "当前歌曲:--(专辑：)" ]] || e2e_fail "after OpenUri panel 1 reads '$(velmora_panel 1)'"
reply=$(gdbus call --session --dest $BUS --object-path $OBJ --method org.mpris.MediaPlayer2.Player.OpenUri \
  file:t770.mp3 2>&1) || true
[[ $reply == *org.freedesktop.DBus.Error.InvalidArgs* ]] || e2e_fail "OpenUri of a relative name: $reply"
grep -qF '完整路径（file:t770.mp3）' <<<"$(e2e_a11y showing label)" || e2e_fail "no report: $(e2e_a11y showing label)"

# ---- files that are gone, one after the other: each is reported, the list plays on
for i in $(seq 6); do
  mpris_call OpenUri "string:file://$VELMORA_E2E_DIR/gone$i.mp3"
  sleep 0.3
done
labels=$(e2e_a11y showing label)
grep -qF 'gone6.mp3' <<<"$labels" || e2e_fail "the last missing file is not reported: $labels"
! grep -qF 列表中没有可以播放的文件 <<<"$labels" || e2e_fail "missing files given from outside stopped the list: $labels"
[[ $(status) == Playing ]] || e2e_fail "after files that are gone the status is '$(status)'"

# ---- a burst of 5,000 calls, sent without waiting: each runs after the one before
# (none inside another's open), every one is answered, nothing piles up, and the last
# one chosen plays
last=$VELMORA_E2E_DIR/LAST.mp3
cp -- "$(e2e_tone_mp3 660)" "$last"
fds_before=$(ls /proc/"$VELMORA_PID"/fd | wc -l)
rss_before=$(awk '/^VmRSS/ { print $2 }' /proc/"$VELMORA_PID"/status)
"$E2E_SYSTEM_PYTHON" - "$BUS" "file://$last" "file://$steady" <<'PY' || e2e_fail "the burst of MPRIS calls was not answered"
import sys
from gi.repository import Gio, GLib
bus, last, other = sys.argv[1], sys.argv[2], sys.argv[3]
conn = Gio.bus_get_sync(Gio.BusType.SESSION)
calls = [("Next", None), ("Seek", GLib.Variant("(x)", (1000000,))), ("OpenUri", GLib.Variant("(s)", (other,)))] * 1666
calls += [("Next", None), ("OpenUri", GLib.Variant("(s)", (last,)))]
left = [len(calls)]
errors = []
loop = GLib.MainLoop()
def done(source, result):
    try:
        source.call_finish(result)
    except GLib.Error as error:
        errors.append(error.message)
    left[0] -= 1
    if left[0] == 0:
        loop.quit()
for method, args in calls:
    conn.call(bus, "/org/mpris/MediaPlayer2", "org.mpris.MediaPlayer2.Player", method, args, None,
              Gio.DBusCallFlags.NONE, 60000, None, done)
GLib.timeout_add_seconds(90, loop.quit)
loop.run()
if left[0] or errors:
    sys.exit(f"{left[0]} calls unanswered, errors: {errors[:3]}")
PY
velmora_alive || e2e_fail "the player died in the burst of calls"
velmora_wait_title "Velmora--$last" 60 # the calls are answered at once and carried out in turn
[[ $(playerctl -p velmora metadata xesam:url) == "file://$last" ]] || e2e_fail "after the burst: $(playerctl -p velmora metadata xesam:url)"
fds_after=$(ls /proc/"$VELMORA_PID"/fd | wc -l)
rss_after=$(awk '/^VmRSS/ { print $2 }' /proc/"$VELMORA_PID"/status)
((fds_after <= fds_before + 8)) || e2e_fail "file descriptors grew in the burst: $fds_before before, $fds_after after"
((rss_after <= rss_before + 20000)) || e2e_fail "memory grew in the burst: ${rss_before} kB before, ${rss_after} kB after"
e2e_log "burst of 5000 calls answered; fds $fds_before before, $fds_after after; RSS ${rss_before} kB before, ${rss_after} kB after"

# ---- what was heard
at() { e2e_rec_time sink "$1"; }
e2e_timeline "$wav" 0.25 >&2
t=$(at "$pause_wall")
quiet=$(e2e_silent_from "$wav" "$t" --hold 0.4) || e2e_fail "PlayPause: the sink never fell silent"
delay=$(awk -v q="$quiet" -v t="$t" 'BEGIN { printf "%.3f", q - t }')
e2e_log "PlayPause at ${t}s, silent from ${quiet}s (${delay}s)"
awk -v d="$delay" -v limit="$SILENCE_WITHIN" 'BEGIN { exit !(d <= limit) }' \
  || e2e_fail "PlayPause: the sink was silent only ${delay}s after the call (allowed ${SILENCE_WITHIN}s)"
t=$(at "$resume_wall")
# The part of the track that was paused sounds again: the steps are 4 s each.
parts=(440 660 880 1320 1320)
paused_hz=${parts[$(awk -v p="$position" 'BEGIN { print int(p / 4) }')]}
back=$(e2e_find_tone "$wav" "$paused_hz" --after "$t" --min-seconds 0.2) \
  || e2e_fail "no $paused_hz Hz (the part paused at ${position}s) after resuming at ${t}s"
awk -v b="$back" -v t="$t" 'BEGIN { exit !(b - t < 1.0) }' \
  || e2e_fail "$paused_hz Hz came back only at ${back}s after resuming at ${t}s"
t=$(at "$next_wall")
heard=$(e2e_find_tone "$wav" 550 --after "$t" --min-seconds 0.3) || e2e_fail "no 550 Hz (the second track) after Next"
awk -v h="$heard" -v t="$t" 'BEGIN { exit !(h - t < 1.0) }' || e2e_fail "the second track sounded only at ${heard}s, Next at ${t}s"
t=$(at "$previous_wall")
heard=$(e2e_find_tone "$wav" 440 --after "$t" --min-seconds 0.3) || e2e_fail "no 440 Hz (the first track's start) after Previous"
awk -v h="$heard" -v t="$t" 'BEGIN { exit !(h - t < 1.0) }' || e2e_fail "the first track sounded only at ${heard}s, Previous at ${t}s"
t=$(at "$seek_wall")
heard=$(e2e_find_tone "$wav" 1320 --after "$t" --min-seconds 0.3) || e2e_fail "no 1320 Hz after SetPosition to 13 s"
awk -v h="$heard" -v t="$t" 'BEGIN { exit !(h - t < 0.5) }' || e2e_fail "the sound followed SetPosition only at ${heard}s, called at ${t}s"

# ---- Volume: a quarter sounds 12 dB down, with one PropertiesChanged; a notch of the
# wheel on the tray icon steps 5 %, up louder
mpris_call OpenUri "string:file://$steady"
timeout 5 bash -c "until [[ \$(playerctl -p velmora metadata xesam:url) == file://$steady ]]; do sleep 0.05; done"
sleep 0.2
full=$(e2e_level "$(e2e_record 0.5 full)")
changes=$(signals PropertiesChanged)
playerctl -p velmora volume 0.25
wait_volume 0.250000 "set to 0.25"
(($(settled_signals PropertiesChanged) == changes + 1)) || e2e_fail "Volume 0.25: $(cat "$VELMORA_E2E_DIR/signals.txt")"
quarter=$(e2e_level "$(e2e_record 0.5 quarter)") # the output's buffer has played out meanwhile
e2e_log "level at full volume ${full} dBFS, at 0.25 ${quarter} dBFS"
awk -v f="$full" -v q="$quarter" 'BEGIN { exit !(f > -20 && q - f > -15 && q - f < -9) }' || e2e_fail "at volume 0.25 the level is not about 12 dB down"
xy=$(e2e_tray_xy) || e2e_fail "the program's icon is not in the tray"
e2e_move ${xy}
xdotool click 4
wait_volume 0.300000 "a notch up on the tray icon"
xdotool click --repeat 2 --delay 50 5
wait_volume 0.200000 "two notches down on the tray icon"

# ---- Quit: the program ends as with 退出, the list file untouched
mpris_call Quit
for _ in $(seq 50); do
  velmora_alive || break
  sleep 0.1
done
! velmora_alive || e2e_fail "the player still runs 5 s after Quit"
wait "$VELMORA_PID" 2>/dev/null || true
VELMORA_PID=
cmp -s -- "$app/mp3.m3u" "$VELMORA_E2E_DIR/list-before.m3u" || e2e_fail "mp3.m3u changed on Quit"
# The next run starts at the volume the last one left.
velmora_start "$app"
wait_volume 0.200000 "after a restart"
kill "$monitor"
e2e_log "signals on the bus: $(signals PropertiesChanged) PropertiesChanged, $(signals Seeked) Seeked"
