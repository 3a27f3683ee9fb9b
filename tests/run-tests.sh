#!/usr/bin/env bash
# Runs the whole test suite of a build folder offscreen, with the private
# PulseAudio and JACK servers running. Exits non-zero when any test fails.
# Arguments after the build folder go to ctest (for example -R tst_Name).
set -u
build_dir=${1:-build-tests}
[[ $# -gt 0 ]] && shift
here=$(cd "$(dirname "$0")" && pwd)

export QT_QPA_PLATFORM=offscreen
export JACK_NO_START_SERVER=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# The device tests must run here: a server that fails to start fails them.
export CDW_REQUIRE_SERVERS=1

# Private sound servers for this run (see audio-servers.sh).
CDW_SOUND_DIR=$(mktemp -d /tmp/cdw-sound.XXXXXX)
export CDW_SOUND_DIR
export PULSE_RUNTIME_PATH="$CDW_SOUND_DIR/pulse"
export PULSE_STATE_PATH="$CDW_SOUND_DIR/pulse/state"
export JACK_DEFAULT_SERVER="cdw-$(basename "$CDW_SOUND_DIR")"

# Temporary files of every test program and the tools it starts (each
# program also keeps its own home and temporary folder, see
# support/TestMain.h); gone with the rest at the end, even after a crash.
export TMPDIR="$CDW_SOUND_DIR/tmp"
mkdir -p "$TMPDIR"

"$here/audio-servers.sh" start
trap '"$here/audio-servers.sh" stop; rm -rf "$CDW_SOUND_DIR"' EXIT

jobs=$(nproc 2>/dev/null || echo 2)
ctest --test-dir "$build_dir" --output-on-failure -j "$jobs" "$@"
