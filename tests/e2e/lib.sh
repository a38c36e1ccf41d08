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
#   e2e_screenshot NAME; e2e_fail MESSAGE
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
