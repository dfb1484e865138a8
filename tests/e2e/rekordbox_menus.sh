#!/usr/bin/env bash
# Labels: slow
# Cost: 36
# The rekordbox exports from the real program's menus under a private display: the list menu's
# "Export for rekordbox (XML with cues)…" on an imported list and the AI tools menu's "Export
# collection for rekordbox…" write their files (the Save dialogs answered from a file), which
# xmllint accepts, and the pill reads "Exported N tracks to …" (OCR). Entries are found by OCR of
# the screen, so the check follows the layout wherever it draws them.
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/main_window.sh"
need veldmix veldmix-tool ffmpeg xmllint python3 Xvfb xdpyinfo xdotool import convert tesseract
own_sound_server unless-shared
private_home
music="$HOME/Music/Deep Ones é"
mkdir -p "$music"
for f in "One é.mp3" "Two b.flac" "Three c.wav" "Four d.m4a"; do
  ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=2" "$music/$f" || fail "ffmpeg could not make $f"
done
python3 "$source_dir/tests/support/make_rekordbox_xml.py" "$work/rekordbox.xml" "$music" || fail "no rekordbox XML"
"$tool" import rekordbox "$work/rekordbox.xml" >/dev/null 2>&1 || fail "the import failed"
printf '%s\n' "$work/list.xml" "$work/all.xml" >"$work/answers"
export VELDMIX_DIALOG_ANSWERS="$work/answers"

start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 -dpi 96 || fail "no virtual display could be started"
"$app" >"$work/app.out" 2>&1 &
app_pid=$!
window_id() { xdotool search --class '^veldmix$' 2>/dev/null | head -n 1; }
wait_for 15 bash -c '[ -n "$(xdotool search --class "^veldmix\$" 2>/dev/null)" ]' || fail "the main window did not appear"
win=$(window_id)

# The pill (y 100..134, centred), enlarged and inverted for OCR.
pill_text() {
  local width
  import -window "$win" "$work/window.png" 2>/dev/null || return 1
  width=$(identify -format '%w' "$work/window.png") || return 1
  convert "$work/window.png" -crop "700x34+$((width / 2 - 350))+100" +repage -resize 300% -colorspace Gray -negate \
    "$work/pill.png" || return 1
  OMP_THREAD_LIMIT=1 tesseract "$work/pill.png" - --psm 7 2>/dev/null
}
# Runs a menu's export and checks its file and its pill.
export_through() {
  local out=$1 want=$2 shown=""
  wait_for 15 test -s "$out" || fail "no $out was written ($(tail -n 3 "$log"))"
  xmllint --noout "$out" || fail "xmllint rejects $out"
  for _ in $(seq 1 20); do
    shown=$(pill_text)
    grep -q "Exported" <<<"$shown" && break
    sleep 0.2
  done
  grep -qF "$want" <<<"$shown" || fail "the pill reads \"$shown\", not \"$want\""
}

click_word "Deep-Late" 3
click_word "rekordbox" 1
export_through "$work/list.xml" "Exported 2 tracks to list.xml"

click_word "TOOLS" 1
click_word "rekordbox" 1
export_through "$work/all.xml" "Exported 4 tracks to all.xml"
[ "$(grep -c '<TRACK TrackID' "$work/all.xml")" = 4 ] || fail "the collection export holds $(grep -c '<TRACK TrackID' "$work/all.xml") tracks"

kill -TERM "$app_pid"
wait "$app_pid"
echo "rekordbox_menus: PASS"
