#!/usr/bin/env python3
"""Real-music corpus for the key and beat benchmarks: music written by people, taken from what
Debian packages ship, turned into MIDI and rendered by fluidsynth with two General MIDI soundfonts,
at two levels and two tunings each:
- tunes of the ABC tune books in abcmidi and abcm2ps (through abc2midi);
- the example songs that rosegarden carries inside its program (classical pieces, songs and
  rock arrangements in its own XML);
- the demo and short projects of lmms-common (dance music: house, trance, reggae, chiptune),
  their synthesiser tracks given General MIDI sounds and their drum samples the GM drum kit;
- the MIDI music of the games kobodeluxe-data and liquidwar-data and solfege's fanfare.

Truth comes from the notes, not the audio:
- key: the duration-weighted pitch-class histogram of the rendered stretch against the
  Aarden-Essen profiles (major and minor); `signed` says whether the piece's own key signature
  names the same key.
- beat: the MIDI tempo and time signature give the beat (a dotted quarter in 6/8, 9/8, 12/8).
  Where the notes sit on the MIDI grid the first beat is at 0; ABC tunes may start with an upbeat,
  so there it is where abc2midi's bar accents fall (it plays the notes on a bar's beats louder).
  A piece whose tempo changes has no beat truth (bpm 0).

Usage: real_corpus.py CACHE_DIR [--held-out-only] [--variants 0,1,2,3]
Writes CACHE_DIR/manifest.tsv (path, piece, key 0-23 with minor + 12, signed, bpm, first beat in
seconds, soundfont, gain dB, cents, held out) and the WAV files beside it. Every other piece (in
name order within each source) is held out: tune on the rest, report on these. --variants renders
only the named variants (0-1 the first soundfont, 2-3 the second).
"""
import math
import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET
import zlib
from concurrent.futures import ThreadPoolExecutor

SOUNDFONTS = ["/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2"]  # Debian's two GM sets
VARIANTS = [(0.0, 0.0), (-18.0, 31.0), (-6.0, -23.0), (-24.0, 12.0)]  # gain dB, cents
SECONDS = 60.0
MIN_SECONDS = 20.0
MIN_NOTES = 40
MIN_KEY_CORRELATION = 0.6  # below it the notes name no clear key (scales, drum studies)
DRUMS = 9  # the GM percussion channel

AARDEN_MAJOR = [17.7661, 0.145624, 14.9265, 0.160186, 19.8049, 11.3587, 0.291248, 22.062, 0.145624, 8.15494,
                0.232998, 4.95122]
AARDEN_MINOR = [18.2648, 0.737619, 14.0499, 16.8599, 0.702494, 14.4362, 0.702494, 18.6161, 4.56621, 1.93186,
                7.37619, 1.75623]
NAMES = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}


def correlate(hist, tonic, profile):
    xs = [hist[(tonic + i) % 12] for i in range(12)]
    mx, mp = sum(xs) / 12, sum(profile) / 12
    cov = sum((x - mx) * (p - mp) for x, p in zip(xs, profile))
    vx = sum((x - mx) ** 2 for x in xs)
    vp = sum((p - mp) ** 2 for p in profile)
    return cov / math.sqrt(vx * vp) if vx > 0 else -1.0


def notes_key(hist):
    best = (-2.0, -1)
    for tonic in range(12):
        best = max(best, (correlate(hist, tonic, AARDEN_MAJOR), tonic), (correlate(hist, tonic, AARDEN_MINOR), tonic + 12))
    return best


def named_key(tonic_name, mode):
    """0-23 for a tonic letter with an accidental ('F#', 'Bb') and a mode word, -1 for other modes."""
    m = re.match(r"([A-Ga-g])([#b]?)", tonic_name)
    if not m:
        return -1
    tonic = (NAMES[m.group(1).upper()] + {"#": 1, "b": -1, "": 0}[m.group(2)]) % 12
    mode = mode.lower()[:3]
    if mode in ("", "maj", "ion"):
        return tonic
    if mode in ("m", "min", "aeo"):
        return tonic + 12
    return -1


