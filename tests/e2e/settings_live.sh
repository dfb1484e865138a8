#!/usr/bin/env bash
# Labels: slow
# Cost: 96
# The settings screen and the skin editor in the real program under a virtual display with a
# window manager, clicked where `veldmix-tool layout --settings` says each widget is drawn:
# ⚙ opens the screen and each tab its page; every row of the Look and Library pages writes
# settings.ini at the click (read back by Python's configparser) and the screen follows at once;
# NEON recolours decks A-D; colours typed into the skin editor show in their swatches (pixels) or
# are refused; UNDO CHANGES restores; SAVE AS SKIN… with "/" and accents writes the file a Python
# writer gives byte for byte; EXPORT… writes the same bytes; IMPORT… selects a skin; each import
# row opens its own dialog (a recording zenity on PATH answers); a restart keeps the palette.
# Screenshots go to $VELDMIX_BUILD/e2e-artifacts.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/settings_ini.sh"
need veldmix veldmix-tool python3 Xvfb xdpyinfo xwininfo xdotool xprop xclip openbox import convert compare tesseract
artifacts="$build/e2e-artifacts/settings_live"
rm -rf "$artifacts"
mkdir -p "$artifacts"
private_home
no_sound_server
data="$HOME/.local/share/Veldmix"
vxskin="$source_dir/tests/support/vxskin.py"

recording_zenity

