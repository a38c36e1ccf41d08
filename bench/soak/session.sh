#!/usr/bin/env bash
# The soak itself; started by bench/soak.sh, inside tests/e2e/run_e2e.sh's desktop
# or, without one, offscreen.
set -euo pipefail

minutes=${VELMORA_SOAK_MINUTES:?run bench/soak.sh}
interval=${VELMORA_SOAK_INTERVAL:-60}

if [[ -n ${VELMORA_E2E_DIR:-} ]]; then
  source "$(dirname -- "${BASH_SOURCE[0]}")/../../tests/e2e/lib.sh"
  desktop=1
else
  # The same few helpers as the end-to-end library, without a desktop.
  desktop=0
  VELMORA_E2E_DIR=$(mktemp -d "${TMPDIR:-/tmp}/velmora-soak.XXXXXX")
  VELMORA_PID=
  export QT_QPA_PLATFORM=offscreen
  # No session bus: a Velmora of the user's own would otherwise be handed the soak's player.
  export DBUS_SESSION_BUS_ADDRESS=unix:path=$VELMORA_E2E_DIR/no-bus
  velmora_prepare() {
    local dir
    dir=$(mktemp -d "$VELMORA_E2E_DIR/app.XXXX")
    cp -- "$VELMORA_BINARY" "$dir/velmora"
    echo "$dir"
  }
  velmora_start() {
    "$1/velmora" >"$1/velmora.log" 2>&1 </dev/null &
    VELMORA_PID=$!
  }
  velmora_alive() { [[ -n $VELMORA_PID ]] && kill -0 "$VELMORA_PID" 2>/dev/null; }
  velmora_stop() {
    [[ -n $VELMORA_PID ]] || return 0
    kill -TERM "$VELMORA_PID" 2>/dev/null || true
    wait "$VELMORA_PID" 2>/dev/null || true
    VELMORA_PID=
  }
  trap 'velmora_stop; rm -rf -- "$VELMORA_E2E_DIR"' EXIT
fi

# Twenty tracks of 3 to 5 seconds, each its own pitch.
tracks=$VELMORA_E2E_DIR/tracks
mkdir -p -- "$tracks"
files=()
for i in $(seq 1 20); do
  seconds=$((3 + i % 3))
  name=$(printf '%s/soak_%02d.mp3' "$tracks" "$i")
  sox -V1 -n -r 44100 -c 2 -b 16 "$tracks/tone.wav" synth "$seconds" sine $((300 + 37 * i)) vol 0.4 fade t 0.01 "$seconds" 0.01
  lame --quiet --cbr -b 128 "$tracks/tone.wav" "$name"
  files+=("$name")
done
rm -f -- "$tracks/tone.wav"

app=$(velmora_prepare)
{
  printf '#EXTM3U\r\n'
  for file in "${files[@]}"; do
    printf '#EXTINF:235,%s\r\n%s\r\n' "$(basename -- "${file%.mp3}")" "$file"
  done
} >"$app/mp3.m3u"

velmora_start "$app"
if ((desktop)); then
  velmora_wait_window 20
fi

caption() {
  if ((desktop)); then velmora_title 2>/dev/null || true; fi
}

status_field() { # NAME: a field of /proc/PID/status, number only
  awk -v name="$1:" '$1 == name { print $2 }' "/proc/$VELMORA_PID/status" 2>/dev/null || true
}

rows=()
rss_values=()
fd_values=()
last_caption=$(caption)
changes=0
died=0
stalled=0
samples=$(((minutes * 60 + interval - 1) / interval))
start=$SECONDS

sample() { # MINUTE-LABEL
  local rss fds threads
  rss=$(status_field VmRSS)
  threads=$(status_field Threads)
  fds=$(find "/proc/$VELMORA_PID/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l)
  rss_values+=("$rss")
  fd_values+=("$fds")
  local row
  row=$(printf '%7s %10s %5s %8s %8s  %s' "$1" "$rss" "$fds" "$threads" "$changes" "$(basename -- "${last_caption#Velmora--}")")
  rows+=("$row")
  echo "$row"
}

printf '%7s %10s %5s %8s %8s  %s\n' minute rss_kb fds threads tracks playing
sample 0
for ((n = 1; n <= samples; n++)); do
  changes_before=$changes
  deadline=$((start + n * interval))
  while ((SECONDS < deadline)); do
    sleep 1
    if ! velmora_alive; then
      died=1
      break 2
    fi
    now=$(caption)
    if [[ -n $now && $now != "$last_caption" ]]; then
      last_caption=$now
      changes=$((changes + 1))
    fi
  done
  sample "$(awk -v s=$((SECONDS - start)) 'BEGIN { printf "%.1f", s / 60 }')"
  if ((desktop && changes == changes_before)); then
    stalled=1
  fi
done

summary() { # NAME VALUES...
  local name=$1 first=$2 last=${*: -1} max=0 v
  shift
  for v in "$@"; do
    ((v > max)) && max=$v
  done
  printf '%-7s first %8s  last %8s  max %8s\n' "$name" "$first" "$last" "$max"
}
echo
summary rss_kb "${rss_values[@]}"
summary fds "${fd_values[@]}"
echo "tracks started: $changes in $(((SECONDS - start) / 60)) min"

if ((died)); then
  wait "$VELMORA_PID" && rc=0 || rc=$?
  echo "soak: the player died (exit status $rc) after $((SECONDS - start)) s" >&2
  tail -n 20 -- "$app/velmora.log" >&2 || true
  VELMORA_PID=
  exit 1
fi
if ((stalled)); then
  echo "soak: the player stopped moving on from track to track" >&2
  exit 1
fi
velmora_stop
