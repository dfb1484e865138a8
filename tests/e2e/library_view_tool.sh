#!/usr/bin/env bash
# veldmix-tool search, mix-order, crates and find-duplicates over a data folder seeded with real
# files made by ffmpeg and library records, each checked against an independent Python model
# (tests/support/library_view_oracle.py); bad arguments print usage, exit 2 and change nothing.
# Cost: 95
set -u
tool="${VELDMIX_BUILD:?VELDMIX_BUILD must name the build folder}/veldmix-tool"
oracle="$(cd "$(dirname "$0")/.." && pwd)/support/library_view_oracle.py"
work=$(mktemp -d /tmp/veldmix-e2e-view-XXXXXX)
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
chmod 755 "$work"
cd "$work" || exit 1
export HOME="$work/home" LANG=C.UTF-8
unset XDG_DATA_HOME XDG_STATE_HOME XDG_CONFIG_HOME
data="$HOME/.local/share/Veldmix"
mkdir -p "$data"
/usr/bin/python3 "$oracle" make "$work/m" "$data" seeds.json || { echo "FAIL: seeding"; exit 1; }
"$tool" scan "$work/m" >scan.txt || { echo "FAIL: scan"; exit 1; }
check "the scan lists the 27 files" '[ "$(wc -l <scan.txt)" -eq 27 ]'

# --- search: the tool against the model, every sort key both ways ---
queries=("" "deep" "DEEP house" "éclair" "ÄRTIST" "bpm:128" "bpm:120-130 rating:2+" "bpm:>126"
  "bpm:<=124" "energy:5-10" "color:any" "colour:aqua" "color:none" "key:8a" "key:am" "tag:deep"
  "mytag:open" "opener" "plays:0" "stars:3" "r:5" "bpm:fast" "bpm:nan" "bpm:1e999" "rating:4+x"
  "warm  up" "t05" "e:1-4 album")
