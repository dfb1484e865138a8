#!/usr/bin/env python3
"""Draws the program's logo into assets/logo.png (256 x 256, RGBA, no dependencies).

The mark is the top bar's: two overlapping discs in deck A's blue and deck B's orange, here on a
dark rounded tile with a soft violet light, the lens where the decks meet lit white. Run it after
changing the drawing and commit the PNG:
    scripts/make_logo.py [--output PATH]
"""
import argparse
import math
import pathlib
import struct
import zlib

SIZE = 256
SAMPLES = 4  # per axis: 16 samples a pixel smooth the edges

TILE_RADIUS = 56.0
TILE_TOP, TILE_BOTTOM = (0x1D, 0x20, 0x29), (0x0B, 0x0D, 0x14)
EDGE = (0x7F, 0xD8, 0xFF)
GLOW = (0x8A, 0x5C, 0xFF)
DECK_A, DECK_B = (0x1F, 0xA8, 0xFF), (0xFF, 0x5E, 0x2B)
LENS = (0xF4, 0xF7, 0xFF)
DISC_RADIUS = 66.0
DISC_A, DISC_B = (102.0, 128.0), (154.0, 128.0)  # 52 apart, as 10 apart at radius 8 in the bar

ROOT = pathlib.Path(__file__).resolve().parent.parent


def inside_tile(x, y):
    r = TILE_RADIUS
    cx = min(max(x, r), SIZE - r)
    cy = min(max(y, r), SIZE - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def tile_edge_distance(x, y):
    """Distance inward from the tile's outline (negative outside)."""
    r = TILE_RADIUS
    cx = min(max(x, r), SIZE - r)
    cy = min(max(y, r), SIZE - r)
    return r - math.hypot(x - cx, y - cy)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def colour_at(x, y):
    """Straight RGB and coverage (0 or 1) of one sample."""
    if not inside_tile(x, y):
        return (0.0, 0.0, 0.0), 0.0
    c = mix(TILE_TOP, TILE_BOTTOM, y / SIZE)
    # A soft violet light behind the discs.
    d = math.hypot(x - SIZE / 2, y - SIZE / 2) / (SIZE * 0.5)
    c = mix(c, GLOW, 0.35 * math.exp(-d * d * 3.0))
    in_a = math.hypot(x - DISC_A[0], y - DISC_A[1]) <= DISC_RADIUS
    in_b = math.hypot(x - DISC_B[0], y - DISC_B[1]) <= DISC_RADIUS
    if in_a and in_b:
        c = LENS
    elif in_a:
        c = mix(c, DECK_A, 0.95)
    elif in_b:
        c = mix(c, DECK_B, 0.85)
    # A thin light edge just inside the tile's outline.
    if tile_edge_distance(x, y) < 3.0:
        c = mix(c, EDGE, 0.55)
    return c, 1.0


def draw():
    rows = []
    step = 1.0 / SAMPLES
    for py in range(SIZE):
        row = bytearray([0])  # PNG filter: none
        for px in range(SIZE):
            r = g = b = a = 0.0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c, cover = colour_at(px + (sx + 0.5) * step, py + (sy + 0.5) * step)
                    r += c[0] * cover
                    g += c[1] * cover
                    b += c[2] * cover
                    a += cover
            if a > 0:
                row += bytes((round(r / a), round(g / a), round(b / a), round(255 * a / SAMPLES**2)))
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return b"".join(rows)


def png(pixels):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(pixels, 9)) +
            chunk(b"IEND", b""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", default=str(ROOT / "assets" / "logo.png"))
    args = parser.parse_args()
    pathlib.Path(args.output).write_bytes(png(draw()))
    print(args.output)


if __name__ == "__main__":
    main()
