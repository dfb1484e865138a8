#!/usr/bin/env bash
# veldmix-tool import rekordbox / export-rekordbox on a music folder with spaces and accents
# (MP3, FLAC, WAV, M4A made by ffmpeg): the merged records and lists hold the file's grids, keys,
# ratings, colours and cues; a second import adds no cues; hostile files fail with the exact text
# in bounded time and memory and leave the data folder byte-identical; the export passes xmllint
# and Python's xml.etree checks and imports back to the same grid, key and cues. Then, under a
# private display, each source's chooser opens as a real zenity window with its title (Serato's
# in ~/Music/_Serato_) and cancelling it starts nothing.
# Cost: 37
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix-tool ffmpeg xmllint python3 Xvfb xdpyinfo xdotool zenity
private_home
music="$HOME/Music/Deep Ones é"
data="$HOME/.local/share/Veldmix"
mkdir -p "$music" "$data/Lists"
support="$source_dir/tests/support"

for f in "One é.mp3" "Two b.flac" "Three c.wav" "Four d.m4a"; do
  ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=45" -metadata title="T ${f%.*}" \
    -metadata artist="Ärtist & Co" "$music/$f" || fail "ffmpeg could not make $f"
done
python3 "$support/make_rekordbox_xml.py" "$work/rekordbox.xml" "$music" || fail "no rekordbox XML"

# --- 1. Import and merge ---
"$tool" import rekordbox "$work/rekordbox.xml" >"$work/import.out" 2>"$work/import.err" ||
  fail "the import failed: $(cat "$work/import.out" "$work/import.err")"
[ "$(cat "$work/import.out")" = "Imported 4 tracks and 2 playlists" ] || fail "import said: $(cat "$work/import.out")"

python3 - "$data/database.tsv" "$music" <<'PY' || fail "the merged records differ (above)"
import sys
db, music = sys.argv[1], sys.argv[2]
rows = {r[0]: r for r in (l.rstrip("\n").split("\t") for l in open(db, encoding="utf-8"))}
bad = []
def check(name, what, got, want):
    if isinstance(want, float):
        ok = abs(float(got) - want) < 1e-3
    else:
        ok = got == want
    if not ok:
        bad.append(f"{name} {what}: {got!r}, wanted {want!r}")
def markers(text):
    return [tuple(float(x) for x in m.split(":")) for m in text.split(";") if m]
def near(a, b):
    return len(a) == len(b) and all(abs(x - y) < 1e-3 for p, q in zip(a, b) for x, y in zip(p, q))
one, two, three, four = (rows.get(f"{music}/{n}") for n in ("One é.mp3", "Two b.flac", "Three c.wav", "Four d.m4a"))
if None in (one, two, three, four) or len(rows) != 4:
    sys.exit(f"records: {sorted(rows)}")
# path bpm firstBeat key loudness analyzed cue hot1-8 rating plays last end1-8 colour1-8 grid name1-8 memory colour tags markers
check("one", "bpm", one[1], 128.0); check("one", "first beat", one[2], 0.12); check("one", "key", one[3], "21")
check("one", "cue", one[6], 0.12); check("one", "hot 1", one[7], 16.12); check("one", "hot 4", one[10], 20.0)
check("one", "hot 4 end", one[21], 22.5); check("one", "rating", one[15], "4")
check("one", "hot colours", one[26:34], ["11", "-1", "-1", "6", "-1", "-1", "-1", "-1"])
check("one", "names", one[35:43], ["Drop", "", "", "Loop & roll", "", "", "", ""])
check("one", "grid imported", one[34], "1"); check("one", "memory", one[43], "0.12000;64.50000")
check("one", "colour", one[44], "2")
if not near(markers(one[46]), [(64, 30.12), (2112, 30.12 + 122880 / 130)]):
    bad.append(f"one markers {one[46]}")
check("two", "bpm", two[1], 122.5); check("two", "key", two[3], "18"); check("two", "rating", two[15], "1")
check("two", "hot 8", two[14], 8.25); check("two", "hot 8 colour", two[33], "9"); check("two", "name", two[42], "Vox")
check("three", "bpm (no grid)", three[1], 0.0); check("three", "key", three[3], "1"); check("three", "grid", three[34], "0")
check("four", "bpm", four[1], 100.0); check("four", "rating", four[15], "5"); check("four", "key", four[3], "0")
check("four", "colour", four[44], "7")
if not near(markers(four[46]), [(66, 39.6), (2114, 39.6 + 1228.8)]):
    bad.append(f"four markers {four[46]}")
