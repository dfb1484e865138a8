#!/usr/bin/env bash
# veldmix-tool art FILE OUT.png over covers that ImageMagick draws and ffmpeg embeds: PNG and JPEG
# pictures in MP3 (ID3 APIC), FLAC (PICTURE) and M4A (covr) come out at most 128 px with the
# cover's mean colour; no cover, a mostly transparent cover, a side above 8192 px and picture data
# above 16 MiB give none; a missing or non-media file exits 1 with its reason.
# Cost: 24
set -u
tool="$VELDMIX_BUILD/veldmix-tool"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
cd "$work" || exit 1

# mean FILE: the mean R G B (0..255) and the size, as ImageMagick reads them.
mean() { convert "$1" -alpha off -format '%[fx:round(255*mean.r)] %[fx:round(255*mean.g)] %[fx:round(255*mean.b)] %w %h' info:; }
# embed PICTURE OUT: a 1 s tone with the picture as its attached cover.
embed() {
  local codec
  case "$2" in
    *.mp3) codec=(-c:a libmp3lame -id3v2_version 3) ;;
    *.flac) codec=(-c:a flac) ;;
    *.m4a) codec=(-c:a aac) ;;
  esac
  ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:duration=1 -i "$1" -map 0 -map 1 "${codec[@]}" \
    -c:v copy -disposition:v attached_pic "$2"
}

# Two covers with shapes on them, so that the mean is not just a fill colour.
convert -size 300x200 xc:'rgb(200,40,60)' -fill 'rgb(20,200,240)' -draw 'circle 150,100 150,30' cover.png
convert -size 1000x1000 xc:'rgb(30,160,90)' -fill 'rgb(250,230,20)' -draw 'rectangle 0,0 499,999' -quality 92 cover.jpg
for container in mp3 flac m4a; do
  for picture in cover.png cover.jpg; do
    out="${picture%.*}.$container"
    embed "$picture" "$out" || { echo "FAIL: ffmpeg could not embed $picture in $out"; fail=1; continue; }
    "$tool" art "$out" "$out.png" >out.txt 2>err.txt
    rc=$?
    check "art on $out exits 0 with a picture (exit $rc: $(cat out.txt err.txt))" '[ $rc = 0 ] && [ -s "$out.png" ]'
    [ -s "$out.png" ] || continue
    read -r r g b w h <<<"$(mean "$out.png")"
    read -r cr cg cb cw ch <<<"$(mean "$picture")"
    check "$out: at most 128 px, the longer side 128 (${w}x${h})" \
      '[ "$w" -le 128 ] && [ "$h" -le 128 ] && { [ "$w" = 128 ] || [ "$h" = 128 ]; }'
    check "$out: the aspect kept (${w}x${h} of ${cw}x${ch})" '[ $(( (w * ch - h * cw) * 100 / (cw * ch) )) -le 1 ]'
    check "$out: the cover's mean colour ($r $g $b against $cr $cg $cb)" \
      '[ $(( (r - cr) ** 2 + (g - cg) ** 2 + (b - cb) ** 2 )) -le 27 ]'
  done
done

# A little transparency keeps the cover; a mostly transparent one is none.
convert -size 200x200 xc:'rgb(90,90,200)' -alpha set -region 60x60+0+0 -alpha transparent edge.png
convert -size 200x200 xc:none -fill 'rgb(90,90,200)' -draw 'rectangle 70,70 129,129' mostly-clear.png
embed edge.png edge.mp3 && "$tool" art edge.mp3 edge.png.out.png >out.txt 2>&1
check "a cover with a transparent corner (9 % of it) stays a cover ($(cat out.txt))" '[ -s edge.png.out.png ]'
embed mostly-clear.png clear.m4a && "$tool" art clear.m4a clear.png >out.txt 2>&1
rc=$?
check "a mostly transparent cover is none ($(cat out.txt))" \
  '[ $rc = 0 ] && [ ! -e clear.png ] && grep -q "^no cover: the picture is mostly transparent" out.txt'

# Bounds: a side above 8192 px, and picture data above 16 MiB (stored uncompressed).
convert -size 9000x8 xc:'rgb(10,200,10)' wide.png
embed wide.png wide.mp3 && "$tool" art wide.mp3 wide.out.png >out.txt 2>&1
rc=$?
check "a 9000 px wide cover is none ($(cat out.txt))" '[ $rc = 0 ] && [ ! -e wide.out.png ] && grep -q 8192 out.txt'
convert -size 2500x2400 xc:'rgb(10,20,200)' -define png:compression-level=0 -define png:compression-filter=0 \
  -define png:color-type=2 -define png:bit-depth=8 huge.png
check "the big picture is above 16 MiB ($(stat -c %s huge.png) bytes)" '[ "$(stat -c %s huge.png)" -gt 16777216 ]'
embed huge.png huge.mp3 && "$tool" art huge.mp3 huge.out.png >out.txt 2>&1
rc=$?
check "picture data above 16 MiB is none ($(cat out.txt))" '[ $rc = 0 ] && [ ! -e huge.out.png ] && grep -q "16 MiB" out.txt'

# No cover at all.
ffmpeg -loglevel error -y -f lavfi -i sine=duration=1 -c:a flac plain.flac
"$tool" art plain.flac plain.png >out.txt 2>&1
rc=$?
check "a file without a cover gives none ($(cat out.txt))" '[ $rc = 0 ] && [ ! -e plain.png ] && grep -q "^no cover" out.txt'

# Failures: missing and non-media files exit 1 and say why.
"$tool" art missing.mp3 x.png >out.txt 2>err.txt
rc=$?
check "a missing file exits 1 with its reason ($(cat err.txt))" '[ $rc = 1 ] && grep -q "No such file" err.txt && [ ! -e x.png ]'
printf 'just some words\n' >notes.txt
"$tool" art notes.txt x.png >out.txt 2>err.txt
rc=$?
check "a non-media file exits 1 with its reason ($(cat err.txt))" '[ $rc = 1 ] && grep -q "not a media file" err.txt && [ ! -e x.png ]'

[ $fail = 0 ] && echo "PASS: cover art tool"
exit $fail
