#!/usr/bin/env bash
# veldmix-tool analyse-view on dance grooves and click tracks made by ffmpeg whose hits start on
# exact samples (118-140 BPM, start offsets across a beat): a kick under a bright sawtooth bass on
# other sixteenths, open hats on the off-beats and a clap on two and four. Every stored first beat
# lies within 1 ms of the first kick or click, so two of them synced sound together; and the grid
# never lands on the bass's sixteenth or the hats' off-beat.
# Cost: 46
set -u
tool="${VELDMIX_BUILD:?VELDMIX_BUILD must name the build folder}/veldmix-tool"
work=$(mktemp -d /tmp/veldmix-e2e-beat-ms-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail=0
cd "$work" || exit 1
export HOME="$work/home" LANG=C.UTF-8
unset XDG_DATA_HOME XDG_STATE_HOME XDG_CONFIG_HOME
data="$HOME/.local/share/Veldmix"
mkdir -p "$data" music
rate=44100

# groove BPM FIRST_SAMPLE BASS HAT_HIGHPASS_HZ HAT_DB CLAP_DB KIND OUT: KIND kick (a sine falling
# from 150 to 50 Hz) or click (10 ms of 1 kHz, nothing else); BASS marks the sixteenths of each
# beat a 55 Hz sawtooth plays (x). Each hit starts on the first sample at or after its time.
groove() {
  local bpm=$1 first=$2 bass=$3 hp=$4 hat_db=$5 clap_db=$6 kind=$7 out=$8
  local F b
  F=$(awk -v s="$first" -v r=$rate 'BEGIN { printf "%.9f", s / r }')
  b=$(awk -v x="$bpm" 'BEGIN { printf "%.12f", 60 / x }')
  local tau="mod(t-$F,$b)" hit
  if [ "$kind" = click ]; then
    hit="if(lt($tau,0.01),0.8*sin(2*PI*1000*$tau),0)"
  else
    hit="if(lt($tau,0.3),0.9*sin(2*PI*(50*$tau+3*(1-exp(-$tau/0.03))))*exp(-$tau/0.25),0)"
  fi
  local s16="mod(t-$F,$b/4)" step="floor($tau/($b/4))" notes=0 i
  for i in 0 1 2 3; do [ "${bass:$i:1}" = x ] && notes="$notes+eq($step,$i)"; done
  local saw="($notes)*0.45*2*(55*$s16-floor(55*$s16+0.5))*min($s16/0.003,1)*exp(-$s16/0.08)"
  local th="mod(t-$F-$b/2,$b)" tc="mod(t-$F-$b,2*$b)"
  ffmpeg -v error -y \
    -f lavfi -i "aevalsrc='gte(t,$F)*($hit+$saw)':s=$rate:d=20" \
    -f lavfi -i "aevalsrc='gte(t,$F+$b/2)*if(lt($th,0.15),(random(0)*2-1)*exp(-$th/0.05),0)':s=$rate:d=20" \
    -f lavfi -i "aevalsrc='gte(t,$F+$b)*if(lt($tc,0.12),(random(1)*2-1)*exp(-$tc/0.03),0)':s=$rate:d=20" \
    -filter_complex "[1]highpass=f=$hp:poles=2,volume=${hat_db}dB[h];[2]bandpass=f=1500:width_type=q:w=1,volume=$((clap_db + 6))dB[c];[0][h][c]amix=inputs=3:normalize=0" \
    -ac 2 "$out"
}

# name BPM first-sample bass hat-highpass hat-dB clap-dB
grooves=(
  "g118 118 5443 .xxx 6000 -12 -6"
  "g120 120 0 ..x. 1000 -3 -12"
  "g122 122.5 13278 .x.x 7000 -18 0"
  "g124 124 777 xx.x 1000 0 -18"
  "g128 128.8 13278 x.xx 1000 -6 -15"
  "g131 131.3 9999 ..xx 6000 -15 -6"
  "g137 137 15000 .x.. 1000 -12 -12"
  "g140 140 2222 .xxx 6000 -6 -6"
)
for spec in "${grooves[@]}"; do
  read -r name bpm first bass hp hat clap <<<"$spec"
  groove "$bpm" "$first" "$bass" "$hp" "$hat" "$clap" kick "music/$name.flac"
  groove "$bpm" "$first" "...." "$hp" -120 -120 click "music/c${name#g}.wav"
done
for f in music/*; do
  ffprobe -v error -show_entries stream=sample_rate -of csv=p=0 "$f" | grep -qx $rate || { echo "FAIL: ffmpeg made no $rate Hz $f"; fail=1; }
done
printf '[Tour]\nDone=1\n[Library]\nCount=1\nFolder0=%s\nSelected=0\n' "$work/music" >"$data/settings.ini"
"$tool" analyse-view >out.txt 2>err.txt || { echo "FAIL: analyse-view: $(cat err.txt)"; exit 1; }

# The database keeps the first beat to 10 microseconds; the error is taken modulo the beat.
for spec in "${grooves[@]}"; do
  read -r name bpm first _ <<<"$spec"
  for file in "$name.flac" "c${name#g}.wav"; do
    row=$(awk -F'\t' -v p="$work/music/$file" '$1 == p { print $2, $3 }' "$data/database.tsv")
    verdict=$(awk -v bpm="$bpm" -v s="$first" -v r=$rate -v row="$row" 'BEGIN {
      split(row, f, " "); b = 60 / bpm; d = f[2] - s / r; d -= b * int(d / b + (d > 0 ? 0.5 : -0.5))
      if (row == "") print "no database row"
      else if (f[1] - bpm > 0.05 || bpm - f[1] > 0.05) printf "%s BPM", f[1]
      else if (d * 1000 > 1 || d * 1000 < -1) printf "first beat %.5f s, %+.2f ms (%.2f of a beat) from %.5f", f[2], d * 1000, d / b, s / r
      else print "ok" }')
    [ "$verdict" = ok ] || { echo "FAIL: $file ($bpm BPM from sample $first): $verdict"; fail=1; }
  done
done

[ $fail -eq 0 ] && echo "PASS: first beats within 1 ms"
exit $fail
