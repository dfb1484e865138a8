#!/usr/bin/env bash
# A status message holding a number, in the real window under a German first run: D sets a
# memory cue on the left deck, and the pill reads the German row with the cue's number and time
# filled in (OCR of the pill), not the English text.
set -uo pipefail

fail() {
  echo "status_language: FAIL: $*" >&2
  [ -n "${artifacts:-}" ] && cp "$work"/*.png "$work"/*.txt "$artifacts/" 2>/dev/null
  exit 1
}

build="${VELDMIX_BUILD:?VELDMIX_BUILD must name the build folder}"
source_dir="${VELDMIX_SOURCE:?VELDMIX_SOURCE must name the source folder}"
app="$build/veldmix"
server="$source_dir/scripts/test_audio_server.sh"
[ -x "$app" ] || fail "no veldmix at $app"
for tool in Xvfb xdpyinfo xdotool import identify convert tesseract sox; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done

work="$(mktemp -d /tmp/veldmix-e2e-status-XXXXXX)"
artifacts="$build/e2e-artifacts/status_language"
mkdir -p "$artifacts"
xvfb_pid="" app_pid="" own_server=""
cleanup() {
  [ -n "$app_pid" ] && { kill -TERM "$app_pid"; wait "$app_pid"; } 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  [ -n "$own_server" ] && "$server" stop "$own_server" >/dev/null 2>&1
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

if [ -z "${PULSE_SERVER:-}" ]; then
  own_server="$work/pulse"
  eval "$(VELDMIX_AUDIO_OWNER=$$ "$server" start "$own_server")" || fail "no sound server"
fi
# A first run: the UI language follows the locale.
export HOME="$work/home" LANG=C.UTF-8 LANGUAGE=de_DE
unset XDG_DATA_HOME XDG_STATE_HOME XDG_CONFIG_HOME LC_ALL LC_MESSAGES
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME"
mkdir -m 700 "$XDG_RUNTIME_DIR"

source "$(dirname "${BASH_SOURCE[0]}")/../support/private_display.sh"
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 -dpi 96 || fail "no virtual display could be started"

sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 20 sine 440 vol 0.3 2>/dev/null || fail "sox could not make a track"
"$app" "$work/tone.wav" >"$work/app.out" 2>&1 &
app_pid=$!
window_id() { xdotool search --class '^veldmix$' 2>/dev/null | head -n 1; }
for _ in $(seq 1 150); do [ -n "$(window_id)" ] && break; sleep 0.1; done
win="$(window_id)"
[ -n "$win" ] || fail "the main window did not appear: $(tail -n 5 "$work/app.out")"
# A first run opens the tour over the screen; Esc closes it.
sleep 1
xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
xdotool key --clearmodifiers Escape

# The pill (y 100..134 at scale 1, centred), enlarged and inverted for OCR.
pill_text() {
  local width
  timeout 20 import -window "$win" "$work/window.png" 2>/dev/null || return 1
  width=$(identify -format '%w' "$work/window.png") || return 1
  convert "$work/window.png" -crop "560x34+$((width / 2 - 280))+100" +repage -resize 300% -colorspace Gray -negate \
    "$work/pill.png" || return 1
  OMP_THREAD_LIMIT=1 tesseract "$work/pill.png" - --psm 7 2>/dev/null >"$work/pill.txt"
}
# D sets a memory cue on the left deck once its track has landed; before that it does nothing.
shown=""
for _ in $(seq 1 20); do
  xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
  xdotool key --clearmodifiers d
  sleep 0.4
  pill_text || fail "no screenshot of the window"
  if grep -q "Memory" "$work/pill.txt"; then shown="$(cat "$work/pill.txt")"; break; fi
  sleep 0.6
done
echo "pill: $shown"
[ -n "$shown" ] || fail "no memory cue message appeared (last OCR: $(cat "$work/pill.txt"))"
grep -q "gesetzt bei" <<<"$shown" || fail "the message is not the German row: $shown"
grep -qiE "cue 1 .*0:00\.0" <<<"$shown" || fail "the cue's number and time are not filled in: $shown"
! grep -q "set at" <<<"$shown" || fail "the English text shows: $shown"
cp "$work/window.png" "$artifacts/window.png"
echo "PASS: status language"
