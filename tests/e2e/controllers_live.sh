#!/usr/bin/env bash
# Labels: slow
# Cost: 88
# MIDI learn, the Controllers page and the auto-map wizard in the real program under a virtual
# display, over a private JACK server with a python3-rtmidi controller ("MyPads", no ready-made
# layout), clicked where `veldmix-tool layout` says: MIDI, the left volume fader, a move on the
# controller writes its row to midi.tsv and says "Mapped — …" (OCR); the mapped fader then sets the
# level heard on the sound server. On the Controllers page, CLOCK OUT set to the first output
# (jack_midi_dump's, wired on to the controller) writes [Midi] ClockOut, and the controller gets
# start and 24 clocks a beat of the 120 BPM deck; Off stops it. AUTO-MAP MY CONTROLLER opens the
# wizard, which takes PLAY from the controller.
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$source_dir/tests/support/private_jack.sh"
source "$source_dir/tests/support/main_window.sh"
export OMP_THREAD_LIMIT=1  # tesseract: one thread is quicker than many on a loaded machine
need veldmix veldmix-tool Xvfb xwininfo xdotool import convert tesseract sox parec pactl jackd jack_lsp jack_midi_dump jack_connect flock
/usr/bin/python3 -c 'import rtmidi' 2>/dev/null || fail "python3-rtmidi is not installed"
artifacts="$build/e2e-artifacts/controllers_live"
rm -rf "$artifacts"
mkdir -p "$artifacts"
app_pid="" peer_pid="" beats_pid="" dump_pid=""

own_sound_server  # measures the sink: other scripts must not play into it
private_home
start_private_display "$work/xvfb.log" -screen 0 1920x1080x24 || fail "no virtual display could be started"

e2e_on_fail() {
  cp "$work/peer.log" "$work/dump.txt" "$work/jackd.log" "$artifacts/" 2>/dev/null
  jack_lsp -c >"$artifacts/jack-connections.txt" 2>&1
  [ -n "$app_pid" ] && kill -TERM "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  for pid in $peer_pid $beats_pid $dump_pid; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  stop_jack
}
start_private_jack "$work/jackd.log" || fail "jackd did not start: $(tail -n 5 "$work/jackd.log" | tr "\n" " ")"
# The clock goes to jack_midi_dump's port (the program's first MIDI output), which JACK frames, and
# from the program's port on to the controller, which times it by the wall clock.
jack_midi_dump -a >"$work/dump.txt" 2>&1 &
dump_pid=$!
wait_for 5 sh -c 'jack_lsp | grep -qx midi-monitor:input' || fail "jack_midi_dump has no input port"

# A 120 BPM click track over a steady 220 Hz tone: the beat grid for the clock, the tone for levels.
sox -n -r 44100 -c 2 -b 16 "$work/clicks.wav" synth 0.01 sine 1000 vol 0.4 pad 0 0.49 repeat 119 || fail "sox"
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 60 sine 220 vol 0.2 || fail "sox"
sox -m "$work/clicks.wav" "$work/tone.wav" "$work/track.wav" || fail "sox"

"$app" "$work/track.wav" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 10 log_has "Audio: master output started" || fail "the output did not start"
wait_for 30 deck_loaded A "$work/track.wav" || fail "the track did not load onto deck A"

start_midi_peer 3 peer MyPads
peer_pid=$peer_started
wait_for 30 log_has "MIDI connected: MyPads" || fail "no 'MIDI connected' line"
peer_in=$(jack_lsp -p | awk '/^[^\t]/ { port = $0 } /properties: input/ && port ~ /^MyPads/ { print port; exit }')
# The controller's two ports appear one after the other and the program opens its ports anew for
# each change it sees, dropping what was wired to them: the clock is wired on once the program
# has the controller's input among its outputs too.
wait_for 10 eval 'feeder Veldmix "$peer_in" >/dev/null' || fail "the program did not open the controller's input: $(jack_lsp -c)"
clock_port=$(feeder Veldmix midi-monitor:input) || true
[ -n "$clock_port" ] && [ -n "$peer_in" ] || fail "no clock port or controller input: $(jack_lsp -c)"
jack_connect "$clock_port" "$peer_in" || fail "could not connect $clock_port to $peer_in"

