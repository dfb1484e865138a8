#!/usr/bin/env bash
# Labels: slow
# Cost: 82
# The master output through changes around it, in the real program under a virtual display on a
# sound server of its own. A 441 Hz sine plays on deck A. The headphone stepper on the Audio
# settings page is clicked four times (through two cue sinks, the master's own device and none):
# the master is never restarted, and its sink's monitor, recorded meanwhile, holds no gap or click
# (bench/glitch_detect.py, proved first on planted gaps). Then MIC is switched on and a 660 Hz tone
# on the microphone's source is heard on the master. The sound server is stopped: the status pill
# says the master output is lost, naming the device, and the top bar that the master and the
# microphone are, until the server is back and both play again, when both clear and the tone on
# the microphone's source is heard on the master again.
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$source_dir/tests/support/main_window.sh"
need veldmix veldmix-tool Xvfb xdpyinfo xwininfo xdotool import convert tesseract sox parec paplay pactl
artifacts="$build/e2e-artifacts/output_changes"
rm -rf "$artifacts"
mkdir -p "$artifacts"
detector="$source_dir/bench/glitch_detect.py"
export OMP_THREAD_LIMIT=1

/usr/bin/python3 "$detector" prove >"$work/prove.out" || fail "the glitch detector missed a planted gap: $(cat "$work/prove.out")"
own_sound_server  # stopped and started below: never a shared one
export VELDMIX_AUDIO_DIR="$own_server"
"$server" add-sink vm_cue_one 2 48000 float32le "Cue One" || fail "no Cue One sink"
"$server" add-sink vm_cue_two 2 44100 s16le "Cue Two" || fail "no Cue Two sink"
private_home
# The music does not duck under the microphone: the sine keeps its level with MIC on.
printf '[Audio]\nMaster=veldmix_test\nPhonesMode=2\nPhones=veldmix_mic\n[Mic]\nDuck=0\n' >>"$settings"
sox -n -r 44100 -c 2 -b 16 "$work/sine.wav" synth 300 sine 441 vol 0.5 || fail "sox could not make the sine"

start_private_display "$work/xvfb.log" -screen 0 2600x1500x24 -dpi 96 || fail "no virtual display could be started"
"$app" "$work/sine.wav" >"$work/app.out" 2>&1 &
wait_for 30 eval '[ -n "$(window_id)" ]' || fail "the main window did not appear: $(tail -n 5 "$work/app.out")"
wait_for 15 log_has "Audio: master output started" || fail "the output did not start"
wait_for 30 deck_loaded A "$work/sine.wav" || fail "the sine was not loaded"
WINDOW_SIZE="2560 1440" fit_main_window  # wide enough for the top bar to write out its audio state
shot() { screen_shot "$artifacts/$1.png" || fail "no screenshot $1"; }

# The sine at its level on the master's sink: PLAY is pressed again while it is not.
sounding() {
  record_sink "$work/probe.raw" 1 || return 1
  awk -v a="$(tone_level "$work/probe.raw" 441)" 'BEGIN { exit !(a > 0.1) }' && return 0
  click play.0
  return 1
}
click play.0
wait_for 20 sounding || fail "the sine does not play on the master"

# --- The headphone device changes four times while the master plays on ---
settings_at() {  # id [nth]: the centre of a settings widget on the Audio tab as drawn now
  "$tool" layout "$ww" "$wh" --settings 0 --load-settings |
    awk -v id="id.$1" -v n="${2:-1}" -v wx="$wx" -v wy="$wy" \
      '$1 == id && ++seen == n {printf "%d %d\n", wx + $2 + $4 / 2, wy + $3 + $5 / 2; found = 1; exit} END {exit !found}'
}
settings_click() {
  local at
  at="$(settings_at "$@")" || fail "no widget $1 on the Audio tab"
  # shellcheck disable=SC2086
  xdotool mousemove $at click 1
  sleep 0.3
}
settings_click 2     # ⚙
settings_click 3000  # AUDIO
phones_device() { awk -F= '/^\[/ { s = $0 } s == "[Audio]" && $1 == "Phones" { print $2 }' "$settings"; }
starts_before=$(log_count "Audio: master output started")
# Four changes during 9 s of the master's sink. A loaded machine's own dropouts (the lock the UI
# holds, a late wake-up) click now and then however the routing is changed, while a restarted
# master clicks at every change, uncounted: one clean take of four decides.
changes_clean() {
  local seen=()
  record_sink "$work/take.raw" 9 &
  local recorder=$!
  sleep 1.5
  for _ in 1 2 3 4; do
    settings_click 63
    sleep 1.2
    seen+=("$(phones_device)")
  done
  wait "$recorder" || fail "the master's sink could not be recorded"
  result="$(/usr/bin/python3 "$detector" count "$work/take.raw" 441)"
  devices+="${seen[*]} "
  results+="$result | "
  [[ "$result" == glitches=0\ * ]] && return 0
  # A click the program counted as its own dropout is the machine's, and so are silences, beside
  # which every click lies, no more than the sound server's underruns the program counted
  # meanwhile (a stream run dry plays silence). Any other (a restarted output, a splice) fails.
  machine_spoilt "$result" ||
    fail "the master clicked while the headphone device changed ($devices): $result (underruns: $(server_underruns_seen))"
  return 1
}
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2"; }
# machine_spoilt RESULT: the log counted, since $before and $underruns_before, what the take heard.
# The program writes these lines at most every 10 s, so that long is waited for one.
machine_spoilt() {
  local silences
  silences=$(field gaps "$1")
  [ "$(field off_gaps "$1")" = 0 ] || silences=""
  wait_for 11 eval 'dropouts_rose "$before" ||
    { [ -n "$silences" ] && [ "$(server_underruns_seen)" -ge $((underruns_before + silences)) ]; }'
}
devices="" results=""
for attempt in 1 2 3 4; do
  before="$(dropouts_seen)" underruns_before="$(server_underruns_seen)"
  changes_clean && break
  # Every take spoilt by a loaded machine: the log's count of master starts below still decides.
  [ "$attempt" = 4 ] && echo "output_changes: every take had a dropout or an underrun the program counted: $results" >&2
