#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Idempotent and quick when everything is already there; run as root (or with sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config git
  clang clang-format libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libcli11-dev
  sox libsndfile1-dev sndfile-programs bc time
  librtaudio-dev libasound2-dev pulseaudio pulseaudio-utils jackd2 libasound2-plugins alsa-utils
  # Desktop program: Qt 6 Widgets (with QTest and the offscreen platform), a font for the
  # offscreen tests, and a virtual X server for the screenshots.
  qt6-base-dev qt6-qpa-plugins fonts-dejavu-core xvfb xauth
  # The Debian package (tools/package.sh) and its install test in a clean root: icons rendered
  # from the SVG, dpkg-shlibdeps, and the checkers of the package and its desktop files.
  dpkg-dev librsvg2-bin debootstrap lintian appstream desktop-file-utils man-db
  # Quality-control page of an archive: loudness and true peak, the spectrogram's FFT, the
  # pictures; ffmpeg as an independent loudness meter and Chromium to load the page in tests.
  libebur128-dev libfftw3-dev libcairo2-dev ffmpeg chromium
  # Archive formats and the shelf's state file: FLAC through libFLAC++, the JSON metadata through nlohmann-json; the
  # flac/metaflac tools and a JSON Schema validator check the output in tests.
  libflac++-dev flac nlohmann-json3-dev python3-jsonschema
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  # jackd2 asks whether to raise real-time limits; tests run it without them.
  echo "jackd2 jackd/tweak_rt_limits boolean false" | "${sudo_cmd[@]}" debconf-set-selections
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
