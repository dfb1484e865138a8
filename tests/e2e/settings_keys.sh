#!/usr/bin/env bash
# The settings screen in the real program on a short screen (1366x480 under a window manager),
# driven by keys (xdotool): the Look page is taller than its panel, so its last rows (Language,
# the skin's help line) start below the view; Down scrolls the page one row (the pixels move up
# 40 px), End and PageDown bring the last rows into view (read by tesseract), Home and PageUp
# give back the first view's pixels; Esc still closes the screen. Screenshots go to
# $VELDMIX_BUILD/e2e-artifacts.
# Cost: 30
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/main_window.sh"
need veldmix veldmix-tool Xvfb xdpyinfo xwininfo xdotool xprop openbox import convert compare tesseract
artifacts="$build/e2e-artifacts/settings_keys"
rm -rf "$artifacts"
mkdir -p "$artifacts"
private_home
no_sound_server

press() {  # one key to the main window
  local win
  win="$(window_id)"
  xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
  xdotool key --clearmodifiers "$1"
}
# The page's view inside the window: from the header's divider to just above the panel's foot,
# right of the sidebar (the panel is at most 1240 x 800, centred, never above y 12).
view_box() {
  local pw ph px py
  pw=$((ww - 40 < 1240 ? ww - 40 : 1240)) ph=$((wh - 24 < 800 ? wh - 24 : 800))
  px=$(((ww - pw) / 2)) py=$((wh / 2 - ph / 2))
  [ "$py" -ge 12 ] || py=12
  vx=$((wx + px + 214)) vy=$((wy + py + 88)) vw=$((pw - 214)) vh=$((ph - 8 - 88))
  # The left column's cards, clear of the position bar at the view's right edge.
  colx=$((vx + 16)) colw=$(((vw - 64 - 44) / 2 + 32))
}
shot() { screen_shot "$artifacts/$1.png" || fail "no screenshot $1"; }
# The page's left column between top and top + h (screen y), as its own image.
column() {  # shot name top height out
  convert "$artifacts/$1.png" -crop "${colw}x$3+$colx+$2" +repage "$4"
}
# Pixels that differ by more than 5 % between two images of the same size (the glows, drawn
# coarser than the page, shade a few pixels differently after a scroll).
differ() { { compare -fuzz 5% -metric AE "$1" "$2" null: 2>&1 || true; } | cut -d' ' -f1; }
# What tesseract reads in the view (both columns, enlarged, light on dark).
view_text() {  # shot name
  convert "$artifacts/$1.png" -crop "${vw}x$vh+$vx+$vy" +repage -resize 200% -colorspace Gray -negate "$work/ocr.png"
  OMP_THREAD_LIMIT=1 tesseract "$work/ocr.png" - -l eng --psm 11 2>/dev/null | tr '\n' ' '
}
# The screen after a key shows the page moved: the view's pixels differ from the shot before.
moved_from() {  # earlier shot, new shot name
  shot "$2"
  convert "$artifacts/$1.png" -crop "${vw}x$vh+$vx+$vy" +repage "$work/a.png"
  convert "$artifacts/$2.png" -crop "${vw}x$vh+$vx+$vy" +repage "$work/b.png"
  [ "$(differ "$work/a.png" "$work/b.png")" != 0 ]
}
last_rows_read() {  # shot name: the left column's last row and the right column's last line
  local text
  text="$(view_text "$1")"
  [[ "$text" == *Language* && "$text" == *"Share them as"* ]]
}

start_private_display "$work/xvfb.log" -screen 0 1366x480x24 -dpi 96 || fail "no virtual display could be started"
start_private_wm "$work/openbox.log" || fail "openbox did not start"
"$app" >>"$work/app.out" 2>&1 &
wait_for 30 sh -c "xwininfo -root -tree | grep -qF '\"VELDMIX 1.0.10\"'" || fail "the main window did not appear"
settled() {  # the window manager has placed (maximised) the window
  local g
  g="$(geometry)"
  sleep 0.5
  [ "$(geometry)" = "$g" ] && [ "${g##* }" -gt 0 ]
}
wait_for 20 settled || fail "the main window did not settle ($(geometry))"
xdotool windowactivate --sync "$(window_id)" 2>/dev/null || true
read -r wx wy ww wh <<<"$(geometry)"
echo "window ${ww}x$wh"
[ "$wh" -gt 0 ] && [ "$wh" -le 480 ] || fail "the window is ${wh} px tall, not the short screen's"
while read -r name x y w h; do at[$name]="$x $y $w $h"; done < <("$tool" layout "$ww" "$wh" --settings 5)
view_box

# --- ⚙ and the Look tab; the pointer rests on the sidebar, away from the page ---
click id.2
click id.3005
xdotool mousemove $((vx - 150)) $((vy + vh - 20))
sleep 0.5
shot top
text="$(view_text top)"
[[ "$text" == *Theme* ]] || fail "the Look page's first row is not shown: $text"
! last_rows_read top || fail "the page fits the short window: nothing to scroll"

# --- Down: one row (40 px) up, the rest of the page the same pixels ---
press Down
wait_for 5 moved_from top down || fail "Down did not scroll the page"
column top $((vy + 40)) $((vh - 40)) "$artifacts/top-rest.png"
column down "$vy" $((vh - 40)) "$artifacts/down-head.png"
d="$(differ "$artifacts/top-rest.png" "$artifacts/down-head.png")"
[ "$d" -le 20 ] || fail "after Down the page is not the first view moved up a row: $d pixels differ"

# --- End and PageDown (the page is less than a view longer than its panel) show the last rows;
# Home and PageUp give back the first view ---
column top "$vy" "$vh" "$work/top-view.png"
to_end_and_back() {  # key to the end, key back, the shot before
  press "$1"
  wait_for 5 moved_from "$3" "$1" || fail "$1 did not scroll the page"
  last_rows_read "$1" || fail "after $1 the last rows are not read: $(view_text "$1")"
  press "$2"
  wait_for 5 moved_from "$1" "$2" || fail "$2 did not scroll the page"
  column "$2" "$vy" "$vh" "$work/$2-view.png"
  d="$(differ "$work/top-view.png" "$work/$2-view.png")"
  [ "$d" -le 20 ] || fail "$2 did not give back the first view: $d pixels differ"
}
to_end_and_back End Home down
to_end_and_back Next Prior Home

# --- Esc still closes the screen ---
press Escape
sleep 0.5
shot closed
text="$(view_text closed)"
[[ "$text" != *Theme* ]] || fail "Esc did not close the settings screen"
echo "settings_keys: PASS"
