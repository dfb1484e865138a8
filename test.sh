#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every unit and end-to-end test.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build="${VELDMIX_BUILD:-$root/build}"
cd "$build"
jobs=$(nproc 2>/dev/null || echo 2)
exec ctest --output-on-failure --timeout 600 -j "$jobs"
