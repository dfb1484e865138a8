#!/usr/bin/env bash
# How often the mix clicks: the real program under a virtual display plays a steady 441 Hz sine
# into a 48 kHz null sink of a private sound server; the sink's monitor is recorded with parec and
# the glitches in it counted by bench/glitch_detect.py, which first proves itself on planted gaps.
# Run by hand (it loads the whole machine), not in CI:
#
#   bench/glitch_bench.sh [--seconds N] [--conditions LIST] [--no-peer]
#
#   --seconds N       the length of each recording (default 60; 600 for the real figure)
#   --conditions LIST comma-separated, from: idle ui cpu cpu2x memdisk decks1 decks2 decks4
#                     (default all). idle: one deck, nothing else. ui: the window driven
#                     (clicks, knob drags, library scrolling, settings pages, an analysis run, a
#                     track load on the other deck). cpu / cpu2x: stress-ng --cpu with as many /
#                     twice as many workers as cores. memdisk: stress-ng --vm and --hdd. decksN: N
#                     decks playing, each with key lock on, and the master effect on.
#   --no-peer         skip Mixxx even where it is installed
#   --shots DIR       keep a screenshot of each program playing each condition in DIR
#
# Prints one table row per condition: glitches, glitches a minute, the longest gap, and Mixxx's
# figures on the same server, sink and signal where Mixxx is installed (one deck, or two for
# decks2; "-" where it is not driven). Needs the build (VELDMIX_BUILD, default build/), Xvfb,
# xdotool, sox, parec, stress-ng and python3-numpy.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${VELDMIX_BUILD:-$root/build}" && pwd)"
app="$build/veldmix"
tool="$build/veldmix-tool"
server="$root/scripts/test_audio_server.sh"
detector="$root/bench/glitch_detect.py"
seconds=60
conditions="idle,ui,cpu,cpu2x,memdisk,decks1,decks2,decks4"
peer=1
shots=""
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --conditions) conditions=$2; shift 2 ;;
    --no-peer) peer=0; shift ;;
    --shots) shots=$2; mkdir -p "$shots" || exit 1; shift 2 ;;
    *) sed -n '2,25p' "$0" >&2; exit 2 ;;
  esac
done
die() { echo "glitch_bench: $*" >&2; exit 1; }
for c in Xvfb xdotool xwininfo sox parec pactl stress-ng; do command -v "$c" >/dev/null || die "$c is not installed"; done
[ -x "$app" ] && [ -x "$tool" ] || die "no build at $build"
command -v mixxx >/dev/null || peer=0

work="$(mktemp -d /tmp/veldmix-glitch-XXXXXX)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null
  "$server" stop "$work/pulse" >/dev/null 2>&1
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
source "$root/tests/support/private_display.sh"

# --- The detector first proves itself ---
/usr/bin/python3 "$detector" prove || die "the detector missed a planted fault: no figures"

eval "$(VELDMIX_AUDIO_OWNER=$$ "$server" start "$work/pulse")" || die "no sound server"
start_private_display "$work/xvfb.log" -screen 0 1920x1080x24 -dpi 96 || die "no virtual display"
# Long enough for the longest run and its start.
sox -n -r 44100 -c 2 -b 16 "$work/sine.wav" synth $((seconds + 240)) sine 441 vol 0.25 || die "sox failed"
sox -n -r 44100 -c 2 -b 16 "$work/other.wav" synth 90 sine 660 vol 0.25 || die "sox failed"
cores=$(nproc)
# The recorder runs at real-time priority where the account may ask for it, as the test server
# does: a starved parec loses the monitor's data, which would count as both programs' glitches.
realtime=()
if chrt -r 20 true 2>/dev/null; then realtime=(chrt -r 20); fi

