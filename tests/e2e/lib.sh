# Helpers for the end-to-end test scripts; source it first thing. The scripts run
# under run_e2e.sh, which provides the display, the session bus and the null sink.
#
#   app=$(velmora_prepare)                  private copy of $VELMORA_BINARY in its own folder
#   velmora_write_playlist "$app" FILE...   that folder's mp3.m3u
#   velmora_start "$app"; velmora_wait_window; velmora_title; velmora_wait_title TEXT
#   velmora_stop
#   e2e_record_start NAME; e2e_record_stop NAME     -> WAV of the null sink's monitor
#   e2e_record SECONDS NAME                         -> the same, for a fixed time
#   e2e_level WAV; e2e_freq WAV; e2e_find_tone WAV HZ [--after S] [--min-seconds S]
#   e2e_tone_mp3 HZ                        fixture tone_HZ.mp3, or one made on the spot
#   e2e_steps_mp3 NAME HZ:SECONDS...        a track of tones one after the other
#   e2e_timed_record_start NAME; e2e_record_stop NAME; e2e_rec_time NAME WALL
#                                           recording that knows when each sample was heard
#   e2e_a11y_on (before velmora_start); e2e_a11y ARGS...   widgets through AT-SPI (a11y.py)
#   velmora_panel 1|2|3; velmora_frame; velmora_wait_frame MIN [TIMEOUT]
#   velmora_list_items; e2e_click ROLE NAME [BUTTON]; e2e_click_xy X Y [BUTTON]
#   e2e_tray_menu; e2e_list_menu; e2e_menu_item CAPTION; e2e_menu_choose CAPTION
#   e2e_dialog_enter TITLE PATH; velmora_wait_list EXPECTED; e2e_wait_bytes FILE EXPECTED_FILE
#   e2e_window_manager                     openbox from here on
#   e2e_viewable WINDOW; e2e_minimise WINDOW; e2e_wait_viewable WINDOW FAILURE_TEXT
#   e2e_screenshot NAME; e2e_fail MESSAGE
#   e2e_pulse_kill; e2e_pulse_start; e2e_pulse_freeze; e2e_pulse_thaw   the sound server
# A failing script leaves a screenshot, the player's log and its recordings in
# $VELMORA_E2E_ARTIFACTS.

set -euo pipefail

: "${VELMORA_E2E_DIR:?run the end-to-end tests through tests/e2e/run_e2e.sh}"
: "${DISPLAY:?run the end-to-end tests through tests/e2e/run_e2e.sh}"
E2E_LIB_DIR=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
E2E_ARTIFACTS=${VELMORA_E2E_ARTIFACTS:-$VELMORA_E2E_DIR/artifacts}
E2E_SINK_MONITOR=velmora_null.monitor
E2E_RATE=44100

VELMORA_PID=
VELMORA_DIR=
VELMORA_WINDOW=
declare -A E2E_RECORDERS=()

e2e_log() { echo "[$(date +%T.%3N)] $*" >&2; }

e2e_fail() {
  e2e_log "FAIL: $*"
  exit 1
}

e2e_screenshot() { # NAME
  mkdir -p -- "$E2E_ARTIFACTS"
  import -window root "$E2E_ARTIFACTS/$1.png" 2>/dev/null || e2e_log "no screenshot $1"
}

# ---------------------------------------------------------------- the player

# Copies the binary into a folder of its own (default: a new one in the scratch
# space), because the player reads mp3.m3u from its executable's folder. Prints the folder.
velmora_prepare() { # [DIR]
  local dir=${1:-$(mktemp -d "$VELMORA_E2E_DIR/app.XXXX")}
  [[ -x ${VELMORA_BINARY:-} ]] || e2e_fail "VELMORA_BINARY (${VELMORA_BINARY:-unset}) is not an executable"
  mkdir -p -- "$dir"
  cp -- "$VELMORA_BINARY" "$dir/velmora"
  echo "$dir"
}

