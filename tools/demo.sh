#!/usr/bin/env bash
# Installs what is missing, builds the command-line deck and runs it against the built-in
# simulated drive holding a freshly made demo tape: the drive is found and switched to audio
# mode, the tape is located by program number and read from there in the next command (the
# cassette keeps its place between runs, as a tape in a real drive does), located by ABS
# time, and read with its IDs learned. Then the main job: the whole tape archived to WAV
# files split at its program numbers, with the cue list of every file and error frame and a
# report that `verify` checks, and one program played through the deck (to the null device,
# as fast as the drive gives frames).
set -euo pipefail
cd "$(dirname "$0")/.."
./tools/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target tarnvel-cli
cli=build/src/cli/tarnvel-cli

work=${TARNVEL_DEMO_DIR:-$(mktemp -d -t tarnvel-demo-XXXXXX)}
mkdir -p "$work"
tape="$work/demo.tvs"
rm -f "$tape"
run() { echo; echo "\$ tarnvel-cli $*"; "$cli" "$@"; }

run sim demo "$tape"
run sim info "$tape"
run --drive "sim:$tape" drives
# Ready, at the first frame of the tape, in the lead-in.
run --drive "sim:$tape" status
# Each run continues where the last one left the tape.
run --drive "sim:$tape" locate --pno 2
run --drive "sim:$tape" read --count 1 --dump
run --drive "sim:$tape" locate --abs 00:00:40:00
run --drive "sim:$tape" position
run --drive "sim:$tape" rewind
# The whole recording, with the IDs learned on the way (its last lines).
echo; echo "\$ tarnvel-cli --drive sim:$tape read --count 2475 --ids | tail -n 12"
"$cli" --drive "sim:$tape" read --count 2475 --ids | tail -n 12

archive="$work/archive"
mkdir -p "$archive"
run --drive "sim:$tape" archive "$archive/tape"
echo
echo "\$ ls -l $archive"
ls -l "$archive"
echo
echo "\$ cat $archive/tape.TVC"
cat "$archive/tape.TVC"
run wav info "$archive/tape01_240517143000.WAV"
run verify "$archive/tape.log"
run --drive "sim:$tape" play --from-pno 2 --fast
echo
echo "The demo tape is $tape; try: $cli --drive sim:$tape --help"
