#!/usr/bin/env bash
# veldmix-tool render SCRIPT OUT.wav renders a script through the real mixer: the WAV has the
# script's rate and length, tempo and key lock change what is heard as they should, a killed EQ
# band and the cross-fader silence what they should, and bad scripts fail with "line N: ...".
# Cost: 6
set -u
tool="$VELDMIX_BUILD/veldmix-tool"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
# stat of the left channel of a slice: stat FILE START LENGTH FIELD
stat() { sox "$1" -n trim "$2" "$3" remix 1 stat 2>&1 | awk -v f="$4" '$0 ~ f {print $NF}'; }
near() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= t) }'; }

sox -n -r 44100 -c 2 -b 16 "$work/tone 440.wav" synth 6 sine 440 vol 0.5
sox -n -r 48000 -c 1 -e floating-point -b 32 "$work/low.wav" synth 6 sine 60 vol 0.5

cat >"$work/mix.txt" <<'EOF'
# two decks: a 440 Hz tone on A (a 44.1 kHz file) and a 60 Hz mono float file on B
rate 48000
period 480
duration 5
load A tone 440.wav
load B low.wav
fader A 1
fader B 1
xfassign B right
play A
at 1 tempo A 8           # no key lock: the tone rises to 475 Hz
at 2 keylock A on        # key lock: back to 440 Hz at the same tempo
at 3 play B
at 3 eq A mid 0
at 3 eq A low 0
at 4 xfader 0            # the right side (B) is faded out
EOF
check "the script renders" '"$tool" render "$work/mix.txt" "$work/mix.wav" 2>"$work/err"'
info=$(ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate,channels,codec_name,duration_ts \
       -of csv=p=0 "$work/mix.wav")
check "5 s of 48 kHz 16-bit stereo (got $info)" '[ "$info" = "pcm_s16le,48000,2,240000" ]'
f=$(stat "$work/mix.wav" 0.3 0.5 "Rough.*frequency")
check "deck A plays the tone at 440 Hz (got $f)" 'near "$f" 440 3'
f=$(stat "$work/mix.wav" 1.3 0.5 "Rough.*frequency")
check "+8 % tempo without key lock raises it to ~475 Hz (got $f)" 'near "$f" 475 3'
f=$(stat "$work/mix.wav" 2.3 0.5 "Rough.*frequency")
check "key lock keeps 440 Hz at +8 % (got $f)" 'near "$f" 440 3'
rms=$(stat "$work/mix.wav" 0.3 0.5 "RMS.*amplitude")
check "the neutral strip keeps the tone's level (RMS $rms)" 'near "$rms" 0.3536 0.003'
f=$(stat "$work/mix.wav" 3.3 0.5 "Rough.*frequency")
rms=$(stat "$work/mix.wav" 3.3 0.5 "RMS.*amplitude")
check "mid and low cut on A: only deck B's 60 Hz remains (got $f Hz, RMS $rms)" 'near "$f" 60 3 && near "$rms" 0.3536 0.01'
rms=$(stat "$work/mix.wav" 4.3 0.5 "RMS.*amplitude")
check "cross-fader left removes deck B (RMS $rms)" 'near "$rms" 0 0.001'

printf 'duration 1\nload A tone 440.wav\nat 0.5 tempo A 80\n' >"$work/bad.txt"
"$tool" render "$work/bad.txt" "$work/bad.wav" 2>"$work/err"; rc=$?
check "a bad value fails with exit 1 and names its line (got $rc: $(cat "$work/err"))" \
      '[ $rc -eq 1 ] && grep -q "line 3: the value 80 lies outside -50..50" "$work/err" && [ ! -e "$work/bad.wav" ]'
printf 'duration 1\nload C nothing.wav\n' >"$work/bad.txt"
"$tool" render "$work/bad.txt" "$work/bad.wav" 2>"$work/err"; rc=$?
check "a missing track fails with exit 1 (got $rc)" '[ $rc -eq 1 ] && grep -q "line 2: nothing.wav: no such file" "$work/err"'
printf 'not a wav' >"$work/junk.wav"
printf 'duration 1\nload D junk.wav\n' >"$work/bad.txt"
"$tool" render "$work/bad.txt" "$work/bad.wav" 2>"$work/err"; rc=$?
check "a damaged WAV fails with exit 1 (got $rc)" '[ $rc -eq 1 ] && grep -q "line 2: junk.wav: Can.t open this file" "$work/err"'
"$tool" render "$work/mix.txt" 2>/dev/null; rc=$?
check "a missing output path is a usage error (got $rc)" '[ $rc -eq 2 ]'
check "render --help documents the script" '"$tool" render --help | grep -q "xfcurve linear|cut|power"'

[ $fail -eq 0 ] && echo "PASS: render tool"
exit $fail
