#!/usr/bin/env bash
# The keyboard's Shift held over mouse clicks in the real window: Shift-click on MEM deletes the
# memory cue a click made, the grid nudges move 0.001 s with Shift and 0.01 s without (both read
# back from the saved library), Shift-click on SYNC turns sync lock on (the button reads LOCK)
# and Shift-click on the colour-effect label steps back from FILTER to ECHO (OCR). Each Shift-click
# is one quick xdotool command (Shift down, click, Shift up), as fast as a hand never is.
# Cost: 37
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/main_window.sh"
need veldmix veldmix-tool Xvfb xdpyinfo xwininfo xdotool import convert tesseract sox
artifacts="$build/e2e-artifacts/shift_clicks"
mkdir -p "$artifacts"
e2e_on_fail() { screen_shot "$artifacts/failed.png" 2>/dev/null; cp "$work/app.out" "$artifacts/" 2>/dev/null; }
export OMP_THREAD_LIMIT=1
private_home
no_sound_server
data="$HOME/.local/share/Veldmix"
database="$data/database.tsv"
mkdir -p "$data"
printf '[Tour]\r\nDone=1\r\n' >"$data/settings.ini"

# 30 s of 10 kHz clicks every 22050 samples over a quiet tone: a beat grid for the analysis.
track="$work/clicks.wav"
{
  sox -n -r 44100 -c 1 -b 16 "$work/click.wav" synth 220s square 10000 vol 0.3 pad 0 21830s &&
    sox "$work/click.wav" "$work/clicks1.wav" repeat 59 &&
    sox -n -r 44100 -c 1 -b 16 "$work/tone.wav" synth 30 sine 300 vol 0.2 &&
    sox -m "$work/tone.wav" "$work/clicks1.wav" -c 2 "$track"
} 2>/dev/null || fail "sox could not make the track"

start_private_display "$work/xvfb.log" -screen 0 1920x1080x24 -dpi 96 || fail "no virtual display could be started"
"$app" "$track" >"$work/app.out" 2>&1 &
app_pid=$!
fit_main_window
win="$(window_id)"
alive() { kill -0 "$app_pid" 2>/dev/null || fail "veldmix exited: $(tail -n 5 "$work/app.out")"; }
centre() {  # centre NAME: "x y" on the screen
  local x y w h
  read -r x y w h <<<"${at[$1]:?no rectangle $1}"
  echo "$((wx + x + w / 2)) $((wy + y + h / 2))"
}
shift_click() {  # shift_click NAME: Shift down, a click at the rectangle's centre, Shift up
  local cx cy
  read -r cx cy <<<"$(centre "$1")"
  xdotool windowfocus "$win" 2>/dev/null
  xdotool mousemove "$cx" "$cy" keydown shift click 1 keyup shift
  sleep 0.3
}
text_of() {  # text_of NAME: the OCR of a rectangle
  local x y w h
  read -r x y w h <<<"${at[$1]}"
  read_text "$w" "$h" $((wx + x)) $((wy + y)) | tr -d ' '
}
reads() { text="$(text_of "$1")" && [[ "$text" == *"$2"* ]]; }
# The track's row in the saved library: BPM, first beat and the memory cues.
row() { [ -f "$database" ] && awk -F'\t' -v p="$track" '$1 == p && $6 == 1 {print $2, $3, "[" $44 "]"}' "$database"; }
near() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a == a + 0 && (a - b) ^ 2 < 0.0002 ^ 2) }'; }

wait_for 60 eval '[ -n "$(row)" ]' || { alive; fail "the analysed track never reached $database"; }
read -r bpm first cues <<<"$(row)"
echo "analysed: $bpm BPM, first beat $first, memory cues $cues"
awk -v b="$bpm" 'BEGIN { exit !(b > 0) }' || fail "the analysis found no tempo"
[ "$cues" = "[]" ] || fail "the new track already has memory cues $cues"

# --- MEM: a click adds a cue where the deck stands; a Shift-click there deletes it ---
click tool.0.mem
wait_for 15 eval '[ "$(row | cut -d" " -f3)" != "[]" ]' || { alive; fail "MEM saved no memory cue"; }
echo "after MEM: $(row)"
shift_click tool.0.mem
wait_for 15 eval '[ "$(row | cut -d" " -f3)" = "[]" ]' ||
  { alive; fail "Shift-click on MEM left the memory cues at $(row | cut -d' ' -f3)"; }

# --- Grid nudge: 0.001 s later with Shift, then 0.01 s later without ---
fine="$(awk -v f="$first" 'BEGIN { printf "%.5f", f + 0.001 }')"
coarse="$(awk -v f="$first" 'BEGIN { printf "%.5f", f + 0.011 }')"
shift_click tool.0.gridright
first_is() { near "$(row | cut -d' ' -f2)" "$1"; }
wait_for 15 first_is "$fine" || { alive; fail "Shift-click on the grid nudge moved the first beat to $(row | cut -d' ' -f2), not $fine"; }
click tool.0.gridright
wait_for 15 first_is "$coarse" || { alive; fail "a plain nudge after it moved the first beat to $(row | cut -d' ' -f2), not $coarse"; }

# --- SYNC: Shift-click turns sync lock on; a click on LOCK turns it off ---
reads sync.0 SYNC || fail "SYNC reads '$text' before the Shift-click"
shift_click sync.0
wait_for 5 reads sync.0 LOCK || { screen_shot "$artifacts/sync.png"; fail "Shift-click on SYNC left the button reading '$text'"; }
click sync.0
wait_for 5 reads sync.0 SYNC || fail "a click on LOCK left the button reading '$text'"

# --- The colour-effect label: Shift steps back (FILTER to ECHO), a click forward (to FILTER) ---
reads strip.0.fxmode FILTER || fail "the filter's label reads '$text' at the start"
shift_click strip.0.fxmode
xdotool mousemove 5 5  # the hover outline off the word
wait_for 5 reads strip.0.fxmode ECHO || { screen_shot "$artifacts/fx.png"; fail "Shift-click on FILTER gave '$text', not ECHO"; }
screen_shot "$artifacts/echo.png"
click strip.0.fxmode
xdotool mousemove 5 5
wait_for 5 reads strip.0.fxmode FILTER || fail "a click on ECHO gave '$text', not FILTER"

alive
kill -TERM "$app_pid" 2>/dev/null
wait "$app_pid"
code=$?
app_pid=""
[ "$code" = 0 ] || fail "the program ended with $code"
echo "shift_clicks: PASS"