# Writes DIR/mp3.m3u the way the player writes it: #EXTM3U, #EXTINF:<seconds>,<title>, path, CR LF.
velmora_write_playlist() { # DIR FILE...
  local dir=$1 file seconds
  shift
  {
    printf '#EXTM3U\r\n'
    for file in "$@"; do
      seconds=$(soxi -D "$file" 2>/dev/null || echo 0)
      printf '#EXTINF:%.0f,%s\r\n%s\r\n' "$seconds" "$(basename -- "${file%.*}")" "$file"
    done
  } >"$dir/mp3.m3u"
}

velmora_start() { # DIR [ARGS...]
  VELMORA_DIR=$1
  shift
  e2e_log "starting $VELMORA_DIR/velmora"
  "$VELMORA_DIR/velmora" "$@" >"$VELMORA_DIR/velmora.log" 2>&1 </dev/null &
  VELMORA_PID=$!
}

velmora_alive() { [[ -n $VELMORA_PID ]] && kill -0 "$VELMORA_PID" 2>/dev/null; }

# Waits for the main window and remembers it in VELMORA_WINDOW: the visible top-level
# window captioned "Velmora...". There is no window manager, so top-level windows are
# children of the root; depth 1 keeps the tray icon (embedded in the tray) out.
velmora_wait_window() { # [TIMEOUT_SECONDS]
  local deadline=$((SECONDS + ${1:-15})) wid
  while :; do
    velmora_alive || e2e_fail "the player exited before its window showed"
    wid=$(xdotool search --maxdepth 1 --onlyvisible --name '^Velmora' 2>/dev/null | head -n 1 || true)
    if [[ -n $wid ]]; then
      VELMORA_WINDOW=$wid
      e2e_log "window $wid: $(velmora_title)"
      return 0
    fi
    ((SECONDS < deadline)) || e2e_fail "no window captioned Velmora within ${1:-15}s"
    sleep 0.05
  done
}

velmora_title() {
  xdotool getwindowname "$VELMORA_WINDOW"
}

velmora_wait_title() { # EXPECTED [TIMEOUT_SECONDS]
  local expected=$1 deadline=$((SECONDS + ${2:-10})) title
  while :; do
    title=$(velmora_title 2>/dev/null || true)
    [[ $title == "$expected" ]] && return 0
    velmora_alive || e2e_fail "the player exited while the caption was '$title' (waiting for '$expected')"
    ((SECONDS < deadline)) || e2e_fail "caption is '$title', expected '$expected' within ${2:-10}s"
    sleep 0.05
  done
}

velmora_stop() {
  [[ -n $VELMORA_PID ]] || return 0
  kill -TERM "$VELMORA_PID" 2>/dev/null || true
  for _ in $(seq 30); do
    velmora_alive || break
    sleep 0.1
  done
  kill -KILL "$VELMORA_PID" 2>/dev/null || true
  wait "$VELMORA_PID" 2>/dev/null || true
  VELMORA_PID=
}

# ---------------------------------------------------------------- sound

# Records the null sink's monitor (mono, 16 bit, 44.1 kHz) until e2e_record_stop.
e2e_record_start() { # NAME
  parec --device="$E2E_SINK_MONITOR" --raw --format=s16le --rate="$E2E_RATE" --channels=1 \
    --latency-msec=20 >"$VELMORA_E2E_DIR/$1.raw" 2>"$VELMORA_E2E_DIR/$1.parec.log" </dev/null &
  E2E_RECORDERS[$1]=$!
}

# Ends a recording and prints the path of its WAV file.
e2e_record_stop() { # NAME
  local pid=${E2E_RECORDERS[$1]:-} wav=$VELMORA_E2E_DIR/$1.wav
  [[ -n $pid ]] || e2e_fail "no recording named $1"
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  unset 'E2E_RECORDERS[$1]'
  sox -t raw -r "$E2E_RATE" -e signed -b 16 -c 1 "$VELMORA_E2E_DIR/$1.raw" "$wav" \
    || e2e_fail "recording $1 is unusable: $(cat "$VELMORA_E2E_DIR/$1.parec.log")"
  echo "$wav"
}

