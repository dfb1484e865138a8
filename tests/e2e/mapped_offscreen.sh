#!/usr/bin/env bash
# A key mapped to a button the window does not show, in the real program on a short screen
# (1366x480 under a window manager): with Settings ▸ AUDIO open, the Limiter's OFF and ON buttons
# lie below the window's bottom edge (veldmix-tool layout does not place them in it). F6, mapped to
# OFF in midi.tsv, switches the limiter off and F7, mapped to ON, back on: settings.ini says so
# each time. Screenshots go to $VELDMIX_BUILD/e2e-artifacts/mapped_offscreen.
# Cost: 10
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/main_window.sh"
need veldmix veldmix-tool Xvfb xwininfo xdotool xprop openbox import
artifacts="$build/e2e-artifacts/mapped_offscreen"
rm -rf "$artifacts"
mkdir -p "$artifacts"
e2e_on_fail() { screen_shot "$artifacts/failed.png" 2>/dev/null; cp "$settings" "$artifacts/" 2>/dev/null; }
private_home
no_sound_server
data="$HOME/.local/share/Veldmix"
limiter_off=3012 limiter_on=3013
# Keyboard mapping keys: the virtual-key code with 0xF00000 (F6 is 0x75, F7 0x76).
printf '%d\t%d\n%d\t%d\n' $((0xF00075)) "$limiter_off" $((0xF00076)) "$limiter_on" >"$data/midi.tsv"

start_private_display "$work/xvfb.log" -screen 0 1366x480x24 -dpi 96 || fail "no virtual display could be started"
start_private_wm "$work/openbox.log" || fail "openbox did not start"
"$app" >>"$work/app.out" 2>&1 &
maximised_main_window --settings 0
[ -z "${at[id.$limiter_on]:-}" ] && [ -z "${at[id.$limiter_off]:-}" ] ||
  fail "the window (${ww}x$wh) shows the Limiter's buttons: nothing off screen to check"
click id.2  # ⚙ opens on AUDIO
screen_shot "$artifacts/audio-page.png"
limiter() { sed -n '/^\[Audio\]/,/^\[/ s/^Limiter=\([01]\).*/\1/p' "$settings" | head -n 1; }
press F6
wait_for 5 eval '[ "$(limiter)" = 0 ]' || fail "F6 (mapped to the Limiter's OFF) left Limiter=$(limiter)"
press F7
wait_for 5 eval '[ "$(limiter)" = 1 ]' || fail "F7 (mapped to the Limiter's ON) left Limiter=$(limiter)"
echo "mapped_offscreen: ok"
