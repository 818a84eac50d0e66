#!/usr/bin/env bash
# Builds the Debian package build-release/tarnvel_<version>_<arch>.deb: a Release build of the
# programs with the distribution's compiler and linker flags, installed under /usr and packed
# by CPack, which takes the dependencies from dpkg-shlibdeps. Prints the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
./tools/setup.sh >&2

dir=build-release
# Stack protector, fortified functions, format checks and full RELRO as Debian builds its own
# packages; no -g, the programs are shipped stripped. Warnings are not errors here: the
# warnings-as-errors build of tools/test.sh is the gate, and optimised builds of GCC 12 warn
# falsely inside the standard library.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags=" $(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS) "
cxxflags=${cxxflags// -g / }
ldflags=$(dpkg-buildflags --get LDFLAGS)
# The dates inside the package (AppStream release, changelog) are the last commit's.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
fi
export SOURCE_DATE_EPOCH

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DTARNVEL_BUILD_TESTS=OFF -DTARNVEL_BUILD_BENCH=OFF -DTARNVEL_WERROR=OFF \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >&2
cmake --build "$dir" -j "$(nproc)" >&2
rm -f "$dir"/tarnvel_*.deb
(cd "$dir" && cpack -G DEB >&2)
ls "$PWD/$dir"/tarnvel_*.deb