e2e_record() { # SECONDS NAME
  e2e_record_start "$2"
  sleep "$1"
  e2e_record_stop "$2"
}

e2e_level() { python3 "$E2E_LIB_DIR/audio_analysis.py" level "$1"; }        # dBFS
e2e_freq() { python3 "$E2E_LIB_DIR/audio_analysis.py" freq "$1"; }          # Hz
e2e_timeline() { python3 "$E2E_LIB_DIR/audio_analysis.py" timeline "$1" "${2:-0.25}"; }

# Prints when (seconds into WAV) a sustained, clearly audible HZ tone starts; fails when none.
e2e_find_tone() { # WAV HZ [--after S] [--min-seconds S] [--min-db DB]
  python3 "$E2E_LIB_DIR/audio_analysis.py" find-tone "$@"
}

# Path of a tone track: the fixture tone_HZ.mp3 when the build made it, else a
# 3-second sine of the same kind made here.
e2e_tone_mp3() { # HZ
  local fixture=${VELMORA_FIXTURES:-}/tone_$1.mp3 own=$VELMORA_E2E_DIR/tones/tone_$1.mp3
  if [[ -n ${VELMORA_FIXTURES:-} && -s $fixture ]]; then
    echo "$fixture"
    return
  fi
  if [[ ! -s $own ]]; then
    mkdir -p -- "${own%/*}"
    sox -V1 -n -r 44100 -c 2 -b 16 "${own%.mp3}.wav" synth 3 sine "$1" vol 0.5 fade t 0.01 3 0.01
    lame --quiet --cbr -b 128 "${own%.mp3}.wav" "$own"
  fi
  echo "$own"
}

# The sound server of run_e2e.sh, stopped and started again as a crash or a user would.
# A server started here belongs to the script's process group, so it ends with it.
E2E_PULSE_PID=${VELMORA_E2E_PULSE_PID:-}
e2e_pulse_kill() {
  [[ -n $E2E_PULSE_PID ]] || e2e_fail "no sound server to stop (run through run_e2e.sh)"
  kill -KILL "$E2E_PULSE_PID" 2>/dev/null || true
  while kill -0 "$E2E_PULSE_PID" 2>/dev/null; do sleep 0.02; done
  E2E_PULSE_PID=
}
e2e_pulse_start() {
  "$VELMORA_E2E_PULSE_START" >"$VELMORA_E2E_DIR/pulse-again.log" 2>&1 </dev/null &
  E2E_PULSE_PID=$!
  local deadline=$((SECONDS + 15))
  until pactl info >/dev/null 2>&1; do
    ((SECONDS < deadline)) || e2e_fail "the sound server did not come back: $(cat "$VELMORA_E2E_DIR/pulse-again.log")"
    sleep 0.02
  done
  pactl set-default-sink velmora_null >/dev/null
}
e2e_pulse_freeze() { kill -STOP "$E2E_PULSE_PID"; }
e2e_pulse_thaw() { kill -CONT "$E2E_PULSE_PID"; }

# ---------------------------------------------------------------- timed sound

# Like e2e_record_start, but also notes when the first sample was heard, so that a
# moment taken with $EPOCHREALTIME (a click) can be found in the recording.
e2e_timed_record_start() { # NAME
  python3 "$E2E_LIB_DIR/audio_analysis.py" record "$VELMORA_E2E_DIR/$1.raw" "$VELMORA_E2E_DIR/$1.anchor" \
    parec --device="$E2E_SINK_MONITOR" --raw --format=s16le --rate="$E2E_RATE" --channels=1 \
    --latency-msec=10 2>"$VELMORA_E2E_DIR/$1.parec.log" </dev/null &
  E2E_RECORDERS[$1]=$!
}

# Seconds into a stopped timed recording at which the wall-clock moment WALL lies.
e2e_rec_time() { # NAME WALL
  awk -v wall="$2" -v anchor="$(cat "$VELMORA_E2E_DIR/$1.anchor")" 'BEGIN { printf "%.3f", wall - anchor }'
}

