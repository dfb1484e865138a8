#!/usr/bin/env bash
# Configures (once) and builds the unit tests with AddressSanitizer and UndefinedBehaviorSanitizer
# into build-asan/ (or $VELDMIX_SANITIZED_BUILD): the core library, the tool the tests start and
# the test binary; no benchmarks. Run its unit tests with `ctest` in that folder.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VELDMIX_SANITIZED_BUILD:-$root/build-asan}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELDMIX_SANITIZE=ON >/dev/null
fi
jobs=$(nproc 2>/dev/null || echo 2)
cmake --build "$build" -j "$jobs" --target veldmix_tests