sorts=(title artist bpm key time energy rating genre plays played added colour source)
# Each query under one sort both ways, then every sort of the whole folder (ties in scan order).
: >queries.tsv
n=0
for q in "${queries[@]}"; do
  s=${sorts[$((n % ${#sorts[@]}))]}
  printf '%s\t%s\t0\n%s\t%s\t1\n' "$q" "$s" "$q" "$s" >>queries.tsv
  n=$((n + 1))
done
for s in "${sorts[@]}"; do printf '\t%s\t0\n' "$s" >>queries.tsv; done
mkdir want
/usr/bin/python3 "$oracle" search-batch seeds.json scan.txt queries.tsv want || fail=1
n=0
while IFS= read -r line; do
  # split by hand: read would merge the empty query's tab with the next
  q=${line%%$'\t'*} rest=${line#*$'\t'}
  s=${rest%%$'\t'*} desc=${rest#*$'\t'}
  flag=(); [ "$desc" = 1 ] && flag=(--descending)
  "$tool" search "$q" --folder "$work/m" --sort "$s" "${flag[@]}" >got.txt 2>err.txt
  if ! cmp -s got.txt "want/$n.txt"; then
    echo "FAIL: search \"$q\" --sort $s (descending $desc) differs from the model:"
    diff "want/$n.txt" got.txt | head -8
    fail=1
  fi
  n=$((n + 1))
done <queries.tsv
check "every query was compared" '[ $n -eq $(( ${#queries[@]} * 2 + ${#sorts[@]} )) ]'
check "some queries show nothing and some everything" \
  '[ -z "$("$tool" search "bpm:nan" --folder "$work/m")" ] && [ "$("$tool" search "" --folder "$work/m" | wc -l)" -eq 27 ]'

# --- crates: CR LF and a tab in the search survive; names lose tabs; a crate searches its folders ---
printf 'Old\tbpm:120-130\r\nTabbed\tdeep\thouse\r\nno tab\r\n' >"$data/crates.tsv"
printf '[Tour]\nDone=1\n[Library]\nCount=1\nSelected=0\nFolder0=%s\n' "$work/m" >"$data/settings.ini"
"$tool" crates add "$(printf 'New\tname')" "$(printf 'tag:deep\tbpm:>100')" >crates.txt
check "crates.tsv is rewritten with LF ends, the tab in a search kept, a name's tab a space" \
  '[ "$(cat "$data/crates.tsv")" = "$(printf "Old\tbpm:120-130\nTabbed\tdeep\thouse\nNew name\ttag:deep\tbpm:>100")" ]'
check "the tool lists the crates" '[ "$(cut -f1,2 crates.txt | tr "\t\n" "::")" = "0:Old:1:Tabbed:2:New name:" ]'
"$tool" crates edit 0 "" "bpm:128" >/dev/null
check "an edit with an empty name keeps the name" 'head -1 "$data/crates.tsv" | grep -qP "^Old\tbpm:128$"'
"$tool" search "" --crate Old --sort title >got.txt
/usr/bin/python3 "$oracle" search seeds.json scan.txt "bpm:128" title 0 >want.txt
check "a crate view is its search over the music folders" 'cmp -s got.txt want.txt'
cp "$data/crates.tsv" crates.before
chmod 000 "$data/crates.tsv"
# A copy of the tool where the other account can reach it: the build folder may be private.
cp "$tool" "$work/home/veldmix-tool"
chmod -R a+rwX "$work/home"; chmod 000 "$data/crates.tsv"
setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$HOME" "$work/home/veldmix-tool" crates add X y >/dev/null 2>err.txt
rc=$?
chmod 644 "$data/crates.tsv"
check "an unreadable crates.tsv fails the add (got $rc)" '[ $rc -eq 1 ] && grep -q "not overwritten" err.txt'
check "and is never overwritten" 'cmp -s "$data/crates.tsv" crates.before'

# --- mix order: a list of 30 records, History and the view ---
count_unanalysed() {
  /usr/bin/python3 -c 'import json,sys; r={t["path"]: t["record"] for t in json.load(open("seeds.json"))}
print(sum(1 for p in sys.argv[1:] if not (r.get(p) and r[p]["analyzed"] and r[p]["bpm"] > 0)))' "$@"
}
status_of() {
  if [ "$1" -gt 0 ]; then
    echo "In mix order: keys, tempos and energy now flow track to track ($1 unanalysed tracks are at the end — ANALYZE them first)"
  else
    echo "In mix order: keys, tempos and energy now flow track to track"
  fi
}
grep -v '^#' "$data/Lists/Set.m3u8" >set.before
mapfile -t before <set.before
check "the list holds 30 paths" '[ ${#before[@]} -eq 30 ]'
"$tool" mix-order --list Set >mix.txt
/usr/bin/python3 "$oracle" mix-order seeds.json "${before[@]}" >want.txt
check "the list is rewritten in the model's mix order" '[ "$(grep -v "^#" "$data/Lists/Set.m3u8")" = "$(cat want.txt)" ]'
check "the tool prints the ordered list" '[ "$(head -n 30 mix.txt)" = "$(cat want.txt)" ]'
check "and the status line last, naming the unanalysed tracks" \
  '[ "$(tail -n 1 mix.txt)" = "$(status_of "$(count_unanalysed "${before[@]}")")" ]'

printf '#EXTM3U\n' >"$data/Lists/History.m3u8"
printf '%s\n' "${before[@]:0:12}" >>"$data/Lists/History.m3u8"
cp "$data/Lists/History.m3u8" history.before
"$tool" mix-order --list History >mix.txt
/usr/bin/python3 "$oracle" mix-order seeds.json "${before[@]:0:12}" >want.txt
check "History stays as it was" 'cmp -s "$data/Lists/History.m3u8" history.before'
check "its order fills the list Mix order" '[ "$(grep -v "^#" "$data/Lists/Mix order.m3u8")" = "$(cat want.txt)" ]'

"$tool" mix-order --folder "$work/m" --search "bpm:>0" >mix.txt
mapfile -t view < <(/usr/bin/python3 "$oracle" search seeds.json scan.txt "bpm:>0" title 0 | cut -f1)
/usr/bin/python3 "$oracle" mix-order seeds.json "${view[@]}" >want.txt
check "the view's tracks refill Mix order in the model's order" \
  '[ "$(grep -v "^#" "$data/Lists/Mix order.m3u8")" = "$(cat want.txt)" ]'
check "an analysed view reports no unanalysed tracks" '[ "$(tail -n 1 mix.txt)" = "$(status_of 0)" ]'
"$tool" mix-order --folder "$work/m" --search "t05" >mix.txt
check "one track is too few" '[ "$(cat mix.txt)" = "Mix order needs at least two tracks" ]'

# --- duplicates ---
"$tool" find-duplicates --folder "$work/m" >dups.txt
/usr/bin/python3 "$oracle" duplicates seeds.json scan.txt >want.txt
check "find-duplicates gives the model's groups, order and text" 'cmp -s dups.txt want.txt'
check "with the copies of one song among them" 'grep -q "/dup0.wav$" dups.txt && ! grep -q "/dup1.mp3$" dups.txt'
check "the Duplicates list holds them" '[ "$(grep -v "^#" "$data/Lists/Duplicates.m3u8")" = "$(head -n -1 want.txt)" ]'

# --- bad arguments print usage, exit 2 and change nothing ---
snapshot() { (cd "$data" && find . -type f -exec md5sum {} + | sort); }
snapshot >data.before
while IFS= read -r line; do
  eval "args=($line)"
  "$tool" "${args[@]}" >out.txt 2>err.txt
  rc=$?
  check "$line: exit 2 with usage (got $rc)" '[ $rc -eq 2 ] && grep -q "^usage:" err.txt && [ ! -s out.txt ]'
done <<'BAD'
search
search --folder x
search x --sort speed
search x --folder a --list b
search x --list "No such list"
search x --crate "No such crate"
search x --descending --descending
crates add onlyname
crates edit 9 a b
crates edit -1 a b
crates remove 0
mix-order
mix-order --list Set --folder x
mix-order --list Set --search x
mix-order --list "No such list"
mix-order --folder
find-duplicates
find-duplicates --list Set
BAD
snapshot >data.after
check "the data folder is unchanged" 'cmp -s data.before data.after'

[ $fail -eq 0 ] && echo "PASS: library view tool"
exit $fail
