#!/usr/bin/env bash
# Measures what the whole program costs while left alone: the real veldmix in a 1920x1080 window
# on a private virtual display and sound server, nobody touching it. Prints the cores used over
# SECONDS (default 20), from /proc/PID/stat, each thread's share and context switches (its
# wake-ups, roughly) a second, and the frames drawn. With
# VELDMIX_IDLE_MIXXX=1, Mixxx then runs alone on the same display at the same size with the same
# tracks and is measured the same way, for a figure beside ours.
# A measurement, not a test: it fails only when something could not run.
#
#   scripts/measure_idle_cpu.sh [SECONDS]
#   VELDMIX_BUILD        the build folder (default build/)
#   VELDMIX_IDLE_DECKS   paused (two tracks loaded, the default), empty, playing (both decks), or
#                        one (two loaded, the left one playing)
#   VELDMIX_IDLE_LAYOUT  library: the library layout (Ctrl+L once; Mixxx: its library maximised)
#   VELDMIX_IDLE_CPU     a core number: each program measured runs pinned to it
#   VELDMIX_IDLE_SHOT    a PNG of the window before the measurement
#   VELDMIX_IDLE_PERF    a perf profile of the seconds measured instead of the frame count
#   VELDMIX_IDLE_POINTER a pointer moving over the window's left edge, 10 moves a second, meanwhile
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
mixxx_pid=""
cleanup() {
  if [ -n "$app_pid" ]; then kill -KILL "$app_pid" 2>/dev/null || true; fi
  if [ -n "$mixxx_pid" ]; then kill -KILL "$mixxx_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  if [ -n "$server_dir" ]; then "$root/scripts/test_audio_server.sh" stop "$server_dir" || true; fi
  rm -rf "$work"
}
pointer_pid=""
trap 'if [ -n "$pointer_pid" ]; then kill "$pointer_pid" 2>/dev/null || true; fi; cleanup' EXIT
# With VELDMIX_IDLE_POINTER, the pointer moves to and fro by a few pixels over the left edge.
start_pointer() {
  [ -n "${VELDMIX_IDLE_POINTER:-}" ] || return 0
  (while :; do xdotool mousemove 6 540; sleep 0.1; xdotool mousemove 10 540; sleep 0.1; done) >/dev/null 2>&1 &
  pointer_pid=$!
}
stop_pointer() {
  if [ -n "$pointer_pid" ]; then kill "$pointer_pid" 2>/dev/null || true; wait "$pointer_pid" 2>/dev/null || true; fi
  pointer_pid=""
}

export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" LANG=C.UTF-8
unset XDG_DATA_HOME XDG_STATE_HOME XDG_CONFIG_HOME LC_ALL LANGUAGE LC_MESSAGES
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
eval "$(VELDMIX_AUDIO_OWNER=$$ "$root/scripts/test_audio_server.sh" start)"
server_dir="$VELDMIX_AUDIO_DIR"
source "$root/tests/support/private_display.sh"
start_private_display "$work/xvfb.log" -screen 0 1920x1080x24 || { echo "measure_idle_cpu: no display" >&2; exit 1; }

decks="${VELDMIX_IDLE_DECKS:-paused}"
sox -n -r 44100 -c 2 "$work/a.wav" synth 300 sine 440 2>/dev/null
sox -n -r 44100 -c 2 "$work/b.wav" synth 300 sine 660 2>/dev/null
tracks=("$work/a.wav" "$work/b.wav")
[ "$decks" = empty ] && tracks=()
# A returning user's start: the first-run tour is done.
mkdir -p "$HOME/.local/share/Veldmix"
printf '[Tour]\nDone=1\n' >"$HOME/.local/share/Veldmix/settings.ini"
pin=()
[ -z "${VELDMIX_IDLE_CPU:-}" ] || pin=(taskset -c "$VELDMIX_IDLE_CPU")
"${pin[@]}" "$app" "${tracks[@]}" >"$work/app.out" 2>&1 &
app_pid=$!
sleep 5  # the window appears, both tracks load and their waveforms are made
kill -0 "$app_pid" 2>/dev/null || { echo "measure_idle_cpu: veldmix exited" >&2; cat "$work/app.out" >&2; exit 1; }
win="$(xwininfo -root -tree | grep -F '"VELDMIX' | head -n 1 | awk '{print $1}')"
[ -n "$win" ] || { echo "measure_idle_cpu: no window" >&2; exit 1; }
# The whole screen, as a maximised window on a 1920x1080 display.
xdotool windowmove "$win" 0 0 windowsize "$win" 1920 1080
sleep 3
if [ "${VELDMIX_IDLE_LAYOUT:-}" = library ]; then
  xdotool windowfocus --sync "$win" key ctrl+l 2>/dev/null || xdotool key --window "$win" ctrl+l
  sleep 4  # the status pill it shows goes
