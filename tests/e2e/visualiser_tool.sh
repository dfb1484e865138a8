#!/usr/bin/env bash
# Labels: slow
# Cost: 60
# veldmix-tool visualiser: the whole visualiser frame off-screen with a WAV on deck A through the
# real mixer and meters (ffmpeg's silence, a 120 BPM kick, steady 60 Hz and 8 kHz tones). RING
# keeps its spokes at their minimum and makes no sparks in silence and sparks after kicks; BARS and
# SYNTHWAVE's skyline stand highest near the middle for 60 Hz and at the ends for 8 kHz,
# mirrored; COVER without art is RING pixel for pixel, with a track's cover it and RING show it;
# two runs are identical; --auto changes
# after 64 beats and every 30 s with no deck, never to the visual shown; the test-pattern camera
# sits in the circle, its bars reversed by Mirror.
set -u
tool="$VELDMIX_BUILD/veldmix-tool"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
py=/usr/bin/python3

ffmpeg -nostdin -v quiet -y -f lavfi -i anullsrc=r=44100:cl=stereo -t 12 "$work/silence.wav"
ffmpeg -nostdin -v quiet -y -f lavfi \
  -i "aevalsrc='0.9*sin(2*PI*(50+60*exp(-mod(t,0.5)*30))*mod(t,0.5))*exp(-mod(t,0.5)*12)':s=44100:d=40" \
  -ac 2 "$work/kick.wav"
ffmpeg -nostdin -v quiet -y -f lavfi -i sine=frequency=60:sample_rate=44100:duration=12 -af volume=0.5 -ac 2 "$work/t60.wav"
ffmpeg -nostdin -v quiet -y -f lavfi -i sine=frequency=8000:sample_rate=44100:duration=12 -af volume=0.5 -ac 2 "$work/t8k.wav"

vis() {  # NAME AUDIO VISUAL SECONDS [MORE...]: draws, keeps stdout in NAME.out
  local name=$1 audio=$2 visual=$3 seconds=$4
  shift 4
  "$tool" visualiser "$work/$name.png" --audio "$work/$audio.wav" --visual "$visual" --seconds "$seconds" "$@" \
    >"$work/$name.out" 2>&1 || echo "exit $? for $name: $(cat "$work/$name.out")"
}
state() { grep '^state:' "$work/$1.out"; }

