#!/usr/bin/env bash
# Labels: slow
# Cost: 39
# The first-run tour in the real program under a virtual display: a fresh data folder opens it on
# its welcome card (OCR reads it), Right moves on, Esc closes it and stores [Tour] Done=1 at once
# (Python's configparser reads it); the next start shows no tour; a settings file without
# [Tour] Done (one from before the tour) shows it again, and a test run never does.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
PRESS_PAUSE=0.4
need veldmix Xvfb xdpyinfo xwininfo xdotool import convert tesseract sox
artifacts="$build/e2e-artifacts/tour_start"
rm -rf "$artifacts"
mkdir -p "$artifacts"
app_pid=""
private_home
no_sound_server
rm -f "$settings"  # a first run
start_private_display "$work/xvfb.log" -screen 0 1500x980x24 || fail "no virtual display could be started"
sox -n -r 44100 -c 2 -b 16 "$work/track.wav" synth 12 sine 440 vol 0.3 2>/dev/null || fail "sox could not make a track"

window_id() { xdotool search --onlyvisible --class '^veldmix$' 2>/dev/null | head -n 1; }
# OCR of the screen, or of a part of it (WxH+X+Y) grown 2x.
read_screen() {  # name [region]
  screen_shot "$artifacts/$1.png" || fail "no screenshot $1"
  local image="$artifacts/$1.png"
  if [ -n "${2:-}" ]; then
    convert "$image" -crop "$2" +repage -resize 200% "$work/$1-part.png"
    image="$work/$1-part.png"
  fi
  # A loaded machine reads a whole screen slowly; a reading that never ends still fails, and says so.
  OMP_THREAD_LIMIT=1 timeout 180 tesseract "$image" - --psm 11 2>/dev/null || fail "no reading of the screen $1"
}
tour_done() {
  /usr/bin/python3 - "$settings" <<'PY'
import configparser, sys
c = configparser.ConfigParser(strict=False, interpolation=None)
c.optionxform = str
c.read(sys.argv[1], encoding="utf-8")
sys.exit(0 if c.get("Tour", "Done", fallback="") == "1" else 1)
PY
}
welcome_shown() { text=$(read_screen "$1") && grep -q "Welcome to Veldmix" <<<"$text"; }
stop_app() {
  kill -TERM "$app_pid"
  wait "$app_pid" || fail "the program ended with $?"
  app_pid=""
}

# --- A first run shows the welcome card; Right moves on; Esc closes and stores it at once ---
"$app" >>"$work/app.out" 2>&1 &
app_pid=$!
wait_for 30 window_shown || fail "the main window did not appear"
wait_for 10 welcome_shown first || fail "no welcome card on a first run: $text"
press Right
text=$(read_screen step1 760x300+0+360)  # the card beside the folder column
grep -q "Your music" <<<"$text" || fail "Right did not show the second card: $text"
! tour_done || fail "[Tour] Done was stored before the tour closed"
press Escape
wait_for 5 tour_done || fail "Esc did not store [Tour] Done=1: $(cat "$settings" 2>/dev/null)"
text=$(read_screen closed)
! grep -q "Your music" <<<"$text" || fail "the tour still shows after Esc"
stop_app

# --- The next start shows none ---
"$app" >>"$work/app.out" 2>&1 &
app_pid=$!
wait_for 30 window_shown || fail "the main window did not appear again"
sleep 2  # nothing to wait for: the card must not come
text=$(read_screen second)
! grep -qE "Welcome to Veldmix|TAKE THE TOUR" <<<"$text" || fail "the tour opened again after it was done"
stop_app

# --- A settings file from before the tour (no [Tour] Done) opens it too ---
printf '[Audio]\nBufferMs=20\n[Look]\nLanguage=0\n' >"$settings"
"$app" >>"$work/app.out" 2>&1 &
app_pid=$!
wait_for 30 window_shown || fail "the main window did not appear with an older settings file"
wait_for 10 welcome_shown older || fail "no welcome card with a settings file that has no [Tour] Done: $text"
stop_app

# --- A test run never shows it, even with no settings ---
rm -f "$settings"
"$app" --selftest "$work/mix.wav" "$work/track.wav" >>"$work/app.out" 2>&1 &
app_pid=$!
wait_for 30 window_shown || fail "the test run's window did not appear"
sleep 2  # nothing to wait for: the card must not come
text=$(read_screen testrun)
! grep -qE "Welcome to Veldmix|TAKE THE TOUR" <<<"$text" || fail "the tour opened in test mode"
wait "$app_pid" || true
app_pid=""
[ ! -f "$settings" ] || ! tour_done || fail "a test run stored [Tour] Done"

echo "tour_start: PASS"
