#!/usr/bin/env bash
# Usage: bench/soak.sh [MINUTES]   (default 30)
#
# Plays a list of twenty short generated tracks round and round in the real player for
# MINUTES and samples its resident memory, open file descriptors and threads every
# minute, then prints the table with the first, last and largest figures. Exits
# non-zero when the player died or stopped moving on from track to track.
#
# Runs in the end-to-end tests' private desktop (Xvfb, PulseAudio null sink, tray)
# when its tools are installed, else offscreen with no sound server, where the player
# keeps time on its silent output.
#
# VELMORA_BUILD_DIR (default build/) is built first if it has no player yet;
# VELMORA_SOAK_INTERVAL (seconds, default 60) changes the sampling interval.
set -euo pipefail

minutes=${1:-30}
if ! [[ $minutes =~ ^[0-9]+$ ]] || ((minutes < 1)); then
  echo "usage: $0 [MINUTES]" >&2
  exit 2
fi
source_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${VELMORA_BUILD_DIR:-$source_dir/build}

if [[ ! -x $build_dir/velmora ]]; then
  echo "soak: building the player in $build_dir" >&2
  cmake -S "$source_dir" -B "$build_dir" -G "Unix Makefiles" >/dev/null
  cmake --build "$build_dir" -j"$(nproc)" --target velmora >/dev/null
fi

export VELMORA_BINARY=$build_dir/velmora
export VELMORA_SOAK_MINUTES=$minutes
export VELMORA_SOAK_INTERVAL=${VELMORA_SOAK_INTERVAL:-60}
session=$source_dir/bench/soak/session.sh

desktop_tools=(Xvfb dbus-daemon pulseaudio pactl trayer xdotool import sox lame python3 timeout setsid)
for tool in "${desktop_tools[@]}"; do
  if ! command -v "$tool" >/dev/null; then
    echo "soak: $tool is missing; running offscreen with silent output" >&2
    exec bash "$session"
  fi
done
# Room for generating the tracks and stopping the player on top of the soak itself.
export VELMORA_E2E_TIMEOUT=$((minutes * 60 + 300))
exec "$source_dir/tests/e2e/run_e2e.sh" "$session"
