#!/usr/bin/env bash
# veldmix-tool lyrics find, cache-path and save against files made by real tools: an MP3 whose
# SYLT frame python3-mutagen wrote, an MP4 video made by ffmpeg, and one LRC file in five
# encodings made by iconv. Checks the lookup order (cache, video, CD+G, LRC, tags), the printed
# kind, source and LRC text, and that the cache is written whole.
# Cost: 17
set -u
tool="${VELDMIX_BUILD:?VELDMIX_BUILD must name the build folder}/veldmix-tool"
tagger="${VELDMIX_SOURCE:?VELDMIX_SOURCE must name the source folder}/tests/support/make_lyrics_tags.py"
python=/usr/bin/python3  # Debian's, which has python3-mutagen
work=$(mktemp -d /tmp/veldmix-e2e-lyrics-XXXXXX)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_DATA_HOME="$work/home/data"
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
cd "$work" || exit 1

tone="-f lavfi -i sine=frequency=440:duration=1"
ffmpeg -v error $tone -c:a libmp3lame base.mp3

# --- tags ---
cp base.mp3 sylt.mp3
"$python" "$tagger" sylt.mp3 --sylt-encoding 1 \
  --sylt '[["Hel", 1000], ["lo ", 1400], ["world\n", 2000], ["Sec", 3000], ["ond", 3500]]'
out=$("$tool" lyrics find sylt.mp3)
check "SYLT syllables become word-timed lines (got: $out)" '[ "$out" = "kind: Synced
source: synced lyrics in the track'"'"'s tags
[re:Veldmix 1.0.10]
[00:01.00]<00:01.00>Hel<00:01.40>lo <00:02.00>world
[00:03.00]<00:03.00>Sec<00:03.50>ond" ]'

# A later frame whose 2.4 size is not syncsafe (a common tagger fault) ends the tag's frames there;
# the SYLT frame before it is still read, as mutagen reads it.
cp base.mp3 badsize.mp3
"$python" "$tagger" badsize.mp3 --sylt '[["First", 1000], ["Second", 2000]]' --plain-size-frame 3000
check "mutagen still reads the SYLT frame" \
  '[ "$("$python" -c "import mutagen.id3, sys; print(len(mutagen.id3.ID3(sys.argv[1]).getall(\"SYLT\")))" badsize.mp3)" = 1 ]'
out=$("$tool" lyrics find badsize.mp3)
check "the SYLT frame before a frame with a plain 2.4 size is read (got: $out)" '[ "$out" = "kind: Synced
source: synced lyrics in the track'"'"'s tags
[re:Veldmix 1.0.10]
[00:01.00]First
[00:02.00]Second" ]'

"$tool" lyrics find base.mp3 >out 2>err; rc=$?
check "a track without words says so (rc $rc: $(cat err))" \
  '[ $rc -eq 1 ] && [ ! -s out ] && grep -qxF "veldmix-tool lyrics: No words found for this track" err'

# --- the lookup order ---
ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=10:duration=1 $tone -c:v libx264 -c:a aac -shortest clip.mp4
printf '[00:01.00]Beside\n' > clip.lrc
check "a video file is the track's own karaoke video, before its LRC" \
  '[ "$("$tool" lyrics find clip.mp4)" = "$(printf "kind: KaraokeVideo\nsource: the track'"'"'s own karaoke video")" ]'

cp sylt.mp3 my.song.mp3
printf '[00:04.00]From the LRC\n' > my.song.lrc
check "an LRC beside the track comes before its tags" \
  '"$tool" lyrics find my.song.mp3 | grep -qxF "source: my.song.lrc"'
head -c 10 /dev/zero > my.song.cdg
check "a CD+G file shorter than a packet is passed over" \
  '"$tool" lyrics find my.song.mp3 | grep -qxF "source: my.song.lrc"'
head -c 2400 /dev/urandom > my.song.cdg
out=$("$tool" lyrics find my.song.mp3)
check "a CD+G file beside the track comes before the LRC (got: $out)" \
  '[ "$out" = "$(printf "kind: CdgGraphics\nsource: CD+G graphics (my.song.cdg)\ncdg: 2400 bytes")" ]'

# --- the cache ---
cache=$("$tool" lyrics cache-path my.song.mp3)
check "the cache file sits in the data folder's Lyrics folder (got: $cache)" \
  '[[ "$cache" =~ ^$XDG_DATA_HOME/Veldmix/Lyrics/[0-9a-f]{16}\.lrc$ ]]'
check "the cache is named by the path: another track, another file" \
  '[ "$("$tool" lyrics cache-path "$work/other.mp3")" != "$cache" ]'
printf '[offset:-250]\n[00:07.00]<00:07.00>Saved <00:07.50>words\n' > keep.lrc
check "save prints the cache file" '[ "$("$tool" lyrics save my.song.mp3 keep.lrc)" = "$cache" ]'
check "the cache file is UTF-8 with a mark and the offset folded in" \
  '[ "$(cat "$cache")" = "$(printf "\357\273\277[re:Veldmix 1.0.10]\n[00:07.25]<00:07.25>Saved <00:07.75>words")" ]'
check "no temporary file is left" '[ -z "$(ls "$(dirname "$cache")" | grep -v "\.lrc$")" ]'
check "the cache comes before everything beside the track" \
  '"$tool" lyrics find my.song.mp3 | grep -qxF "source: saved in Veldmix"'
printf 'untimed words\n' > plain.lrc
"$tool" lyrics save base.mp3 plain.lrc 2>err; rc=$?
check "plain words are not saved (rc $rc: $(cat err))" \
  '[ $rc -eq 1 ] && grep -qF "holds no timed lines" err && [ ! -e "$("$tool" lyrics cache-path base.mp3)" ]'

# --- one LRC in five encodings ---
printf '[ti:Caf\303\251]\n[00:01.00]\342\200\234Na\303\257ve\342\200\235 \342\200\224 \342\202\2545 \303\240 la cr\303\250me\n' > utf8.lrc
{ printf '\357\273\277'; cat utf8.lrc; } > bom.lrc
{ printf '\377\376'; iconv -f UTF-8 -t UTF-16LE utf8.lrc; } > le.lrc
{ printf '\376\377'; iconv -f UTF-8 -t UTF-16BE utf8.lrc; } > be.lrc
iconv -f UTF-8 -t WINDOWS-1252 utf8.lrc > cp1252.lrc
for enc in utf8 bom le be cp1252; do
  cp base.mp3 "enc_$enc.mp3"
  cp "$enc.lrc" "enc_$enc.lrc"
  out=$("$tool" lyrics find "enc_$enc.mp3" | tail -1)
  check "the $enc LRC reads the same words (got: $out)" '[ "$out" = "[00:01.00]“Naïve” — €5 à la crème" ]'
done

exit $fail
