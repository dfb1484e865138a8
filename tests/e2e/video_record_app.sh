#!/usr/bin/env bash
# Labels: slow
# Cost: 63
# The real program with [Video] Record=1: a flash-and-beep video clip (two white frames starting
# with a 30 ms 1 kHz beep every 41 frames; two, because a UI slowed by a loaded machine hands the
# stream every other picture and the slot between gets the one before) plays on deck A; Ctrl+R ...
# Ctrl+R records the WAV and, beside it, "<stem>.mp4" rendered by the real player and compositor:
# H.264 1280x720 at 30/1, AAC stereo at the master rate, as long as the WAV within 0.1 s with 30
# frames a second, the index in front, readable by GStreamer, and each flash within -1.5..+4 frames
# of its beep
# (the player shows the first frame at or after t - 0.05 s, up to 1.5 frames early; a loaded
# machine delays the player's frames by up to about one more, and a stalled player one flash
# now and then by several). The recorder's own precision, -1..+3 frames for every flash, is
# checked with veldmix-tool in video_record.sh and live_video.sh.
# Then GO LIVE with a custom service ([LiveVideo] Service=3, its sealed key) sends the same mix to
# nginx-rtmp, in sync, and GO LIVE again ends the stream within a second.
set -uo pipefail
source "$(dirname "$0")/../support/e2e_preamble.sh"
need veldmix Xvfb xdotool ffmpeg ffprobe gst-launch-1.0 mediainfo import convert tesseract nginx
support="$source_dir/tests/support"
source "$support/nginx_rtmp.sh"
artifacts="$build/e2e-artifacts/video_record_app"
rm -rf "$artifacts"
mkdir -p "$artifacts" "$work/nginx"
e2e_on_fail() {  # keeps what was recorded for a look
  cp "$HOME/Music/Veldmix Recordings"/* "$work/nginx/rec"/* "$artifacts" 2>/dev/null
  nginx_rtmp_stop "$work/nginx"
}
trap 'nginx_rtmp_stop "$work/nginx"; e2e_cleanup' EXIT
nginx_rtmp_start "$work/nginx" || fail "nginx did not start"
source "$work/nginx/ports"
readonly kRecordSeconds=14
near() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= t) }'; }
source "$support/encode_rate.sh"

private_home
own_sound_server unless-shared
export OMP_THREAD_LIMIT=1
mkdir -p "$(dirname "$settings")"
key=$(/usr/bin/python3 "$support/seal_secret.py" "$HOME/.config" progkey) || fail "the key could not be sealed"
printf '[Tour]\nDone=1\n[Options]\nRecordFormat=0\n[Video]\nRecord=1\nHeight=720\n[LiveVideo]\nService=3\nUrl=rtmp://127.0.0.1:%s/live\nKey3=%s\n' \
  "$rtmp" "$key" >"$settings"
recordings="$HOME/Music/Veldmix Recordings"
clip="$work/flash beep.mp4"
# 90 s: on a loaded machine the recording's checks can take half a minute before GO LIVE, and the
# live stream needs the clip still playing. One 41-frame period of sound (65600 samples), looped.
ffmpeg -v error -f lavfi -i "color=c=0x202020:s=640x360:r=30:d=90" \
  -f lavfi -i "aevalsrc=0.5*sin(2*PI*1000*t)*lt(t\,0.03)|0.5*sin(2*PI*1000*t)*lt(t\,0.03):s=48000:n=1024:d=1.3666666667,aloop=loop=-1:size=65600,adelay=500:all=1,atrim=end=90" \
  -vf "drawbox=x=0:y=0:w=iw:h=ih:c=white:t=fill:enable='between(mod(n\,41)\,15\,16)'" \
  -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 30 -c:a aac -b:a 192k -shortest "$clip" ||
  fail "ffmpeg could not make the clip"
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"

window_id() { xdotool search --class '^veldmix$' 2>/dev/null | head -n 1; }
window_shown() { [ -n "$(window_id)" ]; }
press() {
  xdotool windowfocus --sync "$(window_id)" 2>/dev/null
  xdotool key --clearmodifiers "$1"
}
mp4_done() { log_has "Video recording stopped"; }

"$app" "$clip" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 30 window_shown || fail "the main window did not appear"
wait_for 10 log_has "Audio: master output started" || fail "the output did not start"
sleep 2
press x  # deck A plays before the recording starts: every picture recorded is the clip's
sleep 1
press ctrl+r
wait_for 10 log_has "Video recording started: 1280x720, 30 fps" || fail "the video recording did not start"
sleep $kRecordSeconds
press ctrl+r
wait_for 30 mp4_done || fail "the MP4 was not finished"
wav=$(ls "$recordings"/*.wav 2>/dev/null | head -n 1)
[ -n "$wav" ] || fail "no WAV: $(ls "$recordings")"
mp4="${wav%.wav}.mp4"
[ -s "$mp4" ] || fail "no MP4 beside the WAV: $(ls "$recordings")"

v=$(ffprobe -v error -select_streams v -show_entries stream=codec_name,width,height,r_frame_rate -of compact=p=0 "$mp4")
[ "$v" = "codec_name=h264|width=1280|height=720|r_frame_rate=30/1" ] || fail "the picture is $v"
rate=$(soxi -r "$wav")
a=$(ffprobe -v error -select_streams a -show_entries stream=codec_name,sample_rate,channels -of compact=p=0 "$mp4")
[ "$a" = "codec_name=aac|sample_rate=$rate|channels=2" ] || fail "the sound is $a (the WAV is at $rate Hz)"
wav_s=$(soxi -D "$wav")
adur=$(ffprobe -v error -select_streams a -show_entries stream=duration -of csv=p=0 "$mp4")
vdur=$(ffprobe -v error -select_streams v -show_entries stream=duration -of csv=p=0 "$mp4")
# The MP4 holds the sound the recorder says it took, and pictures to match.
took=$(grep -oP 'Video recording stopped: \K[0-9.]+' "$log" | tail -n 1)
near "$adur" "$took" 0.15 || fail "the MP4's sound lasts $adur s, the recorder took $took s"
near "$vdur" "$adur" 0.1 || fail "the MP4's picture lasts $vdur s, its sound $adur s"
frames=$(ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames -of csv=p=0 "$mp4")
near "$frames" "$(awk -v d="$adur" 'BEGIN { print 30 * d }')" 2 || fail "$frames frames for $adur s of sound"
# It took the whole of the WAV recorded beside it, unless this machine can't encode the pictures in
# real time: then the recorder falls behind the mix and its sound ring runs over.
if ! near "$took" "$wav_s" 0.15; then
  encode_too_slow ||
    fail "the recorder took $took s of the $wav_s s WAV, on a machine that encodes 720p at $encoded pictures a second"
  echo "video_record_app: SKIP the MP4's length against the WAV: the recorder took $took s of $wav_s s; $(too_slow_reason)"
fi
boxes=$(/usr/bin/python3 "$support/mp4_boxes.py" "$mp4")
[[ "$boxes" == "ftyp "*"moov"*"mdat"* ]] || fail "the index is not in front: $boxes"
[[ "$(mediainfo --Full "$mp4")" =~ IsStreamable\ +:\ Yes ]] || fail "mediainfo does not call it streamable"
decoded=$(timeout 60 gst-launch-1.0 -v filesrc location="$mp4" ! qtdemux ! h264parse ! openh264dec ! \
          fakesink silent=false 2>&1 | grep -c "chain")
[ "$decoded" = "$frames" ] || fail "GStreamer decoded $decoded of $frames frames"
# A flash the window draws late is recorded late; where the machine was measured too slow for the
# recording above, the flashes are not held to their beeps.
if sync=$(/usr/bin/python3 "$support/flash_beep_sync.py" "$mp4" --min-flashes 6 --earliest -1.5 --latest 4 --outliers 1 2>&1); then
  record_sync=$(echo "$sync" | tail -1)
elif encode_too_slow; then
  record_sync="the recording's flashes not judged"
  echo "video_record_app: SKIP the recording's flashes against its beeps ($(echo "$sync" | tail -1)); $(too_slow_reason)"
else
  fail "flashes and beeps apart: $sync"
fi

# --- GO LIVE: found on the top bar by its label ---
eval "$(xdotool getwindowgeometry --shell "$(window_id)")"  # X Y WIDTH HEIGHT
screen_shot "$artifacts/bar.png" || fail "no screenshot"
convert "$artifacts/bar.png" -crop "${WIDTH}x40+$X+$Y" +repage -resize 300% -colorspace Gray -negate "$work/bar.png"
read -r lx ly < <(tesseract "$work/bar.png" - tsv 2>/dev/null |
  awk -F'\t' '$12 == "GO" { gx = $7; gy = $8 } $12 == "LIVE" && gx != "" { print int((gx + $7 + $9) / 2 / 3), int(($8 + $10 / 2) / 3); exit }')
[ -n "${lx:-}" ] || fail "GO LIVE was not found on the top bar"
flv="$work/nginx/rec/progkey.flv"
xdotool mousemove $((X + lx)) $((Y + ly)) click 1
wait_for 10 log_has "Live video: on air, 1280x720 at 3500 kbit/s" || fail "live video did not go on air"
sleep 10
connected() { awk -v p="$(printf ':%04X' "$rtmp")" '$3 ~ p"$" && $4 == "01" { n++ } END { exit !n }' /proc/net/tcp; }
disconnected() { ! connected; }
connected || fail "no connection to nginx while on air"
xdotool mousemove $((X + lx)) $((Y + ly)) click 1
wait_for 1 disconnected || fail "GO LIVE again did not end the stream within a second"
sleep 0.5
info=$(ffprobe -v error -show_entries stream=codec_name,width,height,sample_rate -of compact=p=0 "$flv" | sort | tr '\n' ' ')
[[ "$info" == *"codec_name=aac|sample_rate=$rate"* && "$info" == *"codec_name=h264|width=1280|height=720"* ]] ||
  fail "nginx recorded $info"
# FLV has no edit list: the AAC encoder's 1024 priming samples at the start move the sound 21 ms
# (0.64 frames) later, so the flashes may come that much earlier still.
if ! sync=$(/usr/bin/python3 "$support/flash_beep_sync.py" "$flv" --min-flashes 4 --earliest -2.2 --latest 4 --outliers 1 2>&1); then
  encode_too_slow || fail "live flashes and beeps apart: $sync"
  echo "video_record_app: SKIP the live flashes against their beeps ($(echo "$sync" | tail -1)); $(too_slow_reason)"
fi

kill -TERM "$app_pid"
wait "$app_pid"
code=$?
[ "$code" = 0 ] || fail "the program ended with $code"
echo "video_record_app: PASS ($wav_s s, $frames frames; $record_sync; live: $(echo "$sync" | tail -1))"
