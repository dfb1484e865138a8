#!/usr/bin/env bash
# --stemtest of the real program, with the ONNX Runtime and the generated stand-in models in a
# program folder of its own, on a virtual display and the test sound server. The track holds two
# steady tones either side of the vocals model's 1 kHz cut, so the recording proves the path by
# sound: per 2 s window both tones, the upper alone (no vocals), the lower alone (vocals only),
# silence, both again with the lower at its own pitch (+6 % with key lock). A model missing,
# broken or garbage, a missing track, no sound server, or a server killed mid-run each end the run
# with 1 and the reason on stderr, in bounded time, and a failed separation leaves no WAV.
# Labels: slow
# Cost: 62
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
readonly python=/usr/bin/python3  # Debian's, with python3-onnx and numpy
readonly kLow=440 kHigh=2500      # Hz: below and above the vocals model's cut
readonly kRunLimit=200            # s: the program's own cap for this switch is 240 s
readonly kFailLimit=30            # s: a failure must end the run this soon, or within 1.5 whole runs
readonly kSoundRms=0.03 kSilenceRms=0.005
readonly kPitchTolerance=0.02     # share: 440 Hz must stay within 2 %, +6 % would be 466 Hz

fail=0
check() { if ! eval "$2"; then echo "stem_selftest: FAIL: $1" >&2; fail=1; fi; }
need veldmix Xvfb xdpyinfo sox soxi pactl
[ -e "$build/libonnxruntime.so.1" ] || fail "the build has no libonnxruntime.so.1 (scripts/onnxruntime.sh)"

private_home
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"
own_sound_server unless-shared

# program_folder DIR [model options]: a copy of veldmix, the runtime, Models/ and assets/.
program_folder() {
  local dir=$1
  shift
  mkdir -p "$dir"
  cp "$app" "$dir/"
  ln -s "$build/libonnxruntime.so.1" "$dir/"
  ln -s "$source_dir/assets" "$dir/assets"
  "$python" "$source_dir/tests/support/make_stem_models.py" "$dir" "$@" || fail "no stand-in models for $dir"
}

# 41 s at 44.1 kHz (the recording starts 30 s in), both channels alike: the low tone at 0.3, the high one at 0.2.
sox -n -r 44100 -c 2 -b 16 "$work/tones.wav" synth 41 sine $kLow sine $kHigh remix 1v0.3,2v0.2 1v0.3,2v0.2 ||
  fail "sox could not make the tones"

# run_stemtest NAME FOLDER OUT TRACK: sets code and seconds; stderr in $work/NAME.err.
run_stemtest() {
  local name=$1 folder=$2 start
  shift 2
  start=$(date +%s.%N)
  code=0
  timeout "$kRunLimit" "$folder/veldmix" --stemtest "$@" >"$work/$name.out" 2>"$work/$name.err" || code=$?
  seconds=$(awk -v a="$(date +%s.%N)" -v b="$start" 'BEGIN { print a - b }')
  echo "stem_selftest: $name took $seconds s" >&2
}
less_than() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }
# rms WAV FROM BAND: the RMS of 0.5 s from FROM s (the middle of a window, so that a loaded
# machine's late ticks still land inside it), band-limited ("low" below 1 kHz, "high" above).
rms() {
  local filter
  if [ "$3" = low ]; then filter="sinc -1000"; else filter="sinc 1500"; fi
  # shellcheck disable=SC2086  # the filter is two words
  sox "$1" -n trim "$2" 0.5 remix 1 $filter stat 2>&1 | awk '/RMS +amplitude/ {print $3}'
}
# pitch WAV FROM: the rough frequency of the low band in that half second.
pitch() { sox "$1" -n trim "$2" 0.5 remix 1 sinc -1000 stat 2>&1 | awk '/Rough +frequency/ {print $3}'; }

# --- The whole run ---
program_folder "$work/ok"
mix="$work/out/stems.wav"
mkdir -p "$work/out"
run_stemtest whole "$work/ok" "$mix" "$work/tones.wav"
check "the run ends with 0 (got $code)" '[ "$code" = 0 ]'
# A drums model that fails does so after two models' work, beside the killed server's run: on a
# small machine that is about a whole run, so the bound grows with what the whole run took.
fail_limit=$(awk -v w="$seconds" -v l=$kFailLimit 'BEGIN { print (w * 1.5 > l) ? w * 1.5 : l }')
check "the checks passed" 'grep -qx "PASS  stems separated" "$work/whole.err" &&
  grep -qx "PASS  mix recorded" "$work/whole.err" &&
  ! grep -q "^FAIL" "$work/whole.err"'
