#!/usr/bin/env bash
# CPU the panel spends following continuous sweeps against the simulator:
# at 57600 baud pacing with each point its own write (the worst case: 1440
# writes a second), at the same pace handed over in 16 ms batches as a USB
# adapter's latency timer does, and with no pacing (as fast as the
# pseudo-terminal allows). Prints CPU seconds per pass, the share of one core,
# characters per second followed, wake-ups per second and whether every pass
# completed.
#
#   bench/sweep_cpu.sh [PASSES_AT_LINE_SPEED=3] [PASSES_UNPACED=50]
#
# Builds the bench preset (Release) if needed; BENCH_BUILD=DIR uses an
# already configured build folder instead.
set -euo pipefail
cd "$(dirname "$0")/.."
paced=${1:-3}
unpaced=${2:-50}

build=${BENCH_BUILD:-}
if [ -z "$build" ]; then
  build="build-bench"
  cmake --preset bench >/dev/null
fi
cmake --build "$build" --target talmir880-sweep-harness talmir880-sim >/dev/null
harness=$build/bench/talmir880-sweep-harness
sim=$build/sim/talmir880-sim

runtime=$(mktemp -d)
export XDG_RUNTIME_DIR=$runtime
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -rf "$runtime"
}
trap cleanup EXIT

measure() {  # PASSES SIMULATOR_FLAGS...
  local passes=$1
  shift
  "$sim" --quiet "$@" >/dev/null &
  sim_pid=$!
  while [ ! -e "$runtime/talmir880/COM9" ]; do sleep 0.05; done
  echo "== 9999-point continuous sweep, simulator $*, $passes passes"
  "$harness" --points 9999 --passes "$passes" || true
  kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}

measure "$paced" --baud 57600
measure "$paced" --baud 57600 --latency-ms 16
measure "$unpaced" --baud 0
