#!/usr/bin/env bash
# `veldmix-tool karaoke screen` read back: the idle, up-next, get-ready and singing screens read
# (tesseract) with accents, "&" and "<" as they are; CD+G at three times the size equals FFmpeg's
# own decoder at every settled time, rendered late, early, then in the middle (a replay backwards),
# with the border colour in the margins at 1280 x 720; a red|blue background picture in every format
# shows red left and blue right at the dimmed brightness; pictures that are missing, corrupt, a
# folder, a FIFO, larger than 256 MiB, or declare 20000 x 20000 pixels or a side of 20000 leave the
# moving colour undarkened, at once and
# without a large allocation; a track's own video shows the frame at the song position under the
# singer's pill and a background loop the frame at the clock modulo its length; bad records and
# options fail with their messages.
# Labels: slow
# Cost: 93
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix-tool ffmpeg ffprobe tesseract convert sox /usr/bin/time
private_home
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
[ -f "$font" ] || fail "no DejaVu Sans Bold for the numbered clip"
export OMP_THREAD_LIMIT=1  # tesseract: one thread reads a small crop several times faster
cd "$work"

# --- Helpers ---
render() {  # INFO.json OUT.png [options]: the tool must succeed
  "$tool" karaoke screen "$@" >"$work/out" 2>"$work/err" || fail "karaoke screen $*: $(cat "$work/err")"
}
# OCR of a rectangle W H X Y of a PNG, scaled up and grey, negated (light text on dark).
read_text() {
  convert "$1" -crop "$2x$3+$4+$5" +repage -resize 300% -colorspace Gray -negate "$work/ocr.png"
  tesseract "$work/ocr.png" - 2>/dev/null | tr '\n' ' '
}
reads() {  # PNG W H X Y TEXT WHAT
  local text
  text="$(read_text "$1" "$2" "$3" "$4" "$5")"
  grep -qiF -- "$6" <<<"$text" || fail "$7: read \"$text\", wanted \"$6\""
}
pixel() { convert "$1" -format "%[fx:int(255*p{$2,$3}.r)] %[fx:int(255*p{$2,$3}.g)] %[fx:int(255*p{$2,$3}.b)]" info:; }
near() {  # "R G B" "R G B" tolerance
  local a b
  read -r -a a <<<"$1"
  read -r -a b <<<"$2"
  for i in 0 1 2; do
    local d=$((a[i] - b[i]))
    [ "${d#-}" -le "$3" ] || return 1
  done
}
same_pixels() { [ "$(ffmpeg -v quiet -i "$1" -f rawvideo -pix_fmt rgb24 - | md5sum)" = "$(ffmpeg -v quiet -i "$2" -f rawvideo -pix_fmt rgb24 - | md5sum)" ]; }

# --- The texts ---
cat >idle.json <<'EOF'
{"mode": 0, "clock": 1, "karaoke": {"Message": "Want to sing? Ask the DJ!"}}
EOF
render idle.json idle.png
[ "$(ffprobe -v quiet -show_entries stream=width,height -of csv=p=0 idle.png)" = "1280,720" ] || fail "not 1280 x 720"
reads idle.png 1280 140 0 220 "KARAOKE" "the idle screen"
reads idle.png 1280 60 0 592 "Want to sing? Ask the DJ!" "the message"

cat >next.json <<'EOF'
{"mode": 0, "clock": 1, "nextSinger": "Zoe Bright", "nextSong": "Cafe & <Bar>  —  The Band",
 "laterSingers": ["Ann", "Bob"], "karaoke": {"Message": "Sign up at the bar"}}
EOF
render next.json next.png
reads next.png 1280 50 0 145 "UP NEXT" "the up-next label"
reads next.png 1280 120 0 210 "Zoe Bright" "the next singer"
reads next.png 1280 60 0 338 "Cafe & <Bar>" "the next song, & and < as they are"
reads next.png 1280 50 0 508 "then Ann" "the later singers"
reads next.png 1280 50 0 508 "Bob" "the second later singer"
reads next.png 1280 60 0 592 "Sign up at the bar" "the message under up next"

sox -n -r 44100 -c 2 song.wav synth 1 sine 440 2>/dev/null
cat >song.lrc <<'EOF'
[00:10.00]First line of the song
[00:14.00]Café & <Bar> naïve
[00:18.00]Third line here
EOF
cat >ready.json <<EOF
{"mode": 1, "path": "$work/song.wav", "title": "My Song", "artist": "The Band", "singer": "Alice",
 "duration": 30, "clock": 1}
EOF
render ready.json ready.png
reads ready.png 1280 45 0 133 "GET READY" "the get-ready label"
reads ready.png 1280 105 0 175 "Alice" "the singer"
reads ready.png 1280 65 0 285 "My Song" "the title"
reads ready.png 1280 50 0 350 "The Band" "the artist"
reads ready.png 1280 60 0 520 "First line of the song" "the first line's preview"