def signature_key(field):
    """The key an ABC K: field names, or -1 for modes other than major and minor."""
    m = re.match(r"\s*([A-Ga-g][#b]?)\s*([A-Za-z]*)", field)
    return named_key(m.group(1), m.group(2)) if m else -1


def midi_events(path):
    """The division and every event of a MIDI file as (tick, message), each message whole (its
    status byte written out); system exclusive messages are left out."""
    data = open(path, "rb").read()
    if data[:4] != b"MThd":
        raise ValueError("not a MIDI file")
    _, ntracks, division = struct.unpack(">HHH", data[8:14])
    pos, events = 14, []

    def varint(p):  # a variable-length quantity at p: its value and the position after it
        value = 0
        while True:
            b = data[p]
            p += 1
            value = (value << 7) | (b & 0x7F)
            if b < 0x80:
                return value, p

    for track in range(ntracks):
        if data[pos:pos + 4] != b"MTrk":
            raise ValueError("bad track")
        length = struct.unpack(">I", data[pos + 4:pos + 8])[0]
        p, end, tick, status = pos + 8, pos + 8 + length, 0, 0
        while p < end:
            delta, p = varint(p)
            tick += delta
            if data[p] >= 0x80:
                status = data[p]
                p += 1
            if status == 0xFF:
                start = p
                size, p = varint(p + 1)
                events.append((tick, b"\xff" + data[start:p + size]))
                p += size
            elif status in (0xF0, 0xF7):
                size, p = varint(p)
                p += size
            else:
                n = 1 if status & 0xF0 in (0xC0, 0xD0) else 2
                events.append((tick, bytes([status]) + data[p:p + n]))
                p += n
        pos = end
    events.sort(key=lambda e: e[0])
    return division, events


def read_midi(path):
    """Notes (seconds, duration, pitch, velocity) off the drum channel, tempos, time signatures,
    the division and the key signature (0-23, -1 without one)."""
    division, events = midi_events(path)
    tempos = [(0, 500000)]
    signatures = []
    key_signature = -1
    for tick, message in events:
        if message[0] != 0xFF:
            continue
        kind, size, p = message[1], 0, 2
        while message[p] & 0x80:
            size, p = (size << 7) | (message[p] & 0x7F), p + 1
        payload = message[p + 1:p + 1 + ((size << 7) | message[p])]
        if kind == 0x51:
            tempo = int.from_bytes(payload, "big")
            if tick == tempos[-1][0]:
                tempos[-1] = (tick, tempo)
            elif tempo != tempos[-1][1]:
                tempos.append((tick, tempo))
        if kind == 0x58:
            signatures.append((tick, payload[0], 2 ** payload[1]))
        if kind == 0x59 and key_signature < 0 and len(payload) == 2:
            sharps = payload[0] - 256 if payload[0] > 127 else payload[0]
            key_signature = (sharps * 7 + (9 if payload[1] else 0)) % 12 + (12 if payload[1] else 0)

    def seconds(tick):
        s, last_tick, last_tempo = 0.0, 0, tempos[0][1]
        for t, tempo in tempos[1:]:
            if t >= tick:
                break
            s += (t - last_tick) * last_tempo / 1e6 / division
            last_tick, last_tempo = t, tempo
        return s + (tick - last_tick) * last_tempo / 1e6 / division

    notes, sounding = [], {}
    for tick, message in events:
        status = message[0]
        if status >= 0xF0 or (status & 0x0F) == DRUMS:
            continue
        kind = status & 0xF0
        if kind == 0x90 and message[2] > 0:
            sounding[(status & 0x0F, message[1])] = (tick, message[2])
        elif kind in (0x80, 0x90):
            start = sounding.pop((status & 0x0F, message[1]), None)
            if start:
                t0 = seconds(start[0])
                notes.append((t0, seconds(tick) - t0, message[1], start[1]))
    return notes, tempos, signatures, division, key_signature