print("\n".join(bad))
sys.exit(1 if bad else 0)
PY
deep="$data/Lists/RB · House - Deep-Late.m3u8"
[ -f "$deep" ] || fail "no list RB · House - Deep-Late: $(ls "$data/Lists")"
[ "$(grep -v '^#' "$deep")" = "$(printf '%s\n' "$music/Two b.flac" "$music/One é.mp3" "$music/Two b.flac")" ] ||
  fail "the nested list holds: $(cat "$deep")"
[ "$(grep -v '^#' "$data/Lists/RB · By place.m3u8")" = "$music/Four d.m4a" ] || fail "the list by location is wrong"

cp "$data/database.tsv" "$work/first.tsv"
"$tool" import rekordbox "$work/rekordbox.xml" >/dev/null 2>&1 || fail "the second import failed"
cmp -s "$data/database.tsv" "$work/first.tsv" || fail "a second import changed the records: $(diff "$work/first.tsv" "$data/database.tsv")"
[ "$(ls "$data/Lists" | wc -l)" = 2 ] || fail "a second import made more lists: $(ls "$data/Lists")"

# --- 2. Hostile and broken files: exact texts, bounded time and memory, nothing changed ---
snapshot() { (cd "$data" && find . -type f -print0 | sort -z | xargs -0 sha256sum); }
snapshot >"$work/before.sum"
hostile="$work/hostile"
mkdir -p "$hostile"
python3 - "$hostile" <<'PY'
import os, sys
d = sys.argv[1]
bomb = '<?xml version="1.0"?>\n<!DOCTYPE DJ_PLAYLISTS [\n<!ENTITY a "aaaaaaaaaaaaaaaaaaaa">\n'
for i in range(1, 12):
    bomb += f'<!ENTITY {chr(97 + i)} "' + f"&{chr(96 + i)};" * 10 + '">\n'
bomb += ']>\n<DJ_PLAYLISTS><COLLECTION><TRACK TrackID="&l;" Location="file:///&l;"/></COLLECTION></DJ_PLAYLISTS>\n'
open(f"{d}/bomb.xml", "w").write(bomb)
open(f"{d}/cut.xml", "w").write('<?xml version="1.0"?>\n<DJ_PLAYLISTS><COLLECTION><TRACK TrackID="1" Loc')
nums = ['<TRACK TrackID="1" AverageBpm="1e999" Location="file:///nowhere%00/x.mp3">']
nums += [f'<POSITION_MARK Start="{s}" Num="{n}"/>' for s, n in (("nan", 0), ("1e400", 1), ("-5", 99999999999999999999), ("5", -99999999999999999999))]
nums += ['<TEMPO Inizio="inf" Bpm="nan"/></TRACK>']
open(f"{d}/numbers.xml", "w").write("<DJ_PLAYLISTS><COLLECTION>" + "".join(nums) + "</COLLECTION></DJ_PLAYLISTS>")
deep = '<DJ_PLAYLISTS><COLLECTION/><PLAYLISTS><NODE Type="0" Name="ROOT">' + '<NODE Type="0" Name="f">' * 300000
open(f"{d}/deep.xml", "w").write(deep + "</NODE>" * 300001 + "</PLAYLISTS></DJ_PLAYLISTS>")
os.mkfifo(f"{d}/fifo.xml")
with open(f"{d}/huge.xml", "wb") as f:
    f.truncate(3 << 30)  # sparse: past the size cap
