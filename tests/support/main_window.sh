# Sourced after e2e_preamble.sh by scripts that drive the program's main window on the private
# display: finding it, waiting for it to settle, the rectangles `veldmix-tool layout` names, clicks
# and OCR. `at` maps a layout name to "x y w h"; wx wy ww wh are the window's place and size.

window_id() { xwininfo -root -tree 2>/dev/null | grep -F '"VELDMIX 1.0.10"' | head -n 1 | awk '{print $1}'; }
geometry() {  # x y w h of the main window; without an id xwininfo would wait for a click
  local id
  id="$(window_id)"
  [ -n "$id" ] || { echo "0 0 0 0"; return; }
  timeout 5 xwininfo -id "$id" 2>/dev/null | awk -F: '/Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2}
    /Width/ {w=$2} /Height/ {h=$2} END {print x+0, y+0, w+0, h+0}'
}
placed() {  # the window has its full size and has stopped moving
  local g
  g="$(geometry)"
  read -r _ _ ww wh <<<"$g"
  [ "$ww" -ge 1340 ] && [ "$wh" -ge 840 ] && sleep 0.3 && [ "$(geometry)" = "$g" ]
}
declare -A at
# fit_main_window [LAYOUT ARGS...]: once the started program's window settles, puts it at 0,0 in
# 1900x1060 (or WINDOW_SIZE="W H") and reads its rectangles from `veldmix-tool layout W H ARGS...`.
fit_main_window() {
  local size
  read -r -a size <<<"${WINDOW_SIZE:-1900 1060}"
  wait_for 20 placed || fail "the main window did not settle ($(geometry))"
  xdotool windowmove "$(window_id)" 0 0 windowsize "$(window_id)" "${size[0]}" "${size[1]}"
  sleep 0.5
  wait_for 10 placed || fail "the main window did not settle ($(geometry))"
  read -r wx wy ww wh <<<"$(geometry)"
  while read -r name x y w h; do at[$name]="$x $y $w $h"; done < <("$tool" layout "$ww" "$wh" "$@")
  sleep 1
}
click() {  # click NAME [BUTTON]: at the rectangle's centre
  local x y w h
  read -r x y w h <<<"${at[$1]:?no rectangle $1}"
  xdotool mousemove $((wx + x + w / 2)) $((wy + y + h / 2)) click "${2:-1}"
  sleep 0.3
}
read_text() {  # read_text W H X Y: OCR of a screen rectangle, scaled 3x
  import -window root -crop "$1x$2+$3+$4" +repage "$work/crop.png"
  convert "$work/crop.png" -resize 300% -colorspace Gray -negate "$work/ocr.png"
  tesseract "$work/ocr.png" - 2>/dev/null | tr '\n' ' '
}