e2e_silent_from() { # WAV SECONDS [--hold H] [--min-db DB]
  python3 "$E2E_LIB_DIR/audio_analysis.py" silent-from "$@"
}

# A track of tones one after the other, e.g. e2e_steps_mp3 steps 440:2 660:2; prints its path.
e2e_steps_mp3() { # NAME HZ:SECONDS...
  local name=$1 dir=$VELMORA_E2E_DIR/tones part parts=() i=0
  shift
  mkdir -p -- "$dir"
  for part in "$@"; do
    sox -V1 -n -r 44100 -c 2 -b 16 "$dir/$name.$i.wav" synth "${part#*:}" sine "${part%%:*}" vol 0.5
    parts+=("$dir/$name.$i.wav")
    i=$((i + 1))
  done
  sox -V1 "${parts[@]}" "$dir/$name.wav" fade t 0.01 0 0.01
  lame --quiet --cbr -b 128 "$dir/$name.wav" "$dir/$name.mp3"
  echo "$dir/$name.mp3"
}

# ---------------------------------------------------------------- widgets (AT-SPI)

# The system's python3 carries pyatspi; another python3 first on the PATH may not.
E2E_SYSTEM_PYTHON=/usr/bin/python3
[[ -x $E2E_SYSTEM_PYTHON ]] || E2E_SYSTEM_PYTHON=python3

e2e_a11y() { "$E2E_SYSTEM_PYTHON" "$E2E_LIB_DIR/a11y.py" "$@"; }

# Qt joins the accessibility bus only if it is there when the program starts.
e2e_a11y_on() {
  export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
  e2e_a11y ready || e2e_fail "the accessibility bus does not start (at-spi2-core, python3-pyatspi)"
}

# Text of status-bar panel 1, 2 or 3 as AT-SPI reads it.
velmora_panel() { # N
  local labels
  labels=$(e2e_a11y names label) || return 1
  case $1 in
    1) grep -m1 '^当前歌曲' <<<"$labels" ;;
    2) grep -m1 '^时间' <<<"$labels" ;;
    3) grep -m1 '^帧数' <<<"$labels" ;;
  esac
}

# Current frame from the frames panel ("帧数: F/N"); fails while it shows no figures.
velmora_frame() {
  local text
  text=$(velmora_panel 3) || return 1
  [[ $text =~ ^帧数:\ ?(-?[0-9]+)/([0-9]+)$ ]] || return 1
  echo "${BASH_REMATCH[1]}"
}

velmora_frame_total() {
  local text
  text=$(velmora_panel 3) || return 1
  [[ $text =~ ^帧数:\ ?(-?[0-9]+)/([0-9]+)$ ]] || return 1
  echo "${BASH_REMATCH[2]}"
}

# Waits until the frames panel shows at least MIN; prints the frame seen.
velmora_wait_frame() { # MIN [TIMEOUT]
  local deadline=$((SECONDS + ${2:-10})) frame
  while :; do
    frame=$(velmora_frame 2>/dev/null || true)
    if [[ -n $frame ]] && ((frame >= $1)); then
      echo "$frame"
      return 0
    fi
    velmora_alive || e2e_fail "the player exited while waiting for frame $1"
    ((SECONDS < deadline)) || e2e_fail "the frames panel shows '$(velmora_panel 3 || true)', not frame $1 within ${2:-10}s"
    sleep 0.05
  done
}

velmora_list_items() { e2e_a11y names "list item" || true; }

# Moves the pointer and waits until it is there (xdotool's --sync would wait forever
# for a pointer that is there already).
e2e_move() { # X Y
  local X= Y= SCREEN= WINDOW=
  eval "$(xdotool getmouselocation --shell 2>/dev/null | grep -E '^(X|Y|SCREEN|WINDOW)=[0-9]+$')" || true
  [[ ${X:-} == "$1" && ${Y:-} == "$2" ]] && return 0
  xdotool mousemove --sync "$1" "$2"
}