def write_events(path, division, events):
    """A type-0 MIDI file of (tick, message) events, in the order given at equal ticks."""
    body, last = bytearray(), 0
    for tick, message in sorted(events, key=lambda e: e[0]):
        delta, quantity = tick - last, [(tick - last) & 0x7F]
        while delta > 0x7F:
            delta >>= 7
            quantity.insert(0, 0x80 | (delta & 0x7F))
        body += bytes(quantity) + message
        last = tick
    body += b"\x00\xff\x2f\x00"
    with open(path, "wb") as out:
        out.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, division) + b"MTrk" + struct.pack(">I", len(body)) + body)


def write_midi(path, division, tempos, signature, notes):
    """A MIDI file of tempos [(tick, microseconds per quarter)], a signature (numerator,
    denominator) and notes (tick, ticks, channel, program, pitch, velocity)."""
    events = [(t, b"\xff\x51\x03" + us.to_bytes(3, "big")) for t, us in tempos]
    events.append((0, bytes([0xFF, 0x58, 4, signature[0], int(math.log2(signature[1])), 24, 8])))
    programs = {}
    for _, _, channel, program, _, _ in notes:
        programs.setdefault(channel, program)
    events += [(0, bytes([0xC0 | c, p])) for c, p in programs.items() if c != DRUMS]
    # At one tick, notes end before others start.
    events += sorted([(tick + max(1, length), bytes([0x80 | channel, pitch, 0])) for tick, length, channel, _, pitch, _ in notes]
                     + [(tick, bytes([0x90 | channel, pitch, velocity])) for tick, _, channel, _, pitch, velocity in notes],
                     key=lambda e: (e[0], e[1][0] & 0xF0 == 0x90))
    write_events(path, division, events)


def cut_midi(source, target, seconds):
    """The first seconds of a MIDI file, every channel's notes stopped there: fluidsynth renders
    a whole file, and the pieces run for minutes."""
    division, events = midi_events(source)
    _, tempos, *_ = read_midi(source)
    tick, elapsed = 0, 0.0
    for (t, tempo), following in zip(tempos, [t for t, _ in tempos[1:]] + [None]):
        span = (following - t) * tempo / 1e6 / division if following is not None else float("inf")
        if elapsed + span >= seconds:
            tick = t + round((seconds - elapsed) * 1e6 * division / tempo)
            break
        elapsed += span
    kept = [(t, m) for t, m in events if t < tick and not (m[0] == 0xFF and m[1] == 0x2F)]
    write_events(target, division, kept + [(tick, bytes([0xB0 | c, 123, 0])) for c in range(16)])


def beat_unit(quarter_seconds, signature):
    numerator, denominator = signature
    unit = quarter_seconds * 4 / denominator
    return 3 * unit if denominator == 8 and numerator % 3 == 0 else unit


def accented_beat(notes, tempos, signatures):
    """(bpm of the felt beat, first beat in seconds) from abc2midi's bar accents, or None for a
    tune whose tempo changes."""
    if len(tempos) != 1:
        return None
    beat = beat_unit(tempos[0][1] / 1e6, signatures[0][1:] if signatures else (4, 4))
    # abc2midi accents the notes on a bar's beats: the loudest velocities lie on the grid.
    top = max(v for _, _, _, v in notes)
    accented = [t for t, _, _, v in notes if v == top]
    # The grid's phase: the circular mean of the accented onsets modulo one beat.
    x = sum(math.cos(2 * math.pi * t / beat) for t in accented)
    y = sum(math.sin(2 * math.pi * t / beat) for t in accented)
    phase = (math.atan2(y, x) / (2 * math.pi)) % 1.0
    return 60.0 / beat, phase * beat


def grid_beat(notes, tempos, signatures):
    """(bpm of the felt beat, 0) for a piece whose bars start at the MIDI file's start, or None
    for one whose tempo changes or whose notes were played in rather than set on the grid."""
    if len(tempos) != 1:
        return None
    quarter = tempos[0][1] / 1e6
    on_grid = sum(1 for t, _, _, _ in notes if min(abs(x - round(x)) for x in (t / quarter * 4, t / quarter * 3)) < 0.05)
    if on_grid < 0.9 * len(notes):
        return None
    return 60.0 / beat_unit(quarter, signatures[0][1:] if signatures else (4, 4)), 0.0


def run(command, **kw):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)


