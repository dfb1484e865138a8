#!/usr/bin/env bash
# Labels: slow
# Cost: 73
# veldmix-tool video-frames and video-mix over FFmpeg-made clips whose frame number is drawn as 16
# black/white blocks along the top: the player shows the newest picture whose time has come (never
# the next one early), sits still for small steps back and repeated times, seeks for larger jumps, wraps
# when looping, halves 2160p, turns bottom-up AVI rows upright and gives nothing for damaged
# files; the compositor's sides, transitions, effects, cards and title band, read back by FFmpeg
# and tesseract.
set -u
tool="$VELDMIX_BUILD/veldmix-tool"
frames="/usr/bin/python3 $VELDMIX_SOURCE/tests/support/video_frames.py"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
cd "$work" || exit 1

blocks="geq=lum='if(lt(Y,H/9),255*mod(floor(N/pow(2,floor(X*16/W))),2),lum(X,Y))':cb='if(lt(Y,H/9),128,cb(X,Y))':cr='if(lt(Y,H/9),128,cr(X,Y))'"
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=320x180:rate=30:duration=4,format=yuv420p,$blocks" \
  -c:v libx264 -preset veryfast -g 30 counter.mp4
ffmpeg -nostdin -v error -i counter.mp4 -t 1 -vf scale=3840:2160:flags=neighbor -c:v libx264 -preset ultrafast \
  -g 30 big.mp4
ffmpeg -nostdin -v error -i counter.mp4 -t 1 -c:v rawvideo -pix_fmt bgr24 bgr.avi
ffmpeg -nostdin -v error -f lavfi -i "color=c=0x3366cc:size=320x180:rate=30:duration=1" -c:v libx264 -g 30 blue.mp4
ffmpeg -nostdin -v error -f lavfi -i "color=c=0xee8811:size=320x180:rate=30:duration=1" -c:v libx264 -g 30 orange.mp4
ffmpeg -nostdin -v error -f lavfi -i "nullsrc=size=640x360:rate=30:duration=1,format=yuv420p,geq=lum='mod(X*3,256)':cb=128:cr=128" \
  -c:v libx264 -qp 0 ramp.mp4
head -c 100000 counter.mp4 >truncated.mp4
head -c 50000 /dev/urandom >garbage.mp4
check "the fixtures were made" '[ -s counter.mp4 ] && [ -s big.mp4 ] && [ -s bgr.avi ] && [ -s ramp.mp4 ]'

# counter_of LINE: the counter in the PNG the tool's output line names, or "none".
counter_of() {
  set -- $1
  if [ "$2" = none ]; then echo none; else $frames counter "$2"; fi
}
# line N: the Nth line (from 1) of the last run's output.
line() { sed -n "${1}p" out.txt; }
decoded() { line "$1" | sed 's/.*decoded=//'; }

# Steps: the start, 1 s on (decoded forward), 0.2 s back (nothing), 0.3 s back (sought), 2.1 s on
# (sought), the same time again (nothing decoded), a small step forward.
"$tool" video-frames counter.mp4 0 1.0 0.8 0.7 2.8 2.8 3.0 --out "$work" >out.txt 2>err.txt
check "video-frames runs (exit $?: $(cat err.txt))" '[ "$(wc -l <out.txt)" = 7 ]'
got="$($frames counters $(cut -d' ' -f2 out.txt))"
check "the counters are the newest pictures due at each time (got: $got)" '[ "$got" = "0 30 none 21 84 none 90" ]'
check "a repeated time decodes nothing ($(decoded 5) then $(decoded 6))" '[ "$(decoded 5)" = "$(decoded 6)" ]'
check "0.2 s back decodes nothing" '[ "$(decoded 2)" = "$(decoded 3)" ]'
check "frames keep the file's size" 'line 1 | grep -q " 320x180 "'

# Playing on in UI frames of 1/60 s (5 ms past each): each picture comes when its time has come,
# not one step before (a picture shown as soon as it was decoded came up to a frame early).
steps=$(awk 'BEGIN { for (i = 0; i <= 30; i++) printf "%.4f ", 1 + i / 60 + 0.005 }')
"$tool" video-frames counter.mp4 $steps --out "$work" >out.txt 2>err.txt
want=$(awk 'BEGIN { for (i = 0; i <= 30; i++) { c = int(30 + i / 2); printf "%s%s", i ? " " : "", c == last ? "none" : c; last = c } }')
got="$($frames counters $(cut -d' ' -f2 out.txt))"
check "stepping by 1/60 s shows each picture at its time (want: $want; got: $got)" '[ "$got" = "$want" ]'

duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 counter.mp4)
want=$(/usr/bin/python3 -c "import math; print(math.floor(math.fmod(7.5, $duration) * 30 + 1e-6))")
"$tool" video-frames counter.mp4 0.1 7.5 --loop --out "$work" >out.txt 2>err.txt
check "--loop wraps 7.5 s into the $duration s file (want $want, got $(counter_of "$(line 2)"))" \
  '[ "$(counter_of "$(line 2)")" = "$want" ]'
"$tool" video-frames counter.mp4 0.1 7.5 --out "$work" >out.txt 2>err.txt
check "without --loop a time past the end shows nothing new" '[ "$(counter_of "$(line 2)")" = none ]'

"$tool" video-frames big.mp4 0.5 --out "$work" >out.txt 2>err.txt
check "3840x2160 gives 1920x1080 ($(line 1))" 'line 1 | grep -q " 1920x1080 "'
check "the halved picture still shows its counter" '[ "$(counter_of "$(line 1)")" = 15 ]'

