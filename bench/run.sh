#!/usr/bin/env bash
# Usage: bench/run.sh [--quick]
#
# Installs what is missing (scripts/deps.sh), builds the player and a decode probe in
# an optimised build, generates its own MP3 files, then measures Velmora against the
# mpg123 command line on the same files and the same PulseAudio null sink, in the
# end-to-end tests' private desktop, and prints one table: decode speed, playback CPU
# and memory, idle cost, start-up, lists of 100,000 and 1,000,000 entries, and pause,
# seek and track-change latency at the sink. Each figure is the median of three runs;
# --quick makes it one run with shorter windows. Takes about 9 minutes (3 quick),
# plus the first build.
#
# VELMORA_BENCH_BUILD_DIR: build folder (default build-bench/ in the source tree).
# VELMORA_BENCH_ONLY: comma-separated stages to run, of decode, startup, playback, seek,
# biglist, biglist1m, drop (default all).
# The details of every run go to <build folder>/bench.log.
set -euo pipefail

quick=0
case ${1:-} in
  --quick) quick=1 ;;
  "") ;;
  *)
    echo "usage: $0 [--quick]" >&2
    exit 2
    ;;
esac
source_dir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${VELMORA_BENCH_BUILD_DIR:-$source_dir/build-bench}

"$source_dir/scripts/deps.sh"

echo "bench: building in $build_dir" >&2
cmake -S "$source_dir/bench" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target velmora decode_bench open_bench bare_window drop_bench \
  answer_probe >/dev/null

# The tracks are made once and kept with the build.
media=$build_dir/bench-media
mkdir -p -- "$media"
make_mp3() { # NAME SOX-ARGS...: NAME.mp3, 44.1 kHz stereo, CBR 128 kbps
  local name=$1 wav=$media/$1.wav
  shift
  [[ -s $media/$name.mp3 ]] && return 0
  echo "bench: generating $name.mp3" >&2
  sox -V1 "$@"
  lame --quiet --cbr -b 128 "$wav" "$media/$name.tmp.mp3"
  mv -- "$media/$name.tmp.mp3" "$media/$name.mp3"
  rm -f -- "$wav"
}
make_mp3 long_10min_128k -n -r 44100 -c 2 -b 16 "$media/long_10min_128k.wav" \
  synth 600 sine 200-2000 pinknoise remix 1v0.4,2v0.1 1v0.1,2v0.4
make_mp3 tone_440 -n -r 44100 -c 2 -b 16 "$media/tone_440.wav" synth 4 sine 440 vol 0.5 fade t 0.01 4 0.01
make_mp3 tone_880 -n -r 44100 -c 2 -b 16 "$media/tone_880.wav" synth 4 sine 880 vol 0.5 fade t 0.01 4 0.01
# Three hours, for how long an open holds the window: the 4-s tone over and over.
if [[ ! -s $media/three_hours.mp3 ]]; then
  for _ in $(seq 2700); do cat -- "$media/tone_440.mp3"; done >"$media/three_hours.tmp.mp3"
  mv -- "$media/three_hours.tmp.mp3" "$media/three_hours.mp3"
fi
# A tag as some rippers write it: the title, then a 20 MB cover picture.
if [[ ! -s $media/picture_20mb.mp3 ]]; then
  python3 - "$media/tone_440.mp3" "$media/picture_20mb.mp3" <<'PY'
import sys
def syncsafe(n): return bytes((n >> s) & 0x7F for s in (21, 14, 7, 0))
def frame(ident, body): return ident + len(body).to_bytes(4, "big") + b"\0\0" + body
frames = frame(b"TIT2", b"\0Cover") + frame(b"APIC", b"\0image/jpeg\0\3\0" + bytes(20 << 20))
audio = open(sys.argv[1], "rb").read()
open(sys.argv[2], "wb").write(b"ID3\3\0\0" + syncsafe(len(frames)) + frames + audio)
PY
fi
# A steady tone cut into five tracks of 1.2 s (528 cycles each) for the holes at track
# changes; lame puts its encoder delay and padding into the header.
if [[ ! -s $media/cut_tone_4.mp3 ]]; then
  sox -V1 -n -r 44100 -c 2 -b 16 "$media/cut_tone.wav" synth 6 sine 440 vol 0.5
  for i in 0 1 2 3 4; do
    sox -V1 "$media/cut_tone.wav" "$media/cut_tone_$i.wav" trim "$(awk -v i="$i" 'BEGIN { print i * 1.2 }')" 1.2
    lame --quiet -b 192 "$media/cut_tone_$i.wav" "$media/cut_tone_$i.tmp.mp3"
    mv -- "$media/cut_tone_$i.tmp.mp3" "$media/cut_tone_$i.mp3"
    rm -f -- "$media/cut_tone_$i.wav"
  done
  rm -f -- "$media/cut_tone.wav"
fi
# A list of 1,000,000 entries naming files that exist: 1,000 folder links to one folder
# of 1,000 hard links to the two tones, so every path is distinct while making it costs
# 2,000 links and a second or two for the list itself.
if [[ ! -s $media/list_1m.m3u ]]; then
  echo "bench: generating list_1m.m3u" >&2
  python3 - "$media" <<'PY'
import os, sys
media = sys.argv[1]
root = os.path.join(media, "百万曲目")
library = os.path.join(root, "曲库")
os.makedirs(library, exist_ok=True)
for track in range(1000):
    name = os.path.join(library, f"曲目 {track:03d}.mp3")
    if not os.path.exists(name):
        os.link(os.path.join(media, "tone_440.mp3" if track % 2 == 0 else "tone_880.mp3"), name)
for album in range(1000):
    name = os.path.join(root, f"专辑 {album:03d}")
    if not os.path.islink(name):
        os.symlink("曲库", name)
lines = ["#EXTM3U"]
for i in range(1000000):
    lines += [f"#EXTINF:235,曲目 {i:07d} 演唱者", f"{root}/专辑 {i // 1000:03d}/曲目 {i % 1000:03d}.mp3"]
with open(os.path.join(media, "list_1m.tmp.m3u"), "wb") as f:
    f.write(("\r\n".join(lines) + "\r\n").encode("gb18030"))
os.replace(os.path.join(media, "list_1m.tmp.m3u"), os.path.join(media, "list_1m.m3u"))
PY
fi
make_mp3 silence_then_tone -n -r 44100 -c 2 -b 16 "$media/silence_then_tone.wav" \
  synth 15 sine 660 vol 0.5 fade t 0.01 15 0.01 pad 15

export VELMORA_BINARY=$build_dir/velmora/velmora
export VELMORA_DECODE_BENCH=$build_dir/decode_bench
export VELMORA_OPEN_BENCH=$build_dir/open_bench
export VELMORA_BARE_WINDOW=$build_dir/bare_window
export VELMORA_DROP_BENCH=$build_dir/drop_bench
export VELMORA_ANSWER_PROBE=$build_dir/answer_probe
export VELMORA_BENCH_MEDIA=$media
export VELMORA_BENCH_QUICK=$quick
export VELMORA_BENCH_LOG=$build_dir/bench.log
export VELMORA_E2E_TIMEOUT=900
echo "bench: measuring (details in $VELMORA_BENCH_LOG)" >&2
exec "$source_dir/tests/e2e/run_e2e.sh" "$source_dir/bench/session.sh"
