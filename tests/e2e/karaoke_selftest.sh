#!/usr/bin/env bash
# --karaoketest of the real program on a virtual display and the test sound server, with the ONNX
# Runtime and the stand-in stem models in a program folder of its own and the online lyrics
# service's loopback stand-in: a whole run ends with 0, finds timed words at the stand-in, writes
# results.txt with a byte-order mark and its numbered screenshots (the karaoke screen's at
# 1280 x 720, the karaoke window's at its client size). The test CD+G that veldmix-tool test-cdg
# writes decodes in FFmpeg to the picture veldmix-tool cdg draws of it. Without models only the
# three stem checks fail and a closed lyrics port is a WARN; a missing track, lyrics file or
# video, or no sound server end with 1 and the reason, in bounded time.
# Labels: slow
# Cost: 43
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
readonly python=/usr/bin/python3
readonly kRunLimit=330   # s: the run names its stuck step at 300 s
readonly kFailLimit=30   # s: a missing track must end the run this soon
readonly kBom=$'\xef\xbb\xbf'
export NO_PROXY=127.0.0.1,localhost no_proxy=127.0.0.1,localhost

fail=0
check() { if ! eval "$2"; then echo "karaoke_selftest: FAIL: $1" >&2; fail=1; fi; }
need veldmix veldmix-tool Xvfb xdpyinfo ffmpeg ffprobe pactl openssl identify
[ -e "$build/libonnxruntime.so.1" ] || fail "the build has no libonnxruntime.so.1 (scripts/onnxruntime.sh)"

private_home
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"
own_sound_server unless-shared

# A program folder: a copy of veldmix, the runtime, assets/ and (unless "none") the models.
program_folder() {
  mkdir -p "$1"
  cp "$app" "$1/"
  ln -s "$build/libonnxruntime.so.1" "$1/"
  ln -s "$source_dir/assets" "$1/assets"
  [ "${2:-}" = none ] || "$python" "$source_dir/tests/support/make_stem_models.py" "$1" || fail "no models"
}
program_folder "$work/ok"
program_folder "$work/bare" none

# The song: 80 s at 120 BPM with a title tag, a low voice-like tone and a high one; its words
# from 10 s, one line every 4 s; a 4 s test-card clip with a tone.
ffmpeg -nostdin -v error -f lavfi \
  -i "aevalsrc='0.25*sin(2*PI*330*t)+0.1*sin(2*PI*2500*t)+0.5*sin(2*PI*90*t)*lt(mod(t\,0.5)\,0.03)':s=44100:d=80" \
  -ac 2 -metadata title="Self-Test Track" -metadata artist="The Testers" "$work/song.mp3" || fail "no song"
{
  echo "[ti:Self-Test Track]"
  for i in $(seq 0 8); do
    printf '[00:%02d.00]Line number %d of the test song\n' $((10 + 4 * i)) $((i + 1))
  done
} >"$work/lyrics.lrc"
ffmpeg -nostdin -v error -f lavfi -i testsrc=size=640x360:rate=25:duration=4 -f lavfi \
  -i "sine=frequency=440:duration=4" -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest "$work/clip.mp4" ||
  fail "no clip"

# The lyrics service's stand-in, answering the test's fixed song with three timed lines.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
get='/api/get?artist_name=Veldmix%20Test%20Band&track_name=Self-Test%20Song&duration=198'
printf '{"%s": {"status": 200, "body": {"instrumental": false, "plainLyrics": "One\\nTwo\\nThree",
  "syncedLyrics": "[00:01.00]One\\n[00:02.00]Two\\n[00:03.00]Three"}}}' "$get" >"$work/routes.json"
"$python" "$source_dir/tests/support/lyrics_server.py" "$work/cert.pem" "$work/key.pem" "$work/port" \
  "$work/routes.json" "$work/requests" 2>/dev/null &
