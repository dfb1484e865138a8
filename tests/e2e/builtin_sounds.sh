#!/usr/bin/env bash
# veldmix-tool builtin N writes each built-in sampler sound as a 44.1 kHz stereo WAV of the
# sound's exact length, the same bytes every time; bad numbers and unwritable paths fail.
# Cost: 24
set -u
tool="$VELDMIX_BUILD/veldmix-tool"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }

# Frame counts: trunc(seconds x 44100) of HORN SIREN LASER KICK CLAP RISER BOOM HAT.
frames=(83790 105840 26460 22050 15434 176400 110250 8820)
for n in 0 1 2 3 4 5 6 7; do
  a="$work/a$n.wav" b="$work/b$n.wav"
  check "sound $n writes" '"$tool" builtin $n "$a" >/dev/null && "$tool" builtin $n "$b" >/dev/null'
  info=$(ffprobe -v error -select_streams a:0 \
         -show_entries stream=sample_rate,channels,codec_name,duration_ts -of csv=p=0 "$a")
  check "sound $n is pcm_s16le 44100 Hz stereo of ${frames[$n]} frames (got $info)" \
        '[ "$info" = "pcm_s16le,44100,2,${frames[$n]}" ]'
  check "sound $n is the same twice" 'cmp -s "$a" "$b"'
  peak=$(sox "$a" -n stat 2>&1 | awk '/Maximum amplitude/ {print $3}')
  check "sound $n is not silent (peak $peak)" 'awk -v p="$peak" "BEGIN { exit !(p > 0.05) }"'
done
check "different sounds differ" '! cmp -s "$work/a3.wav" "$work/a7.wav"'

"$tool" builtin 8 "$work/x.wav" 2>"$work/err"; rc=$?
check "number 8 is refused with exit 2 (got $rc)" '[ $rc -eq 2 ] && grep -q "0 to 7" "$work/err" && [ ! -e "$work/x.wav" ]'
"$tool" builtin kick "$work/x.wav" 2>/dev/null; rc=$?
check "a non-number is refused with exit 2 (got $rc)" '[ $rc -eq 2 ]'
"$tool" builtin 3 2>/dev/null; rc=$?
check "a missing path is refused with exit 2 (got $rc)" '[ $rc -eq 2 ]'
"$tool" builtin 3 "$work/no/such/folder/x.wav" 2>"$work/err"; rc=$?
check "an unwritable path fails with exit 1 (got $rc)" '[ $rc -eq 1 ] && grep -q "cannot write" "$work/err"'

[ $fail -eq 0 ] && echo "PASS: builtin sounds"
exit $fail
