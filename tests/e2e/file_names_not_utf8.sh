#!/usr/bin/env bash
# File names that are not UTF-8 (Latin-1 "caf\xe9.mp3", stray bytes "bad\xff\xfe.flac") in a
# music folder whose own name is Latin-1, beside the UTF-8 twin "café.mp3", all made by ffmpeg:
# scanned (the bad bytes shown as U+FFFD, the path printed as its bytes), analysed, decoded,
# played into a recording whose name is Latin-1 too, tagged (read back by ffprobe), analysed and
# saved in the library, read back on the next start, ordered into a list, shown in a crate,
# exported for rekordbox (percent-encoded) and imported back: every path byte for byte. Then the
# real program under a virtual display: started with the Latin-1 file, handed the other one by a
# second start, it loads both, shows the folder's rows, and saves the session and the music folder
# to settings.ini as their bytes.
# Cost: 60
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix veldmix-tool ffmpeg ffprobe sox xmllint python3 Xvfb xdpyinfo xwininfo import
private_home
data="$HOME/.local/share/Veldmix"
music="$work/$(printf 'M\xfcsik')"
latin="$music/$(printf 'caf\xe9.mp3')"
stray="$music/$(printf 'bad\xff\xfe.flac')"
twin="$music/café.mp3"
mkdir -p "$music" "$data/Lists"
ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=20" -metadata title=Latin "$latin" &&
  ffmpeg -loglevel error -f lavfi -i "sine=frequency=660:duration=20" -metadata title=Twin "$twin" &&
  ffmpeg -loglevel error -f lavfi -i "sine=frequency=550:duration=20" "$stray" || fail "ffmpeg could not make the files"
printf '[Tour]\nDone=1\n[Library]\nCount=1\nSelected=0\nFolder0=%s\n' "$music" >"$settings"

# same_paths FILE COL PATH...: the tab-separated column COL of the file's rows holds exactly these
# byte strings, in any order.
same_paths() {
  python3 - "$@" <<'PY'
import os, sys
file, col, want = sys.argv[1], int(sys.argv[2]), sorted(os.fsencode(p) for p in sys.argv[3:])
rows = [l.split(b"\t") for l in open(file, "rb").read().split(b"\n") if l]
got = sorted(r[col] for r in rows if len(r) > col and r[col][:1] == b"/")  # not the status line
sys.exit(0 if got == want else f"got {got}, wanted {want}")
PY
}

# --- Scan: three rows, the paths as their bytes, bad bytes shown as U+FFFD ---
"$tool" scan "$music" >"$work/scan.txt" 2>"$work/err.txt" || fail "scan failed: $(cat "$work/err.txt")"
same_paths "$work/scan.txt" 6 "$latin" "$twin" "$stray" || fail "the scan's paths differ (above)"
grep -qP "\tbad\x{FFFD}\x{FFFD}\t\t\t" "$work/scan.txt" || fail "the untagged file's title: $(cut -f4 "$work/scan.txt")"
python3 -c 'import sys; open(sys.argv[1], "rb").read().decode("utf-8")' "$work/scan.txt" 2>/dev/null &&
  fail "the scan printed no raw path bytes"
grep -q "not UTF-8" "$log" 2>/dev/null && fail "the scan still skips names: $(grep "not UTF-8" "$log")"

# --- Analyse, decode and play, each naming the file by its bytes ---
"$tool" analyse "$latin" >"$work/analyse.txt" 2>"$work/err.txt" || fail "analyse failed: $(cat "$work/err.txt")"
grep -qE "^frames: 88[0-9]{4} at 44100 Hz$" "$work/analyse.txt" || fail "analyse said: $(cat "$work/analyse.txt")"
"$tool" decode "$stray" "$work/stray.f32" >/dev/null 2>"$work/err.txt" || fail "decode failed: $(cat "$work/err.txt")"
[ "$(stat -c %s "$work/stray.f32")" -gt 6000000 ] || fail "decoded $(stat -c %s "$work/stray.f32") bytes"
own_sound_server unless-shared
recording="$work/$(printf 'mix\xe9.wav')"
"$tool" play "$latin" --seconds 2 --record "$recording" >"$work/play.txt" 2>&1 || fail "play failed: $(cat "$work/play.txt")"
peak=$(sox "$recording" -n stat 2>&1 | awk '/Maximum amplitude/ {print $3}')
awk -v p="$peak" 'BEGIN { exit !(p > 0.1) }' || fail "the recording under a Latin-1 name is silent (peak ${peak:-none})"

# --- Tags written in place, read back by ffprobe; the UTF-8 twin untouched ---
"$tool" tags write "$latin" title=Neu artist=Zwei >/dev/null 2>"$work/err.txt" || fail "tag write failed: $(cat "$work/err.txt")"
[ "$(ffprobe -v error -show_entries format_tags=title,artist -of csv=p=0 "$latin")" = "Neu,Zwei" ] ||
  fail "ffprobe reads $(ffprobe -v error -show_entries format_tags=title,artist -of csv=p=0 "$latin")"
[ "$(ffprobe -v error -show_entries format_tags=title -of csv=p=0 "$twin")" = Twin ] || fail "the twin's tags changed"