"$tool" video-frames bgr.avi 0.5 --out "$work" >out.txt 2>err.txt
ffmpeg -nostdin -v error -i bgr.avi -vf "select=eq(n\,15)" -frames:v 1 ref.png
png=$(line 1 | cut -d' ' -f2)
check "the raw BGR AVI is upright: frame 15 (got $(counter_of "$(line 1)"))" '[ "$(counter_of "$(line 1)")" = 15 ]'
check "the raw BGR AVI equals FFmpeg's picture" '[ "$($frames compare ref.png "$png" same)" = 0 ]'

for bad in truncated.mp4 garbage.mp4 missing.mp4; do
  "$tool" video-frames "$bad" 0 1 --out "$work" >out.txt 2>err.txt
  rc=$?
  check "$bad gives no frame and says failed (exit $rc)" \
    '[ $rc = 0 ] && [ "$(line 1)" = "0.000 none decoded=0" ] && [ "$(line 3)" = failed ]'
done

# --- the compositor ---
mix() { "$tool" video-mix "$@" >mix.txt 2>err.txt || echo "video-mix $*: $(cat err.txt)"; }
mix empty.png --size 320x180
check "both sides empty: black" '[ "$($frames black empty.png)" = 0 ]'
mix left.png --size 320x180 --left blue.mp4
mix alone.png --size 320x180 --right blue.mp4 --levels 1,0
check "one side alone fills the frame whatever the levels say" '[ "$($frames compare left.png alone.png same)" -le 1 ]'
mix wipe.png --size 320x180 --left blue.mp4 --right orange.mp4 --levels 0.5,0.5 --transition WIPE
mix right.png --size 320x180 --left orange.mp4
blue=$($frames mean left.png 0 0 1 1)
orange=$($frames mean right.png 0 0 1 1)
halves="$($frames mean wipe.png 0 0 0.48 1) / $($frames mean wipe.png 0.52 0 1 1)"
check "WIPE at 0.5: blue left half, orange right half ($halves; $blue / $orange)" '[ "$halves" = "$blue / $orange" ]'
mix cut.png --size 320x180 --left blue.mp4 --right orange.mp4 --levels 0.5,0.5 --transition CUT
check "CUT at exactly 0.5 shows the right side" '[ "$($frames compare right.png cut.png same)" -le 1 ]'
for effect in invert mono; do
  mix "$effect.png" --size 320x180 --left blue.mp4 --effect "$effect"
  check "$effect of a solid clip within 2 per channel" '[ "$($frames compare left.png "$effect.png" "$effect")" -le 2 ]'
done
mix mirror.png --size 320x180 --left counter.mp4 --left-at 1 --effect MIRROR
check "MIRROR is symmetric" '[ "$($frames mirrored mirror.png)" = 0 ]'
mix plain.png --size 320x180 --left counter.mp4 --left-at 1
check "MIRROR keeps the left half" '[ "$($frames mean mirror.png 0 0 0.5 1)" = "$($frames mean plain.png 0 0 0.5 1)" ]'
mix strobe-off.png --size 320x180 --left blue.mp4 --effect STROBE --beat 0.25
mix strobe-on.png --size 320x180 --left blue.mp4 --effect STROBE --beat 0.2
check "STROBE is black at beat 0.25" '[ "$($frames black strobe-off.png)" = 0 ]'
check "STROBE shows the picture at beat 0.2" '[ "$($frames compare left.png strobe-on.png same)" -le 1 ]'
mix pixelate.png --size 640x360 --left ramp.mp4 --effect PIXELATE --beat 3
cells=$($frames cells pixelate.png)
check "PIXELATE on the beat: 10 px cells ($cells)" '[ "$cells" = 10 ]'

# Cards: title and artist on the card, the title band read by OCR.
ocr() {
  convert "$1" -crop "$2" -resize 200% -colorspace Gray -negate "$work/crop.png" 2>/dev/null
  OMP_THREAD_LIMIT=1 tesseract "$work/crop.png" - 2>/dev/null | tr -s ' \n' ' '
}
card=(--right song.mp3 --right-title "NIGHT DRIVE" --right-artist "Lumen Coast" --right-colour 33ccff)
mix card.png --size 960x540 "${card[@]}" --levels 0,1 --clock 1
title=$(ocr card.png 960x60+0+354)
band=$(ocr card.png 960x70+0+457)
check "the card shows the title ($title)" 'echo "$title" | grep -qi "NIGHT DRIVE"'
check "the title band names title and artist ($band)" 'echo "$band" | grep -qi "NIGHT DRIVE.*Lumen Coast"'
mix late.png --size 960x540 "${card[@]}" --levels 0,1 --clock 7.5
band=$(ocr late.png 960x70+0+457)
check "the band is gone after 7 s ($band)" '! echo "$band" | grep -qi "Lumen"'
mix quiet.png --size 960x540 "${card[@]}" --levels 0,0.3 --clock 1
band=$(ocr quiet.png 960x70+0+457)
check "a deck at level 0.3 is not announced ($band)" '! echo "$band" | grep -qi "Lumen"'

"$tool" video-mix out.png --size 0x10 >/dev/null 2>err.txt
check "a bad size is refused with the usage" '[ $? = 2 ] && grep -q usage err.txt'
exit $fail
