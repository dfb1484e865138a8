#!/usr/bin/env python3
"""Scores key and beat on the real-music corpus (real_corpus.py) in one run: Veldmix (veldmix-tool
analyse) beside Essentia's KeyExtractor under its four profiles, its RhythmExtractor2013 and aubio.

Usage: real_corpus_score.py CACHE_DIR VELDMIX_TOOL PEERS_DIR [--held-out-only] [--veldmix-only]
Prints the key table (exact, relative, fifth up and down, parallel, other, MIREX) over every file,
the files whose key signature agrees with their notes and the held-out files; then the beat
phase (on the beat, off-beat, elsewhere) on the files whose tempo each analyser got right; then
Veldmix's CPU per minute of audio, decode included. VELDMIX_KEY_VERBOSE=1 lists every file.
"""
import json
import math
import os
import re
import resource
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

KEY_ANALYSERS = ["Veldmix", "temperley", "krumhansl", "edma", "bgate"]
BEAT_ANALYSERS = ["Veldmix", "Essentia", "aubio"]
RELATIONS = ["exact", "relative", "fifth up", "fifth dn", "parallel", "other"]
MIREX = {"exact": 1.0, "fifth up": 0.5, "fifth dn": 0.5, "relative": 0.3, "parallel": 0.2, "other": 0.0}
NOTES = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}
WORKERS = max(1, min(4, os.cpu_count() or 1))


def parse_key(text):
    """'Am', 'F#', 'C# minor', 'Eb major' -> 0-23, or -1."""
    m = re.match(r"\s*([A-G])([#b]?)\s*(m\b|minor|major)?", text or "")
    if not m:
        return -1
    tonic = (NOTES[m.group(1)] + {"#": 1, "b": -1, "": 0}[m.group(2)]) % 12
    return tonic + (12 if m.group(3) in ("m", "minor") else 0)


def relate(found, truth):
    if found == truth:
        return "exact"
    if found < 0:
        return "other"
    t, f = truth % 12, found % 12
    if (found >= 12) == (truth >= 12):
        if f == (t + 7) % 12:
            return "fifth up"
        if f == (t + 5) % 12:
            return "fifth dn"
        return "other"
    if f == t:
        return "parallel"
    relative = (t + 9) % 12 if truth < 12 else (t + 3) % 12
    return "relative" if f == relative else "other"


def veldmix(tool, path):
    out = subprocess.run([tool, "analyse", path], capture_output=True, text=True).stdout
    field = lambda name: (re.search(rf"^{name}: (\S+)", out, re.M) or [None, ""])[1]
    try:
        return parse_key(field("key")), float(field("bpm")), float(field("first beat"))
    except ValueError:
        return -1, 0.0, 0.0


def node_lines(script, paths):
    """Runs a peer script over the paths in a few parallel batches; its lines by path."""
    batches = [paths[i::WORKERS] for i in range(WORKERS)]
    out = {}
    with ThreadPoolExecutor(WORKERS) as pool:
        for text in pool.map(lambda b: subprocess.run(["node", script] + b, capture_output=True, text=True).stdout,
                             [b for b in batches if b]):
            for line in text.splitlines():
                fields = line.split("\t")
                out[fields[0]] = fields[1:]
    return out


def aubio_beats(path):
    out = subprocess.run(["aubio", "beat", path], capture_output=True, text=True).stdout
    return [float(v) for v in out.split()]


def beat_place(bpm, phase, truth_bpm, truth_first):
    """'on', 'off' or 'elsewhere' for a grid whose tempo is right (x1, x2, x1/2 within 4 %), else None."""
    if not any(abs(bpm - truth_bpm * r) <= 0.04 * truth_bpm * r for r in (1.0, 2.0, 0.5)):
        return None
    beat = 60.0 / truth_bpm
    d = ((phase - truth_first) / beat) % 1.0
    if min(d, 1.0 - d) <= 0.1:
        return "on"
    if abs(d - 0.5) <= 0.1:
        return "off"
    if min(abs(d - 0.25), abs(d - 0.75)) <= 0.1:
        return "16th"
    return "elsewhere"