# Clicks at X Y (default: left button) and notes the moment in E2E_CLICK_TIME. With
# HOLD (seconds) the button stays down that long, as a person's click does.
e2e_click_xy() { # X Y [BUTTON] [HOLD]
  e2e_move "$1" "$2"
  E2E_CLICK_TIME=$EPOCHREALTIME
  if [[ -n ${4:-} ]]; then
    xdotool mousedown "${3:-1}"
    sleep "$4"
    xdotool mouseup "${3:-1}"
  else
    xdotool click "${3:-1}"
  fi
}

# Clicks the middle of the widget of ROLE named NAME.
e2e_click() { # ROLE NAME [BUTTON]
  local x y w h
  read -r x y w h < <(e2e_a11y extents "$1" "$2") || e2e_fail "no $1 '$2' to click"
  e2e_click_xy $((x + w / 2)) $((y + h / 2)) "${3:-1}"
}

# Centre of the program's icon in the tray: "X Y".
e2e_tray_xy() {
  local panel icon x y
  panel=$(xdotool search --name '^panel$' | head -n 1)
  icon=$(xwininfo -tree -id "$panel" | awk '/"velmora"/ { print $1; exit }')
  [[ -n $icon ]] || return 1
  x=$(xwininfo -id "$icon" | awk '/Absolute upper-left X/ { print $NF }')
  y=$(xwininfo -id "$icon" | awk '/Absolute upper-left Y/ { print $NF }')
  echo "$((x + 11)) $((y + 11))"
}

# Opens a pop-up menu of ITEMS items with COMMAND and keeps them in E2E_MENU ("caption
# TAB enabled|disabled TAB x y w h" lines). No second try: every press on the list
# changes the states of its menu's items.
e2e_open_menu() { # ITEMS COMMAND...
  local items=$1
  shift
  E2E_MENU=$(e2e_a11y popup --timeout 20 --items "$items" "$@") && [[ -n $E2E_MENU ]] \
    || e2e_fail "no pop-up menu of $items items from: $*"
}

# The tray menu, opened with the right button on the tray icon.
e2e_tray_menu() {
  local xy
  xy=$(e2e_tray_xy) || e2e_fail "the program's icon is not in the tray"
  e2e_move ${xy}
  e2e_open_menu 4 xdotool click 3
}

