#!/usr/bin/env bash
# veldmix-tool cdg FILE SECONDS OUT.png against FFmpeg's own CD+G decoder: a generated file that
# uses both colour tables, presets, tile blocks, XOR tiles and scrolls gives, at every settled
# time, the same picture in the visible window (0 differing pixels); the border shows the border
# colour; bad files and arguments fail with their messages.
# Cost: 43
set -u
tool="$VELDMIX_BUILD/veldmix-tool"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }

/usr/bin/python3 "$VELDMIX_SOURCE/tests/support/make_cdg.py" "$work/x.cdg" >"$work/times"
check "the generator writes a file and its settled times" '[ -s "$work/x.cdg" ] && [ "$(wc -l <"$work/times")" -ge 10 ]'

# Counts the pixels of the visible window (columns 6..293, rows 12..203) that differ between two
# 300 x 216 RGB frames; prints -1 when a frame has the wrong size.
differing() {
  /usr/bin/python3 - "$1" "$2" <<'EOF'
import sys
a = open(sys.argv[1], "rb").read()
b = open(sys.argv[2], "rb").read()
if len(a) != 300 * 216 * 3 or len(b) != len(a):
    print(-1)
    sys.exit()
n = 0
for y in range(12, 204):
    row = y * 300 * 3
    for x in range(6, 294):
        i = row + 3 * x
        n += a[i:i + 3] != b[i:i + 3]
print(n)
EOF
}

# The loop reads the times on its own stream so that no command inside can swallow them.
while read -r t <&3; do
  "$tool" cdg "$work/x.cdg" "$t" "$work/ours.png" </dev/null >"$work/out" 2>"$work/err"
  rc=$?
  check "the tool draws the picture at $t s (exit $rc: $(cat "$work/err"))" '[ $rc = 0 ]'
  ffmpeg -nostdin -v quiet -i "$work/ours.png" -f rawvideo -pix_fmt rgb24 - >"$work/ours.rgb"
  ffmpeg -nostdin -v quiet -i "$work/x.cdg" -ss "$t" -frames:v 1 -f rawvideo -pix_fmt rgb24 - >"$work/ref.rgb"
  n=$(differing "$work/ours.rgb" "$work/ref.rgb")
  check "the picture at $t s equals FFmpeg's ($n pixels differ)" '[ "$n" = 0 ]'
done 3<"$work/times"

# At the last time the high colours are all white and the border is colour 14.
corner=$(head -c 3 "$work/ours.rgb" | od -An -tx1 | tr -d ' \n')
check "the border shows the border colour ($corner)" '[ "$corner" = ffffff ]'
check "the picture is 300 x 216" '[ "$(ffprobe -v quiet -show_entries stream=width,height -of csv=p=0 "$work/ours.png")" = 300,216 ]'
"$tool" cdg "$work/x.cdg" 0 "$work/black.png" >/dev/null 2>&1
ffmpeg -v quiet -i "$work/black.png" -f rawvideo -pix_fmt rgb24 - >"$work/black.rgb"
check "before the first packet the picture is black" '[ -z "$(tr -d "\\000" <"$work/black.rgb")" ]'

"$tool" cdg "$work/missing.cdg" 1 "$work/m.png" >/dev/null 2>"$work/err"
rc=$?
check "a missing file fails (exit $rc)" '[ $rc = 1 ] && grep -q "couldn.t read" "$work/err"'
truncate -s 65M "$work/huge.cdg"
"$tool" cdg "$work/huge.cdg" 1 "$work/h.png" >/dev/null 2>"$work/err"
rc=$?
check "a file above 64 MiB is refused ($(cat "$work/err"))" '[ $rc = 1 ] && grep -q "larger than 64 MiB" "$work/err"'
check "and nothing is written for it" '[ ! -e "$work/h.png" ]'
head -c 10 /dev/zero >"$work/short.cdg"
"$tool" cdg "$work/short.cdg" 1 "$work/s.png" >/dev/null 2>"$work/err"
check "a file shorter than a packet is refused" 'grep -q "holds no whole CD+G packet" "$work/err"'
"$tool" cdg "$work/x.cdg" soon "$work/s.png" >/dev/null 2>&1
rc=$?
check "a time that is no number is a usage error (exit $rc)" '[ $rc = 2 ]'
exit $fail
