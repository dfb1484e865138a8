#!/usr/bin/env bash
# veldmix-tool karaoke queue|up-next over a hand-written karaoke.tsv (CRLF, no byte-order mark, the
# turn marker past the last singer, keys out of range or no number, sung fields that are not "1",
# a short song line, a song before any singer, a CR inside a title): the saved file holds exactly
# the expected bytes, and the turn order follows the marker, wraps and skips singers with nothing
# left; bad arguments fail with their messages.
# Cost: 4
set -u
tool="$VELDMIX_BUILD/veldmix-tool"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }

printf 'song\t0\t0\t/m/z.mp3\tEarly\tZ\r\n' >"$work/in.tsv"
printf 'onstage\t3\r\nsinger\tAna\r\n' >>"$work/in.tsv"
printf 'song\t1\t20\t/m/a.mp3\tFirst\tArt\r\n' >>"$work/in.tsv"
printf 'song\t01\t-30\t/m/b.mp3\tSec\rond\t\r\n' >>"$work/in.tsv"
printf 'singer\tBo\r\n' >>"$work/in.tsv"
printf 'song\tx\tx\t/m/c.mp3\tThird\tC\tExtra field\r\n' >>"$work/in.tsv"
printf 'song\t\t99999999999\t/m/d.mp3\tFourth\tD\r\n' >>"$work/in.tsv"
printf 'song\t0\t1\t/m/e.mp3\tFive\r\n' >>"$work/in.tsv"
printf 'Singer\tlower case is not a singer line\r\n' >>"$work/in.tsv"

"$tool" karaoke queue "$work/in.tsv" "$work/out.tsv" >"$work/stdout" 2>"$work/err"
rc=$?
check "queue exits 0 (exit $rc: $(cat "$work/err"))" '[ $rc = 0 ]'
check "queue reports what it read ($(cat "$work/stdout"))" 'grep -qx "singers 2 songs 4 onstage -1" "$work/stdout"'
{
  printf '\357\273\277onstage\t-1\n'
  printf 'singer\tAna\n'
  printf 'song\t1\t12\t/m/a.mp3\tFirst\tArt\n'
  printf 'song\t0\t-12\t/m/b.mp3\tSec ond\t\n'
  printf 'singer\tBo\n'
  printf 'song\t0\t0\t/m/c.mp3\tThird\tC\n'
  printf 'song\t0\t12\t/m/d.mp3\tFourth\tD\n'
} >"$work/expected.tsv"
check "the saved file holds exactly the expected bytes" 'cmp "$work/expected.tsv" "$work/out.tsv"'
"$tool" karaoke queue "$work/out.tsv" "$work/again.tsv" >/dev/null 2>&1
check "a saved file loads and saves to the same bytes" 'cmp "$work/out.tsv" "$work/again.tsv"'

# Turn order: the marker at Bo (1) of Ana, Bo, Cy, Di; Cy has only sung songs.
{
  printf 'onstage\t1\n'
  printf 'singer\tAna\nsong\t0\t0\t/m/a1\tA one\t\nsong\t0\t0\t/m/a2\tA two\t\n'
  printf 'singer\tBo\nsong\t0\t0\t/m/b1\tB one\t\n'
  printf 'singer\tCy\nsong\t1\t0\t/m/c1\tC one\t\n'
  printf 'singer\tDi\nsong\t1\t0\t/m/d1\tD one\t\nsong\t0\t-2\t/m/d2\tD two\t\n'
} >"$work/order.tsv"
"$tool" karaoke up-next "$work/order.tsv" >"$work/next" 2>"$work/err"
printf '3\t1\tDi\tD two\n0\t0\tAna\tA one\n1\t0\tBo\tB one\n' >"$work/next.expected"
check "up-next starts after the marker, wraps, skips Cy and ends with the marker's own singer" \
  'cmp "$work/next.expected" "$work/next"'
"$tool" karaoke up-next "$work/order.tsv" 2 >"$work/next2"
check "up-next N cuts the list" '[ "$(wc -l <"$work/next2")" = 2 ]'

"$tool" karaoke queue "$work/missing.tsv" "$work/x.tsv" >/dev/null 2>"$work/err"
check "a missing input fails with its message" '[ $? = 1 ] && grep -q "no such file" "$work/err" && [ ! -e "$work/x.tsv" ]'
"$tool" karaoke up-next "$work/order.tsv" -3 >/dev/null 2>"$work/err"
check "a bad count prints the usage" '[ $? = 2 ] && grep -q usage "$work/err"'
"$tool" karaoke queue "$work/order.tsv" "$work/no/such/folder/x.tsv" >/dev/null 2>"$work/err"
check "an unwritable output fails" '[ $? = 1 ] && grep -q "couldn.t write" "$work/err"'

[ $fail = 0 ] && echo "PASS: karaoke queue tool"
exit $fail
