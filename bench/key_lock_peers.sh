#!/usr/bin/env bash
# Key lock beside Rubber Band (R2 and R3, offline) and SoundStretch on the same files at tempo -8,
# -3, +3, +8, +16 % and a +2 semitone shift: onset offset from where the unlocked deck plays each
# hit, doubled attacks (a second attack within 12 dB inside 50 ms), the 14-18 kHz balance of white
# noise, a 1 kHz tone's energy outside +-5 Hz, and CPU seconds per render.
#   bench/key_lock_peers.sh BUILD_DIR
set -euo pipefail
build="$(cd "${1:?build folder}" && pwd)"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
for tool in sox rubberband soundstretch /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "key_lock_peers: $tool is not installed (rubberband-cli, soundstretch, sox)" >&2; exit 1; }
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 "$here/key_lock_peers.py" make "$work"
for kind in kicks drums tone noise; do
  sox -t f32 -r 48000 -c 2 "$work/$kind.raw" -b 16 "$work/$kind.wav"
done

cpu_of() {  # CPU seconds (user + system) of a command, its output discarded
  TIMEFORMAT=%U+%S
  { time "$@" >/dev/null 2>&1; } 2>"$work/time"
  /usr/bin/python3 -c "print('%.2f' % ($(cat "$work/time")))"
}

measure() {  # NAME KIND OUT.wav SPEED PITCH CPU
  sox "$3" -t f32 -r 48000 -c 2 "$work/out.raw"
  printf '%-17s cpu %5ss  ' "$1" "$6"
  /usr/bin/python3 "$here/key_lock_peers.py" measure "$2" "$work/$2.raw" "$work/out.raw" "$4" "$5"
}

for setting in "-8 0" "-3 0" "3 0" "8 0" "16 0" "0 2"; do
  read -r tempo shift <<<"$setting"
  speed=$(/usr/bin/python3 -c "print(1 + $tempo / 100)")
  pitch=$(/usr/bin/python3 -c "print(2 ** ($shift / 12))")
  echo "== tempo $tempo %, key shift $shift semitones"
  for kind in kicks drums tone noise; do
    seconds=$(soxi -D "$work/$kind.wav")
    duration=$(/usr/bin/python3 -c "print(round($seconds / $speed - 0.2, 2))")
    # The unlocked deck at the same tempo is where the onsets belong (its own start included).
    for lock in on off; do
      [ "$lock" = off ] && [[ "$kind" != kicks && "$kind" != drums ]] && continue
      printf 'rate 48000\nduration %s\nat 0 load A %s\nat 0 tempo A %s\nat 0 keylock A %s\nat 0 keyshift A %s\nat 0 fader A 1\nat 0 xfassign A through\nat 0 play A\n' \
        "$duration" "$work/$kind.wav" "$tempo" "$lock" "$([ "$lock" = on ] && echo "$shift" || echo 0)" >"$work/$kind.script"
      cpu=$(cpu_of "$build/veldmix-tool" render "$work/$kind.script" "$work/veldmix.wav")
      measure "veldmix$([ "$lock" = off ] && echo ' unlocked')" "$kind" "$work/veldmix.wav" "$speed" "$pitch" "$cpu"
    done
    for engine in R2 R3; do
      flag=-2
      [ "$engine" = R3 ] && flag=-3
      cpu=$(cpu_of rubberband "$flag" --tempo "$speed" --pitch "$shift" "$work/$kind.wav" "$work/rb.wav")
      measure "rubberband-$engine" "$kind" "$work/rb.wav" "$speed" "$pitch" "$cpu"
    done
    cpu=$(cpu_of soundstretch "$work/$kind.wav" "$work/st.wav" -tempo="$tempo" -pitch="$shift")
    measure soundstretch "$kind" "$work/st.wav" "$speed" "$pitch" "$cpu"
  done
done
