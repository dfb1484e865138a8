#!/usr/bin/python3
"""An independent model of the library's search language, view sort and mix order, for checking
veldmix-tool's search and mix-order output.

  make DIR DATAFOLDER SEEDS.json   audio files with tags (ffmpeg) in DIR, their library records in
                                   DATAFOLDER/database.tsv, and what was made in SEEDS.json
  search SEEDS.json SCAN.txt TEXT SORT DESCENDING(0|1)
                                   the rows the view should show: path, title, artist
  search-batch SEEDS.json SCAN.txt QUERIES.tsv OUT
                                   the same for each line (text, sort, 0|1) into OUT/<n>.txt
  mix-order SEEDS.json PATH...     the paths in mix order
  duplicates SEEDS.json SCAN.txt   the Duplicates list of the folder view and the status text
"""
import json
import math
import os
import random
import re
import struct
import subprocess
import sys

NOTES = ["c", "db", "d", "eb", "e", "f", "f#", "g", "ab", "a", "bb", "b"]
COLOURS = ["none", "pink", "red", "orange", "yellow", "green", "aqua", "blue", "purple"]
SORTS = ["title", "artist", "bpm", "key", "time", "energy", "rating", "genre", "plays", "played", "added",
         "colour"]


def lower(text):
    return "".join(c.lower() if len(c.lower()) == 1 else c for c in text)


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def energy(rec):
    if not rec or not rec["analyzed"]:
        return 0
    e = f32(f32(f32(rec["loudness"]) + f32(22.0)) / f32(1.4))
    n = math.floor(abs(e) + 0.5) * (1 if e >= 0 else -1)
    return min(10, max(1, int(n)))


def wheel(key):
    pitch = key % 12
    if key >= 12:
        pitch = (pitch + 3) % 12
    return (pitch * 7 % 12 + 7) % 12


def camelot(key):
    return "" if key is None or key < 0 or key > 23 else f"{wheel(key) + 1}{'A' if key >= 12 else 'B'}"


def key_distance(a, b):
    if not (0 <= a < 24 and 0 <= b < 24):
        return 99
    same = (a >= 12) == (b >= 12)
    around = (wheel(a) - wheel(b)) % 12
    steps = min(around, 12 - around)
    if steps == 0:
        return 0 if same else 1
    if same and steps == 1:
        return 1
    return steps + 2


NUMBER = re.compile(r"[ \t\n\v\f\r]*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?")


def leading_number(text):
    m = NUMBER.match(text)
    if not m:
        return None, 0
    value = float(m.group(0))
    return (value, m.end()) if math.isfinite(value) else (None, 0)


def numeric(text, tol):
    low, high = -1e18, 1e18
    if not text:
        return None
    if text.startswith(">=") or text.startswith("<="):
        n, used = leading_number(text[2:])
        if n is None:
            return None
        return (n, high) if text[0] == ">" else (low, n)
    if text[0] in "<>":
        n, used = leading_number(text[1:])
        if n is None:
            return None
        return (n + 0.000001, high) if text[0] == ">" else (low, n - 0.000001)
    n, used = leading_number(text)
    if n is None:
        return None
    rest = text[used:]
    if rest == "":
        return (n - tol, n + tol)
    if rest == "+":
        return (n, high)
    if rest[0] == "-" and len(rest) > 1 and rest[1] not in " \t\n\v\f\r":
        m, used2 = leading_number(rest[1:])
        if m is None:
            return None
        return (min(n, m), max(n, m))
    return None


