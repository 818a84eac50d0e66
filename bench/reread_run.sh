#!/usr/bin/env bash
# The cost of re-reading in fast mode: a 10-minute simulated cassette with intermittent damage
# (left, right, both; chance 0.3) in 30 stretches of 40 frames, archived without and with
# --retries 8. Prints both archive times (the command's own measure of the tape-to-file run),
# the frames recovered and the extra time per recovered frame.
# Usage: bench/reread_run.sh [build folder]
set -euo pipefail
build=${1:-build}
cli=$(realpath "$build/src/cli/tarnvel-cli")
work=$(mktemp -d -t tarnvel-reread-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

frames=20000
"$cli" image make-sample --frames "$frames" tape.tvi >/dev/null
"$cli" sim new --from-image tape.tvi clean.tvs >/dev/null
rm -f tape.tvi
cp clean.tvs damaged.tvs
kinds=(left right both)
for i in $(seq 0 29); do
  first=$((300 + i * 640))
  "$cli" sim damage damaged.tvs --frames "$first-$((first + 39))" --kind "${kinds[$((i % 3))]}" \
    --chance 0.3 --seed "$((i + 1))" >/dev/null
done

archive() { # tape, retries -> "seconds recovered"
  cp damaged.tvs run.tvs
  "$cli" --drive sim:run.tvs archive run --from-here --no-divide --no-report --yes \
    --retries "$1" >out.txt 2>&1
  local took recovered
  took=$(sed -n 's/^Archived in \([0-9.]*\) s.*/\1/p' out.txt)
  recovered=$(sed -n 's/^Re-read [0-9]* bad frames, recovered \([0-9]*\).*/\1/p' out.txt)
  rm -f run*.WAV run.TVC run.tvs
  echo "$took ${recovered:-0}"
}

read -r plain _ <<<"$(archive 0)"
read -r again recovered <<<"$(archive 8)"
printf '10 min tape, 30 damaged stretches: archive %.2f s, with --retries 8 %.2f s, %d frames recovered, %.2f ms per recovered frame\n' \
  "$plain" "$again" "$recovered" "$(echo "($again - $plain) * 1000 / $recovered" | bc -l)"
