#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test suite: the normal build (warnings
# as errors), all suites again under AddressSanitizer+UBSan, and the threaded suites under
# ThreadSanitizer; then builds the Debian package and tests it installed in a clean root.
set -euo pipefail
cd "$(dirname "$0")/.."
./tools/setup.sh

jobs=$(nproc)
# Each stage's time, so that a slow CI run shows where its minutes went.
stage() { echo "== $(date -u +%H:%M:%S) after ${SECONDS}s: $*"; }
# Most scenario tests wait on a drive at deck speed or on a second process rather than compute,
# so twice as many run side by side as there are cores (every test must pass in company).
test_jobs=$((jobs * 2))
configure() { cmake -S . -B "$1" -G Ninja -DTARNVEL_WERROR=ON "${@:2}" >/dev/null; }

# The clean Debian root of the package's install test is made beside the builds (it downloads and
# unpacks while they compile).
prepare_log=$(mktemp)
./tools/package-test.sh --prepare >"$prepare_log" 2>&1 &
prepare=$!

stage "normal build"
configure build
cmake --build build -j "$jobs"
stage "normal tests"
ctest --test-dir build --output-on-failure -j "$test_jobs" --timeout 600

# The desktop program is built and tested in the normal build only: Qt is not instrumented,
# and the threads behind its window are the engine suites' business.
stage "AddressSanitizer build"
configure build-asan -DTARNVEL_SANITIZE=address -DTARNVEL_BUILD_BENCH=OFF -DTARNVEL_BUILD_GUI=OFF
cmake --build build-asan -j "$jobs"
stage "AddressSanitizer tests"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$test_jobs" --timeout 900

# Suites whose code runs threads (drive motion, sound, engine, the link, the command line's
# recordings and signals, the quality check's measuring threads, the shelf's claim renewal and
# parallel claims) again under TSan.
threaded_labels="sim|sound|engine|record|app|link|cli|qc|shelf"
targets=()
for d in sim sound engine record app link cli qc shelf; do
  [ -d "tests/$d" ] && targets+=("test_$d")
done
if [ ${#targets[@]} -gt 0 ]; then
  stage "ThreadSanitizer build"
  configure build-tsan -DTARNVEL_SANITIZE=thread -DTARNVEL_BUILD_BENCH=OFF -DTARNVEL_BUILD_GUI=OFF
  cmake --build build-tsan -j "$jobs" --target tarnvel-cli "${targets[@]}"
  stage "ThreadSanitizer tests"
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ctest --test-dir build-tsan --output-on-failure -j "$test_jobs" --timeout 900 -L "$threaded_labels"
fi

# The Debian package from one Release build, installed with apt into a clean Debian 12 root
# and run there; lintian and the desktop file validators on it.
stage "package"
deb=$(./tools/package.sh)
stage "package install test"
wait "$prepare" || { cat "$prepare_log"; exit 1; }
./tools/package-test.sh "$deb"
stage "done"
