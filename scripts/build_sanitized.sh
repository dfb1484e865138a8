#!/usr/bin/env bash
# Configures (once) and builds the unit tests with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ (or $VELDMIX_SANITIZED_BUILD): the core library only, but for the drawing and
# shell folders it links from the plain build (VELDMIX_SANITIZE_SHARED), together with the plain
# build's compiled tests, into the test binary; the programs the tests start are the plain build's
# too (build/ or $VELDMIX_BUILD, made by build.sh first).
# Run its unit tests with `ctest` in that folder.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VELDMIX_SANITIZED_BUILD:-$root/build-asan}"
plain="$(cd "${VELDMIX_BUILD:-$root/build}" 2>/dev/null && pwd)" ||
  { echo "build_sanitized: no plain build at ${VELDMIX_BUILD:-$root/build} (run scripts/build.sh)" >&2; exit 1; }
if [ ! -f "$build/build.ninja" ] || ! grep -qx "VELDMIX_PLAIN_BUILD:PATH=$plain" "$build/CMakeCache.txt"; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELDMIX_SANITIZE=ON \
    -DVELDMIX_PLAIN_BUILD="$plain" -DVELDMIX_PRECOMPILED_HEADERS="${VELDMIX_PRECOMPILED_HEADERS:-ON}" \
    -DVELDMIX_UNITY_BUILD="${VELDMIX_UNITY_BUILD:-ON}" >/dev/null
fi
jobs=$(nproc 2>/dev/null || echo 2)
cmake --build "$build" -j "$jobs" --target veldmix_tests
