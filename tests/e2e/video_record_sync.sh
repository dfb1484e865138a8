#!/usr/bin/env bash
# Labels: slow
# Cost: 98
# The real program with [Video] Record=1 records a flash-and-beep clip (two white frames starting
# with a 30 ms 1 kHz beep every 47 frames) played on deck A, once on a 44.1 kHz master and once on
# a 48 kHz one: in each MP4 every flash lies within one frame (33 ms) of its beep, and the mean
# offset within half a frame of none. The clip's player shows a picture only once its time has
# come and the recorder takes it for the frame it belongs to; a picture shown when decoded came up
# to a frame early.
set -uo pipefail
source "$(dirname "$0")/../support/e2e_preamble.sh"
need veldmix Xvfb xdotool ffmpeg ffprobe soxi
support="$source_dir/tests/support"
source "$support/encode_rate.sh"
readonly kRecordSeconds=30
readonly kFlashFrames=47
readonly kBusyMachine=0.25  # share of the cores others used, above which a late capture is theirs
trap 'e2e_cleanup' EXIT

private_home
own_sound_server
export OMP_THREAD_LIMIT=1
"$server" add-sink veldmix_cd 2 44100 float32le >/dev/null || fail "no 44.1 kHz sink"
recordings="$HOME/Music/Veldmix Recordings"
clip="$work/flash beep.mp4"
# One period of sound (47 frames at 48 kHz: 75200 samples), looped; the beep starts with frame 15.
ffmpeg -v error -f lavfi -i "color=c=0x202020:s=640x360:r=30:d=60" \
  -f lavfi -i "aevalsrc=0.5*sin(2*PI*1000*t)*lt(t\,0.03)|0.5*sin(2*PI*1000*t)*lt(t\,0.03):s=48000:n=1024:d=1.5666666667,aloop=loop=-1:size=75200,adelay=500:all=1,atrim=end=60" \
  -vf "drawbox=x=0:y=0:w=iw:h=ih:c=white:t=fill:enable='between(mod(n\,$kFlashFrames)\,15\,16)'" \
  -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 30 -c:a aac -b:a 192k -shortest "$clip" ||
  fail "ffmpeg could not make the clip"
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"

# record SINK RATE: one recording on that master; sets worst, mean (ms: the largest distance of a
# flash from its beep, and the signed mean, positive for a flash after its beep) and flashes.
record() {
  local sink=$1 rate=$2 app_pid wav mp4 sync busy_before started=$SECONDS
  read -r busy_before _ <<<"$(busy_core_seconds)"
  rm -rf "$recordings" "$log"
  printf '[Tour]\nDone=1\n[Options]\nRecordFormat=0\n[Audio]\nMaster=%s\n[Video]\nRecord=1\nHeight=720\n' "$sink" \
    >"$settings"
  "$app" "$clip" >"$work/app-$rate.out" 2>&1 &
  app_pid=$!
  wait_for 30 window_shown || fail "the main window did not appear"
  wait_for 10 log_has "Audio: master output started ($rate Hz" ||
    fail "the master did not start at $rate Hz: $(grep 'master output' "$log")"
  wait_for 30 deck_loaded A "$clip" || fail "deck A did not load the clip at $rate Hz"
  press x
  sleep 1
  press ctrl+r
  wait_for 10 log_has "Video recording started" || fail "the video recording did not start at $rate Hz"
  sleep $kRecordSeconds
  press ctrl+r
  wait_for 30 log_has "Video recording stopped" || fail "the MP4 at $rate Hz was not finished"
  kill -TERM "$app_pid"
  wait "$app_pid" || fail "the program ended with $? at $rate Hz"
  others_share "$busy_before" $((SECONDS - started + 1))
  busiest=$(awk -v a="$others_share" -v b="${busiest:-0}" 'BEGIN { print (a > b ? a : b) }')
  wav=$(ls "$recordings"/*.wav 2>/dev/null | head -n 1)
  mp4="${wav%.wav}.mp4"
  [ -s "$mp4" ] || fail "no MP4 at $rate Hz: $(ls "$recordings")"
  [ "$(soxi -r "$wav")" = "$rate" ] || fail "the WAV is at $(soxi -r "$wav") Hz, not $rate"
  # Judged below, not by the checker's own wider limits. A bright picture far from any beep (the
  # first frame, before the clip's first picture reached the recorder) is no flash of the clip.
  sync=$(/usr/bin/python3 "$support/flash_beep_sync.py" "$mp4" --earliest -30 --latest 30 2>&1)
  echo "$sync" | awk '/^flash at/ { f = $(NF - 1); if (f >= -10 && f <= 10) print }' >"$work/flashes-$rate.txt"
  [ "$(wc -l <"$work/flashes-$rate.txt")" -ge 12 ] || fail "under 12 flashes found beside beeps at $rate Hz: $sync"
  read -r worst mean flashes < <(awk -v fps=30 '{ ms = $(NF - 1) * 1000 / fps; a = ms < 0 ? -ms : ms
    if (a > worst) worst = a; sum += ms; n++ } END { printf "%.1f %.1f %d\n", worst, sum / n, n }' "$work/flashes-$rate.txt")
}

failed=""
for run in "veldmix_cd 44100" "veldmix_test 48000"; do
  read -r sink rate <<<"$run"
  record "$sink" "$rate"
  echo "video_record_sync: $rate Hz: $flashes flashes, worst ${worst} ms, mean ${mean} ms;" \
    "frames after the beep: $(awk '{ printf "%s ", $(NF - 1) }' "$work/flashes-$rate.txt")"
  awk -v w="$worst" -v m="$mean" 'BEGIN { exit !(w <= 33.4 && m >= -16.7 && m <= 16.7) }' ||
    failed+="${failed:+; }at $rate Hz the worst flash is $worst ms from its beep, the mean $mean ms ($(tr '\n' '|' <"$work/flashes-$rate.txt"))"
done
if [ -n "$failed" ]; then
  # A machine that cannot encode the pictures in real time, or whose cores other work held, records
  # them late.
  encode_too_slow && { echo "video_record_sync: SKIP ($failed); $(too_slow_reason)"; exit 0; }
  if awk -v a="$busiest" -v b=$kBusyMachine 'BEGIN { exit !(a > b) }'; then
    echo "video_record_sync: SKIP ($failed); other work kept $busiest of the cores busy"
    exit 0
  fi
  fail "$failed"
fi
echo "video_record_sync: PASS"
