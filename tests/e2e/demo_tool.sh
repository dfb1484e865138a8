#!/usr/bin/env bash
# veldmix-tool demo N OUT.wav: both demo tracks come out as 44.1 kHz stereo WAV with their exact
# frame counts (soxi and ffprobe agree), a second run gives the same bytes, and bad arguments fail.
# Cost: 23
set -u
tool="$VELDMIX_BUILD/veldmix-tool"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }

for n in 1 2; do
  check "demo $n is written" '"$tool" demo $n "$work/a$n.wav" >/dev/null'
  check "demo $n is written again" '"$tool" demo $n "$work/b$n.wav" >/dev/null'
  check "demo $n is the same bytes twice" 'cmp -s "$work/a$n.wav" "$work/b$n.wav"'
done
check "track 1 has 5572959 frames (soxi)" '[ "$(soxi -s "$work/a1.wav")" = 5572959 ]'
check "track 2 has 5486250 frames (soxi)" '[ "$(soxi -s "$work/a2.wav")" = 5486250 ]'
check "track 1 is 44100 Hz stereo" '[ "$(soxi -r "$work/a1.wav")" = 44100 ] && [ "$(soxi -c "$work/a1.wav")" = 2 ]'
check "ffprobe counts track 2's samples alike" \
  '[ "$(ffprobe -v error -show_entries stream=duration_ts -of csv=p=0 "$work/a2.wav")" = 5486250 ]'
check "the two tracks differ" '! cmp -s "$work/a1.wav" "$work/a2.wav"'
# Normalised to 0.89: the loudest 16-bit sample is 0.89 x 32767 (29163), give or take one.
peak=$(sox "$work/a1.wav" -n stat 2>&1 | awk '/Maximum amplitude/ {m=$3} /Minimum amplitude/ {n=-$3} END {printf "%d", (m > n ? m : n) * 32768 + 0.5}')
check "track 1 peaks at 0.89 (got $peak)" '[ "$peak" -ge 29161 ] && [ "$peak" -le 29165 ]'

check "track 3 does not exist" '! "$tool" demo 3 "$work/c.wav" 2>/dev/null'
check "a missing path is refused" '! "$tool" demo 1 2>/dev/null'
check "an unwritable path fails" '! "$tool" demo 1 "$work/no/such/dir/x.wav" 2>/dev/null'
check "a failed write leaves nothing" '[ ! -e "$work/no/such/dir/x.wav" ]'

[ $fail = 0 ] && echo "demo_tool: all checks passed"
exit $fail
