#!/usr/bin/python3
"""Writes lyrics frames into an MP3's ID3 tag with Debian's python3-mutagen (a real tagger).

usage: make_lyrics_tags.py FILE.mp3 [--v23] [--uslt TEXT | --uslt-json JSON] [--uslt-encoding N] [--uslt-desc TEXT]
                           [--sylt JSON] [--sylt-format 1|2] [--sylt-encoding N] [--sylt-desc TEXT]

--uslt-json takes the text as a JSON string (for line breaks and any character); --sylt a JSON list of [text, time] pairs; time is in milliseconds (format 2) or MPEG
frames (format 1). Frames are added in the order USLT, SYLT; the tag is saved as ID3v2.4, or
v2.3 with --v23.
"""
import argparse
import json
import sys

from mutagen.id3 import ID3, ID3NoHeaderError, SYLT, USLT


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
    tag.save(a.file, v2_version=3 if a.v23 else 4)
    return 0


if __name__ == "__main__":
    sys.exit(main())
