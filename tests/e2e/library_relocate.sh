#!/usr/bin/env bash
# veldmix-tool relocate DIR, run unprivileged: moved files are found by name, a tie broken by the
# old parent folder's name, several candidates (or one file wanted by two missing paths) left
# alone and counted; a path the user may not look at is not missing; a folder the user may not
# open is skipped and the walk goes on; lists and records (cue, rating, own tags) follow; with
# nothing missing the status says so; bad arguments change nothing.
# Cost: 6
set -u
tool="${VELDMIX_BUILD:?VELDMIX_BUILD must name the build folder}/veldmix-tool"
work=$(mktemp -d /tmp/veldmix-e2e-relocate-XXXXXX)
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
chmod 755 "$work"
cd "$work" || exit 1
export HOME="$work/home" LANG=C.UTF-8
unset XDG_DATA_HOME XDG_STATE_HOME XDG_CONFIG_HOME
data="$HOME/.local/share/Veldmix"
mkdir -p "$data/Lists"
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }

o="$work/old" n="$work/new"
mkdir -p keep locked "$n"/{A,C,X,D,sub/D,G,0locked,zz}
touch keep/here.mp3 locked/x.mp3 "$n"/A/song.mp3 "$n"/C/dup.mp3 "$n"/X/dup.mp3 "$n"/D/amb.mp3 \
  "$n"/sub/D/amb.mp3 "$n"/G/twin.mp3 "$n"/0locked/late.mp3 "$n"/zz/late.mp3 "$n"/A/song.txt
chmod 000 locked "$n"/0locked
printf '#EXTM3U\n%s\n' "$o/A/song.mp3" "$o/C/dup.mp3" "$o/D/amb.mp3" "$o/E/twin.mp3" "$o/F/twin.mp3" \
  "$o/gone.mp3" "$work/keep/here.mp3" "$work/locked/x.mp3" "$o/B/late.mp3" "$o/A/song.mp3" >"$data/Lists/Set.m3u8"
chown -R 65534:65534 home

# A record with cues, a rating and own tags for the first moved file.
as_nobody "$tool" mytags set "$o/A/song.mp3" "opener, vocal" >/dev/null || echo "FAIL: mytags set"
/usr/bin/python3 - "$data/database.tsv" "$o/A/song.mp3" <<'PY'
import sys
path, key = sys.argv[1], sys.argv[2]
rows = [line.rstrip("\n").split("\t") for line in open(path, encoding="utf-8")]
for r in rows:
    if r[0] == key:
        r[6], r[7], r[15] = "12.50000", "30.00000", "4"   # cue, hot cue 1, rating
open(path, "w", encoding="utf-8").write("".join("\t".join(r) + "\n" for r in rows))
PY

as_nobody "$tool" relocate "$n" >out.txt 2>err.txt; rc=$?
check "relocate exits 0 (got $rc: $(cat err.txt))" '[ $rc -eq 0 ]'
check "the counts: 3 of 7 found, 3 left alone (got: $(tail -n1 out.txt))" \
  '[ "$(tail -n1 out.txt)" = "Found 3 of 7 missing files (3 had several matches and were left alone)" ]'
check "the moves: one name, the parent-folder tie-break, the walk past a locked folder" \
  '[ "$(head -n -1 out.txt)" = "$(printf "%s\t%s\n" "$o/A/song.mp3" "$n/A/song.mp3" "$o/C/dup.mp3" "$n/C/dup.mp3" "$o/B/late.mp3" "$n/zz/late.mp3")" ]'
want_list=$(printf '%s\n' "$n/A/song.mp3" "$n/C/dup.mp3" "$o/D/amb.mp3" "$o/E/twin.mp3" "$o/F/twin.mp3" \
  "$o/gone.mp3" "$work/keep/here.mp3" "$work/locked/x.mp3" "$n/zz/late.mp3" "$n/A/song.mp3")
check "the list follows every occurrence" '[ "$(grep -v "^#" "$data/Lists/Set.m3u8")" = "$want_list" ]'
record=$(grep -P "^\Q$n/A/song.mp3\E\t" "$data/database.tsv")
check "the record moved with its cue, hot cue, rating and own tags" \
  '[ "$(cut -f7,8,16 <<<"$record")" = "$(printf "12.50000\t30.00000\t4")" ] && grep -q "opener, vocal" <<<"$record"'
check "no record is left at the old path" '! grep -q "^$o/A/song.mp3" "$data/database.tsv"'

as_nobody "$tool" relocate "$n" >again.txt 2>&1
check "a second search finds nothing new (got: $(tail -n1 again.txt))" \
  '[ "$(tail -n1 again.txt)" = "Found 0 of 4 missing files (3 had several matches and were left alone)" ]'

export HOME="$work/empty"
mkdir -p "$HOME/.local/share/Veldmix/Lists"
printf '#EXTM3U\n%s\n' "$work/keep/here.mp3" >"$HOME/.local/share/Veldmix/Lists/Mine.m3u8"
"$tool" relocate "$n" >none.txt 2>&1
check "nothing missing says so" '[ "$(cat none.txt)" = "No missing files — everything is where it should be" ]'
for bad in "" "-x" "a b"; do
  # shellcheck disable=SC2086  # the arguments split on purpose
  "$tool" relocate $bad >out.txt 2>err.txt; rc=$?
  check "relocate \"$bad\" exits 2 with usage" '[ $rc -eq 2 ] && grep -q "usage: veldmix-tool relocate" err.txt && [ ! -s out.txt ]'
done
"$tool" mytags toggle >out.txt 2>err.txt; rc=$?
check "mytags with too few arguments exits 2" '[ $rc -eq 2 ] && grep -q "usage: veldmix-tool mytags" err.txt'
exit $fail
