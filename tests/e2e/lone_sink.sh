#!/usr/bin/env bash
# The program alone on its sink, which then sleeps in long blocks and wakes the output late now
# and then, as a headless machine's or a just-resumed desktop's does: a 20 s tone played through
# the real output comes back from the sink's monitor whole (its length, no gap, no repeat) and the
# play counts no dropout; the window started with nothing playing shows none either; and the
# feature run passes beside two busy loops, its timecode and sandbox checks judged by the sound
# the engine mixed.
# Labels: slow
# Cost: 165
# Resource-lock: port18750
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$source_dir/tests/support/feature_run.sh"
readonly kToneSeconds=20
readonly kIdleSeconds=12     # a late wake-up came about every 10 s
readonly kBusyLoops=2

fail=0
check() { if ! eval "$2"; then echo "lone_sink: FAIL: $1" >&2; fail=1; fi; }
need veldmix veldmix-tool Xvfb xdpyinfo import ffmpeg pactl parec sox nginx openssl python3
busy=()
e2e_on_fail() { for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null; done; }

private_home
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"
own_sound_server
# No keep-alive: the program's streams are the sink's only ones.
kill "$(cat "$VELDMIX_AUDIO_DIR/veldmix_test.keepalive")" && rm -f "$VELDMIX_AUDIO_DIR/veldmix_test.keepalive" ||
  fail "the sink's keep-alive could not be stopped"
asleep() { pactl list sinks | awk '/^[[:space:]]*Name:/ { n = $2 } /Latency:/ && n == "veldmix_test" { exit !($5 >= 1000000) }'; }
wait_for 10 asleep || fail "the lone sink did not fall asleep"

# --- A tone through the real output, its sound read back from the monitor ---
sox -n -r 48000 -c 2 -b 16 "$work/tone.wav" synth $kToneSeconds sine 440 vol 0.5 || fail "sox could not make the tone"
# A recorder asking for a long latency leaves the sink's pace to the program's stream.
parec -d veldmix_test.monitor --raw --format=float32le --channels=2 --rate=48000 --latency-msec=2000 \
  >"$work/monitor.raw" 2>/dev/null &
recorder=$!
sleep 1
"$tool" play "$work/tone.wav" --seconds $((kToneSeconds + 4)) --device veldmix_test >"$work/play.out" 2>&1 ||
  fail "play failed: $(cat "$work/play.out")"
sleep 2.5
kill "$recorder"
# Prints the seconds the tone sounds, the places where the sine does not go on as a sine (a gap,
# a repeat or a skip breaks x[n] = 2 cos(w) x[n-1] - x[n-2]) and the largest break.
read -r sounded breaks worst < <(/usr/bin/python3 - "$work/monitor.raw" <<'PY'
import sys
import numpy
rate = 48000
x = numpy.fromfile(sys.argv[1], dtype=numpy.float32)[0::2].astype(numpy.float64)
loud = numpy.flatnonzero(numpy.abs(x) > 0.05)
if len(loud) < rate:
    print("0 0 0")
    sys.exit()
y = x[loud[0] + rate // 5:loud[-1] - rate // 5]  # past the start's ramp and before the cut
e = numpy.abs(y[2:] - 2 * numpy.cos(2 * numpy.pi * 440 / rate) * y[1:-1] + y[:-2])
bad = numpy.flatnonzero(e > 1e-3)
print("%.3f %d %.5f" % ((loud[-1] - loud[0] + 1) / rate, 0 if len(bad) == 0 else 1 + numpy.sum(numpy.diff(bad) > 200),
                        e.max()))
PY
)
# The count says what the monitor heard: no dropout where the tone is whole, some where a loaded
# machine did break it.
counted=$(sed -n 's/.*; \([0-9]*\) dropout(s)$/\1/p' "$work/play.out")
echo "lone_sink: the tone sounded $sounded s of $kToneSeconds with $breaks break(s) (largest $worst); $counted dropout(s) counted"
if [ "$breaks" = 0 ]; then
  check "the monitor holds the whole tone ($sounded s of $kToneSeconds)" \
    'awk -v s="$sounded" -v t=$kToneSeconds "BEGIN { exit !(s > t - 0.02 && s < t + 0.02) }"'
  check "the play counts no dropout in a whole tone: $(cat "$work/play.out")" '[ "$counted" = 0 ]'
else
  check "the play counts the $breaks break(s) the monitor heard: $(cat "$work/play.out")" '[ "${counted:-0}" -gt 0 ]'
fi

# --- The window with nothing playing ---
"$app" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 20 log_has "Audio: master output started" || fail "the output did not start"
sleep $kIdleSeconds
mkdir -p "$build/e2e-artifacts"
screen_shot "$build/e2e-artifacts/lone_sink_idle.png" || true  # the top bar's dropout count, for a look
kill "$app_pid"
wait "$app_pid" 2>/dev/null
check "nothing playing, no dropout: $(grep -E "Audio: [0-9]+ (dropout|repeated block|server underrun)" "$log" | head -3)" \
  '! grep -qE "Audio: [0-9]+ (dropout|repeated block|server underrun)" "$log"'

# --- The feature run beside busy loops ---
for _ in $(seq $kBusyLoops); do
  nice -n 0 bash -c 'while :; do :; done' &
  busy+=($!)
done
click='0.2*sin(2*PI*220*t)+0.6*sin(2*PI*1000*t)*lt(mod(t\,0.5)\,0.01)'
ffmpeg -nostdin -v error -f lavfi -i "aevalsrc='$click|$click':s=44100:d=100" "$work/track.mp3" ||
  fail "ffmpeg could not make the track"
feature_run loaded "$work/out" "$work/track.mp3" ingest=tls
e2e_on_fail
results="$work/out/results.txt"
check "the feature run ends with 0 (got $(feature_code loaded)): $(grep '^FAIL' "$results" 2>/dev/null | head -5 | tr '\n' ';')" \
  '[ "$(feature_code loaded)" = 0 ]'
check "a record going backwards took the deck backwards" \
  'grep -qx "PASS  timecode: a record going backwards takes the deck backwards" "$results"'
check "deck A came back where the crowd's mix got to: $(grep -B1 "sandbox off: deck A is where" "$results" | tr '\n' ' ')" \
  'grep -q "^PASS  sandbox off: deck A is where the crowd" "$results"'

echo "lone_sink: sandbox $(grep -B1 "sandbox off: deck A is where" "$results" | head -n 1 | sed 's/^ *//')"
[ $fail = 0 ] || exit 1
echo "lone_sink: all checks passed"
