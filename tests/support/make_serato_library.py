#!/usr/bin/python3
"""Writes a Serato library as Serato lays it out, from the public descriptions of its files.

make_serato_library.py SERATO_FOLDER MUSIC_FOLDER VOLUME_ROOT

MUSIC_FOLDER gets MP3s (ffmpeg) tagged with Serato's GEOB frames by mutagen, in ID3 v2.4 with
UTF-16 descriptions and v2.3 with Latin-1 ones, and a FLAC. SERATO_FOLDER gets "database V2" and
"Subcrates/*.crate" written with struct, the paths stored relative to VOLUME_ROOT as Serato does
("Users/dj/Music/a.mp3" on the system volume). Prints nothing; the C++ test knows the values.
"""
import base64
import os
import struct
import subprocess
import sys

from mutagen.id3 import GEOB, ID3, TIT2


def chunk(tag, payload):
    return tag.encode("ascii") + struct.pack(">I", len(payload)) + payload


def utf16(text):
    return text.encode("utf-16-be")


def markers2(entries):
    """The GEOB object: version 01 01, then base64 of (01 01, entries, 00) in 72-char lines."""
    raw = b"\x01\x01" + b"".join(entries) + b"\x00"
    text = base64.b64encode(raw).rstrip(b"=")
    lines = b"\n".join(text[i:i + 72] for i in range(0, len(text), 72))
    return b"\x01\x01" + lines + b"\x00" * max(0, 470 - len(lines))


def entry(name, payload):
    return name.encode("ascii") + b"\x00" + struct.pack(">I", len(payload)) + payload


def cue(slot, ms, rgb, name):
    return entry("CUE", b"\x00" + bytes([slot]) + struct.pack(">I", ms) + b"\x00" + bytes(rgb) + b"\x00\x00"
                 + name.encode("utf-8") + b"\x00")


def loop(slot, start_ms, end_ms, name, locked=1):
    return entry("LOOP", b"\x00" + bytes([slot]) + struct.pack(">II", start_ms, end_ms) + b"\xff\xff\xff\xff"
                 + b"\x00\x27\xaa\xe1" + b"\x00" + bytes([locked]) + name.encode("utf-8") + b"\x00")


def color(rgb):
    return entry("COLOR", b"\x00" + bytes(rgb))


def beatgrid(markers, last_tempo):
    """markers: [(position, beats to next)] then the last marker's position; footer byte 00."""
    body = b"".join(struct.pack(">fI", p, b) for p, b in markers[:-1])
    body += struct.pack(">ff", markers[-1][0], last_tempo)
    return b"\x01\x00" + struct.pack(">I", len(markers)) + body + b"\x00"


def mp3(path, seconds=20):
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", f"sine=f=440:d={seconds}", "-b:a", "64k",
                    path], check=True)


def tag(path, version, encoding, objects):
    tags = ID3(path)
    tags.add(TIT2(encoding=3, text=os.path.basename(path)))
    for desc, data in objects:
        tags.add(GEOB(encoding=encoding, mime="application/octet-stream", filename="", desc=desc, data=data))
    tags.save(path, v2_version=version)


def spoil_padding(path):
    """Writes a frame header with a bad id where the v2.3 tag's padding starts: the frames before it
    stay readable, as other readers keep them."""
    with open(path, "r+b") as f:
        head = f.read(10)
        size = (head[6] << 21) | (head[7] << 14) | (head[8] << 7) | head[9]
        pos = 10
        while pos + 10 <= 10 + size:
            f.seek(pos)
            frame = f.read(10)
            if frame[0] == 0:
                f.seek(pos)
                f.write(b"bad!" + struct.pack(">I", 4) + b"\x00\x00junk")
                return
            pos += 10 + struct.unpack(">I", frame[4:8])[0]
    raise SystemExit("no padding to spoil in " + path)


def main():
    serato, music, root = sys.argv[1:4]
    os.makedirs(os.path.join(serato, "Subcrates"), exist_ok=True)
    os.makedirs(music, exist_ok=True)
    rel = lambda name: os.path.relpath(os.path.join(music, name), root)

    # v2.4, UTF-16 descriptions: two cues, two loops (slots 0 and 2 taken), a colour, a grid of
    # two markers.
    a = "Ünïcode Ä b.mp3"
    mp3(os.path.join(music, a))
    tag(os.path.join(music, a), 4, 1, [
        ("Serato Markers2", markers2([
            cue(0, 1500, (0xCC, 0x88, 0x00), "Drop ü"),
            cue(2, 90500, (0xCC, 0x00, 0x00), ""),
            cue(9, 5000, (0, 0, 0xFF), "slot nine"),
            loop(0, 4000, 8000, "Loop ä"),
            loop(1, 10000, 12000, ""),
            loop(2, 9000, 9000, "empty"),
            color((0xFF, 0x00, 0x00)),
        ])),
        ("Serato BeatGrid", beatgrid([(0.2, 32), (15.68, 0)], 124.0)),
    ])
    # v2.3, Latin-1 descriptions: one marker, a grey colour, a cue; an unrelated GEOB too.
    b = "b tráck.mp3"
    mp3(os.path.join(music, b))
    tag(os.path.join(music, b), 3, 0, [
        ("Serato Markers2", markers2([cue(5, 64000, (0x00, 0xCC, 0x00), "Five"), color((0x99, 0x99, 0x99))])),
        ("Serato BeatGrid", beatgrid([(0.2, 0)], 124.0)),
        ("Serato Overview", b"\x01\x05" + b"\x00" * 64),
    ])
    spoil_padding(os.path.join(music, b))
    # A FLAC keeps its defaults; an MP3 with no Serato data too.
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=d=2", os.path.join(music, "c.flac")],
                   check=True)
    mp3(os.path.join(music, "d plain.mp3"), 2)

    def stream(version, paths, tag_name):
        out = chunk("vrsn", utf16(version))
        if tag_name == "ptrk":
            out += chunk("osrt", chunk("tvcn", utf16("song")) + chunk("brev", b"\x00"))
            out += chunk("ovct", chunk("tvcn", utf16("song")) + chunk("tvcw", utf16("0")))
        for p in paths:
            inner = chunk("ttyp", utf16("mp3")) + chunk(tag_name, utf16(p)) + chunk("tsng", utf16("x"))
            out += chunk("otrk", inner)
        return out

    crate = lambda paths: stream("1.0/Serato ScratchLive Crate", paths, "ptrk")
    with open(os.path.join(serato, "database V2"), "wb") as f:
        f.write(stream("2.0/Serato Scratch LIVE Database",
                       [rel(a), rel(b), rel("missing.mp3"), rel("c.flac"), rel("d plain.mp3"), rel(a)], "pfil"))
    with open(os.path.join(serato, "Subcrates", "House%%Deep.crate"), "wb") as f:
        f.write(crate([rel(b), rel("gone.mp3"), rel(a)]))
    with open(os.path.join(serato, "Subcrates", "Only Missing.crate"), "wb") as f:
        f.write(crate([rel("gone.mp3")]))
    with open(os.path.join(serato, "Subcrates", "Upper.CRATE"), "wb") as f:
        f.write(crate([rel(a)]))


if __name__ == "__main__":
    main()
