#!/usr/bin/env bash
# The end-to-end set beside a CPU hog on every core (stress-ng), to show which timing checks a
# loaded machine breaks. Needs a finished build (scripts/build.sh); extra arguments go to ctest,
# e.g. -R camera.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VELDMIX_BUILD:-$root/build}"
command -v stress-ng >/dev/null || { echo "load_check: stress-ng is not installed (scripts/setup.sh)" >&2; exit 1; }
jobs=$(nproc 2>/dev/null || echo 2)
eval "$(VELDMIX_AUDIO_OWNER=$$ "$root/scripts/test_audio_server.sh" start)"
stress-ng --cpu "$jobs" --quiet &
hog=$!
trap 'kill "$hog" 2>/dev/null; wait "$hog" 2>/dev/null; "$root/scripts/test_audio_server.sh" stop "$VELDMIX_AUDIO_DIR"' EXIT
echo "load_check: the e2e set beside stress-ng --cpu $jobs"
cd "$build" && ctest --output-on-failure --timeout 600 -j "$jobs" -L e2e -LE pending "$@"
