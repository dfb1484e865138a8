#!/usr/bin/env bash
# Recording the mix in the real program: deck A plays (started from the phone remote), Ctrl+R,
# 8 s, Ctrl+R, once for each [Options] RecordFormat: 0 keeps the WAV, 1 leaves one MP3 of 8 ± 1 s
# and no WAV, 2 one FLAC that passes `flac -t`; the tracklist beside it is UTF-8 with a BOM and
# CR LF lines "0:00  Artist – Title"; the remote's "rec" follows REC. Two start-stop cycles within
# one second make two whole recordings with stems of their own. About 45 s.
# Labels: slow
# Cost: 51
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
py=/usr/bin/python3
need veldmix Xvfb xdpyinfo xdotool curl ffmpeg ffprobe flac soxi "$py"
private_home
own_sound_server unless-shared
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"

readonly pin=1357
recordings="$HOME/Music/Veldmix Recordings"
port=$("$py" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
base="http://127.0.0.1:$port"
mkdir -p "$(dirname "$settings")" "$HOME/Music"
ffmpeg -v error -f lavfi -i "sine=frequency=330:duration=60" -ac 2 -ar 44100 \
  -metadata title="Über Tune" -metadata artist="Émilie" "$work/tune.mp3" || fail "ffmpeg could not make the track"

app_pid=""
window_id() { xdotool search --class '^veldmix$' 2>/dev/null | head -n 1; }
window_shown() { [ -n "$(window_id)" ]; }
press() {
  xdotool windowfocus --sync "$(window_id)" 2>/dev/null
  xdotool key --clearmodifiers "$@"
}
state() { curl --noproxy '*' -s --max-time 3 "$base/api/state?pin=$pin" | "$py" -c "import json,sys; s=json.load(sys.stdin); print($1)"; }
state_is() { [ "$(state "$1" 2>/dev/null)" = "$2" ]; }
start_app() {  # RecordFormat
  printf '[Tour]\nDone=1\n[Options]\nRecordFormat=%s\n[Remote]\nOn=1\nPin=%s\nPort=%s\n' "$1" "$pin" "$port" >"$settings"
  "$app" "$work/tune.mp3" >>"$work/app.out" 2>&1 &
  app_pid=$!
  wait_for 30 window_shown || fail "the main window did not appear"
  wait_for 20 state_is 's["decks"][0]["title"]' "Über Tune" || fail "deck A did not load the track"
  curl --noproxy '*' -s --max-time 3 -o /dev/null "$base/api/do?pin=$pin&name=deck.0.play&press=1"
  wait_for 2 state_is 's["decks"][0]["playing"]' True || fail "deck A did not start"
}
stop_app() {
  kill -TERM "$app_pid"
  wait "$app_pid"
}
only_new() {  # pattern: prints the one file matching it, or fails
  local files=("$recordings"/$1)
  [ "${#files[@]}" -eq 1 ] && [ -f "${files[0]}" ] || fail "expected one $1, found: $(ls "$recordings")"
  echo "${files[0]}"
}
seconds_of() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"; }
now() { date +%s.%N; }
# One REC cycle of about 8 s. A loaded machine takes a while over each key, so the length the
# recording must have is bracketed: at least from REC seen lit to the second press, at most from the
# first press to REC seen out (rec_min, rec_max).
record_8s() {
  local pressed lit pressed_again out
  pressed=$(now)
  press ctrl+r
  wait_for 5 state_is 's["rec"]' True || fail "the remote's rec did not light"
  lit=$(now)
  sleep 8
  pressed_again=$(now)
  press ctrl+r
  wait_for 5 state_is 's["rec"]' False || fail "the remote's rec stayed lit"
  out=$(now)
  rec_min=$(awk -v a="$lit" -v b="$pressed_again" 'BEGIN { print b - a }')
  rec_max=$(awk -v a="$pressed" -v b="$out" 'BEGIN { print b - a }')
}
# recorded_length FILE WHAT: the file lasts as long as the REC cycle, within 0.2 s.
recorded_length() {
  local s
  s=$(seconds_of "$1")
  awk -v s="$s" -v lo="$rec_min" -v hi="$rec_max" 'BEGIN { exit !(s >= lo - 0.2 && s <= hi + 0.2) }' ||
    fail "the $2 lasts $s s, the REC cycle between $rec_min and $rec_max s"
}
check_tracklist() {  # the tracklist file
  "$py" - "$1" <<'EOF' || fail "the tracklist: $(od -c "$1" | head -5)"
import sys
data = open(sys.argv[1], "rb").read()
assert data.startswith(b"\xef\xbb\xbf"), data[:8]
lines = data[3:].split(b"\r\n")
assert lines[-1] == b"" and b"\n" not in b"".join(lines), data
assert lines[0].decode("utf-8").startswith("0:00  Émilie – Über Tune"), lines[0]
EOF
}

# --- RecordFormat 0: the WAV stays ---
start_app 0
record_8s
wav=$(only_new '*.wav')
recorded_length "$wav" WAV
check_tracklist "${wav%.wav} tracklist.txt"
# Two cycles within one second: two more whole recordings, stems of their own.
press --delay 200 ctrl+r ctrl+r ctrl+r ctrl+r
three_whole() {  # the first recording and the two quick ones, each closed with its sound
  mapfile -t wavs < <(ls "$recordings"/*.wav)
  [ "${#wavs[@]}" -eq 3 ] || return 1
  for w in "${wavs[@]}"; do [ "$(soxi -s "$w" 2>/dev/null || echo 0)" -gt 0 ] || return 1; done
}
wait_for 10 three_whole || fail "after two quick cycles: $(ls -l "$recordings")"
stop_app
rm -rf "$recordings"

# --- RecordFormat 1: one MP3, no WAV ---
start_app 1
record_8s
wait_for 20 eval 'ls "$recordings"/*.mp3 >/dev/null 2>&1 && ! ls "$recordings"/*.wav >/dev/null 2>&1' ||
  fail "no lone MP3: $(ls "$recordings")"
mp3=$(only_new '*.mp3')
recorded_length "$mp3" MP3
check_tracklist "${mp3%.mp3} tracklist.txt"
stop_app
rm -rf "$recordings"

# --- RecordFormat 2: a FLAC that tests whole ---
start_app 2
record_8s
wait_for 20 eval 'ls "$recordings"/*.flac >/dev/null 2>&1 && ! ls "$recordings"/*.wav >/dev/null 2>&1' ||
  fail "no lone FLAC: $(ls "$recordings")"
flacfile=$(only_new '*.flac')
flac -s -t "$flacfile" || fail "the FLAC does not test whole"
recorded_length "$flacfile" FLAC
# Closing mid-recording keeps the WAV and writes the tracklist (no copy).
press ctrl+r
wait_for 2 state_is 's["rec"]' True || fail "the remote's rec did not light"
sleep 2
stop_app
last=$(ls "$recordings"/*.wav 2>/dev/null | head -n 1)
[ -n "$last" ] && [ "$(soxi -s "$last")" -gt 0 ] || fail "closing mid-recording left no whole WAV: $(ls "$recordings")"
check_tracklist "${last%.wav} tracklist.txt"
echo "mix_recording: OK"
