#!/usr/bin/env bash
# veldmix-tool import itunes|serato|traktor|virtualdj over collections written from the public
# format descriptions (plistlib, mutagen GEOB frames, struct-built Serato files, NML and VirtualDJ
# XML with real exports' quirks) naming files ffmpeg made in folders with spaces and accents:
# database.tsv and the list files hold the imported values; a second import adds nothing; failed
# and hostile imports print the error, exit 1 and leave every data-folder file byte-identical.
# Cost: 25
set -u
tool="${VELDMIX_BUILD:?VELDMIX_BUILD must name the build folder}/veldmix-tool"
support="$(cd "$(dirname "$0")/.." && pwd)/support"
work=$(mktemp -d /tmp/veldmix-e2e-import-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
cd "$work" || exit 1
export HOME="$work/home" LANG=C.UTF-8
unset XDG_DATA_HOME XDG_STATE_HOME XDG_CONFIG_HOME XDG_MUSIC_DIR
mkdir -p "$HOME"
data="$HOME/.local/share/Veldmix"
music="$HOME/Mü sic/Sets é"
py=/usr/bin/python3

# One row of database.tsv checked column by column: row PATH 'python condition over c[...]'.
row() {
  $py - "$data/database.tsv" "$1" "$2" <<'PY'
import sys
db, path, cond = sys.argv[1:4]
rows = [l.rstrip("\n").split("\t") for l in open(db, encoding="utf-8")]
c = next((r for r in rows if r[0] == path), None)
if c is None:
    sys.exit(f"no row for {path}")
if not eval(cond):
    sys.exit(f"{path}: {cond} fails on {c}")
PY
}
snapshot() { (cd "$data" && find . -type f | sort | xargs -d '\n' sha256sum) 2>/dev/null; }
import_ok() {  # import_ok SOURCE PATH: exit 0 and the merge's report
  "$tool" import "$1" "$2" >out.txt 2>err.txt; local rc=$?
  check "import $1 exits 0 (got $rc: $(cat out.txt err.txt))" '[ $rc -eq 0 ]'
}
import_fails() {  # import_fails SOURCE PATH TEXT: exit 1, the text, nothing in the data folder changed
  local before want="$3"; before=$(snapshot)
  "$tool" import "$1" "$2" >out.txt 2>err.txt; local rc=$?
  check "import $1 $2 exits 1 (got $rc)" '[ $rc -eq 1 ]'
  check "import $1 $2 says '$want' (said: $(cat err.txt))" 'grep -qxF -- "$want" err.txt'
  check "import $1 $2 leaves the data folder as it was" '[ "$before" = "$(snapshot)" ]'
}
reimport_same() {  # a second import of the same collection changes no record
  cp "$data/database.tsv" before.tsv
  import_ok "$1" "$2"
  check "a second $1 import adds no cue" 'cmp -s before.tsv "$data/database.tsv"'
}

# --- Serato: crates and database V2 on the system volume, GEOB tags in v2.3 and v2.4 ---
$py "$support/make_serato_library.py" "$HOME/Music/_Serato_" "$music" / || exit 1
import_ok serato "$HOME/Music/_Serato_"
a="$music/Ünïcode Ä b.mp3"
check "Serato cues, loops, colour and grid" "row '$a' 'abs(float(c[1]) - 32*60/15.48) < 1e-3 and c[2] == \"0.20000\" and \
c[7:11] == [\"1.50000\", \"4.00000\", \"90.50000\", \"10.00000\"] and c[19] == \"8.00000\" and c[21] == \"12.00000\" and \
c[26:30] == [\"1\", \"-1\", \"11\", \"-1\"] and c[35] == \"Drop ü\" and c[36] == \"Loop ä\" and c[34] == \"1\" and \
c[44] == \"2\" and c[46] == \"32.000:15.68000;2080.000:\" + format(15.68 + 122880/124, \".5f\")'"
check "Serato v2.3 grid without markers, grey colour unset" \
  "row '$music/b tráck.mp3' 'c[1] == \"124.0000\" and c[12] == \"64.00000\" and c[31] == \"4\" and c[44] == \"0\" and c[46] == \"\"'"
check "Serato FLAC kept without tempo" "row '$music/c.flac' 'c[1] == \"0.0000\" and c[34] == \"0\"'"
check "Serato crate list, '/' made '-'" '[ -f "$data/Lists/Serato · House - Deep.m3u8" ]'
check "no list of missing files or x.CRATE" '! ls "$data/Lists" | grep -qe "Only Missing" -e Upper'
check "missing files stay out" '! grep -q "missing.mp3\|gone.mp3" "$data/database.tsv"'
reimport_same serato "$HOME/Music/_Serato_"

# --- iTunes / Music: plistlib with Apple's DOCTYPE ---
mkdir -p it && $py "$support/make_dj_collections.py" itunes it "$music" || exit 1
import_ok itunes it/Library.xml
check "iTunes rating 60 is 3 stars" "row '$music/a b é.mp3' 'c[15] == \"3\"'"
check "iTunes rating 59 is 2 stars" "row '$music/c.mp3' 'c[15] == \"2\"'"
check "iTunes lists: Friday-Late, Shown, unnamed; no special, hidden or empty list" \
  '[ "$(ls "$data/Lists" | grep "^iTunes · " | sort | tr "\n" "|")" = "iTunes · Friday-Late.m3u8|iTunes · Shown.m3u8|iTunes · iTunes playlist.m3u8|" ]'
reimport_same itunes it/Library.xml

# --- Traktor NML ---
mkdir -p nml && $py "$support/make_dj_collections.py" traktor nml "$music" || exit 1
import_ok traktor nml/collection.nml
check "Traktor tempo with grid, MUSICAL_KEY over INFO KEY, loop on hot cue 3, load marker as cue" \
  "row '$music/a b é.mp3' 'c[1] == \"126.0000\" and c[2] == \"0.10050\" and c[3] == \"21\" and c[9] == \"61.00000\" and \
c[20] == \"65.00000\" and c[8] == \"2.00000\" and c[36] == \"Drop\" and c[43] == \"3.00000;5.00000;9.00000\" and c[44] == \"7\"'"
check "Traktor list A / B / Peak/Time" '[ -f "$data/Lists/Traktor · A - B - Peak-Time.m3u8" ]'
check "no smart list" '! ls "$data/Lists" | grep -q "Smart"'
reimport_same traktor nml/collection.nml

# --- VirtualDJ: database.xml with Playlists and MyLists ---
mkdir -p vdj && $py "$support/make_dj_collections.py" virtualdj vdj "$music" || exit 1
import_ok virtualdj vdj/database.xml
check "VirtualDJ Scan tempo with grid, a hot cue without Type into a free slot, Tags key" \
  "row '$music/a b é.mp3' 'c[1] == \"128.0000\" and c[2] == \"0.20000\" and c[3] == \"21\" and c[7] == \"1.25000\" and \
c[35] == \"Intro\" and c[9] == \"61.00000\" and c[43] == \"3.00000;5.00000;9.00000;12.00000;40.00000\"'"
check "VirtualDJ tempo without grid is none; Scan key" "row '$music/ü track.flac' 'c[1] == \"0.0000\" and c[3] == \"7\"'"
check "VirtualDJ lists" '[ -f "$data/Lists/VDJ · House - Deep.m3u8" ] && [ -f "$data/Lists/VDJ · Sets - Friday.m3u8" ]'
reimport_same virtualdj vdj/database.xml

# --- Failures and hostile files: exact texts, nothing changed ---
import_fails serato "$work" "That isn't a Serato library — choose the _Serato_ folder (usually in your Music folder)"
printf '<plist><array/></plist>' >bad.xml
import_fails itunes bad.xml "That doesn't look like an iTunes / Music library file"
mkfifo fifo.nml
import_fails traktor fifo.nml "Couldn't read that XML file"
printf '<?xml version="1.0"?><!DOCTYPE V [<!ENTITY a "aaaaaaaaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;"><!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;"><!ENTITY d "&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;">]><VirtualDJ_Database><Song FilePath="&d;&d;&d;&d;"/></VirtualDJ_Database>' >bomb.xml
import_fails virtualdj bomb.xml "No tracks from that VirtualDJ database were found on this computer"
mkdir -p trunc/_Serato_ && head -c 150 "$HOME/Music/_Serato_/database V2" >"trunc/_Serato_/database V2"
printf 'otrk\xff\xff\xff\xf8' >>"trunc/_Serato_/database V2"
import_fails serato trunc/_Serato_ "No tracks from that Serato library were found on this computer"

exit $fail
