#!/usr/bin/env bash
# The popup menu and full screen on a real X server: a right-click opens a menu window that never
# takes the keyboard from the window; arrow keys, Enter, Esc and the mouse drive it; submenus open;
# the window keeps drawing frames while the menu is open; a choice made after the deck loaded
# another track does nothing; F11 covers the window's monitor and comes back to exactly the
# earlier place; on a two-screen server the second-monitor rules hold. Driven through
# `veldmix-tool menu-check`, a real window over the program's own menu, full-screen and window code.
# Cost: 24
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix-tool Xvfb xdpyinfo xdotool xprop xmessage ffmpeg od
state="$work/state"
out="$work/out"
# What menu-check last reported and printed.
e2e_on_fail() {
  if [ -f "$state" ]; then cat "$state" >&2; fi
  if [ -f "$out" ]; then tail -n 20 "$out" >&2; fi
}
tool_pid="" wm_pid="" other_pid=""
private_home

# --- Helpers ---
start_display() {  # Xvfb screen arguments; sets DISPLAY and xvfb_pid
  stop_display
  start_private_display "$work/xvfb.log" "$@" || fail "no virtual display could be started"
}
stop_display() {
  stop_tool
  if [ -n "$wm_pid" ]; then
    kill "$wm_pid" 2>/dev/null || true
    wait "$wm_pid" 2>/dev/null || true
    wm_pid=""
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  fi
}
start_tool() {  # menu-check arguments; waits for its first frame
  stop_tool
  rm -f "$state"
  : >"$out"
  "$tool" menu-check --state "$state" "$@" >>"$out" 2>&1 &
  tool_pid=$!
  wait_for 10 value_at_least frames 5 || fail "menu-check drew no frames"
}
stop_tool() {
  if [ -n "$tool_pid" ]; then
    kill "$tool_pid" 2>/dev/null || true
    wait "$tool_pid" 2>/dev/null || true
    tool_pid=""
  fi
}
value() { sed -n "s/^$1=//p" "$state" 2>/dev/null; }
value_is() { [ "$(value "$1")" = "$2" ]; }
value_at_least() { local v; v="$(value "$1")"; [ -n "$v" ] && [ "$v" -ge "$2" ]; }
said() { grep -qxF -- "$1" "$out"; }
expect() {  # key, value, what
  wait_for 5 value_is "$1" "$2" || fail "$3: $1 is '$(value "$1")', wanted '$2'"
}
# The red, green and blue of one screen pixel.
pixel() {
  ffmpeg -loglevel error -f x11grab -video_size 1x1 -i "$DISPLAY+$1,$2" -frames:v 1 -f rawvideo -pix_fmt rgb24 - |
    od -An -tu1 | tr -s ' ' | sed 's/^ //'
}

# --- One screen: the menu ---
start_display -screen 0 1600x1000x24
start_tool --rect 300,200,1000,600
focus_before="$(xdotool getwindowfocus)"

xdotool mousemove 500 400 click 3
expect open 1 "a right-click opens a menu"
expect levels 1 "the root level"
[ "$(value level0 | cut -d' ' -f1-2)" = "502 402" ] || fail "the menu opens just below and right of the pointer"
[ "$(xdotool getwindowfocus)" = "$focus_before" ] || fail "the menu window took the keyboard focus"
frames_open="$(value frames)"
wait_for 5 value_at_least frames $((frames_open + 20)) || fail "the window stopped drawing while the menu was open"
# The menu is drawn: its background inside the window, not the window's own.
read -r r g b <<<"$(pixel 520 470)"
[ "$r" -eq 18 ] && [ "$g" -eq 21 ] && [ "$b" -eq 28 ] || fail "menu background is $r $g $b, wanted 18 21 28"
xdotool key Escape
expect open 0 "Esc closes the menu"
wait_for 3 said "dismissed" || fail "Esc chose something"

xdotool mousemove 500 400 click 3
expect open 1 "the menu opens again"
xdotool key Down Down Return
wait_for 3 said "chosen 3" || fail "Down, Down, Enter chose something else than item 3"
expect open 0 "a choice closes the menu"

# Submenus from the keyboard: Esc closes only the submenu.
xdotool key m
expect open 1 "M opens the menu: the window still has the keyboard"
xdotool key Down Down Down Right
expect levels 2 "Right opens the submenu"
[ "$(value level1 | cut -d' ' -f5)" = "0" ] || fail "the submenu's first item is not highlighted"
xdotool key Escape
expect levels 1 "Esc in a submenu closes only it"
expect open 1 "the root stays open"
xdotool key Right Down Return
wait_for 3 said "chosen 51" || fail "the submenu's second item was not chosen"

