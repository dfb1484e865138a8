#!/usr/bin/env bash
# Labels: slow
# Cost: 42
# A macro mapped to a controller button from the panel, in the real program under a virtual
# display, over a private JACK server with a python3-rtmidi controller ("MyPads", no ready-made
# layout), clicked where `veldmix-tool layout` says. The panel's own hint first: MACROS, MIDI (above
# the open panel), macro 4 ("deck a & play"), note 36 from the controller writes its row to
# midi.tsv; MIDI and DONE end it, and note 36 then starts deck A, heard on the sound server. Then
# the other way round: MIDI first, MACROS still opens the panel, macro 5 ("deck a & pause") takes
# note 38, which then stops deck A.
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$source_dir/tests/support/private_jack.sh"
source "$source_dir/tests/support/main_window.sh"
need veldmix veldmix-tool Xvfb xwininfo xdotool import sox parec pactl jackd jack_lsp flock
/usr/bin/python3 -c 'import rtmidi, numpy' 2>/dev/null || fail "python3-rtmidi or numpy is not installed"
artifacts="$build/e2e-artifacts/macros_learn"
rm -rf "$artifacts"
mkdir -p "$artifacts"
app_pid="" peer_pid=""

own_sound_server  # measures the sink: other scripts must not play into it
private_home
start_private_display "$work/xvfb.log" -screen 0 1920x1080x24 || fail "no virtual display could be started"
e2e_on_fail() {
  timeout 20 import -window root "$artifacts/failed.png" 2>/dev/null
  [ -n "$app_pid" ] && kill -TERM "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  [ -n "$peer_pid" ] && kill "$peer_pid" 2>/dev/null && wait "$peer_pid" 2>/dev/null
  stop_jack
}
start_private_jack "$work/jackd.log" || fail "jackd did not start: $(tail -n 5 "$work/jackd.log" | tr "\n" " ")"

printf '[Macros]\nName3=START A\nScript3=deck a & play\nName4=STOP A\nScript4=deck a & pause\n' >>"$settings"  # slots 4 and 5
sox -n -r 44100 -c 2 -b 16 "$work/track.wav" synth 60 sine 220 vol 0.2 || fail "sox"

"$app" "$work/track.wav" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 20 log_has "Audio: master output started" || fail "the output did not start"
wait_for 30 deck_loaded A "$work/track.wav" || fail "the track did not load onto deck A"

start_midi_peer 3 peer MyPads
peer_pid=$peer_started
wait_for 30 log_has "MIDI connected: MyPads" || fail "no 'MIDI connected' line"
fit_main_window

midi_tsv="$HOME/.local/share/Veldmix/midi.tsv"
row() { grep -sqP "^$1\t$2\$" "$midi_tsv"; }  # key (decimal) and the widget learned

# --- The hint's sequence: open this panel, click MIDI, click a macro ---
click macros
click topbar.midi
click macros.run.3
timeout 20 import -window root "$artifacts/learning.png" 2>/dev/null
peer send 90 24 7f
peer send 90 24 00
wait_for 5 row 9437220 3603 || fail "note 36 was not learned for macro 4: $(cat "$midi_tsv" 2>/dev/null)"
click topbar.midi
click macros.done

record_sink "$work/before.raw" 1.2
peer send 90 24 7f
peer send 90 24 00
sleep 0.6
record_sink "$work/started.raw" 1.2
before=$(tone_level "$work/before.raw") started=$(tone_level "$work/started.raw")
echo "tone amplitude: before note 36 $before, after it $started"
awk -v b="$before" -v s="$started" 'BEGIN { exit !(s > 0.02 && b < s / 10) }' ||
  fail "note 36 did not run macro 4 (deck A's tone $before before, $started after)"

# --- MIDI learn first: MACROS still opens the panel, and macro 5 is learned ---
click topbar.midi
click macros
click macros.run.4
peer send 90 26 7f
peer send 90 26 00
wait_for 5 row 9437222 3604 || fail "with MIDI learn on first, note 38 was not learned for macro 5: $(cat "$midi_tsv")"
click topbar.midi
click macros.done
peer send 90 26 7f
peer send 90 26 00
sleep 0.6
record_sink "$work/stopped.raw" 1.2
stopped=$(tone_level "$work/stopped.raw")
echo "tone amplitude after note 38: $stopped"
awk -v s="$started" -v t="$stopped" 'BEGIN { exit !(t < s / 10) }' || fail "note 38 did not run macro 5 (tone $stopped)"
timeout 20 import -window root "$artifacts/done.png" 2>/dev/null

kill -TERM "$app_pid"
wait "$app_pid"
app_pid=""
kill "$peer_pid" 2>/dev/null
wait "$peer_pid" 2>/dev/null
peer_pid=""
stop_jack
echo "macros_learn: PASS"