cat >sing.json <<EOF
{"mode": 2, "path": "$work/song.wav", "title": "My Song", "singer": "Alice", "duration": 30,
 "position": 16, "clock": 1, "karaoke": {"Palette": 1}}
EOF
render sing.json sing.png
reads sing.png 1280 85 0 360 "Caf" "the current line, large in the centre"
reads sing.png 1280 85 0 360 "& <Bar>" "the current line's & and < as they are"
reads sing.png 1280 65 0 290 "First line of the song" "the line before, smaller above"

# --- CD+G at 3 x against FFmpeg's decoder ---
/usr/bin/python3 "$source_dir/tests/support/make_cdg.py" song.cdg >times
mapfile -t settled <times
[ "${#settled[@]}" -ge 6 ] || fail "the CD+G generator gave too few times"
rm song.lrc
late="${settled[-1]}" early="${settled[1]}" middle="${settled[$((${#settled[@]} / 2))]}"
cat >cdg.json <<EOF
{"mode": 2, "path": "$work/song.wav", "title": "My Song", "duration": 300, "clock": 1}
EOF
render cdg.json cdg.png --size 900x648 --at "$late,$early,$middle"
n=1
for t in "$late" "$early" "$middle"; do
  ffmpeg -nostdin -v quiet -i song.cdg -ss "$t" -frames:v 1 -f rawvideo -pix_fmt rgb24 - >ref.rgb
  ffmpeg -nostdin -v quiet -i "cdg-$n.png" -f rawvideo -pix_fmt rgb24 - >ours.rgb
  differing="$(/usr/bin/python3 "$source_dir/tests/support/compare_cdg.py" ref.rgb ours.rgb 900 648 3 1)"
  [ "$differing" = 0 ] || fail "CD+G at $t s (render $n): $differing pixels differ from FFmpeg's"
  n=$((n + 1))
done
# At 1280 x 720 the picture is 1000 x 720 in the middle: the margins show the border colour.
cat >cdg_late.json <<EOF
{"mode": 2, "path": "$work/song.wav", "duration": 300, "position": $late, "clock": 1}
EOF
render cdg_late.json cdg_wide.png
# The border colour as the decoder has it (its picture's corner; FFmpeg's leaves the border area as
# the screen memory was).
"$tool" cdg song.cdg "$late" decoder.png >/dev/null || fail "the cdg command failed"
border="$(pixel decoder.png 0 0)"
for xy in "10 10" "70 360" "1270 700" "1210 360"; do
  near "$(pixel cdg_wide.png $xy)" "$border" 0 || fail "the margin at $xy is $(pixel cdg_wide.png $xy), not the border $border"
done

# --- Background pictures ---
convert -size 320x180 xc:red xc:blue +append +repage rb.png
for f in jpg bmp gif webp heic; do convert rb.png "rb.$f"; done
convert rb.png -colorspace CMYK cmyk.jpg
convert rb.png -depth 16 rb16.png
picture_json() {  # FILE DIM
  printf '{"mode": 0, "clock": 0, "karaoke": {"Background": 1, "BackgroundFile": "%s", "Dim": %s, "Blur": false, "Message": ""}}\n' "$1" "$2"
}
for f in rb.jpg cmyk.jpg rb.png rb16.png rb.bmp rb.gif rb.webp rb.heic; do
  picture_json "$work/$f" 50 >pic.json
  render pic.json "pic-$f.png"
  near "$(pixel "pic-$f.png" 100 600)" "128 0 0" 3 || fail "$f: the left is $(pixel "pic-$f.png" 100 600), not half red"
  near "$(pixel "pic-$f.png" 1180 600)" "0 0 128" 3 || fail "$f: the right is $(pixel "pic-$f.png" 1180 600), not half blue"
done
picture_json "$work/rb.png" 95 >pic.json
render pic.json dim95.png
near "$(pixel dim95.png 100 600)" "26 0 0" 3 || fail "Dim 95 is $(pixel dim95.png 100 600), not 10 % of red"

# Unreadable pictures: the moving colour, exactly as with no picture at all, at once and small.
printf '{"mode": 0, "clock": 0, "karaoke": {"Background": 0, "Message": ""}}\n' >plain.json
render plain.json plain.png
head -c 5000 /dev/urandom >corrupt.jpg
printf '\xff\xd8\xff\xe0' | cat - <(head -c 3000 /dev/urandom) >truncated.jpg
mkdir folder.png
mkfifo fifo.png
/usr/bin/python3 - <<'EOF'
import struct, zlib
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff)
ihdr = struct.pack(">IIBBBBB", 20000, 20000, 8, 2, 0, 0, 0)
open("huge.png", "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) +
                             chunk(b"IDAT", zlib.compress(b"\0" * 60001)) + chunk(b"IEND", b""))