app_pid="" wm_pid="" clip_pid=""
main_found() {
  local id
  id="$(xwininfo -root -tree 2>/dev/null | awk '/"VELDMIX [0-9.]*": \("veldmix"/ {print $1; exit}')"
  [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' || return 1
  win=$((id))
}
geometry() {  # the main window's client area on the screen: x y w h
  xwininfo -id "$win" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
    /^ *Width:/{w=$2} /^ *Height:/{h=$2} END{print x, y, w, h}'
}
start_app() {
  "$app" >>"$work/app.out" 2>&1 &
  app_pid=$!
  wait_for 30 main_found || fail "the main window did not appear"
  sleep 1
  wait_for 5 main_found || fail "the main window went away"
  xdotool windowactivate --sync "$win" 2>/dev/null || true
}
stop_app() {
  kill -TERM "$app_pid"
  wait_for 20 sh -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not end after SIGTERM"
  wait "$app_pid" || fail "the program ended with an error"
  app_pid=""
}
# The click map of the settings tab (or --skin-editor) for the window's size, made once.
click_map() {  # tab|--skin-editor
  local ww wh file
  read -r _ _ ww wh <<<"$(geometry)"
  file="$work/map-${ww}x$wh$1"
  if [ ! -s "$file" ]; then
    if [ "$1" = --skin-editor ]; then "$tool" layout "$ww" "$wh" --skin-editor >"$file"
    else "$tool" layout "$ww" "$wh" --settings "$1" >"$file"; fi
  fi
  cat "$file"
}
# The screen centre of widget id on the settings tab (or --skin-editor); nth match (default 1).
at_widget() {  # id tab|--skin-editor [nth]
  local wx wy
  read -r wx wy _ _ <<<"$(geometry)"
  click_map "$2" |
    awk -v id="id.$1" -v n="${3:-1}" -v wx="$wx" -v wy="$wy" \
      '$1 == id && ++seen == n {printf "%d %d\n", wx + $2 + $4 / 2, wy + $3 + $5 / 2; found = 1; exit} END {exit !found}' ||
    fail "no widget $1 on $2"
}
click() {  # id tab|--skin-editor [nth]
  local at
  at="$(at_widget "$@")"
  # shellcheck disable=SC2086
  xdotool mousemove $at click 1
  sleep 0.2
}
shot() { screen_shot "$artifacts/$1.png" || fail "no screenshot $1"; }
# The screen pixel at x y as RRGGBB.
pixel() {
  shot pixel
  convert "$artifacts/pixel.png" -crop "1x1+$1+$2" +repage -depth 8 txt:- | grep -o '#[0-9A-F]\{6\}' | tr -d '#'
}
# The swatch of skin-editor colour i, as RRGGBB (the pointer moved off: a hovered cell glows).
swatch() {
  xdotool mousemove 0 0
  local x y wx wy
  read -r wx wy _ _ <<<"$(geometry)"
  read -r x y _ _ <<<"$(click_map --skin-editor | awk -v id="id.$((3500 + $1))" '$1 == id {print $2, $3, $4, $5; exit}')"
  pixel $((wx + x + 26)) $((wy + y + 18))
}
swatch_is() { [ "$(swatch "$1")" = "$2" ]; }
# OCR of a window area (x y w h inside the window), enlarged and inverted (light on dark).
ocr() {  # name x y w h [lang]
  local wx wy
  read -r wx wy _ _ <<<"$(geometry)"
  shot "$1"
  convert "$artifacts/$1.png" -crop "${4}x$5+$((wx + $2))+$((wy + $3))" +repage -resize 300% -colorspace Gray -negate \
    "$work/ocr.png"
  OMP_THREAD_LIMIT=1 tesseract "$work/ocr.png" - -l "${6:-eng}" --psm 6 2>/dev/null | tr '\n' ' '
}
# The settings panel's left and top edges inside the window (at most 1240 x 800, centred).
panel_xy() {
  local ww wh pw ph py
  read -r _ _ ww wh <<<"$(geometry)"
  pw=$((ww - 40 < 1240 ? ww - 40 : 1240)) ph=$((wh - 24 < 800 ? wh - 24 : 800))
  py=$((wh / 2 - ph / 2)) && [ "$py" -ge 12 ] || py=12
  echo "$(((ww - pw) / 2)) $py"
}
# The page title, read from the header.
title_reads() {  # text [lang]
  local px py t
  read -r px py <<<"$(panel_xy)"
  t="$(ocr title $((px + 214 + 32)) $((py + 16)) 400 44 "${2:-eng}")"
  [[ "$t" == *"$1"* ]]
}
type_colour() {  # swatch index, text: the colour form cleared and given the text
  click $((3500 + $1)) --skin-editor
  xdotool key BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace
  xdotool type --delay 60 "$2"
  xdotool key Return
  sleep 0.4
}
# The dimmed main screen left of the settings panel: it follows the layout row.
margin_crop() {
  local wx wy ww wh
  read -r wx wy ww wh <<<"$(geometry)"
  shot margin
  convert "$artifacts/margin.png" -crop "100x$((wh - 200))+$wx+$((wy + 100))" +repage "$work/$1.png"
}

# The first-run tour is done: it would lie over everything.
mkdir -p "$data"
printf '[Tour]\r\nDone=1\r\n' >"$settings"

start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 -dpi 96 || fail "no virtual display could be started"
start_private_wm "$work/openbox.log" || fail "openbox did not start"
start_app

# --- ⚙ opens the screen; the Look tab its page ---
click 2 5
click 3005 5
wait_for 5 title_reads Look || fail "⚙ and the Look tab did not show the Look page"
shot look

# --- Every Look row writes settings.ini at the click; the screen follows ---
click 3101 5
expect_ini Look Theme 1 "NEON"
margin_crop before-layout
click 3108 5
expect_ini Look Layout 2 "PERFORMANCE"
margin_crop after-layout
[ "$(compare -metric AE "$work/before-layout.png" "$work/after-layout.png" null: 2>&1 | cut -d' ' -f1)" != 0 ] ||
  fail "the main screen under the settings did not follow the layout row"
click 3106 5
expect_ini Look Layout 0 "FULL"
click 3111 5
expect_ini Look Vertical 1 "VERTICAL"
click 3110 5
expect_ini Look Vertical 0 "HORIZONTAL"
click 3588 5
expect_ini Look DeckArt 0 "cover art HIDDEN"
click 3581 5
expect_ini Visualiser Style 1 "the next visual"
click 3583 5
expect_ini Visualiser Auto 1 "EVERY 16 BARS"
click 3584 5
expect_ini Visualiser Track 0 "track name HIDDEN"
click 3586 5
expect_ini Options Language 4 "language back from English"
wait_for 5 title_reads Apparence fra || fail "the page did not follow the language: '$(ocr title 0 0 1 1)'"
click 3587 5
expect_ini Options Language 0 "language on to English"
wait_for 5 title_reads Look || fail "the page did not come back to English"
click 3481 5 1
expect_ini Look Skin Midnight "the skin after Veldmix"
click 3480 5
expect_ini Look Skin Veldmix "the skin before Midnight"

# --- The skin editor: NEON's deck colours, typed colours, UNDO ---
click 3481 5 2  # EDIT COLOURS…
sleep 0.3
shot editor
for pair in 17:00E5FF 18:FF2BD6 19:B6FF3D 20:FFC83D; do
  wait_for 3 swatch_is "${pair%%:*}" "${pair#*:}" || fail "colour ${pair%%:*} shows $(swatch "${pair%%:*}"), not ${pair#*:}"
done
type_colour 0 '#2a0b3c'
wait_for 3 swatch_is 0 2A0B3C || fail "the Background swatch shows $(swatch 0) after #2a0b3c"
for bad in 1FA8F 1FA8FFF 1FA8FG; do
  type_colour 1 "$bad"
  wait_for 3 swatch_is 1 13161D || fail "$bad was taken: the Panels swatch shows $(swatch 1)"
done
type_colour 1 FF0000
wait_for 3 swatch_is 1 FF0000 || fail "FF0000 did not show"
click 3531 --skin-editor  # UNDO CHANGES
wait_for 3 swatch_is 1 13161D || fail "UNDO CHANGES left Panels at $(swatch 1)"
wait_for 3 swatch_is 0 07080C || fail "UNDO CHANGES left Background at $(swatch 0)"

# --- SAVE AS SKIN… with "/" and accents (pasted: xdotool types only ASCII reliably) ---
type_colour 0 '#2a0b3c'
click 3530 --skin-editor
printf 'Noche/Ñú: é' | xclip -selection clipboard -quiet >/dev/null 2>&1 &
clip_pid=$!
clipboard_ready() { [ "$(xclip -selection clipboard -o 2>/dev/null)" = 'Noche/Ñú: é' ]; }
wait_for 5 clipboard_ready || fail "xclip did not take the clipboard"
xdotool key BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace ctrl+v
sleep 0.3
xdotool key Return
name='Noche_Ñú_ é'
expect_ini Look Skin "$name" "SAVE AS SKIN…"
python3 "$vxskin" write "$work/expected.vxskin" "$name" Background=2A0B3C --theme 1
wait_for 5 test -f "$data/Skins/$name.vxskin" || fail "no $name.vxskin in Skins: $(ls "$data/Skins")"
cmp "$work/expected.vxskin" "$data/Skins/$name.vxskin" || fail "the saved skin differs from the Python writer's"
click 3532 --skin-editor  # DONE

# --- EXPORT… writes the same bytes; IMPORT… selects ---
echo "$work/exported.vxskin" >"$ZENITY_ANSWERS"
click 3483 5
wait_for 5 test -f "$work/exported.vxskin" || fail "EXPORT… wrote nothing (zenity saw: $(cat "$ZENITY_LOG"))"
cmp "$work/expected.vxskin" "$work/exported.vxskin" || fail "the exported skin differs from the saved one"
python3 "$vxskin" write "$work/Import Me.vxskin" "Import Me" Background=112233 DeckA=445566
echo "$work/Import Me.vxskin" >"$ZENITY_ANSWERS"
click 3482 5
expect_ini Look Skin "Import Me" "IMPORT…"
cmp "$work/Import Me.vxskin" "$data/Skins/Import Me.vxskin" || fail "the imported copy differs"

# --- Library: rows in order, each import opens its own dialog, album art ---
click 3002 5
wait_for 5 title_reads Library || fail "the Library tab did not show its page"
read -r px py <<<"$(panel_xy)"
rows="$(ocr library $((px + 214 + 32)) $((py + 136)) 150 320)"
echo "$rows" >"$artifacts/library-rows.txt"
python3 - "$rows" <<'EOF' || fail "the import rows read '$rows'"
import sys
text = sys.argv[1]
order = [text.find(label) for label in ("rekordbox", "Serato DJ", "Traktor", "VirtualDJ", "iTunes / Music")]
sys.exit(0 if all(i >= 0 for i in order) and order == sorted(order) else 1)
EOF
: >"$ZENITY_LOG"
printf '\n\n\n\n\n\n\n' >"$ZENITY_ANSWERS"
for id in 3030 3032 3037 3038 3031 3036; do click "$id" 2; done
click 3035 2 1  # FIND MOVED FILES…
wait_for 5 sh -c "[ \$(wc -l <'$ZENITY_LOG') -ge 7 ]" || fail "only $(wc -l <"$ZENITY_LOG") dialogs opened"
cat >"$work/titles" <<'EOF'
Choose your rekordbox.xml (in rekordbox: File ▸ Export Collection in xml format)
Choose your _Serato_ folder
Choose Traktor's collection.nml (Documents ▸ Native Instruments ▸ Traktor …)
Choose VirtualDJ's database.xml (Documents ▸ VirtualDJ)
Choose your iTunes / Music “Library.xml” (File ▸ Library ▸ Export Library)
Export for rekordbox
Where is your music now? Choose the folder to search
EOF
diff "$work/titles" "$ZENITY_LOG" || fail "the Library page's buttons opened other dialogs"
click 3034 2
expect_ini Look Art 0 "album art HIDDEN"
click 3035 2 2
expect_ini Look Art 1 "album art SHOWN"

# --- A restart keeps the skin and the theme ---
xdotool key Escape
stop_app
start_app
click 2 5
click 3005 5
click 3481 5 2
sleep 0.3
wait_for 5 swatch_is 0 112233 || fail "after a restart Background shows $(swatch 0), not the imported 112233"
swatch_is 17 445566 || fail "after a restart Deck A shows $(swatch 17), not the imported 445566"
expect_ini Look Theme 1 "after a restart"
click 3532 --skin-editor
xdotool key Escape
stop_app
echo "settings_live: PASS"
