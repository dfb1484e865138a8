#!/usr/bin/env bash
# Labels: slow
# Cost: 109
# The Audio and Mixing settings pages of the real program under a virtual display, on a sound
# server of its own whose default sink is the 4-channel veldmix_quad, clicked where
# `veldmix-tool layout --settings` says each widget is drawn (the map is made again after every
# change: rows come and go). A 440 Hz track plays on deck A. The output and input steppers step
# through what pactl lists, in its order, writing each endpoint id and showing its description;
# headphones on the default device take the pair the master leaves, and stay off it when the
# master's pair changes; CH 3-4 moves the tone to channels 3-4 of the sink (parec on its monitor);
# EXCLUSIVE on a card without hardware of its own says the card wouldn't take more; OPEN FOLDER
# hands the recordings folder to xdg-open. Mixing: Colour FX and the deck count write their keys;
# the turntables read a 1 kHz carrier played into the microphone sink as "Deck A: 100%".
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix veldmix-tool Xvfb xdpyinfo xwininfo xdotool import convert tesseract sox paplay parec pactl
artifacts="$build/e2e-artifacts/audio_mixing_pages"
rm -rf "$artifacts"
mkdir -p "$artifacts"
app_pid=""

own_sound_server  # its default sink is changed below: never a shared one
export VELDMIX_AUDIO_DIR="$own_server"
pactl set-default-sink veldmix_quad || fail "veldmix_quad could not be made the default sink"
"$server" add-sink vm_desk 2 48000 float32le "Desk Speakers" || fail "the Desk Speakers sink could not be added"
private_home

# xdg-open records what it is asked to open.
mkdir -p "$work/bin"
printf '#!/bin/sh\nprintf "%%s\\n" "$@" >>"%s"\n' "$work/xdg-open.log" >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH"

sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 120 sine 440 vol 0.5 || fail "sox could not make the track"
# Timecode: the second channel a quarter cycle ahead of the first, as a record plays forwards.
sox -n -r 48000 -c 2 -b 16 "$work/carrier.wav" synth 30 sine 1000 0 0 sine 1000 0 25 vol 0.5 ||
  fail "sox could not make the carrier"

start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 -dpi 96 || fail "no virtual display could be started"
window_id() { timeout 5 xwininfo -root -tree 2>/dev/null | grep -E '"VELDMIX [0-9.]+"' | head -n 1 | awk '{print $1}'; }
geometry() {  # x y w h of the main window's client area
  local id
  id="$(window_id)"
  [ -n "$id" ] || { echo "0 0 0 0"; return; }
  timeout 5 xwininfo -id "$id" 2>/dev/null | awk -F: '/Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2}
    /Width/ {w=$2} /Height/ {h=$2} END {print x+0, y+0, w+0, h+0}'
}
placed() {
  local g
  g="$(geometry)"
  read -r _ _ ww wh <<<"$g"
  [ "$ww" -ge 1340 ] && [ "$wh" -ge 840 ] && sleep 0.3 && [ "$(geometry)" = "$g" ]
}
"$app" "$work/tone.wav" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 30 eval '[ -n "$(window_id)" ]' || fail "the main window did not appear: $(tail -n 5 "$work/app.out")"
wait_for 15 log_has "Audio: master output started" || fail "the output did not start"
wait_for 15 placed || fail "the window never settled at its size ($(geometry))"
read -r wx wy ww wh <<<"$(geometry)"

