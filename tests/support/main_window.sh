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
# maximised_main_window [LAYOUT ARGS...]: on a screen smaller than the window's preferred size,
# under start_private_wm's window manager, waits for the started program's window to come up
# maximised and settle, then reads its rectangles from `veldmix-tool layout` at its client size.
maximised_main_window() {
  local g=""
  wait_for 30 eval '[ -n "$(window_id)" ] && xprop -id "$(window_id)" _NET_WM_STATE 2>/dev/null | grep -q MAXIMIZED_VERT' ||
    fail "the main window did not come up maximised ($(geometry))"
  wait_for 10 eval 'g="$(geometry)"; sleep 0.5; [ "$(geometry)" = "$g" ]' || fail "the main window did not settle"
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
  # One reader thread: its thread pool spins, on a busy machine for many seconds.
  OMP_THREAD_LIMIT=1 tesseract "$work/ocr.png" - 2>/dev/null | tr '\n' ' '
}
# burst_reads W H X Y COMMAND...: pictures of a screen rectangle, taken one after another in the
# background from the call on, are read in turn (into $text) until COMMAND is true for one. A
# status line shows for 2.8 s from the frame that first draws it, less than a few readings take on
# a loaded machine, so the pictures go on being taken while they are read; and a loaded program
# may draw the message seconds late, so they are taken for BURST_SECONDS (12) unless one is true
# first. When none is, $text holds the readings that differ, separated by " | ".
# burst_begin W H X Y starts the pictures early, for a message that follows something the script
# waits for: the next burst_reads then reads from those taken in the BURST_BACK (3) s before it was
# called.
burst_taker=""
burst_until() { echo $((EPOCHSECONDS + $1)) >"$work/burst.until.tmp" && mv "$work/burst.until.tmp" "$work/burst.until"; }
burst_begin() {
  local w=$1 h=$2 x=$3 y=$4
  rm -f "$work"/burst*.png "$work/burst.stop" "$work/burst.done" "$work/burst.times"
  burst_until 300  # ends by itself if the script fails first
  (
    n=0 until=""
    while [ ! -e "$work/burst.stop" ]; do
      if [ -e "$work/burst.until" ]; then
        read -r until <"$work/burst.until"
        [ "$EPOCHSECONDS" -lt "$until" ] || break
      fi
      # Named only once whole, so the reader never opens a picture half written.
      import -window root -crop "${w}x$h+$x+$y" +repage "$work/burst.tmp.png" 2>/dev/null &&
        n=$((n + 1)) && mv "$work/burst.tmp.png" "$work/burst$n.png" && echo "$n $EPOCHREALTIME" >>"$work/burst.times"
      sleep 0.3
    done
    : >"$work/burst.done"
  ) &
  burst_taker=$!
}
burst_reads() {
  local w=$1 h=$2 x=$3 y=$4 i=0 seen="" last=$'\n' sum="" prev="" taker
  shift 4
  if [ -n "$burst_taker" ]; then
    # The first picture taken in the last BURST_BACK s: the message may have come while the script
    # waited.
    [ ! -s "$work/burst.times" ] ||
      i=$(awk -v t="$EPOCHREALTIME" -v back="${BURST_BACK:-3}" '$2 >= t - back { print $1 - 1; found = 1; exit } { n = $1 } END { if (!found) print n + 0 }' \
        "$work/burst.times")
  else
    burst_begin "$w" "$h" "$x" "$y"
  fi
  burst_until "${BURST_SECONDS:-12}"
  taker=$burst_taker
  burst_taker=""
  while :; do
    i=$((i + 1))
    while [ ! -e "$work/burst$i.png" ]; do
      [ -e "$work/burst.done" ] && [ ! -e "$work/burst$i.png" ] && break 2
      sleep 0.1
    done
    sum=$(md5sum <"$work/burst$i.png")
    [ "$sum" = "$prev" ] || text="$(read_picture "$work/burst$i.png")"  # the same picture reads the same
    prev=$sum
    if "$@"; then
      : >"$work/burst.stop"
      wait "$taker"
      return 0
    fi
    [ "$text" = "$last" ] || seen+="${seen:+ | }$text"
    last=$text
  done
  wait "$taker"
  text=$seen
  return 1
}
# find_word PATTERN [MIN_X]: the centre of the first word on screen matching the pattern (right
# of MIN_X when given: only that part of the screen is read), in screen pixels (OCR at twice the
# size, inverted: light text on the dark theme).
find_word() {
  local min=${2:-0}
  # Nothing found (empty, status 0) when the grab fails: callers poll, and a grab fails while a
  # window opens or closes during import's walk of the window tree.
  import -window root "$work/screen.png" 2>/dev/null || return 0
  convert "$work/screen.png" -crop "+$min+0" +repage -resize 200% -colorspace Gray -negate "$work/screen2.png" ||
    return 0
  OMP_THREAD_LIMIT=1 tesseract "$work/screen2.png" - --psm 11 tsv 2>/dev/null |
    awk -F'\t' -v w="$1" -v min="$min" '!done && $12 ~ w {
      printf "%d %d\n", min + ($7 + $9 / 2) / 2, ($8 + $10 / 2) / 2; done = 1 }'
  # awk reads to the end: leaving early could stop tesseract with a broken pipe on a screen full of
  # words, and under pipefail that ended the calling script without a word.
  return 0
}
# Clicks (button 1 or 3) the word once it shows.
click_word() {
  local spot=""
  for _ in $(seq 1 20); do
    spot=$(find_word "$1")
    [ -n "$spot" ] && break
    sleep 0.3
  done
  [ -n "$spot" ] || fail "no \"$1\" on screen (kept as screen.png)"
  # shellcheck disable=SC2086  # "x y"
  xdotool mousemove $spot click "$2"
}
