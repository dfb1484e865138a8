#!/usr/bin/env bash
# Labels: slow
# Cost: 45
# A MIDI controller against the real program under a virtual display, over a private JACK server
# (dummy backend): a python3-rtmidi client named "DDJ-FLX4" appears after the start and gets the
# ready-made layout (midi.tsv, settings.ini, the log); its PLAY plays deck A, heard on the sound
# server, and the PLAY light comes back to it (never its own messages); its 14-bit channel fader
# sets the level heard; jack_midi_dump on the clock output gets start, 48 clocks a second timed by
# JACK's frame clock and stop at the pause, and no lights; closing the client mid-scratch lets the
# record play on. The ALSA sequencer is checked only where it exists.
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$source_dir/tests/support/private_jack.sh"
need veldmix Xvfb xdotool sox parec pactl jackd jack_midi_dump jack_lsp flock
/usr/bin/python3 -c 'import rtmidi' 2>/dev/null || fail "python3-rtmidi is not installed"
app_pid="" dump_pid="" peer_pid="" beats_pid="" clock_pid=""

own_sound_server  # measures the sink: other scripts must not play into it
private_home
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"

artifacts="$build/e2e-artifacts/midi_controller"
rm -rf "$artifacts"

# --- A private JACK server; the program and every peer use it ---
e2e_on_fail() {
  # What JACK saw: a client it dropped for missing its cycles loses its connections silently.
  mkdir -p "$artifacts"
  cp "$work/peer.log" "$work/clock.log" "$work/dump.txt" "$work/jackd.log" "$artifacts/" 2>/dev/null
  jack_lsp -c >"$artifacts/jack-connections.txt" 2>&1
  [ -n "$app_pid" ] && kill -TERM "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  for pid in $peer_pid $clock_pid $dump_pid $beats_pid; do kill "$pid" 2>/dev/null; done
  for pid in $peer_pid $clock_pid $dump_pid $beats_pid; do wait "$pid" 2>/dev/null; done
  stop_jack
}
start_private_jack "$work/jackd.log" || fail "jackd did not start: $(tail -n 5 "$work/jackd.log" | tr "\n" " ")"
jack_midi_dump -a >"$work/dump.txt" 2>&1 &
dump_pid=$!
wait_for 5 sh -c 'jack_lsp | grep -qx midi-monitor:input' || fail "jack_midi_dump has no input port"

# A second receiver of the clock that times it by its own clock (JACK's frame clock of the dummy
# backend runs up to 2 % slow under load); it is connected to the clock output further down.
start_midi_peer 4 clock clock-peer
clock_pid=$peer_started

mkdir -p "$(dirname "$settings")"
printf '[Tour]\r\nDone=1\r\n[Midi]\r\nClockOut=midi-monitor:input\r\n' >"$settings"

# A 120 BPM click track over a steady 220 Hz tone, for the beat grid and the level.
sox -n -r 44100 -c 2 -b 16 "$work/clicks.wav" synth 0.01 sine 1000 vol 0.4 pad 0 0.49 repeat 119 || fail "sox"
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 60 sine 220 vol 0.2 || fail "sox"
sox -m "$work/clicks.wav" "$work/tone.wav" "$work/track.wav" || fail "sox"

window_shown() { [ -n "$(xdotool search --class '^veldmix$' 2>/dev/null | head -n 1)" ]; }
"$app" "$work/track.wav" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 20 window_shown || fail "the main window did not appear"
wait_for 10 log_has "Audio: master output started" || fail "the output did not start"
wait_for 30 deck_loaded A "$work/track.wav" || fail "the track did not load onto deck A"

# --- The controller appears after the start ---
start_midi_peer 3 peer DDJ-FLX4
peer_pid=$peer_started
wait_for 30 log_has "MIDI connected: DDJ-FLX4:DDJ-FLX4" || fail "no 'MIDI connected' line"
midi_tsv="$HOME/.local/share/Veldmix/midi.tsv"
wait_for 5 grep -qxP '9437195\t5200' "$midi_tsv" || fail "midi.tsv lacks the PLAY row"
layout_saved() { tr -d '\r' <"$settings" | grep -qx 'Layout=Pioneer DJ DDJ-400 / DDJ-FLX4'; }
wait_for 10 layout_saved || fail "settings.ini: $(grep Layout "$settings")"
wait_for 20 grep -q ' 90 0b 00$' "$work/peer.log" || fail "the PLAY light (off) was not sent: $(head "$work/peer.log")"


# The program's port that feeds jack_midi_dump feeds the clock peer too.
clock_port=$(feeder Veldmix midi-monitor:input) || true
[ -n "$clock_port" ] || fail "no port of the program feeds jack_midi_dump: $(jack_lsp -c)"
peer_in=$(jack_lsp -p | awk '/^[^\t]/ { port = $0 } /properties: input/ && port ~ /^clock-peer/ { print port; exit }')
jack_connect "$clock_port" "$peer_in" || fail "could not connect $clock_port to the clock peer ($peer_in)"

# --- PLAY plays deck A; the light follows; the 14-bit fader sets the level ---
record_sink "$work/before.raw" 1.2
# The whole stretch the deck plays is recorded too: its clicks are the beats as heard.
parec -d veldmix_test.monitor --raw --format=float32le --channels=2 --rate=48000 --latency-msec=10 \
  >"$work/beats.raw" 2>/dev/null &
