#!/usr/bin/env bash
# veldmix-tool stems FILE OUTDIR separates a decoded file with the real ONNX Runtime and tiny
# generated models (tests/support/make_stem_models.py) placed beside a copy of the tool, and
# writes three 16-bit WAV files of the track's rate and length whose content follows the models'
# math. Every failure (missing runtime or model, a library that is no runtime, one of the wrong
# version, a model that is no model or answers the wrong size, a cancel) gives its message and
# leaves no file behind. Each case runs in a fresh process, as the engine is built once per process.
# Cost: 22
set -u
build="$VELDMIX_BUILD"
source_dir="$VELDMIX_SOURCE"
python=/usr/bin/python3  # Debian's, which has python3-onnx
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }

if [ ! -e "$build/libonnxruntime.so.1" ]; then
  echo "FAIL: the build has no libonnxruntime.so.1 beside its programs (scripts/onnxruntime.sh)"
  exit 1
fi

# A program folder: a copy of the tool (its own folder is where it looks), the runtime, models.
# $1 folder, then options for the model generator; "--no-runtime" leaves the runtime out.
make_folder() {
  local dir="$1"; shift
  mkdir -p "$dir"
  cp "$build/veldmix-tool" "$dir/"
  if [ "${1:-}" = "--no-runtime" ]; then shift; else ln -s "$build/libonnxruntime.so.1" "$dir/"; fi
  "$python" "$source_dir/tests/support/make_stem_models.py" "$dir" "$@"
}

# The input: 48 kHz stereo, left 220 Hz at 0.4 plus 3 kHz at 0.2, right 330.5 Hz at 0.3.
"$python" - "$work/in.wav" 48000 7 <<'EOF'
import sys, wave
import numpy as np
path, rate, seconds = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
t = np.arange(int(rate * seconds)) / rate
left = 0.4 * np.sin(2 * np.pi * 220 * t) + 0.2 * np.sin(2 * np.pi * 3000 * t)
right = 0.3 * np.sin(2 * np.pi * 330.5 * t)
pcm = np.round(np.stack([left, right], axis=1) * 32767).astype('<i2')
with wave.open(path, 'wb') as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(rate); w.writeframes(pcm.tobytes())
EOF

# --- success ---------------------------------------------------------------------------------
ok="$work/ok"
make_folder "$ok"
"$ok/veldmix-tool" stems "$work/in.wav" "$work/out" >"$work/stdout" 2>"$work/stderr"; rc=$?
check "separation succeeds (rc $rc: $(tail -1 "$work/stderr"))" '[ $rc -eq 0 ]'
check "it reports the CPU" 'grep -q "336000 frames at 48000 Hz on the CPU" "$work/stdout"'
check "progress is shown" 'grep -q "^stems: [0-9]*%$" "$work/stderr"'
for stem in vocals drums bass; do
  info=$(ffprobe -v error -select_streams a:0 \
         -show_entries stream=codec_name,sample_rate,channels,duration_ts -of csv=p=0 "$work/out/$stem.wav")
  check "$stem.wav is pcm_s16le 48000 Hz stereo of 336000 frames (got $info)" \
        '[ "$info" = "pcm_s16le,48000,2,336000" ]'
done
check "no temporary files are left" '[ -z "$(ls "$work/out" | grep -v "^\(vocals\|drums\|bass\)\.wav$")" ]'
# The models' math: vocals keep what lies below 1 kHz, drums swap the channels at half level,
# bass is the mix at a quarter. Worst error in 16-bit steps, 50 ms from either end.
"$python" - "$work/in.wav" "$work/out" >"$work/errors" <<'EOF'
import sys, wave
import numpy as np
def read(path):
    with wave.open(path) as w:
        return np.frombuffer(w.readframes(w.getnframes()), '<i2').reshape(-1, 2).astype(float)
x = read(sys.argv[1])
rate, n = 48000, len(x)
t = np.arange(n) / rate
low_left = 0.4 * np.sin(2 * np.pi * 220 * t) * 32767
expected = {
    'vocals': np.stack([low_left, x[:, 1]], axis=1),
    'drums': 0.5 * x[:, ::-1],
    'bass': 0.25 * x,
}
edge = rate // 20
for stem, want in expected.items():
    got = read(f"{sys.argv[2]}/{stem}.wav")
    print(stem, len(got) == n, np.abs(got - want)[edge:n - edge].max())
EOF
while read -r stem same worst; do
  check "$stem has the input's length" '[ "$same" = True ]'
  check "$stem follows the model's math (worst $worst steps)" 'awk -v e="$worst" "BEGIN { exit !(e < 6) }"'
