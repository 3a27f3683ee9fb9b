#!/usr/bin/env bash
# Runs every benchmark program of a release build folder. Each prints its
# figures beside the outside reference measured in the same run. Only the
# programs run: the build also leaves folders named like them there.
set -u
build_dir=${1:-build}
export QT_QPA_PLATFORM=offscreen
failed=()
for program in "$build_dir"/bench/bench_*; do
  [[ -f "$program" && -x "$program" ]] || continue
  echo "== $(basename "$program")"
  "$program" || failed+=("$(basename "$program")")
done
if ((${#failed[@]})); then
  echo "benchmarks that failed or missed a goal: ${failed[*]}"
  exit 1
fi
