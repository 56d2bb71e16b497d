#!/usr/bin/env bash
# Builds the fuzz harnesses with clang and libFuzzer and runs each, one after the other, for
# SECONDS seconds (one process each: the machine is shared). New coverage goes to a working
# corpus under the build folder; crash, leak, timeout and out-of-memory inputs are kept in
# fuzz/corpus/<target>/, where `make test` replays them. Prints a table at the end.
# Usage: run-fuzz.sh BUILD_DIR SECONDS [TARGET...]
set -euo pipefail

build=${1:?build folder}
seconds=${2:-60}
shift 2 || true
root=$(cd "$(dirname "$0")/.." && pwd)

CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKAP_FUZZ=ON -DKAP_TESTS=OFF -DKAP_SANITIZE=OFF >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=($(sed -n "/^set(fuzz_targets/,/)/p" "$root/fuzz/CMakeLists.txt" | tr -d "()" | sed "s/set//; s/fuzz_targets//"))
fi
cmake --build "$build" --target "${targets[@]/#/fuzz_}"

# The harnesses' scratch folders go to memory when it can hold them: data files sync every
# commit, which on a disk costs more than the run itself.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi

table="$build/fuzz-table.txt"
printf '%-16s %8s %12s %8s %8s\n' target seconds executions coverage findings >"$table"
for t in "${targets[@]}"; do
  work="$build/fuzz-work/$t"
  kept="$root/fuzz/corpus/$t"
  mkdir -p "$work"
  before=$(ls "$kept" | grep -cE '^(crash|leak|timeout|oom)-' || true)
  log="$build/fuzz-$t.log"
  echo "fuzzing $t for ${seconds}s (log: $log)"
  started=$(date +%s)
  "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$kept/" "$work" "$kept" >"$log" 2>&1 || true
  # The time it ran, which a finding cuts short.
  ran=$(($(date +%s) - started))
  after=$(ls "$kept" | grep -cE '^(crash|leak|timeout|oom)-' || true)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  printf '%-16s %8s %12s %8s %8s\n' "$t" "$ran" "${execs:-?}" "${cov:-?}" "$((after - before))" >>"$table"
done
echo
cat "$table"