wav_seconds=$(soxi -D "$mix" 2>/dev/null || echo 0)
check "the WAV lasts about 10 s (got $wav_seconds)" 'less_than 9 "$wav_seconds" && less_than "$wav_seconds" 10.6'
# The middle of each 2 s window: [both, high, low, silence, both at +6 %].
expect=(
  "0.75 both" "2.75 high" "4.75 low" "6.75 none" "8.75 both"
)
for entry in "${expect[@]}"; do
  read -r from want <<<"$entry"
  low=$(rms "$mix" "$from" low)
  high=$(rms "$mix" "$from" high)
  case $want in
    both) check "at $from s both tones sound (low ${low:-none}, high ${high:-none})" \
                'less_than $kSoundRms "$low" && less_than $kSoundRms "$high"' ;;
    high) check "at $from s the upper tone sounds alone (low ${low:-none}, high ${high:-none})" \
                'less_than "$low" $kSilenceRms && less_than $kSoundRms "$high"' ;;
    low) check "at $from s the lower tone sounds alone (low ${low:-none}, high ${high:-none})" \
               'less_than $kSoundRms "$low" && less_than "$high" $kSilenceRms' ;;
    none) check "at $from s nothing sounds (low ${low:-none}, high ${high:-none})" \
                'less_than "$low" $kSilenceRms && less_than "$high" $kSilenceRms' ;;
  esac
done
f=$(pitch "$mix" 8.75)
check "at +6 % with key lock the lower tone keeps its pitch ($f Hz)" \
  'awk -v f="$f" -v t=$kPitchTolerance -v p=$kLow "BEGIN { exit !(f > p * (1 - t) && f < p * (1 + t)) }"'
f0=$(pitch "$mix" 0.75)
check "before it the lower tone is at its pitch too ($f0 Hz)" \
  'awk -v f="$f0" -v t=$kPitchTolerance -v p=$kLow "BEGIN { exit !(f > p * (1 - t) && f < p * (1 + t)) }"'

# --- A sound server killed while the mix is recorded, beside the short runs below ---
killed_log="$work/killed-home/.local/state/Veldmix/Veldmix.log"
mkdir -p "$work/killed-home"
mkdir -m 700 "$work/killed-run"
(
  eval "$(VELDMIX_AUDIO_OWNER=$$ "$server" start "$work/pulse-killed")" || exit 99
  HOME="$work/killed-home" XDG_RUNTIME_DIR="$work/killed-run" exec timeout "$kRunLimit" "$work/ok/veldmix" \
    --stemtest "$work/out/killed.wav" \
    "$work/tones.wav" >"$work/killed.out" 2>"$work/killed.err"
) &
killed_pid=$!
# The separation before the recording shares the machine with the runs below, so the killer waits
# as long as the run itself may last.
(
  wait_for "$kRunLimit" sh -c "grep -sqF 'recording the stem mix to' '$killed_log' || ! kill -0 $killed_pid"
  grep -sqF "recording the stem mix to" "$killed_log" || exit 0
  sleep 3
  kill -KILL "$(cat "$work/pulse-killed/server.pid")" 2>/dev/null
) &
killer_pid=$!

# --- Models that fail: exit 1 soon, the reason named, no WAV ---
expect_failure() {  # name message [model options]
  local name=$1 message=$2
  shift 2
  program_folder "$work/$name" "$@"
  run_stemtest "$name" "$work/$name" "$work/out/$name.wav" "$work/tones.wav"
  check "$name: exit 1 (got $code)" '[ "$code" = 1 ]'
  check "$name: within $fail_limit s (took $seconds)" 'less_than "$seconds" $fail_limit'
  check "$name: names the reason (got: $(grep -m1 "stems separated" "$work/$name.err"))" \
    'grep -qF -- "$message" "$work/$name.err" && grep -qx "FAIL  stems separated" "$work/$name.err"'
  check "$name: no WAV" '[ ! -e "$work/out/$name.wav" ]'
}
expect_failure missing-model "put the missing files in $work/missing-model/Models: mdx-vocals.onnx" --skip vocals
expect_failure broken-model "The stem model failed: unexpected output size" --broken drums
expect_failure garbage-model "The stem engine couldn't start: " --garbage bass

# --- A missing track ---
run_stemtest missing "$work/ok" "$work/out/missing.wav" "$work/no-such-track.wav"
check "a missing track ends with 1 (got $code) within $fail_limit s (took $seconds)" \
  '[ "$code" = 1 ] && less_than "$seconds" $fail_limit'
check "... naming the track" 'grep -q "^FAIL  deck A loads the test track (.*no-such-track.wav))$" "$work/missing.err"'

# --- ... and the run whose sound server was killed ---
wait "$killed_pid"
code=$?
wait "$killer_pid"
"$server" stop "$work/pulse-killed" >/dev/null 2>&1
check "a run that lost its sound server ends with 1 (got $code)" '[ "$code" = 1 ]'
check "... failing the recording with the moment the output stopped" \
  'grep -qx "FAIL  mix recorded" "$work/killed.err" && grep -qF "the audio output stopped" "$work/killed.err"'

if [ $fail != 0 ]; then
  for f in "$work"/*.err; do echo "--- $(basename "$f")" >&2; tail -n 12 "$f" >&2; done
  exit 1
fi
echo "stem_selftest: all checks passed"
