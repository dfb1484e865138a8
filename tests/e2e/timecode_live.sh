#!/usr/bin/env bash
# Timecode vinyl through the real capture and output threads on the test sound server. Carriers
# made by sox (and one with a random amplitude per cycle, as records carry, made with numpy) play
# into a private null sink whose monitor is [Dvs] Device. veldmix-tool play --timecode plays a
# 440 Hz track on deck A, which follows the record: a +4 % carrier starts it within 0.5 s, sounds
# at 457.6 Hz on the output sink and moves its tempo fader; a +2 % carrier plays it at 1.02 and its
# fader stays at +2 % once the record stops; a reversed or swapped carrier plays it
# backwards and FlipA mends the swap; silence pauses it within 0.5 s. veldmix-tool timecode reads
# the 2 kHz carrier with Traktor on, and an input whose sound server appears only later is found
# by the 500 ms retries with one log line, not one per retry.
# Labels: slow
# Cost: 63
set -u
source "$(dirname "$0")/../support/e2e_preamble.sh"
need veldmix-tool sox paplay parec pactl /usr/bin/python3

own_sound_server unless-shared
export VELDMIX_AUDIO_DIR="${VELDMIX_AUDIO_DIR:-$work}"
tc_sink="vm_tc_$$" out_sink="vm_tcout_$$"
for sink in "$tc_sink" "$out_sink"; do
  "$server" add-sink "$sink" 2 48000 float32le || fail "sink $sink could not be added"
done
e2e_cleanup_sinks() { for sink in "$tc_sink" "$out_sink"; do "$server" remove-sink "$sink" >/dev/null 2>&1; done; }
trap 'e2e_cleanup_sinks; e2e_cleanup' EXIT
private_home
mkdir -p "$(dirname "$settings")"
failures=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; failures=$((failures + 1)); fi; }
dvs() { printf '[Tour]\r\nDone=1\r\n[Dvs]\r\nOn=1\r\nDevice=%s.monitor\r\n%s' "$tc_sink" "$1" >"$settings"; }

# --- Signals ---
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 12 sine 440 vol 0.5
carrier() {  # carrier OUT HZ SPEED [EFFECTS...]: 2.4 s of carrier then 1.5 s of silence
  local out=$1 hz=$2 speed=$3
  shift 3
  sox -n -r 48000 -c 2 -b 16 "$work/raw.wav" synth "$(awk -v s="$speed" 'BEGIN { print 2.4 * s }')" \
      sine "$hz" 0 0 sine "$hz" 0 25 vol 0.5 speed "$speed" "$@"
  sox "$work/raw.wav" "$out" pad 0 1.5
}
carrier "$work/fwd4.wav" 1000 1.04
carrier "$work/fwd2.wav" 1000 1.02
carrier "$work/rev4.wav" 1000 1.04 reverse
carrier "$work/swap4.wav" 1000 1.04 remix 2 1
carrier "$work/traktor.wav" 2000 1.0
/usr/bin/python3 - "$work/uneven.wav" <<'EOF' || fail "numpy could not make the uneven record"
import sys, wave
import numpy as np
rate, seconds, hz = 48000, 2.4, 1000.0
t = np.arange(int(rate * seconds)) / rate
cycle = np.floor(t * hz).astype(int)
level = np.random.default_rng(7).uniform(0.15, 0.8, cycle[-1] + 1)[cycle]  # one level per cycle
phase = 2 * np.pi * hz * t
pcm = (np.stack([np.sin(phase), np.cos(phase)], axis=1) * level[:, None] * 32767).astype('<i2')
with wave.open(sys.argv[1], 'wb') as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(rate); w.writeframes(pcm.tobytes())
EOF

# Runs COMMAND (a tool run printing "tc T ..." lines) into OUT; once it has run 0.3 s, plays the
# carrier into the timecode sink and writes the tool's time at that moment into OUT.start.
run_with_carrier() {
  local wav=$1 out=$2
  shift 2
  "$@" >"$out" 2>"$out.err" &
  local pid=$!
  wait_for 10 grep -qE '^tc (0\.[3-9]|[1-9])' "$out" || fail "no trace from: $* ($(cat "$out.err"))"
  tail -n 1 "$out" | awk '{ print $2 }' >"$out.start"
  paplay -d "$tc_sink" "$wav"
  wait "$pid" || fail "$* failed: $(cat "$out.err")"
}

