# Sourced by the end-to-end scripts whose flash-and-beep checks need pictures encoded in real time.
# encode_too_slow: this machine, measured once when first asked, encodes 1280x720 with the
# program's H.264 settings at fewer than 45 pictures a second (30 for the pictures, with room for
# the sound and the capture), or fewer than NEEDED when given; sets encoded. too_slow_reason
# [NEEDED]: that measurement in words.
readonly kEncodeNeeded=45
encode_too_slow() {
  if [ -z "${encoded:-}" ]; then
    local t0 t1
    t0=$(date +%s.%N)
    if ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc2=size=1280x720:rate=30 -frames:v 90 -c:v libx264 \
      -preset veryfast -f null -; then
      t1=$(date +%s.%N)
      encoded=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.0f", 90 / (b - a) }')
    else
      encoded=0
    fi
  fi
  [ "$encoded" -lt "${1:-$kEncodeNeeded}" ]
}
too_slow_reason() { echo "this machine encodes 720p at $encoded pictures a second (under the ${1:-$kEncodeNeeded} it needs)"; }
