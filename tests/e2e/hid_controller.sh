#!/usr/bin/env bash
# Labels: slow
# Cost: 25
# A USB HID DJ controller faked by umockdev (sysfs ids and strings, the report descriptor, a FIFO as
# its /dev/hidraw node) against the real program under a virtual display: the device added after
# the start is announced; with HID rows in midi.tsv its button bit plays deck A (heard on the sound
# server) and its 12-bit fader sets the level; removing it mid-stream crashes nothing.
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix Xvfb xdotool sox parec pactl umockdev-wrapper
/usr/bin/python3 -c 'import gi; gi.require_version("UMockdev", "1.0")' 2>/dev/null ||
  fail "gir1.2-umockdev-1.0 (with python3-gi) is not installed"
peer_pid=""

own_sound_server  # its own: a shared sink would mix in the level of other scripts
private_home
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"

# Report id 1: byte 1 bit 0 is PLAY (widget 1008), bytes 2-3 the volume fader (1018), byte 4 the jog.
midi_tsv="$HOME/.local/share/Veldmix/midi.tsv"
mkdir -p "$(dirname "$midi_tsv")"
printf '%d\t1008\n%d\t1018\n%d\t1002\n' 0x1F20010 0x1F20029 0x1F20048 >"$midi_tsv"
sox -n -r 44100 -c 2 -b 16 "$work/track.wav" synth 60 sine 220 vol 0.2 || fail "sox"

start_peer 3 peer umockdev-wrapper /usr/bin/python3 "$source_dir/tests/support/hid_peer.py" "$app" "$work/track.wav"
peer_pid=$peer_started
answers=0
peer() {
  echo "$*" >&3
  answers=$((answers + 1))
  wait_for 10 sh -c "[ \$(grep -c '^\(ok\|error\)' '$work/peer.out') -ge $answers ]" || fail "the peer did not answer '$*'"
  ! tail -n 1 "$work/peer.out" | grep -q '^error' || fail "peer: $(tail -n 1 "$work/peer.out")"
}
window_shown() { [ -n "$(xdotool search --class '^veldmix$' 2>/dev/null | head -n 1)" ]; }
wait_for 20 window_shown || fail "the main window did not appear: $(cat "$work/peer.err")"
wait_for 10 log_has "Audio: master output started" || fail "the output did not start"
wait_for 30 deck_loaded A "$work/track.wav" || fail "the track did not load onto deck A"

peer add
wait_for 10 log_has "HID controller connected: Kontrol Probe" || fail "the added device was not announced"


record_sink "$work/before.raw" 1.2
peer send 01 00 00 00 10  # the reference report: it drives nothing
peer send 01 01 FF 0F 10  # PLAY, the fader to the top
peer send 01 00 FF 0F 10
sleep 0.5
record_sink "$work/full.raw" 1.2
peer send 01 00 00 08 10  # the fader at 2048 / 4095
sleep 0.5
record_sink "$work/half.raw" 1.2
quiet=$(tone_level "$work/before.raw") full=$(tone_level "$work/full.raw") half=$(tone_level "$work/half.raw")
echo "levels: before $quiet, full $full, half fader $half"
awk -v q="$quiet" -v f="$full" 'BEGIN { exit !(f > 0.02 && q < f / 20) }' || fail "the HID button did not start deck A"
# The channel gain is the fader squared: 0.50012^2 = 0.2501 of the full level.
awk -v f="$full" -v h="$half" 'BEGIN { r = h / f; exit !(r > 0.22 && r < 0.28) }' ||
  fail "the 12-bit fader gave $(awk -v f="$full" -v h="$half" 'BEGIN { print h / f }') of the level, not 0.25"

# Removal while reports still flow: the rescan stops the reader; the program carries on.
for v in 11 12 13; do peer send 01 00 00 08 $v; done
peer remove
for v in 14 15; do echo "send 01 00 00 08 $v" >&3; done
wait_for 10 log_has "Controller disconnected: Kontrol Probe" || fail "the removal was not noticed"
kill -0 "$(pgrep -P "$peer_pid" -f "$app" | head -n 1)" 2>/dev/null || fail "the program ended after the removal"
echo quit >&3
wait_for 20 grep -q '^exit 0' "$work/peer.out" || fail "the program did not end cleanly: $(tail -n 3 "$work/peer.out")"
echo "hid_controller: PASS"