wait_for 10 test -s "$work/port" || fail "the lyrics stand-in did not start"
export SSL_CERT_FILE="$work/cert.pem" VELDMIX_LRCLIB_SERVER="https://127.0.0.1:$(cat "$work/port")"
# A port nothing listens on: bound and closed again.
closed_port=$("$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

# run_test NAME FOLDER OUT ARGS...: sets code and seconds; stderr in $work/NAME.err.
run_test() {
  local name=$1 folder=$2 start
  shift 2
  start=$(date +%s.%N)
  code=0
  timeout "$kRunLimit" "$folder/veldmix" --karaoketest "$@" >"$work/$name.out" 2>"$work/$name.err" || code=$?
  seconds=$(awk -v a="$(date +%s.%N)" -v b="$start" 'BEGIN { print a - b }')
  echo "karaoke_selftest: $name took $seconds s" >&2
}
less_than() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }
# results FOLDER: its results.txt without the byte-order mark.
results() { sed '1s/^\xef\xbb\xbf//' "$1/results.txt"; }
size_of() { identify -format '%wx%h' "$1" 2>/dev/null; }

# --- A whole run; beside it one without models whose lyrics port is closed, then the bad
# arguments (a missing track; a missing lyrics file and video), each with a HOME and runtime
# folder of its own (the single-instance lock, the log) ---
own_home() {
  export HOME="$work/$1-home" XDG_RUNTIME_DIR="$work/$1-run"
  mkdir -p "$HOME"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
}
(
  own_home bare
  export VELDMIX_LRCLIB_SERVER="https://127.0.0.1:$closed_port"
  run_test bare "$work/bare" "$work/bare-out" "$work/song.mp3" "$work/lyrics.lrc"
  echo "$code" >"$work/bare.code"
  own_home missing
  run_test missing "$work/bare" "$work/out-missing" "$work/no-such-song.mp3"
  echo "$code $seconds" >"$work/missing.code"
  own_home noargs
  run_test noargs "$work/bare" "$work/out-noargs" "$work/song.mp3" "$work/none.lrc" "$work/none.mp4"
  echo "$code" >"$work/noargs.code"
) &
side_pid=$!
# No sound server at all: nothing plays, so the song never ends (no models: no time spent on stems).
(
  own_home nosound
  export PULSE_SERVER="unix:$work/no-server"
  printf 'autospawn = no\n' >"$work/nosound-client.conf"
  export PULSE_CLIENTCONFIG="$work/nosound-client.conf"
  run_test nosound "$work/bare" "$work/out-nosound" "$work/song.mp3" "$work/lyrics.lrc"
  echo "$code $seconds" >"$work/nosound.code"
) &
nosound_pid=$!
out="$work/out"
run_test whole "$work/ok" "$out" "$work/song.mp3" "$work/lyrics.lrc" "$work/clip.mp4"
check "the run ends with 0 (got $code)" '[ "$code" = 0 ]'
check "results.txt starts with a byte-order mark" '[ "$(head -c 3 "$out/results.txt")" = "$kBom" ]'
check "no check failed" \
  '! grep -q "^FAIL" "$out/results.txt" && grep -qx "PASS  the karaoke screen closes" "$out/results.txt"'
check "the stand-in's timed words were found" 'grep -qx "PASS  LRCLIB found timed words (3 lines)" "$out/results.txt"'
for shot in 01-break 02-ready 03-title 04-count-in 05-singing 06-picture-gold-large 07-next-up 08-up-next 09-cdg \
  12-video-loop 13-karaoke-video; do
  check "$shot.png is 1280x720 (got $(size_of "$out/$shot.png"))" '[ "$(size_of "$out/$shot.png")" = 1280x720 ]'
done
main_size=$(size_of "$out/10-panel.png")
check "the main window's captures have its size ($main_size, $(size_of "$out/11-settings.png"))" \
  '[ -n "$main_size" ] && [ "$(size_of "$out/11-settings.png")" = "$main_size" ]'
