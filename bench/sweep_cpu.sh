#!/usr/bin/env bash
# CPU the panel spends following continuous sweeps against the simulator:
# at 57600 baud pacing (the real line) and with no pacing (as fast as the
# pseudo-terminal allows). Prints CPU seconds per pass, the share of one core,
# characters per second followed and whether every pass completed.
#
#   bench/sweep_cpu.sh [PASSES_AT_LINE_SPEED=3] [PASSES_UNPACED=50]
#
# Builds the bench preset (Release) if needed.
set -euo pipefail
cd "$(dirname "$0")/.."
paced=${1:-3}
unpaced=${2:-50}

cmake --preset bench >/dev/null
cmake --build --preset bench --target talmir880-sweep-harness talmir880-sim >/dev/null
harness=build-bench/bench/talmir880-sweep-harness
sim=build-bench/sim/talmir880-sim

runtime=$(mktemp -d)
export XDG_RUNTIME_DIR=$runtime
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -rf "$runtime"
}
trap cleanup EXIT

measure() {  # BAUD PASSES
  "$sim" --quiet --baud "$1" >/dev/null &
  sim_pid=$!
  while [ ! -e "$runtime/talmir880/COM9" ]; do sleep 0.05; done
  echo "== 9999-point continuous sweep, simulator at --baud $1, $2 passes"
  "$harness" --points 9999 --passes "$2" || true
  kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}

measure 57600 "$paced"
measure 0 "$unpaced"