# Only 200 000 pixels, but wider than any side may be: a whole, valid picture.
ihdr = struct.pack(">IIBBBBB", 20000, 10, 8, 2, 0, 0, 0)
open("wide.png", "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) +
                             chunk(b"IDAT", zlib.compress(b"\0" * 600010)) + chunk(b"IEND", b""))
jpeg = bytearray(open("rb.jpg", "rb").read())
i = 2
while i < len(jpeg):
    marker, length = jpeg[i + 1], struct.unpack(">H", jpeg[i + 2:i + 4])[0]
    if marker in (0xC0, 0xC1, 0xC2):
        jpeg[i + 5:i + 9] = struct.pack(">HH", 20000, 20000)
        break
    i += 2 + length
open("huge.jpg", "wb").write(jpeg)
EOF
truncate -s 300M big.jpg
for f in missing.jpg corrupt.jpg truncated.jpg folder.png fifo.png huge.png huge.jpg wide.png big.jpg; do
  picture_json "$work/$f" 50 >bad.json
  /usr/bin/time -f "%M" -o rss timeout 20 "$tool" karaoke screen bad.json "bad-$f.png" >/dev/null 2>"$work/err" ||
    fail "$f: the render failed or hung: $(cat "$work/err")"
  same_pixels "bad-$f.png" plain.png || fail "$f: not the undarkened moving colour"
  rss_kb="$(tail -n 1 rss)"
  [ "$rss_kb" -lt 300000 ] || fail "$f: the render took $rss_kb KB"
done

# --- Videos: the track's own, and the background loop ---
# A 12 s clip at 25 frames a second with each frame's number burnt in at its bottom left.
ffmpeg -nostdin -v error -f lavfi -i "color=c=black:s=640x360:r=25:d=12" \
  -vf "drawtext=fontfile=$font:text=%{frame_num}:fontsize=100:fontcolor=white:x=30:y=h-th-30" \
  -c:v libx264 -pix_fmt yuv420p -g 25 clip.mp4 || fail "ffmpeg could not make the numbered clip"
frame_number() {  # PNG: the number at the bottom left of the fitted 1280 x 720 clip
  convert "$1" -crop 600x260+0+460 +repage -colorspace Gray -negate "$work/digits.png"
  tesseract "$work/digits.png" - --psm 8 -c tessedit_char_whitelist=0123456789 2>/dev/null | tr -dc 0-9
}
within() { [ -n "$1" ] && [ "$1" -ge $(($2 - 2)) ] && [ "$1" -le $(($2 + 2)) ]; }
printf '{"mode": 2, "path": "%s", "position": 5.0, "duration": 12, "clock": 1}\n' "$work/clip.mp4" >own.json
render own.json own.png
n="$(frame_number own.png)"
within "$n" 125 || fail "the track's own video at 5 s shows frame '$n', not 125"
# The singer's pill over it, at the top left.
printf '{"mode": 2, "path": "%s", "position": 5.0, "duration": 12, "clock": 1, "singer": "Alice"}\n' \
  "$work/clip.mp4" >own_singer.json
render own_singer.json own_singer.png
[ "$(convert own.png own_singer.png -crop 300x60+0+0 +repage -compose difference -composite -format '%[fx:maxima]' info:)" != 0 ] ||
  fail "no singer's pill over the track's own video"
printf '{"mode": 0, "clock": 27.3, "karaoke": {"Background": 2, "BackgroundFile": "%s", "Dim": 0, "Blur": false, "Message": ""}}\n' \
  "$work/clip.mp4" >loop.json
render loop.json loop.png
n="$(frame_number loop.png)"
within "$n" 82 || fail "the background loop at clock 27.3 s shows frame '$n', not (27.3 mod 12) x 25 = 82"
# A video that cannot be read: the moving colour, undarkened.
printf '{"mode": 0, "clock": 0, "karaoke": {"Background": 2, "BackgroundFile": "%s", "Message": ""}}\n' \
  "$work/corrupt.jpg" >badloop.json
render badloop.json badloop.png
same_pixels badloop.png plain.png || fail "an unreadable background video is not the undarkened moving colour"

# --- Bad input ---
printf '{"mode": "two"}' >badmode.json
if "$tool" karaoke screen badmode.json x.png 2>"$work/err"; then fail "a mode that is no number was taken"; fi
grep -q '"mode" must be a number' "$work/err" || fail "the bad mode's message: $(cat "$work/err")"
if "$tool" karaoke screen idle.json x.png --size 0x5 2>"$work/err"; then fail "a size of 0 was taken"; fi
grep -q -- "--size wants WxH" "$work/err" || fail "the bad size's message: $(cat "$work/err")"
[ ! -e x.png ] || fail "a failed render wrote a file"

echo "karaoke_screen: PASS"