done
echo "output_changes: the takes: $results"
shot cue-changed
[ "$(log_count "Audio: master output started")" = "$starts_before" ] ||
  fail "the master output was restarted for a headphone change: $(grep -F "master output" "$log" | tail -n 3)"
[ "$(tr ' ' '\n' <<<"$devices" | sort -u | wc -l)" -ge 3 ] || fail "the headphone stepper did not step through the devices: '$devices'"
xdotool key Escape
sleep 0.5

# --- The microphone: a tone on its source (the veldmix_mic sink's monitor) heard on the master ---
sox -n -r 48000 -c 2 -b 16 "$work/voice.wav" synth 120 sine 660 vol 0.3 || fail "sox could not make the voice tone"
voice_pid=""
speak() {  # the tone into the microphone's source, anew (the server that played it may be gone)
  [ -n "$voice_pid" ] && kill "$voice_pid" 2>/dev/null && wait "$voice_pid" 2>/dev/null
  paplay -d veldmix_mic "$work/voice.wav" &
  voice_pid=$!
}
voice_heard() {
  record_sink "$work/voice.raw" 1 || return 1
  voice=$(tone_level "$work/voice.raw" 660)
  awk -v a="$voice" 'BEGIN { exit !(a > 0.05) }'
}
click topbar.mic
wait_for 10 log_has "Audio: microphone input started" || fail "MIC did not start the microphone input"
speak
wait_for 20 voice_heard || fail "the tone on the microphone's source is not heard on the master (${voice:-})"

# --- The sound server goes away and comes back ---
pill_read() { burst_reads 1100 44 $((wx + ww / 2 - 550)) $((wy + 100)) "$@"; }
top_read() { text="$(read_text 1400 30 $((wx + ww - 1600)) $((wy + 6)))"; "$@"; }
says_lost() { [[ "${text// /}" == *"Masteroutputlost(veldmix_test)"* ]]; }
top_lost() { [[ "${text// /}" == *"MASTERLOST"* ]]; }
top_mic_lost() { [[ "${text// /}" == *"MICLOST"* ]]; }
mic_starts=$(log_count "Audio: microphone input started")
# The pill is pictured from before the stop: the program says the loss at once, while stopping the
# server can take the script seconds on a busy machine.
burst_begin 1100 44 $((wx + ww / 2 - 550)) $((wy + 100))
"$server" stop "$own_server" || fail "the sound server could not be stopped"
wait_for 15 log_has "master output stopped" || fail "the program did not notice the server stopping"
wait_for 15 log_has "microphone input stopped" || fail "the program did not notice the microphone going"
BURST_BACK=60 pill_read says_lost || fail "the status pill does not say the master is lost: $text"
shot lost
# A few readings: the red words pulse, and a dim one reads as nothing.
wait_for 5 top_read top_lost || fail "the top bar does not say the master is lost: $text"
top_mic_lost || fail "the top bar does not say the microphone is lost: $text"
eval "$(VELDMIX_AUDIO_OWNER=$$ "$server" start "$own_server")" || fail "the sound server could not be started again"
wait_for 30 eval '[ "$(log_count "Audio: master output started")" -gt "$starts_before" ]' ||
  fail "the master did not reopen once the server was back"
wait_for 30 eval '[ "$(log_count "Audio: microphone input started")" -gt "$mic_starts" ]' ||
  fail "the microphone did not reopen once the server was back"
wait_for 20 sounding || fail "the sine did not come back on the master"
speak
wait_for 20 voice_heard || fail "the tone on the microphone's source is not heard after the restart (${voice:-})"
sleep 1
shot back
pill_read says_lost && fail "the status pill still says the master is lost: $text"
top_read top_lost && fail "the top bar still says the master is lost: $text"
top_mic_lost && fail "the top bar still says the microphone is lost: $text"
echo "output_changes: PASS"
