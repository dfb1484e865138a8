#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every unit and end-to-end test.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build="${VELDMIX_BUILD:-$root/build}"
# The test sound server: null sinks for the outputs and the microphone, stopped on exit.
eval "$(VELDMIX_AUDIO_OWNER=$$ "$root/scripts/test_audio_server.sh" start)"
trap '"$root/scripts/test_audio_server.sh" stop "$VELDMIX_AUDIO_DIR"' EXIT
cd "$build"
jobs=$(nproc 2>/dev/null || echo 2)
ctest --output-on-failure --timeout 600 -j "$jobs"
