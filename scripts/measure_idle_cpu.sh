#!/usr/bin/env bash
# Measures what the whole program costs while idle: the real veldmix in a 1920x1080 window on a
# private virtual display and sound server, two tracks loaded and paused, nobody touching it.
# Prints the cores used over SECONDS (default 20), from /proc/PID/stat, and each thread's share.
# A measurement, not a test: it fails only when something could not run.
#
#   scripts/measure_idle_cpu.sh [SECONDS]      (VELDMIX_BUILD: the build folder, default build/)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VELDMIX_BUILD:-$root/build}"
seconds="${1:-20}"
app="$build/veldmix"
[ -x "$app" ] || { echo "measure_idle_cpu: build first ($app is missing)" >&2; exit 1; }

work=$(mktemp -d /tmp/veldmix-idle-XXXXXX)
server_dir=""
xvfb_pid=""
app_pid=""
cleanup() {
  if [ -n "$app_pid" ]; then kill -KILL "$app_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  if [ -n "$server_dir" ]; then "$root/scripts/test_audio_server.sh" stop "$server_dir" || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" LANG=C.UTF-8
unset XDG_DATA_HOME XDG_STATE_HOME XDG_CONFIG_HOME LC_ALL LANGUAGE LC_MESSAGES
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
eval "$(VELDMIX_AUDIO_OWNER=$$ "$root/scripts/test_audio_server.sh" start)"
server_dir="$VELDMIX_AUDIO_DIR"
source "$root/tests/support/private_display.sh"
start_private_display "$work/xvfb.log" -screen 0 1920x1080x24 || { echo "measure_idle_cpu: no display" >&2; exit 1; }

sox -n -r 44100 -c 2 "$work/a.wav" synth 60 sine 440 2>/dev/null
sox -n -r 44100 -c 2 "$work/b.wav" synth 60 sine 660 2>/dev/null
"$app" "$work/a.wav" "$work/b.wav" >"$work/app.out" 2>&1 &
app_pid=$!
sleep 5  # the window appears, both tracks load and their waveforms are made
kill -0 "$app_pid" 2>/dev/null || { echo "measure_idle_cpu: veldmix exited" >&2; cat "$work/app.out" >&2; exit 1; }
win="$(xwininfo -root -tree | grep -F '"VELDMIX' | head -n 1 | awk '{print $1}')"
[ -n "$win" ] || { echo "measure_idle_cpu: no window" >&2; exit 1; }
# The whole screen, as a maximised window on a 1920x1080 display.
xdotool windowmove "$win" 0 0 windowsize "$win" 1920 1080
sleep 3
geometry="$(xwininfo -id "$win" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}')"
if [ -n "${VELDMIX_IDLE_SHOT:-}" ]; then import -window "$win" "$VELDMIX_IDLE_SHOT"; fi

ticks() { awk '{print $14 + $15}' "$1"; }
hz=$(getconf CLK_TCK)
declare -A before
for t in /proc/"$app_pid"/task/*; do before[$t]=$(ticks "$t/stat" 2>/dev/null || echo 0); done
start=$(ticks /proc/"$app_pid"/stat)
if [ -n "${VELDMIX_IDLE_PERF:-}" ]; then  # a profile of the same seconds, for perf report
  perf record -e cpu-clock -g -o "$VELDMIX_IDLE_PERF" -p "$app_pid" -- sleep "$seconds" >/dev/null 2>&1
elif [ -n "${VELDMIX_IDLE_FRAMES:-}" ]; then  # frames drawn, counted by a uprobe on DriveFrame
  perf probe -q -x "$app" --add DriveFrame
  perf stat -e probe_veldmix:DriveFrame -p "$app_pid" -- sleep "$seconds" 2>&1 | awk '/DriveFrame/{print "frames drawn: " $1}'
  perf probe -q --del probe_veldmix:DriveFrame
else
  sleep "$seconds"
fi
end=$(ticks /proc/"$app_pid"/stat)
awk -v d=$((end - start)) -v hz="$hz" -v s="$seconds" -v g="$geometry" \
  'BEGIN { printf "idle veldmix (window %s): %.2f cores over %d s\n", g, d / hz / s, s }'
for t in /proc/"$app_pid"/task/*; do
  [ -f "$t/stat" ] || continue
  now=$(ticks "$t/stat" 2>/dev/null || echo 0)
  used=$((now - ${before[$t]:-0}))
  [ "$used" -gt 0 ] || continue
  awk -v d="$used" -v hz="$hz" -v s="$seconds" -v n="$(cat "$t/comm")" -v id="${t##*/}" \
    'BEGIN { printf "  thread %-7s %-16s %.2f cores\n", id, n, d / hz / s }'
done
