#!/usr/bin/env bash
# Draws the program icon at every size the desktop asks for, from app/resources/velmora.svg
# (velmora_N.png; velmora.png is the 32 x 32 one in 256 colours for the about box), and
# the five toolbar pictures (32 x 32, 256 colours).
# The PNGs are committed; run this again only to change them.
set -euo pipefail
out="$(cd "$(dirname "$0")/.." && pwd)/app/resources/icons"
mkdir -p "$out"
cd "$out"
# A note on a disc, drawn large and scaled down so that every size is sharp.
for size in 16 22 24 32 48 64 128 256; do
  convert -background none -density 384 ../velmora.svg -resize "${size}x${size}" -depth 8 \
    -define png:exclude-chunks=date,time "velmora_$size.png"
done
convert velmora_32.png -colors 256 -define png:exclude-chunks=date,time PNG8:velmora.png
# Open: a folder.
convert -size 32x32 xc:none -fill '#e0a526' -draw 'polygon 3,9 12,9 14,12 29,12 29,27 3,27' \
  -fill '#f5c451' -draw 'polygon 3,27 7,15 31,15 28,27' -colors 256 PNG8:open.png
# Save: a floppy disk.
convert -size 32x32 xc:none -fill '#3b5998' -draw 'roundrectangle 4,4 28,28 2,2' \
  -fill '#ffffff' -draw 'rectangle 9,4 23,13' -fill '#3b5998' -draw 'rectangle 18,6 21,11' \
  -fill '#dfe3ee' -draw 'rectangle 8,18 24,28' -colors 256 PNG8:save.png
# Play: a triangle.
convert -size 32x32 xc:none -fill '#2e9e44' -draw 'polygon 9,5 27,16 9,27' -colors 256 PNG8:play.png
# Pause: two bars.
convert -size 32x32 xc:none -fill '#d98b19' -draw 'rectangle 8,6 13,26' -draw 'rectangle 19,6 24,26' \
  -colors 256 PNG8:pause.png
# Stop: a square.
convert -size 32x32 xc:none -fill '#c0392b' -draw 'rectangle 7,7 25,25' -colors 256 PNG8:stop.png
