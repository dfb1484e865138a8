#!/usr/bin/env bash
# Labels: slow
# Cost: 41
# veldmix-tool demo-tracks FOLDER: both songs as tagged 44.1 kHz stereo MP3s whose decoded length
# is exact (ffmpeg, ffprobe, mutagen read them back), leftovers of a killed run removed, a folder
# that can't be written refused with the user's message, and an MP3 that can't be made kept as WAV.
set -u
tool="$VELDMIX_BUILD/veldmix-tool"
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
song0="Veldmix - Neon Drive (Demo)"
song1="Veldmix - Midnight Run (Demo)"

# Decoded frames and the absolute peak (0..1) of a file, through ffmpeg.
frames_and_peak() {
  ffmpeg -v error -i "$1" -f s16le -acodec pcm_s16le -ac 2 -ar 44100 - | python3 -c '
import sys, array
a = array.array("h"); a.frombytes(sys.stdin.buffer.read())
print(len(a) // 2, max(max(a), -min(a)) / 32768)'
}
# The ID3 frame in a WAV (mutagen's easy names cover MPEG files only).
wav_tag() { /usr/bin/python3 -c 'import sys, mutagen; print(mutagen.File(sys.argv[1]).tags[sys.argv[2]].text[0])' "$1" "$2"; }
tag() { /usr/bin/python3 -c 'import sys, mutagen; f = mutagen.File(sys.argv[1], easy=True); print(";".join(f.get(sys.argv[2], [""])))' "$1" "$2"; }

dir="$work/Demo Tracks"
mkdir -p "$dir"
: > "$dir/~demo1.wav"  # a killed run's temporary
check "demo-tracks succeeds" '"$tool" demo-tracks "$dir" > "$work/out.txt"'
check "it names both MP3s" '[ "$(cat "$work/out.txt")" = "$(printf "%s\n%s" "$dir/$song0.mp3" "$dir/$song1.mp3")" ]'
check "no temporary is left" '[ -z "$(ls "$dir" | grep "~demo")" ]'
i=0
for name in "$song0" "$song1"; do
  f="$dir/$name.mp3"
  read -r frames peak < <(frames_and_peak "$f")
  want=$([ $i = 0 ] && echo 5572959 || echo 5486250)
  check "$name decodes to $want frames (got $frames)" '[ "$frames" = "$want" ]'
  check "$name peaks in 0.84-0.95 (got $peak)" 'python3 -c "import sys; sys.exit(not 0.84 <= $peak <= 0.95)"'
  check "$name is 44.1 kHz stereo MP3" \
    '[ "$(ffprobe -v error -show_entries stream=codec_name,sample_rate,channels -of csv=p=0 "$f")" = "mp3,44100,2" ]'
  title=$([ $i = 0 ] && echo "Neon Drive" || echo "Midnight Run")
  check "$name title tag" '[ "$(tag "$f" title)" = "$title" ]'
  check "$name artist, album, genre tags" \
    '[ "$(tag "$f" artist)|$(tag "$f" album)|$(tag "$f" genre)" = "Veldmix Demo|Veldmix Demo Tracks|House" ]'
  check "$name comment tag" '[ "$(ffprobe -v error -show_entries format_tags=comment -of csv=p=0 "$f")" = "Made by Veldmix to try it out with. Free to use however you like." ]'
  i=$((i + 1))
done

# A folder that cannot be made (under a plain file; chmod does not stop root).
: > "$work/plain"
bad="$work/plain/Demo Tracks"
check "an unwritable folder fails" '! "$tool" demo-tracks "$bad" 2> "$work/err.txt"'
check "with the user's message" 'grep -qF "Couldn'"'"'t write the demo tracks to $bad" "$work/err.txt"'

# The MP3 of song 0 cannot be written (a folder holds its name): that song stays a tagged WAV.
wavdir="$work/wav"
mkdir -p "$wavdir/$song0.mp3"
check "a failed MP3 still succeeds" '"$tool" demo-tracks "$wavdir" > "$work/out2.txt"'
check "song 0 is named .wav" '[ "$(head -1 "$work/out2.txt")" = "$wavdir/$song0.wav" ]'
check "the WAV holds song 0 whole" '[ "$(soxi -s "$wavdir/$song0.wav")" = 5572959 ] && [ "$(soxi -r "$wavdir/$song0.wav")" = 44100 ]'
check "the WAV is tagged" '[ "$(wav_tag "$wavdir/$song0.wav" TIT2)|$(wav_tag "$wavdir/$song0.wav" TCON)" = "Neon Drive|House" ]'
check "song 1 is still an MP3" '[ -f "$wavdir/$song1.mp3" ]'
check "no temporary is left after the fallback" '[ -z "$(ls "$wavdir" | grep "~demo")" ]'

[ $fail = 0 ] && echo "demo_tracks_tool: all checks passed"
exit $fail
