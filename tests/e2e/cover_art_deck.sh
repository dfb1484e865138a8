#!/usr/bin/env bash
# The real program in the Full layout under a virtual display, deck A loaded with an MP3 whose
# JPEG cover ImageMagick drew and deck B with a FLAC without one: A's header shows the cover left
# of the title and A's jog label shows it under its veil; B shows neither. Places come from
# `veldmix-tool layout`.
# Cost: 15
set -u

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix veldmix-tool Xvfb xdpyinfo xwininfo import convert ffmpeg pactl
artifacts="$build/e2e-artifacts/cover_art_deck"
mkdir -p "$artifacts"
app_pid=""

own_sound_server unless-shared
private_home

convert -size 500x500 xc:'rgb(240,140,20)' -quality 95 "$work/cover.jpg" || fail "ImageMagick could not draw the cover"
ffmpeg -loglevel error -y -f lavfi -i sine=frequency=330:duration=20 -i "$work/cover.jpg" -map 0 -map 1 \
  -c:a libmp3lame -id3v2_version 3 -c:v copy -disposition:v attached_pic -metadata title="Covered" \
  "$work/covered.mp3" || fail "ffmpeg could not make the covered track"
ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:duration=20 -c:a flac -metadata title="Bare" \
  "$work/bare.flac" || fail "ffmpeg could not make the bare track"

# 96 DPI: UI scale 1, so window pixels are the layout's DIPs.
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 -dpi 96 || fail "no virtual display could be started"

window_id() {
  local id
  for id in $(xwininfo -root -tree 2>/dev/null | grep -E '"VELDMIX [0-9.]+"' | awk '{print $1}'); do
    timeout 10 xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && { echo "$id"; return 0; }
  done
  return 1
}
alive() { kill -0 "$app_pid" 2>/dev/null || fail "veldmix exited: $(tail -n 5 "$work/app.out")"; }
shot() {  # file: the main window alone, so every place below is in window pixels
  for _ in 1 2 3; do
    win="$(window_id)" && timeout 20 import -window "$win" "$1.tmp.png" 2>"$work/import.err" &&
      mv "$1.tmp.png" "$1" && return 0
    alive
    sleep 0.5
  done
  fail "no screenshot of the main window: $(head -c 300 "$work/import.err" 2>/dev/null)"
}
# mean FILE WxH+X+Y: the region's mean R G B, 0..255.
mean() {
  convert "$1" -crop "$2" +repage -format '%[fx:round(255*mean.r)] %[fx:round(255*mean.g)] %[fx:round(255*mean.b)]' info:
}
# near "R G B" R G B TOLERANCE: the colour is within the distance of the expected one.
near() {
  local r g b
  read -r r g b <<<"$1"
  [ $(((r - $2) ** 2 + (g - $3) ** 2 + (b - $4) ** 2)) -le $(($5 * $5)) ]
}

"$app" "$work/covered.mp3" "$work/bare.flac" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 30 eval '[ -n "$(window_id)" ]' || { alive; fail "the main window did not appear"; }
read -r ww wh < <(xwininfo -id "$(window_id)" | awk -F: '/Width/ {w=$2} /Height/ {h=$2} END {print w+0, h+0}')
declare -A rect
while read -r name x y w h; do rect[$name]="$x $y $w $h"; done < <("$tool" layout "$ww" "$wh" --scale 1)
[ -n "${rect[header.0]:-}" ] && [ -n "${rect[jog.0]:-}" ] || fail "veldmix-tool layout printed no deck header or jog"

# The cover: 36 x 36 at the header's text column (42 px in, 3 down); its inner 28 x 28 is read.
art_box() { read -r x y _ _ <<<"${rect[$1]}"; echo "28x28+$((x + 46))+$((y + 7))"; }
# Inside the jog label, above the centre (the state word sits below it): 16 x 16 at half the label
# radius (0.62 r with art).
label_box() {
  local x y w h cx cy
  read -r x y w h <<<"${rect[$1]}"
  cx=$((x + w / 2)) cy=$((y + h / 2))
  echo "16x16+$((cx - 8))+$((cy - w * 31 / 200 - 8))"
}
shown() {
  shot "$work/deck.png"
  near "$(mean "$work/deck.png" "$(art_box header.0)")" 240 140 20 12
}
wait_for 30 shown || { cp "$work/deck.png" "$artifacts/" 2>/dev/null; fail "deck A's header never showed its cover (mean $(mean "$work/deck.png" "$(art_box header.0)"))"; }
sleep 0.5
shot "$work/deck.png"
cp "$work/deck.png" "$artifacts/deck.png"

header_a="$(mean "$work/deck.png" "$(art_box header.0)")"
header_b="$(mean "$work/deck.png" "$(art_box header.1)")"
label_a="$(mean "$work/deck.png" "$(label_box jog.0)")"
label_b="$(mean "$work/deck.png" "$(label_box jog.1)")"
echo "header A $header_a, header B $header_b, label A $label_a, label B $label_b"
near "$header_a" 240 140 20 12 || fail "deck A's header art is not the cover's colour ($header_a)"
# The veil darkens the label's picture by 12 %: 240 140 20 becomes about 211 123 18.
near "$label_a" 211 123 18 14 || fail "deck A's jog label is not the veiled cover ($label_a)"
near "$header_b" 240 140 20 120 && fail "deck B, without a cover, shows an orange header ($header_b)"
near "$label_b" 211 123 18 120 && fail "deck B, without a cover, shows an orange jog label ($label_b)"
grep -q "Dropped a completion (cover art)" "$log" && fail "the cover completion went unhandled"

kill -TERM "$app_pid"
wait_for 10 eval '! kill -0 "$app_pid" 2>/dev/null' || fail "veldmix did not end after SIGTERM with the loader running"
echo "PASS: cover art on the deck header and jog label"
