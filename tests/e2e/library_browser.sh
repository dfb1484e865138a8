#!/usr/bin/env bash
# Labels: slow
# Cost: 94
# The library browser in the real program (Library layout, a folder of 40 tracks made by ffmpeg)
# under a virtual display with a window manager: OCR reads titles and "40 tracks", covered rows
# show their cover's colour and the others the placeholder; Ctrl+F filters
# on every key, a paste stops at its line break, Esc clears and a second Esc lets go of the box;
# header clicks sort and flip and a right press opens the sort menu; the wheel and the scrollbar
# stop at the last row; Down keeps the selection in view, Enter loads, Space prelistens with the
# title in the strip; rows dragged onto deck B and onto Prepare land there; stars set and clear a
# rating; the row menu's tag form writes the file (mutagen reads it) and Analyze analyses it; the
# sidebar adds, shows and removes a folder, saves a crate of the search and makes a playlist;
# "Show in folder" reaches Thunar on a private session bus with the file's URI, and without
# a file manager xdg-open hands the folder to the handler of a private mimeapps.list; the list
# menu's M3U export is read back by Python. Screenshots go to $VELDMIX_BUILD/e2e-artifacts.
set -euo pipefail
started="$(date +%T)"

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix veldmix-tool Xvfb xdpyinfo xwininfo xdotool xprop xclip openbox import convert tesseract ffmpeg \
  dbus-daemon dbus-monitor thunar xdg-open python3
artifacts="$build/e2e-artifacts/library_browser"
rm -rf "$artifacts"
mkdir -p "$artifacts"
private_home
no_sound_server
data="$HOME/.local/share/Veldmix"
music="$work/music"
mkdir -p "$music" "$data"

# --- 40 tracks: "Song 01".."Song 38" and two zebras; one sound made by ffmpeg, copied and tagged
# by mutagen; covers drawn by ImageMagick and embedded by ffmpeg: a red PNG in track 1, a blue
# JPEG in track 2; track 3 has none ---
ffmpeg -v error -f lavfi -i "sine=f=440:d=20" -c:a libmp3lame -q:a 9 "$work/base.mp3" || fail "ffmpeg could not make a track"
/usr/bin/python3 - "$work/base.mp3" "$music" <<'EOF' || fail "mutagen could not tag the tracks"
import shutil, sys
from mutagen.id3 import ID3, TIT2, TPE1
for i in range(1, 41):
    title = "Song %02d" % i if i <= 38 else ("Zebra One" if i == 39 else "Zebra Two")
    path = "%s/t%02d.mp3" % (sys.argv[2], i)
    shutil.copyfile(sys.argv[1], path)
    tags = ID3()
    tags.add(TIT2(encoding=3, text=title))
    tags.add(TPE1(encoding=3, text="Band"))
    tags.save(path)
EOF
path_of() { printf '%s/t%02d.mp3' "$music" "$1"; }
convert -size 300x300 xc:'rgb(220,30,30)' "$work/red.png"
convert -size 300x300 xc:'rgb(30,60,220)' "$work/blue.jpg"
for cover in "1 red.png" "2 blue.jpg"; do
  read -r i picture <<<"$cover"
  ffmpeg -v error -i "$(path_of "$i")" -i "$work/$picture" -map 0:a -map 1 -c:a copy -c:v copy -id3v2_version 3 \
    -disposition:v attached_pic "$work/covered.mp3" && mv "$work/covered.mp3" "$(path_of "$i")" ||
    fail "ffmpeg could not embed $picture"
done
# The file dialogs of the run, in order: FOLDERS + and the list menu's export.
mkdir -p "$work/music2"
ffmpeg -v error -f lavfi -i "sine=f=500:d=3" -metadata title="Lonely" -c:a libmp3lame -q:a 9 "$work/music2/x.mp3" ||
  fail "ffmpeg could not make the second folder's track"
