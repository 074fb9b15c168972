#!/usr/bin/env bash
# Takes a picture of the panel on a virtual X display (Xvfb), without any
# desktop: for reviewing the layout and the Chinese fonts on a server.
#
#   scripts/screenshot.sh BUILT_TALMIR880 OUT.png [LANGUAGE]
#
# LANGUAGE is the index in the language list: 0 Simplified Chinese (the
# panel's own start, the default), 1 Traditional Chinese, 2 English. The panel
# takes no options, so other languages are picked in its list with xdotool,
# like a user would. Qt variables such as QT_SCALE_FACTOR=2 pass through.
# Builds nothing; needs Xvfb, ImageMagick's import and, for 1 and 2, xdotool.
set -euo pipefail

if [[ $# -lt 2 ]]; then
  sed -n '2,11p' "$0" >&2
  exit 2
fi
binary=$1
out=$2
language=${3:-0}
case $language in 0 | 1 | 2) ;; *) echo "LANGUAGE must be 0, 1 or 2" >&2; exit 2 ;; esac

# Room for the window at QT_SCALE_FACTOR=2.
if [[ ${TALMIR_XVFB:-} != 1 ]]; then
  exec "$(dirname "$0")/xvfb.sh" --screen 1920x1080x24 "$0" "$@"
fi

panel_pid=""
cleanup() {
  if [[ -n $panel_pid ]]; then kill "$panel_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

"$binary" &
panel_pid=$!
sleep 1.5
kill -0 "$panel_pid" 2>/dev/null || { echo "the panel did not start" >&2; exit 1; }

# The window's own id, so that the picture is the window alone.
window=root
if command -v xdotool >/dev/null; then
  window=$(xdotool search --onlyvisible --name 'TALMIR-880' | head -n1 || true)
  window=${window:-root}
fi

if [[ $language != 0 ]]; then
  command -v xdotool >/dev/null || { echo "xdotool is needed for LANGUAGE $language" >&2; exit 1; }
  # Open the language list (Combo3, client pixels 336,286 97x24, times the
  # scale) and walk down to the language.
  scale=${QT_SCALE_FACTOR:-1}
  x=$(awk -v s="$scale" 'BEGIN { printf "%d", (336 + 48) * s }')
  y=$(awk -v s="$scale" 'BEGIN { printf "%d", (286 + 12) * s }')
  xdotool mousemove --window "$window" "$x" "$y" click 1
  sleep 0.5
  for _ in $(seq "$language"); do xdotool key Down; done
  xdotool key Return
  xdotool mousemove 0 0
  sleep 0.5
fi

import -window "$window" "$out"
echo "$out"