def condition(token):
    if ":" not in token or token.startswith(":"):
        return None
    key, value = token.split(":", 1)
    inside = lambda r, v: r[0] <= v <= r[1]
    if key == "bpm":
        r = numeric(value, 0.5)
        return r and (lambda rec: bool(rec) and rec["analyzed"] and inside(r, rec["bpm"]))
    if key in ("rating", "stars", "r", "plays", "played", "energy", "e"):
        r = numeric(value, 0.0)
        if not r:
            return None
        if key in ("energy", "e"):
            return lambda rec: bool(rec) and rec["analyzed"] and inside(r, energy(rec))
        field = "rating" if key in ("rating", "stars", "r") else "plays"
        return lambda rec: inside(r, rec[field] if rec else 0)
    if key in ("color", "colour"):
        if value == "any":
            return lambda rec: bool(rec) and rec["colour"] > 0
        if value not in COLOURS:
            return None
        i = COLOURS.index(value)
        return lambda rec: (rec["colour"] if rec else 0) == i
    if key in ("tag", "mytag"):
        if not value:
            return None
        return lambda rec: bool(rec) and any(value in lower(t.strip()) for t in rec["tags"].split(",") if t.strip())
    if key == "key":
        if not value:
            return None
        def has_key(rec):
            if not rec or not rec["analyzed"] or not 0 <= rec["key"] < 24:
                return False
            k = rec["key"]
            return value in (lower(camelot(k)), NOTES[k % 12] + ("m" if k >= 12 else ""))
        return has_key
    return None


def utf16(text):
    return text.encode("utf-16-be")


def make(folder, data, seeds_path):
    rng = random.Random(16)
    os.makedirs(folder, exist_ok=True)
    os.makedirs(data, exist_ok=True)
    words = ["deep", "house", "Éclair", "night", "drive", "sun", "acid", "soul", "techno", "echo"]
    artists = ["Ärtist One", "artist one", "Zed", "Böse Buben", "", "DJ  Echo"]
    genres = ["House", "Techno", "Deep House", "Électro", ""]
    tracks, lines = [], []
    for i in range(24):
        title = "" if i == 5 else f"{rng.choice(words)} {rng.choice(words)} {i % 7}"
        path = os.path.join(folder, f"t{i:02d}.{['mp3', 'flac', 'm4a'][i % 3]}")
        tags = {"title": title, "artist": artists[i % len(artists)], "album": f"Album {i % 4}",
                "genre": genres[i % len(genres)], "comment": "warm up" if i % 6 == 0 else ""}
        cmd = ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", f"sine=f={200 + i * 10}:d={0.4 + i * 0.05:.2f}"]
        for k, v in tags.items():
            cmd += ["-metadata", f"{k}={v}"]
        subprocess.run(cmd + [path], check=True)
        rec = None
        if i % 8 != 7:  # every eighth file has no record
            rec = {"analyzed": i % 5 != 4, "bpm": round(rng.choice([64, 120, 124, 126, 127.5, 128, 128.5, 130, 140])
                                                        + (0 if i % 3 else 0.25), 2),
                   "key": rng.choice([-1, 0, 9, 21, 16, 2, 12]), "loudness": round(rng.uniform(-22, -6), 2),
                   "rating": rng.randint(0, 5), "plays": rng.choice([0, 0, 1, 3, 7]),
                   "played": rng.choice([0, 1700000000 + i]), "colour": rng.choice([0, 0, 2, 6, 8]),
                   "tags": rng.choice(["", "Deep, Opener", "vocal", "Peak Time, deep"])}
            cols = [path, f"{rec['bpm']:.4f}", "0.00000", str(rec["key"]), f"{rec['loudness']:.2f}",
                    "1" if rec["analyzed"] else "0", "0.00000"] + ["-1.00000"] * 8 + \
                   [str(rec["rating"]), str(rec["plays"]), str(rec["played"])] + ["-1.00000"] * 8 + ["-1"] * 8 + \
                   ["0"] + [""] * 8 + ["", str(rec["colour"]), rec["tags"], ""]
            assert len(cols) == 47
            lines.append("\t".join(cols))
        tracks.append({"path": path, "tags": tags, "record": rec})
    # Copies of one song for the duplicate finder: case and spaces differ, a remix does not match.
    base = tracks[1]["tags"]
    for j, (title, artist, ext) in enumerate([(base["title"].upper(), " " + base["artist"].replace(" ", "  ") + " ", "wav"),
                                              (base["title"] + " (Remix)", base["artist"], "mp3"),
                                              ("  " + base["title"], lower(base["artist"]), "flac")]):
        path = os.path.join(folder, f"dup{j}.{ext}")
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=f=300:d=0.3",
                        "-metadata", f"title={title}", "-metadata", f"artist={artist}", path], check=True)
        tracks.append({"path": path, "tags": {"title": title, "artist": artist, "album": "", "genre": "",
                                              "comment": ""}, "record": None})
    # Thirty records without files for mix order, listed as "Set" in a shuffled order.
    mix_paths = []
    for i in range(30):
        path = f"/mix/m{i:02d}.mp3"
        rec = {"analyzed": i % 9 != 8, "bpm": rng.choice([0, 64, 85, 120, 122, 124, 126, 128, 130, 132, 140, 174]),
               "key": rng.choice([-1] + list(range(24))), "loudness": round(rng.uniform(-24, -4), 2),
               "rating": 0, "plays": 0, "played": 0, "colour": 0, "tags": ""}
        cols = [path, f"{rec['bpm']:.4f}", "0.00000", str(rec["key"]), f"{rec['loudness']:.2f}",
                "1" if rec["analyzed"] else "0", "0.00000"] + ["-1.00000"] * 8 + ["0", "0", "0"] + \
               ["-1.00000"] * 8 + ["-1"] * 8 + ["0"] + [""] * 8 + ["", "0", "", ""]
        lines.append("\t".join(cols))
        tracks.append({"path": path, "tags": None, "record": rec})
        mix_paths.append(path)
    rng.shuffle(mix_paths)
    os.makedirs(os.path.join(data, "Lists"), exist_ok=True)
    with open(os.path.join(data, "Lists", "Set.m3u8"), "w", encoding="utf-8") as f:
        f.write("#EXTM3U\n" + "".join(p + "\n" for p in mix_paths))
    with open(os.path.join(data, "database.tsv"), "w", encoding="utf-8") as f:
        f.write("".join(line + "\n" for line in lines))
    with open(seeds_path, "w", encoding="utf-8") as f:
        json.dump(tracks, f, ensure_ascii=False)


