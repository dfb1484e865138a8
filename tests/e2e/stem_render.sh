#!/usr/bin/env bash
# veldmix-tool render with stems made by the real ONNX Runtime and the project's generated models
# (tests/support/make_stem_models.py) beside a copy of the tool: the part gains, an effect aimed at
# one stem and the VOX/INST presets change the output exactly as the models' math says; KICK and
# HI-HAT at 0 take their band out of the drums stem and leave the rest of it as the stem holds it;
# and an MP3 of the same audio renders like its WAV.
# Cost: 30
set -u
build="$VELDMIX_BUILD"
source_dir="$VELDMIX_SOURCE"
python=/usr/bin/python3  # Debian's, which has python3-onnx and python3-numpy
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }

if [ ! -e "$build/libonnxruntime.so.1" ]; then
  echo "FAIL: the build has no libonnxruntime.so.1 beside its programs (scripts/onnxruntime.sh)"
  exit 1
fi
program="$work/program"
mkdir -p "$program"
cp "$build/veldmix-tool" "$program/"
ln -s "$build/libonnxruntime.so.1" "$program/"
"$python" "$source_dir/tests/support/make_stem_models.py" "$program"
tool="$program/veldmix-tool"

# 48 kHz, 10 s. Left: 60 Hz 0.2, 220 Hz 0.25, 3 kHz 0.15; right: 330.5 Hz 0.25, 9 kHz 0.15. The
# vocals model keeps each channel below 1 kHz, the drums model swaps the channels at half level,
# the bass model is a quarter of the mix up to the top of its spectrogram (5.5 kHz); MELODY is
# what is left.
"$python" - "$work/in.wav" <<'EOF'
import sys, wave
import numpy as np
rate, n = 48000, 48000 * 10
t = np.arange(n) / rate
s = lambda f: np.sin(2 * np.pi * f * t)
left = 0.2 * s(60) + 0.25 * s(220) + 0.15 * s(3000)
right = 0.25 * s(330.5) + 0.15 * s(9000)
pcm = np.round(np.stack([left, right], axis=1) * 32767).astype('<i2')
with wave.open(sys.argv[1], 'wb') as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(rate); w.writeframes(pcm.tobytes())
EOF

# One render, one separation, a setting per second.
cat >"$work/stems.txt" <<'EOF'
duration 10
load A in.wav
fader A 1
play A
stems A
at 1 stemgain A vocals 0
at 2 stemgain A vocals 1
at 2 stemgain A drums 0
at 2 stemgain A bass 0.5
at 2 stemgain A melody 0.25
at 3 stemgain A vocals 0
at 3 stemgain A drums 0
at 3 stemgain A bass 0
at 3 stemgain A melody 0
at 4 stemgain A drums 1
at 4 kick A 0
at 5 kick A 1
at 5 hat A 0
at 6 hat A 1
at 6 stemgain A vocals 1
at 6 stemgain A bass 1
at 6 stemgain A melody 1
at 6 fx A on telephone
at 6 fx A amount telephone 1
at 6 fx A target vocals
at 7 fx A target all
at 8 fx A off telephone
at 8 stempreset A vocals
at 9 stempreset A instrumental
EOF
"$tool" render "$work/stems.txt" "$work/stems.wav" 2>"$work/err"; rc=$?
check "the stem script renders (rc $rc: $(tail -1 "$work/err"))" '[ $rc -eq 0 ]'
# The same chain for the whole mix and for the vocal and drum stems alone, to compare with.
"$tool" stems "$work/in.wav" "$work/parts" >/dev/null 2>&1 || echo "FAIL: veldmix-tool stems"
for part in in:mix parts/vocals:vocals parts/drums:drums; do
  printf 'duration 10\nload A %s.wav\nfader A 1\nplay A\n' "${part%%:*}" >"$work/${part##*:}.txt"
  "$tool" render "$work/${part##*:}.txt" "$work/${part##*:}.wav" || echo "FAIL: the ${part##*:} reference render"
done

"$python" - "$work" >"$work/report" <<'EOF'
import sys, wave
import numpy as np
work = sys.argv[1]
rate = 48000
def read(name):
    with wave.open(f"{work}/{name}") as w:
        return np.frombuffer(w.readframes(w.getnframes()), '<i2').reshape(-1, 2).astype(float) / 32767