printf '%s\n%s\n' "$work/music2" "$work/prepare-out.m3u8" >"$work/answers"
export VELDMIX_DIALOG_ANSWERS="$work/answers"
cat >"$settings" <<EOF
[Tour]
Done=1
[Look]
Layout=1
[Library]
Count=1
Folder0=$music
Selected=0
EOF

# --- A private session bus with Thunar owning org.freedesktop.FileManager1 ---
cat >"$work/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$work/bus</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>
  </policy>
</busconfig>
EOF
dbus-daemon --config-file="$work/bus.conf" --nofork >"$work/bus.log" 2>&1 &
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus"
wait_for 10 test -S "$work/bus" || fail "the private session bus did not start"
dbus-monitor "interface='org.freedesktop.FileManager1'" >"$work/calls" 2>&1 &
# Without a file manager xdg-open (no desktop named) reads the private mimeapps.list: its folder
# handler records what it was given.
mkdir -p "$HOME/.config" "$HOME/.local/share/applications"
cat >"$work/opened.sh" <<EOF
#!/bin/sh
printf '%s\n' "\$1" >>"$work/opened"
EOF
chmod +x "$work/opened.sh"
printf '[Desktop Entry]\nType=Application\nName=Recorder\nExec=%s %%f\nMimeType=inode/directory;\n' \
  "$work/opened.sh" >"$HOME/.local/share/applications/veldmix-recorder.desktop"
printf '[Default Applications]\ninode/directory=veldmix-recorder.desktop\n' >"$HOME/.config/mimeapps.list"
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION

start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 -dpi 96 || fail "no virtual display could be started"
start_private_wm "$work/openbox.log" || fail "openbox did not start"
thunar --daemon >"$work/thunar.log" 2>&1 &
thunar_pid=$!
owned() { dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
  string:org.freedesktop.FileManager1 2>/dev/null | grep -q 'boolean true'; }
wait_for 20 owned || fail "Thunar did not take org.freedesktop.FileManager1"