check "the karaoke window's capture has its client size, 1024x576 (got $(size_of "$out/14-screen-window.png"))" \
  '[ "$(size_of "$out/14-screen-window.png")" = 1024x576 ]'
# The GOLD shot's background is the test's own picture: warm (red above blue) in the corners.
corner=$(convert "$out/06-picture-gold-large.png" -crop 40x40+1230+670 -resize 1x1 -format '%[fx:r>b+0.1]' info:)
check "the GOLD shot lies over the gold picture" '[ "$corner" = 1 ]'

# --- The test CD+G against FFmpeg's decoder ---
"$tool" test-cdg "$work/test.cdg" >/dev/null || fail "veldmix-tool test-cdg failed"
check "test-cdg writes 48 s of packets" '[ "$(stat -c %s "$work/test.cdg")" = $((14400 * 24)) ]'
"$tool" cdg "$work/test.cdg" 2.5 "$work/ours.png" >/dev/null
ffmpeg -nostdin -v error -i "$work/ours.png" -f rawvideo -pix_fmt rgb24 - >"$work/ours.rgb"
ffmpeg -nostdin -v error -i "$work/test.cdg" -update 1 -f image2 "$work/last.png" -y
ffmpeg -nostdin -v error -i "$work/last.png" -f rawvideo -pix_fmt rgb24 - >"$work/ref.rgb"
check "FFmpeg's last frame equals veldmix-tool cdg at 2.5 s" \
  '[ -s "$work/ref.rgb" ] && cmp -s "$work/ours.rgb" "$work/ref.rgb"'

# --- The run without models ---
wait "$side_pid"
code=$(cat "$work/bare.code")
check "without models the run ends with 1 (got $code)" '[ "$code" = 1 ]'
check "... failing only the three stem checks ($(grep -c "^FAIL" "$work/bare-out/results.txt") failed)" \
  '[ "$(grep -c "^FAIL" "$work/bare-out/results.txt")" = 3 ] &&
   grep -q "^FAIL  AI stems separated: The stem model" "$work/bare-out/results.txt" &&
   grep -qx "FAIL  vocal stem muted" "$work/bare-out/results.txt" &&
   grep -qx "FAIL  GUIDE leaves the vocal at 15%" "$work/bare-out/results.txt"'
check "... and a closed lyrics port is a WARN" 'grep -q "^WARN  LRCLIB: " "$work/bare-out/results.txt"'

# --- The bad arguments ---
read -r code seconds <"$work/missing.code"
check "a missing track ends with 1 (got $code) within $kFailLimit s (took $seconds)" \
  '[ "$code" = 1 ] && less_than "$seconds" $kFailLimit'
check "... naming the track" 'grep -q "^FAIL  deck A loads the test track (.*no-such-song.mp3)$" "$work/missing.err"'
code=$(cat "$work/noargs.code")
check "a missing lyrics file and video end with 1 (got $code)" '[ "$code" = 1 ]'
check "... each failing its check" \
  'results "$work/out-noargs" | grep -q "^FAIL  the lyrics file reads (.*none.lrc)$" &&
   results "$work/out-noargs" | grep -q "^FAIL  the video file reads (.*none.mp4)$"'

# --- No sound server ---
wait "$nosound_pid"
read -r code seconds <"$work/nosound.code"
check "without a sound server the run ends with 1 (got $code, $seconds s)" '[ "$code" = 1 ]'
check "... failing the song's end, which needs the sound" \
  'grep -qx "FAIL  the song ends by itself and is ticked off" "$work/out-nosound/results.txt"'

[ -n "${KEEP_OUT:-}" ] && cp -r "$out" "$work/bare-out" "$KEEP_OUT/"
if [ $fail != 0 ]; then
  for f in "$work"/*.err; do echo "--- $(basename "$f")" >&2; tail -n 25 "$f" >&2; done
  exit 1
fi
echo "karaoke_selftest: all checks passed"