fi
if [ "$decks" = playing ]; then  # X plays the left deck, . the right one
  xdotool windowfocus --sync "$win" key x key period 2>/dev/null || xdotool key --window "$win" x period
  sleep 1
elif [ "$decks" = one ]; then
  xdotool windowfocus --sync "$win" key x 2>/dev/null || xdotool key --window "$win" x
  sleep 1
fi
geometry="$(xwininfo -id "$win" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}')"
if [ -n "${VELDMIX_IDLE_SHOT:-}" ]; then import -window "$win" "$VELDMIX_IDLE_SHOT"; fi

ticks() { awk '{print $14 + $15}' "$1"; }
switches() { awk '/ctxt_switches/{n += $2} END{print n + 0}' "$1"; }
hz=$(getconf CLK_TCK)
declare -A before woke
for t in /proc/"$app_pid"/task/*; do
  before[$t]=$(ticks "$t/stat" 2>/dev/null || echo 0)
  woke[$t]=$(switches "$t/status" 2>/dev/null || echo 0)
done
start_pointer
start=$(ticks /proc/"$app_pid"/stat)
if [ -n "${VELDMIX_IDLE_PERF:-}" ]; then  # a profile of the same seconds, for perf report
  perf record -e cpu-clock -g -o "$VELDMIX_IDLE_PERF" -p "$app_pid" -- sleep "$seconds" >/dev/null 2>&1
elif perf probe -q -x "$app" --add EndFrameInput 2>/dev/null; then  # frames drawn (each ends its input once), by a uprobe
  perf stat -e probe_veldmix:EndFrameInput -p "$app_pid" -- sleep "$seconds" 2>&1 |
    awk '/EndFrameInput/{print "frames drawn: " $1}'
  perf probe -q --del probe_veldmix:EndFrameInput
else
  sleep "$seconds"
fi
end=$(ticks /proc/"$app_pid"/stat)
stop_pointer
awk -v d=$((end - start)) -v hz="$hz" -v s="$seconds" -v g="$geometry" -v k="$decks" \
  'BEGIN { printf "veldmix, decks %s (window %s): %.3f cores over %d s\n", k, g, d / hz / s, s }'
for t in /proc/"$app_pid"/task/*; do
  [ -f "$t/stat" ] || continue
  now=$(ticks "$t/stat" 2>/dev/null || echo 0)
  used=$((now - ${before[$t]:-0}))
  wakes=$(($(switches "$t/status" 2>/dev/null || echo 0) - ${woke[$t]:-0}))
  [ "$used" -gt 0 ] || [ "$wakes" -gt "$seconds" ] || continue
  awk -v d="$used" -v hz="$hz" -v s="$seconds" -v n="$(cat "$t/comm")" -v id="${t##*/}" -v w="$wakes" \
    'BEGIN { printf "  thread %-7s %-16s %.3f cores %6.0f switches/s\n", id, n, d / hz / s, w / s }'
done

[ -n "${VELDMIX_IDLE_MIXXX:-}" ] || exit 0

