#!/usr/bin/env bash
# The end-to-end set beside a CPU hog on every core (stress-ng), to show which timing checks a
# loaded machine breaks. Needs a finished build (scripts/build.sh).
#   load_check.sh [--cores LIST] [CTEST ARGS...]
# --cores LIST (a taskset list such as 6,7 or 2-3) pins the hog and the tests to those cores, one
# hog and one test at a time per core, as on a machine that has only them. Extra arguments go to
# ctest, e.g. -R camera.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VELDMIX_BUILD:-$root/build}"
command -v stress-ng >/dev/null || { echo "load_check: stress-ng is not installed (scripts/setup.sh)" >&2; exit 1; }
pin=()
if [ "${1:-}" = --cores ]; then
  [ -n "${2:-}" ] || { echo "load_check: --cores needs a core list, e.g. 6,7" >&2; exit 2; }
  pin=(taskset -c "$2")
  shift 2
  "${pin[@]}" true 2>/dev/null || { echo "load_check: no such cores: ${pin[2]}" >&2; exit 2; }
fi
jobs=$("${pin[@]}" nproc 2>/dev/null || echo 2)
eval "$(VELDMIX_AUDIO_OWNER=$$ "${pin[@]}" "$root/scripts/test_audio_server.sh" start)"
"${pin[@]}" stress-ng --cpu "$jobs" --quiet &
hog=$!
trap 'kill "$hog" 2>/dev/null; wait "$hog" 2>/dev/null; "$root/scripts/test_audio_server.sh" stop "$VELDMIX_AUDIO_DIR"' EXIT
echo "load_check: the e2e set beside stress-ng --cpu $jobs${pin:+ on cores ${pin[2]}}"
cd "$build" && "${pin[@]}" ctest --output-on-failure --timeout 600 -j "$jobs" -L e2e -LE pending "$@"
