#!/usr/bin/env bash
# The real program under a virtual display loses its sound server (killed while the output
# runs): REC then says it couldn't start and leaves no file, and GO LIVE (an Icecast stream set up
# in settings.ini) fails with "No audio output is running" without ever connecting to the
# server. Status texts are read off the screen with tesseract. Then veldmix-tool encode refuses
# an empty WAV. About 20 s.
# Cost: 33
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix veldmix-tool Xvfb xdpyinfo xdotool import convert tesseract sox pactl
artifacts="$build/e2e-artifacts/no_output"  # the screenshots, kept for a look
rm -rf "$artifacts"
mkdir -p "$artifacts"

# Always a sound server of our own: this one gets killed.
own_sound_server
private_home
export OMP_THREAD_LIMIT=1
mkdir -p "$HOME/.local/share/Veldmix"
recordings="$HOME/Music/Veldmix Recordings"

# A stand-in Icecast server that only notes each connection.
cat >"$work/listener.py" <<'EOF'
import socket, sys
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(4)
open(sys.argv[1], "w").write(str(s.getsockname()[1]))
while True:
    c, _ = s.accept()
    open(sys.argv[2], "a").write("connected\n")
    c.close()
EOF
/usr/bin/python3 "$work/listener.py" "$work/port" "$work/connections" &
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || fail "the stand-in server did not start"
password=$(/usr/bin/python3 "$source_dir/tests/support/seal_secret.py" "$HOME/.config" "hackme") || fail "no sealed password"
cat >"$settings" <<EOF
[Tour]
Done=1
[Broadcast]
Host=127.0.0.1
Port=$(cat "$work/port")
Password=$password
[Options]
RecordFormat=1
EOF

start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"

window_id() { xdotool search --class '^veldmix$' 2>/dev/null | head -n 1; }
window_shown() { [ -n "$(window_id)" ]; }
# A part of the screen reads as the pattern in one of eight screenshots taken over about 3 s; they
# are all taken before any is read, since a status line shows for 2.8 s only and a loaded machine
# reads slowly. Leaves what it read last in $text.
# Only the part is taken, uncompressed: a whole screen as PNG takes seconds on a loaded machine.
read_screen() {  # name pattern x y w h
  local i
  for i in 1 2 3 4 5 6 7 8; do
    screen_shot "$work/$1-$i.bmp" -crop "$5x$6+$3+$4" +repage ||
      fail "no screenshot $1"
    sleep 0.3
  done
  for i in 1 2 3 4 5 6 7 8; do
    convert "$work/$1-$i.bmp" -resize 300% -colorspace Gray -negate "$work/ocr.png"
    text=$(tesseract "$work/ocr.png" - 2>/dev/null | tr -s ' \n' ' ')
    # shellcheck disable=SC2254
    case $text in $2) return 0 ;; esac
  done
  return 1
}

"$app" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 30 window_shown || fail "the main window did not appear"
wait_for 10 log_has "Audio: master output started" || fail "the output did not start"
eval "$(xdotool getwindowgeometry --shell "$(window_id)")"  # X Y WIDTH HEIGHT
kill -KILL "$(cat "$work/pulse/server.pid")"
wait_for 10 log_has "Audio: master output stopped" || fail "the program did not notice the server was gone"

# --- REC ---
xdotool windowfocus --sync "$(window_id)" 2>/dev/null
xdotool key --clearmodifiers ctrl+r
wait_for 20 log_has "Audio: no recording of" || fail "REC was not refused (or never pressed)"
read_screen rec "*Couldn't start recording*audio output available*" $((X + WIDTH / 2 - 400)) $((Y + 80)) 800 60 ||
  fail "REC without an output showed: $text"
sleep 1
[ -z "$(ls -A "$recordings" 2>/dev/null)" ] || fail "REC left files: $(ls "$recordings")"

# --- GO LIVE: found on screen by its label ---
screen_shot "$artifacts/bar.png" -crop "${WIDTH}x40+$X+$Y" +repage || fail "no screenshot of the bar"
convert "$artifacts/bar.png" -resize 300% -colorspace Gray -negate "$work/bar.png"
read -r lx ly < <(tesseract "$work/bar.png" - tsv 2>/dev/null |
  awk -F'\t' '$12 == "GO" { gx = $7; gy = $8 } $12 == "LIVE" && gx != "" { print int((gx + $7 + $9) / 2 / 3), int(($8 + $10 / 2) / 3); exit }')
[ -n "${lx:-}" ] || fail "GO LIVE was not found on the top bar"
xdotool mousemove $((X + lx)) $((Y + ly)) click 1
sleep 1  # the stream fails at once; its message shows under the button while the mouse is on it
xdotool mousemove $((X + lx + 1)) $((Y + ly))
read_screen live "*No audio output is running*" $((X + lx - 300)) $((Y + 40)) 600 60 ||
  fail "GO LIVE without an output showed: $text"
[ ! -s "$work/connections" ] || fail "the stream connected to the server with no output running"

kill -TERM "$app_pid"
wait "$app_pid"
code=$?
app_pid=""
[ "$code" = 0 ] || fail "the program ended with $code"
[ -z "$(ls -A "$recordings" 2>/dev/null)" ] || fail "files were left in the recordings folder: $(ls "$recordings")"

# --- An empty WAV has nothing to copy ---
sox -n -r 48000 -c 2 -b 16 "$work/empty.wav" trim 0 0 2>/dev/null || fail "sox could not make an empty WAV"
"$tool" encode "$work/empty.wav" "$work/empty.mp3" >"$work/encode.out" 2>&1
code=$?
[ "$code" = 1 ] || fail "encoding an empty WAV ended with $code: $(cat "$work/encode.out")"
grep -qF "The recording is empty" "$work/encode.out" || fail "no clear error for an empty WAV: $(cat "$work/encode.out")"
[ ! -e "$work/empty.mp3" ] || fail "an empty WAV left an MP3"

echo "no_output: PASS"
