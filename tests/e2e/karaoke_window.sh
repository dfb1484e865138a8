#!/usr/bin/env bash
# The karaoke screen window in the real program on a real X server. Two heads: F9 opens
# "Veldmix — Karaoke" covering the other head exactly, frameless, and the main window keeps the
# keyboard (also under openbox); the idle screen and the message read; Esc windows it 1024 x 576
# centred on that head with the hint line; a double-click goes full again, F11 back, Esc closes,
# F9 opens; a resize to 1 x 1 and back is harmless; closing the main window closes both and exits
# 0. The tool's window fed from a record: CD+G five times enlarged equals FFmpeg's decoder, a paused
# line reads, a playing wipe and a playing video move on. One head: it opens windowed, centred on
# the main window's head.
# Labels: slow
# Cost: 51
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix veldmix-tool Xvfb xdpyinfo xwininfo xdotool xprop tesseract convert import ffmpeg sox
private_home
export OMP_THREAD_LIMIT=1  # tesseract: one thread reads a small crop several times faster
no_sound_server

app_pid="" wm_pid=""
karaoke_title="Veldmix — Karaoke"

# --- Helpers ---
start_display() {  # Xvfb screen arguments
  stop_all
  start_private_display "$work/xvfb.log" "$@" || fail "no virtual display could be started"
}
window_line() { xwininfo -root -tree 2>/dev/null | grep -F "\"$1\"" | head -n 1; }
window_id() { window_line "$1" | awk '{print $1}'; }
# "W H X Y" of a window, as the server has it.
geometry() {
  local id
  id="$(window_id "$1")"
  [ -n "$id" ] || return 0
  xwininfo -id "$id" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF} /Width:/{w=$NF} /Height:/{h=$NF} END{print w, h, x, y}'
}
geometry_is() { [ "$(geometry "$1")" = "$2" ]; }
karaoke_open() { [ -n "$(window_line "$karaoke_title")" ]; }
karaoke_closed() { ! karaoke_open; }
main_id() { printf '%d' "$(window_id "VELDMIX 1.0.10")"; }
focus_is_main() { [ "$(xdotool getwindowfocus)" = "$(main_id)" ]; }
start_app() {
  : >"$work/app.out"
  "$app" >>"$work/app.out" 2>&1 &
  app_pid=$!
  wait_for 20 sh -c "xwininfo -root -tree | grep -qF '\"VELDMIX 1.0.10\"'" || fail "the main window did not appear"
  sleep 1
}
# Keys for the karaoke window go to it as they do when the DJ clicks it first.
key_to_karaoke() {
  xdotool windowfocus --sync "$(window_id "$karaoke_title")" key "$1"
}
# OCR of a screen rectangle: W H X Y, scaled up, grey, negated when asked.
read_text() {
  import -window root -crop "$1x$2+$3+$4" +repage "$work/crop.png"
  convert "$work/crop.png" -resize 300% -colorspace Gray ${5:+-negate} "$work/ocr.png"
  tesseract "$work/ocr.png" - 2>/dev/null | tr '\n' ' '
}
cursor_is() { [ "$(/usr/bin/python3 "$source_dir/tests/support/cursor_visible.py")" = "$1" ]; }
# No frame: the window sits straight on the root (nothing reparented it into a frame), and when
# it says anything about decorations it asks for none.
frameless() {
  local id
  id="$(window_id "$1")"
  xwininfo -id "$id" -children | grep -q 'Parent window id: .*(the root window)' || return 1
  ! xprop -id "$id" _MOTIF_WM_HINTS | grep -q '=' || xprop -id "$id" _MOTIF_WM_HINTS | grep -q '0x2, 0x0, 0x0'
}

# --- Two heads, no window manager ---
start_display -screen 0 1920x1080x24 -screen 1 1500x1080x24 +xinerama
start_app
focus_is_main || fail "the main window does not have the keyboard at start"
xdotool key F9
wait_for 5 karaoke_open || fail "F9 did not open the karaoke screen"
wait_for 5 geometry_is "$karaoke_title" "1500 1080 0 0" ||
  fail "the karaoke screen does not cover head 1 exactly: $(geometry "$karaoke_title")"
frameless "$karaoke_title" || fail "the full-screen karaoke window has a frame"
focus_is_main || fail "the karaoke screen took the keyboard"
# The idle screen and the message.
idle_reads() { idle="$(read_text 1500 200 0 330 negate)" && grep -q "KARAOKE" <<<"$idle"; }
wait_for 5 idle_reads || fail "the idle screen does not read KARAOKE: $idle"
message="$(read_text 1500 80 0 895 negate)"
grep -q "Want to sing" <<<"$message" || fail "the message does not read: $message"
# The cursor hides over the full-screen karaoke window only.
xdotool mousemove 700 500
wait_for 3 cursor_is 0 || fail "the cursor shows over the full-screen karaoke window"
xdotool mousemove 1700 500
wait_for 3 cursor_is 1 || fail "the cursor stays hidden over the main window"