def search_batch(seeds_path, scan_path, queries_path, out_folder):
    """Each line of QUERIES (text TAB sort TAB 0|1) answered into OUT/<line number>.txt."""
    import contextlib
    for n, line in enumerate(open(queries_path, encoding="utf-8")):
        text, sort, descending = line.rstrip("\n").split("\t")
        with open(os.path.join(out_folder, f"{n}.txt"), "w", encoding="utf-8") as out, contextlib.redirect_stdout(out):
            search(seeds_path, scan_path, text, sort, descending == "1")


def search(seeds_path, scan_path, text, sort, descending):
    seeds = {t["path"]: t for t in json.load(open(seeds_path, encoding="utf-8"))}
    rows = []
    for line in open(scan_path, encoding="utf-8"):
        index, duration, modified, title, artist, genre, path = line.rstrip("\n").split("\t")
        tags = seeds[path]["tags"]
        name = os.path.basename(path)
        text_of = " ".join(lower(x) for x in [title, artist, tags["album"], genre, tags["comment"], name])
        rows.append({"index": int(index), "path": path, "title": title, "artist": artist, "genre": genre,
                     "duration": float(duration), "modified": int(modified), "text": text_of,
                     "rec": seeds[path]["record"]})
    words, conds = [], []
    for token in lower(" " + text).split(" "):
        if not token:
            continue
        c = condition(token)
        (conds.append(c) if c else words.append(token))
    shown = [r for r in rows
             if all(w in r["text"] or (r["rec"] and w in lower(r["rec"]["tags"])) for w in words)
             and all(c(r["rec"]) for c in conds)]

    def value(r):
        rec = r["rec"]
        if sort == "title":
            return (utf16(lower(r["title"])),)
        if sort == "artist":
            return (utf16(lower(r["artist"])), utf16(lower(r["title"])))
        if sort == "genre":
            return (utf16(lower(r["genre"])), utf16(lower(r["artist"])))
        if sort == "key":
            return (utf16(camelot(rec["key"]) if rec else ""),)
        number = {"bpm": rec["bpm"] if rec else 0, "time": r["duration"], "energy": energy(rec),
                  "rating": rec["rating"] if rec else 0, "plays": rec["plays"] if rec else 0,
                  "played": rec["played"] if rec else 0, "added": r["modified"],
                  "colour": min(8, max(0, rec["colour"])) if rec else 0}.get(sort)
        return (number,) if number is not None else ()

    if sort in SORTS:
        shown.sort(key=value, reverse=descending)  # Python's sort is stable, also reversed
    elif descending:
        shown.reverse()
    for r in shown:
        print(f"{r['path']}\t{r['title']}\t{r['artist']}")


