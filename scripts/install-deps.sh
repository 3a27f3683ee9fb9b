#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the program need; with --tests
# also the tools the test suite and the benchmarks use. A fast no-op when all
# are present. JACK's -dev package sits on the same line as RtAudio/RtMidi so
# apt picks jackd2 and never removes them later.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-multimedia-dev libqt6opengl6-dev
  libavformat-dev libavcodec-dev libswresample-dev libswscale-dev libavutil-dev
  libmp3lame-dev libstb-dev libmpg123-dev libflac-dev libfluidsynth-dev
  libjack-jackd2-dev jackd2 librtaudio-dev librtmidi-dev rapidjson-dev
  qt6-qpa-plugins libqt6multimedia6 fonts-noto-cjk
)
test_packages=(
  xvfb xauth pulseaudio pulseaudio-utils
  sox libsox-fmt-all ffmpeg flac lame vorbis-tools mpg123 fluidsynth timgm6mb-soundfont
  python3-mido aubio-tools rubberband-cli libfftw3-dev libbenchmark-dev imagemagick
  x11-utils zam-plugins coreutils
)

if [[ "${1:-}" == "--tests" ]]; then
  packages+=("${test_packages[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${packages[@]}"
