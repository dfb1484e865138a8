#!/usr/bin/env bash
# Labels: slow
# Cost: 71
# The MP4 recorder through veldmix-tool video-record (the real engine at real-time pace, the
# capture paced by the recorded sound, the encoder thread and the muxer): H.264 and AAC of the
# right size, rate and length, the index in front of the media (mediainfo calls it streamable),
# GStreamer decodes every frame, and each flash of the flash-and-beep mix lands within a few frames
# of its beep with no drift. A master rate over 96 kHz is recorded at 48 kHz; a UI stall changes
# nothing in the file; stopping does not hold the caller; an unwritable file is refused.
set -u
tool="$VELDMIX_BUILD/veldmix-tool"
support="$VELDMIX_SOURCE/tests/support"
source "$support/encode_rate.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
# sync_check LABEL RC SYNC NEEDED: a flash/beep result, judged only where this machine encodes fast
# enough for real time (NEEDED 720p pictures a second); otherwise a SKIP that says why.
sync_check() {
  if [ "$2" -eq 0 ]; then return; fi
  if encode_too_slow "$4"; then
    echo "video_record: SKIP $1 ($(echo "$3" | tail -1)); $(too_slow_reason "$4")"
  else
    check "$1: $(echo "$3" | tail -2 | tr '\n' ' ')" false
    echo "$3"
  fi
}
near() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= t) }'; }
field() { ffprobe -v error -select_streams "$2" -show_entries "stream=$3" -of csv=p=0 "$1"; }

# probe FILE LABEL SECONDS WIDTH HEIGHT RATE: the recording is what was asked for, SECONDS being
# the sound the recorder took from the engine.
probe() {
  local f=$1 label=$2 seconds=$3 width=$4 height=$5 rate=$6 v a vdur adur frames boxes
  v=$(ffprobe -v error -select_streams v -show_entries stream=codec_name,profile,width,height,r_frame_rate \
      -of compact=p=0 "$f")
  a=$(ffprobe -v error -select_streams a -show_entries stream=codec_name,profile,sample_rate,channels \
      -of compact=p=0 "$f")
  check "$label: H.264 ${width}x${height} at 30/1 (got $v)" \
    '[ "$v" = "codec_name=h264|profile=Main|width=$width|height=$height|r_frame_rate=30/1" ]'
  check "$label: AAC LC stereo at $rate Hz (got $a)" '[ "$a" = "codec_name=aac|profile=LC|sample_rate=$rate|channels=2" ]'
  vdur=$(field "$f" v duration); adur=$(field "$f" a duration)
  frames=$(ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames -of csv=p=0 "$f")
  check "$label: sound lasts $seconds s within 0.1 s (got $adur)" 'near "$adur" "$seconds" 0.1'
  check "$label: picture as long as the sound within 0.1 s (got $vdur, $adur)" 'near "$vdur" "$adur" 0.1'
  check "$label: 30 frames a second of sound, within 2 (got $frames for $adur s)" \
    'near "$frames" "$(awk -v d="$adur" "BEGIN { print 30 * d }")" 2'
  boxes=$(/usr/bin/python3 "$support/mp4_boxes.py" "$f")
  check "$label: the index comes before the media (boxes: $boxes)" '[[ "$boxes" == "ftyp "*"moov"*"mdat"* ]]'
  check "$label: mediainfo calls it streamable" '[[ "$(mediainfo --Full "$f")" =~ IsStreamable\ +:\ Yes ]]'
  local decoded
  decoded=$(timeout 60 gst-launch-1.0 -v filesrc location="$f" ! qtdemux ! h264parse ! openh264dec ! \
            fakesink silent=false 2>&1 | grep -c "chain")
  check "$label: GStreamer decodes all $frames frames (got $decoded)" '[ "$decoded" = "$frames" ]'
}

# 30 s at 48 kHz: the flash-and-beep sync over about 22 flashes. On a starved machine the player
# can skip a flash frame; every flash that is there must still sit on its beep.
out=$("$tool" video-record "$work/a.mp4" --seconds 30 2>&1); rc=$?
check "video-record runs (rc $rc: $out)" '[ $rc -eq 0 ] && [ -s "$work/a.mp4" ]'
probe "$work/a.mp4" "720p" "$(echo "$out" | awk '/^recorded_seconds/ { print $2 }')" 1280 720 48000
stop_ms=$(echo "$out" | awk '/^stop_wait_ms/ { print $2 }')
check "stopping held the caller under 5 ms (got $stop_ms ms)" 'near "${stop_ms:-99}" 0 5'
sync=$(/usr/bin/python3 "$support/flash_beep_sync.py" "$work/a.mp4" --min-flashes 12 2>&1); rc=$?
sync_check "each flash within -1..+3 frames of its beep, no drift" $rc "$sync" 45

# 1080 lines at a 192 kHz master with the UI frozen for a second: 48 kHz sound, the same frames.
out=$("$tool" video-record "$work/b.mp4" --seconds 6 --height 1080 --rate 192000 --stall-at 2 --stall-ms 1000 2>&1); rc=$?
check "video-record at 192 kHz runs (rc $rc: $out)" '[ $rc -eq 0 ] && [ -s "$work/b.mp4" ]'
probe "$work/b.mp4" "1080p, 192 kHz, stalled" "$(echo "$out" | awk '/^recorded_seconds/ { print $2 }')" 1920 1080 48000
pictures=$(echo "$out" | awk '/^pictures/ { print $2 }')
frames=$(ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames -of csv=p=0 "$work/b.mp4")
# A frozen second costs one picture, not thirty.
check "the stall drew one picture for the frames it missed (drew $pictures for $frames frames)" \
  '[ "${pictures:-999}" -le $((${frames:-0} - 28)) ]'
sync=$(/usr/bin/python3 "$support/flash_beep_sync.py" "$work/b.mp4" --min-flashes 3 2>&1); rc=$?
# 1080 lines are 2.25 times the pixels of 720.
sync_check "the 192 kHz sound holds its beeps, in sync across the stall" $rc "$sync" 100

# A file that can't be created: refused at the start with the encoder's message, nothing left.
out=$("$tool" video-record "$work/missing/c.mp4" --seconds 1 2>&1); rc=$?
check "an unwritable MP4 is refused (rc $rc: $out)" \
  '[ $rc -eq 1 ] && [[ "$out" == *"The video encoder wouldn'"'"'t start (0x"* ]]'
check "nothing is left of it" '[ ! -e "$work/missing" ]'

[ $fail -eq 0 ] && echo "PASS: video record"
exit $fail
