#!/usr/bin/env bash
# CPU the panel uses while it waits: the real talmir880 under Xvfb, port
# open on the simulator and closed, no timer armed, over 10 idle seconds.
#
#   bench/idle_cpu.sh [PANEL=build/src/talmir880] [SECONDS=10]
set -euo pipefail
cd "$(dirname "$0")/.."
panel=${1:-build/src/talmir880}
seconds=${2:-10}

runtime=$(mktemp -d)
export XDG_RUNTIME_DIR=$runtime
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1024x480x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $panel_pid $xvfb 2>/dev/null; rm -rf "$runtime"' EXIT
sleep 0.5
DISPLAY=$display "$panel" >/dev/null 2>&1 &
panel_pid=$!
sleep 2

ticks() { awk '{print $14 + $15}' "/proc/$panel_pid/stat"; }
hz=$(getconf CLK_TCK)
before=$(ticks)
sleep "$seconds"
after=$(ticks)
echo "idle CPU over ${seconds} s: $(( (after - before) * 1000 / hz )) ms (port closed, no timer armed)"