out, mix, voc, drums = read("stems.wav"), read("mix.wav"), read("vocals.wav"), read("drums.wav")
freqs = [60.0, 220.0, 330.5, 3000.0, 9000.0]
source = {60.0: (0, 0.2), 220.0: (0, 0.25), 3000.0: (0, 0.15), 330.5: (1, 0.25), 9000.0: (1, 0.15)}

def amplitudes(x, second):
    """Least-squares amplitude of each tone per channel over [second + 0.3, second + 0.95)."""
    a, b = int((second + 0.3) * rate), int((second + 0.95) * rate)
    t = np.arange(a, b) / rate
    basis = np.concatenate([[np.sin(2 * np.pi * f * t), np.cos(2 * np.pi * f * t)] for f in freqs]).T
    result = []
    for c in range(2):
        coef, *_ = np.linalg.lstsq(basis, x[a:b, c], rcond=None)
        result.append({f: float(np.hypot(coef[2 * i], coef[2 * i + 1])) for i, f in enumerate(freqs)})
    return result

# The deck's own gain for each tone, from the plain render: the speed ramp at play leaves the deck
# reading between samples, and the cubic interpolation there softens 9 kHz by 4 %.
plain = amplitudes(mix, 0)
chain = {f: plain[c][f] / amp for f, (c, amp) in source.items()}

def expected(gv, gd, gb, gm):
    """The models' math: each tone's amplitude in each output channel for part gains."""
    result = [{f: 0.0 for f in freqs}, {f: 0.0 for f in freqs}]
    for f, (c, amp) in source.items():
        amp *= chain[f]
        vocal = 1.0 if f < 1000 else 0.0
        bass = 0.25 if f < 2048 * 44100 / 16384 else 0.0  # the bass model sees 2048 bins of 16384
        result[c][f] = abs(gm + (gv - gm) * vocal + (gb - gm) * bass) * amp
        result[1 - c][f] = abs((gd - gm) * 0.5) * amp
    return result

def compare(name, got, want, tolerance=0.001):
    worst = max(abs(got[c][f] - want[c][f]) for c in range(2) for f in freqs)
    print(f"{name} {'ok' if worst <= tolerance else 'bad'} {worst:.5f}")

compare("full-mix", amplitudes(out, 0), expected(1, 1, 1, 1))
compare("vocals-0", amplitudes(out, 1), expected(0, 1, 1, 1))
compare("mixed-gains", amplitudes(out, 2), expected(1, 0, 0.5, 0.25))
compare("vox-preset", amplitudes(out, 8), expected(1, 0, 0, 0))
compare("inst-preset", amplitudes(out, 9), expected(0, 1, 1, 1))
# The drums stem alone with KICK, then HI-HAT, at 0, against the rendered stem: the cut band's tone
# goes (9 kHz lies only 1.3 x above the HI-HAT split, so a quarter of it stays) and every other
# tone keeps its level (220 Hz, an octave above the KICK split, keeps 94 %).
stem = amplitudes(drums, 4)
def drum_ratios(second):
    got = amplitudes(out, second)
    return {f: got[1 - c][f] / stem[1 - c][f] for f, (c, _) in source.items()}
def report(name, ratios, cut, limit, kept):
    ok = ratios[cut] < limit and all(lo <= ratios[f] <= 1.01 for f, lo in kept.items())
    print(f"{name} {'ok' if ok else 'bad'} " + ",".join(f"{f:g}:{r:.3f}" for f, r in ratios.items()))
