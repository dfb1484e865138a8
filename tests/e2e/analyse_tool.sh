#!/usr/bin/env bash
# veldmix-tool analyse FILE on files made by ffmpeg and sox: click tracks give their tempo and
# first beat, chords their key, silence and noise no key; loudness, first sound, the waveform's
# length and the phrases of a sectioned track; unreadable files and bad arguments fail.
# Cost: 25
set -u
tool="$VELDMIX_BUILD/veldmix-tool"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
field() { sed -n "s/^$1: //p" "$2"; }                 # the value after "name: " in a report
near() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; exit !(d <= t && -d <= t) }'; }

# Clicks: 10 ms of 1 kHz on every beat from 0.25 s.
clicks() {  # BPM SECONDS RATE OUT
  ffmpeg -v error -y -f lavfi \
    -i "aevalsrc='if(gte(t,0.25)*lt(mod(t-0.25,60/$1),0.01),0.8*sin(2*PI*1000*t),0)':s=$3:d=$2" -ac 2 "$4"
}
clicks 128 30 44100 "$work/c128.wav"
clicks 128 20 48000 "$work/c128.mp3"
clicks 120 30 44100 "$work/c120.flac"
clicks 126 12 44100 "$work/c126.wav"
for f in c128.wav c128.mp3 c120.flac c126.wav; do
  want=${f:1:3}
  "$tool" analyse "$work/$f" >"$work/$f.txt" 2>&1; rc=$?
  bpm=$(field bpm "$work/$f.txt"); beat=$(field "first beat" "$work/$f.txt" | cut -d' ' -f1)
  check "$f analyses (exit $rc)" '[ $rc -eq 0 ]'
  check "$f is $want BPM (got $bpm)" '[ "$bpm" = "$want.00" ]'
  check "$f first beat is 0.25 s within 10 ms (got $beat)" 'near "$beat" 0.25 0.010'
done

# Waveform: floor(frames x 150 / rate) + 1 points.
read -r frames _ rate _ < <(field frames "$work/c128.mp3.txt")
points=$(field "waveform points" "$work/c128.mp3.txt")
check "waveform has frames x 150 / rate + 1 points ($frames at $rate: $points)" \
      '[ "$points" = "$(( frames * 150 / rate + 1 ))" ]'

# Keys: A-C-E is A minor, C-E-G is C major; silence and white noise have none.
sox -n -r 44100 -c 2 "$work/ace.wav" synth 10 sine 220 sine 261.63 sine 329.63 remix 1,2,3 1,2,3 gain -n -6
sox -n -r 44100 -c 2 "$work/ceg.flac" synth 10 sine 261.63 sine 329.63 sine 392 remix 1,2,3 1,2,3 gain -n -6
sox -n -r 44100 -c 2 "$work/silence.wav" trim 0 10
sox -n -r 44100 -c 2 "$work/noise.wav" synth 10 whitenoise gain -n -6
for pair in "ace.wav:Am (8A)" "ceg.flac:C (8B)" "silence.wav:none" "noise.wav:none"; do
  f=${pair%%:*} want=${pair#*:}
  key=$("$tool" analyse "$work/$f" | sed -n 's/^key: //p')
  check "$f has key $want (got $key)" '[ "$key" = "$want" ]'
done

# A -20 dBFS RMS sine after 1.5 s of silence: loudness over the whole file, cue 10 ms early.
sox -n -r 44100 -c 2 "$work/sine.wav" synth 6 sine 1000 vol 0.141421 pad 1.5 0
"$tool" analyse "$work/sine.wav" >"$work/sine.txt"
loud=$(field loudness "$work/sine.txt" | cut -d' ' -f1)
first=$(field "first sound" "$work/sine.txt" | cut -d' ' -f1)
want_loud=$(awk 'BEGIN { printf "%.3f", -20 + 10 * log(6 / 7.5) / log(10) }')
check "loudness is $want_loud dB (got $loud)" 'near "$loud" "$want_loud" 0.05'
check "first sound is 1.49 s (got $first)" 'near "$first" 1.49 0.001'
check "silence is -100 dB" '[ "$("$tool" analyse "$work/silence.wav" | sed -n "s/^loudness: //p")" = "-100.00 dB" ]'

# Phrases: 120 BPM clicks over noise from 0.25 s, quiet or loud per 32 beats (16 s).
loud='(between(t-0.25,16,48)+between(t-0.25,64,80))'
ffmpeg -v error -y -f lavfi -i "aevalsrc='(0.1+0.9*gt($loud,0))*(0.05*(random(0)-0.5)+if(gte(t,0.25)*lt(mod(t-0.25,0.5),0.01),0.8*sin(2*PI*1000*t),0))':s=22050:d=112.75" -ac 2 "$work/sections.flac"
"$tool" analyse "$work/sections.flac" >"$work/sections.txt"
phrases=$(field phrases "$work/sections.txt")
check "sections give their phrases (got $phrases)" '[ "$phrases" = "INTRO@0 DROP@32 BREAK@96 DROP@128 OUTRO@160" ]'
check "clicks alone have no phrases" '[ "$(field phrases "$work/c128.wav.txt")" = "none" ]'

# Failures.
echo "not audio" >"$work/bad.mp3"
"$tool" analyse "$work/bad.mp3" >/dev/null 2>"$work/err"; rc=$?
check "an unreadable file fails with exit 1 (got $rc)" '[ $rc -eq 1 ] && grep -q "Can.t open this file" "$work/err"'
"$tool" analyse >/dev/null 2>&1; rc=$?
check "no file is refused with exit 2 (got $rc)" '[ $rc -eq 2 ]'

[ $fail -eq 0 ] && echo "PASS: analyse tool"
exit $fail
