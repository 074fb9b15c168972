#!/usr/bin/env bash
# Regenerates the hicolor icons, and the window's own copy of its icon as a
# PPM (src/app/resources/talmir880.ppm), from the window icon. Run by hand
# when the window icon changes; the results are kept in the repository so a
# build needs no ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/.."

source=src/app/resources/talmir880.png
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The same pixels, for the window to read without libpng (tests/qt compares).
/usr/bin/convert "$source" -depth 8 src/app/resources/talmir880.ppm

# The grey outside the rounded frame becomes transparent; the frame is then
# centred on a square canvas, as icon themes expect square icons.
/usr/bin/convert "$source" -alpha set -fill none -fuzz 2% -draw 'color 0,0 floodfill' \
  -trim +repage "$work/frame.png"
side=$(/usr/bin/identify -format '%[fx:max(w,h)]' "$work/frame.png")
/usr/bin/convert "$work/frame.png" -background none -gravity center -extent "${side}x${side}" \
  "$work/square.png"

for size in 16 24 32 48 64 128 256; do
  mkdir -p "packaging/icons/${size}x${size}"
  /usr/bin/convert "$work/square.png" -filter Lanczos -resize "${size}x${size}" \
    -define png:exclude-chunks=date,time -strip \
    "packaging/icons/${size}x${size}/io.github.talmir880.Panel.png"
done