# RING (960 x 540: R = 102.6, spokes from 107.7 DIP out, the centre at 480, 226.8).
vis ring_silence silence 0 3
vis ring_kick kick 0 4.25
vis ring_tone t60 0 3
check "no sparks in silence ($(state ring_silence))" 'state ring_silence | grep -q "sparks 0,"'
check "sparks after kicks ($(state ring_kick))" '! state ring_kick | grep -q "sparks 0,"'
# Coloured pixels just outside the shortest spokes (radius 118..128): none in silence, many for a tone.
spokes() {
  $py - "$work/$1.png" <<'EOF'
import subprocess, sys
import numpy as np
raw = subprocess.run(["ffmpeg", "-v", "quiet", "-i", sys.argv[1], "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                     capture_output=True).stdout
img = np.frombuffer(raw, np.uint8).reshape(540, 960, 3).astype(int)
ys, xs = np.mgrid[0:540, 0:960]
r = np.hypot(xs + 0.5 - 480, ys + 0.5 - 226.8)
ring = (r > 118) & (r < 128)
vivid = (img.max(axis=2) - img.min(axis=2) > 90) & (img.max(axis=2) > 150)
print(int((ring & vivid).sum()))
EOF
}
quiet=$(spokes ring_silence) loud=$(spokes ring_tone)
check "RING's spokes stay at their minimum in silence ($quiet coloured pixels past it; $loud with a tone)" \
  '[ "$quiet" -lt 20 ] && [ "$loud" -gt 200 ]'

# BARS: 48 bars over 0.92 w, floor at 0.6 h; a bar's height is its lit run up from the floor.
bars() {
  $py - "$work/$1.png" <<'EOF'
import subprocess, sys
import numpy as np
raw = subprocess.run(["ffmpeg", "-v", "quiet", "-i", sys.argv[1], "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                     capture_output=True).stdout
img = np.frombuffer(raw, np.uint8).reshape(540, 960, 3).astype(int)
span = 0.92 * 960; b = span / 48; left = (960 - span) / 2; floor = int(540 * 0.6)
heights = []
for i in range(48):
    x = int(left + (i + 0.5) * b)
    h = 0
    while floor - 2 - h > 0 and img[floor - 2 - h, x].max() > 60: h += 1
    heights.append(h)
mid = max(heights[22:26]); ends = max(heights[:2] + heights[-2:])
mirror = max(abs(heights[i] - heights[47 - i]) for i in range(24))
print(mid, ends, mirror)
EOF
}
vis bars_60 t60 1 3
vis bars_8k t8k 1 3
read -r mid ends mirror <<<"$(bars bars_60)"
check "BARS for 60 Hz: highest in the middle, mirrored (middle $mid, ends $ends, mirror error $mirror)" \
  '[ "$mid" -gt $((ends + 40)) ] && [ "$mirror" -le 2 ]'
read -r mid ends mirror <<<"$(bars bars_8k)"
check "BARS for 8 kHz: highest at both ends, mirrored (middle $mid, ends $ends, mirror error $mirror)" \
  '[ "$ends" -gt $((mid + 40)) ] && [ "$mirror" -le 2 ]'

# SYNTHWAVE: the skyline's dark fill (0x0B0418) stands above the horizon (0.58 h = 313.2); its
# height is counted from row 306, just above the horizon line's glow.
skyline() {
  $py - "$work/$1.png" <<'EOF'
import subprocess, sys
import numpy as np
raw = subprocess.run(["ffmpeg", "-v", "quiet", "-i", sys.argv[1], "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                     capture_output=True).stdout
img = np.frombuffer(raw, np.uint8).reshape(540, 960, 3).astype(int)
fill = np.array([0x0B, 0x04, 0x18])
heights = []
for x in range(0, 960):
    h = 0
    while 306 - h > 0 and np.abs(img[306 - h, x] - fill).max() <= 6: h += 1
    heights.append(h)
heights = np.array(heights)
top = int(np.argmax(heights))
mirror = int(np.abs(heights[20:940] - heights[20:940][::-1]).max())
print(top, int(heights.max()), mirror)
EOF
}
vis synth_60 t60 7 3
vis synth_8k t8k 7 3
read -r top high mirror <<<"$(skyline synth_60)"
check "SYNTHWAVE for 60 Hz: the skyline peaks near the middle (at x $top, $high high, mirror error $mirror)" \
  '[ "$top" -gt 320 ] && [ "$top" -lt 640 ] && [ "$mirror" -le 4 ]'
read -r top high mirror <<<"$(skyline synth_8k)"
check "SYNTHWAVE for 8 kHz: the skyline peaks at an end (at x $top, $high high, mirror error $mirror)" \
  '{ [ "$top" -lt 160 ] || [ "$top" -gt 800 ]; } && [ "$high" -gt 25 ] && [ "$mirror" -le 4 ]'

# COVER without art is RING; the same run twice is the same picture.
vis cover_kick kick 9 4.25
check "COVER without art equals RING pixel for pixel" 'cmp -s "$work/cover_kick.png" "$work/ring_kick.png"'
vis ring_again kick 0 4.25
check "two runs give the same frame" 'cmp -s "$work/ring_again.png" "$work/ring_kick.png"'

# With the track's own cover (left half red, right half green): COVER shows it in its square as
# it is, RING turns it in its disc (disc radius 94.4 around 480, 226.8).
ffmpeg -nostdin -v quiet -y -f lavfi -i "color=c=red:size=150x300[l];color=c=lime:size=150x300[r];[l][r]hstack" \
  -frames:v 1 "$work/cover.png"
ffmpeg -nostdin -v quiet -y -i "$work/kick.wav" -i "$work/cover.png" -map 0:a -map 1:v -t 6 -c:a libmp3lame \
  -c:v png -disposition:v attached_pic -id3v2_version 3 "$work/kick_art.mp3"
for v in 0 9; do
  "$tool" visualiser "$work/art_$v.png" --audio "$work/kick_art.mp3" --visual $v --seconds 4.25 >"$work/art_$v.out" 2>&1
done
art() {
  $py - "$work/$1.png" <<'EOF'
import subprocess, sys
import numpy as np
raw = subprocess.run(["ffmpeg", "-v", "quiet", "-i", sys.argv[1], "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                     capture_output=True).stdout
img = np.frombuffer(raw, np.uint8).reshape(540, 960, 3).astype(int)
def name(p):
    for n, c in {"red": (255, 0, 0), "green": (0, 255, 0)}.items():
        if np.abs(p - np.array(c)).max() <= 12: return n
    return "other:" + ",".join(map(str, p))
ys, xs = np.mgrid[0:540, 0:960]
disc = np.hypot(xs + 0.5 - 480, ys + 0.5 - 226.8) < 90
red = int((disc & (np.abs(img - [255, 0, 0]).max(axis=2) <= 12)).sum())
green = int((disc & (np.abs(img - [0, 255, 0]).max(axis=2) <= 12)).sum())
print(name(img[150, 420]), name(img[150, 540]), red, green)
EOF
}
read -r left right _ _ <<<"$(art art_9)"
check "COVER shows the track's cover in its square ($left, $right)" '[ "$left $right" = "red green" ]'
read -r _ _ red green <<<"$(art art_0)"
check "RING fills its disc with the cover ($red red and $green green pixels)" '[ "$red" -gt 8000 ] && [ "$green" -gt 8000 ]'

# WARP in silence with no deck: nothing drives it but its floor speed of 0.1 (no bass, no pulse).
"$tool" visualiser "$work/warp.png" --visual 3 --seconds 2 >"$work/warp.out" 2>&1
check "WARP in silence runs on its own ($(state warp))" 'state warp | grep -q "deck -1, bass 0.000"'

# Auto: 64 beats of the 120 BPM kick take 32 s; with no deck, every 30 s.
vis auto_kick kick 4 34 --auto --size 160x90
changes=$(grep ' visual ' "$work/auto_kick.out" | awk '{print $1}' | tr '\n' ' ')
check "--auto changes after 64 beats ($changes)" \
  '[ "$(grep -c " visual " "$work/auto_kick.out")" = 2 ] && awk -v t="$(echo $changes | cut -d" " -f2)" "BEGIN {exit !(t >= 31.3 && t <= 32.3)}"'
"$tool" visualiser "$work/auto_idle.png" --visual 2 --seconds 61 --auto --size 160x90 >"$work/auto_idle.out" 2>&1
check "--auto with no deck changes every 30 s, never to the visual shown ($(grep ' visual ' "$work/auto_idle.out" | tr '\n' '|'))" \
  '[ "$(awk "/ visual /{printf \"%.1f \", \$1}" "$work/auto_idle.out")" = "0.0 30.0 60.0 " ] &&
   [ "$(awk "/ visual /{print \$3}" "$work/auto_idle.out" | uniq | wc -l)" = 3 ]'

# The camera in the circle (centre 480, 226.8; radius 156.6): the test pattern's bars, reversed by Mirror.
circle() {
  $py - "$work/$1.png" <<'EOF'
import subprocess, sys
import numpy as np
raw = subprocess.run(["ffmpeg", "-v", "quiet", "-i", sys.argv[1], "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                     capture_output=True).stdout
img = np.frombuffer(raw, np.uint8).reshape(540, 960, 3).astype(int)
def name(p):
    colours = {"cyan": (0, 192, 192), "magenta": (192, 0, 192), "green": (0, 192, 0), "yellow": (192, 192, 0)}
    for n, c in colours.items():
        if np.abs(p - np.array(c)).max() <= 12: return n
    return "other%s" % list(p)
y = 127
print(name(img[y, 380]), name(img[y, 580]))
EOF
}
vis cam_mirror silence 1 1 --camera test-pattern
vis cam_plain silence 1 1 --camera test-pattern --no-mirror
check "the camera fades fully in ($(state cam_mirror))" 'state cam_mirror | grep -q "camera 1.000"'
check "the test pattern in the circle, mirrored ($(circle cam_mirror))" '[ "$(circle cam_mirror)" = "magenta cyan" ]'
check "and as the camera sees it without Mirror ($(circle cam_plain))" '[ "$(circle cam_plain)" = "cyan magenta" ]'

[ $fail = 0 ] && echo "PASS: visualiser_tool"
exit $fail