def tick_place(ticks, truth_bpm, truth_first):
    """Where a beat tracker's ticks sit on the true grid: the place most of them share; None when
    its tempo is wrong (x1, x2, x1/2 within 4 %). A grid at twice the tempo puts every other tick
    on the off-beat by its nature, so there the off-beat counts as on the beat."""
    if len(ticks) < 4:
        return None
    gaps = sorted(b - a for a, b in zip(ticks, ticks[1:]))
    bpm = 60.0 / gaps[len(gaps) // 2]
    double = abs(bpm - 2 * truth_bpm) <= 0.08 * truth_bpm
    if beat_place(bpm, truth_first, truth_bpm, truth_first) is None:
        return None
    counts = {"on": 0, "off": 0, "16th": 0, "elsewhere": 0}
    for t in ticks:
        place = beat_place(truth_bpm, t, truth_bpm, truth_first)
        counts["on" if double and place == "off" else place] += 1
    return max(counts, key=counts.get)


def main():
    cache, tool, peers = sys.argv[1:4]
    only_held_out = "--held-out-only" in sys.argv
    veldmix_only = "--veldmix-only" in sys.argv
    rows = [line.rstrip("\n").split("\t") for line in open(os.path.join(cache, "manifest.tsv"))]
    rows = [r for r in rows if not only_held_out or r[9] == "1"]
    paths = [r[0] for r in rows]

    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    with ThreadPoolExecutor(WORKERS) as pool:
        ours = list(pool.map(lambda p: veldmix(tool, p), paths))
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    audio_seconds = sum(os.path.getsize(p) - 44 for p in paths) / (44100 * 2 * 2)

    # The peers' answers do not change between runs: kept beside the corpus.
    kept = os.path.join(cache, "peers.json")
    peer = json.load(open(kept)) if os.path.exists(kept) else {"keys": {}, "rhythm": {}, "aubio": {}}
    missing = [] if veldmix_only else [p for p in paths if p not in peer["aubio"]]
    if missing:
        peer["keys"].update(node_lines(os.path.join(peers, "essentia_keys.js"), missing))
        peer["rhythm"].update(node_lines(os.path.join(peers, "essentia_beats.js"), missing))
        with ThreadPoolExecutor(WORKERS) as pool:
            peer["aubio"].update(zip(missing, pool.map(aubio_beats, missing)))
        json.dump(peer, open(kept, "w"))
    keys, rhythm, aubio = peer["keys"], peer["rhythm"], peer["aubio"]

    tallies = {}  # (subset, analyser) -> relation counts
    beats = {}    # analyser -> place counts
    verbose = os.environ.get("VELDMIX_KEY_VERBOSE")
    for row, (key, bpm, first) in zip(rows, ours):
        path, piece, truth, signed, truth_bpm, truth_first = row[0], row[1], int(row[2]), row[3] == "1", float(row[4]), float(row[5])
        found = [key] + [parse_key(k) for k in keys.get(path, [])[:4]] + [-1] * (4 - len(keys.get(path, [])[:4]))
        subsets = [] if truth < 0 else ["all"] + (["signed"] if signed else []) + (["held out"] if row[9] == "1" else [])
        for subset in subsets:
            for name, k in zip(KEY_ANALYSERS, found):
                tallies.setdefault((subset, name), {r: 0 for r in RELATIONS})[relate(k, truth)] += 1
        places = []
        if truth_bpm > 0:
            essentia = rhythm.get(path, [])
            ticks = [float(t) for t in essentia[1].split()] if len(essentia) > 1 else []
            found_places = [beat_place(bpm, first, truth_bpm, truth_first), tick_place(ticks, truth_bpm, truth_first),
                            tick_place(aubio.get(path, []), truth_bpm, truth_first)]
            for name, place in zip(BEAT_ANALYSERS, found_places):
                places.append(place)
                counts = beats.setdefault(name, {"on": 0, "off": 0, "16th": 0, "elsewhere": 0, "tempo": 0, "n": 0,
                                                 "1 ms": 0})
                counts["n"] += 1
                if place:
                    counts["tempo"] += 1
                    counts[place] += 1
                if name == "Veldmix" and place:
                    beat = 60.0 / truth_bpm
                    d = (first - truth_first) % beat
                    counts["1 ms"] += min(d, beat - d) <= 0.001
        if verbose:
            names = " ".join(f"{k:>3}" for k in found)
            print(f"  {os.path.basename(path):<22} key {truth:>2}{'*' if signed else ' '} | {names} | beat "
                  f"{truth_bpm:.1f}@{truth_first:.3f} V {bpm:.1f}@{first:.3f} {places}", file=sys.stderr)

    if tallies:
        print(f"\n{'subset':<9} {'analyser':<10} {'n':>4} " + " ".join(f"{r:>8}" for r in RELATIONS) + f" {'MIREX':>7} {'MIREX%':>6}")
    for (subset, name), t in tallies.items():  # none for the grooves, which have no key
        if veldmix_only and name != "Veldmix":
            continue
        n = sum(t.values())
        mirex = sum(MIREX[r] * c for r, c in t.items())
        print(f"{subset:<9} {name:<10} {n:>4} " + " ".join(f"{t[r]:>8}" for r in RELATIONS) + f" {mirex:>7.1f} {100 * mirex / n:>6.1f}")
    print(f"\n{'beat':<10} {'n':>4} {'tempo ok':>8} {'on beat':>8} {'off-beat':>8} {'16th':>5} {'elsewhere':>9} {'1 ms':>5}")
    for name, c in beats.items():
        if veldmix_only and name != "Veldmix":
            continue
        ms = c["1 ms"] if name == "Veldmix" else "-"
        print(f"{name:<10} {c['n']:>4} {c['tempo']:>8} {c['on']:>8} {c['off']:>8} {c['16th']:>5} {c['elsewhere']:>9} {ms:>5}")
    if audio_seconds > 0:
        print(f"\nVeldmix analysis CPU per minute of audio, decode included: {1000 * cpu * 60 / audio_seconds:.0f} ms")


if __name__ == "__main__":
    main()