# --- Analysed and saved from the settings' Latin-1 music folder; read back on the next start ---
"$tool" analyse-view >"$work/view.txt" 2>"$work/err.txt" || fail "analyse-view failed: $(cat "$work/err.txt")"
same_paths "$work/view.txt" 4 "$latin" "$twin" "$stray" || fail "analyse-view's paths differ (above)"
[ "$(grep -c $'\tanalysed\t' "$work/view.txt")" = 3 ] || fail "not all analysed: $(cut -f4 "$work/view.txt")"
same_paths "$data/database.tsv" 0 "$latin" "$twin" "$stray" || fail "database.tsv's paths differ (above)"
cp "$data/database.tsv" "$work/saved.tsv"
[ "$("$tool" mytags set "$latin" "latin, old")" = "latin, old" ] || fail "mytags did not store the tags"
same_paths "$data/database.tsv" 0 "$latin" "$twin" "$stray" || fail "a reopened library lost a path (above)"
[ "$(grep -c $'\t1\t' "$data/database.tsv")" -ge 3 ] || fail "the reopened library lost its analysis"
grep -aF "$(printf 'caf\xe9.mp3')" "$data/database.tsv" | grep -q $'\tlatin, old\t' || fail "the tags went to another record"

# --- A list: written as UTF-8 with the bytes percent-encoded, read back to the same paths ---
"$tool" mix-order --folder "$music" >"$work/order.txt" 2>"$work/err.txt" || fail "mix-order failed: $(cat "$work/err.txt")"
same_paths "$work/order.txt" 0 "$latin" "$twin" "$stray" || fail "the ordered list's paths differ (above)"
listfile="$data/Lists/Mix order.m3u8"
python3 -c 'import sys; open(sys.argv[1], "rb").read().decode("utf-8")' "$listfile" || fail "the list file is not UTF-8"
grep -qF "file://localhost$(python3 -c 'import os, sys, urllib.parse; print(urllib.parse.quote(os.fsencode(sys.argv[1]), safe="/"))' "$latin")" "$listfile" ||
  fail "the list does not hold the Latin-1 name as a file URL: $(cat "$listfile")"
"$tool" scan --list "Mix order" >"$work/list.txt" 2>"$work/err.txt" || fail "scan --list failed: $(cat "$work/err.txt")"
same_paths "$work/list.txt" 6 "$latin" "$twin" "$stray" || fail "the list read back differs (above)"

# --- A crate over the settings' Latin-1 music folder shows both cafés ---
"$tool" crates add Cafe caf >/dev/null 2>"$work/err.txt" || fail "crates add failed: $(cat "$work/err.txt")"
"$tool" search "" --crate Cafe >"$work/crate.txt" 2>"$work/err.txt"
same_paths "$work/crate.txt" 0 "$latin" "$twin" || fail "the crate's paths differ (above)"

# --- rekordbox: exported percent-encoded, imported back byte for byte ---
"$tool" export-rekordbox "$work/out.xml" >"$work/export.txt" 2>&1 || fail "export failed: $(cat "$work/export.txt")"
xmllint --noout "$work/out.xml" || fail "the export is not well-formed"
python3 - "$work/out.xml" "$latin" "$twin" "$stray" <<'PY' || fail "the export's locations differ (above)"
import os, sys, urllib.parse, xml.etree.ElementTree as ET
got = sorted(urllib.parse.unquote_to_bytes(t.get("Location")) for t in ET.parse(sys.argv[1]).iter("TRACK") if t.get("Location"))
want = sorted(b"file://localhost" + os.fsencode(p) for p in sys.argv[2:])
sys.exit(0 if got == want else f"got {got}, wanted {want}")
PY
mv "$data/database.tsv" "$work/before-import.tsv"
"$tool" import rekordbox "$work/out.xml" >"$work/import.txt" 2>&1 || fail "import failed: $(cat "$work/import.txt")"
same_paths "$data/database.tsv" 0 "$latin" "$twin" "$stray" || fail "the imported paths differ (above)"

# --- The real program: deck loads by argument and by hand-off, the session saved as bytes ---
cp "$work/before-import.tsv" "$data/database.tsv"
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 -dpi 96 || fail "no virtual display could be started"
"$app" "$latin" >"$work/app.out" 2>&1 &
app_pid=$!
shown() { [ "$(log_count "Deck $1: loaded \"$2\"")" -ge 1 ]; }
wait_for 60 shown A "$(printf 'caf\xef\xbf\xbd.mp3')" || fail "deck A did not load the Latin-1 file: $(tail -n 5 "$log")"
timeout 10 "$app" "$stray" >>"$work/app.out" 2>&1 || fail "the second start exited with $?"
wait_for 30 shown B "$(printf 'bad\xef\xbf\xbd\xef\xbf\xbd.flac')" || fail "deck B did not load the handed-over file: $(tail -n 5 "$log")"
grep -q "not UTF-8\|Can't open" "$log" && fail "the log: $(grep "not UTF-8\|Can't open" "$log")"
sleep 2  # the browser's rows and the decks' waveforms drawn
mkdir -p "$build/e2e-artifacts"
screen_shot "$build/e2e-artifacts/file_names_not_utf8.png" || fail "no screenshot"
kill -TERM "$app_pid"
wait "$app_pid" || fail "SIGTERM ended the program with $?"
python3 - "$settings" "$latin" "$stray" "$music" <<'PY' || fail "settings.ini lost a path (above)"
import os, sys
lines = open(sys.argv[1], "rb").read().split(b"\n")
for key, path in ((b"DeckAPath=", sys.argv[2]), (b"DeckBPath=", sys.argv[3]), (b"Folder0=", sys.argv[4])):
    if key + os.fsencode(path) not in lines:
        sys.exit(f"no {key + os.fsencode(path)} in {[l for l in lines if l.startswith(key)]}")
PY
same_paths "$data/database.tsv" 0 "$latin" "$twin" "$stray" || fail "the program's save lost a path (above)"
echo "$e2e_name: ok"