key_to_karaoke Escape
wait_for 5 geometry_is "$karaoke_title" "1024 576 238 252" ||
  fail "Esc did not window the screen 1024 x 576 centred in head 1: $(geometry "$karaoke_title")"
# Read until the windowed screen has drawn; tesseract may run "full screen" together.
hint_reads() {
  hint="$(read_text 1024 60 238 $((252 + 576 - 60)) negate)" && grep -q "Double-click for full \?screen" <<<"$hint"
}
wait_for 3 hint_reads || fail "the hint line does not read: $hint"
xdotool mousemove 700 500 click --repeat 2 --delay 60 1
wait_for 5 geometry_is "$karaoke_title" "1500 1080 0 0" || fail "a double-click did not go full screen"
key_to_karaoke F11
wait_for 5 geometry_is "$karaoke_title" "1024 576 238 252" || fail "F11 did not come back to the window"
# A resize to almost nothing and back draws on without errors.
xdotool windowsize "$(window_id "$karaoke_title")" 1 1
sleep 0.3
xdotool windowsize "$(window_id "$karaoke_title")" 1024 576
sleep 0.3
kill -0 "$app_pid" 2>/dev/null || fail "the program ended after the 1 x 1 resize"
key_to_karaoke Escape
wait_for 5 karaoke_closed || fail "Esc in a window did not close the screen"
xdotool windowfocus --sync "$(window_id "VELDMIX 1.0.10")" key F9
wait_for 5 karaoke_open || fail "F9 did not open the screen again"
focus_is_main || fail "the screen took the keyboard when opened again"

# Closing the main window closes both, exit 0.
main_hex="$(window_id "VELDMIX 1.0.10")"
/usr/bin/python3 "$source_dir/tests/support/close_window.py" "$main_hex"
code=0
wait_for 10 sh -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not end when its window closed"
wait "$app_pid" || code=$?
app_pid=""
[ "$code" -eq 0 ] || fail "the program ended with $code; it wrote: $(tail -n 20 "$work/app.out")"
karaoke_closed || fail "the karaoke screen outlived the main window"
grep -qi "error" "$work/app.out" && fail "the program wrote errors: $(cat "$work/app.out")"

# --- The tool's window on head 1, fed from a record ---
sox -n -r 44100 -c 2 "$work/cdg.wav" synth 1 sine 440 2>/dev/null
/usr/bin/python3 "$source_dir/tests/support/make_cdg.py" "$work/cdg.cdg" >"$work/times"
mapfile -t settled <"$work/times"
cp "$work/cdg.wav" "$work/words.wav"
printf '[00:02.00]Warm up the room\n[00:04.00]Sing along with everyone\n[00:09.00]Later words\n' >"$work/words.lrc"
# A word every 2 s: a word's wipe takes under 1 s, so any two captures 1.5 s apart see it move on.
cp "$work/cdg.wav" "$work/sing.wav"
printf '[00:04.00]<00:04.00>Sing <00:06.00>along <00:08.00>with <00:10.00>everyone <00:12.00>in <00:14.00>the <00:16.00>room <00:18.00>tonight\n[00:24.00]Later words\n' >"$work/sing.lrc"
tool_pid=""
start_window() {  # INFO.json: the tool's karaoke window, full on head 1
  if [ -n "$tool_pid" ]; then
    kill "$tool_pid" 2>/dev/null || true
    wait "$tool_pid" 2>/dev/null || true
  fi
  "$tool" karaoke window "$1" >"$work/tool.out" 2>&1 &
  tool_pid=$!
  wait_for 10 geometry_is "$karaoke_title" "1500 1080 0 0" ||
    fail "the tool's window is not full on head 1: $(geometry "$karaoke_title"); $(cat "$work/tool.out")"
  sleep 0.5
}
capture() { import -window root -crop 1500x1080+0+0 +repage "$1"; }
start_display -screen 0 1920x1080x24 -screen 1 1500x1080x24 +xinerama
for t in "${settled[-1]}" "${settled[$((${#settled[@]} / 2))]}"; do
  printf '{"mode": 2, "path": "%s", "position": %s, "playing": false, "duration": 300}\n' "$work/cdg.wav" "$t" \
    >"$work/cdg.json"
  start_window "$work/cdg.json"
  capture "$work/shot.png"
  ffmpeg -nostdin -v quiet -i "$work/shot.png" -f rawvideo -pix_fmt rgb24 - >"$work/shot.rgb"
  ffmpeg -nostdin -v quiet -i "$work/cdg.cdg" -ss "$t" -frames:v 1 -f rawvideo -pix_fmt rgb24 - >"$work/ref.rgb"
  differing="$(/usr/bin/python3 "$source_dir/tests/support/compare_cdg.py" "$work/ref.rgb" "$work/shot.rgb" 1500 1080 5 2)"
  [ "$differing" = 0 ] || fail "the window's CD+G at $t s: $differing pixels differ from FFmpeg's"