done <"$work/errors"
check "all three stems were compared" '[ $(wc -l <"$work/errors") -eq 3 ]'

# --- failures: message, exit 1, nothing written --------------------------------------------------
expect_failure() {  # name folder message
  local name="$1" folder="$2" message="$3"
  local out="$work/out-$name" err="$work/err-$name"
  "$folder/veldmix-tool" stems "$work/in.wav" "$out" >/dev/null 2>"$err"; local rc=$?
  check "$name: exit 1 (got $rc)" '[ $rc -eq 1 ]'
  check "$name: says \"$message\" (got: $(tail -1 "$err"))" 'grep -qF -- "$message" "$err"'
  check "$name: writes nothing" '[ ! -e "$out" ]'
}

make_folder "$work/no-runtime" --no-runtime
expect_failure no-runtime "$work/no-runtime" "Stems need ONNX Runtime, which is not included with Veldmix: put libonnxruntime.so.1 in $work/no-runtime"

make_folder "$work/no-bass" --skip bass
expect_failure no-model "$work/no-bass" "The stem models are not included with Veldmix: put the missing files in $work/no-bass/Models: mdx-bass.onnx"

make_folder "$work/bad-runtime" --no-runtime
echo "no shared library" >"$work/bad-runtime/libonnxruntime.so.1"
expect_failure bad-runtime "$work/bad-runtime" "The stem engine ($work/bad-runtime/libonnxruntime.so.1) couldn't be loaded"

# A library with the runtime's entry point that offers no API version at all.
make_folder "$work/old-runtime" --no-runtime
cat >"$work/old.cpp" <<'EOF'
struct ApiBase {
  const void* (*GetApi)(unsigned version);
  const char* (*GetVersionString)();
};
static const void* NoApi(unsigned) { return nullptr; }
static const char* Version() { return "0.0.0"; }
static const ApiBase base{NoApi, Version};
extern "C" const ApiBase* OrtGetApiBase() { return &base; }
EOF
g++ -shared -fPIC -o "$work/old-runtime/libonnxruntime.so.1" "$work/old.cpp"
expect_failure old-runtime "$work/old-runtime" "The stem engine ($work/old-runtime/libonnxruntime.so.1) is the wrong version"

make_folder "$work/garbage-model" --garbage drums
expect_failure garbage-model "$work/garbage-model" "The stem engine couldn't start: "

make_folder "$work/broken-model" --broken drums
expect_failure broken-model "$work/broken-model" "The stem model failed: unexpected output size"

# --- cancel: SIGINT while the models run ---------------------------------------------------------
"$python" - "$work/long.wav" 44100 240 <<'EOF'
import sys, wave
import numpy as np
path, rate, seconds = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
t = np.arange(int(rate * seconds)) / rate
pcm = np.round(np.stack([0.3 * np.sin(2 * np.pi * 220 * t)] * 2, axis=1) * 32767).astype('<i2')
with wave.open(path, 'wb') as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(rate); w.writeframes(pcm.tobytes())
EOF
"$ok/veldmix-tool" stems "$work/long.wav" "$work/out-cancel" >/dev/null 2>"$work/err-cancel" &
pid=$!
for _ in $(seq 1 300); do  # until the first chunks are through (progress above 0 %)
  grep -q "^stems: [1-9]" "$work/err-cancel" && break
  sleep 0.05
done
kill -INT $pid
wait $pid; rc=$?
check "cancel: exit 1 (got $rc)" '[ $rc -eq 1 ]'
check "cancel: says Cancelled (got: $(tail -1 "$work/err-cancel"))" 'grep -q "veldmix-tool stems: Cancelled$" "$work/err-cancel"'
check "cancel: stopped before the end" '! grep -q "^stems: 100%" "$work/err-cancel"'
check "cancel: writes nothing" '[ ! -e "$work/out-cancel" ]'

# --- usage -------------------------------------------------------------------------------------
"$ok/veldmix-tool" stems "$work/in.wav" 2>/dev/null; rc=$?
check "a missing OUTDIR is refused with exit 2 (got $rc)" '[ $rc -eq 2 ]'
"$ok/veldmix-tool" stems "$work/none.wav" "$work/out-none" 2>"$work/err-none"; rc=$?
check "an unreadable file fails with exit 1 (got $rc)" '[ $rc -eq 1 ] && [ ! -e "$work/out-none" ]'

[ $fail -eq 0 ] && echo "PASS: stems tool"
exit $fail
