#!/usr/bin/env bash
# The real program plays A, then B, then A loaded again (keys X and ".", later starts handing the
# files over): History.m3u8 reads A, B, A (each listed once it is the track announced, a few
# seconds after it plays alone) and, after the orderly close, each track's play count in the
# library is 1 (a track counts once per run however often it plays).
# Cost: 17
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix Xvfb xdpyinfo xwininfo xdotool sox
app_pid=""
own_sound_server unless-shared
private_home
data="$HOME/.local/share/Veldmix"
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"

history() { grep -v '^#' "$data/Lists/History.m3u8" 2>/dev/null; }
history_is() { [ "$(history)" = "$1" ]; }
loaded() { log_has "$1"; }

a="$work/a tone.wav" b="$work/b tone.wav"
sox -n -r 44100 -c 2 -b 16 "$a" synth 20 sine 440 vol 0.3 2>/dev/null || fail "sox could not make track A"
sox -n -r 44100 -c 2 -b 16 "$b" synth 20 sine 660 vol 0.3 2>/dev/null || fail "sox could not make track B"

"$app" "$a" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 15 window_shown || fail "the main window did not appear"
wait_for 10 log_has "Audio: master output started" || fail "the output did not start"
wait_for 30 deck_loaded A "$a" || fail "A did not load onto deck A"
press x
wait_for 5 history_is "$a" || fail "playing A did not list it: $(history)"
press x
"$app" "$b" >>"$work/app.out" 2>&1 || fail "handing B over failed"
wait_for 30 deck_loaded B "$b" || fail "B did not load onto the empty right deck"
press period
wait_for 20 history_is "$(printf '%s\n%s' "$a" "$b")" || fail "playing B did not list it: $(history)"
press period
"$app" "$a" >>"$work/app.out" 2>&1 || fail "handing A over again failed"
wait_for 30 deck_loaded A "$a" 2 || fail "A was not loaded again on the first stopped deck, the left one"
press x
wait_for 20 history_is "$(printf '%s\n%s\n%s' "$a" "$b" "$a")" || fail "playing A again did not list it: $(history)"
press x
kill -TERM "$app_pid"
wait "$app_pid"
code=$?
app_pid=""
[ "$code" = 0 ] || fail "the program ended with $code"
# Column 17 of a database line is the play count.
for track in "$a" "$b"; do
  count=$(awk -F'\t' -v p="$track" '$1 == p { print $17 }' "$data/database.tsv")
  [ "$count" = 1 ] || fail "$(basename "$track") counted $count plays, not 1"
done
echo "library_history: PASS"
