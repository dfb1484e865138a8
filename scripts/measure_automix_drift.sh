#!/usr/bin/env bash
# Whether what an unattended set costs grows with the set: the real veldmix in a 1920x1080 window
# on a private virtual display and sound server plays an Automix set of generated tracks (a kick
# at 118-129 BPM under a tone, TRACK_SECONDS each, enough for the whole run), and the cores it
# uses are printed for every window of WINDOW_SECONDS, with its threads, open files and memory.
# The last window against the first (after the tracks' analysis) tells the drift.
# A measurement, not a test: it fails only when something could not run.
#
#   scripts/measure_automix_drift.sh [MINUTES] [WINDOW_SECONDS]   (defaults 60 and 600)
#   VELDMIX_BUILD           the build folder (default build/)
#   VELDMIX_TRACK_SECONDS   the length of each generated track (default 180)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${VELDMIX_BUILD:-$root/build}"
minutes="${1:-60}"
window="${2:-600}"
track_seconds="${VELDMIX_TRACK_SECONDS:-180}"
app="$build/veldmix"
[ -x "$app" ] || { echo "measure_automix_drift: build first ($app is missing)" >&2; exit 1; }

work=$(mktemp -d /tmp/veldmix-drift-XXXXXX)
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
start_private_display "$work/xvfb.log" -screen 0 1920x1080x24 || { echo "measure_automix_drift: no display" >&2; exit 1; }

# Enough tracks for the run, each a kick on every beat under a tone of its own.
data="$HOME/.local/share/Veldmix"
mkdir -p "$work/music" "$data/Lists"
count=$(( minutes * 60 / (track_seconds / 2) + 2 ))  # Automix mixes each track out well before its end
list="#EXTM3U"
for i in $(seq 1 "$count"); do
  bpm=$(( 118 + i % 12 ))
  beat=$(awk -v b="$bpm" 'BEGIN { printf "%.5f", 60 / b }')
  sox -n -r 44100 -c 2 "$work/beat.wav" synth 0.06 sine 55 fade 0 0.06 0.05 pad 0 "$(awk -v b="$beat" 'BEGIN { print b - 0.06 }')"
  sox "$work/beat.wav" "$work/kicks.wav" repeat "$(awk -v s="$track_seconds" -v b="$beat" 'BEGIN { print int(s / b) }')"
  sox -n -r 44100 -c 2 "$work/tone.wav" synth "$track_seconds" sine $(( 200 + 17 * i )) vol 0.2
  sox -m "$work/kicks.wav" "$work/tone.wav" "$work/music/track$i.wav" trim 0 "$track_seconds"
  list+=$'\n'"$work/music/track$i.wav"
done
printf '%s\n' "$list" >"$data/Lists/Automix.m3u8"
printf '[Tour]\nDone=1\n' >"$data/settings.ini"

"$app" >"$work/app.out" 2>&1 &
app_pid=$!
sleep 5
kill -0 "$app_pid" 2>/dev/null || { echo "measure_automix_drift: veldmix exited" >&2; cat "$work/app.out" >&2; exit 1; }
win="$(xwininfo -root -tree | grep -F '"VELDMIX' | head -n 1 | awk '{print $1}')"
[ -n "$win" ] || { echo "measure_automix_drift: no window" >&2; exit 1; }
xdotool windowmove "$win" 0 0 windowsize "$win" 1920 1080
sleep 2
xdotool windowfocus --sync "$win" key ctrl+m 2>/dev/null || xdotool key --window "$win" ctrl+m

ticks() { awk '{print $14 + $15}' "$1"; }
hz=$(getconf CLK_TCK)
echo "veldmix Automix set, $count tracks of ${track_seconds} s, windows of ${window} s, load $(cut -d' ' -f1-3 /proc/loadavg)"
windows=$(( minutes * 60 / window ))
first=""
for w in $(seq 1 "$windows"); do
  start=$(ticks /proc/"$app_pid"/stat)
  sleep "$window"
  kill -0 "$app_pid" 2>/dev/null || { echo "measure_automix_drift: veldmix exited" >&2; tail -n 20 "$work/app.out" >&2; exit 1; }
  end=$(ticks /proc/"$app_pid"/stat)
  cores=$(awk -v d=$((end - start)) -v hz="$hz" -v s="$window" 'BEGIN { printf "%.3f", d / hz / s }')
  threads=$(ls /proc/"$app_pid"/task | wc -l)
  files=$(ls /proc/"$app_pid"/fd | wc -l)
  rss=$(awk '/VmRSS/{print int($2 / 1024)}' /proc/"$app_pid"/status)
  echo "window $w ($(( w * window / 60 )) min): $cores cores, $threads threads, $files files, $rss MiB, load $(cut -d' ' -f1 /proc/loadavg)"
  [ -n "$first" ] || first="$cores"
done
awk -v a="$first" -v b="$cores" 'BEGIN { if (a > 0) printf "last window against the first: %+.1f %%\n", (b / a - 1) * 100 }'
