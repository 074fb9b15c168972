#!/usr/bin/env bash
# Sets up what is missing, builds everything with warnings as errors and runs
# every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALMIR_WERROR=ON
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
