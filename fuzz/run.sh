#!/usr/bin/env bash
# Builds every fuzz target with libFuzzer (clang, the fuzz preset, with
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs each for a
# number of runs, as many at a time as the machine has cores. Prints one line
# per target: runs, runs per second, findings.
#
#   fuzz/run.sh [-runs=N] [-jobs=N] [TARGET...]
#
# N runs per target (default 10000000); targets default to all. New inputs
# that reach new code are kept in build/fuzz/corpus/TARGET; a finding (crash,
# leak, timeout, out of memory) is saved in build/fuzz/findings and stops its
# target. Exits 1 when any target has a finding.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=10000000
jobs=$(nproc)
targets=()
for arg in "$@"; do
  case "$arg" in
    -runs=*) runs=${arg#-runs=} ;;
    -jobs=*) jobs=${arg#-jobs=} ;;
    -*) echo "usage: fuzz/run.sh [-runs=N] [-jobs=N] [TARGET...]" >&2; exit 2 ;;
    *) targets+=("$arg") ;;
  esac
done
if [ ${#targets[@]} -eq 0 ]; then
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

command -v clang++ >/dev/null || tools/install-dependencies.sh clang
cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j "$jobs" --target "${targets[@]}" >/dev/null

out=build/fuzz/runs
findings=build/fuzz/findings
mkdir -p "$out" "$findings"
# The settings target writes a file per run: in memory where the machine has it.
tmp=${TMPDIR:-/tmp}
[ -w /dev/shm ] && tmp=/dev/shm

fuzz_one() {
  local target=$1
  mkdir -p "build/fuzz/corpus/$target"
  rm -f "$findings/$target-"*
  TMPDIR=$tmp "build/fuzz/fuzz/$target" -runs="$runs" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$findings/$target-" "build/fuzz/corpus/$target" "fuzz/corpus/$target" \
    >"$out/$target.log" 2>&1 || true
}

running=0
for target in "${targets[@]}"; do
  fuzz_one "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

status=0
for target in "${targets[@]}"; do
  log="$out/$target.log"
  done_runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  per_second=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  found=$(find "$findings" -name "$target-*" | wc -l)
  printf '%-20s runs %10s  runs/s %7s  findings %s\n' "$target" "${done_runs:-?}" "${per_second:-?}" "$found"
  if [ "$found" -ne 0 ] || [ -z "$done_runs" ]; then
    status=1
    find "$findings" -name "$target-*" -printf '  %p\n'
    [ -z "$done_runs" ] && echo "  no final statistics: see $log"
  fi
done
exit $status
