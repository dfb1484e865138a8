#!/usr/bin/env bash
# The self-test of the real program on a virtual display and the test sound server: it plays a
# track through the scripted mix and ends with 0, leaving a 16-bit WAV of about 8.5 s with sound
# in it and an MP3 copy of the same length; a track that never loads and an output folder that
# cannot be written each end the run with 1, the reason on stderr, in bounded time; so does a run
# whose sound server is killed 3 s in, naming when the output stopped and keeping what it
# recorded (this run goes beside the short failing ones, on a sound server of its own). run.sh without a
# display runs the same self-test on a demo track and says where the mix went.
# Labels: slow
# Cost: 141
set -uo pipefail

deps_cache="${VELDMIX_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/veldmix-deps}"
source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
readonly kMixSeconds=8.5
readonly kMixTolerance=0.4    # s: the recorder starts and stops on frame ticks
readonly kCopyTolerance=0.1   # s: MP3 against WAV
readonly kSilenceRms=0.01
readonly kRunLimit=150        # s: the program's own cap is 120 s
readonly kFailLimit=30        # s: a failure must end the run this soon

fail=0
check() { if ! eval "$2"; then echo "selftest: FAIL: $1" >&2; fail=1; fi; }
need veldmix Xvfb xdpyinfo ffmpeg ffprobe sox soxi pactl

private_home
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"
own_sound_server unless-shared

# 20 s of a steady tone with a click every half beat at 120 BPM, as MP3.
click='0.2*sin(2*PI*220*t)+0.6*sin(2*PI*1000*t)*lt(mod(t\,0.5)\,0.01)'
ffmpeg -nostdin -v error -f lavfi -i "aevalsrc='$click|$click':s=44100:d=20" "$work/track.mp3" ||
  fail "ffmpeg could not make the track"

# Runs the self-test with a time limit; sets code, seconds, and leaves stderr in $work/$1.err.
run_selftest() {
  local name=$1 start
  shift
  start=$(date +%s.%N)
  code=0
  timeout "$kRunLimit" "$app" --selftest "$@" >"$work/$name.out" 2>"$work/$name.err" || code=$?
  seconds=$(awk -v a="$(date +%s.%N)" -v b="$start" 'BEGIN { print a - b }')
}
# within A B TOLERANCE: |A - B| <= TOLERANCE; less_than A B: A < B.
within() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= t) }'; }
less_than() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }
duration() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"; }

# --- A whole run ---
mix="$work/out/mix.wav"
mkdir -p "$work/out"
run_selftest whole "$mix" "$work/track.mp3"
check "the run ends with 0 (got $code)" '[ "$code" = 0 ]'
check "every check passed" 'grep -q "^PASS  MP3 copy$" "$work/whole.err" && ! grep -q "^FAIL" "$work/whole.err"'
check "the mix is a 16-bit WAV" '[ "$(soxi -b "$mix" 2>/dev/null)" = 16 ]'
wav_seconds=$(soxi -D "$mix" 2>/dev/null || echo 0)
check "the mix lasts about $kMixSeconds s (got $wav_seconds)" 'within "$wav_seconds" $kMixSeconds $kMixTolerance'
rms=$(sox "$mix" -n stat 2>&1 | awk '/RMS +amplitude/ {print $3}')
check "the mix has sound in it (RMS ${rms:-none})" '[ -n "$rms" ] && less_than $kSilenceRms "$rms"'
mp3_seconds=$(duration "$work/out/mix.mp3" 2>/dev/null || echo 0)
check "the MP3 copy lasts as long as the WAV ($mp3_seconds against $wav_seconds)" \
  'within "$mp3_seconds" "$wav_seconds" $kCopyTolerance'
check "the copy is MP3" '[ "$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$work/out/mix.mp3")" = mp3 ]'

# --- A run whose sound server is killed 3 s in, beside the short runs below ---
# Its own HOME (log) and sound server. Not beside the whole run: two mixes at once on a loaded
# machine would shorten each other.
readonly kKillAfter=3       # s after the recording started
readonly kKilledMaxSeconds=5  # s of WAV it may hold: the output stopped about 3 s in
killed_home="$work/killed-home"
killed_log="$killed_home/.local/state/Veldmix/Veldmix.log"
mkdir -p "$killed_home" "$work/out3"
(
  eval "$(VELDMIX_AUDIO_OWNER=$$ "$source_dir/scripts/test_audio_server.sh" start "$work/pulse-killed")" || exit 99
  HOME="$killed_home" exec timeout "$kRunLimit" "$app" --selftest "$work/out3/mix.wav" "$work/track.mp3" \
    >"$work/killed.out" 2>"$work/killed.err"
) &
killed_pid=$!
(
  for _ in $(seq 1 600); do
    grep -qF "Self-test: recording the mix to" "$killed_log" 2>/dev/null && break
    kill -0 "$killed_pid" 2>/dev/null || exit 0
    sleep 0.1
  done
  sleep $kKillAfter
  kill -KILL "$(cat "$work/pulse-killed/server.pid")" 2>/dev/null
  date +%s.%N >"$work/killed.at"
) &
killer_pid=$!

