#!/usr/bin/env bash
# Usage: run_e2e.sh SCRIPT
#
# Runs one end-to-end test script in a private desktop of its own: Xvfb on a free
# display, a D-Bus session bus, PulseAudio whose only sink is a null sink
# (velmora_null, so its monitor can be recorded) and trayer as the system tray.
# Everything started here is stopped again on exit, whether the script passed,
# failed, hung or this runner was interrupted; the script's exit status is returned.
#
# The script gets DISPLAY, DBUS_SESSION_BUS_ADDRESS, PULSE_SERVER, a private HOME,
# VELMORA_E2E_DIR (scratch space, removed afterwards) and VELMORA_E2E_ARTIFACTS
# (kept: screenshots, recordings and logs of a failed run).
#
# VELMORA_E2E_TIMEOUT (seconds, default 120) bounds the script; VELMORA_E2E_KEEP=1
# keeps the scratch directory.
set -euo pipefail

log() { echo "run_e2e: $*" >&2; }

if (($# != 1)) || [[ ! -f $1 ]]; then
  echo "usage: $0 SCRIPT" >&2
  exit 2
fi
script=$(realpath -- "$1")
name=$(basename -- "$script" .sh)
timeout_s=${VELMORA_E2E_TIMEOUT:-120}

for tool in Xvfb dbus-daemon pulseaudio pactl parec trayer xdotool import sox python3 timeout setsid; do
  if ! command -v "$tool" >/dev/null; then
    log "$tool is missing: install the test dependencies with scripts/deps.sh"
    exit 1
  fi
done

root=$(mktemp -d "${TMPDIR:-/tmp}/velmora-e2e.XXXXXX")
if [[ -n ${VELMORA_E2E_ARTIFACTS:-} ]]; then
  artifacts=$VELMORA_E2E_ARTIFACTS
elif [[ -n ${VELMORA_BINARY:-} ]]; then
  artifacts=$(dirname -- "$VELMORA_BINARY")/e2e-artifacts/$name
else
  artifacts=${TMPDIR:-/tmp}/velmora-e2e-artifacts/$name
fi
rm -rf -- "$artifacts"

groups=()  # process groups started here, in start order
status=1   # until the script has run and said otherwise

stop_everything() {
  local rc=$? pgid i
  trap - EXIT INT TERM HUP
  # Newest first: the script and its players before the services they use.
  for ((i = ${#groups[@]} - 1; i >= 0; i--)); do
    pgid=${groups[i]}
    kill -TERM -- "-$pgid" 2>/dev/null || continue
    for _ in $(seq 30); do
      kill -0 -- "-$pgid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL -- "-$pgid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  if [[ ${VELMORA_E2E_KEEP:-0} == 1 ]]; then
    log "kept $root"
  else
    rm -rf -- "$root"
  fi
  exit "$rc"
}
trap stop_everything EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# Keeps what is needed to understand a failure, and shows the end of each log.
save_diagnostics() {
  mkdir -p -- "$artifacts"
  cp -- "$root"/*.log "$artifacts"/ 2>/dev/null || true
  if [[ -n ${DISPLAY:-} ]]; then
    import -window root "$artifacts/screen-at-exit.png" 2>/dev/null || true
  fi
  local f
  for f in "$root"/*.log; do
    [[ -s $f ]] || continue
    echo "---- $(basename -- "$f") (last lines)" >&2
    tail -n 15 -- "$f" >&2
  done
  log "diagnostics are in $artifacts"
}

give_up() {
  log "$*"
  save_diagnostics
  exit 1
}

# start NAME COMMAND...: runs COMMAND in a process group of its own, log in $root/NAME.log.
start() {
  local service=$1
  shift
  setsid "$@" >"$root/$service.log" 2>&1 </dev/null &
  groups+=($!)
}

# wait_for SECONDS WHAT PID COMMAND...: polls COMMAND until it succeeds; gives up when
# the service with PID died or the time is over.
wait_for() {
  local seconds=$1 what=$2 pid=$3 deadline
  shift 3
  deadline=$((SECONDS + seconds))
  until "$@" >/dev/null 2>&1; do
    kill -0 "$pid" 2>/dev/null || give_up "$what exited during start-up"
    ((SECONDS < deadline)) || give_up "$what did not come up within ${seconds}s"
    sleep 0.05
  done
}

mkdir -p -- "$root/home" "$root/run" "$root/test"
chmod 700 -- "$root/run"
export HOME=$root/home XDG_RUNTIME_DIR=$root/run XDG_CONFIG_HOME=$root/home/.config
export LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY XAUTHORITY SESSION_MANAGER DBUS_SESSION_BUS_ADDRESS PULSE_SERVER DISPLAY

# X server: with -displayfd it picks a free display and writes its number once it accepts clients.
setsid Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset \
  3>"$root/display" >"$root/xvfb.log" 2>&1 </dev/null &
xvfb_pid=$!
groups+=("$xvfb_pid")
wait_for 15 Xvfb "$xvfb_pid" grep -q '^[0-9]' "$root/display"
# The benchmark counts the X server's work for the player by this.
export DISPLAY=:$(head -n 1 "$root/display") VELMORA_E2E_XVFB_PID=$xvfb_pid

# Session bus, in the foreground of its own group (a forked daemon could outlive us).
start dbus dbus-daemon --session --nofork --nopidfile --address="unix:path=$root/bus"
dbus_pid=${groups[-1]}
wait_for 10 dbus-daemon "$dbus_pid" test -S "$root/bus"
export DBUS_SESSION_BUS_ADDRESS=unix:path=$root/bus

# Sound server with nothing but the null sink; no suspend-on-idle, so its monitor always runs.
# Scripts stop it by VELMORA_E2E_PULSE_PID and start it again with VELMORA_E2E_PULSE_START
# (lib.sh: e2e_pulse_kill, e2e_pulse_start).
cat >"$root/pulse-start.sh" <<EOF
#!/usr/bin/env bash
exec pulseaudio -n --daemonize=no --exit-idle-time=-1 --system=false --disallow-exit \\
  --use-pid-file=false --log-target=stderr --log-level=error \\
  -L "module-null-sink sink_name=velmora_null" \\
  -L "module-native-protocol-unix auth-anonymous=1 socket=$root/pulse.sock"
EOF
chmod +x -- "$root/pulse-start.sh"
start pulse "$root/pulse-start.sh"
pulse_pid=${groups[-1]}
export PULSE_SERVER=unix:$root/pulse.sock VELMORA_E2E_PULSE_PID=$pulse_pid VELMORA_E2E_PULSE_START=$root/pulse-start.sh
wait_for 15 PulseAudio "$pulse_pid" pactl info
pactl set-default-sink velmora_null >/dev/null || give_up "cannot make velmora_null the default sink"

# System tray host (XEmbed), so the program sees a tray.
start trayer trayer --edge top --align right --widthtype request --height 24 \
  --SetDockType true --expand true --transparent false
trayer_pid=${groups[-1]}
wait_for 10 trayer "$trayer_pid" xdotool search --name '^panel$'

export VELMORA_E2E_DIR=$root/test VELMORA_E2E_ARTIFACTS=$artifacts

# The script runs under timeout, which makes it a process group leader: anything the
# script leaves behind (players, recorders) goes with that group.
cd -- "$root/test"
timeout --kill-after=5 "$timeout_s" bash "$script" </dev/null &
script_pid=$!
groups+=("$script_pid")
status=0
wait "$script_pid" || status=$?
case $status in
  0) ;;
  124 | 137) log "$name timed out after ${timeout_s}s" ;;
  *) log "$name failed (exit status $status)" ;;
esac
if ((status != 0)); then
  save_diagnostics
fi
exit "$status"
