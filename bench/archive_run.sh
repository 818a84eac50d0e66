#!/usr/bin/env bash
# Archiving a whole simulated cassette (fast mode) against a plain copy of the same number of
# bytes on this machine, for a 10- and a 60-minute tape: wall time, the ratio of the archive's
# speed to the copy's (target: at least 0.5), without and with the quality check, and the
# archive's peak memory (target: flat in tape length). The archive's time is the tape-to-file
# run as the command reports it (with the check: plus "Checked in"); the whole command adds
# start-up and tape loading. The tape starts at its beginning, so the run skips the rewind and its
# motion wait. Usage: bench/archive_run.sh [build folder]
set -euo pipefail
build=${1:-build}
cli=$(realpath "$build/src/cli/tarnvel-cli")
work=$(mktemp -d -t tarnvel-archive-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

seconds() { date +%s.%N; }

for minutes in 10 60; do
  frames=$((minutes * 2000))
  "$cli" image make-sample --frames "$frames" tape.tvi >/dev/null
  "$cli" sim new --from-image tape.tvi "tape$minutes.tvs" >/dev/null
  rm -f tape.tvi
  bytes=$((frames * 5760))

  start=$(seconds)
  /usr/bin/time -f "%M" -o rss.txt "$cli" --drive "sim:tape$minutes.tvs" archive "a$minutes" --from-here \
    --no-divide --no-report --no-qc --yes >out.txt 2>&1
  whole=$(echo "$(seconds) - $start" | bc)
  # The command's own measure of the tape-to-file run, without start-up and tape loading.
  archive=$(sed -n 's/^Archived in \([0-9.]*\) s.*/\1/p' out.txt)
  rss=$(cat rss.txt)

  # The same with the quality check (figures and page) after the run.
  "$cli" --drive "sim:tape$minutes.tvs" rewind >/dev/null
  "$cli" --drive "sim:tape$minutes.tvs" archive "q$minutes" --from-here --no-divide --no-report \
    --yes >qc.txt 2>&1
  run=$(sed -n 's/^Archived in \([0-9.]*\) s.*/\1/p' qc.txt)
  check=$(sed -n 's/^Checked in \([0-9.]*\) s.*/\1/p' qc.txt)
  withqc=$(echo "$run + $check" | bc)

  head -c "$bytes" /dev/urandom > src.bin
  sync
  start=$(seconds)
  cp src.bin dst.bin
  sync
  copy=$(echo "$(seconds) - $start" | bc)
  rm -rf src.bin dst.bin "a$minutes"*.WAV "a$minutes".TVC "q$minutes"* "tape$minutes.tvs"

  printf '%3d min tape: archive %6.2f s (whole command %.2f s), plain copy of %d MB %6.2f s, ratio %.2f (target >= 0.5), peak memory %d KiB\n' \
    "$minutes" "$archive" "$whole" $((bytes / 1000000)) "$copy" "$(echo "$copy / $archive" | bc -l)" "$rss"
  printf '%3d min tape: with the quality check %6.2f s (check %.2f s), ratio %.2f (target >= 0.5)\n' \
    "$minutes" "$withqc" "$check" "$(echo "$copy / $withqc" | bc -l)"
done