# Submenus from the mouse: hovering opens at once, the release chooses.
xdotool mousemove 500 400 click 3
expect open 1 "the menu opens for the mouse"
read -r mx my _ <<<"$(value level0)"
xdotool mousemove $((mx + 60)) $((my + 6 + 30 + 15))
expect levels 2 "hovering an item with a submenu opens it"
read -r sx sy _ <<<"$(value level1)"
xdotool mousemove $((sx + 40)) $((sy + 6 + 15))
item_lit() {
  read -r r g b <<<"$(pixel $((sx + 30)) $((sy + 6 + 15)))"
  [ "$b" -gt $((r + 20)) ]
}
wait_for 3 item_lit || fail "the hovered submenu item is not lit in the accent ($r $g $b)"
xdotool click 1
wait_for 3 said "chosen 41" || fail "a click in the submenu chose something else"

# A press outside closes without a choice and is not passed on; the keyboard stays with the window.
xdotool mousemove 500 400 click 3
expect open 1 "the menu opens before the outside press"
xdotool mousemove 1200 700 click 1
expect open 0 "a press outside closes the menu"
[ "$(grep -c '^dismissed$' "$out")" -eq 2 ] || fail "the outside press did not dismiss the menu"
xdotool mousemove 700 500 key m
expect open 1 "after the menu the window still takes keys"
xdotool key Escape
expect open 0 "Esc again"

# Near the screen's corner the menu moves inside it.
xdotool mousemove 1590 990 key m
expect open 1 "a menu in the corner"
read -r cx cy cw ch _ <<<"$(value level0)"
[ $((cx + cw)) -le 1600 ] && [ $((cy + ch)) -le 1000 ] || fail "the corner menu runs off the screen: $cx $cy $cw $ch"
xdotool key Escape

# --- One screen: full screen ---
expect window "300 200 1000 600" "the window's place"
expect second "0 0 0 1600 1000" "one monitor: its own work area and no other"
xdotool key F11
expect window "0 0 1600 1000" "F11 covers the monitor"
expect bordered 0 "full screen has no frame"
xdotool key F11
expect window "300 200 1000 600" "F11 again comes back to exactly the earlier place"
expect bordered 1 "the frame comes back"

# --- A deck loads while its menu is open: the choice acts on nothing ---
start_tool --rect 300,200,1000,600 --load-while-open
xdotool mousemove 500 400 click 3
expect open 1 "the menu for the stale choice"
xdotool key Down Down Return
wait_for 3 said "stale 3" || fail "a choice after a load was not refused"
said "chosen 3" && fail "a choice after a load still acted"

# --- Two screens joined by Xinerama ---
start_display -screen 0 1920x1080x24 -screen 1 1280x1024x24 +xinerama
start_tool --rect 460,190,1000,700
expect monitors 2 "both screens are monitors"
expect second "1 0 0 1280 1024" "a window on the first screen: the second screen's work area"
xdotool key F11
expect window "0 0 1920 1080" "full screen on the first screen"
xdotool key F11
expect window "460 190 1000 700" "back from full screen on two screens"
# A window placed on the second screen goes full screen there, and its other monitor is the first.
start_tool --rect 160,242,960,540
expect second "1 0 0 1920 1080" "a window on the second screen: the first screen's work area"
xdotool key F11
expect window "0 0 1280 1024" "full screen on the second screen"
xdotool key F11
expect window "160 242 960 540" "back on the second screen"

# --- Under a window manager ---
# The manager draws frames and keeps the windows' places; full screen is its own, and a menu closes
# when another application takes the keyboard.
if ! command -v openbox >/dev/null; then
  echo "popup_fullscreen: openbox is not installed: the checks under a window manager are skipped"
  echo "popup_fullscreen: PASS"
  exit 0
fi
start_display -screen 0 1600x1000x24
start_private_wm "$work/openbox.log" || fail "openbox did not start"

start_tool --rect 300,200,1000,600
sleep 0.5
placed="$(value window)"
xdotool key F11
expect window "0 0 1600 1000" "the manager's full screen covers the monitor"
xdotool key F11
expect window "$placed" "back from the manager's full screen to exactly the earlier place"

start_tool --rect 300,200,1000,600 --maximised
not_placed() { maximised="$(value window)" && [ "$maximised" != "$placed" ]; }
wait_for 3 not_placed || fail "the window did not maximise"
xdotool key F11
expect window "0 0 1600 1000" "full screen from maximised"
xdotool key F11
expect window "$maximised" "a maximised window comes back maximised"

main_window="$(xdotool search --onlyvisible --classname veldmix-tool | head -n 1 || true)"
[ -n "$main_window" ] || fail "the window is not found"
xdotool windowactivate --sync "$main_window"
sleep 0.4
xdotool mousemove 500 400 click 3
expect open 1 "a menu under the window manager"
[ "$(xdotool getwindowfocus)" = "$main_window" ] || fail "the menu took the focus under the window manager"
xmessage -geometry +1200+100 "another application" >/dev/null 2>&1 &
other_pid=$!
expect open 0 "another application taking the focus closes the menu"
wait_for 3 said "dismissed" || fail "the menu chose something when the focus went away"

echo "popup_fullscreen: PASS"
