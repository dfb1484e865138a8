#!/usr/bin/env bash
# veldmix-tool analyse-view over the start view (the selected music folder): click tracks of three
# tempos over chords of known key get their BPM within 0.05 and their key, stored in the database;
# a held tone has no tempo, fifteen minutes long or two seconds short, as veldmix-tool analyse
# says too; an undecodable file stays unanalysed; a second run finds nothing left to do.
# Cost: 28
set -u
tool="${VELDMIX_BUILD:?VELDMIX_BUILD must name the build folder}/veldmix-tool"
work=$(mktemp -d /tmp/veldmix-e2e-analyse-view-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
near() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; exit !(d <= t && -d <= t) }'; }
cd "$work" || exit 1
export HOME="$work/home" LANG=C.UTF-8
unset XDG_DATA_HOME XDG_STATE_HOME XDG_CONFIG_HOME
data="$HOME/.local/share/Veldmix"
mkdir -p "$data" music

# Noise clicks on every beat from 0.25 s over a quiet three-note chord (a pitched beep, ten times
# the chord's energy, would be a note of the piece).
clicks() {  # BPM NOTE1 NOTE2 NOTE3 OUT
  local chord="0.03*(sin(2*PI*$2*t)+sin(2*PI*$3*t)+sin(2*PI*$4*t))"
  ffmpeg -v error -y -f lavfi \
    -i "aevalsrc='if(gte(t,0.25)*lt(mod(t-0.25,60/$1),0.01),0.8*(random(0)*2-1),0)+$chord':s=44100:d=20" \
    -ac 2 "$5"
}
clicks 100 220 261.63 329.63 music/a100.wav    # A minor
clicks 124 261.63 329.63 392 music/b124.mp3    # C major
clicks 140 246.94 293.66 369.99 music/c140.flac   # B minor
# A 441 Hz tone of fifteen minutes at about -30 LUFS, and a two-second sine clip.
ffmpeg -v error -y -f lavfi -i "sine=frequency=441:duration=900:sample_rate=44100" -af volume=-12dB -ac 2 music/e_tone.flac
ffmpeg -v error -y -f lavfi -i "sine=frequency=880:duration=2:sample_rate=44100" -ac 2 music/f_clip.wav
echo "not audio" >music/d_bad.mp3
printf '[Tour]\nDone=1\n[Library]\nCount=1\nFolder0=%s\nSelected=0\n' "$work/music" >"$data/settings.ini"

"$tool" analyse-view >out.txt 2>err.txt; rc=$?
check "analyse-view exits 0 (got $rc: $(cat err.txt))" '[ $rc -eq 0 ]'
check "the status says it finished" '[ "$(tail -n1 out.txt)" = "Analysis finished" ]'
for want in "100 Am a100.wav" "124 C b124.mp3" "140 Bm c140.flac"; do
  read -r bpm key name <<<"$want"
  line=$(grep -P "\t$work/music/$name$" out.txt)
  got_bpm=$(cut -f1 <<<"$line") got_key=$(cut -f2 <<<"$line")
  check "$name is $bpm BPM within 0.05 (got $got_bpm)" 'near "$got_bpm" "$bpm" 0.05'
  check "$name is in $key (got $got_key)" '[ "$got_key" = "$key" ] && [ "$(cut -f4 <<<"$line")" = analysed ]'
done
for name in e_tone.flac f_clip.wav; do
  line=$(grep -P "\t$work/music/$name$" out.txt)
  check "$name has no tempo (got '$(cut -f1 <<<"$line")')" '[ "$(cut -f1 <<<"$line")" = 0.00 ] && [ "$(cut -f4 <<<"$line")" = analysed ]'
  check "and veldmix-tool analyse agrees ($("$tool" analyse "music/$name" | grep bpm))" \
    '[ "$("$tool" analyse "music/$name" | grep "^bpm:")" = "bpm: 0.00" ]'
done
check "the undecodable file stays unanalysed" 'grep -qP "\tunanalysed\t$work/music/d_bad.mp3$" out.txt'
check "the database holds the three analysed click tracks" \
  '[ "$(grep -c "^$work/music/[abc]" "$data/database.tsv")" = 3 ]'

"$tool" analyse-view >again.txt 2>&1
check "a second run offers only the undecodable file again" '[ "$(tail -n1 again.txt)" = "Analysis finished" ]'
mv music/d_bad.mp3 "$work/"
"$tool" analyse-view >none.txt 2>&1
check "with everything analysed nothing starts" '[ "$(tail -n1 none.txt)" = "Everything here is already analysed" ]'

"$tool" analyse-view extra >out.txt 2>err.txt; rc=$?
check "analyse-view with an argument exits 2 with usage" '[ $rc -eq 2 ] && grep -q usage err.txt && [ ! -s out.txt ]'
exit $fail
