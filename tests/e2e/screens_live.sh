#!/usr/bin/env bash
# The real program under a virtual display with a sound server of its own: two click-and-tone
# tracks given on the command line load and their BPMs read back from the deck headers by OCR; the
# screen shows both waveform lanes, the cross-fader, the clock and a running output; the left
# deck's play key puts the tone on the sink; dragging the cross-fader changes the level as the
# linear curve says, and hard right silences the left deck.
# Cost: 41
set -u

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix Xvfb xdpyinfo xwininfo xdotool import convert sox tesseract parec pactl
/usr/bin/python3 -c 'import numpy' 2>/dev/null || fail "python3 numpy is not installed"
artifacts="$build/e2e-artifacts"
mkdir -p "$artifacts"
app_pid=""

# Always a server of our own, even when the test run shares one: another test playing into a
# shared veldmix_test sink would be in our recordings.
own_sound_server
private_home

# --- Two 60 s tracks: a 440 Hz tone under a 5 ms click on every beat of whole samples at
# 44100 Hz (22050 and 21000). The rate goes before -n: after it sox synthesises at 48 kHz and
# resamples, and the 22050-sample beat becomes a true 130.61 BPM ---
make_track() {  # bpm samples-per-beat
  sox -r 44100 -n -c 1 -b 16 "$work/clicks$1.wav" synth 220s square 2000 vol 0.5 pad 0 "$(($2 - 220))s" \
    repeat 130 trim 0 60 &&
    sox -r 44100 -n -c 1 -b 16 "$work/tone$1.wav" synth 60 sine 440 vol 0.3 &&
    sox -m "$work/tone$1.wav" "$work/clicks$1.wav" -c 2 "$work/track$1.wav"
}
make_track 120 22050 2>/dev/null || fail "sox could not make the 120 BPM track"
make_track 126 21000 2>/dev/null || fail "sox could not make the 126 BPM track"

start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"

# The viewable main window: the program may replace its first window while it starts.
window_id() {
  local id
  for id in $(xwininfo -root -tree 2>/dev/null | grep -E '"VELDMIX [0-9.]+"' | awk '{print $1}'); do
    timeout 10 xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && { echo "$id"; return 0; }
  done
  return 1
}
window_shown() { [ -n "$(window_id)" ]; }
alive() { kill -0 "$app_pid" 2>/dev/null || fail "veldmix exited: $(tail -n 5 "$work/app.out")"; }
shot() {  # file: the main window alone, so every place below is in window pixels
  for _ in 1 2 3; do  # the window may be replaced between finding it and the capture
    win="$(window_id)" && timeout 20 import -window "$win" "$1.tmp.png" 2>"$work/import.err" &&
      mv "$1.tmp.png" "$1" && return 0
    alive
    sleep 0.5
  done
  fail "no screenshot of the main window: $(head -c 300 "$work/import.err" 2>/dev/null)"
}
ocr() {  # file geometry: crop, upscale 3x, read one line of light text
  convert "$1" -crop "$2" +repage -resize 300% -colorspace Gray -negate "$work/crop.png" &&
    OMP_THREAD_LIMIT=1 tesseract "$work/crop.png" - --psm 7 2>/dev/null | tr -d ' \n'
}
# Window places of the 1500x980 window the program opens on this screen.
readonly kBpmA="80x36+480+210" kBpmB="80x36+1406+210"   # the big BPM of each deck header
readonly kClock="70x40+165+0"
# With the load meter at x 700 the output status has room only for its dot, 18 px left of it.
readonly kStatusDot="16x16+674+12"

