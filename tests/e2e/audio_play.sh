#!/usr/bin/env bash
# veldmix-tool play through the real output thread on a sound server's null sinks: the sink's
# monitor and the mix recorder hold the file's tone at its level and pitch; with --input a tone
# played into a second sink, whose monitor is the microphone, comes through while the music
# ducks; a sink unloaded while playing logs the stop and the reopen; with no sound server the
# output logs one "couldn't be opened" line however often it retries.
# Cost: 64
set -u
tool="$VELDMIX_BUILD/veldmix-tool"
server="$VELDMIX_SOURCE/scripts/test_audio_server.sh"
work=$(mktemp -d)
own_server=""
sinks=()
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for sink in "${sinks[@]}"; do "$server" remove-sink "$sink" 2>/dev/null; done
  [ -n "$own_server" ] && "$server" stop "$own_server"
  rm -rf "$work"
}
trap cleanup EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
near() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= t) }'; }

# A server of our own unless the test run shares one; sinks of our own either way.
if [ -z "${PULSE_SERVER:-}" ]; then
  own_server="$work/pulse"
  eval "$(VELDMIX_AUDIO_OWNER=$$ "$server" start "$own_server")" || { echo "FAIL: no sound server"; exit 1; }
fi
export VELDMIX_AUDIO_DIR="${VELDMIX_AUDIO_DIR:-$work}"
add_sink() {
  "$server" add-sink "$1" 2 48000 float32le || { echo "FAIL: sink $1 could not be added"; exit 1; }
  sinks+=("$1")
}
main=vm_play_$$ mic=vm_mic_$$ unplug=vm_unplug_$$
add_sink "$main"
add_sink "$mic"
add_sink "$unplug"

export HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_STATE_HOME="$work/home/state"
mkdir -p "$XDG_DATA_HOME/Veldmix"
log="$XDG_STATE_HOME/Veldmix/Veldmix.log"

