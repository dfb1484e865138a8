#!/usr/bin/python3
"""Writes lyrics frames into an MP3's ID3 tag with Debian's python3-mutagen (a real tagger).

usage: make_lyrics_tags.py FILE.mp3 [--v23] [--uslt TEXT | --uslt-json JSON] [--uslt-encoding N] [--uslt-desc TEXT]
                           [--sylt JSON] [--sylt-format 1|2] [--sylt-encoding N] [--sylt-desc TEXT]
                           [--plain-size-frame BYTES]

--uslt-json takes the text as a JSON string (for line breaks and any character); --sylt a JSON list of [text, time] pairs; time is in milliseconds (format 2) or MPEG
frames (format 1). Frames are added in the order USLT, SYLT; the tag is saved as ID3v2.4, or
v2.3 with --v23. --plain-size-frame adds a PRIV frame of that many bytes after the others (mutagen
writes larger frames later) and then writes its size as a plain 32-bit number instead of syncsafe,
as some taggers wrongly do in ID3v2.4.
"""
import argparse
import json
import struct
import sys

from mutagen.id3 import ID3, ID3NoHeaderError, PRIV, SYLT, USLT


def syncsafe(four):
    return four[0] << 21 | four[1] << 14 | four[2] << 7 | four[3]


def write_plain_size(path, frame_id):
    """Rewrites the size of the last frame of the tag, which must be frame_id, as a plain number."""
    with open(path, "r+b") as f:
        head = f.read(10)
        body = f.read(syncsafe(head[6:10]))
        pos, last = 0, None
        while pos + 10 <= len(body) and body[pos] != 0:
            last = pos
            pos += 10 + syncsafe(body[pos + 4:pos + 8])
        if last is None or body[last:last + 4] != frame_id:
            raise SystemExit("the %s frame is not the last one" % frame_id.decode())
        f.seek(10 + last + 4)
        f.write(struct.pack(">I", syncsafe(body[last + 4:last + 8])))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("file")
    p.add_argument("--v23", action="store_true")
    p.add_argument("--uslt")
    p.add_argument("--uslt-json")
    p.add_argument("--uslt-encoding", type=int, default=3)
    p.add_argument("--uslt-desc", default="")
    p.add_argument("--sylt")
    p.add_argument("--sylt-format", type=int, default=2)
    p.add_argument("--sylt-encoding", type=int, default=3)
    p.add_argument("--sylt-desc", default="")
    p.add_argument("--plain-size-frame", type=int)
    a = p.parse_args()
    try:
        tag = ID3(a.file)
    except ID3NoHeaderError:
        tag = ID3()
    if a.uslt_json is not None:
        a.uslt = json.loads(a.uslt_json)
    if a.uslt is not None:
        tag.add(USLT(encoding=a.uslt_encoding, lang="eng", desc=a.uslt_desc, text=a.uslt))
    if a.sylt is not None:
        entries = [(text, int(time)) for text, time in json.loads(a.sylt)]
        tag.add(SYLT(encoding=a.sylt_encoding, lang="eng", format=a.sylt_format, type=1,
                     desc=a.sylt_desc, text=entries))
    if a.plain_size_frame is not None:
        tag.add(PRIV(owner="veldmix.test", data=b"p" * (a.plain_size_frame - len("veldmix.test") - 1)))
    tag.save(a.file, v2_version=3 if a.v23 else 4)
    if a.plain_size_frame is not None:
        write_plain_size(a.file, b"PRIV")
    return 0


if __name__ == "__main__":
    sys.exit(main())
