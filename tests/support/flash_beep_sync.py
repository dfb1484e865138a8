#!/usr/bin/python3
"""Lines up the flashes and beeps of a recorded flash-and-beep mix (MP4 or FLV).

usage: flash_beep_sync.py FILE [--min-flashes N] [--earliest FRAMES] [--latest FRAMES] [--outliers N]
Decodes the picture (mean brightness per frame) and the sound (1 kHz beeps) with ffmpeg, pairs
each flash with the nearest beep and prints, per flash, the offset in frames (positive: the flash
comes after its beep), then the mean offset of the first and last ten beeps against the picture
in milliseconds. Exits 1 when a flash falls outside -1..+3 frames of its beep (--earliest and
--latest move the ends; --outliers lets N flashes fall outside), fewer than N
flashes were found, or the first and last ten means differ by more than 10 ms (drift).
"""
import subprocess
import sys

import numpy as np

FPS = 30
RATE = 48000
W, H = 32, 18


def video_brightness(path):
    """The mean brightness of each frame and its time in seconds."""
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:v:0", "-vf", f"scale={W}:{H}",
                          "-pix_fmt", "gray", "-f", "rawvideo", "-vsync", "passthrough", "-"],
                         check=True, capture_output=True).stdout
    frames = np.frombuffer(raw, np.uint8).reshape(-1, W * H)
    times = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "frame=pts_time",
                            "-of", "csv=p=0", path], check=True, capture_output=True, text=True).stdout.split()
    times = [float(t.split(",")[0]) for t in times if t.split(",")[0] not in ("", "N/A")]
    return frames.mean(axis=1), times[:len(frames)]


def audio_start(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries", "stream=start_time",
                          "-of", "csv=p=0", path], check=True, capture_output=True, text=True).stdout.strip()
    try:
        return float(out)
    except ValueError:
        return 0.0


def beep_onsets(path):
    """The beeps' start times in seconds and the sound's end."""
    start = audio_start(path)
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:a:0", "-ac", "1", "-ar", str(RATE),
                          "-f", "s16le", "-"], check=True, capture_output=True).stdout
    x = np.abs(np.frombuffer(raw, np.int16).astype(np.float64))
    loud = x > 0.2 * 32767
    onsets, last = [], -RATE
    for i in np.flatnonzero(loud):
        if i - last > RATE // 2:
            onsets.append(start + i / RATE)
        last = i
    return onsets, start + len(x) / RATE


def main():
    path = sys.argv[1]
    need = int(sys.argv[sys.argv.index("--min-flashes") + 1]) if "--min-flashes" in sys.argv else 1
    earliest = float(sys.argv[sys.argv.index("--earliest") + 1]) if "--earliest" in sys.argv else -1.0
    latest = float(sys.argv[sys.argv.index("--latest") + 1]) if "--latest" in sys.argv else 3.0
    outliers = int(sys.argv[sys.argv.index("--outliers") + 1]) if "--outliers" in sys.argv else 0
    light, times = video_brightness(path)
    flashes = [i for i in range(len(times)) if light[i] > 128 and (i == 0 or light[i - 1] <= 128)]
    beeps, sound_end = beep_onsets(path)
    # A flash whose beep would fall after the sound's end (the stream stopped first) has none.
    flashes = [f for f in flashes if times[f] < sound_end - 0.1]
    bad = 0
    offsets = []
    for f in flashes:
        t = times[f]
        b = min(beeps, key=lambda s: abs(s - t)) if beeps else None
        if b is None:
            bad += 1
            continue
        off = t - b
        frames = off * FPS
        offsets.append(off)
        ok = earliest - 1e-6 <= frames <= latest + 1e-6
        bad += 0 if ok else 1
        print(f"flash at frame {f} ({t:.3f} s), beep at {b:.3f} s: {frames:+.2f} frames{'' if ok else '  OUT OF RANGE'}")
    print(f"flashes {len(flashes)} beeps {len(beeps)}")
    drift_ok = True
    if len(offsets) >= 20:
        first, last = np.mean(offsets[:10]) * 1000, np.mean(offsets[-10:]) * 1000
        drift_ok = abs(first - last) <= 10
        print(f"first ten {first:.1f} ms, last ten {last:.1f} ms")
    if bad > outliers or len(flashes) < need or not drift_ok:
        sys.exit(1)


main()
