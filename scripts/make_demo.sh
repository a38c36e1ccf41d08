#!/usr/bin/env bash
# Usage: make_demo.sh OUTDIR
# Puts two short demo tracks in OUTDIR/demo and, unless one is already there,
# an OUTDIR/mp3.m3u naming them. An existing mp3.m3u is the user's list and is
# never touched; tracks are only made when missing, so rebuilds cost nothing.
set -euo pipefail

if (($# != 1)); then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
outdir=$(realpath -m -- "$1")
demodir=$outdir/demo
srcdir=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
python=${PYTHON:-python3}
tagger=$srcdir/tests/fixtures/write_tags.py

ARTIST="Velmora 演示"
ALBUM="演示曲集"
# file stem | title | chord length (s) | voicings, one chord per field, notes joined by '-'
TRACKS=(
  "dawn|晨曦|2.4|C3-G3-C4-E4-G4 A2-E3-A3-C4-E4 F2-C3-F3-A3-C4 G2-D3-G3-B3-D4 C3-G3-C4-E4-G4 A2-E3-A3-C4-E4 F2-C3-F3-A3-C4 G2-D3-G3-B3-F4 C3-G3-C4-E4-C5"
  "dusk|暮光|3.2|A2-E3-A3-C4-E4 F2-C3-F3-A3-C4 C3-G3-C4-E4-G4 G2-D3-G3-B3-D4 A2-E3-A3-C4-E4 F2-C3-F3-A3-C4 E2-B2-E3-G#3-B3 A2-E3-A3-C4-A4"
)

work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT
mkdir -p -- "$demodir"

# One chord: plucked strings strummed upwards over a soft sine pad, faded out
# so consecutive chords ring into each other without clicks.
render_chord() { # seconds voicing out.wav
  local seconds=$1 out=$3 notes delays=() plucks=() pad=() i=0 note
  IFS=- read -r -a notes <<<"$2"
  for note in "${notes[@]}"; do
    plucks+=(pluck "$note")
    delays+=("$(printf '0.%02d' $((i * 7)))")
    i=$((i + 1))
  done
  for note in "${notes[@]:0:3}"; do pad+=(sine "$note"); done
  sox -V1 -n -r 44100 -c 1 "$work/pluck.wav" synth "$seconds" "${plucks[@]}" \
    delay "${delays[@]}" remix - trim 0 "$seconds"
  sox -V1 -n -r 44100 -c 1 "$work/pad.wav" synth "$seconds" "${pad[@]}" \
    remix - fade t 0.6 "$seconds" 1.2 vol 0.2
  sox -V1 -m "$work/pluck.wav" "$work/pad.wav" "$out" fade t 0.005 "$seconds" 0.4
}

make_track() { # stem title chord_seconds voicings
  local stem=$1 title=$2 seconds=$3 voicings=$4 mp3=$demodir/$1.mp3 parts=() n=0 v
  for v in $voicings; do
    render_chord "$seconds" "$v" "$work/$stem-$n.wav"
    parts+=("$work/$stem-$n.wav")
    n=$((n + 1))
  done
  sox -V1 "${parts[@]}" -c 2 "$work/wet.wav" reverb 45 50 80 pad 0 1.5
  # Separate pass: after reverb sox no longer knows where the end is.
  sox -V1 "$work/wet.wav" "$work/$stem.wav" fade t 0 -0 1.8 norm -3
  encode "$work/$stem.wav" "$work/$stem.mp3" "$title"
  mv -f -- "$work/$stem.mp3" "$mp3"
}

encode() { # wav mp3 title
  local lame=(lame --quiet --cbr -b 128)
  if [[ -f $tagger ]]; then
    "${lame[@]}" "$1" "$2"
    "$python" "$tagger" "$2" --v23 --title "$3" --artist "$ARTIST" --album "$ALBUM"
  else
    # Without the test tagger (a trimmed source tree), lame writes the tag itself.
    "${lame[@]}" --id3v2-only --id3v2-utf16 --tt "$3" --ta "$ARTIST" --tl "$ALBUM" "$1" "$2"
  fi
}

# Written as the player writes lists: GB18030, CR LF, and "#EXTINF:235," title lines,
# the only ones it takes titles from.
list=$work/mp3.m3u
lines=('#EXTM3U')
for entry in "${TRACKS[@]}"; do
  IFS='|' read -r stem title seconds voicings <<<"$entry"
  [[ -s $demodir/$stem.mp3 ]] || make_track "$stem" "$title" "$seconds" "$voicings"
  lines+=("#EXTINF:235,$title" "$demodir/$stem.mp3")
done
printf '%s\r\n' "${lines[@]}" | iconv -f UTF-8 -t GB18030 >"$list"

# -n: an existing list (the user's) always wins, even one that appeared meanwhile.
[[ -e $outdir/mp3.m3u ]] || mv -n -- "$list" "$outdir/mp3.m3u"