wait_for() {  # SECONDS COMMAND...
  local limit=$(($1 * 10))
  shift
  for _ in $(seq "$limit"); do "$@" && return 0; sleep 0.1; done
  return 1
}
# record FILE SECONDS: the default sink's monitor, stereo float at 48 kHz, counted in samples.
record() {
  local bytes=$((${2%.*} * 48000 * 8))
  timeout $((${2%.*} + 20)) "${realtime[@]}" parec -d veldmix_test.monitor --raw --format=float32le --channels=2 --rate=48000 \
    --latency-msec=10 2>/dev/null | head -c "$bytes" >"$1"
  [ "$(stat -c %s "$1")" -eq "$bytes" ]
}
# sounding: one second of the monitor holds the 441 Hz tone.
sounding() {
  record "$work/probe.raw" 1 || return 1
  /usr/bin/python3 - "$work/probe.raw" <<'EOF'
import sys, numpy
x = numpy.fromfile(sys.argv[1], dtype=numpy.float32)[0::2].astype(float)[4800:]
n = len(x)
a = 2 * abs(numpy.dot(x, numpy.exp(-2j * numpy.pi * 441 * numpy.arange(n) / 48000))) / max(n, 1)
sys.exit(0 if a > 0.02 else 1)
EOF
}

# --- Veldmix ---
window_id() { timeout 5 xwininfo -root -tree 2>/dev/null | grep -E '"VELDMIX [0-9.]+"' | head -n 1 | awk '{print $1}'; }
declare -A at
click() {  # NAME: the centre of a layout rectangle
  local x y w h
  read -r x y w h <<<"${at[$1]:?no rectangle $1}"
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
  sleep 0.3
}
drag() {  # NAME DY: a vertical drag from the rectangle's centre
  local x y w h
  read -r x y w h <<<"${at[$1]:?no rectangle $1}"
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) mousedown 1 mousemove_relative -- 0 "$2" sleep 0.1 \
    mousemove_relative -- 0 $((-$2)) mouseup 1
}
start_veldmix() {  # DECKS
  local decks=$1 files=() i
  export HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
  rm -rf "$HOME" "$XDG_RUNTIME_DIR"
  mkdir -p "$HOME/.local/share/Veldmix" "$HOME/Music" && mkdir -m 700 "$XDG_RUNTIME_DIR"
  for i in 1 2 3 4 5 6; do cp "$work/other.wav" "$HOME/Music/track$i.wav"; done
  printf '[Tour]\nDone=1\n[Options]\nFourDecks=%d\n' $((decks == 4)) >"$HOME/.local/share/Veldmix/settings.ini"
  log="$HOME/.local/state/Veldmix/Veldmix.log"
  for i in $(seq "$decks"); do files+=("$work/sine.wav"); done
  VELDMIX_UPDATE_SITE=https://127.0.0.1:9 "$app" "${files[@]}" >"$work/app.out" 2>&1 &
  app_pid=$!
  pids+=("$app_pid")
  wait_for 40 eval '[ -n "$(window_id)" ]' || die "the window did not appear"
  wait_for 20 grep -qF "Audio: master output started" "$log" || die "the output did not start"
  wait_for 30 eval '[ "$(grep -c "loaded \"sine.wav\"" "$log")" -ge '"$decks"' ]' || die "the decks were not loaded"
  sleep 2
  xdotool windowmove "$(window_id)" 0 0 windowsize "$(window_id)" 1900 1060
  sleep 1
  while read -r name x y w h; do at[$name]="$x $y $w $h"; done < <("$tool" layout 1900 1060 --decks $((decks == 4 ? 4 : 2)))
  xdotool mousemove 950 20 click 1
}
play_veldmix() {  # DECKS KEYLOCK_AND_FX
  local decks=$1 extras=$2
  if [ "$extras" = 1 ]; then click tool.0.keylock; [ "$decks" -ge 2 ] && click tool.1.keylock; click topbar.masterfx.on; fi
  click play.0
  [ "$decks" -ge 2 ] && click play.1
  if [ "$decks" = 4 ]; then  # decks C and D on the sides' places, then back
    xdotool key bracketleft key bracketright
    sleep 0.5
    [ "$extras" = 1 ] && { click tool.0.keylock; click tool.1.keylock; }
    click play.0
    click play.1
    xdotool key bracketleft key bracketright
  fi
  wait_for 10 sounding || { click play.0; wait_for 10 sounding; } || die "Veldmix plays no tone"
}
stop_program() {
  kill -TERM "$app_pid" 2>/dev/null
  for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$app_pid" 2>/dev/null
  wait "$app_pid" 2>/dev/null
}
# The window driven as a DJ would, round after round, until killed.
drive_ui() {
  local round=0
  while :; do
    round=$((round + 1))
    # Deck B's knobs: the tone on deck A must not change.
    drag strip.1.high 40; drag strip.1.filter -30; drag strip.1.mid 20
    xdotool mousemove 900 800 click 5 click 5 click 5 click 4 click 4
    click list; click analyze
    click topbar.settings; sleep 0.5
    for tab in 0 1 2 3; do xdotool key Tab; sleep 0.2; done
    xdotool key Escape; sleep 0.3
    # Another track onto the free deck through the running program.
    [ $((round % 3)) = 0 ] && "$app" "$work/other.wav" >/dev/null 2>&1
    click list; xdotool key Down key Down; click load.right
    sleep 0.5
  done
}