# Facts from a play --timecode trace (tc T SPEED SIGNAL FADER POSITION PLAYING RUNNING):
# start: seconds from the input's first line with the carrier's signal to deck A playing, both on
# the tool's clock (paplay and the sound server may take a while to bring the carrier on a loaded
# machine); fader: the fader while it played; moved: position at the last playing line with the
# signal minus the first; paused: seconds from the last line reading the full speed to the first
# line after it with deck A paused (-1 when it never paused); heard: seconds from the carrier's
# launch to its first line; span: seconds on the tool's clock from the first playing line to the
# last playing line with the signal.
facts() {
  awk -v launch="$(cat "$1.start")" '
    $1 == "tc" {
      if ($4 == 1 && $2 >= launch && heard == "") heard = $2
      if ($7 == 1 && start == "" && heard != "") { start = $2 - heard; first = $6; from = $2 }
      if ($7 == 1) fader = $5
      if ($7 == 1 && $4 == 1) { last = $6; to = $2 }
      if ($3 > 0.9 || $3 < -0.9) { fast = $2; paused = "" }
      if (start != "" && $7 == 0 && paused == "" && fast != "") paused = $2 - fast
    }
    END {
      printf "%s %s %s %s %s %s\n", (start == "" ? 99 : start), (fader == "" ? -1 : fader), last - first,
        (paused == "" ? -1 : paused), (heard == "" ? -1 : heard - launch), to - from
    }
  ' "$1"
}
near() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= t) }'; }
# moved_at MOVED SPAN SPEED: the deck moved the carrier's 2.3 s, or, where a loaded machine cut the
# carrier short, at the record's speed for the time it was heard (at least 1.2 s of it).
moved_at() {
  near "$1" "$(awk -v s="$3" 'BEGIN { print 2.3 * (s < 0 ? -1 : 1) }')" 0.35 ||
    awk -v m="$1" -v t="$2" -v s="$3" 'BEGIN { d = m - s * t; if (d < 0) d = -d; exit !(t >= 1.2 && d <= 0.2) }'
}
# The median zero-crossing pitch of 50 ms windows of the loud part of a recording, its first and
# last 0.4 s left out.
pitch() {
  /usr/bin/python3 - "$1" <<'EOF'
import array, statistics, sys
x = array.array('f')
x.frombytes(open(sys.argv[1], 'rb').read())
x = x[0::2]
loud = [i for i, v in enumerate(x) if abs(v) > 0.05]
if not loud:
    print(0); sys.exit()
x = x[loud[0] + 19200:loud[-1] - 19200]
out = []
for s in range(0, len(x) - 2400, 2400):
    w = x[s:s + 2400]
    ups = [i - w[i - 1] / (w[i] - w[i - 1]) for i in range(1, len(w)) if w[i - 1] < 0 <= w[i]]
    if len(ups) > 1: out.append((len(ups) - 1) * 48000 / (ups[-1] - ups[0]))
print(f"{statistics.median(out):.2f}" if out else 0)
EOF
}

# --- +4 %: plays, sounds at 457.6 Hz, moves the fader; silence pauses it ---
dvs ""
parec -d "$out_sink.monitor" --raw --format=float32le --channels=2 --rate=48000 --latency-msec=10 >"$work/out.raw" &
parec_pid=$!
run_with_carrier "$work/fwd4.wav" "$work/fwd.tc" "$tool" play "$work/tone.wav" --seconds 6 --timecode --device "$out_sink"
kill "$parec_pid"
read -r start fader moved paused heard _ < <(facts "$work/fwd.tc")
check "a +4 % record starts deck A within 0.5 s of reaching the input (after $start s; launched $heard s before)" \
      'near "$start" 0.25 0.25'
check "the tempo fader follows to +4 % (0.25 in the ±8 % range; $fader)" 'near "$fader" 0.25 0.003'
hz=$(pitch "$work/out.raw")
check "the 440 Hz track sounds at 457.6 Hz on the sink ($hz Hz)" 'near "$hz" 457.6 2'
check "silence pauses deck A within 0.5 s ($paused s)" 'awk -v p="$paused" "BEGIN { exit !(p >= 0 && p <= 0.5) }"'
check "the input stops with the tool" 'grep -q "timecode input stopped after stopping" "$work/fwd.tc"'

# --- +2 %: deck A plays at the record's speed within 0.1 %; the fader keeps +2 % after it stops ---
parec -d "$out_sink.monitor" --raw --format=float32le --channels=2 --rate=48000 --latency-msec=10 >"$work/out2.raw" &
parec_pid=$!
run_with_carrier "$work/fwd2.wav" "$work/fwd2.tc" "$tool" play "$work/tone.wav" --seconds 6 --timecode --device "$out_sink"
kill "$parec_pid"
hz=$(pitch "$work/out2.raw")
check "a +2 % record plays the 440 Hz track at 448.8 Hz within 0.1 % ($hz Hz)" 'near "$hz" 448.8 0.45'
last_fader=$(awk '$1 == "tc" { f = $5 } END { print f }' "$work/fwd2.tc")
check "after it stops the fader still reads +2 % (0.375 in the ±8 % range; $last_fader)" 'near "$last_fader" 0.375 0.003'