done
# A paused record's line reads; a playing one's wipe moves on between two captures.
printf '{"mode": 2, "path": "%s", "position": 4.6, "playing": false, "duration": 60, "karaoke": {"Palette": 1}}\n' \
  "$work/words.wav" >"$work/words.json"
start_window "$work/words.json"
line="$(read_text 1500 130 0 540 negate)"
grep -q "Sing along with everyone" <<<"$line" || fail "the paused line does not read: $line"
printf '{"mode": 2, "path": "%s", "position": 4.0, "playing": true, "duration": 60, "karaoke": {"Palette": 1}}\n' \
  "$work/sing.wav" >"$work/sing.json"
start_window "$work/sing.json"
gold() {  # pixels of the sung colour in the current line's band of a capture
  convert "$1" -crop 1500x160+0+520 +repage -fill black +opaque "#FFC83D" -fill white -opaque "#FFC83D" \
    -format "%[fx:int(mean*w*h)]" info:
}
capture "$work/a.png"
sleep 1.5
capture "$work/b.png"
first="$(gold "$work/a.png")" second="$(gold "$work/b.png")"
[ "$second" -gt $((first + 200)) ] || fail "the wipe did not move while playing ($first, then $second sung pixels)"
# The track's own video while playing: the frame at the song position, moving on.
ffmpeg -nostdin -v error -f lavfi -i "color=c=black:s=640x360:r=25:d=12" \
  -vf "drawtext=fontfile=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf:text=%{frame_num}:fontsize=100:fontcolor=white:x=30:y=h-th-30" \
  -c:v libx264 -pix_fmt yuv420p -g 25 "$work/clip.mp4" || fail "ffmpeg could not make the numbered clip"
frame_shown() {  # the number at the bottom left of the clip fitted into head 1 (1500 x 844 from y 118)
  import -window root -crop 700x300+0+660 +repage -colorspace Gray -negate "$work/digits.png"
  tesseract "$work/digits.png" - --psm 8 -c tessedit_char_whitelist=0123456789 2>/dev/null | tr -dc 0-9
}
printf '{"mode": 2, "path": "%s", "position": 2.0, "playing": true, "duration": 12}\n' "$work/clip.mp4" >"$work/own.json"
launched="$(date +%s%N)"
start_window "$work/own.json"
first="$(frame_shown)"
elapsed_ms=$((($(date +%s%N) - launched) / 1000000))
[ -n "$first" ] && [ "$first" -ge 48 ] && [ "$first" -le $((50 + elapsed_ms * 25 / 1000 + 2)) ] ||
  fail "the playing video shows frame '$first', not between 50 and $((50 + elapsed_ms * 25 / 1000)) (${elapsed_ms} ms in)"
sleep 1
second="$(frame_shown)"
[ -n "$second" ] && [ "$second" -ge $((first + 20)) ] || fail "the playing video did not move on ($first, then '$second')"
kill "$tool_pid"
wait "$tool_pid" 2>/dev/null || true
tool_pid=""

# --- One head: windowed, centred on the main window's head ---
start_display -screen 0 1600x1000x24
start_app
xdotool key F9
wait_for 5 karaoke_open || fail "F9 did not open the screen on one head"
wait_for 5 geometry_is "$karaoke_title" "1024 576 288 212" ||
  fail "one head: not windowed and centred: $(geometry "$karaoke_title")"
focus_is_main || fail "one head: the screen took the keyboard"

# --- Two heads under openbox: the main window keeps the keyboard ---
if command -v openbox >/dev/null; then
  start_display -screen 0 1920x1080x24 -screen 1 1500x1080x24 +xinerama
  start_private_wm "$work/openbox.log" || fail "openbox did not start"
  start_app
  xdotool windowactivate --sync "$(main_id)"
  sleep 0.5
  xdotool key F9
  wait_for 5 karaoke_open || fail "F9 did not open the screen under openbox"
  sleep 1.5
  focus_is_main || fail "under openbox the screen took the keyboard"
else
  echo "karaoke_window: openbox is not installed: the check under a window manager is skipped"
fi

echo "karaoke_window: PASS"
