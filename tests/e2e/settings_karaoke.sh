#!/usr/bin/env bash
# Labels: slow
# The Karaoke page of the settings screen in the real program under a virtual display, clicked
# where `veldmix-tool layout --settings 6 --load-settings` says each widget is: every row writes
# its key at the click (read back by Python's configparser); Dim 45 shows 40 %, Guide 40 % steps
# on to 5 %; the background
# row asks for a picture (a recording zenity answers); with no camera the stepper reads
# "No camera found" and choosing it leaves the camera off; stand-in cameras (a VELDMIX_CAMERAS
# file, ffmpeg feeding a FIFO) are stored by their link and shown by name, and after a restart
# with the list reordered the stored one is still the one shown; the preview shows the picture;
# the button opens the karaoke window. Screenshots go to $VELDMIX_BUILD/e2e-artifacts.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix veldmix-tool python3 ffmpeg Xvfb xwininfo xdotool xprop openbox import convert tesseract
artifacts="$build/e2e-artifacts/settings_karaoke"
rm -rf "$artifacts"
mkdir -p "$artifacts"
private_home
no_sound_server
data="$HOME/.local/share/Veldmix"
printf '[Tour]\nDone=1\n[Karaoke]\nDim=45\nGuide=40\nBreakList=Gone\n' >"$settings"
mkdir -p "$data/Lists"
printf '#EXTM3U\n/music/one.flac\n' >"$data/Lists/Party.m3u8"

# A zenity that records each call's title and answers the next line of a queue (empty: cancel).
mkdir -p "$work/bin"
cat >"$work/bin/zenity" <<'EOF'
#!/bin/sh
for a in "$@"; do case "$a" in --title=*) printf '%s\n' "${a#--title=}" >>"$ZENITY_LOG" ;; esac; done
answer="$(head -n 1 "$ZENITY_ANSWERS")"
sed -i 1d "$ZENITY_ANSWERS"
[ -n "$answer" ] || exit 1
printf '%s\n' "$answer"
EOF
chmod +x "$work/bin/zenity"
export PATH="$work/bin:$PATH" ZENITY_LOG="$work/zenity.log" ZENITY_ANSWERS="$work/answers"
: >"$ZENITY_LOG"
: >"$ZENITY_ANSWERS"

# Stand-in cameras: none listed at first; the program reads the file on every listing.
export VELDMIX_CAMERAS="$work/cams"
: >"$VELDMIX_CAMERAS"
mkfifo "$work/desk.fifo" "$work/stage.fifo"
desk_line="Desk Cam	usb-Desk_Cam-video-index0	$work/desk.fifo	rawvideo	video_size=640x360 pixel_format=yuyv422 framerate=30"
stage_line="Stage Cam	usb-Stage_Cam-video-index0	$work/stage.fifo	rawvideo	video_size=640x360 pixel_format=yuyv422 framerate=30"
# A red picture: the preview's circle shows it.
ffmpeg -nostdin -v quiet -y -f lavfi -i color=c=0xE01010:size=640x360 -frames:v 1 "$work/red.png"
producer=""
produce() {  # FIFO: the camera's picture at 30 frames a second for a minute
  [ -z "$producer" ] || kill "$producer" 2>/dev/null || true
  ffmpeg -nostdin -v quiet -re -loop 1 -i "$work/red.png" -r 30 -t 60 -f rawvideo -pix_fmt yuyv422 -y "$1" &
  producer=$!
}

