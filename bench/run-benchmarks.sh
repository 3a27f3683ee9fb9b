#!/usr/bin/env bash
# Runs every benchmark program of a release build folder. Each prints its
# figures beside the outside reference measured in the same run. Only the
# programs run: the build also leaves folders named like them there. A
# benchmark whose program is missing counts as failed, as does one that
# fails, crashes or misses a goal; the exit status is then 1.
set -u
build_dir=${1:-build}
source_dir=$(dirname "$0")
export QT_QPA_PLATFORM=offscreen
# Temporary files of the programs and the reference tools, removed at the
# end (each program also keeps its settings in folders of its own).
TMPDIR=$(mktemp -d "${TMPDIR:-/tmp}/cdw-bench.XXXXXX") || exit 1
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT
failed=()
for source in "$source_dir"/bench_*.cpp; do
  name=$(basename "$source" .cpp)
  program="$build_dir/bench/$name"
  if [[ ! -f "$program" || ! -x "$program" ]]; then
    echo "== $name: not built"
    failed+=("$name (not built)")
    continue
  fi
  echo "== $name"
  "$program" || failed+=("$name")
done
if ((${#failed[@]})); then
  echo "benchmarks that failed or missed a goal: ${failed[*]}"
  exit 1
fi