# The playlist menu, opened with the right button on the list (at X Y, default: a
# blank part below the entries).
e2e_list_menu() { # [X Y]
  local x y
  if (($# == 2)); then
    x=$1 y=$2
  else
    read -r x y < <(e2e_a11y list-blank) || e2e_fail "no blank part of the playlist to click"
  fi
  e2e_move "$x" "$y"
  e2e_open_menu 6 xdotool click 3
}

# "enabled" or "disabled" for an item of the open menu; fails when there is no such item.
e2e_menu_item() { # CAPTION
  awk -F '\t' -v c="$1" '$1 == c { print $2; found = 1; exit } END { exit !found }' <<<"$E2E_MENU"
}

# Clicks the item of the open menu; E2E_CLICK_TIME notes when.
e2e_menu_choose() { # CAPTION
  local x y w h
  read -r x y w h < <(awk -F '\t' -v c="$1" '$1 == c { print $3; exit }' <<<"$E2E_MENU")
  [[ -n $h ]] || e2e_fail "the menu has no item '$1': $E2E_MENU"
  e2e_click_xy $((x + w / 2)) $((y + h / 2))
}

# Waits for the file dialog captioned TITLE to hold the keyboard focus, types PATH
# into its file name box and presses Enter; then waits for the dialog to go.
e2e_dialog_enter() { # TITLE PATH
  local deadline=$((SECONDS + 10)) dialog= focus
  while :; do
    dialog=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
    if [[ -n $dialog ]]; then
      focus=$(xdotool getwindowfocus 2>/dev/null || true)
      [[ $focus == "$dialog" ]] && break
    fi
    ((SECONDS < deadline)) || e2e_fail "no focused dialog '$1' within 10s"
    sleep 0.05
  done
  # The name box has the focus when the dialog opens; clear whatever it holds.
  xdotool key --clearmodifiers ctrl+a BackSpace
  xdotool type --delay 5 -- "$2"
  xdotool key Return
  deadline=$((SECONDS + 10))
  while xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || e2e_fail "the dialog '$1' stayed open after entering $2"
    sleep 0.05
  done
}

# Waits until the playlist reads exactly the lines of EXPECTED.
velmora_wait_list() { # EXPECTED [TIMEOUT]
  local deadline=$((SECONDS + ${2:-10})) items
  while :; do
    items=$(velmora_list_items)
    [[ $items == "$1" ]] && return 0
    ((SECONDS < deadline)) || e2e_fail "the playlist reads:
$items
expected:
$1"
    sleep 0.1
  done
}

# Waits until FILE holds exactly the bytes of EXPECTED_FILE.
e2e_wait_bytes() { # FILE EXPECTED_FILE [TIMEOUT]
  local deadline=$((SECONDS + ${3:-10}))
  until cmp -s -- "$1" "$2"; do
    ((SECONDS < deadline)) || {
      e2e_log "expected:"; od -c -- "$2" | head -n 20 >&2
      e2e_log "found:"; od -c -- "$1" 2>&1 | head -n 20 >&2
      e2e_fail "$1 does not hold the expected bytes"
    }
    sleep 0.1
  done
}

# ---------------------------------------------------------------- window manager

# Starts openbox and waits until it manages the screen (minimising needs one).
e2e_window_manager() {
  command -v openbox >/dev/null || e2e_fail "openbox is missing: install the test dependencies with scripts/deps.sh"
  openbox --sm-disable >"$VELMORA_E2E_DIR/openbox.log" 2>&1 </dev/null &
  local deadline=$((SECONDS + 15))
  until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
    ((SECONDS < deadline)) || e2e_fail "openbox did not come up"
    sleep 0.1
  done
}

e2e_viewable() { xwininfo -id "$1" | grep -q 'Map State: IsViewable'; } # WINDOW

# Minimises WINDOW and waits until it is no longer shown.
e2e_minimise() { # WINDOW
  local deadline=$((SECONDS + 10))
  xdotool windowminimize "$1"
  while e2e_viewable "$1"; do
    ((SECONDS < deadline)) || e2e_fail "the window is still shown after minimising"
    sleep 0.05
  done
}

e2e_wait_viewable() { # WINDOW FAILURE_TEXT
  local deadline=$((SECONDS + 10))
  until e2e_viewable "$1"; do
    ((SECONDS < deadline)) || e2e_fail "$2"
    sleep 0.05
  done
}

# ---------------------------------------------------------------- clean-up

# On failure keep what helps to see why; always stop what this script started.
e2e_finish() {
  local rc=$? name wav
  trap - EXIT
  if ((rc != 0)); then
    e2e_screenshot failure
    for name in "${!E2E_RECORDERS[@]}"; do
      wav=$(e2e_record_stop "$name") && cp -- "$wav" "$E2E_ARTIFACTS/" || true
    done
    cp -- "$VELMORA_E2E_DIR"/*.wav "$E2E_ARTIFACTS/" 2>/dev/null || true
    if [[ -n $VELMORA_DIR ]]; then
      cp -- "$VELMORA_DIR/velmora.log" "$VELMORA_DIR/mp3.m3u" "$E2E_ARTIFACTS/" 2>/dev/null || true
      echo "---- player log (last lines)" >&2
      tail -n 20 -- "$VELMORA_DIR/velmora.log" >&2 2>/dev/null || true
    fi
  fi
  velmora_stop
  for name in "${!E2E_RECORDERS[@]}"; do kill -TERM "${E2E_RECORDERS[$name]}" 2>/dev/null || true; done
  exit "$rc"
}
trap e2e_finish EXIT
# A timeout or an interrupt still goes through e2e_finish.
trap 'e2e_log "interrupted"; exit 143' TERM
trap 'e2e_log "interrupted"; exit 130' INT
