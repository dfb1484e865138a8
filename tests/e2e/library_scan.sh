#!/usr/bin/env bash
# veldmix-tool scan over files made by ffmpeg, checked against ffprobe and stat: every audio
# extension (upper case too, .ogg left out, a folder scanned inside another), untagged files, a
# list naming a path twice and a missing file; a hostile tree (FIFO, folder named .mp3, dead link,
# link loop, text named .mp3, a folder the user may not open, /dev/zero in a list) ends at once
# and a name that is not UTF-8 is read like any other; bad arguments change nothing.
# Labels: slow
# Cost: 35
set -u
tool="${VELDMIX_BUILD:?VELDMIX_BUILD must name the build folder}/veldmix-tool"
oracle="$(cd "$(dirname "$0")/.." && pwd)/support/scan_oracle.py"
work=$(mktemp -d /tmp/veldmix-e2e-scan-XXXXXX)
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
chmod 755 "$work"
cd "$work" || exit 1
export HOME="$work/home" LANG=C.UTF-8
unset XDG_DATA_HOME XDG_STATE_HOME XDG_CONFIG_HOME
mkdir -p "$HOME"
tone() { ffmpeg -v error -y -f lavfi -i "sine=f=440:d=$1" "${@:2}"; }

# --- every extension, accented tags ---
mkdir -p m/inner
n=0
for e in mp3 wav flac m4a aac wma mp4 aif aiff m4v mov mkv MP4 FLAC; do
  n=$((n + 1))
  tone "$n.5" -metadata title="Tïtle $e" -metadata artist="Ärtist é" -metadata genre="Génre ñ" "m/t$n.$e"
done
tone 1 m/inner/untagged.mp3
tone 1 m/inner/bare.mkv
tone 1 m/skip.ogg
"$tool" scan m m/inner >scan.txt 2>err.txt; rc=$?
check "scan exits 0 (got $rc: $(cat err.txt))" '[ $rc -eq 0 ]'
mapfile -t want < <(find "$work/m" -type f ! -name '*.ogg' | sort)
check "each file once with ffprobe's tags, duration and stat's time" \
  '/usr/bin/python3 "$oracle" scan.txt "${want[@]/#$work\/m/m}"'
check "an untagged file is titled by its stem" 'grep -qP "\tuntagged\t\t\tm/inner/untagged.mp3$" scan.txt'

# --- a list: one path twice and a missing file give three rows ---
mkdir -p home/.local/share/Veldmix/Lists
printf '#EXTM3U\n%s\n%s\n%s\n' "$work/m/t1.mp3" "$work/m/t1.mp3" "$work/m/gone.mp3" \
  >home/.local/share/Veldmix/Lists/Set.m3u8
"$tool" scan --list Set >list.txt
check "the list gives three rows in order" \
  '[ "$(cut -f1,4,7 list.txt)" = "$(printf "0\tTïtle mp3\t%s\n1\tTïtle mp3\t%s\n2\tgone\t%s" "$work/m/t1.mp3" "$work/m/t1.mp3" "$work/m/gone.mp3")" ]'
check "the missing file has length 0 and no time" 'grep -qP "^2\t0.000\t0\tgone\t" list.txt'

# --- a hostile tree ---
mkdir -p h/a_locked h/b_after h/dir.mp3
tone 1 h/a_locked/hidden.mp3
tone 1 h/b_after/good.mp3
mkfifo h/fifo.mp3
ln -s "$work/nowhere.mp3" h/dead.mp3
ln -s . h/loop
ln -s l2.mp3 h/l1.mp3
ln -s l1.mp3 h/l2.mp3
echo "not audio" >h/text.mp3
tone 1 "$(printf 'h/bad\xff.mp3')"
chmod 000 h/a_locked
printf '#EXTM3U\n/dev/zero\n%s\n' "$work/h/fifo.mp3" >home/.local/share/Veldmix/Lists/Zero.m3u8
mkdir -p nobody && chown 65534:65534 nobody
# A copy of the tool where the other account can reach it: the build folder may be private.
cp "$tool" nobody/veldmix-tool && chown 65534:65534 nobody/veldmix-tool
tool="$work/nobody/veldmix-tool"
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$work/nobody" "$@"; }
start=$(date +%s%N)
as_nobody timeout 20 "$tool" scan h >hostile.txt 2>err.txt; rc=$?
ms=$((($(date +%s%N) - start) / 1000000))
check "the hostile scan exits 0 (got $rc: $(cat err.txt))" '[ $rc -eq 0 ]'
check "the hostile scan ends at once (${ms} ms)" '[ $ms -lt 10000 ]'
check "only the later sibling, the non-UTF-8 name (shown with U+FFFD) and the text file give rows: $(cut -f4,7 hostile.txt | tr "\n\t" "| ")" \
  '[ "$(cut -f4,7 hostile.txt)" = "$(printf "good\th/b_after/good.mp3\nbad\357\277\275\th/bad\377.mp3\ntext\th/text.mp3")" ]'
cp -r home/.local/share/Veldmix/Lists nobody/.local/share/Veldmix/ 2>/dev/null || { mkdir -p nobody/.local/share/Veldmix && cp -r home/.local/share/Veldmix/Lists nobody/.local/share/Veldmix/; }
chown -R 65534:65534 nobody
as_nobody timeout 20 "$tool" scan --list Zero >zero.txt; rc=$?
check "a list naming /dev/zero and a FIFO ends with two empty rows (exit $rc)" \
  '[ $rc -eq 0 ] && [ "$(cut -f2,4 zero.txt)" = "$(printf "0.000\tzero\n0.000\tfifo")" ]'
chmod 755 h/a_locked

# --- 50,010 hard links of one tagged file: a scan reads at most 50,000 folder files ---
mkdir links
tone 0.2 -metadata title=Linked links/base.mp3
/usr/bin/python3 -c '
import os
for i in range(50009): os.link("links/base.mp3", "links/l%05d.mp3" % i)'
"$tool" scan links >links.txt
check "50,010 hard links give exactly 50,000 rows, each path once, indexed in order" \
  '[ "$(wc -l <links.txt)" = 50000 ] && [ "$(cut -f7 links.txt | sort -u | wc -l)" = 50000 ] &&
   [ "$(cut -f1 links.txt | tr "\n" " ")" = "$(seq -s " " 0 49999) " ] && [ "$(cut -f4 links.txt | sort -u)" = Linked ]'
rm -rf links

# --- bad arguments ---
for bad in "--list" "--list Nope" "-x" "m --list Set --list Set"; do
  # shellcheck disable=SC2086  # the arguments split on purpose
  "$tool" scan $bad >out.txt 2>err.txt; rc=$?
  check "scan $bad exits 2 with usage (got $rc)" '[ $rc -eq 2 ] && grep -q "usage: veldmix-tool scan" err.txt && [ ! -s out.txt ]'
done
exit $fail
