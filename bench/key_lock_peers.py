#!/usr/bin/env python3
# Key-lock figures from rendered files (called by key_lock_peers.sh). Subcommands:
#   make DIR                      writes the test material as raw float (sox turns it into WAV)
#   measure KIND SOURCE.raw OUT.raw SPEED PITCH   prints one figure line for a render of SOURCE
import sys

import numpy as np

RATE = 48000
KICKS = [0.6 + 0.61 * i for i in range(12)]   # isolated kicks after silence (seconds)
SNARES = [0.4 + 0.5 * i + 0.013 * (i % 5) for i in range(16)]  # a loop: snares over kicks and hats


def kick(n):
    t = np.arange(n) / RATE
    body = np.sin(2 * np.pi * (50 * t + 60 * 0.02 * (1 - np.exp(-t / 0.02)))) * np.exp(-t / 0.12)
    click = np.random.default_rng(1).uniform(-1, 1, n) * np.exp(-t / 0.004)
    return 0.6 * body + 0.15 * click


def snare(n, seed):
    t = np.arange(n) / RATE
    noise = np.random.default_rng(seed).uniform(-1, 1, n) * np.exp(-t / 0.05)
    return 0.45 * noise + 0.25 * np.sin(2 * np.pi * 190 * t) * np.exp(-t / 0.04)


def make(folder):
    kicks = np.zeros(int(8.2 * RATE))
    for s in KICKS:
        a = int(s * RATE)
        kicks[a:a + RATE // 2] += kick(RATE // 2)
    drums = np.zeros(int(8.6 * RATE))
    for i in range(32):  # kicks and hats between the snares
        a = int((0.15 + 0.25 * i) * RATE)
        if i % 2 == 0:
            drums[a:a + RATE // 4] += 0.5 * kick(RATE // 4)
        h = a + RATE // 8
        drums[h:h + RATE // 40] += 0.08 * np.random.default_rng(100 + i).uniform(-1, 1, RATE // 40)
    for i, s in enumerate(SNARES):
        a = int(s * RATE)
        drums[a:a + RATE // 4] += snare(RATE // 4, i)
    t = np.arange(int(6 * RATE)) / RATE
    tone = 0.5 * np.sin(2 * np.pi * 1000 * t)
    noise = 0.2 * np.random.default_rng(7).standard_normal(int(6 * RATE))
    for name, x in (("kicks", kicks), ("drums", drums), ("tone", tone), ("noise", noise)):
        np.repeat(x.astype(np.float32), 2).tofile("%s/%s.raw" % (folder, name))


def envelope(x):
    # The analytic signal's magnitude, then 2 ms RMS every 0.5 ms: a smooth level even for a kick.
    n = len(x)
    h = np.zeros(n)
    h[0] = 1
    h[1:(n + 1) // 2] = 2
    if n % 2 == 0:
        h[n // 2] = 1
    analytic = np.fft.ifft(np.fft.fft(x) * h)
    mag = np.abs(analytic)
    hop, win = RATE // 2000, RATE // 500
    frames = (len(mag) - win) // hop
    return np.array([np.sqrt(np.mean(mag[i * hop:i * hop + win] ** 2)) for i in range(frames)]), hop


def attacks(x):
    # An attack: the level comes to rise 6 dB within 3 ms, to above -26 dBFS (the start of such a
    # rise, not every frame of it). Returns (frame, peak level over the next 10 ms) of each.
    level, hop = envelope(x)
    rising = [i >= 6 and level[i] >= 0.05 and level[i] >= 2 * level[i - 6] for i in range(len(level))]
    return [(i * hop, level[i:i + 20].max()) for i in range(1, len(level)) if rising[i] and not rising[i - 1]]


def mono(path):
    x = np.fromfile(path, dtype=np.float32)
    return x[:x.size // 2 * 2].reshape(-1, 2)[:, 0].astype(np.float64)


def matched(found, expected):
    # Each expected hit's nearest attack within 30 ms: (expected, frame, peak) or None.
    out = []
    for e in expected:
        near = [(a, p) for a, p in found if abs(a - e) < 0.03 * RATE]
        out.append(min(near, key=lambda ap: abs(ap[0] - e)) if near else None)
    return out


def measure(kind, source, path, speed, pitch):
    x = mono(path)
    if kind in ("kicks", "drums"):
        hits = [s * RATE for s in (KICKS if kind == "kicks" else SNARES)]
        # Where the source's own attacks are seen, at the tempo: the detector's lead cancels.
        reference = [m[0] / speed if m else h / speed for m, h in zip(matched(attacks(mono(source)), hits), hits)]
        found = attacks(x)
        offsets, doubled = [], 0
        for e, m in zip(reference, matched(found, reference)):
            if m is None:
                continue
            offsets.append((m[0] - e) / RATE)
            doubled += any(m[0] < a < m[0] + RATE // 20 and p > m[1] / 4 for a, p in found)
        shown = "%+.1f ms (worst %.1f)" % (1000 * np.mean(offsets), 1000 * np.max(np.abs(offsets))) if offsets else "none"
        print("%s: onset offset %s, %d of %d found, doubled %d" % (kind, shown, len(offsets), len(hits), doubled))
    elif kind == "tone":
        part = x[len(x) // 4:len(x) // 4 + RATE * 2] * np.hanning(RATE * 2)
        power = np.abs(np.fft.rfft(part)) ** 2
        hz = np.fft.rfftfreq(part.size, 1 / RATE)
        want = 1000.0 * pitch
        inside = power[np.abs(hz - want) <= 5].sum()
        print("tone: energy outside +-5 Hz %.1f dB" % (10 * np.log10((power.sum() - inside) / inside + 1e-30)))
    else:
        part = x[len(x) // 4:len(x) // 4 + RATE * 2]
        power = np.abs(np.fft.rfft(part)) ** 2
        hz = np.fft.rfftfreq(part.size, 1 / RATE)
        band = lambda lo, hi: power[(hz >= lo) & (hz < hi)].mean()
        print("noise: 14-18 kHz against 1-4 kHz %+.1f dB" % (10 * np.log10(band(14000, 18000) / band(1000, 4000))))


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2])
    else:
        measure(sys.argv[2], sys.argv[3], sys.argv[4], float(sys.argv[5]), float(sys.argv[6]))