# ---- Mixxx beside: alone on the same display, the same window size and tracks ----
kill -KILL "$app_pid" 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
app_pid=""
command -v mixxx >/dev/null || { echo "measure_idle_cpu: mixxx is not installed (apt-get install -y mixxx)" >&2; exit 1; }
# With one deck playing it is given the first track alone, and play is pressed on both its decks:
# which deck takes a track from the command line is its own.
[ "$decks" = one ] && tracks=("${tracks[0]}")
"${pin[@]}" mixxx --settingsPath "$work/mixxx/" "${tracks[@]}" >"$work/mixxx.out" 2>&1 &
mixxx_pid=$!
# A first start asks for the music folder; the question is dismissed as a user would.
for _ in $(seq 1 120); do
  dialog="$(xdotool search --name 'Choose music library directory' 2>/dev/null | head -n 1 || true)"
  [ -n "$dialog" ] && break
  sleep 0.5
done
[ -z "$dialog" ] || xdotool key --window "$dialog" Escape || true  # it may have gone already
# The main window is the largest visible one once the splash is gone (a window that closes while
# it is looked at, a splash or a progress box, is passed over).
find_mixxx_window() {
  mixxx_win=""
  for _ in $(seq 1 120); do
    mixxx_win="$(for w in $(xdotool search --onlyvisible --pid "$mixxx_pid" 2>/dev/null); do
      xwininfo -id "$w" 2>/dev/null | awk -v w="$w" '/Width:/{x=$2} /Height:/{y=$2} END{print x * y, w}'; done |
      sort -n | tail -n 1 | awk '$1 > 500000 {print $2}')"
    [ -n "$mixxx_win" ] && return 0
    sleep 0.5
  done
  echo "measure_idle_cpu: no Mixxx window" >&2
  tail -n 20 "$work/mixxx.out" >&2
  exit 1
}
find_mixxx_window
xdotool windowmove "$mixxx_win" 0 0 windowsize "$mixxx_win" 1920 1080 2>/dev/null || true
sleep 8  # the tracks load and their waveforms are made
find_mixxx_window
xdotool windowmove "$mixxx_win" 0 0 windowsize "$mixxx_win" 1920 1080
# Mixxx analyses loaded tracks (beats, key) for a while: the measurement waits till it is done,
# when two seconds cost less than a fifth of a core (two minutes at most).
for _ in $(seq 1 60); do
  a=$(ticks /proc/"$mixxx_pid"/stat)
  sleep 2
  [ $(($(ticks /proc/"$mixxx_pid"/stat) - a)) -lt $((hz * 2 / 5)) ] && break
done
if [ "$decks" = playing ]; then  # d plays deck 1, l deck 2 in Mixxx's default keyboard mapping
  xdotool windowfocus --sync "$mixxx_win" key d key l 2>/dev/null || xdotool key --window "$mixxx_win" d l
  sleep 1
elif [ "$decks" = one ]; then
  xdotool windowfocus --sync "$mixxx_win" key d key l 2>/dev/null || xdotool key --window "$mixxx_win" d l
  sleep 1
fi
# Space maximises the library in its default mapping; after play, as the library then takes the keys.
if [ "${VELDMIX_IDLE_LAYOUT:-}" = library ]; then
  xdotool windowfocus --sync "$mixxx_win" key space 2>/dev/null || xdotool key --window "$mixxx_win" space
  sleep 2
fi
geometry="$(xwininfo -id "$mixxx_win" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}')"
if [ -n "${VELDMIX_IDLE_SHOT:-}" ]; then import -window root "${VELDMIX_IDLE_SHOT%.png}-mixxx.png"; fi
if [ -n "${VELDMIX_IDLE_SHOT:-}" ]; then (sleep $((seconds - 2)); import -window root "${VELDMIX_IDLE_SHOT%.png}-mixxx-end.png") & fi
start_pointer
start=$(ticks /proc/"$mixxx_pid"/stat)
sleep "$seconds"
end=$(ticks /proc/"$mixxx_pid"/stat)
stop_pointer
awk -v d=$((end - start)) -v hz="$hz" -v s="$seconds" -v g="$geometry" -v k="$decks" \
  'BEGIN { printf "mixxx, decks %s (window %s): %.3f cores over %d s\n", k, g, d / hz / s, s }'