# --- Mixxx: a fresh settings folder whose first-run questions are answered once ---
mixxx_settings() {
  mkdir -p "$work/mixxx-home/Music" "$work/mixxx-base"
  cat >"$work/mixxx-base/soundconfig.xml" <<'EOF'
<!DOCTYPE SoundManagerConfig>
<SoundManagerConfig force_network_clock="0" api="ALSA" deck_count="4" samplerate="48000" sync_buffers="2" latency="5">
 <SoundDevice portAudioIndex="0" name="pulse" alsaHwDevice="">
  <output index="0" channel_count="2" channel="0" type="Master"/>
 </SoundDevice>
</SoundManagerConfig>
EOF
  HOME="$work/mixxx-home" mixxx --settingsPath "$work/mixxx-base/" >"$work/mixxx-first.out" 2>&1 &
  app_pid=$!
  sleep 15
  xdotool key Return  # the music folder: ~/Music
  sleep 8
  stop_program
}
start_mixxx() {  # DECKS
  local decks=$1 files=() i
  rm -rf "$work/mixxx-run" && cp -r "$work/mixxx-base" "$work/mixxx-run"
  for i in $(seq "$decks"); do files+=("$work/sine.wav"); done
  [ "$decks" = 1 ] && files+=("$work/sine.wav")  # the first file may go to either deck
  HOME="$work/mixxx-home" mixxx --settingsPath "$work/mixxx-run/" "${files[@]}" >"$work/mixxx.out" 2>&1 &
  app_pid=$!
  pids+=("$app_pid")
  sleep 15
  xdotool mousemove 950 20 click 1
  xdotool key d
  [ "$decks" -ge 2 ] && xdotool key l
  wait_for 10 sounding || { xdotool key l; wait_for 10 sounding; } || die "Mixxx plays no tone"
}