app_pid="" win=""
main_found() {
  local id
  id="$(xwininfo -root -tree 2>/dev/null | awk '/"VELDMIX [0-9.]*": \("veldmix"/ {print $1; exit}')"
  [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' || return 1
  win=$((id))
}
karaoke_open() { xwininfo -root -tree 2>/dev/null | grep -q '"Veldmix — Karaoke"'; }
geometry() {  # the main window's client area on the screen: x y w h
  xwininfo -id "$win" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
    /^ *Width:/{w=$2} /^ *Height:/{h=$2} END{print x, y, w, h}'
}
start_app() {
  "$app" >>"$work/app.out" 2>&1 &
  app_pid=$!
  wait_for 30 main_found || fail "the main window did not appear"
  sleep 1
  wait_for 5 main_found || fail "the main window went away"
  xdotool windowactivate --sync "$win" 2>/dev/null || true
}
stop_app() {
  kill -TERM "$app_pid"
  wait_for 20 sh -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not end after SIGTERM"
  wait "$app_pid" || fail "the program ended with an error"
  app_pid=""
}
# The click map for the settings as they stand now (rows come and go with the choices).
remap() {
  local ww wh
  read -r _ _ ww wh <<<"$(geometry)"
  "$tool" layout "$ww" "$wh" --settings 6 --load-settings >"$work/map"
}
at_widget() {  # id: its centre on the screen
  local wx wy
  read -r wx wy _ _ <<<"$(geometry)"
  awk -v id="id.$1" -v wx="$wx" -v wy="$wy" \
    '$1 == id {printf "%d %d\n", wx + $2 + $4 / 2, wy + $3 + $5 / 2; found = 1; exit} END {exit !found}' "$work/map" ||
    fail "no widget $1 on the Karaoke page"
}
click() {  # id
  local at
  at="$(at_widget "$1")"
  # shellcheck disable=SC2086
  xdotool mousemove $at click 1
  sleep 0.2
}
shot() { timeout 20 import -window root "$artifacts/$1.png" 2>/dev/null || fail "no screenshot $1"; }
# OCR of widget id's box (light text on dark), the pointer moved off it.
ocr_widget() {  # name id [dx dw]: the box of id, moved right by dx and widened by dw
  local wx wy x y w h
  xdotool mousemove 0 0
  sleep 0.2
  read -r wx wy _ _ <<<"$(geometry)"
  read -r x y w h <<<"$(awk -v id="id.$2" '$1 == id {print $2, $3, $4, $5; exit}' "$work/map")"
  shot "$1"
  convert "$artifacts/$1.png" -crop "$((w + ${4:-0}))x$h+$((wx + x + ${3:-0}))+$((wy + y))" +repage -resize 300% \
    -colorspace Gray -negate "$work/ocr.png"
  OMP_THREAD_LIMIT=1 tesseract "$work/ocr.png" - --psm 7 2>/dev/null | tr '\n' ' '
}
stepper_reads() {  # id text: the stepper's box (between ◂ id and ▸ id + 1) reads the text
  local left right
  left=$(awk -v id="id.$1" '$1 == id {print $2; exit}' "$work/map")
  right=$(awk -v id="id.$(($1 + 1))" '$1 == id {print $2; exit}' "$work/map")
  [[ "$(ocr_widget "stepper-$1" "$1" 26 $((right - left - 26)))" == *"$2"* ]]
}
ini() {  # section key: the value in settings.ini as configparser reads it
  /usr/bin/python3 - "$settings" "$1" "$2" <<'EOF'
import configparser, sys
c = configparser.ConfigParser(interpolation=None, strict=False)
c.optionxform = str
c.read(sys.argv[1], encoding="utf-8-sig")
print(c.get(sys.argv[2], sys.argv[3], fallback="<none>"))
EOF
}
ini_is() { [ "$(ini "$1" "$2")" = "$3" ]; }
expect_ini() {  # section key value what
  wait_for 5 ini_is "$1" "$2" "$3" || fail "$4: [$1] $2 is '$(ini "$1" "$2")', not '$3'"
}
open_page() {
  remap
  click 2
  click 3006
  sleep 0.3
}

start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 -dpi 96 || fail "no virtual display could be started"
openbox --sm-disable >"$work/openbox.log" 2>&1 &
wait_for 20 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' ||
  { cat "$work/openbox.log" >&2; fail "openbox did not start"; }
start_app
open_page
shot page

# --- The screen: each row writes its key ---
click 3131
expect_ini Karaoke Background 1 "PICTURE"
remap
wait_for 5 stepper_reads 3135 "40%" || fail "Dim 45 reads '$(ocr_widget dim 3135 26 200)', not 40%"
echo "$work/red.png" >"$ZENITY_ANSWERS"
click 3134
expect_ini Karaoke BackgroundFile "$work/red.png" "the picture chosen"
grep -qx "Background picture" "$ZENITY_LOG" || fail "the picture row asked '$(cat "$ZENITY_LOG")'"
click 3136
expect_ini Karaoke Dim 50 "Darken it ▸ from 40 %"
click 3137
expect_ini Karaoke Blur 0 "SHARP"
click 3142
expect_ini Karaoke Palette 2 "NEON"
click 3148
expect_ini Karaoke TextSize 2 "LARGE"
click 3150
expect_ini Karaoke Countdown 0 "count-in OFF"
click 3152
expect_ini Karaoke ShowNext 0 "DON'T SHOW"
click 3154
for _ in $(seq 30); do xdotool key BackSpace; done
xdotool type --delay 40 "Next singer soon"
xdotool key Return
expect_ini Karaoke Message "Next singer soon" "the message between singers"

# --- Singing and lyrics ---
click 3161
expect_ini Karaoke Vocals 1 "GUIDE"
remap
click 3165
expect_ini Karaoke Guide 5 "Guide level ▸ from 40 % (wraps)"
click 3167
expect_ini Karaoke BreakList Party "▸ from a list that is gone (shown as the Automix list)"
click 3171
expect_ini Karaoke Online 1 "AUTOMATICALLY"
click 3653
expect_ini Camera Show 1 "ALL THE TIME"
click 3654
expect_ini Camera Mirror 0 "AS IT IS"

# --- No camera, then stand-ins stored by link ---
wait_for 5 stepper_reads 3650 "No camera found" || fail "with no camera the stepper reads '$(ocr_widget cam 3650 26 250)'"
click 3651
expect_ini Camera On 0 "choosing 'No camera found'"
printf '%s\n%s\n' "$desk_line" "$stage_line" >"$VELDMIX_CAMERAS"
produce "$work/stage.fifo"
sleep 2.2  # the page lists the cameras again every 2 s
click 3651
expect_ini Camera On 1 "the first camera"
expect_ini Camera Device usb-Desk_Cam-video-index0 "the first camera's link"
click 3651
expect_ini Camera Device usb-Stage_Cam-video-index0 "the second camera's link"
remap
wait_for 5 stepper_reads 3650 "Stage Cam" || fail "the chosen camera reads '$(ocr_widget cam 3650 26 250)'"
# The preview: the red picture inside a circle in the middle of the black box.
preview_red() {
  local wx wy x y w h
  read -r wx wy _ _ <<<"$(geometry)"
  read -r x y w h <<<"$(awk '$1 == "id.3172" {print $2, $3, $4, $5; exit}' "$work/map")"
  shot preview
  # The preview box starts about 120 px under the button; its middle lies 150 px right of the column.
  convert "$artifacts/preview.png" -crop "300x200+$((wx + x))+$((wy + y + h + 90))" +repage -depth 8 txt:- |
    grep -c '#[D-F][0-9A-F][0-2][0-9A-F][0-2][0-9A-F]' | awk '{exit !($1 > 5000)}'
}
wait_for 10 preview_red || fail "the preview shows no camera picture"

# --- The karaoke window opens from the page ---
click 3172
wait_for 5 karaoke_open || fail "OPEN KARAOKE SCREEN opened no window"
shot karaoke-open
xdotool windowactivate --sync "$win" 2>/dev/null || true
xdotool key F9
wait_for 5 sh -c '! xwininfo -root -tree 2>/dev/null | grep -q "\"Veldmix — Karaoke\""' || fail "F9 left the karaoke window open"

# --- After a restart, with the list reordered, the stored link still picks the camera ---
xdotool key Escape
stop_app
printf '%s\n%s\n' "$stage_line" "$desk_line" >"$VELDMIX_CAMERAS"
produce "$work/stage.fifo"
start_app
open_page
wait_for 5 stepper_reads 3650 "Stage Cam" || fail "after a restart the camera reads '$(ocr_widget cam 3650 26 250)'"
click 3651
expect_ini Camera Device usb-Desk_Cam-video-index0 "the camera after Stage Cam in the new order"
xdotool key Escape
stop_app
echo "settings_karaoke: PASS"