fit_main_window
echo "window: $ww x $wh at $wx, $wy"
# The Controllers page's widgets ("id.N") join the main screen's rectangles.
while read -r name x y w h; do at[$name]="$x $y $w $h"; done < <("$tool" layout "$ww" "$wh" --settings 4)
[ -n "${at[id.3067]:-}" ] || fail "no layout of the Controllers page"
shot() { screen_shot "$artifacts/$1.png" || fail "no screenshot $1"; }
reads() {  # name text x y w h: the window's area, read by OCR, holds the text (spaces aside)
  shot "$1"
  read_text "$5" "$6" $((wx + $3)) $((wy + $4)) >"$work/ocr.txt"
  tr -d ' ' <"$work/ocr.txt" | grep -qF -- "${2// /}"
}
tries() {  # tries N COMMAND...: true as soon as the command is, at most N times (OCR takes a while)
  local n=$1
  shift
  for _ in $(seq 1 "$n"); do "$@" && return 0; sleep 0.3; done
  return 1
}
ini() {  # section key: the value in settings.ini as configparser reads it
  /usr/bin/python3 - "$settings" "$1" "$2" <<'EOF'
import configparser, sys
c = configparser.ConfigParser(interpolation=None, strict=False)
c.optionxform = str
c.read(sys.argv[1], encoding="utf-8-sig")
print(c.get(sys.argv[2], sys.argv[3], fallback=""))
EOF
}

# --- MIDI learn: MIDI, the left volume fader, CC 7 on channel 1 from the controller ---
midi_tsv="$HOME/.local/share/Veldmix/midi.tsv"
top() { reads "$1" "$2" $((ww / 4)) 0 $((ww / 2)) 140; }  # the learn banner and the status line
click topbar.midi
tries 6 top learn "click the control you want" || fail "MIDI did not start learn: $(cat "$work/ocr.txt")"
click strip.0.volume
tries 6 top target "now move a control" || fail "the fader was not chosen: $(cat "$work/ocr.txt")"
peer send b0 07 40
wait_for 5 grep -sqP '^11534343\t' "$midi_tsv" || fail "midi.tsv has no row for CC 7: $(cat "$midi_tsv" 2>/dev/null)"
holds() { tr -d ' ' <<<"$text" | grep -qF -- "${1// /}"; }
burst_reads $((ww / 2)) 140 $((wx + ww / 4)) "$wy" holds "Mapped — click another control" ||
  fail "no 'Mapped' line: $text"
click topbar.midi
echo "learned: $(grep -P '^11534343\t' "$midi_tsv")"

# The learned fader acts: deck A plays, CC 7 up, then down to 16 of 127.
click play.0
peer send b0 07 7f
sleep 0.6
record_sink "$work/up.raw" 1.2
peer send b0 07 10
sleep 0.6
record_sink "$work/down.raw" 1.2
up=$(tone_level "$work/up.raw") down=$(tone_level "$work/down.raw")
echo "tone amplitude: fader at 127 $up, at 16 $down"
awk -v u="$up" -v d="$down" 'BEGIN { exit !(u > 0.02 && d < u / 10) }' || fail "the learned fader did not set the level"
peer send b0 07 7f

# --- CLOCK OUT on the Controllers page: the controller gets the deck's beat clock ---
click topbar.settings
click id.3004
# The deck's clicks heard meanwhile: a loaded machine starves the output now and then, the deck
# falls behind the wall clock, and the clock follows the deck's beat.
parec -d veldmix_test.monitor --raw --format=float32le --channels=2 --rate=48000 --latency-msec=10 \
  >"$work/beats.raw" 2>/dev/null &
