#!/usr/bin/python3
"""Reads the frame counter of a clip shown on the X screen twice, SECONDS apart, straight from the
server (XGetImage takes a few milliseconds, so each reading's time is known closely):

  screen_counter.py X Y W H SECONDS   prints "C1 C2 ELAPSED": the counters (16 black/white blocks
                                      along the top of the W x H rectangle at X, Y, block i
                                      from the left is bit i; -1 when unreadable) and the seconds
                                      between the two readings
"""
import ctypes
import sys
import time

import numpy as np

x11 = ctypes.CDLL("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XGetImage.restype = ctypes.c_void_p
x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                          ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
ZPixmap = 2


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


def grab(display, root, x, y, w, h):
    """The rectangle as an H x W x 3 array (B, G, R), and the time it was read."""
    before = time.monotonic()
    ptr = x11.XGetImage(display, root, x, y, w, h, 0xFFFFFFFF, ZPixmap)
    after = time.monotonic()
    if not ptr:
        sys.exit("XGetImage failed")
    img = ctypes.cast(ptr, ctypes.POINTER(XImage)).contents
    if img.bits_per_pixel != 32:
        sys.exit(f"{img.bits_per_pixel} bits per pixel: only 32 is read")
    # Copied out; the two images are left to the end of the process.
    raw = np.ctypeslib.as_array(img.data, shape=(img.bytes_per_line * h,)).copy()
    pixels = raw.reshape(h, img.bytes_per_line // 4, 4)[:, :w, :3].astype(np.int32)
    return pixels, (before + after) / 2


def counter(pixels):
    h, w, _ = pixels.shape
    row = pixels[int(h * 20 / 360)].mean(axis=1)
    value = 0
    for i in range(16):
        cx = int((i + 0.5) * w / 16)
        level = row[max(0, cx - 2):cx + 3].mean()
        if 60 < level < 195:
            return -1
        if level >= 195:
            value |= 1 << i
    return value


def main():
    x, y, w, h = (int(v) for v in sys.argv[1:5])
    seconds = float(sys.argv[5])
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("no display")
    root = x11.XDefaultRootWindow(display)
    first, t1 = grab(display, root, x, y, w, h)
    time.sleep(max(0.0, t1 + seconds - time.monotonic()))
    second, t2 = grab(display, root, x, y, w, h)
    x11.XCloseDisplay(display)
    print(counter(first), counter(second), f"{t2 - t1:.3f}")


if __name__ == "__main__":
    main()
