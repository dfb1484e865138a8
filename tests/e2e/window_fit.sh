#!/usr/bin/env bash
# The real program on a 1366x768 screen under a window manager: the window starts maximised and,
# caption and frame included, lies wholly on the screen; its minimum size leaves room for the
# frame; the deck panel's transport row (PLAY) is drawn inside it in each layout. On a screen
# with room to spare the window keeps its preferred size. Screenshots of each layout go to
# $VELDMIX_BUILD/e2e-artifacts/window_fit.
# Cost: 14
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix veldmix-tool Xvfb xwininfo xdotool xprop openbox import convert
artifacts="$build/e2e-artifacts/window_fit"
rm -rf "$artifacts"
mkdir -p "$artifacts"
app_pid="" wm_pid=""
private_home
no_sound_server

main_found() {
  local id
  id="$(xwininfo -root -tree 2>/dev/null | awk '/"VELDMIX [0-9.]*": \("veldmix"/ {print $1; exit}')"
  [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' || return 1
  win=$((id))
}
client() {  # x y w h of the client area on the screen
  xwininfo -id "$win" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
    /^ *Width:/{w=$2} /^ *Height:/{h=$2} END{print x, y, w, h}'
}
frame() {  # left right top bottom of the manager's frame
  xprop -id "$win" _NET_FRAME_EXTENTS | sed -n 's/.*= //p' | tr -d ','
}
settled() {  # the window has stopped moving and is framed
  local g
  g="$(client)"
  [ -n "$(frame)" ] && sleep 0.5 && [ "$(client)" = "$g" ]
}
start() {  # screen size; starts display, manager and program
  stop_all
  start_private_display "$work/xvfb.log" -screen 0 "$1x24" || fail "no virtual display could be started"
  start_private_wm "$work/openbox.log" || fail "openbox did not start"
  "$app" >>"$work/app.out" 2>&1 &
  app_pid=$!
  wait_for 30 main_found || fail "the main window did not appear on $1"
  wait_for 10 settled || fail "the main window did not settle on $1 ($(client))"
}

# --- A 1366x768 screen ---
start 1366x768
read -r cx cy cw ch <<<"$(client)"
read -r fl fr ft fb <<<"$(frame)"
echo "client $cx $cy ${cw}x$ch, frame $fl $fr $ft $fb"
[ "$ft" -gt 0 ] || fail "the window has no caption to check"
[ $((cy - ft)) -ge 0 ] || fail "the caption is above the screen's top ($cy - $ft)"
[ $((cy + ch + fb)) -le 768 ] || fail "the window's bottom is off the screen: $((cy + ch + fb)) > 768"
[ $((cx - fl)) -ge 0 ] && [ $((cx + cw + fr)) -le 1366 ] || fail "the window is wider than the screen"
xprop -id "$win" _NET_WM_STATE | grep -q _NET_WM_STATE_MAXIMIZED_VERT || fail "the window did not start maximised"
read -r minw minh < <(xprop -id "$win" WM_NORMAL_HINTS | sed -n 's/.*minimum size: \([0-9]*\) by \([0-9]*\).*/\1 \2/p')
[ -n "$minh" ] || fail "no minimum size"
[ $((minh + ft + fb)) -le 768 ] && [ $((minw + fl + fr)) -le 1366 ] ||
  fail "the minimum size ${minw}x$minh does not fit the screen with the frame"

# Each layout in turn (Ctrl+L): PLAY of deck A lies inside the client area and is drawn there.
xdotool windowactivate --sync "$win" 2>/dev/null || true
# PLAY's triangle is green on the button's dark face; a loaded program may draw the layout late,
# so the screen is looked at again until it is, in a picture unlike the last layout's (green: the
# pixels counted in the last look).
shown=""
play_drawn() {
  import -window root "$artifacts/$layout-1366x768.png" 2>/dev/null || return 1
  [ "$(identify -format '%#' "$artifacts/$layout-1366x768.png")" != "$shown" ] || return 1
  green="$(convert "$artifacts/$layout-1366x768.png" -crop "${pw}x$ph+$((cx + px))+$((cy + py))" +repage \
    -fx 'g > 0.6 && r < 0.4 ? 1 : 0' -format '%[fx:mean*w*h]' info:)"
  [ "${green%.*}" -gt 10 ]
}
for layout in full library performance; do
  read -r px py pw ph < <("$tool" layout "$cw" "$ch" --layout "$layout" | awk '$1 == "play.0" {print $2, $3, $4, $5}')
  [ -n "$ph" ] || fail "$layout: the layout has no PLAY"
  [ $((py + ph)) -le "$ch" ] || fail "$layout: PLAY ends at $((py + ph)), below the window's $ch"
  green=none
  wait_for 15 play_drawn || fail "$layout: PLAY is not drawn where the layout puts it ($green green pixels)"
  shown="$(identify -format '%#' "$artifacts/$layout-1366x768.png")"
  xdotool key ctrl+l
done

# --- A screen with room: the preferred size, centred, unchanged ---
start 1920x1080
read -r cx cy cw ch <<<"$(client)"
[ "$cw" -eq 1500 ] && [ "$ch" -eq 980 ] || fail "on 1920x1080 the window is ${cw}x$ch, not 1500x980"
xprop -id "$win" _NET_WM_STATE | grep -q _NET_WM_STATE_MAXIMIZED_VERT && fail "a roomy screen maximised the window"
stop_all
echo "window_fit: ok"
