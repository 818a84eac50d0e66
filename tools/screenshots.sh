#!/usr/bin/env bash
# Remakes the manual's pictures of every window (docs/screenshots/) from the real program on
# the demo cassette, under a virtual X server. Run after a change to a window.
set -euo pipefail
cd "$(dirname "$0")/.."
./tools/setup.sh
build=${BUILD:-build}
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j "$(nproc)" --target tarnvel-screenshots
# A fresh home: the settings, locks and data of the run stay out of the user's own.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
run() {
  HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home" \
    QT_QPA_PLATFORM=xcb "$@"
}
run xvfb-run -a -s "-screen 0 1280x900x24" "$build/src/gui/tarnvel-screenshots" docs/screenshots
# The main window once more at twice the scale, as on a high-resolution screen.
run env QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 2560x1800x24" \
  "$build/src/gui/tarnvel-screenshots" docs/screenshots main-window-2x.png
