#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the program need; with --tests
# also the tools the test suite and the benchmarks use. A fast no-op when all
# are present. Runs as root, or as a user with sudo rights (it asks sudo for
# the installation); never asks questions of its own. JACK's -dev package
# sits on the same line as RtAudio/RtMidi so apt picks jackd2 and never
# removes them later.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-multimedia-dev libqt6opengl6-dev
  libavformat-dev libavcodec-dev libswresample-dev libswscale-dev libavutil-dev
  libmp3lame-dev libstb-dev libmpg123-dev libflac-dev libfluidsynth-dev
  libjack-jackd2-dev jackd2 libasound2-dev librtaudio-dev librtmidi-dev libpulse-dev rapidjson-dev
  qt6-qpa-plugins libqt6multimedia6 fonts-noto-cjk qt6-translations-l10n
)
test_packages=(
  xvfb xauth pulseaudio pulseaudio-utils
  sox libsox-fmt-all ffmpeg flac lame vorbis-tools mpg123 fluidsynth timgm6mb-soundfont
  python3-mido aubio-tools rubberband-cli libfftw3-dev libbenchmark-dev imagemagick
  x11-utils zam-plugins coreutils stress-ng
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

# What is missing comes first, then whether it can be installed here.
echo "install-deps: needs ${missing[*]}"
cannot() {
  echo "install-deps: cannot install them: $1" >&2
  exit 1
}
as_root=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null \
    || cannot "installing packages needs root: run this as root, or give this user sudo rights"
  # With no terminal (CI) sudo cannot ask for a password.
  [[ -t 0 ]] || sudo -n true 2>/dev/null \
    || cannot "sudo needs a password and there is no terminal to type it: give this user sudo without a password"
  as_root=(sudo)
fi
echo "install-deps: installing them${as_root:+ with sudo}"
# sudo starts the command with a clean environment, so the front end is set on
# the command line; jackd2's question (realtime priority for JACK) gets its
# default answer, no, beforehand.
if [[ " ${missing[*]} " == *" jackd2 "* ]]; then
  echo "jackd2 jackd/tweak_rt_limits boolean false" | "${as_root[@]}" debconf-set-selections
fi
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq \
  || cannot "apt-get update failed"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${packages[@]}" \
  || cannot "apt-get install failed"