def package_files(cache, package, suffixes):
    """The files of a package whose names end in one of the suffixes: from the installed package
    where it is installed (as the tests have it), else from the package downloaded into the cache."""
    listed = subprocess.run(["dpkg", "-L", package], capture_output=True, text=True)
    if listed.returncode == 0:
        return sorted(f for f in listed.stdout.split() if f.endswith(suffixes) and os.path.isfile(f))
    root = os.path.join(cache, "src", package)
    if not os.path.isdir(root):
        debs = os.path.join(cache, "debs")
        os.makedirs(debs, exist_ok=True)
        run(["apt-get", "download", package], cwd=debs)
        deb = sorted(f for f in os.listdir(debs) if f.startswith(package + "_"))[-1]
        os.makedirs(root + ".part", exist_ok=True)
        run(["dpkg-deb", "-x", os.path.join(debs, deb), root + ".part"])
        os.rename(root + ".part", root)
    found = []
    for folder, _, files in os.walk(root):
        found += [os.path.join(folder, f) for f in files if os.path.join(folder, f).endswith(suffixes)]
    return sorted(found)


# Each source yields (piece, MIDI path, key signature 0-23 or -1, "accents" or "grid"), writing
# the MIDI file into the cache's midi folder.

def tunes(path):
    """(reference number, text) of each tune in an ABC file, with the file's header before it."""
    text = open(path, encoding="latin-1").read()
    blocks = re.split(r"\n\s*\n", text)
    header = "\n".join(b for b in blocks if not re.search(r"^X:", b, re.M) and b.startswith("%%"))
    for block in blocks:
        m = re.search(r"^X:\s*(\d+)", block, re.M)
        if m:
            yield int(m.group(1)), header + "\n\n" + block[m.start():] + "\n"


def abc_pieces(cache, midi):
    books = package_files(cache, "abcmidi", (".abc",)) + package_files(cache, "abcm2ps", (".abc",))
    for book in sorted(books, key=os.path.basename):
        stem = os.path.splitext(os.path.basename(book))[0]
        for number, text in tunes(book):
            piece = f"{stem}-{number}"
            fields = re.findall(r"^K:(.*)$", text, re.M)
            abc, mid = os.path.join(midi, piece + ".abc"), os.path.join(midi, piece + ".mid")
            open(abc, "w", encoding="latin-1").write(text)
            try:
                run(["abc2midi", abc, str(number), "-silent", "-o", mid])
            except (OSError, subprocess.CalledProcessError):
                continue
            yield piece, mid, signature_key(fields[0].split("%")[0]) if fields else -1, "accents"


def rosegarden_songs(program):
    """The example songs built into the rosegarden program: gzip streams of its XML."""
    data = open(program, "rb").read()
    for m in re.finditer(b"\x1f\x8b\x08", data):
        try:
            text = zlib.decompressobj(16 + zlib.MAX_WBITS).decompress(data[m.start():m.start() + (8 << 20)])
        except zlib.error:
            continue
        if b"<rosegarden-data" in text[:2000] and text.count(b'type="note"') >= MIN_NOTES:
            yield text


