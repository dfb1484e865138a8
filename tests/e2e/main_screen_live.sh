#!/usr/bin/env bash
# The real program under a virtual display with a window manager: a right-click on deck A's
# header opens the deck menu in a window of its own that leaves the keyboard with the main window;
# Esc closes it; Up, Up, Enter opens the tag form on the deck's track; Up, Up, Up, Enter adds it
# to Prepare, or says why not with a folder in the list file's place; the window keeps drawing.
# A hot cue is renamed through its pad's menu with typed and pasted text (non-ASCII too), which the
# library database holds after an orderly close. F11 covers the monitor and comes back to exactly
# the earlier place. On two Xinerama heads without a manager, F11 covers the head the window is on,
# also a head narrower than the window's minimum width. Screenshots go to $VELDMIX_BUILD/e2e-artifacts.
# shellcheck disable=SC2034  # the pid variables are read by name in stop()
# Cost: 51
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix veldmix-tool Xvfb xdpyinfo xwininfo xdotool xprop xclip openbox import convert compare tesseract sox
artifacts="$build/e2e-artifacts/main_screen_live"
rm -rf "$artifacts"
mkdir -p "$artifacts"
app_pid="" wm_pid="" clip_pid=""
stop() {  # pid variable names: ends each one that runs
  local name pid
  for name in "$@"; do
    pid="${!name}"
    if [ -n "$pid" ]; then
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
    printf -v "$name" ''
  done
}
private_home
no_sound_server
data="$HOME/.local/share/Veldmix"
track="$work/track.wav"
sox -n -r 44100 -c 2 -b 16 "$track" synth 30 sine 440 vol 0.3 2>/dev/null || fail "sox could not make a track"