# --- A track that never loads ---
run_selftest missing "$work/out2/mix.wav" "$work/no-such-track.mp3"
check "a missing track ends with 1 (got $code)" '[ "$code" = 1 ]'
check "a missing track ends within $kFailLimit s (took $seconds)" 'less_than "$seconds" $kFailLimit'
check "the reason is on stderr" 'grep -qF "the track never loaded: " "$work/missing.err" && grep -qF "no-such-track.mp3" "$work/missing.err"'
check "nothing is recorded" '[ ! -e "$work/out2/mix.wav" ]'

# --- An output folder that cannot be written ---
touch "$work/a-file"
run_selftest notdir "$work/a-file/mix.wav" "$work/track.mp3"
check "an output under a file ends with 1 (got $code)" '[ "$code" = 1 ]'
check "... with the reason" 'grep -qF "the recorder refused $work/a-file/mix.wav: Not a directory" "$work/notdir.err"'
check "... within $kFailLimit s (took $seconds)" 'less_than "$seconds" $kFailLimit'
if [ "$(id -u)" != 0 ]; then  # root writes into read-only folders
  mkdir -m 555 "$work/locked"
  run_selftest locked "$work/locked/mix.wav" "$work/track.mp3"
  check "a read-only output folder ends with 1 (got $code)" '[ "$code" = 1 ]'
  check "... with the reason" 'grep -qF "Permission denied" "$work/locked.err"'
fi

# --- ... and the run whose sound server was killed ---
wait "$killed_pid"
code=$?
wait "$killer_pid"
"$source_dir/scripts/test_audio_server.sh" stop "$work/pulse-killed" >/dev/null 2>&1
check "the server was killed during the run" '[ -s "$work/killed.at" ]'
check "a run that lost its output ends with 1 (got $code)" '[ "$code" = 1 ]'
check "... failing the recording, not the other checks" \
  'grep -qx "FAIL  mix recorded" "$work/killed.err" && grep -qx "PASS  mix recorder started" "$work/killed.err" &&
   [ "$(grep -c "^FAIL" "$work/killed.err")" = 1 ]'
check "... naming when the output stopped" \
  'grep -qE "holds [0-9.]+ s of the 8\.[0-9] s run: the audio output stopped [2-4]\.[0-9] s into the run" "$work/killed.err"'
killed_seconds=$(soxi -D "$work/out3/mix.wav" 2>/dev/null || echo 0)
check "... keeping a readable WAV of what was recorded ($killed_seconds s)" \
  'less_than 1 "$killed_seconds" && less_than "$killed_seconds" $kKilledMaxSeconds'

# --- run.sh without a display ---
# A copy of the scripts with run.sh makes its out/ folder inside $work; VELDMIX_BUILD keeps the
# build where it is, and the sound server it sees is dead, so it starts its own.
mkdir -p "$work/root"
cp "$source_dir/run.sh" "$work/root/"
cp -r "$source_dir/scripts" "$work/root/"
env -u DISPLAY -u WAYLAND_DISPLAY VELDMIX_BUILD="$build" VELDMIX_DEPS_CACHE="$deps_cache" \
  PULSE_SERVER="unix:$work/no-server" XDG_RUNTIME_DIR="$work/run-none" \
  timeout "$kRunLimit" bash "$work/root/run.sh" >"$work/run.out" 2>"$work/run.err"
code=$?
check "run.sh ends with the self-test's 0 (got $code)" '[ "$code" = 0 ]'
check "run.sh says where the WAV went" 'grep -qxF "run.sh: the mix went to $work/root/out/mix.wav" "$work/run.out"'
check "run.sh says where the MP3 went" 'grep -qxF "run.sh: the mix went to $work/root/out/mix.mp3" "$work/run.out"'
check "run.sh started its own sound server" 'grep -qF "no sound server answers" "$work/run.err"'
run_seconds=$(soxi -D "$work/root/out/mix.wav" 2>/dev/null || echo 0)
check "run.sh's mix lasts about $kMixSeconds s (got $run_seconds)" 'within "$run_seconds" $kMixSeconds $kMixTolerance'

if [ $fail != 0 ]; then
  for f in "$work"/*.err; do echo "--- $(basename "$f")" >&2; grep -v '^step \|^--$' "$f" | tail -n 20 >&2; done
  exit 1
fi
echo "selftest: all checks passed"
