# Writes a CD+G file that exercises the whole TV-graphics command set: both colour-table loads,
# memory and border presets, tile blocks (normal and XOR, in range and out of range, inside the
# border area), scroll copy and scroll preset in every direction, packets of other commands, high
# bits on the command and instruction bytes, and a trailing part shorter than a packet.
# Prints the times (seconds) at which the picture is settled: every packet for 30 packets on
# either side of each time is a no-op, so a decoder that shows the state just before a time and
# one that shows it just after agree there.
# usage: python3 make_cdg.py OUT.cdg
import random
import sys

PACKETS_PER_SECOND = 300
SETTLE = 30  # no-op packets on each side of a printed time
TV_GRAPHICS = 9
MEMORY_PRESET, BORDER_PRESET, TILE, SCROLL_PRESET, SCROLL_COPY = 1, 2, 6, 20, 24
LOAD_LOW, LOAD_HIGH, TILE_XOR = 30, 31, 38
RIGHT, LEFT = 1, 2  # horizontal scroll commands (data[1] bits 4-5)
DOWN, UP = 1, 2     # vertical scroll commands (data[2] bits 4-5)

rng = random.Random(20240611)
packets = []
times = []


def packet(command, instruction, data):
    data = bytes(data) + bytes(16 - len(data))
    parity_q = bytes([rng.randrange(256), rng.randrange(256)])
    parity_p = bytes(rng.randrange(256) for _ in range(4))
    packets.append(bytes([command, instruction]) + parity_q + data + parity_p)


def graphics(instruction, data):
    packet(TV_GRAPHICS, instruction, data)


def colours(instruction, rgb):
    data = []
    for r, g, b in rgb:
        data += [(r << 2) | (g >> 2), ((g & 3) << 4) | b]
    graphics(instruction, data)


def tile(row, column, colour0, colour1, bits=None, xor=False, command=TV_GRAPHICS, instruction=None):
    if bits is None:
        bits = [rng.randrange(64) for _ in range(12)]
    if instruction is None:
        instruction = TILE_XOR if xor else TILE
    packet(command, instruction, [colour0, colour1, row, column] + bits)
    return bits


def scroll(copy, fill, horizontal=0, vertical=0):
    # Pans stay 0: the smooth-scroll offsets are checked by the unit tests.
    graphics(SCROLL_COPY if copy else SCROLL_PRESET, [fill, horizontal << 4, vertical << 4])


def settle():
    """No-op packets around a checkpoint: TV-graphics packets with no instruction, and a few of
    other commands, which a decoder must pass over."""
    for i in range(2 * SETTLE + 1):
        if i % 7 == 3:
            packet(rng.choice([0, 8, 10, 0x3F]), rng.randrange(64), [rng.randrange(256) for _ in range(16)])
        else:
            graphics(0, [])
    times.append((len(packets) - SETTLE - 1 + 0.5) / PACKETS_PER_SECOND)


def random_colours():
    return [(rng.randrange(16), rng.randrange(16), rng.randrange(16)) for _ in range(8)]


def main():
    out = sys.argv[1]
    settle()  # before anything: all black
    colours(LOAD_LOW, [(0, 0, 0), (15, 15, 15), (15, 0, 0), (0, 15, 0), (0, 0, 15), (15, 15, 0), (0, 15, 15), (8, 4, 2)])
    colours(LOAD_HIGH, random_colours())
    for repeat in range(16):  # as discs send it: the same preset with its repeat count
        graphics(MEMORY_PRESET, [4, repeat])
    graphics(BORDER_PRESET, [13, 0])
    settle()

    # Tiles over the whole grid, the border rows and columns included, in both colour tables.
    for row in range(18):
        for column in range(50):
            if rng.random() < 0.55:
                tile(row, column, rng.randrange(16), rng.randrange(16))
    # Out of range: ignored.
    tile(18, 3, 1, 2, [63] * 12)
    tile(2, 50, 1, 2, [63] * 12)
    tile(31, 63, 1, 2, [63] * 12)
    # Upper bits of the command and instruction bytes are not part of them.
    tile(5, 20, 15, 2, command=0x40 | TV_GRAPHICS, instruction=0x80 | TILE)
    # Another command with a tile instruction draws nothing.
    tile(6, 21, 1, 1, [63] * 12, command=8)
    settle()

    # XOR tiles: some once, some twice (which restores what was under them).
    for _ in range(120):
        row, column = rng.randrange(18), rng.randrange(50)
        bits = tile(row, column, rng.randrange(16), rng.randrange(16), xor=True)
        if rng.random() < 0.5:
            tile(row, column, rng.randrange(16), rng.randrange(16), bits, xor=True)
    settle()

    # Each copy twice: what wraps around into the border area comes into view with the second.
    scroll(True, 7, horizontal=LEFT)
    scroll(True, 7, horizontal=LEFT)
    settle()
    scroll(True, 7, vertical=UP)
    scroll(True, 7, vertical=UP)
    settle()
    scroll(False, 3, horizontal=RIGHT)
    scroll(False, 11, horizontal=RIGHT)  # the fill reaches the visible window
    settle()
    scroll(False, 12, vertical=DOWN)
    scroll(False, 9, vertical=DOWN)
    settle()
    scroll(True, 0, vertical=DOWN)
    scroll(True, 0, vertical=DOWN)
    scroll(True, 0, horizontal=RIGHT)
    scroll(True, 0, horizontal=RIGHT)
    settle()
    scroll(False, 9, horizontal=LEFT, vertical=UP)
    settle()
    colours(LOAD_LOW, random_colours())
    settle()
    colours(LOAD_HIGH, [(15, 15, 15)] * 8)
    settle()

    graphics(BORDER_PRESET, [14, 0])
    scroll(True, 0, horizontal=LEFT)
    scroll(True, 0, vertical=UP)
    settle()

    graphics(MEMORY_PRESET, [0, 0])
    for _ in range(200):
        tile(rng.randrange(18), rng.randrange(50), rng.randrange(16), rng.randrange(16), xor=rng.random() < 0.5)
    scroll(True, 5, horizontal=LEFT)
    scroll(False, 6, vertical=UP)
    settle()

    with open(out, "wb") as f:
        f.write(b"".join(packets))
        f.write(bytes(10))  # a trailing part shorter than a packet
    for t in times:
        print(f"{t:.6f}")


main()
