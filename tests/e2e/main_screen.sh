#!/usr/bin/env bash
# The main screen in the real program under a virtual display: Ctrl+L steps the layout Full ->
# Library -> Performance -> Full; each step saves the setting, redraws the panels where that
# layout puts them and shows the status pill. Screenshots are kept in $VELDMIX_BUILD/e2e-artifacts.
# Cost: 15
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix Xvfb xdpyinfo xwininfo xdotool import convert identify sox
artifacts="$build/e2e-artifacts/main_screen"
mkdir -p "$artifacts"
app_pid=""
private_home
no_sound_server

# --- A private display ---
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"

sox -n -r 44100 -c 2 "$work/tone.wav" synth 20 sine 440 2>/dev/null || fail "sox could not make a track"

window_id() { xwininfo -root -tree 2>/dev/null | grep -F '"VELDMIX 1.0.10"' | head -n 1 | awk '{print $1}'; }
window_shown() {
  local id
  id="$(window_id)"
  [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'
}
saved_layout() {  # the [Look] Layout value in settings.ini, empty when not written
  [ -f "$settings" ] || return 0
  awk -F= '/^\[/{s=$0} s=="[Look]" && $1=="Layout"{gsub(/\r/,"",$2); print $2}' "$settings"
}
layout_is() { [ "$(saved_layout)" = "$1" ]; }
# The red channel (0-255) of one pixel of a screenshot: the backdrop is darker than 16 there even
# under a deck's soft light; panels and the browser are lighter.
red() {  # file x y
  convert "$1" -format "%[fx:int(255*p{$2,$3}.r)]" info:
}
backdrop_row() {  # file y: true when x = 100, 300 and 500 all show the backdrop
  for x in 100 300 500; do [ "$(red "$1" "$x" "$2")" -lt 16 ] || return 1; done
}
panel_row() {  # file y: true when x = 100, 300 and 500 all lie on a panel
  for x in 100 300 500; do [ "$(red "$1" "$x" "$2")" -ge 16 ] || return 1; done
}
# Yellowish pixels across the status pill's middle row (y = 117), 300 either side of the centre:
# the pill's outline in the skin's Yellow and its glow. Nothing else there is yellow while only
# one deck holds a track.
pill_pixels() {  # file width
  convert "$1" -crop "600x1+$(($2 / 2 - 300))+117" txt:- |
    awk -F'[(),]' 'NR > 1 && $3 + 0 > 150 && $4 + 0 > 110 && $5 + 0 < 110 { n++ } END { print n + 0 }'
}
pill_shown() { [ "$(pill_pixels "$@")" -ge 2 ]; }
shot() {  # name: a screenshot of the window's client area
  timeout 20 import -window "$win" "$artifacts/$1.png" 2>/dev/null || fail "no screenshot $1"
}

# --- Start ---
"$app" "$work/tone.wav" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 30 window_shown || fail "the main window did not appear"
wait_for 30 deck_loaded A "$work/tone.wav" || fail "the track did not load onto deck A"
sleep 0.3  # a few frames are drawn
win="$(window_id)"
shot full
width="$(identify -format %w "$artifacts/full.png")"
height="$(identify -format %h "$artifacts/full.png")"
[ "$width" -ge 1000 ] && [ "$height" -ge 700 ] || fail "window is only ${width}x$height"
# Full: the deck panels span y = 204..576, so y = 332 lies on the left panel; no pill yet.
panel_row "$artifacts/full.png" 332 || fail "Full layout: no deck panel at y = 332"
[ "$(pill_pixels "$artifacts/full.png" "$width")" -eq 0 ] || fail "a status pill shows before any key"

# shot_with_pill NAME CHECK Y: a screenshot with a pill whose row Y passes CHECK.
shot_with_pill() { shot "$1" && pill_shown "$artifacts/$1.png" "$width" && "$2" "$artifacts/$1.png" "$3"; }
step() {  # expected layout number, screenshot name, CHECK Y that the layout before fails
  xdotool windowfocus "$win" 2>/dev/null || true
  xdotool key --window "$win" ctrl+l
  wait_for 5 layout_is "$1" || fail "after Ctrl+L the saved layout is '$(saved_layout)', not $1"
  # The new layout and its pill come with the first frame drawn after the key; on a busy machine
  # that can take a while, and the last layout's pill stays up for seconds, so look until a
  # picture shows both.
  wait_for 15 shot_with_pill "$2" "$3" "$4" ||
    fail "$2: the layout did not change with a status pill after Ctrl+L"
}

# Library: slim panels 124 high (204..328), the browser from y = 336: the gap at y = 332 is backdrop.
step 1 library backdrop_row 332
backdrop_row "$artifacts/library.png" 332 || fail "Library layout: the slim panels reach y = 332"
panel_row "$artifacts/library.png" 340 || fail "Library layout: no browser at y = 340"

# Performance: no browser; the deck panels run to 8 above the bottom.
step 2 performance panel_row 332
panel_row "$artifacts/performance.png" $((height - 20)) || fail "Performance layout: the panels stop early"
backdrop_row "$artifacts/performance.png" $((height - 3)) || fail "Performance layout: no bottom margin"

# And round to Full again.
step 0 full-again backdrop_row 580
panel_row "$artifacts/full-again.png" 332 || fail "Full layout again: no deck panel at y = 332"

kill -TERM "$app_pid"
wait "$app_pid" || true
app_pid=""
echo "main_screen: PASS (screenshots in $artifacts)"
