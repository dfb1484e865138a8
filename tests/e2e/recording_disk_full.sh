#!/usr/bin/env bash
# The real program records the mix (REC, Ctrl+R, with a track playing on deck A) onto a music
# folder that is a 2 MiB file system of its own: the recording stops itself while there is still
# room for what comes after it, the status line says why (read off the screen with tesseract),
# and the folder holds a readable WAV, its tracklist and a whole MP3 copy. The script runs in a
# mount namespace of its own, so the small file system is private to it and goes with it.
# About 20 s.
# Labels: slow
# Cost: 24
set -uo pipefail

fail() {
  echo "recording_disk_full: FAIL: $*" >&2
  if [ -n "${log:-}" ] && [ -f "$log" ]; then tail -n 20 "$log" >&2; fi
  exit 1
}

if [ -z "${VELDMIX_PRIVATE_MOUNTS:-}" ]; then
  # Root may make mounts in a namespace of its own; anyone else through a user namespace.
  if [ "$(id -u)" = 0 ]; then ns=(unshare --mount --propagation private); else ns=(unshare --map-root-user --mount); fi
  VELDMIX_PRIVATE_MOUNTS=1 exec "${ns[@]}" bash "$0" "$@"
  fail "no mount namespace could be made (unshare)"
fi

build="${VELDMIX_BUILD:?VELDMIX_BUILD must name the build folder}"
source_dir="${VELDMIX_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
app="$build/veldmix"
server="$source_dir/scripts/test_audio_server.sh"
readonly kFolderSize=2m
readonly kStopWait=40          # s: the WAV fills the file system in about 5 s
readonly kCopyTolerance=0.1    # s: MP3 against WAV
[ -x "$app" ] || fail "no veldmix at $app"
for t in Xvfb xdpyinfo xdotool import convert tesseract sox soxi ffprobe pactl; do
  command -v "$t" >/dev/null || fail "$t is not installed"
done

