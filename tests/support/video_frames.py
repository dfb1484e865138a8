#!/usr/bin/python3
"""Reads the pictures the video checks write, through FFmpeg (an independent PNG reader).

  video_frames.py counter PNG          the frame number shown by the 16 black/white blocks along
                                       the top (block i, from the left, is bit i), or -1
  video_frames.py counters PNG|none... the same for each, on one line ("none" stays "none")
  video_frames.py size PNG             "WxH"
  video_frames.py mean PNG X0 Y0 X1 Y1 mean R G B over the box (fractions of the picture)
  video_frames.py compare A B OP       max channel difference of B against OP(A): same, invert,
                                       mono (0.3 R + 0.59 G + 0.11 B in every channel)
  video_frames.py mirrored PNG         max channel difference between each row and its reverse
  video_frames.py cells PNG            the width of the runs of equal colour along the middle row
                                       (median), "-" when the row has no runs
  video_frames.py black PNG            the brightest channel value in the picture
"""
import subprocess
import sys

import numpy as np


def read(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path} is not a PNG")
    w, h = int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")
    raw = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                         capture_output=True, check=True).stdout
    return np.frombuffer(raw, dtype=np.uint8).reshape(h, w, 3).astype(np.int32)


def counter(img):
    h, w, _ = img.shape
    row = img[int(h * 20 / 360)]
    value = 0
    for i in range(16):
        x = int((i + 0.5) * w / 16)
        level = row[max(0, x - 2):x + 3].mean()
        if 60 < level < 195:
            return -1  # not a block picture
        if level >= 195:
            value |= 1 << i
    return value


def main(argv):
    cmd, path = argv[1], argv[2]
    if cmd == "counters":  # counters PNG|none...: one line, "none" passed through
        print(" ".join("none" if p == "none" else str(counter(read(p))) for p in argv[2:]))
        return
    img = read(path)
    h, w, _ = img.shape
    if cmd == "counter":
        print(counter(img))
    elif cmd == "size":
        print(f"{w}x{h}")
    elif cmd == "mean":
        x0, y0, x1, y1 = (float(v) for v in argv[3:7])
        box = img[int(y0 * h):max(int(y0 * h) + 1, int(y1 * h)), int(x0 * w):max(int(x0 * w) + 1, int(x1 * w))]
        print(" ".join(str(int(round(v))) for v in box.reshape(-1, 3).mean(axis=0)))
    elif cmd == "compare":
        other, op = read(argv[3]), argv[4]
        if op == "invert":
            expect = 255 - img
        elif op == "mono":
            grey = 0.3 * img[..., 0] + 0.59 * img[..., 1] + 0.11 * img[..., 2]
            expect = np.repeat(grey[..., None], 3, axis=2)
        else:
            expect = img
        print(int(np.abs(other - expect).max()))
    elif cmd == "mirrored":
        print(int(np.abs(img - img[:, ::-1]).max()))
    elif cmd == "cells":
        row = img[h // 2]
        runs, start = [], 0
        for x in range(1, w + 1):
            if x == w or np.abs(row[x] - row[x - 1]).max() > 0:
                runs.append(x - start)
                start = x
        inner = runs[1:-1]
        print(int(np.median(inner)) if inner else "-")
    elif cmd == "black":
        print(int(img.max()))
    else:
        sys.exit(f"unknown command {cmd}")


if __name__ == "__main__":
    main(sys.argv)