# --- Helpers ---
start_display() {  # Xvfb arguments
  stop app_pid clip_pid wm_pid xvfb_pid
  start_private_display "$work/xvfb.log" "$@" || fail "no virtual display could be started"
}
visible_windows() { xdotool search --onlyvisible --class '^veldmix$' 2>/dev/null | wc -l; }
windows_are() { [ "$(visible_windows)" -eq "$1" ]; }
geometry() {  # the main window's client area on the screen: x y w h
  xwininfo -id "$win" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
    /^ *Width:/{w=$2} /^ *Height:/{h=$2} END{print x, y, w, h}'
}
geometry_is() { [ "$(geometry)" = "$1" ]; }
in_database() { [ -f "$data/database.tsv" ] && grep -qF "$track" "$data/database.tsv"; }
# The main window is the titled one; read again once the track is in, as the first native window
# is made again when the program starts drawing.
main_found() {
  local id
  id="$(xwininfo -root -tree 2>/dev/null | awk '/"VELDMIX [0-9.]*": \("veldmix"/ {print $1; exit}')"
  [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' || return 1
  win=$((id))
}
start_app() {
  "$app" "$track" >>"$work/app.out" 2>&1 &
  app_pid=$!
  wait_for 30 main_found || fail "the main window did not appear"
  # The track is loaded and analysed once the library autosave has written its record.
  wait_for 30 in_database || fail "the track never reached the library"
  wait_for 5 main_found || fail "the main window went away"
  wait_for 5 windows_are 1 || fail "the program shows $(visible_windows) windows, not one"
}
# A rectangle of the main screen laid out for the window's size: x y w h inside the window.
rect() {
  local size
  size="$(geometry | cut -d' ' -f3-4)"
  # shellcheck disable=SC2086
  "$tool" layout $size | awk -v n="$1" '$1 == n {print $2, $3, $4, $5; found=1} END{exit !found}' ||
    fail "the layout has no rectangle $1"
}
# The screen point dx, dy inside a named rectangle of the window.
point_in() {  # name dx dy
  local wx wy rx ry
  read -r wx wy _ _ <<<"$(geometry)"
  read -r rx ry _ _ <<<"$(rect "$1")"
  echo "$((wx + rx + $2)) $((wy + ry + $3))"
}
shot() { screen_shot "$artifacts/$1.png" || fail "no screenshot $1"; }
# Text read from a part of a screenshot: crop x y w h, enlarged for tesseract.
ocr() {  # shot x y w h
  convert "$artifacts/$1.png" -crop "$4x$5+$2+$3" +repage -resize 300% -colorspace Gray -negate "$work/ocr.png"
  OMP_THREAD_LIMIT=1 tesseract "$work/ocr.png" - 2>/dev/null | tr -s ' \n' ' '
}
red() { convert "$artifacts/$1.png" -format "%[fx:int(255*p{$2,$3}.r)]" info:; }
# The frame is laid out for the new size: at y = 300 the right deck panel (lighter than 16 in red)
# reaches x = panel and the backdrop (darker) shows at x = margin, 8 from the right edge.
drawn_to() {  # shot panel margin
  shot "$1"
  [ "$(red "$1" "$2" 300)" -ge 16 ] && [ "$(red "$1" "$3" 300)" -lt 16 ]
}
focus_kept() {
  [ "$(xdotool getwindowfocus)" = "$win" ] || return 1
  [ "$(xprop -root _NET_ACTIVE_WINDOW | awk '{print $NF}')" = "$(printf '0x%x' "$win")" ]
}

# --- One monitor under a window manager ---
start_display -screen 0 1600x1000x24
start_private_wm "$work/openbox.log" || fail "openbox did not start"
start_app
xdotool windowactivate --sync "$win" 2>/dev/null || true
wait_for 5 focus_kept || fail "the main window does not have the keyboard to begin with"
shot start

# The deck menu: right-click on deck A's header, by its title.
at="$(point_in header.0 120 12)"
read -r hx hy <<<"$at"
xdotool mousemove "$hx" "$hy" click 3
wait_for 5 windows_are 2 || fail "a right-click on deck A's header opened no menu window"
focus_kept || fail "the menu window took the keyboard from the main window"
shot menu-open
# Deck B's empty lane shows a moving glow: two screenshots of it differ while the program draws.
at="$(point_in lane.1 0 0)"
size="$(rect lane.1 | cut -d' ' -f3-4)"
read -r lx ly lw lh <<<"$at $size"
convert "$artifacts/menu-open.png" -crop "${lw}x$lh+$lx+$ly" +repage "$work/lane-before.png"
lane_changes() {
  shot lane-b
  convert "$artifacts/lane-b.png" -crop "${lw}x$lh+$lx+$ly" +repage "$work/lane-now.png"
  compare -metric AE "$work/lane-before.png" "$work/lane-now.png" null: 2>"$work/ae" || true
  [ "$(cut -d' ' -f1 "$work/ae")" != 0 ]
}
wait_for 10 lane_changes || fail "the window stopped drawing while the menu was open"
windows_are 2 || fail "the menu closed by itself"
focus_kept || fail "the main window lost the keyboard while the menu was open"
xdotool key Escape
wait_for 5 windows_are 1 || fail "Esc did not close the menu"
[ ! -e "$data/Lists/Prepare.m3u8" ] || fail "Esc chose something"

# From no highlight Up goes to the last item: Show in folder, then Edit tags…, which opens the tag
# form on the deck's file; Esc leaves it unsaved.
read -r wx wy ww wh <<<"$(geometry)"
xdotool mousemove "$hx" "$hy" click 3
wait_for 5 windows_are 2 || fail "the menu did not open again"
xdotool key Up Up
sleep 0.3
shot menu-highlight
xdotool key Return
wait_for 5 windows_are 1 || fail "Enter did not close the menu"
form_reads() {
  shot tag-form
  form="$(ocr tag-form $((wx + ww / 2 - 300)) $((wy + wh / 2 - 260)) 600 200)"
  [[ "$form" == *"Edit tags"*"track"* ]]
}
wait_for 5 form_reads || fail "Edit tags… opened no tag form: the screen reads '$form'"
xdotool key Escape
sleep 0.3
# Up three times: Add to Prepare.
xdotool mousemove "$hx" "$hy" click 3
wait_for 5 windows_are 2 || fail "the menu did not open a third time"
xdotool key Up Up Up Return
wait_for 5 windows_are 1 || fail "Enter did not close the menu"
focus_kept || fail "the main window lost the keyboard after the menu"
prepared() { [ -f "$data/Lists/Prepare.m3u8" ] && grep -qxF "$track" "$data/Lists/Prepare.m3u8"; }
wait_for 5 prepared || fail "Up, Up, Up, Enter did not add the track to Prepare"
# The list is written before the next frame shows the pill.
pill_reads() {
  shot added
  pill="$(ocr added $((wx + ww / 2 - 200)) $((wy + 84)) 400 50)"
  [[ "$pill" == *"Added to Prepare"* ]]
}
wait_for 5 pill_reads || fail "the status pill reads '$pill', not 'Added to Prepare'"
# With a folder in the list file's place the same entry says why nothing was written.
mv "$data/Lists/Prepare.m3u8" "$work/Prepare.m3u8"
mkdir "$data/Lists/Prepare.m3u8"
xdotool mousemove "$hx" "$hy" click 3
wait_for 5 windows_are 2 || fail "the menu did not open a fourth time"
xdotool key Up Up Up Return
wait_for 5 windows_are 1 || fail "Enter did not close the menu"
refusal_reads() {
  shot refused
  pill="$(ocr refused $((wx + ww / 2 - 450)) $((wy + 84)) 900 50)"
  [[ "$pill" == *"save Prepare.m3u8: a folder stands there"* ]]
}
wait_for 5 refusal_reads || fail "with a folder for Prepare.m3u8 the status pill reads '$pill'"
rmdir "$data/Lists/Prepare.m3u8"

# A hot cue on pad 1, renamed through the pad's menu with typed and pasted text.
at="$(point_in pads.0.0 20 14)"
read -r px py <<<"$at"
xdotool mousemove "$px" "$py" click 1
sleep 0.5
xdotool click 3
wait_for 5 windows_are 2 || fail "a right-click on pad 1 opened no menu"
xdotool key Down Return  # Rename…, enabled only once the pad holds a cue
wait_for 5 windows_are 1 || fail "the pad menu did not close"
printf 'Drop é\nnot this line' | xclip -selection clipboard -quiet >/dev/null 2>&1 &
clip_pid=$!
clipboard_ready() { [ "$(xclip -selection clipboard -o 2>/dev/null | head -n 1)" = "Drop é" ]; }
wait_for 5 clipboard_ready || fail "xclip did not take the clipboard"
# Typed text stays ASCII: xdotool types other characters by remapping a key for a moment, and a
# busy program can read the key only after the map is back. Pasted text brings the é.
xdotool type --delay 80 'Kick '
xdotool key ctrl+v
rename_form_reads() {
  shot form
  form="$(ocr form $((wx + ww / 2 - 300)) $((wy + wh / 2 - 100)) 600 200)"
  [[ "$form" == *"Name hot cue 1"* ]]
}
wait_for 5 rename_form_reads || fail "no rename form: the screen reads '$form'"
xdotool key Return
sleep 0.5
shot renamed

# F11 under the window manager: its own full screen, then exactly the earlier place.
placed="$(geometry)"
xdotool key F11
wait_for 5 geometry_is "0 0 1600 1000" || fail "F11 gave $(geometry), not the whole 1600x1000 monitor"
wait_for 5 drawn_to fullscreen 1584 1596 || fail "the frame was not drawn for the whole monitor"
xdotool key F11
wait_for 5 geometry_is "$placed" || fail "F11 again gave $(geometry), not the earlier $placed"

# The orderly close saves the library: pad 1's name is the first hot-cue name (column 36).
kill -TERM "$app_pid"
wait_for 20 sh -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not end after SIGTERM"
code=0
wait "$app_pid" || code=$?
app_pid=""
[ "$code" = 0 ] || fail "the program ended with $code"
name="$(awk -F'\t' -v p="$track" '$1 == p {print $36}' "$data/database.tsv")"
[ "$name" = "Kick Drop é" ] || fail "the saved hot-cue name is '$name', not 'Kick Drop é'"
cue="$(awk -F'\t' -v p="$track" '$1 == p {print $8}' "$data/database.tsv")"
awk -v c="$cue" 'BEGIN { exit !(c >= 0) }' || fail "hot cue 1 was not saved as set: '$cue'"

# --- Two heads joined by Xinerama, no window manager ---
# Xvfb puts both heads at 0,0: a window belongs to the one holding most of it. The second head is
# narrower than the program's minimum width (1340).
start_display -screen 0 1400x1000x24 -screen 1 1300x1080x24 +xinerama
export HOME="$work/home2"  # a new library: its first autosave tells that the track is in
log="$HOME/.local/state/Veldmix/Veldmix.log"
data="$HOME/.local/share/Veldmix"
mkdir -p "$data"
printf '[Tour]\nDone=1\n' >"$data/settings.ini"  # no first-run tour over the pixels read below
start_app
placed="$(geometry)"
xdotool key F11
wait_for 5 geometry_is "0 0 1400 1000" || fail "F11 on the first head gave $(geometry)"
xdotool key F11
wait_for 5 geometry_is "$placed" || fail "back from the first head: $(geometry), not $placed"
xdotool windowsize "$win" 1340 1080 windowmove "$win" 0 0
wait_for 5 geometry_is "0 0 1340 1080" || fail "the window could not be moved onto the second head"
sleep 0.5  # the program sees its new place
xdotool key F11
wait_for 5 geometry_is "0 0 1300 1080" || fail "F11 on the second head gave $(geometry), not 0 0 1300 1080"
wait_for 5 drawn_to second-head 1288 1296 || fail "the frame was not drawn for the second head's width"
xdotool key F11
wait_for 5 geometry_is "0 0 1340 1080" || fail "back from the second head: $(geometry), not 0 0 1340 1080"

echo "main_screen_live: PASS (screenshots in $artifacts)"
