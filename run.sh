#!/usr/bin/env bash
# Installs what is missing, builds, and starts Veldmix with the given tracks. Without a display
# (no DISPLAY, no WAYLAND_DISPLAY) it runs the self-test instead: a demo track plays through the
# scripted mix on a private virtual display (and a private sound server when none answers), and
# the recorded mix lands in out/mix.wav and out/mix.mp3. The exit code is the self-test's.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
build="${VELDMIX_BUILD:-$root/build}"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$build/veldmix" "$@"
fi

readonly kDisplayWaitSteps=100  # x 0.1 s
say() { echo "run.sh: $*" >&2; }

[ $# -eq 0 ] || say "no display: running the self-test instead of loading $*"
out="$root/out"
tmp="$(mktemp -d /tmp/veldmix-run-XXXXXX)"
xvfb_pid=""
audio_dir=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  if [ -n "$audio_dir" ]; then "$root/scripts/test_audio_server.sh" stop "$audio_dir" || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT

# Settings, library and log of this run live in the temporary folder: the user's stay untouched.
export XDG_DATA_HOME="$tmp/data" XDG_STATE_HOME="$tmp/state"

# Xvfb picks a free display number itself and writes it to fd 3 once it accepts clients.
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq $kDisplayWaitSteps); do
  [ -s "$tmp/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
[ -s "$tmp/display" ] || { say "no virtual display could be started (is Xvfb installed?)"; exit 1; }
export DISPLAY=":$(head -n 1 "$tmp/display")"

# A missing server must not be started behind our back by the probe itself.
printf 'autospawn = no\n' >"$tmp/probe-client.conf"
if ! PULSE_CLIENTCONFIG="$tmp/probe-client.conf" pactl info >/dev/null 2>&1; then
  say "no sound server answers: starting a private one"
  eval "$(VELDMIX_AUDIO_OWNER=$$ "$root/scripts/test_audio_server.sh" start)"
  audio_dir="$VELDMIX_AUDIO_DIR"
fi

"$build/veldmix-tool" demo 1 "$tmp/demo.wav" >/dev/null
mkdir -p "$out"
rm -f "$out/mix.wav" "$out/mix.mp3"
code=0
"$build/veldmix" --selftest "$out/mix.wav" "$tmp/demo.wav" || code=$?

for file in "$out/mix.wav" "$out/mix.mp3"; do
  if [ -s "$file" ]; then echo "run.sh: the mix went to $file"; fi
done
if [ "$code" -ne 0 ]; then
  say "the self-test failed (exit code $code); the end of its log:"
  tail -n 20 "$XDG_STATE_HOME/Veldmix/Veldmix.log" >&2 2>/dev/null || true
fi
exit "$code"
