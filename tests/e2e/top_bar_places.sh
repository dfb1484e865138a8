#!/usr/bin/env bash
# The top bar in the real window, maximised on a 1280x800 and a 1366x768 screen: the master
# effect's amount knob shows whole (left of the load meter, its arc drawn, no status dot on it);
# clicking AUTOMIX's spot three times switches Automix on, off and on again (SKIP shows in
# the place kept for it, goes and comes back) and never reaches KARAOKE, which looks as it did. On
# a 1920x1080 screen the output status is read, not only its dot ("NO AUDIO OUTPUT" without a
# sound server, the rate and latency with one). Screenshots go to $VELDMIX_BUILD/e2e-artifacts/top_bar_places.
# Cost: 39
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/main_window.sh"
need veldmix veldmix-tool Xvfb xwininfo xdotool xprop openbox import convert compare tesseract sox
artifacts="$build/e2e-artifacts/top_bar_places"
rm -rf "$artifacts"
mkdir -p "$artifacts"
e2e_on_fail() { screen_shot "$artifacts/failed.png" 2>/dev/null; cp "$work/app.out" "$artifacts/" 2>/dev/null; }
private_home
no_sound_server
data="$HOME/.local/share/Veldmix"
mkdir -p "$data/Lists"
sox -n -r 44100 -c 2 "$work/a.wav" synth 30 sine 440 vol 0.3
sox -n -r 44100 -c 2 "$work/b.wav" synth 30 sine 550 vol 0.3
printf '#EXTM3U\n%s\n%s\n' "$work/a.wav" "$work/b.wav" >"$data/Lists/Automix.m3u8"
start() {  # start SCREEN: display, window manager and program
  stop_all
  start_private_display "$work/xvfb.log" -screen 0 "$1x24" -dpi 96 || fail "no virtual display could be started"
  start_private_wm "$work/openbox.log" || fail "openbox did not start"
  "$app" >>"$work/app.out" 2>&1 &
  app_pid=$!
}
# crop FILE NAME PNG: the named rectangle of a screenshot.
crop() {
  local x y w h
  read -r x y w h <<<"${at[$2]:?no rectangle $2}"
  convert "$1" -crop "${w}x$h+$((wx + x))+$((wy + y))" +repage "$3"
}
# count PNG FX: how many pixels the expression holds for.
count() { convert "$1" -fx "$2 ? 1 : 0" -format '%[fx:round(mean*w*h)]' info:; }
purple='(r > 0.5 && b > 0.7 && g < 0.65)'
green='(g > 0.7 && r < 0.45)'
red='(r > 0.8 && g < 0.4 && b < 0.5)'

for screen in 1280x800 1366x768; do
  start "$screen"
  maximised_main_window
  shots="$artifacts/$screen"
  mkdir -p "$shots"
  [ "$ww" -le "${screen%x*}" ] || fail "$screen: the window is $ww wide"
  # The knob: purple on both halves of its box.
  read -r kx ky kw kh <<<"${at[topbar.masterfx.amount]:?no amount knob}"
  read -r mx _ _ _ <<<"${at[topbar.load]:?no load meter}"
  [ $((kx + kw)) -le "$mx" ] || fail "$screen: the amount knob ($kx+$kw) reaches under the load meter at $mx"
  screen_shot "$shots/0-off.png"
  crop "$shots/0-off.png" topbar.masterfx.amount "$work/knob.png"
  [ "$(count "$work/knob.png" "$purple")" -gt 10 ] || fail "$screen: the knob's arc is not drawn"
  [ "$(count "$work/knob.png" "$red")" -lt 3 ] || fail "$screen: the output status's dot lies on the knob"

  # SKIP's place: between REC and AUTOMIX.
  read -r ax ay aw ah <<<"${at[topbar.automix]:?no AUTOMIX}"
  read -r rx _ _ _ <<<"${at[topbar.rec]:?no REC}"
  at[skip]="$((ax + aw + 6)) $ay $((rx - 6 - ax - aw - 6)) $ah"
  crop "$shots/0-off.png" skip "$work/skip-off.png"
  crop "$shots/0-off.png" topbar.karaoke "$work/karaoke-off.png"
  [ "$(count "$work/skip-off.png" "$green")" -lt 5 ] || fail "$screen: SKIP shows while Automix is off"
  expect=(on off on)
  # skip_shows PNG on|off: SKIP's place in a new screenshot is as expected (a loaded program may
  # draw the click's effect late, so the caller looks again until it is).
  skip_shows() {
    screen_shot "$1" || return 1
    crop "$1" skip "$work/skip.png"
    seen="$(count "$work/skip.png" "$green")"
    if [ "$2" = on ]; then [ "$seen" -gt 20 ]; else [ "$seen" -lt 5 ]; fi
  }
  for i in 1 2 3; do
    click topbar.automix
    if [ "${expect[$((i - 1))]}" = on ]; then
      wait_for 10 skip_shows "$shots/$i-on.png" on || fail "$screen: click $i on AUTOMIX's spot did not turn Automix on (no SKIP)"
    else
      wait_for 10 skip_shows "$shots/$i-off.png" off ||
        fail "$screen: click $i on AUTOMIX's spot did not turn Automix off (SKIP still shows)"
    fi
    crop "$shots/$i-${expect[$((i - 1))]}.png" topbar.karaoke "$work/karaoke.png"
    changed="$(compare -metric AE -fuzz 12% "$work/karaoke.png" "$work/karaoke-off.png" null: 2>&1 || true)"
    [ "${changed%% *}" -lt 40 ] || fail "$screen: click $i changed KARAOKE ($changed pixels)"
  done
done

# A roomy screen: the output status says what it is.
start 1920x1080
fit_main_window
screen_shot "$artifacts/1900x1060.png"
read -r lx _ _ _ <<<"${at[topbar.load]}"
text="$(read_text 360 40 $((wx + lx - 366)) "$wy")"
[[ "$text" == *"NO AUDIO OUTPUT"* || "$text" =~ [0-9]+\.[0-9]\ kHz ]] || fail "the output status beside the load meter reads \"$text\""
stop_all
echo "top_bar_places: ok"
