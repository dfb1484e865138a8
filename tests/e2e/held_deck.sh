#!/usr/bin/env bash
# Labels: slow
# Cost: 27
# A playing deck held still by a MIDI jog touch (vinyl mode) is silent, in the real program under a
# virtual display with a controller stand-in on a private JACK server. A 440 Hz tone plays on deck
# A; the master's sink is recorded while the jog is touched, held for 2 s and let go. Measured in
# the recording: the touch (the first sample where the tone leaves its sine), the moment from which
# the master stays below -60 dBFS (every sample, DC included) until the release, within 20 ms, and the
# largest sample step at the release against a de-click's (the tone's own step plus a 4 ms fade).
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$source_dir/tests/support/private_jack.sh"
need veldmix Xvfb xdotool sox parec pactl jackd jack_lsp flock
/usr/bin/python3 -c 'import rtmidi, numpy' 2>/dev/null || fail "python3-rtmidi or python3-numpy is not installed"
app_pid="" peer_pid=""

own_sound_server  # measures the sink: other scripts must not play into it
private_home
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"
artifacts="$build/e2e-artifacts/held_deck"
rm -rf "$artifacts"

e2e_on_fail() {
  mkdir -p "$artifacts"
  cp "$work/hold.raw" "$work/peer.log" "$work/jackd.log" "$artifacts/" 2>/dev/null
  [ -n "$app_pid" ] && kill -TERM "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  [ -n "$peer_pid" ] && kill "$peer_pid" 2>/dev/null && wait "$peer_pid" 2>/dev/null
  stop_jack
}
start_private_jack "$work/jackd.log" || fail "jackd did not start: $(tail -n 5 "$work/jackd.log" | tr "\n" " ")"

sox -n -r 48000 -c 2 -b 16 "$work/tone.wav" synth 60 sine 440 vol 0.2 || fail "sox could not make the tone"
"$app" "$work/tone.wav" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 20 window_shown || fail "the main window did not appear"
wait_for 10 log_has "Audio: master output started" || fail "the output did not start"
wait_for 30 deck_loaded A "$work/tone.wav" || fail "the tone did not load onto deck A"
start_midi_peer 3 peer DDJ-FLX4
peer_pid=$peer_started
wait_for 30 log_has "MIDI connected: DDJ-FLX4:DDJ-FLX4" || fail "no 'MIDI connected' line"

peer send 90 0b 7f  # PLAY
peer send 80 0b 00
playing() {
  record_sink "$work/probe.raw" 0.5 || return 1
  awk -v a="$(tone_level "$work/probe.raw" 440)" 'BEGIN { exit !(a > 0.05) }'
}
wait_for 20 playing || fail "PLAY did not start deck A"

record_sink "$work/hold.raw" 5 &
recorder=$!
sleep 1.2
peer send 90 36 7f  # jog touch: vinyl mode holds the record
sleep 2
peer send 90 36 00  # let go
wait "$recorder" || fail "the master's sink could not be recorded"

/usr/bin/python3 - "$work/hold.raw" <<'PY' || fail "a held deck is not silent"
import sys
import numpy as np

RATE, TONE = 48000, 440.0
QUIET = 10 ** (-60 / 20)       # -60 dBFS
WINDOW, HOP = 240, 48          # 5 ms windows every 1 ms
x = np.fromfile(sys.argv[1], dtype=np.float32)[0::2].astype(np.float64)
t = np.arange(WINDOW) / RATE
basis = np.stack([np.cos(2 * np.pi * TONE * t), np.sin(2 * np.pi * TONE * t), np.ones(WINDOW)], axis=1)
starts = range(int(0.3 * RATE), len(x) - WINDOW, HOP)

def residual(s):
    w = x[s:s + WINDOW]
    coef, *_ = np.linalg.lstsq(basis, w, rcond=None)
    return np.sqrt(np.mean((w - basis @ coef) ** 2)), np.hypot(coef[0], coef[1])

steady = x[int(0.3 * RATE):int(0.8 * RATE)]
amplitude = np.sqrt(2 * np.mean(steady ** 2))
assert amplitude > 0.05, "the tone does not play before the touch (amplitude %.4f)" % amplitude
touch = next((s for s in starts if residual(s)[0] > 0.02 * amplitude), None)
assert touch is not None, "the touch never changed the tone"
rms = lambda s: np.sqrt(np.mean(x[s:s + WINDOW] ** 2))
# The release: the last window above -60 dBFS follows the held stretch; the level comes back.
loud = [s for s in range(touch, len(x) - WINDOW, HOP) if rms(s) >= QUIET]
gaps = [(b - a, a, b) for a, b in zip(loud, loud[1:]) if b - a > HOP]
held_level = max(np.sqrt(np.mean(x[touch + int(0.5 * RATE):touch + int(1.5 * RATE)] ** 2)), 1e-12)
print("held_deck: tone amplitude %.4f; level 0.5-1.5 s into the hold %.1f dBFS (DC %.5f)"
      % (amplitude, 20 * np.log10(held_level), np.mean(x[touch + int(0.5 * RATE):touch + int(1.5 * RATE)])))
assert gaps, "the master never fell below -60 dBFS while the deck was held"
_, quiet_from, release = max(gaps)
quiet_from += WINDOW  # the first window wholly below
# To the sample: the tone fitted just before the touch window, carried on, shows the first sample
# that leaves it; the last sample above -60 dBFS before the hold's quiet stretch ends the sound.
clean = touch - 2 * WINDOW
coef, *_ = np.linalg.lstsq(basis, x[clean:clean + WINDOW], rcond=None)
span = np.arange(touch - WINDOW, touch + WINDOW)
tt = (span - clean) / RATE
carried = coef[0] * np.cos(2 * np.pi * TONE * tt) + coef[1] * np.sin(2 * np.pi * TONE * tt) + coef[2]
touch_at = span[np.argmax(np.abs(x[span] - carried) > 0.05 * amplitude)]
last_loud = touch_at + np.flatnonzero(np.abs(x[touch_at:quiet_from]) > QUIET)[-1]
print("held_deck: below -60 dBFS %.1f ms after the touch (5 ms windows: %.1f ms), for %.2f s, until the release"
      % (1000.0 * (last_loud - touch_at) / RATE, 1000.0 * (quiet_from - touch) / RATE, (release - quiet_from) / RATE))
assert (release - quiet_from) / RATE > 1.2, "the held deck was silent for %.2f s of 2 s" % ((release - quiet_from) / RATE)
assert (last_loud - touch_at) / RATE < 0.02, "the held deck took %.1f ms to fall silent" % (1000.0 * (last_loud - touch_at) / RATE)
# At the release the sound comes back no faster than a de-click fades in.
around = x[release - WINDOW:release + int(0.05 * RATE)]
step = np.max(np.abs(np.diff(around)))
declick = amplitude * (2 * np.pi * TONE / RATE + 1.0 / (0.004 * RATE))
print("held_deck: largest step at the release %.5f (a de-click's %.5f)" % (step, declick))
assert step <= 1.1 * declick, "the release stepped by %.5f, a de-click by %.5f" % (step, declick)
PY

kill -TERM "$app_pid"
wait "$app_pid"
code=$?
app_pid=""
[ "$code" = 0 ] || fail "the program ended with $code"
peer quit
exec 3>&-
wait "$peer_pid" 2>/dev/null
peer_pid=""
stop_jack
echo "held_deck: PASS"
