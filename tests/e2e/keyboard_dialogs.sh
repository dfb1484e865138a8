#!/usr/bin/env bash
# Keys typed into the real program under a virtual display (xdotool): X plays and pauses the
# left deck, so the session saved at the close holds where it stopped; Ctrl+L moves to the next
# layout and saves it. Then the file dialogs with no answers file: real zenity windows appear as
# children, are found by their titles, answered with a typed path or cancelled with Esc (the
# FileDialogZenity unit tests, run here on the same display).
# Cost: 17
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
PRESS_PAUSE=0.2
need veldmix veldmix_tests Xvfb xdpyinfo xwininfo xdotool zenity sox
tests="$build/veldmix_tests"
app_pid=""

# A sound server of our own unless the run shares one: the deck only moves while the output runs.
own_sound_server unless-shared
private_home

# --- A private display ---
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"

# --- 1. X plays and pauses deck A; Ctrl+L changes the layout ---
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 10 sine 440 vol 0.3 2>/dev/null || fail "sox could not make a track"
"$app" "$work/tone.wav" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 15 window_shown || fail "the main window did not appear"
wait_for 10 log_has "Audio: master output started" || fail "the output did not start"
wait_for 30 deck_loaded A "$work/tone.wav" || fail "the track did not load onto deck A"
press x
sleep 1.5
press x ctrl+l
wait_for 5 grep -qx 'Layout=1' "$settings" || fail "Ctrl+L did not save the next layout: $(grep Layout "$settings")"
kill -TERM "$app_pid"
wait "$app_pid"
code=$?
app_pid=""
[ "$code" = 0 ] || fail "the program ended with $code"
grep -qx "DeckAPath=$work/tone.wav" "$settings" || fail "deck A did not hold the track: $(grep DeckAPath "$settings")"
pos=$(sed -n 's/^DeckAPos=//p' "$settings")
awk -v p="$pos" 'BEGIN { exit !(p >= 1.0 && p <= 3.5) }' ||
  fail "after X, 1.5 s and X the deck stopped at $pos s, not about 1.5 s"

# --- 2. Real zenity dialogs, found by title, answered and cancelled ---
"$tests" --gtest_filter='FileDialogZenity.*' >"$work/zenity.out" 2>&1 || fail "zenity dialogs: $(tail -n 20 "$work/zenity.out")"
grep -q '\[  PASSED  \] 1 test' "$work/zenity.out" || fail "the zenity test did not run: $(tail -n 5 "$work/zenity.out")"
! grep -q 'SKIPPED' "$work/zenity.out" || fail "the zenity test was skipped: $(grep -A2 SKIPPED "$work/zenity.out")"
[ -z "$(xdotool search --class zenity 2>/dev/null)" ] || fail "a zenity window was left open"

echo "keyboard_dialogs: PASS"