# RMS and zero-crossing pitch of one channel of raw float samples: the medians over 50 ms
# windows of the sounding part without its first and last 0.3 s, so that a late period of a
# loaded machine does not decide. tone FILE CHANNELS RATE CHANNEL
tone() {
  python3 - "$@" <<'EOF'
import array, math, statistics, sys
path, channels, rate, channel = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
data = array.array('f')
with open(path, 'rb') as f:
    data.frombytes(f.read())
x = data[channel::channels]
loud = [i for i, v in enumerate(x) if abs(v) > 0.02]
trim, window = int(0.3 * rate), rate // 20
x = x[loud[0] + trim:loud[-1] - trim] if loud and loud[-1] - loud[0] > 2 * trim + 2 * window else []
rms, pitch = [], []
for start in range(0, len(x) - window + 1, window):
    w = x[start:start + window]
    rms.append(math.sqrt(sum(v * v for v in w) / window))
    ups = [i - w[i - 1] / (w[i] - w[i - 1]) for i in range(1, window) if w[i - 1] < 0 <= w[i]]
    pitch.append((len(ups) - 1) * rate / (ups[-1] - ups[0]) if len(ups) > 1 else 0)
print(f"{statistics.median(rms):.4f} {statistics.median(pitch):.2f}" if rms else "0 0")
EOF
}
# Seconds into a stereo 48 kHz recording at which it first sounds: the recorder starts before the
# program, and on a loaded machine the program's first block comes a while later. onset FILE
onset() {
  python3 - "$1" <<'EOF'
import array, sys
data = array.array('f')
with open(sys.argv[1], 'rb') as f:
    data.frombytes(f.read())
print(next((i // 2 for i, v in enumerate(data) if abs(v) > 0.02), 0) / 48000.0)
EOF
}
# Amplitude of a sine inside a band of one channel between two times: band FILE CHANNEL FROM TO LOW HIGH
band() {
  sox -t f32 -r 48000 -c 2 "$1" -n remix "$(($2 + 1))" trim "$3" "=$4" sinc -t 50 "$5-$6" stat 2>&1 |
    awk '/RMS.*amplitude/ { printf "%.4f\n", $3 * 1.41421356 }'
}
record() {  # record SOURCE FILE: parec in the background, its pid in $! (waits until it records)
  parec -d "$1" --raw --format=float32le --channels=2 --rate=48000 --latency-msec=10 >"$2" &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$2" ] && break; sleep 0.05; done
}

sox -n -r 44100 -c 2 -b 16 "$work/tone 440.wav" synth 8 sine 440 vol 0.5
sox -n -r 48000 -c 2 -b 16 "$work/mic.wav" synth 12 sine 1000 vol 0.2
sox -n -r 48000 -c 2 -b 16 "$work/quiet.wav" synth 8 sine 440 vol 0.0001

# --- The tone on the sink and in the mix recording ---
record "$main.monitor" "$work/monitor.raw"
parec_pid=$!
"$tool" play "$work/tone 440.wav" --seconds 3 --record "$work/mix.wav" --device "$main" >"$work/out" 2>&1; rc=$?
kill $parec_pid; wait $parec_pid 2>/dev/null
check "play exits 0 (got $rc: $(cat "$work/out"))" '[ $rc -eq 0 ]'
read -r rms pitch < <(tone "$work/monitor.raw" 2 48000 0)
check "the sink's monitor holds the tone at its level (RMS $rms)" 'near "$rms" 0.3536 0.005'
check "the sink's monitor holds the tone at 440 Hz ($pitch Hz)" 'near "$pitch" 440 1'
read -r rms pitch < <(tone "$work/monitor.raw" 2 48000 1)
check "both channels carry it (right RMS $rms)" 'near "$rms" 0.3536 0.005'
sox "$work/mix.wav" -t f32 "$work/mix.raw"
read -r rms pitch < <(tone "$work/mix.raw" 2 48000 0)
check "the mix recording holds the same tone (RMS $rms, $pitch Hz)" 'near "$rms" 0.3536 0.005 && near "$pitch" 440 1'
check "the log names the open device run" \
      'grep -qE "Audio: master output started \(48000 Hz, 2 channels, [0-9]+-frame buffer, shared\)" "$log"'

# --- The microphone ducks the music ---
printf '[Tour]\r\nDone=1\r\n[Mic]\r\nDevice=%s.monitor\r\nGain=70\r\nDuck=1\r\n' "$mic" >"$XDG_DATA_HOME/Veldmix/settings.ini"
paplay -d "$mic" "$work/mic.wav" &
pids+=($!)
sleep 0.5
record "$main.monitor" "$work/ducked.raw"
parec_pid=$!
"$tool" play "$work/tone 440.wav" --seconds 4 --input --device "$main" >"$work/out" 2>&1; rc=$?
kill $parec_pid; wait $parec_pid 2>/dev/null
check "play --input exits 0 (got $rc: $(cat "$work/out"))" '[ $rc -eq 0 ]'
# Between 1 s and 3 s into the program's sound the ducking has settled; the microphone's drift
# correction may move its pitch by a fraction of a percent, so levels are taken in bands around the
# two tones.
start=$(onset "$work/ducked.raw")
from=$(awk -v s="$start" 'BEGIN { print s + 1 }') to=$(awk -v s="$start" 'BEGIN { print s + 3 }')
music=$(band "$work/ducked.raw" 0 "$from" "$to" 350 550)
voice=$(band "$work/ducked.raw" 1 "$from" "$to" 850 1150)
check "the music ducks to 0.28 of its level (440 Hz at $music)" 'near "$music" 0.14 0.01'
check "the microphone comes through at 2 x 0.7^2 (1000 Hz at $voice)" 'near "$voice" 0.196 0.01'
rm -f "$XDG_DATA_HOME/Veldmix/settings.ini"

# --- A sink unloaded while playing: a stop line and a reopen (a near-silent file, since the
# reopened run plays on the server's default sink) ---
: >"$log"
"$tool" play "$work/quiet.wav" --seconds 4 --device "$unplug" >"$work/out" 2>&1 &
play_pid=$!
pids+=($play_pid)
for _ in $(seq 100); do grep -q "master output started" "$log" 2>/dev/null && break; sleep 0.05; done
sleep 0.5
"$server" remove-sink "$unplug"
wait $play_pid; rc=$?
check "play survives the unplugged sink (got $rc)" '[ $rc -eq 0 ]'
check "the log has the stop" 'grep -q "Audio: master output stopped (device removed, changed or failed); reopening" "$log"'
starts=$(grep -c "Audio: master output started" "$log")
check "and the reopen ($starts start lines)" '[ "$starts" -eq 2 ]'
stop_line=$(grep -n "master output stopped" "$log" | head -1 | cut -d: -f1)
last_start=$(grep -n "master output started" "$log" | tail -1 | cut -d: -f1)
check "the reopen follows the stop" '[ "${last_start:-0}" -gt "${stop_line:-99999}" ]'

# --- No sound server: one line, however often the output retries ---
: >"$log"
PULSE_SERVER="unix:$work/no-server/native" "$tool" play "$work/quiet.wav" --seconds 3 >"$work/out" 2>&1; rc=$?
check "without a server play exits 1 (got $rc)" '[ $rc -eq 1 ] && grep -q "the master output never opened" "$work/out"'
lines=$(grep -c "Audio: the master output couldn't be opened; retrying" "$log")
check "one \"couldn't be opened\" line in 3 s of retries (got $lines)" '[ "$lines" -eq 1 ]'
check "and no start line" '! grep -q "master output started" "$log"'

# --- The device list ---
"$tool" devices >"$work/devices" 2>&1
check "devices lists our sink with its channels" 'grep -qP "^output\t$main\t2\t$main" "$work/devices"'
check "devices lists its monitor as an input" 'grep -qP "^input\t$main.monitor\t2\t" "$work/devices"'
"$tool" play "$work/tone 440.wav" 2>/dev/null; rc=$?
check "play without --seconds is a usage error (got $rc)" '[ $rc -eq 2 ]'
for decks in 2x 0 5 99999999999999999999; do
  "$tool" play "$work/tone 440.wav" --seconds 1 --decks "$decks" 2>/dev/null; rc=$?
  check "play --decks $decks is a usage error (got $rc)" '[ $rc -eq 2 ]'
done

[ $fail -eq 0 ] && echo "PASS: audio play"
exit $fail