def mix_order(seeds_path, paths):
    records = {t["path"]: t["record"] for t in json.load(open(seeds_path, encoding="utf-8"))}
    tracks = []
    for p in paths:
        rec = records.get(p)
        ok = rec and rec["analyzed"] and rec["bpm"] > 0
        tracks.append({"bpm": rec["bpm"] if ok else 0.0, "key": rec["key"] if ok else -1,
                       "energy": energy(rec) if ok else 0})
    analysed = [i for i, t in enumerate(tracks) if t["bpm"] > 0]
    rest = [i for i, t in enumerate(tracks) if t["bpm"] <= 0]
    m = len(analysed)
    es = [tracks[i]["energy"] for i in analysed if tracks[i]["energy"] > 0]
    lo, hi = (min(es), max(es)) if es else (5, 5)
    mid = (lo + hi) * 0.5
    eff = lambda i: tracks[i]["energy"] if tracks[i]["energy"] >= 1 else mid

    def target(p):
        if m > 1:
            x = p / (m - 1)
            f = x / 0.75 if x < 0.75 else 1 - (x - 0.75) * 4 * 0.3
        else:
            f = p / 0.75
        return lo + f * (hi - lo)

    order = []
    if m:
        best = analysed[0]
        for c in analysed[1:]:
            d, bd = abs(eff(c) - target(0)), abs(eff(best) - target(0))
            if d < bd - 1e-9 or (abs(d - bd) <= 1e-9 and tracks[c]["bpm"] < tracks[best]["bpm"]):
                best = c
        order.append(best)
    for p in range(1, m):
        t = tracks[order[-1]]
        best, score_best = None, 1e18
        for c in analysed:
            if c in order:
                continue
            tc = tracks[c]
            if t["key"] < 0 or tc["key"] < 0:
                kc = 1.5
            else:
                d = key_distance(t["key"], tc["key"])
                kc = 0.0 if d == 0 else 0.5 if d == 1 else d + 3.0
            tempo = min(abs(tc["bpm"] * r / t["bpm"] - 1) * 100 for r in (0.5, 1.0, 2.0))
            score = abs(eff(c) - target(p)) * 1.5 + tempo * 0.5 + kc
            if score < score_best:
                best, score_best = c, score
        order.append(best)
    for i in order + rest:
        print(paths[i])


def duplicates(seeds_path, scan_path):
    """The Duplicates list of a folder view sorted by title, and the status text."""
    rows = []
    for line in open(scan_path, encoding="utf-8"):
        index, duration, modified, title, artist, genre, path = line.rstrip("\n").split("\t")
        rows.append((utf16(lower(title)), int(index), path, title, artist))
    rows.sort()
    norm = lambda text: " ".join(lower(w) for w in text.split())
    groups, seen = {}, set()
    for _, _, path, title, artist in rows:
        if path in seen:
            continue
        seen.add(path)
        if norm(title):
            groups.setdefault(utf16(norm(artist) + "\x1f" + norm(title)), []).append(path)
    found = [groups[k] for k in sorted(groups) if len(groups[k]) > 1]
    paths = [p for g in found for p in g]
    for p in paths:
        print(p)
    if len(found) == 1:
        print(f"1 song is in more than one file ({len(paths)} files) \u2014 they're side by side in the Duplicates list")
    elif found:
        print(f"{len(found)} songs are in more than one file ({len(paths)} files) \u2014 they're side by side "
              f"in the Duplicates list")
    elif len(seen) == 1:
        print("No duplicates: there is only 1 track here")
    else:
        print(f"No duplicates among these {len(seen)} tracks")


if __name__ == "__main__":
    what = sys.argv[1]
    if what == "make":
        make(*sys.argv[2:5])
    elif what == "search-batch":
        search_batch(*sys.argv[2:6])
    elif what == "search":
        search(sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5], sys.argv[6] == "1")
    elif what == "duplicates":
        duplicates(sys.argv[2], sys.argv[3])
    elif what == "mix-order":
        mix_order(sys.argv[2], sys.argv[3:])
    else:
        sys.exit(__doc__)