# --- One condition ---
load_pids=()
start_load() {  # CONDITION
  case $1 in
    cpu) stress-ng --cpu "$cores" --timeout $((seconds + 30)) >/dev/null 2>&1 & load_pids+=($!) ;;
    cpu2x) stress-ng --cpu $((2 * cores)) --timeout $((seconds + 30)) >/dev/null 2>&1 & load_pids+=($!) ;;
    memdisk)
      mkdir -p "$work/hdd"
      stress-ng --vm 2 --vm-bytes 25% --hdd 2 --hdd-bytes 256M --temp-path "$work/hdd" --timeout $((seconds + 30)) \
        >/dev/null 2>&1 &
      load_pids+=($!) ;;
    ui) drive_ui >/dev/null 2>&1 & load_pids+=($!) ;;
  esac
}
stop_load() {
  for pid in "${load_pids[@]}"; do kill "$pid" 2>/dev/null; pkill -TERM -P "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  load_pids=()
}
measure() {  # PROGRAM CONDITION: prints the detector's line
  local program=$1 condition=$2 decks=1 extras=0
  case $condition in decks1) extras=1 ;; decks2) decks=2; extras=1 ;; decks4) decks=4; extras=1 ;; esac
  if [ "$program" = veldmix ]; then
    start_veldmix "$decks"; play_veldmix "$decks" "$extras"
  else
    start_mixxx "$decks"
  fi
  start_load "$condition"
  sleep 2
  [ -n "$shots" ] && import -window root "$shots/$program-$condition.png" 2>/dev/null
  # Each thread's major page faults (a wait for the disk) over the take, the program's and the
  # sound server's: under memory pressure they tell whose wait a gap was.
  faults() { for t in /proc/$1/task/*; do awk -v t="${t##*/}" '{ s = $0; sub(/^.*\) /, "", s); split(s, f, " "); print t, f[10] }' "$t/stat" 2>/dev/null; done; }
  local server_pid
  server_pid=$(cat "$VELDMIX_AUDIO_DIR/server.pid")
  faults "$app_pid" >"$work/app.f0"; faults "$server_pid" >"$work/server.f0"
  echo "  $condition: the take starts at $(date +%T.%N | cut -c1-12) (glitch times below count from there, after the tone's first steady block)" >&2
  record "$work/take.raw" "$seconds" || echo "glitch_bench: the recording of $program $condition came up short" >&2
  faults "$app_pid" >"$work/app.f1"; faults "$server_pid" >"$work/server.f1"
  for who in app server; do
    join "$work/$who.f0" "$work/$who.f1" | awk -v who="$who" -v c="$condition" \
      '$3 != $2 { printf "  %s: %s thread %s took %d major fault(s)\n", c, who, $1, $3 - $2 }' >&2
  done
  stop_load
  [ "$program" = veldmix ] && grep -E "Audio: [0-9]+ (dropout|late render|repeated block|server underrun)" "$log" | sed "s/^/  $condition: /" >&2
  stop_program
  /usr/bin/python3 "$detector" count "$work/take.raw" 441 48000 2
}
field() { sed -n "s/.*$1=\([^ ]*\).*/\1/p" <<<"$2"; }
cell() {  # a detector line: "N (P/min, longest G ms)"
  [ -z "$1" ] && { echo "-"; return; }
  local n m g
  n=$(field glitches "$1"); m=$(field minutes "$1"); g=$(field longest_gap_ms "$1")
  awk -v n="$n" -v m="$m" -v g="$g" 'BEGIN { printf "%d (%.1f/min, gap %s ms)", n, (m > 0 ? n / m : 0), g }'
}

[ "$peer" = 1 ] && mixxx_settings
declare -A ours theirs
IFS=, read -r -a wanted <<<"$conditions"
for condition in "${wanted[@]}"; do
  echo "glitch_bench: $condition, Veldmix, $seconds s" >&2
  ours[$condition]="$(measure veldmix "$condition")"
  echo "  ${ours[$condition]}" >&2
  theirs[$condition]=""
  if [ "$peer" = 1 ] && [ "$condition" != ui ] && [ "$condition" != decks4 ] && [ "$condition" != decks1 ]; then
    echo "glitch_bench: $condition, Mixxx, $seconds s" >&2
    theirs[$condition]="$(measure mixxx "$condition")"
    echo "  ${theirs[$condition]}" >&2
  fi
done

printf '\nGlitches in %s s of a 441 Hz sine (%d cores)\n' "$seconds" "$cores"
printf '%-9s | %-36s | %s\n' condition Veldmix Mixxx
printf '%s\n' "----------+--------------------------------------+-------------------------------------"
for condition in "${wanted[@]}"; do
  printf '%-9s | %-36s | %s\n' "$condition" "$(cell "${ours[$condition]}")" "$(cell "${theirs[$condition]}")"
done
