#!/usr/bin/env bash
# Files the tool writes keep what stands at their names: a library kept behind links is updated
# through them, a dangling link, a loop, a folder, a FIFO and a private device are never
# replaced; an export named on purpose goes into a device. A database.tsv with one odd line (a
# short line, an empty path, a last line without its line feed) is saved with the edit, without
# the odd line, and kept beside itself as it was.
# Cost: 8
set -u
tool="${VELDMIX_BUILD:?VELDMIX_BUILD must name the build folder}/veldmix-tool"
work=$(mktemp -d /tmp/veldmix-e2e-links-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
cd "$work" || exit 1
export HOME="$work/home" LANG=C.UTF-8
unset XDG_DATA_HOME XDG_STATE_HOME XDG_CONFIG_HOME
data="$HOME/.local/share/Veldmix"
mkdir -p "$data" synced
sox -n -r 44100 -c 2 -b 16 a.wav synth 0.5 sine 440 2>/dev/null
no_temps() { [ -z "$(find "$work" -name '*.veldmix-tmp')" ]; }

# --- the library kept in a synced folder, through a link to a link ---
ln -s "$work/synced/database.tsv" "$work/synced/db-link"
ln -s "$work/synced/db-link" "$data/database.tsv"
: >synced/database.tsv
check "an edit saves through two links" '"$tool" mytags set "$work/a.wav" warm >out 2>&1'
check "both links stay links" '[ -L "$data/database.tsv" ] && [ -L synced/db-link ] && [ -f synced/database.tsv ] && [ ! -L synced/database.tsv ]'
check "the linked file holds the edit" 'grep -q "warm" synced/database.tsv'

# --- what is no regular file stays what it is ---
refused() {  # name, what it is, the test that it still is
  rm -rf "$data/database.tsv"
  eval "$2"
  "$tool" mytags set "$work/a.wav" cool >out 2>&1 && { echo "FAIL: a save over $1 succeeded"; fail=1; }
  eval "$3" || { echo "FAIL: $1 was replaced"; fail=1; }
}
refused "a dangling link" 'ln -s "$work/nowhere/db.tsv" "$data/database.tsv"' '[ -L "$data/database.tsv" ] && [ ! -e nowhere ]'
refused "a link loop" 'ln -s "$data/loop2" "$data/database.tsv"; ln -s "$data/database.tsv" "$data/loop2"' '[ -L "$data/database.tsv" ]'
refused "a FIFO" 'mkfifo "$data/database.tsv"' '[ -p "$data/database.tsv" ]'
refused "a folder" 'mkdir "$data/database.tsv"' '[ -d "$data/database.tsv" ]'
rm -f "$data/loop2"
mkdir -p out-folder
check "decode refuses a folder, naming it" '! timeout 20 "$tool" decode a.wav out-folder 2>err >/dev/null && grep -q "out-folder: a folder" err && [ -d out-folder ]'
mkfifo pipe
check "decode into a FIFO nobody reads fails at once" '! timeout 20 "$tool" decode a.wav pipe 2>err >/dev/null && grep -q "nothing reads" err && [ -p pipe ]'
if mknod "$work/null" c 1 3 2>/dev/null; then
  rm -rf "$data/database.tsv"
  mknod "$data/database.tsv" c 1 3
  check "a save never replaces a device" '! "$tool" mytags set "$work/a.wav" x >/dev/null 2>&1 && [ -c "$data/database.tsv" ]'
  check "an export named on purpose goes into the device" 'timeout 20 "$tool" decode a.wav "$work/null" >/dev/null && [ -c "$work/null" ]'
else
  echo "SKIP: mknod is not allowed here; the device cases were not run"
fi
check "no temporary is left anywhere" 'no_temps'

# --- one odd line never stops saving ---
rm -rf "$data/database.tsv"
line15() { printf '%s\t120\t0.5\t3\t-8.25\t1\t2.5\t1.5\t1.5\t1.5\t1.5\t1.5\t1.5\t1.5\t1.5' "$1"; }
good="$(line15 /m/a.mp3)
$(line15 /m/b.mp3)
$(line15 /m/c.mp3)"
odd_files=("$good
/Music/old.mp3	99	0
" "$good
$(line15 '')
" "$good")
today=$(date +%Y-%m-%d)
for i in 0 1 2; do
  rm -f "$data"/database.tsv*
  printf '%s' "${odd_files[$i]}" >"$data/database.tsv"
  cp "$data/database.tsv" original
  check "file $i: the edit is saved" '"$tool" mytags set "$work/a.wav" opener >out 2>&1'
  check "file $i: the edit and every good record are in the new file" \
    'grep -q opener "$data/database.tsv" && [ "$(grep -c "^/m/" "$data/database.tsv")" -eq 3 ]'
  check "file $i: the odd line is gone" '! grep -q old.mp3 "$data/database.tsv" && ! grep -q "^	" "$data/database.tsv"'
  check "file $i: the original is kept beside it" 'cmp -s original "$data/database.tsv.damaged-$today"'
done
check "a file of mostly bad lines is left alone" \
  'printf "x\ny\n%s\n" "$(line15 /m/a.mp3)" >"$data/database.tsv"; cp "$data/database.tsv" original;
   ! "$tool" mytags set "$work/a.wav" z >/dev/null 2>&1 && cmp -s original "$data/database.tsv"'

[ $fail -eq 0 ] && echo "PASS: files through links"
exit $fail
