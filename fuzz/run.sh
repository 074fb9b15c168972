#!/usr/bin/env bash
# Builds the fuzz targets with the fuzz preset and runs each for a while.
#   fuzz/run.sh [seconds] [target ...]     (default: 60 s, every target)
# FUZZ_JOBS targets run at once (default: the number of cores).
# FUZZ_IGNORE_CRASHES=1 keeps going after a finding (libFuzzer fork mode); the
# many reproducers of such a run go to build-fuzz/fuzz-crashes/ instead, and
# the summary names each distinct broken property once.
# New inputs go to build-fuzz/fuzz-corpus/<target>, so the seeds stay as they
# are; reproducers land in fuzz/findings/<target>-crash-<sha1> and the like.
set -u -o pipefail

seconds=${1:-60}
shift || true
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 1
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_numbers fuzz_send_entry fuzz_sweep_setup fuzz_receive
                                     fuzz_sim_parser fuzz_scpi fuzz_vxi11 fuzz_web)
jobs=${FUZZ_JOBS:-$(nproc)}

cmake --preset fuzz >/dev/null && cmake --build --preset fuzz || exit 1

bin=$root/build-fuzz/fuzz
work=$root/build-fuzz/fuzz-corpus
logs=$root/build-fuzz/fuzz-logs
findings=fuzz/findings
[ "${FUZZ_IGNORE_CRASHES:-0}" = 1 ] && findings=build-fuzz/fuzz-crashes
mkdir -p "$work" "$logs" "$findings"

run_one() {
  local target=$1
  local extra=()
  [ -f "fuzz/$target.dict" ] && extra+=("-dict=fuzz/$target.dict")
  [ "${FUZZ_IGNORE_CRASHES:-0}" = 1 ] && extra+=(-fork=1 -ignore_crashes=1)
  mkdir -p "$work/$target"
  touch "$logs/$target.start"
  "$bin/$target" "$work/$target" "fuzz/corpus/$target" -max_total_time="$seconds" \
    -timeout=10 -print_final_stats=1 -artifact_prefix="$findings/$target-" "${extra[@]}" \
    >"$logs/$target.log" 2>&1
  echo $? >"$logs/$target.rc"
}

report() {
  local target=$1 log=$logs/$1.log
  local runs
  # Fork mode counts every job's runs on its "#N:" lines; otherwise the final stats.
  runs=$(grep -o '^#[0-9]*:' "$log" | tr -d '#:' | tail -n 1)
  [ -n "$runs" ] || runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" |
                            grep -o '[0-9]*$' | tail -n 1)
  [ -n "$runs" ] || runs=$(grep -o '^Done [0-9]* runs' "$log" | grep -o '[0-9]*' | tail -n 1)
  local found
  found=$(find "$findings" -name "$target-*" -newer "$logs/$target.start" 2>/dev/null)
  printf '%-18s exit %-3s executions %-12s findings %s\n' "$target" "$(cat "$logs/$target.rc")" \
    "${runs:-?}" "$(echo "$found" | grep -c .)"
  [ -n "$found" ] || return 0
  [ "$findings" = fuzz/findings ] && echo "$found" | sed 's/^/    /'
  # What each reproducer breaks, told once per kind.
  local f broken
  for f in $found; do
    broken=$("$bin/$target" "$f" 2>&1 | grep -m 1 -E \
      'PROPERTY VIOLATED|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error')
    echo "${broken:-(does not reproduce alone: $f)}"
  done | sort | uniq -c | sed 's/^/    /'
}

echo "Running ${#targets[@]} target(s) for $seconds s each, $jobs at a time; logs in $logs"
running=0
for target in "${targets[@]}"; do
  if [ ! -x "$bin/$target" ]; then
    echo "$target: not built" >&2
    continue
  fi
  run_one "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

status=0
for target in "${targets[@]}"; do
  [ -f "$logs/$target.rc" ] || continue
  report "$target"
  [ "$(cat "$logs/$target.rc")" = 0 ] || status=1
done
exit $status
