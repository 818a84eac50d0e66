#!/usr/bin/env bash
# Remakes the manual's pictures of every window (docs/screenshots/) from the real program on
# the demo cassette, under a virtual X server. Run after a change to a window.
set -euo pipefail
cd "$(dirname "$0")/.."
./tools/setup.sh
build=${BUILD:-build}
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j "$(nproc)" --target tarnvel-screenshots tarnvel-cli
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

# The quality-control page of the demo tape's archive in headless Chromium, at a desktop's and
# at a phone's width (its own profile; the flags keep it off the network).
cli=$(realpath "$build/src/cli/tarnvel-cli")
"$cli" sim demo "$home/demo.tvs" >/dev/null
mkdir -p "$home/archive"
# From program 1 on: the lead-in's silent file would open the page.
run "$cli" --drive "sim:$home/demo.tvs" locate --pno 1 >/dev/null
(cd "$home/archive" && run "$cli" --drive "sim:$home/demo.tvs" archive T017 --from-here \
  --label "T017 Demo tape" >/dev/null)
shoot() {
  run chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$home/chromium-$1" --hide-scrollbars --virtual-time-budget=5000 \
    --screenshot="$PWD/docs/screenshots/$1.png" "${@:2}" 2>/dev/null
}
page="file://$home/archive/T017.html"
shoot qc-page --window-size=1280,1640 "$page"
# On the phone: the header and program 1 with its error frame.
shoot qc-page-phone --window-size=390,1800 "$page"
