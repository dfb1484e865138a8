#!/usr/bin/env bash
# Labels: slow
# Cost: 59
# The Karaoke page of the settings screen in the real program under a virtual display, clicked
# where `veldmix-tool layout --settings 6 --load-settings` says each widget is: every row writes
# its key at the click (read back by Python's configparser); Dim 45 shows 40 %, Guide 40 % steps
# on to 5 %; the background row asks for a picture (a recording zenity answers); with no camera the
# stepper reads "No camera found" and choosing it leaves the camera off; stand-in cameras (a
# VELDMIX_CAMERAS file, ffmpeg feeding a FIFO) are stored by their link and shown by name, and
# after a restart with the list reordered the stored one is still the one shown; the preview shows
# the camera's picture; the button opens the karaoke window, F9 closes it.
# Screenshots go to $VELDMIX_BUILD/e2e-artifacts.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/settings_ini.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/main_window.sh"
need veldmix veldmix-tool python3 ffmpeg Xvfb xwininfo xdotool xprop openbox import convert tesseract mkfifo
artifacts="$build/e2e-artifacts/settings_karaoke"
rm -rf "$artifacts"
mkdir -p "$artifacts"
private_home
no_sound_server
data="$HOME/.local/share/Veldmix"
printf '[Tour]\nDone=1\n[Karaoke]\nDim=45\nGuide=40\nBreakList=Gone\n' >"$settings"
mkdir -p "$data/Lists"
printf '#EXTM3U\n/music/one.flac\n' >"$data/Lists/Party.m3u8"

recording_zenity

# Stand-in cameras: none listed at first; the program reads the file on every listing.
export VELDMIX_CAMERAS="$work/cams"
: >"$VELDMIX_CAMERAS"
mkfifo "$work/desk.fifo" "$work/stage.fifo"
desk_line="Desk Cam	usb-Desk_Cam-video-index0	$work/desk.fifo	rawvideo	video_size=640x360 pixel_format=yuyv422 framerate=30"
stage_line="Stage Cam	usb-Stage_Cam-video-index0	$work/stage.fifo	rawvideo	video_size=640x360 pixel_format=yuyv422 framerate=30"
# The camera's picture, red on the left and blue on the right: the preview's circle shows it.
ffmpeg -nostdin -v quiet -y -f lavfi -i color=c=0xE01010:size=320x360 -f lavfi -i color=c=0x1010E0:size=320x360 \
  -filter_complex hstack -frames:v 1 "$work/camera.png"
producer=""
produce() {  # FIFO: the camera's picture at 30 frames a second (ended with the script)
  [ -z "$producer" ] || kill "$producer" 2>/dev/null || true
  ffmpeg -nostdin -v quiet -re -loop 1 -i "$work/camera.png" -r 30 -t 600 -f rawvideo -pix_fmt yuyv422 -y "$1" &
  producer=$!
}

app_pid=""
# (grep -q would end the pipe early and fail it under pipefail.)
karaoke_open() { xwininfo -root -tree 2>/dev/null | grep -F '"Veldmix — Karaoke"' >/dev/null; }
start_app() {
  "$app" >>"$work/app.out" 2>&1 &
  app_pid=$!
  fit_main_window --settings 6 --load-settings
  xdotool windowactivate --sync "$(window_id)" 2>/dev/null || true
}
stop_app() {
  kill -TERM "$app_pid"
  wait_for 20 sh -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not end after SIGTERM"
  local status=0
  wait "$app_pid" || status=$?
  [ "$status" = 0 ] || fail "the program ended with an error (exit status $status)"
  app_pid=""
}
shot() { screen_shot "$artifacts/$1.png" || fail "no screenshot $1"; }
# The click map for the settings as they stand now (rows come and go with the choices).
remap() {
  while read -r name x y w h; do at[$name]="$x $y $w $h"; done < <("$tool" layout "$ww" "$wh" --settings 6 --load-settings)
}
# stepper_reads ID TEXT: the stepper's box (between ◂ ID and ▸ ID + 1) reads the text.
stepper_reads() { [[ "$(stepper_text "$1")" == *"$2"* ]]; }
stepper_text() {
  local x y w h right
  read -r x y w h <<<"${at[id.$1]:?no widget $1}"
  read -r right _ <<<"${at[id.$(($1 + 1))]}"
  xdotool mousemove 0 0
  sleep 0.2
  read_text $((right - x - w)) "$h" $((wx + x + w)) $((wy + y))
}
open_page() {
  click id.2
  click id.3006
}

start_private_display "$work/xvfb.log" -screen 0 1920x1080x24 -dpi 96 || fail "no virtual display could be started"
start_private_wm "$work/openbox.log" || fail "openbox did not start"
start_app
open_page
shot page