beats_pid=$!
peer send b0 13 7f
peer send 90 0b 7f
peer send 80 0b 00
wait_for 20 grep -q ' 90 0b 7f$' "$work/peer.log" || fail "the PLAY light did not come on"
sleep 0.5
record_sink "$work/full.raw" 1.5
peer send b0 13 64
peer send b0 33 40
sleep 0.5
record_sink "$work/fader.raw" 1.5
quiet=$(tone_level "$work/before.raw") full=$(tone_level "$work/full.raw") faded=$(tone_level "$work/fader.raw")
echo "tone amplitude: before PLAY $quiet, fader up $full, fader at 12864/16383 $faded"
awk -v q="$quiet" -v f="$full" 'BEGIN { exit !(f > 0.02 && q < f / 20) }' || fail "PLAY did not start deck A"
# The channel gain is the fader squared: 0.7852^2 = 0.6166 of the full level.
awk -v f="$full" -v g="$faded" 'BEGIN { r = g / f; exit !(r > 0.59 && r < 0.645) }' ||
  fail "the 14-bit fader gave $(awk -v f="$full" -v g="$faded" 'BEGIN { print g / f }') of the level, not 0.617"

# --- The clock while deck A plays at 120 BPM, then the pause ---
sleep 4
peer send 90 0b 7f  # pause
wait_for 20 sh -c "grep ' 90 0b' '$work/peer.log' | tail -n 1 | grep -q ' 90 0b 00$'" || fail "the PLAY light did not go off"
sleep 0.5
kill "$beats_pid" 2>/dev/null
wait "$beats_pid" 2>/dev/null
sleep 1.5

# --- Mid-scratch the controller goes away: the record is let go and plays on ---
peer send 90 0b 7f
peer send 90 36 7f  # jog touch: vinyl mode holds the record
sleep 0.8
record_sink "$work/held.raw" 1.0
peer quit
exec 3>&-
wait "$peer_pid" 2>/dev/null
peer_pid=""
wait_for 10 log_has "Controller disconnected: DDJ-FLX4:DDJ-FLX4" || fail "no 'Controller disconnected' line"
sleep 0.5
record_sink "$work/released.raw" 1.2
held=$(tone_level "$work/held.raw") released=$(tone_level "$work/released.raw")
echo "tone amplitude: jog held $held, after the controller went $released"
awk -v h="$held" -v r="$released" 'BEGIN { exit !(r > 0.02 && h < r / 4) }' || fail "the scratch was not released"

kill -TERM "$app_pid"
wait "$app_pid"
code=$?
app_pid=""
[ "$code" = 0 ] || fail "the program ended with $code"
kill "$dump_pid"
wait "$dump_pid" 2>/dev/null
dump_pid=""

# The peer never got what it sent itself (its note off, its fader's two halves).
! grep -qE ' (80 0b 00|b0 13 64|b0 33 40)$' "$work/peer.log" || fail "the peer got its own messages back"
echo quit >&4
exec 4>&-
wait "$clock_pid" 2>/dev/null
clock_pid=""
PYTHONPATH="$source_dir/tests/support" /usr/bin/python3 - "$work/dump.txt" "$work/clock.log" "$work/beats.raw" <<'PY' || fail "clock: $(head -c 300 "$work/dump.txt")"
import sys
from beat_clock import beats_heard, clock_rate, dump_events, jack_lag, peer_clock
events = dump_events(sys.argv[1])
kinds = [k for _, k in events]
assert kinds, "jack_midi_dump got nothing"
assert not [k for k in kinds if k.startswith("9") or k.startswith("b")], "lights reached the clock output"
start = kinds.index("fa")
stop = kinds.index("fc", start)
assert kinds[start + 1] == "f8", "no clock with the start"
clocks = [t for t, k in events[start + 1:stop] if k == "f8"]
frames_rate = (len(clocks) - 1) * 48000.0 / (clocks[-1] - clocks[0])
after = kinds[stop + 1:]
assert "f8" not in (after[:after.index("fa")] if "fa" in after else after), "clocks after the stop"
# The peer's own clock from the start to the stop; the beats heard, on the system clock.
times, _ = peer_clock(sys.argv[2])
rate, heard = clock_rate(times), beats_heard(sys.argv[3])
print("clock: %d clocks at %.3f a second by the peer's clock (%.3f by JACK frames); beats heard %.4f a second"
      % (len(times), rate, frames_rate, heard))
# The rate is judged to 1 % (0.5 of 48 a second): where JACK's dummy backend lagged the wall clock
# by more, every clock reached the peer that much later and the rate is not judged.
lag = jack_lag(events, sys.argv[2])
if abs(lag) > 0.01:
    print("midi_controller: SKIP clock rate: the JACK server ran %.1f %% behind the wall clock" % (100 * lag))
else:
    assert abs(rate - 24.0 * heard) <= 0.5, "%.3f clocks a second for %.4f beats a second" % (rate, heard)
    assert abs(rate - 48.0) <= 0.5 or abs(heard - 2.0) > 0.02, "%.3f clocks a second at 120 BPM" % rate
PY

stop_jack

# --- The ALSA sequencer, where the machine has one: chosen by itself, a client appears ---
if [ -e /dev/snd/seq ]; then
  unset VELDMIX_MIDI_API
  : >"$log"
  "$app" >"$work/app2.out" 2>&1 &
  app_pid=$!
  wait_for 20 window_shown || fail "ALSA: the main window did not appear"
  start_midi_peer 5 alsa DDJ-FLX4 alsa
  wait_for 30 log_has "MIDI connected: DDJ-FLX4:DDJ-FLX4" || fail "ALSA: no 'MIDI connected' line"
  wait_for 20 grep -q ' 90 0b 00$' "$work/alsa.log" || fail "ALSA: the PLAY light was not sent"
  echo quit >&5
  exec 5>&-
  kill -TERM "$app_pid"
  wait "$app_pid" || fail "ALSA: the program ended with $?"
  app_pid=""
  echo "midi_controller: ALSA sequencer checked"
else
  echo "midi_controller: SKIP ALSA sequencer (no /dev/snd/seq on this machine)"
fi
echo "midi_controller: PASS"