os.mkdir(f"{d}/folder.xml")
PY
no_tracks="No tracks from that collection were found on this computer"
unreadable="Couldn't read that XML file"
for case in "bomb.xml|$no_tracks" "cut.xml|$unreadable" "numbers.xml|$no_tracks" "deep.xml|$no_tracks" \
  "fifo.xml|$unreadable" "huge.xml|$unreadable" "folder.xml|$unreadable" "missing.xml|$unreadable"; do
  file=${case%%|*} want=${case#*|}
  start=$(date +%s)
  # 1.5 GB of address space: the tool's own libraries need a few hundred MB.
  (ulimit -v 1500000; timeout 30 "$tool" import rekordbox "$hostile/$file") >"$work/h.out" 2>"$work/h.err"
  rc=$?
  [ $rc = 1 ] || fail "$file: exit $rc, not 1: $(cat "$work/h.out" "$work/h.err")"
  [ "$(cat "$work/h.err")" = "$want" ] || fail "$file said: $(cat "$work/h.out" "$work/h.err")"
  [ $(($(date +%s) - start)) -lt 20 ] || fail "$file took too long"
done
snapshot | cmp -s - "$work/before.sum" || fail "a failed import changed the data folder"

# --- 3. Export: the whole library and one list ---
printf '#EXTM3U\n%s\n' "$music/Three c.wav" >"$data/Lists/Automix.m3u8"
"$tool" export-rekordbox "$work/all.xml" >"$work/export.out" 2>&1 || fail "the export failed: $(cat "$work/export.out")"
[ "$(cat "$work/export.out")" = "Exported 4 tracks to all.xml" ] || fail "export said: $(cat "$work/export.out")"
"$tool" export-rekordbox "$work/one list.xml" --list "RB · House - Deep-Late" >"$work/export1.out" 2>&1 ||
  fail "the list export failed: $(cat "$work/export1.out")"
[ "$(cat "$work/export1.out")" = "Exported 2 tracks to one list.xml" ] || fail "list export said: $(cat "$work/export1.out")"
for x in "$work/all.xml" "$work/one list.xml"; do
  xmllint --noout "$x" || fail "xmllint rejects $x"
  python3 - "$x" <<'PY' || fail "xml.etree finds fault with $x (above)"
import os, re, sys, urllib.parse
import xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
coll = root.find("COLLECTION")
tracks = coll.findall("TRACK")
bad = []
if int(coll.get("Entries")) != len(tracks): bad.append("Entries is not the TRACK count")
ids = [t.get("TrackID") for t in tracks]
if len(set(ids)) != len(ids): bad.append("TrackIDs repeat")
three = re.compile(r"^-?\d+\.\d{3}$")
for t in tracks:
    loc = t.get("Location")
    path = urllib.parse.unquote(loc[len("file://localhost"):])
    if not loc.startswith("file://localhost/") or not os.path.isfile(path): bad.append(f"Location {loc}")
    if int(t.get("Rating")) % 51 or not 0 <= int(t.get("Rating")) <= 255: bad.append(f"Rating {t.get('Rating')}")
    for tempo in t.findall("TEMPO"):
        if not three.match(tempo.get("Inizio")): bad.append(f"Inizio {tempo.get('Inizio')}")
        elif float(tempo.get("Inizio")) > int(t.get("TotalTime")):
            bad.append(f"TEMPO at {tempo.get('Inizio')} s past the end of a {t.get('TotalTime')} s track")
        if tempo.get("Battito") not in ("1", "2", "3", "4"): bad.append(f"Battito {tempo.get('Battito')}")
    for mark in t.findall("POSITION_MARK"):
        for a in ("Start", "End"):
            if mark.get(a) is not None and not three.match(mark.get(a)): bad.append(f"{a} {mark.get(a)}")
names = [n.get("Name") for n in root.iter("NODE") if n.get("Type") == "1"]
if "Automix" in names: bad.append("the Automix list was exported")
for n in root.iter("NODE"):
    if n.get("Type") == "1":
        for k in n.findall("TRACK"):
            if k.get("Key") not in ids: bad.append(f"playlist key {k.get('Key')}")
battito = [t.get("Battito") for t in root.iter("TEMPO")]
print("\n".join(bad))
sys.exit(1 if bad else 0)
PY
done
grep -q 'Battito="3"' "$work/all.xml" || fail "no beat past the bar's first was written as one"
grep -q '"Automix"' "$work/all.xml" && fail "Automix was exported"

# A failed write keeps the last good file.
cp "$work/all.xml" "$work/good.xml"
[ "$(stat -c %s "$work/all.xml")" -gt 1024 ] || fail "the export is too small to run out of room"
( trap '' XFSZ; ulimit -f 1; "$tool" export-rekordbox "$work/all.xml" ) >"$work/fail.out" 2>&1 &&
  fail "an export that ran out of room succeeded"
[ "$(cat "$work/fail.out")" = "Couldn't write that file" ] || fail "a failed export said: $(cat "$work/fail.out")"
cmp -s "$work/all.xml" "$work/good.xml" || fail "a failed export damaged the last good file"
[ -z "$(ls -A "$work" | grep veldmix-tmp)" ] || fail "a failed export left its temporary file"

# --- 4. The export imports back to the same tempo, grid, key and cues ---
first_home=$HOME
export HOME="$work/home2"
mkdir -p "$HOME"
"$tool" import rekordbox "$work/all.xml" >"$work/back.out" 2>&1 || fail "re-import failed: $(cat "$work/back.out")"
python3 - "$work/first.tsv" "$HOME/.local/share/Veldmix/database.tsv" <<'PY' || fail "the round trip changed records (above)"
import sys
def load(p):
    return {r[0]: r for r in (l.rstrip("\n").split("\t") for l in open(p, encoding="utf-8"))}
a, b = load(sys.argv[1]), load(sys.argv[2])
bad = []
if a.keys() != b.keys(): bad.append(f"paths {sorted(a)} / {sorted(b)}")
def markers(t):
    return [tuple(float(x) for x in m.split(":")) for m in t.split(";") if m]
for k in a.keys() & b.keys():
    x, y = a[k], b[k]
    # bpm, first beat, key, cue, hot cues (start, end, colour, name), memory cues, colour, rating
    for i in [1, 2, 3, 6, 15, 44] + list(range(7, 15)) + list(range(18, 43)):
        same = abs(float(x[i]) - float(y[i])) < 2e-3 if i in (1, 2, 6) or 7 <= i <= 14 or 18 <= i <= 25 else x[i] == y[i]
        if not same: bad.append(f"{k} column {i}: {x[i]} / {y[i]}")
    if [round(float(v), 3) for v in x[43].split(";") if v] != [round(float(v), 3) for v in y[43].split(";") if v]:
        bad.append(f"{k} memory cues {x[43]} / {y[43]}")
    # The grid: the original markers again, closed as before.
    mx, my = markers(x[46]), markers(y[46])
    if len(my) != len(mx) or any(abs(p - q) > 2e-3 for u, v in zip(mx, my) for p, q in zip(u, v)):
        bad.append(f"{k} markers {x[46]} / {y[46]}")
print("\n".join(bad))
sys.exit(1 if bad else 0)
PY
export HOME=$first_home

# --- 5. The choosers: real zenity windows under a private display; cancel starts nothing ---
# An Escape whose release is lost with the closing dialog would repeat into every later one: no
# key repeats within a minute.
start_private_display "$work/xvfb.log" -screen 0 1280x800x24 -ardelay 60000 ||
  fail "no virtual display could be started"
mkdir -p "$HOME/Music/_Serato_"
snapshot >"$work/before.sum"
titles=("Choose your rekordbox.xml (in rekordbox: File ▸ Export Collection in xml format)"
  "Choose your iTunes / Music “Library.xml” (File ▸ Library ▸ Export Library)"
  "Choose your _Serato_ folder"
  "Choose Traktor's collection.nml (Documents ▸ Native Instruments ▸ Traktor …)"
  "Choose VirtualDJ's database.xml (Documents ▸ VirtualDJ)")
sources=(rekordbox itunes serato traktor virtualdj)
for i in 0 1 2 3 4; do
  # A dialog that ends as it opens is started again; its arguments are read while it runs.
  wid=""
  for _ in 1 2 3; do
    "$tool" import "${sources[$i]}" >"$work/chooser.out" 2>&1 &
    chooser=$!
    zargs=""
    for _ in $(seq 1 300); do  # GTK starts slowly on a loaded machine
      if [ -z "$zargs" ] && zpid=$(pgrep -x -P "$chooser" zenity); then
        zargs=$(tr '\0' '\n' <"/proc/$zpid/cmdline" 2>/dev/null || true)
      fi
      wid=$(xdotool search --name "^$(printf '%s' "${titles[$i]}" | sed 's/[][().*^$|?+\\]/\\&/g')\$" 2>/dev/null | head -n 1)
      [ -n "$wid" ] && break
      kill -0 "$chooser" 2>/dev/null || break
      sleep 0.1
    done
    sleep 0.3
    [ -n "$wid" ] && kill -0 "$chooser" 2>/dev/null && break
    wid=""
    wait "$chooser" 2>/dev/null || true
  done
  [ -n "$wid" ] || fail "no chooser titled \"${titles[$i]}\" stayed open ($(cat "$work/chooser.out"))"
  if [ "${sources[$i]}" = serato ]; then
    grep -qx -- "--filename=$HOME/Music/_Serato_/" <<<"$zargs" ||
      fail "the Serato picker does not start in ~/Music/_Serato_: $(tr '\n' ' ' <<<"$zargs")"
    grep -qx -- "--directory" <<<"$zargs" || fail "the Serato chooser is no folder picker"
  fi
  # A dialog still drawing itself may miss a key: press Escape until it is gone.
  for _ in $(seq 1 10); do
    xdotool windowfocus --sync "$wid" 2>/dev/null
    xdotool key --window "$wid" Escape 2>/dev/null
    wait_for 1 bash -c "! kill -0 $chooser 2>/dev/null" && break
  done
  kill -0 "$chooser" 2>/dev/null && fail "cancelling ${sources[$i]}'s chooser did not end it"
  wait "$chooser"
  rc=$?
  [ $rc = 1 ] && grep -q "no import started" "$work/chooser.out" || fail "a cancelled ${sources[$i]} chooser: exit $rc, $(cat "$work/chooser.out")"
done
snapshot | cmp -s - "$work/before.sum" || fail "a cancelled chooser changed the data folder"

echo "rekordbox_exchange: PASS"
