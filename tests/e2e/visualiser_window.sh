#!/usr/bin/env bash
# The visualiser window in the real program on a real X server with the test sound server. One
# head: F10 opens "Veldmix — Visualiser" 960 x 540 centred and the main window keeps the keyboard;
# in the window 1-9, 0, the arrows, Space and a right-click choose visuals, the banner names each
# (OCR) and settings.ini's [Visualiser] Style follows; A writes Auto and shows its banner; with the
# kick playing on deck A, full screen shows "NOW PLAYING", the title and "120 BPM" and T hides
# them; Esc and F10 close; Shift+F10 in the main window steps the visual. Two heads with [Camera]
# On=1, Show=1, Device=test-pattern: the window covers head 1, the cursor hides over it, the test
# pattern fills the circle (mirrored) within a second, Esc comes back to 960 x 540, and the
# camera's thread ends when the window closes.
# Labels: slow
# Cost: 40
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix Xvfb xwininfo xdotool tesseract convert import ffmpeg
private_home
own_sound_server

app_pid=""
title="Veldmix — Visualiser"
track="$work/kick.wav"
ffmpeg -nostdin -v quiet -y -f lavfi \
  -i "aevalsrc='0.9*sin(2*PI*(50+60*exp(-mod(t,0.5)*30))*mod(t,0.5))*exp(-mod(t,0.5)*12)':s=44100:d=60" \
  -ac 2 "$track"

# --- Helpers ---
start_display() {
  stop_all
  start_private_display "$work/xvfb.log" "$@" || fail "no virtual display could be started"
}
window_id() { xwininfo -root -tree 2>/dev/null | grep -F "\"$1\"" | head -n 1 | awk '{print $1}'; }
geometry() {
  local id
  id="$(window_id "$1")"
  [ -n "$id" ] || return 0
  xwininfo -id "$id" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF} /Width:/{w=$NF} /Height:/{h=$NF} END{print w, h, x, y}'
}
geometry_is() { [ "$(geometry "$title")" = "$1" ]; }
open_now() { [ -n "$(window_id "$title")" ]; }
closed_now() { ! open_now; }
main_id() { printf '%d' "$(window_id "VELDMIX 1.0.10")"; }
focus_is_main() { [ "$(xdotool getwindowfocus)" = "$(main_id)" ]; }
to_main() { xdotool windowfocus --sync "$(window_id "VELDMIX 1.0.10")" key "$@"; }
to_vis() { xdotool windowfocus --sync "$(window_id "$title")" key "$@"; }
start_app() {
  "$app" "$track" >>"$work/app.out" 2>&1 &
  app_pid=$!
  wait_for 20 sh -c "xwininfo -root -tree | grep -qF '\"VELDMIX 1.0.10\"'" || fail "the main window did not appear"
  sleep 1
}
# ocr PNG [bright]: its text, scaled up and grey; bright keeps only the brightest pixels (white
# text over a moving visual).
ocr() {
  convert "$1" -resize 300% -colorspace Gray ${2:+-threshold 70%} -negate "$work/ocr.png"
  OMP_THREAD_LIMIT=1 tesseract "$work/ocr.png" - 2>/dev/null | tr '\n' ' '
}
# read_text W H X Y: the OCR of a screen rectangle.
read_text() {
  import -window root -crop "$1x$2+$3+$4" +repage "$work/crop.png"
  ocr "$work/crop.png"
}
# banner_grabs [W] before the key that brings a banner, banner_reads GREP-PATTERN after it: the
# banner, the middle W (400) of the 960-wide window at 320 230, matches (its last reading kept in
# $text). A banner lasts 2.5 s of the window's frames, less than a few readings take on a loaded
# machine, and on one the key's way to the window may take longer than that: so the screen is
# grabbed over and over from before the key until 6 s after it, and the grabs are read in order
# until one matches.
banner_grabs() {
  local w=${1:-400}
  grabs="$work/grabs"
  rm -rf "$grabs" && mkdir "$grabs"
  (
    i=0
    until [ -f "$grabs/stop" ]; do
      import -window root -crop "${w}x34+$((320 + (960 - w) / 2))+248" +repage "$grabs/grab.png" &&
        mv "$grabs/grab.png" "$grabs/$i.png" && i=$((i + 1))
    done
    touch "$grabs/done"
  ) &
  grabber=$!
}
banner_reads() {
  local pattern=$1 n=0 end=$(($(date +%s%N) / 1000000 + 6000))
  text=""
  while :; do
    [ $(($(date +%s%N) / 1000000)) -lt "$end" ] || touch "$grabs/stop"
    if [ -f "$grabs/$n.png" ]; then
      text="$(ocr "$grabs/$n.png" bright)"
      if grep -q "$pattern" <<<"$text"; then
        touch "$grabs/stop"
        wait "$grabber" 2>/dev/null || true
        return 0
      fi
      n=$((n + 1))
    elif [ -f "$grabs/done" ]; then
      [ -f "$grabs/$n.png" ] || break
    else
      sleep 0.05
    fi
  done
  wait "$grabber" 2>/dev/null || true
  return 1
}
style_is() { grep -qx "Style=$1" "$settings"; }
# The banner reads the name and the Style setting is the number.
shows() {  # NAME STYLE
  banner_reads "$1" || fail "the banner does not name $1: \"$text\""
  wait_for 3 style_is "$2" || fail "Style is not $2 after choosing $1: $(grep -A3 '^\[Visualiser\]' "$settings" | tr '\n' ' ')"
}