report("kick-0-drums", drum_ratios(4), 60.0, 0.12, {220.0: 0.93, 330.5: 0.98, 3000.0: 0.99, 9000.0: 0.99})
report("hat-0-drums", drum_ratios(5), 9000.0, 0.35, {60.0: 0.99, 220.0: 0.99, 330.5: 0.99, 3000.0: 0.95})
a, b = int(3.3 * rate), int(3.95 * rate)
print(f"silence {'ok' if np.abs(out[a:b]).max() <= 1.5 / 32767 else 'bad'} {np.abs(out[a:b]).max() * 32767:.1f}")
# Vocals at 0 take away exactly the rendered vocal stem (16-bit steps, three roundings).
a, b = int(1.3 * rate), int(1.95 * rate)
worst = np.abs(out[a:b] - (mix[a:b] - voc[a:b])).max() * 32767
print(f"exact-vocals {'ok' if worst <= 3 else 'bad'} {worst:.1f}")
# TELEPHONE on the vocals: what is not vocal stays as it was; on everything it all changes.
aimed, whole, plain = amplitudes(out, 6), amplitudes(out, 7), expected(1, 1, 1, 1)
untouched = [(0, 3000.0), (1, 9000.0), (0, 330.5), (0, 9000.0), (1, 60.0), (1, 220.0), (1, 3000.0)]
worst = max(abs(aimed[c][f] - plain[c][f]) for c, f in untouched)
print(f"fx-only-vocals {'ok' if worst <= 0.001 else 'bad'} {worst:.5f}")
cut = min(plain[c][f] - aimed[c][f] for c, f in [(0, 60.0), (0, 220.0), (1, 330.5)])
print(f"fx-changes-vocals {'ok' if cut > 0.05 else 'bad'} {cut:.5f}")
print(f"fx-whole-deck {'ok' if whole[1][9000.0] < 0.5 * plain[1][9000.0] else 'bad'} {whole[1][9000.0]:.5f}")
EOF
while read -r name verdict value; do
  check "$name ($value)" '[ "$verdict" = ok ]'
done <"$work/report"
check "every stem check ran" '[ $(wc -l <"$work/report") -eq 12 ]'

# --- the same audio as WAV and MP3 ------------------------------------------------------------
ffmpeg -v error -y -i "$work/in.wav" -c:a libmp3lame -b:a 320k "$work/in.mp3"
sed 's/in\.wav/in.mp3/' "$work/mix.txt" >"$work/mp3.txt"
"$tool" render "$work/mp3.txt" "$work/mp3.wav" 2>"$work/err"; rc=$?
check "the MP3 renders (rc $rc: $(tail -1 "$work/err"))" '[ $rc -eq 0 ]'
"$python" - "$work/mix.wav" "$work/mp3.wav" >"$work/mp3-report" <<'EOF'
import sys, wave
import numpy as np
def read(path):
    with wave.open(path) as w:
        return np.frombuffer(w.readframes(w.getnframes()), '<i2').reshape(-1, 2).astype(float) / 32767
a, b = read(sys.argv[1]), read(sys.argv[2])
print("length", "ok" if len(a) == len(b) else "bad", len(a), len(b))
# The decoder removes the encoder's delay: the best alignment is no shift at all.
x, y = a[48000:96000, 0], b[48000:96000, 0]
lags = range(-1200, 1201)
best = max(lags, key=lambda L: float(np.dot(x[1200:-1200], np.roll(y, L)[1200:-1200])))
print("alignment", "ok" if best == 0 else "bad", best)
# Lossy, so not bit-exact: the difference is far below the signal (above 40 dB down).
d = (a - b)[4800:-4800]
snr = 10 * np.log10(np.sum(a[4800:-4800] ** 2) / max(np.sum(d ** 2), 1e-20))
print("snr", "ok" if snr > 40 else "bad", f"{snr:.1f}dB")
EOF
while read -r name verdict value rest; do
  check "MP3 against WAV: $name ($value ${rest:-})" '[ "$verdict" = ok ]'
done <"$work/mp3-report"
check "every MP3 check ran" '[ $(wc -l <"$work/mp3-report") -eq 3 ]'

# --- failures name their line ------------------------------------------------------------------
mkdir -p "$work/bare"
cp "$build/veldmix-tool" "$work/bare/"
printf 'duration 1\nload A in.wav\nstems A\n' >"$work/no-models.txt"
"$work/bare/veldmix-tool" render "$work/no-models.txt" "$work/none.wav" 2>"$work/err"; rc=$?
check "stems without models beside the program fail on their line (rc $rc: $(cat "$work/err"))" \
      '[ $rc -eq 1 ] && grep -qF "line 3: stems for deck A: Stems need ONNX Runtime, which is not included with Veldmix: put libonnxruntime.so.1 in $work/bare" "$work/err" && [ ! -e "$work/none.wav" ]'

[ $fail -eq 0 ] && echo "PASS: stem render"
exit $fail
