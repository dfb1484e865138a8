#!/usr/bin/env python3
"""The ".vxskin" skin file as the format defines it, written independently of the program:
UTF-8 with a byte-order mark, CR LF line ends, "[Skin]", "Name=", then the 21 colours in key
order as six upper-case hex digits.

    vxskin.py write PATH NAME [KEY=RRGGBB...] [--theme N]
writes the default palette (deck colours from theme N, default 0) with the given colours changed.
"""
import sys

KEYS = ["Background", "Panel", "Panel2", "Panel3", "Border", "Text", "Dim", "Faint", "WaveBg", "WaveLow",
        "WaveMid", "WaveHigh", "Green", "Yellow", "Red", "Purple", "Pink", "DeckA", "DeckB", "DeckC", "DeckD"]
DEFAULT = [0x07080C, 0x13161D, 0x1D2029, 0x282C37, 0x272C38, 0xEEF1F8, 0x8C93A6, 0x4A5163, 0x05060A, 0x1E7BFF,
           0xFFA12E, 0xF4F7FF, 0x2BF59A, 0xFFC83D, 0xFF3B5C, 0xB57BFF, 0xFF4FD8]
THEMES = [[0x1FA8FF, 0xFF5E2B, 0x3CF0B4, 0xD86BFF], [0x00E5FF, 0xFF2BD6, 0xB6FF3D, 0xFFC83D],
          [0xFF9F1C, 0xFF3B6F, 0xFFD23F, 0x9D6BFF], [0x7FD4FF, 0xA9B8FF, 0x5CFFE0, 0xE0E8FF],
          [0xE6E8EE, 0x9AA3B5, 0xC8CCD6, 0x7A8190]]


def palette(theme=0, **changes):
    colours = dict(zip(KEYS, DEFAULT + THEMES[theme]))
    colours.update(changes)
    return colours


def skin_bytes(name, colours):
    lines = ["[Skin]", "Name=" + name] + ["%s=%06X" % (k, colours[k] & 0xFFFFFF) for k in KEYS]
    return b"\xef\xbb\xbf" + "".join(line + "\r\n" for line in lines).encode("utf-8")


def main(argv):
    if len(argv) < 4 or argv[1] != "write":
        sys.exit(__doc__)
    path, name, theme, changes = argv[2], argv[3], 0, {}
    rest = argv[4:]
    while rest:
        item = rest.pop(0)
        if item == "--theme":
            theme = int(rest.pop(0))
        else:
            key, value = item.split("=", 1)
            changes[key] = int(value, 16)
    with open(path, "wb") as f:
        f.write(skin_bytes(name, palette(theme, **changes)))


if __name__ == "__main__":
    main(sys.argv)
