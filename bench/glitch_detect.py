#!/usr/bin/python3
"""Counts the glitches in a recording of a steady sine.

  glitch_detect.py prove [HZ]                     plants gaps in a made sine and checks each is found
  glitch_detect.py count FILE [HZ [RATE [CHANNELS]]]  raw float32 recording: prints one line
        "glitches=N minutes=M longest_gap_ms=G phase_jumps=P gaps=Z dips=D steps=S at=T,... off_gaps=O"

A glitch is any of: a run of near-zero samples longer than 2 ms (a lost block played as
silence), a phase jump above 0.2 rad between consecutive 10 ms blocks (a block played twice or a
few ms cut out), a step in the wave no sine of its pitch makes (a splice), or a 10 ms block whose level drops below half the tone's (a partial gap).
Findings closer than 50 ms together are one glitch. The recording's first stretch before the tone
reaches its level is skipped, and so is a silent tail. off_gaps counts the glitches that lie
beside no run of silence: a sink whose stream ran dry plays silence, so those were not that.
"""
import sys

import numpy

BLOCK_S = 0.010
GAP_S = 0.002
PHASE_JUMP = 0.2  # a 984-frame block played twice moves the phase 0.25 rad
DIP_SHARE = 0.5
MERGE_S = 0.050
QUIET_SHARE = 0.02  # of the tone's amplitude: "near zero"
STEP_SHARE = 0.02   # of the tone's amplitude: a step in the wave no sine of this pitch makes


def block_phasors(x, hz, rate):
    n = int(round(BLOCK_S * rate))
    blocks = len(x) // n
    t = numpy.arange(blocks * n) / rate
    probe = numpy.exp(-2j * numpy.pi * hz * t)
    z = (x[: blocks * n] * probe).reshape(blocks, n).sum(axis=1) * 2.0 / n
    return z, n


def quiet_runs(x, threshold, rate):
    """(start, length) in samples of each run of |x| < threshold longer than GAP_S."""
    quiet = numpy.abs(x) < threshold
    edges = numpy.diff(numpy.concatenate(([0], quiet.astype(numpy.int8), [0])))
    starts = numpy.flatnonzero(edges == 1)
    ends = numpy.flatnonzero(edges == -1)
    keep = (ends - starts) > GAP_S * rate
    return list(zip(starts[keep], (ends - starts)[keep]))


def detect(x, hz, rate):
    """Returns (events, seconds_examined, longest_gap_s, counts) for mono float samples; counts
    also holds "off_gaps", the merged glitches beside no run of silence."""
    z, n = block_phasors(x, hz, rate)
    none = {"phase": 0, "gap": 0, "dip": 0, "step": 0, "off_gaps": 0}
    if len(z) < 4:
        return [], 0.0, 0.0, none
    amp = numpy.abs(z)
    level = numpy.median(amp[amp > 0.05 * amp.max()]) if amp.max() > 0 else 0.0
    if level <= 0:
        return [], 0.0, 0.0, none
    # The examined stretch: from the first block at the tone's level to the last one.
    steady = numpy.flatnonzero(amp > 0.8 * level)
    first, last = int(steady[0]), int(steady[-1])
    x = x[first * n : (last + 1) * n]
    z, amp = z[first : last + 1], amp[first : last + 1]
    events = []  # (time s, kind)
    counts = dict(none)
    longest = 0.0
    silences = []
    for start, length in quiet_runs(x, QUIET_SHARE * level, rate):
        events.append((start / rate, "gap"))
        counts["gap"] += 1
        longest = max(longest, length / rate)
        silences.append((start / rate, (start + length) / rate))
    # A splice: the sine's recurrence x[k+1] = 2 cos(w) x[k] - x[k-1] broken by more than the
    # pitch error and noise explain. Catches a repeated block whose phase error is small.
    w = 2 * numpy.pi * hz / rate
    residual = numpy.abs(x[2:] - 2 * numpy.cos(w) * x[1:-1] + x[:-2])
    for k in numpy.flatnonzero(residual > STEP_SHARE * level):
        events.append(((k + 1) / rate, "step"))
        counts["step"] += 1
    phase = numpy.angle(z)
    for i in range(1, len(z)):
        if amp[i] < DIP_SHARE * level:
            events.append((i * n / rate, "dip"))
            counts["dip"] += 1
            continue
        if amp[i - 1] < DIP_SHARE * level:
            continue
        # A splice inside block i shares its jump between two steps: block i + 1 against i - 1
        # sees it whole.
        jump = abs(numpy.angle(numpy.exp(1j * (phase[i] - phase[i - 1]))))
        if i + 1 < len(z) and amp[i + 1] >= DIP_SHARE * level:
            jump = max(jump, abs(numpy.angle(numpy.exp(1j * (phase[i + 1] - phase[i - 1])))))
        if jump > PHASE_JUMP:
            events.append((i * n / rate, "phase"))
            counts["phase"] += 1
    events.sort()
    merged = []
    for t, kind in events:
        if merged and t - merged[-1][0] < MERGE_S:
            continue
        merged.append((t, kind))
    # The block phasors and the merge place a silence's edges up to a block and a merge away.
    near = BLOCK_S + MERGE_S
    counts["off_gaps"] = sum(1 for t, _ in merged if not any(a - near <= t <= b + near for a, b in silences))
    return merged, len(x) / rate, longest, counts