beats_pid=$!
click id.3067  # ▸ from Off: the first MIDI output
wait_for 5 sh -c "grep -q '^ClockOut=' '$settings'" || fail "ClockOut not written"
[ "$(ini Midi ClockOut)" = midi-monitor:input ] || fail "settings.ini ClockOut reads '$(ini Midi ClockOut)'"
sleep 4
click id.3066  # ◂ back to Off
kill "$beats_pid" 2>/dev/null
wait "$beats_pid" 2>/dev/null
wait_for 10 eval '[ -z "$(ini Midi ClockOut)" ]' || fail "ClockOut not cleared"
# A loaded machine's JACK round trip to the peer can take seconds.
wired() { [ "$(feeder "$clock_port" "$peer_in")" = "$clock_port" ]; }
wait_for 20 sh -c "grep -q ' fc$' '$work/peer.log'" ||
  fail "no stop after Off: $(tail -n 3 "$work/peer.log") (the clock's port is $(wired && echo still || echo no longer) wired to the controller)"
PYTHONPATH="$source_dir/tests/support" /usr/bin/python3 - "$work/peer.log" "$work/beats.raw" "$work/dump.txt" <<'PY' ||
import sys
from beat_clock import beats_heard, clock_rate, dump_events, jack_lag, peer_clock
times, after = peer_clock(sys.argv[1])
assert "f8" not in after, "clocks after Off"
rate, heard = clock_rate(times), beats_heard(sys.argv[2])
lag = jack_lag(dump_events(sys.argv[3]), sys.argv[1])
print("clock: %d clocks at %.2f a second; beats heard %.3f a second (24 a beat: %.2f); JACK %.1f %% behind"
      % (len(times), rate, heard, 24 * heard, 100 * lag))
if abs(lag) > 0.02:
    print("controllers_live: SKIP clock rate: the JACK server ran %.1f %% behind the wall clock" % (100 * lag))
    sys.exit(0)
# The recording spans a little more than the clock, and the deck's lag varies: within 2 % (23 or 25
# clocks a beat would be 4 % off).
assert abs(rate - 24.0 * heard) <= 0.02 * 24.0 * heard, "%.2f clocks a second for %.3f beats a second" % (rate, heard)
PY
  fail "clock: $(grep -E ' (fa|f8|fc)$' "$work/peer.log" | head -n 3 | tr '\n' ' ')"

# --- AUTO-MAP MY CONTROLLER: the wizard takes PLAY from the controller ---
click id.3646
# The wizard's panel: 720 x 520 at most, centred; START at its bottom right (32 in, 150 x 36).
pw=$((ww - 40 < 720 ? ww - 40 : 720)) ph=$((wh - 24 < 520 ? wh - 24 : 520))
px=$(((ww - pw) / 2)) py=$(((wh - ph) / 2)) && [ "$py" -ge 12 ] || py=12
tries 6 reads wizard "AUTO-MAP YOUR CONTROLLER" "$px" "$py" "$pw" "$ph" || fail "the wizard did not open: $(cat "$work/ocr.txt")"

xdotool mousemove $((wx + px + pw - 32 - 75)) $((wy + py + ph - 32 - 18)) click 1
tries 6 reads prompt "Press PLAY on the LEFT deck" "$px" "$py" "$pw" "$ph" || fail "no first prompt: $(cat "$work/ocr.txt")"
sleep 0.5
peer send 90 0b 7f
tries 6 reads second "Press CUE on the LEFT deck" "$px" "$py" "$pw" "$ph" || fail "PLAY was not taken: $(cat "$work/ocr.txt")"
xdotool mousemove $((wx + px + pw - 32 - 55)) $((wy + py + 22 + 16)) click 1  # CANCEL
sleep 0.5

peer quit
exec 3>&-
wait "$peer_pid" 2>/dev/null
peer_pid=""
kill -TERM "$app_pid"
wait "$app_pid"
code=$?
app_pid=""
kill "$dump_pid" 2>/dev/null
wait "$dump_pid" 2>/dev/null
dump_pid=""
[ "$code" = 0 ] || fail "the program ended with $code"
grep -qP '^11534343\t' "$midi_tsv" || fail "the wizard, cancelled, changed the mapping"
stop_jack
echo "controllers_live: PASS"