# The centre of widget id (nth match) on the settings tab as drawn now, or of a main-screen rect.
at_widget() {  # id tab [nth]
  "$tool" layout "$ww" "$wh" --settings "$2" --load-settings |
    awk -v id="id.$1" -v n="${3:-1}" -v wx="$wx" -v wy="$wy" \
      '$1 == id && ++seen == n {printf "%d %d\n", wx + $2 + $4 / 2, wy + $3 + $5 / 2; found = 1; exit} END {exit !found}'
}
rect_of() {  # id tab [nth]: x y w h inside the window
  "$tool" layout "$ww" "$wh" --settings "$2" --load-settings | awk -v id="id.$1" -v n="${3:-1}" \
    '$1 == id && ++seen == n {print $2, $3, $4, $5; found = 1; exit} END {exit !found}'
}
click() {  # id tab [nth]
  local at
  at="$(at_widget "$@")" || fail "no widget $1 on tab $2"
  # shellcheck disable=SC2086
  xdotool mousemove $at click 1
  sleep 0.25
}
ini() {  # section key: the value in settings.ini ("" when empty or absent)
  [ -f "$settings" ] || return 0
  awk -v s="[$1]" -v k="$2" '{ sub(/\r$/, "") } /^\[/ { in_s = ($0 == s) } in_s && index($0, k "=") == 1 { print substr($0, length(k) + 2); exit }' "$settings"
}
ini_is() { [ "$(ini "$1" "$2")" = "$3" ]; }
expect_ini() {  # section key value what
  wait_for 5 ini_is "$1" "$2" "$3" || fail "$4: [$1] $2 is '$(ini "$1" "$2")', not '$3'"
}
shot() { screen_shot "$artifacts/$1.png" || fail "no screenshot $1"; }
ocr() {  # name x y w h: the text in that part of the window, enlarged and inverted
  shot "$1"
  convert "$artifacts/$1.png" -crop "${4}x$5+$((wx + $2))+$((wy + $3))" +repage -resize 300% -colorspace Gray -negate \
    "$work/ocr.png"
  OMP_THREAD_LIMIT=1 tesseract "$work/ocr.png" - --psm 6 2>/dev/null | tr '\n' ' '
}
# retry N COMMAND...: up to N tries half a second apart (an OCR try itself takes a while).
retry() {
  local n=$1
  shift
  for _ in $(seq "$n"); do
    "$@" && return 0
    sleep 0.5
  done
  return 1
}
# RMS of each of the four channels of 1.5 s of the quad sink's monitor, in the sink's channel map.
quad_levels() {
  record_sink "$work/quad.raw" 1.5 veldmix_quad.monitor 4 44100
  /usr/bin/python3 - "$work/quad.raw" <<'EOF'
import array, math, sys
data = open(sys.argv[1], 'rb').read()
x = array.array('f')
x.frombytes(data[: len(data) // 16 * 16])
x = x[4 * 44100 // 5:]  # past the recorder's start
print(" ".join(f"{math.sqrt(sum(v * v for v in x[c::4]) / max(1, len(x) // 4)):.4f}" for c in range(4)))
EOF
}
loud() { awk -v a="$1" 'BEGIN { exit !(a > 0.05) }'; }
silent() { awk -v a="$1" 'BEGIN { exit !(a < 0.005) }'; }

# --- Deck A plays on the default device (the quad card), on its first pair ---
read -r px py pw ph < <("$tool" layout "$ww" "$wh" --scale 1 | awk '$1 == "play.0" {print $2, $3, $4, $5}')
[ -n "${pw:-}" ] || fail "no play button in the layout"
press_play() { xdotool mousemove $((wx + px + pw / 2)) $((wy + py + ph / 2)) click 1; }
press_play
on_pairs() {  # first second: loud on channels 2p+1, 2p+2, silent on the other pair
  read -r c1 c2 c3 c4 <<<"$(quad_levels)"
  if [ "$1" = 0 ]; then loud "$c1" && loud "$c2" && silent "$c3" && silent "$c4"
  else loud "$c3" && loud "$c4" && silent "$c1" && silent "$c2"; fi
}
# A PLAY pressed before a loaded machine put the track on the deck did nothing: while the card is
# silent on every channel it is pressed again.
playing_on_first_pair() {
  on_pairs 0 && return 0
  silent "$c1" && silent "$c2" && silent "$c3" && silent "$c4" && press_play
  return 1
}
retry 8 playing_on_first_pair || fail "the tone is not on channels 1-2 only ($c1 $c2 $c3 $c4)"

click 2 0    # ⚙ lists the devices as they are now
click 3000 0
shot audio-page

# --- The steppers list what the server lists, in its order, and show the descriptions ---
mapfile -t sinks < <(pactl list short sinks | awk '{print $2}')
for sink in "${sinks[@]}" ""; do
  click 61 0
  expect_ini Audio Master "$sink" "the master output stepper after ${last:-System default}"
  last="$sink"
  if [ "$sink" = vm_desk ]; then
    read -r bx sy _ _ <<<"$(rect_of 60 0)"
    read -r ex _ ew _ <<<"$(rect_of 61 0)"
    text="$(ocr desk "$bx" "$sy" $((ex + ew - bx)) 30)"
    [[ "$text" == *"Desk Speakers"* ]] || fail "the master output shows '$text', not the sink's description"
  fi
done
mapfile -t sources < <(pactl list short sources | awk '{print $2}')
click 901 0
expect_ini Mic Device "${sources[0]}" "the microphone input stepper"

# --- Headphones beside a master on the default device; the master's pair moves the tone ---
for _ in $(seq $((${#sinks[@]} + 2))); do
  [ "$(ini Audio Phones)" = veldmix_quad ] && break
  click 63 0
done
expect_ini Audio Phones veldmix_quad "the headphone stepper"
expect_ini Audio PhonesMode 2 "headphones on a device of their own"
expect_ini Audio PhonesPair 1 "headphones on the default device beside a master on CH 1-2"
for _ in $(seq $((${#sinks[@]} + 1))); do
  [ "$(ini Audio Master)" = veldmix_quad ] && break
  click 61 0
done
expect_ini Audio Master veldmix_quad "the master on the quad card by name"
expect_ini Audio PhonesPair 1 "headphones once the master names the card"
click 3400 0  # the master's pair stepper: CH 3-4
expect_ini Audio MasterPair 1 "CH 3-4"
expect_ini Audio PhonesPair 0 "headphones moved off the master's new pair"
shot audio-ch34
retry 5 on_pairs 1 || fail "the tone did not move to channels 3-4 ($c1 $c2 $c3 $c4)"

# --- EXCLUSIVE: a null sink has no hardware of its own; the card takes low latency ---
click 3406 0 1
expect_ini Audio Latency 2 "EXCLUSIVE"
read -r lx _ _ _ <<<"$(rect_of 3404 0)"
read -r _ by _ _ <<<"$(rect_of 3405 0 2)"  # the Buffer row (3405 is also LOW's id)
status_reads() {
  status="$(ocr status $((lx - 158)) $((by + 40)) 460 40)"
  [[ "$status" == *"Now: 44.1"*"(low latency)"*"the card wouldn't take more"* ]]
}
retry 6 status_reads || fail "the sound card line reads '$status'"

# --- OPEN FOLDER ---
click 81 0
wait_for 5 test -s "$work/xdg-open.log" || fail "OPEN FOLDER started no xdg-open"
opened="$(cat "$work/xdg-open.log")"
[ "$opened" = "$HOME/Music/Veldmix Recordings" ] && [ -d "$opened" ] || fail "OPEN FOLDER opened '$opened'"

# --- Mixing ---
click 3001 0
shot mixing-page
click 3423 1
expect_ini Options ColorFx 3 "Colour FX NOISE"
click 3023 1
expect_ini Options FourDecks 1 "4 DECKS"
click 3022 1
expect_ini Options FourDecks 0 "2 DECKS"
click 3541 1
expect_ini Dvs On 1 "DRIVE DECKS A AND B"
for source in "${sources[@]}"; do  # the capture devices in the server's order
  click 3543 1
  expect_ini Dvs Device "$source" "the turntables' input stepper"
  [ "$source" = veldmix_mic.monitor ] && break
done
paplay -d veldmix_mic "$work/carrier.wav" &
read -r tx _ _ _ <<<"$(rect_of 3540 1)"
read -r _ ty _ _ <<<"$(rect_of 3548 1)"
readout_reads() {
  readout="$(ocr readout $((tx - 158)) $((ty + 40)) 460 20)"
  [[ "${readout// /}" == *"DeckA:100%"* ]]  # tesseract may drop the space
}
retry 8 readout_reads || fail "the record speed line reads '$readout'"
shot turntables

xdotool key Escape
kill -TERM "$app_pid"
wait_for 20 sh -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not end after SIGTERM"
wait "$app_pid" || fail "the program ended with an error"
echo "audio_mixing_pages: PASS"
