#!/usr/bin/env bash
# The video window in the real program on a real X server, with a clip whose frame number is drawn
# as 16 black/white blocks along the top loaded on deck A. One head: F8 opens "Veldmix — Video"
# 960 x 540 centred on the main window's head, the main window keeps the keyboard; playing, two
# captures 2 s apart show counters 60 ± 3 apart (30 a second); the jog label shows the clip; Esc
# closes, F8 opens, F8 closes. Two heads: it covers head 1 frameless with the cursor hidden over
# it; a double-click windows it and goes full screen again, Esc leaves full screen, Esc closes
# it; under openbox the main window keeps the keyboard.
# Labels: slow
# Cost: 32
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix veldmix-tool Xvfb xdpyinfo xwininfo xdotool xprop import ffmpeg
/usr/bin/python3 -c 'import numpy' 2>/dev/null || fail "python3 numpy is not installed"
private_home
own_sound_server
frames="/usr/bin/python3 $source_dir/tests/support/video_frames.py"
artifacts="$build/e2e-artifacts/video_window"
mkdir -p "$artifacts"
e2e_on_fail() { cp "$work"/*.png "$artifacts/" 2>/dev/null || true; }

app_pid="" wm_pid=""
video_title="Veldmix — Video"

clip="$work/counter.mp4"
blocks="geq=lum='if(lt(Y,H/9),255*mod(floor(N/pow(2,floor(X*16/W))),2),lum(X,Y))':cb='if(lt(Y,H/9),128,cb(X,Y))':cr='if(lt(Y,H/9),128,cr(X,Y))'"
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=320x180:rate=30:duration=30,format=yuv420p,$blocks" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=30" -c:v libx264 -preset veryfast -g 30 \
  -c:a aac -shortest "$clip" || fail "ffmpeg could not make the clip"

start_display() {
  stop_all
  start_private_display "$work/xvfb.log" "$@" -dpi 96 || fail "no virtual display could be started"
}
window_line() { xwininfo -root -tree 2>/dev/null | grep -F "\"$1\"" | head -n 1; }
window_id() { window_line "$1" | awk '{print $1}'; }
geometry() {  # "W H X Y"
  local id
  id="$(window_id "$1")"
  [ -n "$id" ] || return 0
  xwininfo -id "$id" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF} /Width:/{w=$NF} /Height:/{h=$NF} END{print w, h, x, y}'
}
geometry_is() { [ "$(geometry "$1")" = "$2" ]; }
video_open() { [ -n "$(window_line "$video_title")" ]; }
video_closed() { ! video_open; }
main_id() { printf '%d' "$(window_id "VELDMIX 1.0.10")"; }
focus_is_main() { [ "$(xdotool getwindowfocus)" = "$(main_id)" ]; }
cursor_is() { [ "$(/usr/bin/python3 "$source_dir/tests/support/cursor_visible.py")" = "$1" ]; }
frameless() {
  xwininfo -id "$(window_id "$1")" -children | grep -q 'Parent window id: .*(the root window)'
}
key_to_video() { xdotool windowfocus --sync "$(window_id "$video_title")" key "$1"; }
start_app() {
  "$app" "$clip" >"$work/app.out" 2>&1 &
  app_pid=$!
  wait_for 20 sh -c "xwininfo -root -tree | grep -qF '\"VELDMIX 1.0.10\"'" || fail "the main window did not appear"
  wait_for 15 log_has "Audio: master output started" || fail "the output did not start"
  sleep 1
}
# shot NAME W H X Y: a capture of a screen rectangle; prints the seconds it was taken at.
shot() {
  local t
  t="$(date +%s.%N)"
  import -window root -crop "$2x$3+$4+$5" +repage "$work/$1.png"
  echo "$t"
}

# --- One head ---
start_display -screen 0 1600x1000x24
start_app
focus_is_main || fail "the main window does not have the keyboard at start"
xdotool key F8
wait_for 5 video_open || fail "F8 did not open the video window"
wait_for 5 geometry_is "$video_title" "960 540 320 230" ||
  fail "the video window is not 960 x 540 centred: $(geometry "$video_title")"
focus_is_main || fail "the video window took the keyboard"

xdotool key x  # play deck A
sleep 1.5
# Read straight from the server, each reading timed to a few milliseconds. A loaded machine may
# stall the program for a moment: a reading is taken again, at most three times.
counted=""
for attempt in 1 2 3; do
  read -r c1 c2 elapsed < <(/usr/bin/python3 "$source_dir/tests/support/screen_counter.py" 320 230 960 540 2)
  want="$(awk -v e="$elapsed" 'BEGIN { printf "%d", e * 30 + 0.5 }')"
  echo "attempt $attempt: counters $c1 then $c2 over $elapsed s ($want frames)"
  [ "$c1" -gt 0 ] && [ "$c2" -gt 0 ] || fail "the window does not show the clip's counter ($c1, $c2)"
  if [ $((c2 - c1)) -ge $((want - 3)) ] && [ $((c2 - c1)) -le $((want + 3)) ]; then counted=yes; break; fi
done
[ -n "$counted" ] || fail "2 s apart the counters moved by $((c2 - c1)) frames, not 60 ± 3"
import -window root -crop 960x540+320+230 +repage "$work/playing.png"

# The jog label of deck A: the clip's colours instead of the dark label.
read -r jx jy jw jh < <("$tool" layout 1600 1000 --scale 1 | awk '$1 == "jog.0" {print $2, $3, $4, $5}')
read -r mx my < <(geometry "VELDMIX 1.0.10" | awk '{print $3, $4}')
shot jog 30 30 $((mx + jx + jw / 2 - 15)) $((my + jy + jh / 2 - 15)) >/dev/null
bright="$($frames mean "$work/jog.png" 0 0 1 1 | awk '{print $1 + $2 + $3}')"
[ "$bright" -gt 150 ] || fail "the jog label does not show the clip (channel sum $bright)"

key_to_video Escape
wait_for 5 video_closed || fail "Esc did not close the windowed video window"
xdotool windowfocus --sync "$(window_id "VELDMIX 1.0.10")" key F8
wait_for 5 video_open || fail "F8 did not open the video window again"
key_to_video F8
wait_for 5 video_closed || fail "F8 in the video window did not close it"

# --- Two heads, no window manager ---
start_display -screen 0 1920x1080x24 -screen 1 1500x1080x24 +xinerama
start_app
xdotool key F8
wait_for 5 video_open || fail "F8 did not open the video window on two heads"
wait_for 5 geometry_is "$video_title" "1500 1080 0 0" ||
  fail "the video window does not cover head 1: $(geometry "$video_title")"
frameless "$video_title" || fail "the full-screen video window has a frame"
focus_is_main || fail "the full-screen video window took the keyboard"
xdotool mousemove 700 500
wait_for 3 cursor_is 0 || fail "the cursor shows over the full-screen video window"
xdotool mousemove 700 500 click --repeat 2 --delay 60 1
wait_for 5 geometry_is "$video_title" "960 540 270 270" ||
  fail "a double-click did not window it 960 x 540 centred on head 1: $(geometry "$video_title")"
xdotool mousemove 700 500 click --repeat 2 --delay 60 1
wait_for 5 geometry_is "$video_title" "1500 1080 0 0" || fail "a double-click did not go full screen again"
key_to_video Escape
wait_for 5 geometry_is "$video_title" "960 540 270 270" ||
  fail "Esc did not leave full screen: $(geometry "$video_title")"
key_to_video Escape
wait_for 5 video_closed || fail "Esc did not close the video window"
kill -0 "$app_pid" 2>/dev/null || fail "the program ended"
grep -qi "error" "$work/app.out" && fail "the program wrote errors: $(cat "$work/app.out")"

# --- Two heads under openbox: the main window keeps the keyboard ---
if command -v openbox >/dev/null; then
  start_display -screen 0 1920x1080x24 -screen 1 1500x1080x24 +xinerama
  start_private_wm "$work/openbox.log" || fail "openbox did not start"
  start_app
  xdotool windowactivate --sync "$(main_id)"
  sleep 0.5
  xdotool key F8
  wait_for 5 video_open || fail "F8 did not open the video window under openbox"
  sleep 1.5
  focus_is_main || fail "under openbox the video window took the keyboard"
  kill "$wm_pid" 2>/dev/null || true
else
  echo "video_window: openbox is not installed: the check under a window manager is skipped"
fi
echo "video_window: PASS"
