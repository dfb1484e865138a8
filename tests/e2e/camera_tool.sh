#!/usr/bin/env bash
# Labels: slow
# Cost: 54
# veldmix-tool cameras and camera over the real capture thread: the test pattern at about 30
# frames a second with its pixels; stand-in cameras (ffmpeg writing raw YUYV 1280x720 and MJPEG
# 1920x1080 into FIFOs) listed in order with the infrared one last, the format chosen, and frames
# equal to ffmpeg's own decode of the same picture within 3 per channel; killing the producer is
# unplugging ("The camera stopped ..."), starting it again brings frames back within about 3 s;
# a stand-in with no producer stops at once; a FIFO the account may not read gives the blocked
# message; no cameras gives "No camera found".
set -u
tool="$VELDMIX_BUILD/veldmix-tool"
work=$(mktemp -d)
producers=()
cleanup() {
  for p in "${producers[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
py=/usr/bin/python3

# --- The test pattern ---
"$tool" camera test-pattern --seconds 3.1 --out "$work/tp" >"$work/tp.out" 2>&1
rc=$?
check "the test pattern runs ($(tail -3 "$work/tp.out"))" '[ $rc = 0 ] && grep -q "^0.* format: test pattern" "$work/tp.out"'
frames=$(grep ' frames: ' "$work/tp.out" | sed -n 3p | awk '{print $3}')
check "about 30 frames a second ($frames in 3 s)" '[ "${frames:-0}" -ge 80 ] && [ "${frames:-0}" -le 100 ]'
check "its stop returns at once" 'awk "/stopped in/ {exit !(\$3 < 0.1)}" "$work/tp.out"'
check "the last frame is 1280x720" 'grep -q "last frame: 1280x720" "$work/tp.out"'
$py - "$work/tp/last-frame.png" >"$work/tp.check" 2>&1 <<'EOF'
import subprocess, sys
import numpy as np
raw = subprocess.run(["ffmpeg", "-v", "quiet", "-i", sys.argv[1], "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                     capture_output=True).stdout
img = np.frombuffer(raw, np.uint8).reshape(720, 1280, 3).astype(int)
bars = [0xC0C0C0, 0xC0C000, 0x00C0C0, 0x00C000, 0xC000C0, 0xC00000, 0x0000C0]
bad = []
for i, c in enumerate(bars):
    x = int((i + 0.5) * 1280 / 7)
    want = [(c >> 16) & 255, (c >> 8) & 255, c & 255]
    if list(img[10, x]) != want: bad.append(("bar", i, list(img[10, x])))
if list(img[700, 20]) != [255, 32, 32]: bad.append(("red block", list(img[700, 20])))
# The ramp: blue grows by one every 32 columns (where the disc is not).
row = img[300] if (img[300] != 255).any(axis=1).all() else img[719]
if not (row[200, 2] - row[168, 2] == 1 and row[1279, 0] == 0x10): bad.append(("ramp", list(row[200]), list(row[1279])))
white = (img == 255).all(axis=2)
white[:288] = False
ys, xs = np.nonzero(white)
if len(xs) < 10000 or len(xs) > 12000: bad.append(("disc area", len(xs)))
print("ok" if not bad else bad)
EOF
check "the pattern's bars, red block, ramp and disc ($(cat "$work/tp.check"))" 'grep -qx ok "$work/tp.check"'

# --- Stand-in cameras ---
mkfifo "$work/yuyv.fifo" "$work/mjpeg.fifo" "$work/idle.fifo" "$work/locked.fifo"
chmod 600 "$work/locked.fifo"
printf 'Front IR Camera\tcam-ir\t%s\trawvideo\tvideo_size=640x360 pixel_format=yuyv422 framerate=30\n' "$work/idle.fifo" >"$work/cams"
printf 'Desk Cam\tcam-desk\t%s\trawvideo\tvideo_size=1280x720 pixel_format=yuyv422 framerate=30\n' "$work/yuyv.fifo" >>"$work/cams"
printf 'Stage Cam\tcam-stage\t%s\tmjpeg\tvideo_size=1920x1080 framerate=30\n' "$work/mjpeg.fifo" >>"$work/cams"
printf 'Locked Cam\tcam-locked\t%s\trawvideo\tvideo_size=64x32 pixel_format=yuyv422\n' "$work/locked.fifo" >>"$work/cams"
export VELDMIX_CAMERAS="$work/cams"
"$tool" cameras >"$work/list"
check "the cameras list the infrared one last ($(tr '\n\t' '| ' <"$work/list"))" \
  '[ "$(cut -f2 "$work/list" | tr "\n" " ")" = "cam-desk cam-stage cam-locked cam-ir " ]'

ffmpeg -nostdin -v quiet -y -f lavfi -i testsrc2=size=1280x720 -frames:v 1 "$work/s720.png"
ffmpeg -nostdin -v quiet -y -f lavfi -i testsrc2=size=1920x1080 -frames:v 1 "$work/s1080.png"
produce() {  # FIFO SECONDS PICTURE ARGS...: a camera looping one picture at 30 frames a second
  local fifo=$1 seconds=$2 picture=$3
  shift 3
  ffmpeg -nostdin -v quiet -re -loop 1 -i "$picture" -r 30 -t "$seconds" "$@" -y "$fifo" &
  producers+=($!)
}
produce "$work/yuyv.fifo" 30 "$work/s720.png" -f rawvideo -pix_fmt yuyv422
produce "$work/mjpeg.fifo" 30 "$work/s1080.png" -q:v 3 -f mjpeg
# Long enough for a producer that a loaded machine starts seconds late.
"$tool" camera cam-desk --seconds 6 --out "$work/y" >"$work/y.out" 2>&1 &
desk=$!
"$tool" camera cam-stage --seconds 6 --out "$work/m" >"$work/m.out" 2>&1
wait $desk
check "YUYV is chosen and labelled ($(grep format "$work/y.out" | head -1))" \
  'grep -q "format: Desk Cam · 1280x720 YUY2 30 fps" "$work/y.out"'
check "MJPEG is labelled ($(grep format "$work/m.out" | head -1))" \
  'grep -q "format: Stage Cam · 1920x1080 MJPEG 30 fps" "$work/m.out"'
# ffmpeg's own decode of the very bytes the producers send.
ffmpeg -nostdin -v quiet -y -i "$work/s720.png" -pix_fmt yuyv422 -f rawvideo "$work/ref.yuv"
ffmpeg -nostdin -v quiet -y -f rawvideo -pix_fmt yuyv422 -s 1280x720 -i "$work/ref.yuv" -pix_fmt rgb24 -f rawvideo "$work/ref_y.rgb"
ffmpeg -nostdin -v quiet -y -i "$work/s1080.png" -q:v 3 -f mjpeg "$work/ref.jpg"
ffmpeg -nostdin -v quiet -y -i "$work/ref.jpg" -pix_fmt rgb24 -f rawvideo "$work/ref_m.rgb"
compare() {  # OURS.png REF.rgb: the largest difference of any channel
  $py - "$1" "$2" <<'EOF'
import subprocess, sys
import numpy as np
raw = subprocess.run(["ffmpeg", "-v", "quiet", "-i", sys.argv[1], "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                     capture_output=True).stdout
a = np.frombuffer(raw, np.uint8).astype(int)
b = np.fromfile(sys.argv[2], np.uint8).astype(int)
print(np.abs(a - b).max() if a.size == b.size and a.size else "size %d vs %d" % (a.size, b.size))
EOF
}
d=$(compare "$work/y/last-frame.png" "$work/ref_y.rgb")
check "the YUYV frame equals ffmpeg's decode within 3 (largest difference $d)" '[ "$d" -le 3 ] 2>/dev/null'
d=$(compare "$work/m/last-frame.png" "$work/ref_m.rgb")
check "the MJPEG frame equals ffmpeg's decode within 3 (largest difference $d)" '[ "$d" -le 3 ] 2>/dev/null'

# --- Unplug and plug back ---
for p in "${producers[@]}"; do kill "$p" 2>/dev/null; done
wait 2>/dev/null
producers=()
produce "$work/yuyv.fifo" 2 "$work/s720.png" -f rawvideo -pix_fmt yuyv422

# The camera plugged back in: a producer started now, which a loaded machine may take seconds to
# get going, held at a pipe until it is let into the FIFO; it runs well past the tool's 14 s, since
# once let in it first catches up the seconds it was held.
mkfifo "$work/plug.go"
ffmpeg -nostdin -v quiet -re -loop 1 -i "$work/s720.png" -r 30 -t 30 -f rawvideo -pix_fmt yuyv422 - |
  { read -r _ <"$work/plug.go" && exec cat >"$work/yuyv.fifo"; } &
producers+=($!)
"$tool" camera cam-desk --seconds 14 >"$work/plug.out" 2>&1 &
run=$!
# Plugged back in once the tool says the camera stopped, and timed by the tool's own clock (the
# time of its last line then).
for _ in $(seq 1 280); do
  grep -q "status: The camera stopped" "$work/plug.out" && break
  kill -0 $run 2>/dev/null || break
  sleep 0.05
done
echo go >"$work/plug.go"
plugged=$(awk '{t = $1} END {print t + 0}' "$work/plug.out")
wait $run
stopped=$(grep -m1 "status: The camera stopped (unplugged, or taken by another app)" "$work/plug.out" | awk '{print $1}')
check "unplugging shows the camera stopped ($(tr '\n' '|' <"$work/plug.out"))" '[ -n "$stopped" ]'
back=$(awk '$2 == "status:" && $3 == "(ok)" {t = $1} END {print t}' "$work/plug.out")
check "plugging back in clears it within about 3 s (plugged at $plugged s, back at $back s)" \
  'awk -v b="${back:-0}" -v p="$plugged" -v s="${stopped:-99}" "BEGIN {exit !(p >= s && b >= p && b <= p + 3.6)}"'
last=$(grep ' frames: ' "$work/plug.out" | tail -1 | awk '{print $3}')
check "frames flow again ($last in the last second)" '[ "${last:-0}" -ge 20 ]'

# --- A camera with no producer, a locked one, and none at all ---
"$tool" camera cam-ir --seconds 0.5 >"$work/idle.out" 2>&1
check "a stand-in with no producer keeps starting and stops at once ($(tr '\n' '|' <"$work/idle.out"))" \
  'grep -q "status: Starting the camera" "$work/idle.out" && awk "/stopped in/ {exit !(\$3 < 0.1)}" "$work/idle.out"'
if command -v setpriv >/dev/null; then
  chmod 755 "$work"
  setpriv --reuid=65534 --regid=65534 --clear-groups "$tool" camera cam-locked --seconds 0.5 >"$work/locked.out" 2>&1
  check "a camera the account may not open says so ($(tr '\n' '|' <"$work/locked.out"))" \
    'grep -q "status: The system is blocking the camera: this account needs access to it (the video group)" "$work/locked.out"'
fi
# Laying the karaoke page out (camera on) must leave the camera to the running program: had it
# opened the FIFO, the would-be producer's open would return.
mkdir -p "$work/home/.local/share/Veldmix"
printf '[Tour]\nDone=1\n[Camera]\nOn=1\nDevice=cam-ir\n' >"$work/home/.local/share/Veldmix/settings.ini"
timeout 4 sh -c 'exec 3>"$1"' _ "$work/idle.fifo" &
opener=$!
HOME="$work/home" "$tool" layout 1900 1060 --settings 6 --load-settings >"$work/layout.out" 2>&1
check "the layout run draws the page ($(grep -c . "$work/layout.out") rectangles)" 'grep -q "^id.3172 " "$work/layout.out"'
wait $opener
opened=$?
check "a layout run never opens the camera" '[ $opened = 124 ]'
: >"$work/none"
VELDMIX_CAMERAS="$work/none" "$tool" camera "" --seconds 0.3 >"$work/none.out" 2>&1
VELDMIX_CAMERAS="$work/none" "$tool" camera cam-desk --seconds 0.3 >"$work/none.out" 2>&1
check "no camera: \"No camera found\" ($(tr '\n' '|' <"$work/none.out"))" \
  'grep -q "status: No camera found — plug one in" "$work/none.out"'
check "and the list says so" '[ "$(VELDMIX_CAMERAS="$work/none" "$tool" cameras)" = "No camera found — plug one in" ]'

if [ -n "${VELDMIX_E2E_SHOW:-}" ]; then cat "$work"/*.out; fi
[ $fail = 0 ] && echo "PASS: camera_tool"
exit $fail