def rosegarden_notes(text):
    """(notes, tempos, signature, key signature) of a rosegarden song at 960 ticks a quarter,
    notes as write_midi takes them; audio segments and muted tracks left out."""
    root = ET.fromstring(text)
    composition = root.find("composition")
    programs, channels = {}, {}
    for instrument in root.iter("instrument"):
        if instrument.get("type") != "midi":
            continue
        bank, program = instrument.find("bank"), instrument.find("program")
        percussion = bank is not None and bank.get("percussion") == "true"
        channels[instrument.get("id")] = DRUMS if percussion else int(instrument.get("channel", "0")) % 16
        programs[instrument.get("id")] = int(program.get("id")) if program is not None else 0
    tracks = {t.get("id"): t for t in composition.findall("track")}
    tempos = []
    for tempo in composition.findall("tempo"):
        qpm = float(tempo.get("tempo")) / 1e5 if tempo.get("tempo") else float(tempo.get("bph")) / 60
        tempos.append((int(tempo.get("time")), round(60e6 / qpm)))
    if not tempos:
        tempos = [(0, round(60e6 / float(composition.get("defaultTempo", "120"))))]
    signature = composition.find("timesignature")
    signature = (int(signature.get("numerator")), int(signature.get("denominator"))) if signature is not None else (4, 4)
    end = int(composition.get("endMarker", "0"))
    segments = [s for s in root.findall("segment") if s.get("type", "internal") == "internal"
                and s.get("triggerid") is None and s.get("track") in tracks
                and tracks[s.get("track")].get("muted") != "true"]
    notes, keys = [], []
    for segment in segments:
        track = tracks[segment.get("track")]
        instrument = track.get("instrument")
        channel = channels.get(instrument, 0)
        start = int(segment.get("start"))
        shift = int(segment.get("transpose", "0"))
        delay = max(0, int(segment.get("delay", "0")))
        stop = int(segment.get("endmarker", str(1 << 40)))
        found, time = [], start
        # An event starts where the one before it ended unless it names its time; the events of
        # a chord start together and the shortest of its notes moves the time on.
        for group in segment:
            events = list(group) if group.tag == "chord" else [group]
            step = None
            for event in events:
                if event.tag != "event":
                    continue
                if event.get("absoluteTime") is not None:
                    time = int(event.get("absoluteTime"))
                duration = int(event.get("duration", "0"))
                kind = event.get("type")
                properties = {p.get("name"): p.get("int") or p.get("string") for p in event.findall("property")}
                if kind == "keychange" and time <= start:
                    m = re.match(r"([A-G][#b]?) (major|minor)", properties.get("key", ""))
                    if m:
                        keys.append(named_key(m.group(1), m.group(2)))
                if kind == "note" and "pitch" in properties:
                    found.append((time, duration, int(properties["pitch"]) + shift, int(properties.get("velocity") or 100)))
                if kind in ("note", "rest") and (step is None or 0 < duration < step):
                    step = duration
            time += step or 0
        segment_end = max([t + d for t, d, _, _ in found] + [start])
        # A repeating segment plays again until the track's next segment (or the song's end).
        repeat_until = segment_end
        if segment.get("repeat") == "true":
            later = [int(s.get("start")) for s in segments if s.get("track") == segment.get("track")
                     and int(s.get("start")) > start]
            repeat_until = min(later + [end])
        length = max(1, min(stop, segment_end) - start)
        offset = 0
        while start + offset < repeat_until:
            for t, d, pitch, velocity in found:
                if t < stop and start + offset + (t - start) < repeat_until and 0 <= pitch < 128:
                    notes.append((t + offset + delay, d, channel, programs.get(instrument, 0), pitch, max(1, min(127, velocity))))
            offset += length
            if segment.get("repeat") != "true":
                break
    key = max(set(keys), key=keys.count) if keys else -1
    return notes, tempos, signature, key


