#!/usr/bin/env bash
# What the panel costs while it waits: the real talmir880 under a private
# Xvfb (scripts/xvfb.sh), no timer armed, over SECONDS idle seconds with the
# port closed, then again with the port open on an idle simulator (PORT OPEN
# is clicked with xdotool). Reports CPU time (from /proc/PID/task/*/schedstat, nanoseconds)
# and wake-ups (voluntary context switches), each thread on its own.
#
#   bench/idle_cpu.sh [BUILD=build] [SECONDS=10]
#
# The panel and the simulator are those of the build folder BUILD.
set -euo pipefail
[[ ${TALMIR_XVFB:-} == 1 ]] || exec "$(dirname "$0")/../scripts/xvfb.sh" "$0" "$@"
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-10}
panel=$build/src/programs/talmir880/talmir880
sim=$build/sim/talmir880-sim
command -v xdotool >/dev/null || { echo "idle_cpu.sh: needs xdotool" >&2; exit 2; }
[[ -x "$panel" && -x "$sim" ]] || { echo "idle_cpu.sh: no $panel or $sim" >&2; exit 2; }

runtime=$(mktemp -d)
export XDG_RUNTIME_DIR=$runtime
sim_pid="" panel_pid=""
cleanup() {
  for pid in $panel_pid $sim_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$runtime"
}
trap cleanup EXIT

"$sim" --quiet >/dev/null &
sim_pid=$!
while [[ ! -e "$runtime/talmir880/COM9" ]]; do sleep 0.05; done

"$panel" >/dev/null 2>&1 &
panel_pid=$!
sleep 2

# One line per thread: id, name, run time in ns, voluntary context switches.
sample() {
  for task in /proc/"$panel_pid"/task/*; do
    printf '%s %s %s %s\n' "${task##*/}" "$(tr ' ' _ <"$task/comm")" \
      "$(cut -d' ' -f1 "$task/schedstat")" \
      "$(awk '/^voluntary_ctxt_switches/ {print $2}' "$task/status")"
  done
}

# measure LABEL: sleeps SECONDS and prints what each thread used meanwhile.
measure() {
  local before after
  before=$(sample)
  sleep "$seconds"
  after=$(sample)
  echo "== $1, over $seconds s"
  # A thread that started meanwhile counts from zero.
  awk -v s="$seconds" 'NR == FNR {ns[$1] = $3; cs[$1] = $4; next}
    {dns = $3 - ns[$1]; dcs = $4 - cs[$1]; tns += dns; tcs += dcs
     printf "  %-18s CPU %8.3f ms   wake-ups %5d\n", $2, dns / 1e6, dcs}
    END {printf "  %-18s CPU %8.3f ms   wake-ups %5d (%.1f a second)\n", "all threads", tns / 1e6, tcs, tcs / s}' \
    <(echo "$before" | sort) <(echo "$after" | sort)
}

measure "port closed, no timer armed"

# PORT OPEN sits at twips (240, 600), 1335 x 495: its middle is pixel (60, 56).
window=$(xdotool search --sync --onlyvisible --pid "$panel_pid" | head -n1)
xdotool mousemove --window "$window" 60 56 click 1
sleep 1
device=$(readlink "$runtime/talmir880/COM9")
opened=""
for fd in /proc/"$panel_pid"/fd/*; do
  [[ "$(readlink "$fd")" == "$device" ]] && opened=1
done
[[ -n "$opened" ]] || { echo "idle_cpu.sh: the panel did not open COM9" >&2; exit 1; }
measure "port open on an idle simulator, no timer armed"
