#!/usr/bin/env bash
# Sets up what is missing, builds, starts the device simulator on COM9 and
# the panel; arguments go to the panel (--listen serves SCPI too). Press the
# open button and tune.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "talmir880: no display. Run this in a desktop session, or under xvfb-run: xvfb-run -a $0" >&2
  exit 2
fi

scripts/deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target talmir880 talmir880-sim

"$build/sim/talmir880-sim" --port 9 &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null' EXIT
"$build/src/programs/talmir880/talmir880" "$@"
