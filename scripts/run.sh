#!/usr/bin/env bash
# Installs what is missing, builds Velmora and starts it on its demo playlist
# (build/mp3.m3u, made at build time next to the executable unless one is there).
# Extra arguments go to the player.
set -euo pipefail
cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.."

bash scripts/deps.sh
cmake -S . -B build >/dev/null
# Only the player and its demo: the tests are scripts/test.sh's business.
cmake --build build -j"$(nproc)" --target velmora velmora_demo

if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
  echo "run.sh: no display (DISPLAY is not set); the player needs a desktop session." >&2
  exit 1
fi
exec build/velmora "$@"