# --- One head ---
start_display -screen 0 1600x1000x24
start_app
banner_grabs
xdotool key F10
wait_for 5 open_now || fail "F10 did not open the visualiser"
wait_for 5 geometry_is "960 540 320 230" || fail "not 960 x 540 centred: $(geometry "$title")"
focus_is_main || fail "the visualiser took the keyboard"
banner_reads RING || fail "the first banner does not name RING: \"$text\""
banner_grabs && to_vis 3 && shows TUNNEL 2
banner_grabs && to_vis Right && shows WARP 3
banner_grabs && to_vis Left && shows TUNNEL 2
banner_grabs && to_vis space && shows WARP 3
banner_grabs && xdotool mousemove 800 500 click 3 && shows WAVES 4
banner_grabs && to_vis 0 && shows COVER 9
banner_grabs && to_vis 6 && shows KALEIDOSCOPE 5
banner_grabs 960 && to_vis a
banner_reads "A NEW VISUAL EVERY 16 BARS" || fail "the auto banner does not read: \"$text\""
wait_for 3 grep -qx "Auto=1" "$settings" || fail "A did not write Auto=1"
to_vis a
wait_for 3 grep -qx "Auto=0" "$settings" || fail "A again did not write Auto=0"

# The kick on deck A (X plays the left deck); full screen gives the overlay room for the tempo.
to_main x
to_vis F11
wait_for 5 geometry_is "1600 1000 0 0" || fail "F11 did not go full screen: $(geometry "$title")"
overlay_reads() {
  overlay="$(read_text 1600 160 0 790)"
  grep -q "NOW PLAYING" <<<"$overlay" && grep -q "kick" <<<"$overlay" && grep -q "120 BPM" <<<"$overlay"
}
wait_for 8 overlay_reads || fail "the track overlay does not read: \"$overlay\""
to_vis t
wait_for 3 grep -qx "Track=0" "$settings" || fail "T did not write Track=0"
overlay_gone() { overlay="$(read_text 1600 160 0 790)" && ! grep -q "NOW PLAYING\|BPM" <<<"$overlay"; }
wait_for 5 overlay_gone || fail "T did not hide the overlay: \"$overlay\""
to_vis t
to_vis Escape
wait_for 5 geometry_is "960 540 320 230" || fail "Esc in full screen did not come back: $(geometry "$title")"
to_vis Escape
wait_for 5 closed_now || fail "Esc in the window did not close it"
to_main F10
wait_for 5 open_now || fail "F10 did not open it again"
to_main shift+F10
wait_for 3 style_is 6 || fail "Shift+F10 in the main window did not step to the next visual"
to_vis F10
wait_for 5 closed_now || fail "F10 in the visualiser did not close it"
stop_all

# --- Two heads, the camera in the circle ---
mkdir -p "$(dirname "$settings")"
printf '[Tour]\nDone=1\n[Camera]\nOn=1\nShow=1\nDevice=test-pattern\n[Visualiser]\nStyle=1\nTrack=0\n' >"$settings"
start_display -screen 0 1920x1080x24 -screen 1 1500x1080x24 +xinerama
start_app
# The camera's thread by its name: counting all the program's threads would also count those that
# loading and analysing the track start and end, later on a loaded machine.
camera_threads() { cat /proc/"$app_pid"/task/*/comm 2>/dev/null | grep -cx vm-camera || true; }
[ "$(camera_threads)" = 0 ] || fail "the camera runs before the visualiser opens"
xdotool key F10
wait_for 5 open_now || fail "F10 did not open the visualiser on two heads"
wait_for 5 geometry_is "1500 1080 0 0" || fail "not full screen on head 1: $(geometry "$title")"
focus_is_main || fail "the full-screen visualiser took the keyboard"
xdotool mousemove 700 500
wait_for 3 sh -c "[ \"\$(/usr/bin/python3 '$source_dir/tests/support/cursor_visible.py')\" = 0 ]" ||
  fail "the cursor shows over the full-screen visualiser"
xdotool mousemove 1700 500
sleep 1
[ "$(camera_threads)" = 1 ] || fail "the open visualiser runs $(camera_threads) camera threads, not one"
# Centre (750, 453.6), radius 313.2: the pattern's bars at 0.87 scale, mirrored.
import -window root -crop 1500x1080+0+0 +repage "$work/circle.png"
colours="$(/usr/bin/python3 - "$work/circle.png" <<'EOF'
import subprocess, sys
import numpy as np
raw = subprocess.run(["convert", sys.argv[1], "rgb:-"], capture_output=True).stdout
img = np.frombuffer(raw, np.uint8).reshape(1080, 1500, 3).astype(int)
def name(p):
    for n, c in {"cyan": (0, 192, 192), "magenta": (192, 0, 192)}.items():
        if np.abs(p - np.array(c)).max() <= 14: return n
    return "other%s" % list(p)
print(name(img[253, 600]), name(img[253, 900]))
EOF
)"
[ "$colours" = "magenta cyan" ] || fail "the test pattern is not in the circle, mirrored: $colours"
to_vis Escape
wait_for 5 geometry_is "960 540 270 270" || fail "Esc did not window it centred on head 1: $(geometry "$title")"
to_vis Escape
wait_for 5 closed_now || fail "the second Esc did not close it"
wait_for 5 eval '[ "$(camera_threads)" = 0 ]' || fail "the camera's thread did not end with the window"
stop_all

echo "visualiser_window: PASS"