# --- Helpers ---
visible_windows() { xdotool search --onlyvisible --class '^veldmix$' 2>/dev/null | wc -l; }
windows_are() { [ "$(visible_windows)" -eq "$1" ]; }
geometry() {
  xwininfo -id "$win" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
    /^ *Width:/{w=$2} /^ *Height:/{h=$2} END{print x, y, w, h}'
}
main_found() {
  local id
  id="$(xwininfo -root -tree 2>/dev/null | awk '/"VELDMIX [0-9.]*": \("veldmix"/ {print $1; exit}')"
  [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' || return 1
  win=$((id))
}
# The window keeps its place and size: its geometry and the layout (for one and for two music
# folders) are read once.
read_layout() {
  geometry >"$work/geometry"
  local size
  size="$(cut -d' ' -f3-4 "$work/geometry")"
  for n in 1 2; do
    # shellcheck disable=SC2086
    "$tool" layout $size --layout library --tracks 40 --folders "$n" >"$work/layout$n" || fail "no layout for $size"
  done
}
rect() {  # name: x y w h inside the window, laid out for 40 tracks in view
  awk -v n="$1" '$1 == n {print $2, $3, $4, $5; found=1} END{exit !found}' "$work/layout${folders:-1}" ||
    fail "the layout has no rectangle $1"
}
point_in() {  # name dx dy: a screen point inside the named rectangle
  local wx wy rx ry
  read -r wx wy _ _ <"$work/geometry"
  read -r rx ry _ _ <<<"$(rect "$1")"
  echo "$((wx + rx + $2)) $((wy + ry + $3))"
}
shot() { screen_shot "$artifacts/$1.png" || fail "no screenshot $1"; }
ocr_rect() {  # shot name [dx dw]: the text in a named rectangle of the window
  local wx wy rx ry rw rh
  read -r wx wy _ _ <"$work/geometry"
  read -r rx ry rw rh <<<"$(rect "$2")"
  convert "$artifacts/$1.png" -crop "$((rw - ${4:-0}))x$rh+$((wx + rx + ${3:-0}))+$((wy + ry))" +repage \
    -resize 300% -colorspace Gray -negate "$work/ocr.png"
  OMP_THREAD_LIMIT=1 tesseract "$work/ocr.png" - --psm 6 2>/dev/null | tr -s ' \n' ' '
}
count_is() {  # the count line reads "N tracks"
  shot count
  [[ "$(ocr_rect count count)" == *"$1"* ]]
}
# The title of visible row i (the cell after the art placeholder, up to the artist column).
row_title() {
  shot "row$1"
  local ax
  read -r ax _ _ _ <<<"$(rect header.artist)"
  local rx
  read -r rx _ _ _ <<<"$(rect "row.$1")"
  ocr_rect "row$1" "row.$1" 59 $(($(rect "row.$1" | cut -d' ' -f3) - (ax - rx) + 59))
}
row_is() { [[ "$(row_title "$1")" == *"$2"* ]]; }
click_at() {  # name dx dy [button]
  read -r cx cy <<<"$(point_in "$1" "$2" "$3")"
  xdotool mousemove "$cx" "$cy"
  sleep 0.15
  xdotool click "${4:-1}"
  sleep 0.2
}
drag() {  # from-name dx dy to-name dx dy
  read -r fx fy <<<"$(point_in "$1" "$2" "$3")"
  read -r tx ty <<<"$(point_in "$4" "$5" "$6")"
  xdotool mousemove "$fx" "$fy"
  sleep 0.15
  xdotool mousedown 1
  sleep 0.15
  for step in 1 2 3 4 5 6; do
    xdotool mousemove $((fx + (tx - fx) * step / 6)) $((fy + (ty - fy) * step / 6))
    sleep 0.08
  done
  sleep 0.2
  xdotool mouseup 1
  sleep 0.3
}
blue_at() {  # shot, window x y: the blue channel there
  local wx wy
  read -r wx wy _ _ <"$work/geometry"
  convert "$artifacts/$1.png" -format "%[fx:int(255*p{$((wx + $2)),$((wy + $3))}.b)]" info:
}

echo "$(date +%T) start (made at $started)" >&2
# --- The folder in view ---
"$app" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 30 main_found || fail "the main window did not appear"
xdotool windowactivate --sync "$win" 2>/dev/null || true
sleep 0.5
read_layout
wait_for 20 count_is "40 tracks" || fail "the count line reads '$(ocr_rect count count)', not 40 tracks"
row_is 0 "Song 01" || fail "row 0 reads '$(row_title 0)', not Song 01"
row_is 1 "Song 02" || fail "row 1 reads '$(row_title 1)', not Song 02"
# Each covered row's 20x20 cell holds its cover's colour, the others the faint placeholder.
cell_mean() {  # shot row: "r g b" of the cover cell's inner 16x16
  local wx wy rx ry
  read -r wx wy _ _ <"$work/geometry"
  read -r rx ry _ _ <<<"$(rect "row.$2")"
  convert "$artifacts/$1.png" -crop "16x16+$((wx + rx + 34))+$((wy + ry + 4))" +repage \
    -format "%[fx:int(255*mean.r)] %[fx:int(255*mean.g)] %[fx:int(255*mean.b)]" info:
}
covers_drawn() {
  shot covers
  read -r r0 g0 b0 <<<"$(cell_mean covers 0)"
  read -r r1 g1 b1 <<<"$(cell_mean covers 1)"
  [ "$r0" -gt 180 ] && [ "$g0" -lt 70 ] && [ "$b0" -lt 70 ] && [ "$b1" -gt 180 ] && [ "$r1" -lt 70 ]
}
wait_for 10 covers_drawn || fail "the cover cells of rows 0 and 1 are '$(cell_mean covers 0)' and '$(cell_mean covers 1)'"
read -r r2 g2 b2 <<<"$(cell_mean covers 2)"
[ "$r2" -lt 60 ] && [ "$g2" -lt 60 ] && [ "$b2" -lt 70 ] || fail "the uncovered row 2 shows '$r2 $g2 $b2'"

# --- Search: Ctrl+F, typing, paste, Esc twice ---
echo "$(date +%T) search" >&2
xdotool key ctrl+f
xdotool type --delay 60 'zebra'
wait_for 5 count_is "2 tracks" || fail "typing zebra left '$(ocr_rect count count)'"
xdotool type --delay 60 ' tw'
wait_for 5 count_is "1 track" || fail "typing ' tw' left '$(ocr_rect count count)'"
xdotool key Escape
wait_for 5 count_is "40 tracks" || fail "Esc did not clear the search"
printf 'zebra\nSong' | xclip -selection clipboard -quiet >/dev/null 2>&1 &
clipboard_ready() { [ "$(xclip -selection clipboard -o 2>/dev/null | head -n 1)" = "zebra" ]; }
wait_for 5 clipboard_ready || fail "xclip did not take the clipboard"
xdotool key ctrl+v
wait_for 5 count_is "2 tracks" || fail "the paste gave '$(ocr_rect count count)', not the 2 zebras"
read -r sx _ _ sh <<<"$(rect search)"
read -r _ sy _ _ <<<"$(rect search)"
shot focused
[ "$(blue_at focused "$sx" $((sy + sh / 2)))" -gt 150 ] || fail "the focused search box has no deck-A outline"
xdotool key Escape
wait_for 5 count_is "40 tracks" || fail "the first Esc did not clear the pasted search"
shot still-focused
[ "$(blue_at still-focused "$sx" $((sy + sh / 2)))" -gt 150 ] || fail "the first Esc took the focus"
xdotool key Escape
outline_gone() { shot unfocused && [ "$(blue_at unfocused "$sx" $((sy + sh / 2)))" -lt 100 ]; }
wait_for 3 outline_gone || fail "the second Esc left the focus"

# --- Sorting ---
echo "$(date +%T) sorting" >&2
click_at header.title 20 10
wait_for 5 row_is 0 "Zebra Two" || fail "a click on TITLE did not flip to descending: '$(row_title 0)'"
click_at header.title 20 10
wait_for 5 row_is 0 "Song 01" || fail "a second click did not flip back: '$(row_title 0)'"
click_at header.artist 20 10 3
wait_for 5 windows_are 2 || fail "a right press on the header opened no sort menu"
xdotool key Escape
wait_for 5 windows_are 1 || fail "Esc did not close the sort menu"

# --- Scrolling stops at the last row ---
echo "$(date +%T) sidebar" >&2
# --- Sidebar: FOLDERS + adds and shows a folder, a right press removes it; crate + takes the
# search; the new-playlist form ---
click_at folders.plus 12 10
wait_for 10 count_is "1 track" || fail "FOLDERS + did not show the added folder: '$(ocr_rect count count)'"
grep -qxF "Folder1=$work/music2" "$settings" || fail "the added folder is not in settings.ini"
folders=2 click_at folder.1 60 10 3
wait_for 10 count_is "40 tracks" || fail "removing the shown folder did not show the first again"
grep -q "^Folder1=" "$settings" && fail "the removed folder is still in settings.ini"
grep -qx "Count=1" "$settings" || fail "settings.ini does not count one folder"
xdotool key ctrl+f
xdotool type --delay 60 'zebra'
wait_for 5 count_is "2 tracks" || fail "typing zebra again left '$(ocr_rect count count)'"
click_at crates.plus 12 10
sleep 0.3
xdotool key Return
crate_saved() { [ -f "$data/crates.tsv" ] && grep -qxP 'zebra\tzebra' "$data/crates.tsv"; }
wait_for 5 crate_saved || fail "the new crate is not 'zebra' with the search 'zebra'"
click_at lists.plus 12 10
sleep 0.3
xdotool type --delay 60 'Warmup'
xdotool key Return
wait_for 5 test -f "$data/Lists/Warmup.m3u8" || fail "the new-playlist form made no list file"
click_at folder.0 60 10
xdotool key ctrl+f Escape Escape
wait_for 10 count_is "40 tracks" || fail "back in the folder the count reads '$(ocr_rect count count)'"

echo "$(date +%T) scrolling" >&2
read -r _ _ _ lh <<<"$(rect list)"
visible=$((lh / 24))
last=$((visible - 1))
click_at list 300 5 5
xdotool click --repeat 30 --delay 20 5
sleep 0.3
wait_for 5 row_is "$last" "Zebra Two" || fail "wheeling down ends at '$(row_title "$last")', not Zebra Two"
xdotool click --repeat 10 --delay 20 5
sleep 0.3
row_is "$last" "Zebra Two" || fail "more wheel passed the end: the last row reads '$(row_title "$last")'"
xdotool click --repeat 30 --delay 20 4
sleep 0.3
wait_for 5 row_is 0 "Song 01" || fail "wheeling up did not come back to the top"
# The scrollbar: a press at its bottom jumps to the end; dragging far below stays there.
drag scrollbar 3 $((lh - 2)) scrollbar 3 $((lh + 400))
wait_for 5 row_is "$last" "Zebra Two" || fail "the scrollbar's end shows '$(row_title "$last")'"
drag scrollbar 3 $((lh - 5)) scrollbar 3 -2000
wait_for 5 row_is 0 "Song 01" || fail "dragging the thumb up did not reach the top"

echo "$(date +%T) keys" >&2
# --- Keys: Down keeps the selection in view, Enter loads, Space prelistens ---
click_at row.0 200 12
for _ in $(seq 1 39); do xdotool key Down; done
sleep 0.5
wait_for 5 row_is "$last" "Zebra Two" || fail "Down left the selection out of view: '$(row_title "$last")'"
read -r _ ry _ _ <<<"$(rect "row.$last")"
read -r tx _ _ _ <<<"$(rect header.bpm)"
shot selected
[ "$(blue_at selected "$tx" $((ry + 12)))" -gt 40 ] || fail "the selected last row is not highlighted"
xdotool key Return
xdotool key space
# The strip's title is light on a dark bar that fills with yellow as it plays: only the light
# text is kept for OCR.
strip_text() {
  local wx wy rx ry rw rh
  read -r wx wy _ _ <"$work/geometry"
  read -r rx ry rw rh <<<"$(rect count)"
  convert "$artifacts/strip.png" -crop "${rw}x$rh+$((wx + rx))+$((wy + ry))" +repage -resize 300% -colorspace Gray \
    -threshold 60% -negate "$work/ocr.png"
  OMP_THREAD_LIMIT=1 tesseract "$work/ocr.png" - --psm 6 2>/dev/null | tr -s ' \n' ' '
}
strip_shows() {
  shot strip
  [[ "$(strip_text)" == *"Zebra Two"* ]]
}
wait_for 10 strip_shows || fail "the prelisten strip reads '$(strip_text)', not the title"
xdotool key space

echo "$(date +%T) drags" >&2
# --- Drags: onto deck B, onto the Prepare list ---
xdotool click --repeat 30 --delay 20 4
sleep 0.3
drag row.0 200 12 panel.1 200 60
drag row.1 200 12 list.1 60 10
prepared() { [ -f "$data/Lists/Prepare.m3u8" ] && grep -qxF "$(path_of 2)" "$data/Lists/Prepare.m3u8"; }
wait_for 5 prepared || fail "the row dropped on Prepare is not in Prepare.m3u8"

# --- Stars: row 2 gets four, row 3 gets two and then none ---
read -r stx _ _ _ <<<"$(rect row.2.stars)"
click_at row.2.stars 42 12
click_at row.3.stars 18 12
click_at row.3.stars 18 12

echo "$(date +%T) edit tags, analyze" >&2
# --- The row menu's tag form (Up thrice: Edit tags…) and Analyze (Up twice) ---
click_at row.7 200 12 3
wait_for 5 windows_are 2 || fail "a right-click on row 7 opened no menu"
xdotool key Up Up Up Return
wait_for 5 windows_are 1 || fail "the row menu did not close"
sleep 0.3
xdotool type --delay 60 ' Edit'
xdotool key Return
tagged() { /usr/bin/python3 -c 'import sys, mutagen; sys.exit(mutagen.File(sys.argv[1])["TIT2"].text[0] != "Song 08 Edit")' \
  "$(path_of 8)" 2>/dev/null; }
wait_for 10 tagged || fail "the tag form did not write the title 'Song 08 Edit'"
click_at row.8 200 12 3
wait_for 5 windows_are 2 || fail "a right-click on row 8 opened no menu"
xdotool key Up Up Return

echo "$(date +%T) show in folder" >&2
# --- Show in folder: Thunar gets the file's URI and shows its folder ---
click_at row.4 200 12 3
wait_for 5 windows_are 2 || fail "a right-click on a row opened no menu"
xdotool key Up Return
uri="file://$(path_of 5)"
called() { grep -qF "string \"$uri\"" "$work/calls"; }
wait_for 10 called || fail "no ShowItems call with $uri reached the bus"
thunar_shows() { xdotool search --name "^$(basename "$music") - Thunar" >/dev/null 2>&1; }
wait_for 10 thunar_shows || fail "Thunar shows no window of the folder"

# Without a file manager on the bus: xdg-open gets the folder.
kill "$thunar_pid"
wait "$thunar_pid" 2>/dev/null || true
wait_for 10 sh -c '! dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner string:org.freedesktop.FileManager1 | grep -q "boolean true"' ||
  fail "Thunar kept the name"
xdotool windowactivate --sync "$win" 2>/dev/null || true
click_at row.6 200 12 3
wait_for 5 windows_are 2 || fail "the row menu did not open again"
xdotool key Up Return
handed() { [ -f "$work/opened" ] && grep -qxF "$music" "$work/opened"; }
wait_for 15 handed || fail "xdg-open did not hand the folder to the private handler"

# --- The list menu: M3U export ---
click_at list.1 60 10 3
wait_for 5 windows_are 2 || fail "a right-click on Prepare opened no list menu"
xdotool key Down Down Return
wait_for 10 test -f "$work/prepare-out.m3u8" || fail "the M3U export wrote nothing"

echo "$(date +%T) close" >&2
# --- The orderly close keeps the decks and the ratings ---
kill -TERM "$app_pid"
wait_for 20 sh -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not end after SIGTERM"
wait "$app_pid" || fail "the program ended with an error"
app_pid=""
python3 - "$work/prepare-out.m3u8" "$(path_of 2)" <<'EOF' || fail "the exported M3U is not right"
import sys
data = open(sys.argv[1], "rb").read()
assert data.startswith(b"\xef\xbb\xbf#EXTM3U\n"), data[:20]
lines = data[3:].decode("utf-8").split("\n")
assert lines[1:] == [sys.argv[2], ""], lines
EOF
python3 - "$settings" "$data/database.tsv" "$(path_of 40)" "$(path_of 1)" "$(path_of 3)" "$(path_of 4)" "$(path_of 9)" <<'EOF' ||
import configparser, sys
ini = configparser.ConfigParser(interpolation=None)
ini.optionxform = str
ini.read(sys.argv[1], encoding="utf-8-sig")
session = ini["Session"]
assert session.get("DeckAPath") == sys.argv[3], ("deck A", session.get("DeckAPath"))
assert session.get("DeckBPath") == sys.argv[4], ("deck B", session.get("DeckBPath"))
ratings, analysed = {}, {}
for line in open(sys.argv[2], encoding="utf-8"):
    cols = line.rstrip("\n").split("\t")
    if len(cols) > 15:
        ratings[cols[0]] = int(cols[15])
        analysed[cols[0]] = cols[5]
assert analysed.get(sys.argv[7]) == "1", ("Analyze on row 8 (Song 09)", analysed.get(sys.argv[7]))
assert ratings.get(sys.argv[5]) == 4, ("row 2 (Song 03)", ratings.get(sys.argv[5]))
assert ratings.get(sys.argv[6], 0) == 0, ("row 3 (Song 04) clicked twice", ratings.get(sys.argv[6]))
EOF
  fail "the session or the ratings were not saved"
