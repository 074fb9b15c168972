#!/usr/bin/env bash
# Where the panel's start-up goes, step by step: talmir880-startup-phases
# (the real window, as main() makes it) started RUNS times under a private
# Xvfb (scripts/xvfb.sh), each run quitting at its first painted frame.
# Prints the median CPU milliseconds of the main thread in each step, the
# main thread's total and the whole process's (all threads, from exec).
#
#   bench/startup_phases.sh [RUNS=21] [PROGRAM=build-bench/bench/talmir880-startup-phases]
#
# Builds the bench preset (Release) when PROGRAM is not given.
set -euo pipefail
[[ ${TALMIR_XVFB:-} == 1 ]] || exec "$(dirname "$0")/../scripts/xvfb.sh" "$0" "$@"
cd "$(dirname "$0")/.."
runs=${1:-21}
program=${2:-}
if [[ -z "$program" ]]; then
  cmake --preset bench >/dev/null
  cmake --build --preset bench --target talmir880-startup-phases >/dev/null
  program=build-bench/bench/talmir880-startup-phases
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime"
unset SESSION_MANAGER

"$program" >/dev/null  # warm-up
for ((i = 0; i < runs; i++)); do "$program"; done >"$work/runs"

echo "median of $runs runs, CPU ms; load average $(cut -d' ' -f1-3 /proc/loadavg)"
awk '{for (i = 1; i < NF; i += 2) {names[i] = $i; v[i, NR] = $(i + 1)}; fields = NF}
  END {
    for (i = 1; i < fields; i += 2) {
      n = 0
      for (r = 1; r <= NR; r++) a[++n] = v[i, r]
      for (x = 1; x <= n; x++) for (y = x + 1; y <= n; y++) if (a[y] < a[x]) {t = a[x]; a[x] = a[y]; a[y] = t}
      printf "  %-13s %7.2f\n", names[i], (n % 2) ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
  }' "$work/runs"
