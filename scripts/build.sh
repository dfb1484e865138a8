#!/usr/bin/env bash
# Configures (once) and builds everything incrementally into build/ (or $VELDMIX_BUILD). A first
# configure turns the precompiled headers and the unity build on (VELDMIX_PRECOMPILED_HEADERS=OFF
# or VELDMIX_UNITY_BUILD=OFF in the environment leaves them off). A folder configured before,
# with any generator and options (a packager's plain configure), is built as it is.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VELDMIX_BUILD:-$root/build}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELDMIX_PRECOMPILED_HEADERS="${VELDMIX_PRECOMPILED_HEADERS:-ON}" \
    -DVELDMIX_UNITY_BUILD="${VELDMIX_UNITY_BUILD:-ON}" >/dev/null
elif [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
  # A configure that stopped half way (a library missing then) left a cache but nothing to build:
  # configure again with what the cache holds.
  cmake -S "$root" -B "$build" >/dev/null
fi
jobs=$(nproc 2>/dev/null || echo 2)
cmake --build "$build" -j "$jobs"