def report(events, seconds, longest, counts):
    minutes = seconds / 60.0
    return (
        f"glitches={len(events)} minutes={minutes:.2f} longest_gap_ms={longest * 1000:.1f} "
        f"phase_jumps={counts['phase']} gaps={counts['gap']} dips={counts['dip']} "
        f"steps={counts['step']} at=" + (",".join(f"{t:.2f}{kind[0]}" for t, kind in events[:20]) or "-") +
        f" off_gaps={counts['off_gaps']}"
    )


def prove(hz):
    """Plants each kind of fault in a made sine (with a slight pitch error and noise, as a
    resampled recording has) and checks the detector finds exactly the planted ones, where they
    are, and nothing in the clean signal."""
    rate = 48000
    rng = numpy.random.default_rng(7)
    t = numpy.arange(20 * rate) / rate
    clean = 0.4 * numpy.sin(2 * numpy.pi * hz * 1.00002 * t + 0.7) + rng.normal(0, 1e-4, len(t))
    ok = True
    events, _, _, _ = detect(clean.astype(numpy.float32), hz, rate)
    if events:
        print(f"glitch_detect: FAIL: {len(events)} glitch(es) found in a clean sine: {events[:3]}")
        ok = False
    block = int(BLOCK_S * rate)
    # Each with how many glitches a plant makes (a silence longer than the merge, its two edges)
    # and whether it is silence, which a stream run dry plays.
    plants = [
        ("5 ms of silence inserted", 1, True, lambda x, at: numpy.concatenate((x[:at], numpy.zeros(5 * rate // 1000), x[at:]))),
        ("a 10 ms block played twice", 1, False, lambda x, at: numpy.concatenate((x[:at], x[at - block : at], x[at:]))),
        ("3 ms cut out", 1, False, lambda x, at: numpy.concatenate((x[:at], x[at + 3 * rate // 1000 :]))),
        ("1 ms cut out", 1, False, lambda x, at: numpy.concatenate((x[:at], x[at + rate // 1000 :]))),
        ("a 984-frame block played twice", 1, False, lambda x, at: numpy.concatenate((x[:at], x[at - 984 : at], x[at:]))),
        ("a 20 ms block of silence", 1, True, lambda x, at: numpy.concatenate((x[:at], numpy.zeros(20 * rate // 1000), x[at:]))),
        ("a 50 ms stretch of silence", 2, True, lambda x, at: numpy.concatenate((x[:at], numpy.zeros(50 * rate // 1000), x[at:]))),
    ]
    for name, each, silent, plant in plants:
        # Three plants of the kind, off the block grid.
        x = clean.copy()
        spots = [3.1234, 9.0071, 15.5555]
        for at in spots:  # in order: a plant never moves the ones before it
            x = plant(x, int(at * rate))
        events, _, longest, counts = detect(x.astype(numpy.float32), hz, rate)
        found = [t for t, _ in events]
        hits = all(any(abs(f - s) < 0.03 for f in found) for s in spots)
        if len(found) != each * len(spots) or not hits or counts["off_gaps"] != (0 if silent else len(found)):
            print(f"glitch_detect: FAIL: {name}: planted at {spots}, found at {[round(f, 3) for f in found]}, "
                  f"{counts['off_gaps']} beside no silence")
            ok = False
        else:
            print(f"glitch_detect: {name}: 3 planted, {len(found)} found, {counts['off_gaps']} beside no silence "
                  f"(longest gap {longest * 1000:.1f} ms)")
    print("glitch_detect: the detector finds every planted fault" if ok else "glitch_detect: the detector is not proved")
    return ok


def main(argv):
    if len(argv) >= 2 and argv[1] == "prove":
        return 0 if prove(float(argv[2]) if len(argv) > 2 else 441.0) else 1
    if len(argv) >= 3 and argv[1] == "count":
        hz = float(argv[3]) if len(argv) > 3 else 441.0
        rate = int(argv[4]) if len(argv) > 4 else 48000
        channels = int(argv[5]) if len(argv) > 5 else 2
        data = numpy.fromfile(argv[2], dtype=numpy.float32)
        x = data[: len(data) // channels * channels][0::channels].astype(numpy.float64)
        print(report(*detect(x, hz, rate)))
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
