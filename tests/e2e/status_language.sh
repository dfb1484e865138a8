#!/usr/bin/env bash
# A status message holding a number, in the real window under a German first run: D sets a
# memory cue on the left deck, and the pill reads the German row with the cue's number and time
# filled in (OCR of the pill), not the English text.
# Cost: 8
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/main_window.sh"
need veldmix Xvfb xdotool xwininfo import convert tesseract sox
artifacts="$build/e2e-artifacts/status_language"
mkdir -p "$artifacts"
e2e_on_fail() { cp "$work"/burst*.png "$artifacts/" 2>/dev/null; }
private_home
# A first run: the tour opens and the UI language follows the locale.
rm -f "$settings"
export LANGUAGE=de_DE
own_sound_server unless-shared
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 -dpi 96 || fail "no virtual display could be started"

sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 20 sine 440 vol 0.3 2>/dev/null || fail "sox could not make a track"
"$app" "$work/tone.wav" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 30 window_shown || fail "the main window did not appear: $(tail -n 5 "$work/app.out")"
# Esc closes the tour, which the settings file then records; a key sent while a loaded machine
# still maps the window may be lost, so it is sent again.
tour_done() { grep -qa '^Done=1' "$settings" 2>/dev/null; }
for _ in 1 2 3; do
  press Escape
  wait_for 10 tour_done && break
done
tour_done || fail "Esc did not close the tour"
# D does nothing before the track has landed on the deck, and a second D on the same spot says
# the cue is there already: pressed once, after the log tells of the load.
wait_for 60 deck_loaded A "$work/tone.wav" || fail "the track did not load"
read -r wx wy ww _ <<<"$(geometry)"
press d
said_memory() { [[ "$text" == *Memory* ]]; }
# The pill (y 100..134 at scale 1, centred).
burst_reads 560 34 $((wx + ww / 2 - 280)) $((wy + 100)) said_memory ||
  fail "no memory cue message appeared (read: $text)"
shown=$text
echo "pill: $shown"
grep -q "gesetzt bei" <<<"$shown" || fail "the message is not the German row: $shown"
grep -qiE "cue 1 .*0:00\.0" <<<"$shown" || fail "the cue's number and time are not filled in: $shown"
! grep -q "set at" <<<"$shown" || fail "the English text shows: $shown"
screen_shot "$artifacts/window.png" || true
echo "PASS: status language"