def rosegarden_pieces(cache, midi):
    for program in package_files(cache, "rosegarden", ("bin/rosegarden",)):
        seen = set()
        for text in rosegarden_songs(program):
            try:
                notes, tempos, signature, key = rosegarden_notes(text)
            except (ET.ParseError, ValueError, TypeError, AttributeError):
                continue
            title = re.search(rb'<property name="title" value="([^"]*)"', text)
            name = re.sub(r"[^A-Za-z0-9]+", "_", (title.group(1).decode("utf-8", "replace") if title else "")).strip("_")
            fingerprint = (len(notes), sum(p for _, _, _, _, p, _ in notes))
            if not notes or fingerprint in seen:  # some songs are built in twice
                continue
            seen.add(fingerprint)
            piece = f"rosegarden-{name[:32] or 'untitled'}-{len(seen)}"
            # Notes before the first bar (an upbeat) move a whole number of bars later.
            bar = 960 * 4 * signature[0] // signature[1]
            lead = -min(t for t, *_ in notes)
            lead = -(-lead // bar) * bar if lead > 0 else 0
            notes = [(t + lead, *rest) for t, *rest in notes]
            tempos = [(0 if t <= 0 else t + lead, us) for t, us in tempos]
            tempos = [tempo for i, tempo in enumerate(tempos) if i + 1 == len(tempos) or tempos[i + 1][0] > tempo[0]]
            mid = os.path.join(midi, piece + ".mid")
            write_midi(mid, 960, tempos, signature, notes)
            yield piece, mid, key, "grid"


LMMS_TICKS_PER_BAR = 192  # at 4/4, 48 a quarter
LMMS_DEFAULT_KEY = 57     # A4 in LMMS's numbering, MIDI 69
# Drum samples by name: the GM drum kit's note for each.
LMMS_DRUMS = [("kick|bassdrum|bd|kicker", 36), ("snare|sd", 38), ("clap", 39), ("rim", 37), ("open", 46),
              ("hat|hh", 42), ("crash|cymbal", 49), ("ride", 51), ("tom", 45), ("cow", 56), ("shake|maraca", 70),
              ("conga|cga|bongo", 63), ("", 39)]
# General MIDI sounds for synthesiser tracks, by the track's name, then by the synthesiser.
LMMS_SOUNDS = [("bass", 38), ("pad|string|choir|atmo", 89), ("piano|keys|rhodes", 4), ("organ", 16), ("pluck", 45),
               ("bell", 14), ("guitar|axe", 29), ("lead|arp|saw", 81)]
LMMS_SYNTH_SOUNDS = {"lb302": 38, "sid": 80, "bitinvader": 80, "papu": 80, "nes": 80}
LMMS_PITCHED = {"tripleoscillator", "zynaddsubfx", "lb302", "sid", "bitinvader", "papu", "nes", "organic", "monstro",
                "watsyn", "sf2player", "vibedstrings", "malletsstk", "opulenz", "freeboy"}
LMMS_DRUM_FOLDERS = ("drums/", "drumsynth/", "latin/")


def lmms_track_sound(track):
    """(channel kind, GM program or drum note, semitones) of an LMMS instrument track: 'drum' for
    percussion, 'pitched' for synthesisers, None for tracks whose pitch is unknown (other samples,
    sound effects) or that stack other intervals on every note."""
    it = track.find("instrumenttrack")
    if it is None or track.get("muted") == "1":
        return None
    instrument = it.find("instrument")
    plugin = instrument.get("name") if instrument is not None else ""
    name = (track.get("name") or "").lower()
    if plugin == "kicker":
        return "drum", 36, 0
    if plugin == "audiofileprocessor":
        source = (instrument.find("audiofileprocessor").get("src") or "").lower()
        if not source.startswith(LMMS_DRUM_FOLDERS):
            return None
        stem = os.path.basename(source)
        return "drum", next(note for pattern, note in LMMS_DRUMS if re.search(pattern, stem)), 0
    if plugin not in LMMS_PITCHED:
        return None
    for function, enabled, chord in (("chordcreator", "chord-enabled", "chord"), ("arpeggiator", "arp-enabled", "arp")):
        element = it.find(function)
        if element is not None and element.get(enabled) == "1" and element.get(chord) != "0":
            return None  # index 0 is the octave
    semitones = LMMS_DEFAULT_KEY - int(it.get("basenote", LMMS_DEFAULT_KEY))
    oscillators = instrument.find("tripleoscillator")
    if oscillators is not None:  # the loudest oscillator's pitch
        loudest = max(range(3), key=lambda i: float(oscillators.get(f"vol{i}", "0")))
        semitones += int(oscillators.get(f"coarse{loudest}", "0"))
    program = next((p for pattern, p in LMMS_SOUNDS if re.search(pattern, name)), LMMS_SYNTH_SOUNDS.get(plugin, 88))
    return "pitched", program, semitones


def lmms_pattern_notes(pattern):
    """(tick, ticks, key, volume) of a pattern's notes, from its start; step notes get a 16th."""
    return [(int(n.get("pos")), int(n.get("len")) if int(n.get("len")) > 0 else LMMS_TICKS_PER_BAR // 16,
             int(n.get("key")), int(n.get("vol", "100"))) for n in pattern.findall("note")]


def lmms_notes(text):
    """(notes, bpm, signature) of an LMMS project at 48 ticks a quarter, notes as write_midi takes
    them: song tracks' patterns and the beat/bassline patterns where the song places them."""
    root = ET.fromstring(text)
    head = root.find("head")
    bpm = float(head.get("bpm") or head.find("bpm").get("value"))
    signature = (int(head.get("timesig_numerator", "4")), int(head.get("timesig_denominator", "4")))
    if signature[1] not in (2, 4, 8):
        signature = (4, 4)  # the beat is a quarter
    master = int(float(head.get("masterpitch", "0")))
    song = root.find("song/trackcontainer")
    placed = []  # (track, pattern, start tick, until tick)
    bb_tracks = [t for t in song.findall("track") if t.get("type") == "1"]
    container = next((t.find("bbtrack/trackcontainer") for t in bb_tracks if t.find("bbtrack/trackcontainer") is not None), None)
    for track in song.findall("track"):
        if track.get("type") == "0":
            for pattern in track.findall("pattern"):
                if pattern.get("muted") != "1":
                    start = int(pattern.get("pos"))
                    placed.append((track, pattern, start, start + int(pattern.get("len", str(1 << 30)))))
    if container is not None:
        inner = [t for t in container.findall("track") if t.get("type") == "0"]
        for index, bb in enumerate(bb_tracks):
            patterns = [(t, p) for t in inner for p in t.findall("pattern") if int(p.get("pos")) // LMMS_TICKS_PER_BAR == index]
            if not patterns:
                continue
            ends = [max([tick + length for tick, length, _, _ in lmms_pattern_notes(p)] + [int(p.get("steps", "16")) * 12])
                    for _, p in patterns]
            loop = -(-max(ends) // LMMS_TICKS_PER_BAR) * LMMS_TICKS_PER_BAR
            for clip in bb.findall("bbtco"):
                if clip.get("muted") == "1":
                    continue
                start, until = int(clip.get("pos")), int(clip.get("pos")) + int(clip.get("len"))
                for repeat in range(start, until, loop):
                    placed += [(t, p, repeat, until) for t, p in patterns if p.get("muted") != "1"]
    sounds, channels, notes = {}, {}, []
    for track, pattern, start, until in placed:
        if id(track) not in sounds:
            sounds[id(track)] = lmms_track_sound(track)
        sound = sounds[id(track)]
        if sound is None:
            continue
        kind, program, semitones = sound
        if kind == "drum":
            channel = DRUMS
        else:
            channel = channels.setdefault(id(track), len(channels) % 15)
            channel += channel >= DRUMS
        track_volume = float(track.find("instrumenttrack").get("vol", "100")) / 100
        for tick, length, key, volume in lmms_pattern_notes(pattern):
            if start + tick >= until:
                continue
            pitch = program if kind == "drum" else key + 12 + semitones + master
            velocity = round(min(127, max(1, 100 * volume / 100 * min(track_volume, 1.5))))
            if 0 <= pitch < 128:
                notes.append((start + tick, min(length, until - start - tick), channel, 0 if kind == "drum" else program,
                              pitch, velocity))
    return notes, bpm, signature


def lmms_pieces(cache, midi):
    for project in package_files(cache, "lmms-common", (".mmpz", ".mmp")):
        if "/projects/" not in project or "/templates/" in project or "/tutorials/" in project:
            continue
        data = open(project, "rb").read()
        text = zlib.decompress(data[4:]) if project.endswith(".mmpz") else data
        try:
            notes, bpm, signature = lmms_notes(text)
        except (ET.ParseError, ValueError, TypeError, AttributeError, StopIteration):
            continue
        if not notes:
            continue
        name = re.sub(r"[^A-Za-z0-9]+", "_", os.path.splitext(os.path.basename(project))[0]).strip("_")
        piece = f"lmms-{name}"
        mid = os.path.join(midi, piece + ".mid")
        write_midi(mid, LMMS_TICKS_PER_BAR // 4, [(0, round(60e6 / bpm))], signature, notes)
        yield piece, mid, -1, "grid"


MIDI_PACKAGES = ["kobodeluxe-data", "liquidwar-data", "solfege"]


def midi_pieces(cache, midi):
    for package in MIDI_PACKAGES:
        for path in package_files(cache, package, (".mid", ".midi")):
            name = re.sub(r"[^A-Za-z0-9]+", "_", os.path.splitext(os.path.basename(path))[0])
            yield f"{package}-{name}", path, -1, "grid"


SOURCES = [abc_pieces, rosegarden_pieces, lmms_pieces, midi_pieces]


def usable_pieces(cache):
    """(piece, MIDI path, key, signed, bpm, first beat, seconds, held out) of every piece whose
    notes name a clear key."""
    midi = os.path.join(cache, "midi")
    os.makedirs(midi, exist_ok=True)
    found = []
    for source in SOURCES:
        index = 0
        for piece, mid, signed, beat_kind in source(cache, midi):
            try:
                notes, tempos, signatures, _, file_key = read_midi(mid)
            except (OSError, ValueError, IndexError):
                continue
            if len(notes) < MIN_NOTES:
                continue
            length = max(t + d for t, d, _, _ in notes)
            if length < MIN_SECONDS:
                continue
            hist = [0.0] * 12
            for t, d, pitch, _ in notes:
                if t < SECONDS:
                    hist[pitch % 12] += min(d, SECONDS - t)
            score, key = notes_key(hist)
            if score < MIN_KEY_CORRELATION:
                continue
            signed = signed if signed >= 0 else file_key
            beat = (accented_beat if beat_kind == "accents" else grid_beat)(notes, tempos, signatures)
            bpm, first = beat or (0.0, 0.0)
            found.append((piece, mid, key, int(signed == key), bpm, first, length, index % 2 == 1))
            index += 1
    return found


def render(mid, wav, soundfont, gain, speed, seconds):
    """One variant of a piece: its first `seconds` (after the speed change) rendered by fluidsynth,
    played `speed` times faster, at a peak of `gain` dB."""
    raw, cut = wav + ".raw.wav", wav + ".mid"
    cut_midi(mid, cut, seconds * speed + 1.0)
    run(["fluidsynth", "-ni", "-q", "-g", "0.6", "-r", "44100", "-F", raw, soundfont, cut])
    # Without dither (sox's default is random) a piece renders the same every time.
    run(["sox", "-D", raw, "-b", "16", wav + ".part.wav", "gain", "-6", "speed", f"{speed:.6f}", "rate", "44100",
         "trim", "0", str(seconds), "gain", "-n", str(gain - 1.0)])
    os.remove(raw)
    os.remove(cut)
    os.rename(wav + ".part.wav", wav)


def main():
    cache = os.path.abspath(sys.argv[1])
    only_held_out = "--held-out-only" in sys.argv
    chosen = sys.argv[sys.argv.index("--variants") + 1] if "--variants" in sys.argv else "0,1,2,3"
    chosen = {int(v) for v in chosen.split(",")}
    rows, renders = [], []
    for piece, mid, key, signed, bpm, first, length, held_out in usable_pieces(cache):
        if only_held_out and not held_out:
            continue
        # Each soundfont at two of the levels and tunings. The tuning plays the whole render
        # faster or slower (sox's speed), so the beat moves with it.
        for variant, soundfont in enumerate(sf for sf in SOUNDFONTS for _ in range(2)):
            if variant not in chosen:
                continue
            gain, cents = VARIANTS[variant]
            speed = 2 ** (cents / 1200)
            wav = os.path.join(cache, f"{piece}-{variant}.wav")
            if not os.path.exists(wav):
                renders.append((mid, wav, soundfont, gain, speed, min(SECONDS, length / speed + 1.0)))
            rows.append([wav, piece, key, signed, f"{bpm * speed:.4f}", f"{first / speed:.4f}", os.path.basename(soundfont),
                         gain, cents, int(held_out)])
    with ThreadPoolExecutor(max(1, min(4, os.cpu_count() or 1))) as pool:
        list(pool.map(lambda job: render(*job), renders))
    with open(os.path.join(cache, "manifest.tsv"), "w") as out:
        for row in rows:
            out.write("\t".join(str(v) for v in row) + "\n")
    print(f"{len(rows)} files of {len(set(r[1] for r in rows))} pieces in {cache}/manifest.tsv", file=sys.stderr)


if __name__ == "__main__":
    main()
