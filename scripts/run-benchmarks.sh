#!/bin/sh
# Runs every benchmark program of a build: scripts/run-benchmarks.sh BUILD_DIR [NAME...]
# With names (e.g. format taxid) only those run. The record-manager and browse-list benchmarks
# build a file of 1,000,000 records on their first run (several minutes) and keep it for later
# runs (KAP_BENCH_DIR, $TMPDIR).
set -eu
if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [NAME...]" >&2
  exit 2
fi
dir=$1/bench
shift
if [ $# -eq 0 ]; then
  set -- $(cd "$dir" && ls bench_* | sed 's/^bench_//')
fi
for name in "$@"; do
  echo "== bench_$name"
  "$dir/bench_$name"
done