# --- Backwards: reversed or swapped; FlipA restores ---
run_with_carrier "$work/rev4.wav" "$work/rev.tc" "$tool" play "$work/tone.wav" --seconds 6 --timecode --from 6 --device "$out_sink"
read -r start fader moved paused heard span < <(facts "$work/rev.tc")
check "a reversed record plays deck A backwards (moved $moved s in $span s)" 'moved_at "$moved" "$span" -1.04'
check "backwards leaves the tempo fader where it was ($fader)" 'near "$fader" 0.5 0'
run_with_carrier "$work/swap4.wav" "$work/swap.tc" "$tool" play "$work/tone.wav" --seconds 6 --timecode --from 6 --device "$out_sink"
read -r start fader moved paused heard span < <(facts "$work/swap.tc")
check "swapped channels play deck A backwards (moved $moved s in $span s)" 'moved_at "$moved" "$span" -1.04'
dvs $'FlipA=1\r\n'
run_with_carrier "$work/swap4.wav" "$work/flip.tc" "$tool" play "$work/tone.wav" --seconds 6 --timecode --from 6 --device "$out_sink"
read -r start fader moved paused heard span < <(facts "$work/flip.tc")
check "FlipA plays the swapped record forwards again (moved $moved s in $span s, fader $fader)" \
      'moved_at "$moved" "$span" 1.04 && near "$fader" 0.25 0.003'

# --- The carrier's speed as the input reads it ---
median_speed() { awk '$1 == "tc" && $4 == 1 { print $3 }' "$1" | sort -g | awk '{ a[NR] = $1 } END { print (NR ? a[int((NR + 1) / 2)] : 0) }'; }
dvs $'Traktor=1\r\n'
run_with_carrier "$work/traktor.wav" "$work/traktor.tc" "$tool" timecode --seconds 3
speed=$(median_speed "$work/traktor.tc")
check "Traktor=1 reads the 2000 Hz carrier at normal speed ($speed)" 'near "$speed" 1 0.01'
check "a two-channel input drives deck A only (pair B needs channels 3 and 4)" \
      '! awk "\$1 == \"tc\" && \$6 == 1 { found = 1 } END { exit !found }" "$work/traktor.tc"'
dvs ""
run_with_carrier "$work/uneven.wav" "$work/uneven.tc" "$tool" timecode --seconds 3
speed=$(median_speed "$work/uneven.tc")
check "a record whose level changes every cycle reads normal speed ($speed)" 'near "$speed" 1 0.01'

# --- No input at first: retried every 500 ms, logged once ---
: >"$log"
late="$work/late"
printf 'autospawn = no\n' >"$work/client.conf"
PULSE_CLIENTCONFIG="$work/client.conf" PULSE_SERVER="unix:$late/runtime/native" \
  "$tool" timecode --seconds 8 >"$work/late.tc" 2>&1 &
tc_pid=$!
wait_for 10 grep -qE '^tc (1\.[2-9]|[2-9])' "$work/late.tc" || fail "no trace from the timecode tool"
mkdir -p "$late"
VELDMIX_AUDIO_OWNER=$$ "$server" start "$late" >/dev/null &
wait_for 10 test -S "$late/runtime/native" || fail "the late sound server did not start"
ready=$(tail -n 1 "$work/late.tc" | awk '{ print $2 }')
wait "$tc_pid"
"$server" stop "$late" >/dev/null 2>&1
found=$(awk '$1 == "tc" && $7 > 0 { print $2; exit }' "$work/late.tc")
check "a sound server that appears is read within the retry time (ready at $ready s, read at ${found:-never} s)" \
      '[ -n "$found" ] && awk -v a="$found" -v b="$ready" "BEGIN { exit !(a - b <= 1.0) }"'
tries=$(grep -c "DVS: no input to read" "$log")
check "the failing opens were logged once ($tries lines)" '[ "$tries" -eq 1 ]'
check "the input logged what it reads" 'grep -q "DVS: reading 2 channels at 48000 Hz" "$log"'

[ "$failures" -eq 0 ] || fail "$failures check(s) failed"
echo "PASS: timecode_live"
