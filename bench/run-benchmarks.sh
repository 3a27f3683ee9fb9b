#!/usr/bin/env bash
# Runs every benchmark program of a release build folder. Each prints its
# figures beside the outside reference measured in the same run.
set -u
build_dir=${1:-build}
export QT_QPA_PLATFORM=offscreen
status=0
for program in "$build_dir"/bench/bench_*; do
  [[ -x "$program" ]] || continue
  echo "== $(basename "$program")"
  "$program" || status=1
done
exit $status
