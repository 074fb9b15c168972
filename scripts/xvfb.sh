#!/usr/bin/env bash
# Runs COMMAND on a private virtual X display (Xvfb) and removes the server
# afterwards: for the scripts and benchmarks that need a display, on a
# desktop or a server alike.
#
#   scripts/xvfb.sh [--screen WxHxD] COMMAND [ARGS...]
#
# The screen is 1280x1024x24 unless given, with a black root window and no
# window manager. COMMAND sees DISPLAY, QT_QPA_PLATFORM=xcb and TALMIR_XVFB=1
# (a script that re-runs itself under this one looks for it) and no
# WAYLAND_DISPLAY; the exit status is COMMAND's.
set -euo pipefail

screen=1280x1024x24
if [[ ${1:-} == --screen ]]; then
  screen=$2
  shift 2
fi
if [[ $# -eq 0 ]]; then
  sed -n '2,11p' "$0" >&2
  exit 2
fi
command -v Xvfb >/dev/null || { echo "xvfb.sh: needs Xvfb (scripts/deps.sh installs it)" >&2; exit 2; }

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  if [[ -n $xvfb_pid ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and tells its number on fd 3 once it
# accepts connections.
Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -br 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ -s $work/display ]] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.05
done
if [[ ! -s $work/display ]]; then
  echo "xvfb.sh: Xvfb did not start:" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi

DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY QT_QPA_PLATFORM=xcb TALMIR_XVFB=1
unset WAYLAND_DISPLAY
status=0
"$@" || status=$?
exit "$status"