work="$(mktemp -d /tmp/veldmix-e2e-diskfull-XXXXXX)"
artifacts="$build/e2e-artifacts/recording_disk_full"
rm -rf "$artifacts"
mkdir -p "$artifacts"
xvfb_pid=""
app_pid=""
own_server=""
cleanup() {
  [ -n "$app_pid" ] && kill -KILL "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  [ -n "$own_server" ] && "$server" stop "$own_server" >/dev/null 2>&1
  wait 2>/dev/null
  umount "$work/home/Music" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

if [ -z "${PULSE_SERVER:-}" ] || ! pactl info >/dev/null 2>&1; then
  own_server="$work/pulse"
  eval "$(VELDMIX_AUDIO_OWNER=$$ "$server" start "$own_server")" || fail "no sound server"
fi
export HOME="$work/home" LANG=C.UTF-8 OMP_THREAD_LIMIT=1
unset XDG_DATA_HOME XDG_STATE_HOME XDG_CONFIG_HOME LC_ALL
# A runtime folder of our own: the single-instance socket must not meet another test's copy.
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME/Music" "$HOME/.local/share/Veldmix"
mkdir -m 700 "$XDG_RUNTIME_DIR"
mount -t tmpfs -o size=$kFolderSize tmpfs "$HOME/Music" || fail "no small file system could be mounted"
log="$HOME/.local/state/Veldmix/Veldmix.log"
recordings="$HOME/Music/Veldmix Recordings"
printf '[Tour]\nDone=1\n[Options]\nRecordFormat=1\n' >"$HOME/.local/share/Veldmix/settings.ini"

source "$source_dir/tests/support/private_display.sh"
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"

wait_for() {  # seconds, then a command that must come true
  local limit=$(($1 * 10))
  shift
  for _ in $(seq 1 "$limit"); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}
log_has() { [ -f "$log" ] && grep -qF -- "$1" "$log"; }
window_id() { xdotool search --class '^veldmix$' 2>/dev/null | head -n 1; }
window_shown() { [ -n "$(window_id)" ]; }
press() {
  xdotool windowfocus --sync "$(window_id)" 2>/dev/null
  xdotool key --clearmodifiers "$1"
}
mp3_made() { ls "$recordings"/*.mp3 >/dev/null 2>&1; }
# The track is loaded and analysed once the library autosave has written its record.
in_database() { grep -qF "$work/tone.wav" "$HOME/.local/share/Veldmix/database.tsv" 2>/dev/null; }

sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 30 sine 440 vol 0.3 2>/dev/null || fail "sox could not make a track"
"$app" "$work/tone.wav" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 30 window_shown || fail "the main window did not appear: $(tail -5 "$work/app.out")"
wait_for 10 log_has "Audio: master output started" || fail "the output did not start"
eval "$(xdotool getwindowgeometry --shell "$(window_id)")"  # X Y WIDTH HEIGHT
wait_for 40 in_database || fail "the track never reached the library"
press x
sleep 1
press ctrl+r
wait_for $kStopWait log_has "Audio: recording stopped" || fail "the recording did not stop as the disk filled"
sleep 1  # the next frame shows the reason, for 5 s
# The status line, read off a screenshot (wide enough for the reason and the copy's outcome). The
# screenshots are taken first, the reading done after: each message shows for a few seconds only.
shot() { screen_shot "$artifacts/$1.png" || fail "no screenshot $1"; }
status_line() {
  convert "$artifacts/$1.png" -crop "1200x60+$((X + WIDTH / 2 - 600))+$((Y + 80))" +repage -resize 300% \
    -colorspace Gray -negate "$work/pill.png"
  tesseract "$work/pill.png" - 2>/dev/null | tr -s ' \n' ' '
}
shot stopped
wait_for 30 mp3_made || fail "no MP3 copy appeared: $(ls "$recordings")"  # after the reason's 5 s
sleep 0.3  # the copy's message follows its file
shot copied
shopt -s nocasematch  # tesseract sometimes capitalises a word
text=$(status_line stopped)
case $text in
  *"Recording stopped"*"not enough disk space"*) ;;
  *) fail "when it stopped, the status line said: $text" ;;
esac
text=$(status_line copied)
case $text in
  *"Mix saved as MP3 and WAV in ~/Music/Veldmix Recordings"*) ;;
  *) fail "once copied, the status line said: $text" ;;
esac
shopt -u nocasematch

wav=$(ls "$recordings"/*.wav 2>/dev/null | head -n 1)
[ -n "$wav" ] || fail "the WAV is gone: $(ls "$recordings")"
mp3="${wav%.wav}.mp3"
tracklist="${wav%.wav} tracklist.txt"
wav_seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$wav") || fail "ffprobe cannot read the WAV"
awk -v s="$wav_seconds" 'BEGIN { exit !(s > 2) }' || fail "the WAV holds only $wav_seconds s"
[ "$(soxi -b "$wav")" = 16 ] || fail "the WAV is not 16-bit"
[ "$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$mp3")" = mp3 ] || fail "the copy is not an MP3"
mp3_seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$mp3")
awk -v a="$mp3_seconds" -v b="$wav_seconds" -v t=$kCopyTolerance 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= t) }' ||
  fail "the copy lasts $mp3_seconds s, the WAV $wav_seconds s"
grep -q "0:00  tone.wav" "$tracklist" 2>/dev/null || fail "no tracklist naming the track: $(ls "$recordings")"
[ -z "$(ls "$recordings" | grep -v -e '\.wav$' -e '\.mp3$' -e ' tracklist\.txt$')" ] ||
  fail "something else was left: $(ls "$recordings")"

# With the disk this full a new recording is refused before it starts: it says so, and leaves no
# header-only WAV or empty tracklist behind.
before=$(ls "$recordings")
press ctrl+r
wait_for 10 log_has "Recording: not started, too little room left" || fail "a recording started on a full disk"
sleep 0.5
shot refused
[ "$(ls "$recordings")" = "$before" ] || fail "the refused recording left files: $(ls "$recordings")"
shopt -s nocasematch
text=$(status_line refused)
case $text in
  *"Not enough disk space to record in ~/Music/Veldmix Recordings"*) ;;
  *) fail "when refused, the status line said: $text" ;;
esac
shopt -u nocasematch

kill -TERM "$app_pid"
wait "$app_pid"
code=$?
app_pid=""
[ "$code" = 0 ] || fail "the program ended with $code"
echo "recording_disk_full: PASS ($wav_seconds s recorded)"
