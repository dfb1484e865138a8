#!/usr/bin/env bash
# veldmix-tool decode, encode and tags against files made and read back by sox, ffmpeg, ffprobe
# and flac: exact samples, exact lengths, the users' messages on failure, and no partial file
# under a final name when a write runs out of room (a file-size limit stands in for a full disk).
# Cost: 28
set -u
tool="${VELDMIX_BUILD:?VELDMIX_BUILD must name the build folder}/veldmix-tool"
work=$(mktemp -d /tmp/veldmix-e2e-media-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
cd "$work" || exit 1

# --- decode ---
sox -n -r 44100 -c 2 -b 16 st.wav synth 2.5 sine 440 sine 550 vol 0.8 2>/dev/null
sox -n -r 48000 -c 2 -b 24 hi.flac synth 1.5 sine 1000 sine 90 2>/dev/null
sox -n -r 32000 -c 1 -b 16 mono.wav synth 1 sine 300 2>/dev/null
sox -r 44100 -n -c 2 -b 16 odd.wav synth 77777s sine 440 2>/dev/null
ffmpeg -v error -i odd.wav -c:a libmp3lame -b:a 160k odd.mp3
for f in st.wav hi.flac odd.mp3; do
  check "decode $f" '"$tool" decode $f $f.f32 >/dev/null'
  ffmpeg -v error -y -i $f -ac 2 -f f32le ref.f32
  check "$f decodes to FFmpeg's own samples" 'cmp -s $f.f32 ref.f32'
done
check "the MP3 keeps its exact 77777 frames" '[ $(stat -c %s odd.mp3.f32) -eq $((77777 * 8)) ]'
out=$("$tool" decode hi.flac hi.f32)
check "decode reports the file's own rate (got: $out)" '[[ "$out" == "72000 frames at 48000 Hz"* ]]'
"$tool" decode mono.wav mono.f32 >/dev/null
ffmpeg -v error -i mono.wav -ac 1 -f f32le one.f32
check "mono gives left = right = the channel" \
  'python3 -c "import sys,array
a=array.array(\"f\",open(\"mono.f32\",\"rb\").read()); b=array.array(\"f\",open(\"one.f32\",\"rb\").read())
sys.exit(not (len(a)==2*len(b) and a[0::2]==b and a[1::2]==b))"'

echo "plain words" > notes.txt
sox -r 44100 -n -c 2 -b 16 tiny.wav synth 1000s sine 440 2>/dev/null
ffmpeg -v error -f lavfi -i color=c=blue:s=16x16 -frames:v 1 pic.png
for pair in "notes.txt:Can't open this file" "nothing.wav:Can't open this file" \
            "pic.png:No audio in this file" "tiny.wav:No audio could be decoded"; do
  f=${pair%%:*} msg=${pair#*:}
  "$tool" decode "$f" x.f32 2>err; rc=$?
  check "decode $f fails with \"$msg\" (rc $rc: $(cat err))" \
    '[ $rc -eq 1 ] && grep -qxF "veldmix-tool decode: $msg" err && [ ! -e x.f32 ]'
done

# --- encode ---
check "encode MP3" '"$tool" encode st.wav st.mp3'
info=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels,bit_rate -of csv=p=0 st.mp3)
check "MP3 copy is mp3,44100,2,320000 (got $info)" '[ "$info" = "mp3,44100,2,320000" ]'
frames=$(( $(ffmpeg -v error -i st.mp3 -f s16le - | wc -c) / 4 ))
check "MP3 copy has the WAV's 110250 frames (got $frames)" '[ $frames -eq 110250 ]'
check "encode FLAC" '"$tool" encode st.wav st.flac'
check "FLAC copy passes flac -t" 'flac -s -t st.flac 2>/dev/null'
check "FLAC copy holds the WAV's samples" 'cmp -s <(sox st.flac -t s16 -) <(sox st.wav -t s16 -)'

sox -n -r 22050 -c 2 -b 16 low.wav synth 1 sine 440 2>/dev/null
cp low.wav low.keep
"$tool" encode low.wav low.mp3 2>err; rc=$?
check "MP3 at 22050 Hz is refused (rc $rc: $(cat err))" \
  '[ $rc -eq 1 ] && grep -qxF "veldmix-tool encode: MP3 needs a 32, 44.1 or 48 kHz output" err'
check "the refused MP3 leaves the WAV and no copy" 'cmp -s low.wav low.keep && [ ! -e low.mp3 ] && [ -z "$(ls -A | grep veldmix-tmp)" ]'
check "FLAC at 22050 Hz works" '"$tool" encode low.wav low.flac && flac -s -t low.flac 2>/dev/null'

# Out of room half-way (the limit is in KiB; SIGXFSZ ignored so writes fail with EFBIG).
echo "an older copy" > big.flac
sox -n -r 44100 -c 2 -b 16 big.wav synth 10 whitenoise 2>/dev/null
( trap '' XFSZ; ulimit -f 400; "$tool" encode big.wav big.flac ) 2>err; rc=$?
check "a FLAC that cannot be written whole fails (rc $rc: $(cat err))" \
  '[ $rc -eq 1 ] && grep -qxF "veldmix-tool encode: FLAC encoding failed — kept the WAV" err'
check "the failed FLAC leaves the older copy and no temporary file" \
  '[ "$(cat big.flac)" = "an older copy" ] && [ -z "$(ls -A | grep veldmix-tmp)" ]'

# --- tags ---
ffmpeg -v error -i st.wav -metadata title="Café" -metadata artist="Zoë" -metadata album="Åland" \
  -metadata genre="House" -metadata comment="olé" tagged.mp3
out=$("$tool" tags read tagged.mp3)
check "tags written by ffmpeg read back (got: $out)" \
  '[ "$(echo "$out" | head -5)" = "$(printf "title=Café\nartist=Zoë\nalbum=Åland\ngenre=House\ncomment=olé")" ]'
ffmpeg -v error -i tagged.mp3 -f s16le tagged.pcm
check "tags write" '"$tool" tags write tagged.mp3 "title=Noche de Ñandú ✨" artist= "comment=¿qué?"'
probe() { ffprobe -v error -show_entries format_tags="$1" -of default=nw=1:nk=1 "$2"; }
check "ffprobe reads the accented title" '[ "$(probe title tagged.mp3)" = "Noche de Ñandú ✨" ]'
check "ffprobe reads the comment" '[ "$(probe comment tagged.mp3)" = "¿qué?" ]'
check "the empty artist is gone, the album kept" '[ -z "$(probe artist tagged.mp3)" ] && [ "$(probe album tagged.mp3)" = "Åland" ]'
check "tag edits leave the audio alone" 'cmp -s <(ffmpeg -v error -i tagged.mp3 -f s16le -) tagged.pcm'

"$tool" tags write notes.txt title=x 2>err; rc=$?
check "a text file cannot take tags (rc $rc: $(cat err))" \
  '[ $rc -eq 1 ] && grep -qxF "veldmix-tool tags: Couldn'"'"'t save the tags of notes.txt: no tag format for this file" err'
"$tool" tags write tagged.mp3 colour=red 2>/dev/null; rc=$?
check "an unknown tag name is a usage error (rc $rc)" '[ $rc -eq 2 ]'

cp tagged.mp3 before.mp3
long=$(head -c 100000 /dev/zero | tr '\0' 'x')
( trap '' XFSZ; ulimit -f $(( $(stat -c %s tagged.mp3) / 1024 + 20 )); "$tool" tags write tagged.mp3 "comment=$long" ) 2>err; rc=$?
check "tags that cannot be saved whole fail (rc $rc: $(cat err))" \
  '[ $rc -eq 1 ] && grep -qxF "veldmix-tool tags: Couldn'"'"'t save the tags of tagged.mp3: the file would be larger than this disk or account allows" err'
check "the failed tag save leaves the file as it was" 'cmp -s tagged.mp3 before.mp3 && [ -z "$(ls -A | grep veldmix-tmp)" ]'

[ $fail -eq 0 ] && echo "PASS: media tool"
exit $fail
