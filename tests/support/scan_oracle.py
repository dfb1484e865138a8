"""Checks `veldmix-tool scan` output against ffprobe and stat: one row per expected file, in
delivery order 0, 1, 2..., each with ffprobe's title (else the file's stem), artist, genre, its
duration within 0.1 s and stat's last-write time in 100-ns units since 1601.
usage: scan_oracle.py SCAN_OUTPUT EXPECTED_PATH..."""
import json
import os
import subprocess
import sys

EPOCH_TICKS = 116444736000000000  # 1601-01-01 to 1970-01-01 in 100-ns units


def probe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration:format_tags",
                          "-of", "json", path], capture_output=True, text=True, check=True).stdout
    fmt = json.loads(out)["format"]
    tags = {k.lower(): v for k, v in fmt.get("tags", {}).items()}
    return tags, float(fmt.get("duration", 0))


def main():
    rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1], encoding="utf-8")]
    rows = [r for r in rows if len(r) == 7]
    expected = sys.argv[2:]
    problems = []
    if sorted(r[6] for r in rows) != sorted(expected):
        problems.append(f"paths differ: got {sorted(r[6] for r in rows)}, want {sorted(expected)}")
    for i, (index, duration, modified, title, artist, genre, path) in enumerate(rows):
        if int(index) != i:
            problems.append(f"{path}: index {index}, want {i}")
        tags, want_duration = probe(path)
        stem = os.path.splitext(os.path.basename(path))[0]
        want = (tags.get("title") or stem, tags.get("artist", ""), tags.get("genre", ""))
        if (title, artist, genre) != want:
            problems.append(f"{path}: tags {(title, artist, genre)}, ffprobe {want}")
        if abs(float(duration) - want_duration) > 0.1:
            problems.append(f"{path}: duration {duration}, ffprobe {want_duration}")
        st = os.stat(path)
        if int(modified) != st.st_mtime_ns // 100 + EPOCH_TICKS:
            problems.append(f"{path}: modified {modified}, stat {st.st_mtime_ns // 100 + EPOCH_TICKS}")
    for p in problems:
        print("FAIL:", p)
    sys.exit(1 if problems else 0)


main()
