#!/usr/bin/env bash
# Soak (not run in CI): continuous 9999-point sweeps against the simulator at
# full pace, in cycles of PASSES passes, with an RF entry and a level change
# between cycles. Reports passes completed, commands acknowledged, memory
# after the first ten passes and at the end, and every message shown.
#
#   tests/soak/soak.sh [CYCLES=10] [PASSES=10]
set -euo pipefail
cd "$(dirname "$0")/../.."
cycles=${1:-10}
passes=${2:-10}

cmake --preset bench >/dev/null
cmake --build --preset bench --target talmir880-sweep-harness talmir880-sim >/dev/null

runtime=$(mktemp -d)
export XDG_RUNTIME_DIR=$runtime
build-bench/sim/talmir880-sim --quiet --baud 0 >/dev/null &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null; rm -rf "$runtime"' EXIT
while [ ! -e "$runtime/talmir880/COM9" ]; do sleep 0.05; done

build-bench/bench/talmir880-sweep-harness --points 9999 --cycles "$cycles" --passes "$passes" --changes
