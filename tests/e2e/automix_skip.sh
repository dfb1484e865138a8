#!/usr/bin/env bash
# Automix's SKIP in the real window on a 1366x768 screen, heard on the private sound server: four
# tracks on the Automix list, each a tone of its own (330, 440, 550 and 660 Hz over 120 BPM
# clicks). AUTOMIX plays the first; each SKIP, pressed where SKIP is drawn while Automix is on,
# mixes to the list's next track, so the sink plays 440, 550 and 660 Hz in turn and never a
# skipped track again; every track is loaded once. Screenshots of the top bar after each step go
# to $VELDMIX_BUILD/e2e-artifacts/automix_skip.
# Cost: 40
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/main_window.sh"
need veldmix veldmix-tool Xvfb xwininfo xdotool xprop openbox import sox parec pactl
artifacts="$build/e2e-artifacts/automix_skip"
rm -rf "$artifacts"
mkdir -p "$artifacts"
e2e_on_fail() { screen_shot "$artifacts/failed.png" 2>/dev/null; cp "$work/app.out" "$log" "$artifacts/" 2>/dev/null; }
export OMP_THREAD_LIMIT=1
private_home
own_sound_server  # measures the sink: other scripts must not play into it

data="$HOME/.local/share/Veldmix"
mkdir -p "$data/Lists" "$work/music"
tones=(330 440 550 660)
sox -n -r 22050 -c 1 "$work/click.wav" synth 0.01 sine 2000 vol 0.3 pad 0 0.49
# Four minutes each: a loaded machine's slow steps never take a track past half its length, after
# which a track counts as played whether skipped or not.
sox "$work/click.wav" "$work/clicks.wav" repeat 479
list='#EXTM3U'
for hz in "${tones[@]}"; do
  sox -n -r 22050 -c 1 "$work/tone.wav" synth 240 sine "$hz" vol 0.4
  sox -m "$work/tone.wav" "$work/clicks.wav" "$work/music/t$hz.wav" trim 0 240
  list+=$'\n'"$work/music/t$hz.wav"
done
printf '%s\n' "$list" >"$data/Lists/Automix.m3u8"
printf '[Tour]\r\nDone=1\r\n[Options]\r\nMixLen=2\r\n[Automix]\r\nStyle=0\r\n' >"$data/settings.ini"

start_private_display "$work/xvfb.log" -screen 0 1366x768x24 -dpi 96 || fail "no virtual display could be started"
start_private_wm "$work/openbox.log" || fail "openbox did not start"
"$app" >"$work/app.out" 2>&1 &
maximised_main_window
bar_shot() { import -window root -crop "${ww}x40+$wx+$wy" +repage "$artifacts/$1.png"; }

# Which of the four tones the sink plays loudest, over 1.5 s.
playing() {
  record_sink "$work/rec.raw" 1.5 || { echo 0; return; }
  tone_level "$work/rec.raw" "${tones[@]}" |
    awk -v list="${tones[*]}" 'BEGIN { split(list, hz, " ") } $1 > top { top = $1; best = hz[NR] } END { print best + 0 }'
}
# hears SECONDS HZ: the sink plays the tone within SECONDS of wall-clock time (heard: the last).
hears() {
  local until=$((SECONDS + $1))
  while :; do
    heard="$(playing)"
    [ "$heard" = "$2" ] && return 0
    [ "$SECONDS" -lt "$until" ] || return 1
  done
}

# SKIP is drawn only while Automix is on, in the place kept for it between REC and AUTOMIX.
read -r ax ay aw ah <<<"${at[topbar.automix]:?no AUTOMIX}"
read -r rx _ _ _ <<<"${at[topbar.rec]:?no REC}"
skip_x=$((wx + (ax + aw + rx) / 2)) skip_y=$((wy + ay + ah / 2))

bar_shot 0-off
click topbar.automix
wait_for 20 deck_loaded B "$work/music/t440.wav" || fail "Automix did not load the second track onto B"
hears 15 330 || fail "Automix did not start the first track: the sink plays $heard Hz"
bar_shot 1-on
for step in 1 2 3; do
  next=${tones[$step]}
  xdotool mousemove "$skip_x" "$skip_y" click 1
  # The mix takes 2 s; a loaded machine may be late.
  hears 15 "$next" || fail "SKIP $step did not bring the list's next track ($next Hz): the sink plays $heard Hz"
  bar_shot "$((step + 1))-skip$step"
  sleep 1
  hears 0 "$next" || fail "after SKIP $step the sink went on to $heard Hz, not $next Hz"
  [ "$step" = 3 ] || wait_for 20 deck_loaded "$([ $((step % 2)) = 1 ] && echo A || echo B)" "$work/music/t${tones[$((step + 1))]}.wav" ||
    fail "after SKIP $step the list's next track was not loaded onto the idle deck"
done
for hz in "${tones[@]}"; do
  n="$(log_count "loaded \"t$hz.wav\"")"
  [ "$n" = 1 ] || fail "t$hz.wav was loaded $n times"
done
echo "automix_skip: ok"
