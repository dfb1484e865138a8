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
  read_picture "$work/crop.png"
}
read_picture() {  # read_picture PNG: OCR of a picture taken earlier, scaled 3x
  convert "$1" -resize 300% -colorspace Gray -negate "$work/ocr.png"
  tesseract "$work/ocr.png" - 2>/dev/null | tr '\n' ' '
}
# burst_reads W H X Y COMMAND...: eight pictures of a screen rectangle taken over about 3 s are
# read in turn (into $text) until COMMAND is true for one. A status line shows for 2.8 s, less than
# a few readings take on a loaded machine, so the pictures are all taken before any is read.
# When none does, $text holds every reading, separated by " | ".
burst_reads() {
  local w=$1 h=$2 x=$3 y=$4 i seen=""
  shift 4
  for i in 1 2 3 4 5 6 7 8; do
    import -window root -crop "${w}x$h+$x+$y" +repage "$work/burst$i.png"
    sleep 0.3
  done
  for i in 1 2 3 4 5 6 7 8; do
    text="$(read_picture "$work/burst$i.png")"
    "$@" && return 0
    seen+="${seen:+ | }$text"
  done
  text=$seen
  return 1
}
