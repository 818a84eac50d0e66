#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test suite: the normal build (warnings
# as errors), all suites again under AddressSanitizer+UBSan, and the threaded suites under
# ThreadSanitizer; then builds the Debian package and tests it installed in a clean root.
set -euo pipefail
cd "$(dirname "$0")/.."
./tools/setup.sh

jobs=$(nproc)
configure() { cmake -S . -B "$1" -G Ninja -DTARNVEL_WERROR=ON "${@:2}" >/dev/null; }

configure build
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 600

# The desktop program is built and tested in the normal build only: Qt is not instrumented,
# and the threads behind its window are the engine suites' business.
configure build-asan -DTARNVEL_SANITIZE=address -DTARNVEL_BUILD_BENCH=OFF -DTARNVEL_BUILD_GUI=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 900

# Suites whose code runs threads (drive motion, sound, engine, the link, the command line's
# recordings and signals) again under TSan.
threaded_labels="sim|sound|engine|record|app|link|cli"
targets=()
for d in sim sound engine record app link cli; do
  [ -d "tests/$d" ] && targets+=("test_$d")
done
if [ ${#targets[@]} -gt 0 ]; then
  configure build-tsan -DTARNVEL_SANITIZE=thread -DTARNVEL_BUILD_BENCH=OFF -DTARNVEL_BUILD_GUI=OFF
  cmake --build build-tsan -j "$jobs" --target tarnvel-cli "${targets[@]}"
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ctest --test-dir build-tsan --output-on-failure -j "$jobs" --timeout 900 -L "$threaded_labels"
fi

# The Debian package from one Release build, installed with apt into a clean Debian 12 root
# and run there; lintian and the desktop file validators on it.
deb=$(./tools/package.sh)
./tools/package-test.sh "$deb"