# --- The screen: each row writes its key ---
click id.3131
expect_ini Karaoke Background 1 "PICTURE"
remap
wait_for 5 stepper_reads 3135 "40%" || fail "Dim 45 reads '$(stepper_text 3135)', not 40%"
echo "$work/camera.png" >"$ZENITY_ANSWERS"
click id.3134
expect_ini Karaoke BackgroundFile "$work/camera.png" "the picture chosen"
grep -qx "Background picture" "$ZENITY_LOG" || fail "the picture row asked '$(cat "$ZENITY_LOG")'"
click id.3136
expect_ini Karaoke Dim 50 "Darken it ▸ from 40 %"
click id.3137
expect_ini Karaoke Blur 0 "SHARP"
click id.3142
expect_ini Karaoke Palette 2 "NEON"
click id.3148
expect_ini Karaoke TextSize 2 "LARGE"
click id.3150
expect_ini Karaoke Countdown 0 "count-in OFF"
click id.3152
expect_ini Karaoke ShowNext 0 "DON'T SHOW"
click id.3154
for _ in $(seq 30); do xdotool key BackSpace; done
xdotool type --delay 40 "Next singer soon"
xdotool key Return
expect_ini Karaoke Message "Next singer soon" "the message between singers"

# --- Singing and lyrics ---
click id.3161
expect_ini Karaoke Vocals 1 "GUIDE"
remap
click id.3165
expect_ini Karaoke Guide 5 "Guide level ▸ from 40 % (wraps)"
click id.3167
expect_ini Karaoke BreakList Party "▸ from a list that is gone (shown as the Automix list)"
click id.3171
expect_ini Karaoke Online 1 "AUTOMATICALLY"
click id.3653
expect_ini Camera Show 1 "ALL THE TIME"
click id.3654
expect_ini Camera Mirror 0 "AS IT IS"

# --- No camera, then stand-ins stored by link ---
wait_for 5 stepper_reads 3650 "No camera found" || fail "with no camera the stepper reads '$(stepper_text 3650)'"
click id.3651
expect_ini Camera On 0 "choosing 'No camera found'"
printf '%s\n%s\n' "$desk_line" "$stage_line" >"$VELDMIX_CAMERAS"
produce "$work/stage.fifo"
sleep 2.2  # the page lists the cameras again every 2 s
click id.3651
expect_ini Camera On 1 "the first camera"
expect_ini Camera Device usb-Desk_Cam-video-index0 "the first camera's link"
click id.3651
expect_ini Camera Device usb-Stage_Cam-video-index0 "the second camera's link"
remap
wait_for 5 stepper_reads 3650 "Stage Cam" || fail "the chosen camera reads '$(stepper_text 3650)'"
# The preview: the camera's picture (red and blue) in the black box under the button, its help
# line and its card's title. (Which way round it lands is checked in-process on the test pattern.)
preview_reads() {
  local x y w h
  read -r x y w h <<<"${at[id.3172]}"
  shot preview
  convert "$artifacts/preview.png" -crop "300x200+$((wx + x))+$((wy + y + h + 90))" +repage -depth 8 txt:- >"$work/box.txt"
  [ "$(grep -c '#[D-F][0-9A-F][0-2][0-9A-F][0-2][0-9A-F]' "$work/box.txt")" -gt 3000 ] &&
    [ "$(grep -c '#[0-2][0-9A-F][0-2][0-9A-F][D-F][0-9A-F]' "$work/box.txt")" -gt 3000 ]
}
wait_for 10 preview_reads || fail "the preview does not show the camera's picture"

# --- The karaoke window opens from the page ---
click id.3172
wait_for 5 karaoke_open || fail "OPEN KARAOKE SCREEN opened no window"
shot karaoke-open
xdotool windowactivate --sync "$(window_id)" 2>/dev/null || true
xdotool key F9
wait_for 5 eval '! karaoke_open' || fail "F9 left the karaoke window open"

# --- After a restart, with the list reordered, the stored link still picks the camera ---
xdotool key Escape
stop_app
printf '%s\n%s\n' "$stage_line" "$desk_line" >"$VELDMIX_CAMERAS"
produce "$work/stage.fifo"
start_app
open_page
wait_for 5 stepper_reads 3650 "Stage Cam" || fail "after a restart the camera reads '$(stepper_text 3650)'"
click id.3651
expect_ini Camera Device usb-Desk_Cam-video-index0 "the camera after Stage Cam in the new order"
xdotool key Escape
stop_app
echo "settings_karaoke: PASS"
