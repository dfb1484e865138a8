#!/usr/bin/env bash
# veldmix-tool commands that write, with the data and music folders on a small file system of
# their own that is full (a private tmpfs in a mount namespace), and with a file size limit of 0
# (ulimit -f 0, SIGXFSZ ignored): each exits non-zero naming the file and the cause, and every
# file that was there before is still whole.
# Cost: 8
set -uo pipefail

if [ -z "${VELDMIX_PRIVATE_MOUNTS:-}" ]; then
  # Root may make mounts in a namespace of its own; anyone else through a user namespace.
  if [ "$(id -u)" = 0 ]; then ns=(unshare --mount --propagation private); else ns=(unshare --map-root-user --mount); fi
  VELDMIX_PRIVATE_MOUNTS=1 exec "${ns[@]}" bash "$0" "$@"
  echo "full_disk_tool: SKIP: no mount namespace could be made (unshare)"
  exit 0
fi

tool="${VELDMIX_BUILD:?VELDMIX_BUILD must name the build folder}/veldmix-tool"
work=$(mktemp -d /tmp/veldmix-e2e-fulldisk-XXXXXX)
full="$work/full"
mkdir -p "$full"
cleanup() { umount "$full" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
mount -t tmpfs -o size=1m tmpfs "$full" || { echo "FAIL: no small file system could be mounted"; exit 1; }

export HOME="$full/home" LANG=C.UTF-8
unset XDG_DATA_HOME XDG_STATE_HOME XDG_CONFIG_HOME LC_ALL
data="$HOME/.local/share/Veldmix"
music="$full/music"
mkdir -p "$data/Lists" "$music"
for n in 1 2 3; do
  sox -n -r 22050 -c 1 -b 16 "$music/t$n.flac" synth 0.5 sine $((300 * n)) 2>/dev/null || { echo "FAIL: sox"; exit 1; }
done
printf '[Tour]\nDone=1\n' >"$data/settings.ini"
printf 'Deep\tdeep\n' >"$data/crates.tsv"
printf '#EXTM3U\n%s\n%s\n%s\n' "$music/t3.flac" "$music/t1.flac" "$music/t2.flac" >"$data/Lists/Warm.m3u8"
cp -a "$full" "$work/before"

# Everything left on the file system is taken.
dd if=/dev/zero of="$full/filler" bs=4k 2>/dev/null
check "the file system is full" '[ "$(df --output=avail "$full" | tail -n 1 | tr -d " ")" -eq 0 ]'

"$tool" crates add New deep >"$work/out" 2>"$work/err"
rc=$?
check "crates add on a full disk exits 1 (exit $rc)" '[ $rc = 1 ]'
check "crates add names the file and the cause ($(cat "$work/err"))" \
  'grep -qF "couldn'"'"'t write $data/crates.tsv (write: the disk is full)" "$work/err"'

"$tool" mix-order --list Warm >"$work/out" 2>"$work/err"
rc=$?
check "mix-order on a full disk exits 1 (exit $rc)" '[ $rc = 1 ]'
check "mix-order names the list file and the cause ($(cat "$work/err"))" \
  'grep -qF "couldn'"'"'t write $data/Lists/Warm.m3u8 (write: the disk is full)" "$work/err"'
check "mix-order shows why on its status line, not \"In mix order\" ($(tail -n 1 "$work/out"))" \
  '[ "$(tail -n 1 "$work/out")" = "Couldn'"'"'t save Warm.m3u8: the disk is full" ]'

"$tool" tags write "$music/t1.flac" title=Renamed >"$work/out" 2>"$work/err"
rc=$?
check "a tag write on a full disk exits 1 (exit $rc)" '[ $rc = 1 ]'
check "the tag write names the file and the cause ($(cat "$work/err"))" \
  '[ "$(cat "$work/err")" = "veldmix-tool tags: Couldn'"'"'t save the tags of t1.flac: the disk is full" ]'

# A WAV the tool renders and a lyrics file it stores: the cause, not only "couldn't write".
"$tool" demo 1 "$music/demo.wav" >"$work/out" 2>"$work/err"
rc=$?
check "demo on a full disk exits 1 (exit $rc)" '[ $rc = 1 ]'
check "demo names the file and the cause ($(cat "$work/err"))" \
  '[ "$(cat "$work/err")" = "veldmix-tool demo: couldn'"'"'t write \"$music/demo.wav\" (write: the disk is full)" ]'
check "no part of the WAV is left" '[ ! -e "$music/demo.wav" ]'
printf '[00:01.00]one\n[00:02.50]two\n' >"$work/words.lrc"
"$tool" lyrics save "$music/t1.flac" "$work/words.lrc" >"$work/out" 2>"$work/err"
rc=$?
check "lyrics save on a full disk exits 1 (exit $rc)" '[ $rc = 1 ]'
check "lyrics save names the cause ($(cat "$work/err"))" \
  'grep -q "^veldmix-tool lyrics: couldn'"'"'t write \"$data/.*\.lrc\" (write: the disk is full)$" "$work/err"'

rm -f "$full/filler"
for f in home/.local/share/Veldmix/crates.tsv home/.local/share/Veldmix/Lists/Warm.m3u8 \
  home/.local/share/Veldmix/settings.ini music/t1.flac music/t2.flac music/t3.flac; do
  check "$f is whole" 'cmp -s "$work/before/$f" "$full/$f"'
done
check "no temporary is left ($(find "$full" -name '*.veldmix-tmp*'))" '[ -z "$(find "$full" -name "*.veldmix-tmp*")" ]'

# A size limit of 0: writes fail with EFBIG (SIGXFSZ ignored, as a shell would leave it). What the
# tool says goes through a pipe, which the limit does not touch.
err=$( (trap '' XFSZ; ulimit -f 0; exec "$tool" crates add New deep) 2>&1 >/dev/null)
rc=$?
check "crates add under ulimit -f 0 exits 1 (exit $rc)" '[ $rc = 1 ]'
check "it names the size limit ($err)" \
  'grep -qF "couldn'"'"'t write $data/crates.tsv (write: the file would be larger than this disk or account allows)" <<<"$err"'
check "crates.tsv is whole" 'cmp -s "$work/before/home/.local/share/Veldmix/crates.tsv" "$data/crates.tsv"'

# With room again the same commands succeed and exit 0.
"$tool" crates add New deep >"$work/out" 2>"$work/err"
rc=$?
check "crates add with room exits 0 (exit $rc: $(cat "$work/err"))" '[ $rc = 0 ]'
check "the crate is saved" 'grep -qx "New	deep" "$data/crates.tsv"'

[ $fail = 0 ] && echo "full_disk_tool: PASS"
exit $fail