# Measures for screenshots and recordings.
measure() {  # what file [args]
  /usr/bin/python3 - "$@" <<'EOF'
import re, subprocess, sys
import numpy as np
what, path = sys.argv[1], sys.argv[2]
# tone: dBFS of the 440 Hz line, the median over 0.1 s windows so that a dropout moves only one,
# and the strongest frequency; the first 0.2 s is dropped.
if what == "tone":
    x = np.fromfile(path, dtype='<f4')
    x = x[: len(x) // 2 * 2].reshape(-1, 2)[:, 0][9600:].astype(np.float64)
    if len(x) < 24000:
        print("-200 0"); sys.exit()
    windows = x[: len(x) // 4800 * 4800].reshape(-1, 4800)  # 44 whole cycles of 440 Hz each
    line = np.median(np.abs(windows @ np.exp(-2j * np.pi * 440 * np.arange(4800) / 48000)) * 2 / 4800)
    spec = np.abs(np.fft.rfft(x * np.hanning(len(x))))
    hz = np.fft.rfftfreq(len(x), 1 / 48000)
    print(f"{20 * np.log10(max(line, 1e-10)):.2f} {hz[np.argmax(spec[1:]) + 1]:.1f}")
    sys.exit()
ppm = subprocess.run(["convert", path, "ppm:-"], capture_output=True, check=True).stdout
head = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)
width, height = int(head[1]), int(head[2])
img = np.frombuffer(ppm[head.end():], np.uint8)[: width * height * 3].reshape(height, width, 3).astype(int)
if what == "lanes":  # bands of 8+ rows under the top bar that are mostly bright right of centre
    bright = (img[40:240, width // 2 : width - 40].max(axis=2) > 150).mean(axis=1) > 0.5
    edges = np.flatnonzero(np.diff(np.concatenate(([0], bright.astype(int), [0]))))
    print(int(np.sum(edges[1::2] - edges[::2] >= 8)))
elif what == "green":  # pixels of the box (WxH+X+Y) in the palette's green (0x2BF59A)
    w, h, x0, y0 = map(int, sys.argv[3:7])
    box = img[y0 : y0 + h, x0 : x0 + w]
    print(int((np.abs(box - [43, 245, 154]).max(axis=2) < 30).sum()))
elif what == "xfader":  # row, slot ends (deck A's fill start, deck B's fill end) and cap line
    def runs(mask):
        edges = np.flatnonzero(np.diff(np.concatenate(([0], mask.astype(int), [0]))))
        return [(a, b - 1) for a, b in zip(edges[::2], edges[1::2]) if b - a > 8]
    rows = [int(sys.argv[3])] if len(sys.argv) > 3 else range(height // 2, height * 3 // 4)
    best = (0, 0, -1, -1, -1)
    for y in rows:
        row = img[y]
        blue = runs((row[:, 2] > 150) & (row[:, 0] < 100))
        orange = runs((row[:, 0] > 150) & (row[:, 2] < 100))
        white = np.flatnonzero(row.min(axis=1) >= 250)
        for a, b in blue:  # the cap, with its white centre line, sits between the two fills
            line = white[(white > b) & (white < b + 30)]
            after = [r for r in orange if 0 < r[0] - b < 40]
            end = after[0][1] if after else -1
            if len(line) and (b - a) + max(end - b, 0) > best[1]:
                best = (y, (b - a) + max(end - b, 0), a, end, line.mean())
    print(best[0], best[2], best[3], round(best[4]))
EOF
}

# --- Start, and wait for both tracks: their analysis sets the header BPMs ---
"$app" "$work/track120.wav" "$work/track126.wav" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 60 window_shown || { alive; fail "the main window did not appear: $(xwininfo -root -tree 2>/dev/null | grep -c VELDMIX) windows named VELDMIX"; }
both_loaded() {
  shot "$work/loaded.png"
  bpm_a="$(ocr "$work/loaded.png" "$kBpmA")" bpm_b="$(ocr "$work/loaded.png" "$kBpmB")"
  # The integer part must be exact; OCR noise is tolerated only after the point.
  [[ "$bpm_a" =~ ^120([.,:].*)?$ ]] && [[ "$bpm_b" =~ ^126([.,:].*)?$ ]]
}
deadline=$((SECONDS + 60))
until both_loaded; do
  alive
  [ $SECONDS -lt $deadline ] || { cp "$work/loaded.png" "$artifacts/screens_live.png"
    fail "deck headers read '$bpm_a' and '$bpm_b', not 120 and 126 (see $artifacts/screens_live.png)"; }
  sleep 0.5
done
echo "deck A reads $bpm_a, deck B reads $bpm_b"
win="$(window_id)" || fail "the main window is gone"
read -r win_x win_y win_w win_h < <(timeout 10 xwininfo -id "$win" |
  awk '/Absolute upper-left X:/ {x = $4} /Absolute upper-left Y:/ {y = $4} /Width:/ {w = $2} /Height:/ {h = $2}
       END {print x, y, w, h}')
[ "$win_w" = 1500 ] && [ "$win_h" = 980 ] || fail "the window is ${win_w}x$win_h, not the 1500x980 the places assume"
wait_for 30 log_has "Audio: master output started" || fail "the master output did not start"
# The frame that shows the started output can come a moment after the log line on a busy machine.
dot_green() {
  before="$(date +%H:%M)"
  shot "$work/screen.png"
  after="$(date +%H:%M)"
  green="$(measure green "$work/screen.png" ${kStatusDot//[x+]/ })"
  [ "$green" -ge 12 ]
}
for _ in $(seq 1 20); do dot_green && break; sleep 0.5; done
cp "$work/screen.png" "$artifacts/screens_live.png"
lanes="$(measure lanes "$work/screen.png")"
[ "$lanes" = 2 ] || fail "$lanes waveform lanes drawn under the top bar, not 2 (see $artifacts/screens_live.png)"
clock="$(ocr "$work/screen.png" "$kClock")"
[ "$clock" = "$before" ] || [ "$clock" = "$after" ] || fail "the top bar's clock reads '$clock', not $before"
[ "$green" -ge 12 ] || fail "the output status dot is not green (only $green green pixels)"
read -r xf_y a d cap < <(measure xfader "$work/screen.png")
[ "$d" -gt 0 ] || fail "no cross-fader in the mixer (see $artifacts/screens_live.png)"
position() { awk -v a="$a" -v d="$d" -v x="$1" 'BEGIN { printf "%.3f", (x - a) / (d - a) }'; }
xf="$(position "$cap")"
echo "screen: clock $clock, status dot of $green green pixels, cross-fader at $xf on row $xf_y"
awk -v p="$xf" 'BEGIN { exit !(p > 0.48 && p < 0.52) }' || fail "the cross-fader starts at $xf, not the middle"

# --- Recording the sink's monitor ---
record() {  # file seconds
  timeout -s INT "$2" parec -d veldmix_test.monitor --raw --format=float32le --channels=2 --rate=48000 \
    --latency-msec=10 >"$1" 2>/dev/null
  [ -s "$1" ] || fail "parec recorded nothing from veldmix_test.monitor"
}
record "$work/before.raw" 1 && read -r quiet_db _ < <(measure tone "$work/before.raw")
awk -v d="$quiet_db" 'BEGIN { exit !(d < -60) }' || fail "the sink carries 440 Hz before play ($quiet_db dBFS)"

# --- Play on the left deck: X in app/keyboard.cpp's key table, sent to the focused window ---
xdotool mousemove --sync $((win_x + 200)) $((win_y + 20)) windowfocus --sync "$win" key x
started=$SECONDS
playing() { record "$work/playing.raw" 1; read -r play_db _ < <(measure tone "$work/playing.raw")
  awk -v d="$play_db" 'BEGIN { exit !(d > -30) }'; }
for _ in $(seq 10); do playing && break; alive; done
record "$work/playing.raw" 2  # the reference: all of it after the start
read -r play_db play_hz < <(measure tone "$work/playing.raw")
echo "playing: 440 Hz at $play_db dBFS, peak $play_hz Hz"
awk -v d="$play_db" 'BEGIN { exit !(d > -30) }' || fail "after the play key the sink has 440 Hz only at $play_db dBFS"
awk -v f="$play_hz" 'BEGIN { exit !(f > 430 && f < 450) }' || fail "the sink's strongest tone is $play_hz Hz, not 440"

# --- Cross-fader drags: the value follows the distance from the press; the linear curve gives
# deck A min(2 (1 - x), 1) ---
drag() {  # from-x pixels, in the window
  local x=$((win_x + $1)) y=$((win_y + xf_y))
  xdotool mousemove --sync "$x" "$y" mousedown 1
  sleep 0.2  # a frame takes the press where it happened, before any move
  for step in 1 2 3 4 5; do xdotool mousemove --sync $((x + $2 * step / 5)) "$y"; sleep 0.05; done
  sleep 0.3
  xdotool mouseup 1
  sleep 0.7  # one click never reads as a double-click with the next
  alive
}
drag "$cap" $(((d - a) / 4))
shot "$work/xf-three-quarters.png"
read -r _ _ _ cap < <(measure xfader "$work/xf-three-quarters.png" "$xf_y")
xf="$(position "$cap")"
awk -v p="$xf" 'BEGIN { exit !(p > 0.6 && p < 0.9) }' || fail "the cross-fader went to $xf, not about 3/4"
record "$work/three-quarters.raw" 2 && read -r part_db _ < <(measure tone "$work/three-quarters.raw")
want_db="$(awk -v p="$xf" -v d="$play_db" 'BEGIN { g = 2 * (1 - p); if (g > 1) g = 1; printf "%.2f", d + 20 * log(g) / log(10) }')"
echo "cross-fader at $xf: $part_db dBFS, the curve says $want_db"
awk -v a="$part_db" -v b="$want_db" 'BEGIN { exit !(a - b < 1 && b - a < 1) }' ||
  fail "at $xf deck A is at $part_db dBFS, not the curve's $want_db"

drag "$cap" $((d - a))
shot "$work/xf-right.png"
cp "$work/xf-right.png" "$artifacts/screens_live_xfader.png"
read -r _ _ _ cap < <(measure xfader "$work/xf-right.png" "$xf_y")
xf="$(position "$cap")"
awk -v p="$xf" 'BEGIN { exit !(p > 0.98) }' || fail "the cross-fader went to $xf, not hard right"
record "$work/right.raw" 2 && read -r right_db _ < <(measure tone "$work/right.raw")
echo "cross-fader hard right: $right_db dBFS"
# Deck A must still be playing: a 60 s track ended would be silent too.
[ $((SECONDS - started)) -lt 50 ] || fail "the checks took $((SECONDS - started)) s: the track may have ended"
awk -v a="$play_db" -v b="$right_db" 'BEGIN { exit !(a - b >= 60) }' ||
  fail "the cross-fader hard right leaves deck A at $right_db dBFS (was $play_db)"
echo "PASS: screens live"
