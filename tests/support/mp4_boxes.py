#!/usr/bin/python3
"""Prints the top-level box types of an MP4 file in order, one line: "ftyp moov mdat"."""
import struct
import sys

with open(sys.argv[1], "rb") as f:
    names = []
    while True:
        head = f.read(8)
        if len(head) < 8:
            break
        size, kind = struct.unpack(">I4s", head)
        if size == 1:
            size = struct.unpack(">Q", f.read(8))[0] - 8
        elif size == 0:
            names.append(kind.decode("latin-1"))
            break
        names.append(kind.decode("latin-1"))
        f.seek(size - 8, 1)
print(" ".join(names))
