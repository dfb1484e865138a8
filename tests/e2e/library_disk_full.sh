#!/usr/bin/env bash
# The real program on full disks, each a small file system of its own in a private mount namespace.
# 1. The support folder (backups, log) is full: today's backup is cut short by the disk, removed,
#    logged and said on the status line, and the seven good backups stay byte for byte.
# 2. The data folder is full: the library change a loaded track makes cannot be saved; the status
#    line says why and keeps saying it, database.tsv stays whole, closing asks, Esc keeps the
#    program open, and TRY AGAIN once there is room saves the change and closes.
# 3. Full again: CLOSE WITHOUT SAVING closes and leaves database.tsv as it was.
# The status line and the question are read off screenshots with tesseract. About 40 s.
# Labels: slow
# Cost: 63
set -uo pipefail

if [ -z "${VELDMIX_PRIVATE_MOUNTS:-}" ]; then
  # Root may make mounts in a namespace of its own; anyone else through a user namespace.
  if [ "$(id -u)" = 0 ]; then ns=(unshare --mount --propagation private); else ns=(unshare --map-root-user --mount); fi
  VELDMIX_PRIVATE_MOUNTS=1 exec "${ns[@]}" bash "$0" "$@"
  echo "library_disk_full: FAIL: no mount namespace could be made (unshare)" >&2
  exit 1
fi

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/main_window.sh"
need veldmix Xvfb xdotool import convert tesseract sox md5sum
artifacts="$build/e2e-artifacts/library_disk_full"
rm -rf "$artifacts"
mkdir -p "$artifacts"
e2e_on_fail() { cp "$work"/burst*.png "$artifacts/" 2>/dev/null; }
private_home
no_sound_server
data="$HOME/.local/share/Veldmix"
state="$HOME/.local/state/Veldmix"
readonly kRecords=20000  # about 1.6 MB of database.tsv: more than the full disk has left
mounts=()
unmount_all() {
  local m
  [ -n "${app_pid:-}" ] && kill -KILL "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  for m in "${mounts[@]}"; do umount -l "$m" 2>/dev/null; done
}
trap 'unmount_all; e2e_cleanup' EXIT
# small_disk FOLDER SIZE: an empty file system of SIZE (e.g. 3m) over the folder.
small_disk() {
  mkdir -p "$1"
  mount -t tmpfs -o "size=$2" tmpfs "$1" || fail "no small file system could be mounted on $1"
  mounts+=("$1")
}
# fill FOLDER: a file that takes all the room left there.
fill() { dd if=/dev/zero of="$1/filler" bs=16k >/dev/null 2>&1; }

start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"
start_app() {
  "$app" "$@" >>"$work/app.out" 2>&1 &
  app_pid=$!
  wait_for 30 window_shown || fail "the main window did not appear: $(tail -5 "$work/app.out")"
  eval "$(xdotool getwindowgeometry --shell "$(window_id)")"  # X Y WIDTH HEIGHT
}
# read_screen NAME CROP: a screenshot kept as NAME.png, the crop (WxH+X+Y, from the window's
# corner) read by tesseract as one line of text.
read_screen() {
  local crop=$2 w h x y
  IFS='x+' read -r w h x y <<<"$crop"
  screen_shot "$artifacts/$1.png" || fail "no screenshot $1"
  convert "$artifacts/$1.png" -crop "${w}x${h}+$((X + x))+$((Y + y))" +repage -resize 300% -colorspace Gray -negate \
    "$work/ocr.png"
  OMP_THREAD_LIMIT=1 tesseract "$work/ocr.png" - 2>/dev/null | tr -s ' \n' '  '
}
status_line() { read_screen "$1" "1200x60+$((WIDTH / 2 - 600))+80"; }
# status_says GLOB: the status line reads so in one of the pictures burst_reads takes of it. A
# screenshot and its reading took 5 s on a loaded machine, and a message shows for 8 s from the
# frame that first draws it, which may come seconds after the log line at start.
# shellcheck disable=SC2053  # a glob on purpose
status_is() { [[ $text == $1 ]]; }
status_says() { BURST_SECONDS=30 burst_reads 1200 60 $((X + WIDTH / 2 - 600)) $((Y + 80)) status_is "$1"; }
question() { read_screen "$1" "900x420+$((WIDTH / 2 - 450))+$((HEIGHT / 2 - 210))"; }
# read_until SECONDS NAME COMMAND...: the question, read into $text and kept as NAME.png, until
# COMMAND is true, for at most SECONDS: a loaded machine may ask seconds after the key.
read_until() {
  local end=$((SECONDS + $1)) name=$2
  shift 2
  while :; do
    text=$(question "$name")
    "$@" && return 0
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.3
  done
}
asks() {  # (The dim CLOSE WITHOUT SAVING is not always read; part 3 presses it.)
  local words
  for words in "Library changes not saved" "the disk is full" "TRY AGAIN"; do
    [[ $text == *"$words"* ]] || return 1
  done
}
app_exits() {  # waits for the program to end; fails unless it ended with 0
  local code=0
  wait_for 30 eval '! kill -0 "$app_pid" 2>/dev/null' || fail "the program did not close"
  wait "$app_pid" || code=$?
  [ "$code" = 0 ] || fail "the program ended with $code"
}
shopt -s nocasematch  # tesseract sometimes capitalises a word

# --- 1. Today's backup on a full support folder ---
awk -v n=$kRecords 'BEGIN { for (i = 0; i < n; i++)
  printf "/music/track%06d.mp3\t120.0000\t0.10000\t5\t-8.00\t1\t0.00000\t-1\t-1\t-1\t-1\t-1\t-1\t-1\t-1\n", i }' \
  >"$data/database.tsv"
small_disk "$state" 3m
backups="$state/Backups"
for d in 1 2 3 4 5 6 7; do
  mkdir -p "$backups/2020-01-0$d"
  head -c 250000 "$data/database.tsv" >"$backups/2020-01-0$d/database.tsv"
  echo "[Tour]" >"$backups/2020-01-0$d/settings.ini"
done
(cd "$backups" && find . -type f -exec md5sum {} + | sort -k2) >"$work/backups.md5"
cp "$data/database.tsv" "$work/database.before"
start_app
wait_for 30 log_has "Backup: today's backup couldn't be made" || fail "no failed backup was logged"
log_has "database.tsv: write: the disk is full" || fail "the log does not name the file and the cause: $(grep Backup "$log")"
status_says "*backup couldn't be made*the disk is full*" ||
  fail "after the failed backup the status line said: $text"
press alt+F4
app_exits
[ "$(cd "$backups" && ls)" = "$(printf '2020-01-0%s\n' 1 2 3 4 5 6 7)" ] ||
  fail "the backups folder holds: $(ls "$backups")"
(cd "$backups" && find . -type f -exec md5sum {} + | sort -k2) | cmp -s - "$work/backups.md5" ||
  fail "a good backup changed"
# Saved again at close, in full columns: every record still there.
[ "$(cut -f1 "$data/database.tsv" | sort | md5sum)" = "$(cut -f1 "$work/database.before" | sort | md5sum)" ] ||
  fail "database.tsv lost records: $(wc -l <"$data/database.tsv") lines"

# --- 2. Library changes on a full data folder ---
umount "$state" && mounts=() || fail "the support folder could not be unmounted"
cp "$settings" "$work/settings.ini"
small_disk "$data" 2m
cp "$work/settings.ini" "$settings"
printf '/music/kept.mp3\t98.0000\t0.20000\t3\t-9.00\t1\t0.00000\t-1\t-1\t-1\t-1\t-1\t-1\t-1\t-1\n' >"$data/database.tsv"
cp "$data/database.tsv" "$work/database.before"
fill "$data"
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 20 sine 440 vol 0.3 2>/dev/null || fail "sox could not make a track"
: >"$log"
start_app "$work/tone.wav"
# The analysis of the loaded track changes the library; its autosave meets the full disk.
wait_for 60 log_has "Library: the database couldn't be saved" || fail "no failed library save was logged"
status_says "*Library changes not saved*the disk is full*" ||
  fail "after the failed save the status line said: $text"
# Past the message's own 8 s from the frame that drew it, which came before that picture: it stays
# while the change is unsaved.
sleep 10
text=$(status_line still_unsaved)
case $text in
  *"Library changes not saved"*"the disk is full"*) ;;
  *) fail "10 s later the status line said: $text" ;;
esac
cmp -s "$data/database.tsv" "$work/database.before" || fail "database.tsv changed on the full disk"

press alt+F4
read_until 30 close_asked asks || fail "closing did not ask whole: $text"
press Escape
read_until 30 escaped eval '! asks' || fail "Esc left the question open: $text"
sleep 2
kill -0 "$app_pid" 2>/dev/null || fail "Esc closed the program"
press alt+F4
read_until 30 asked_again asks || fail "closing again did not ask: $text"
rm "$data/filler"
press Return  # TRY AGAIN, now with room
app_exits
log_has "Veldmix closed" || fail "no closing line"
grep -qF "$work/tone.wav" "$data/database.tsv" || fail "the loaded track's record was not saved"
grep -qF "/music/kept.mp3" "$data/database.tsv" || fail "the earlier record was lost"

# --- 3. CLOSE WITHOUT SAVING drops the unsaved change and keeps the file as it was ---
cp "$data/database.tsv" "$work/database.before"
cp "$work/tone.wav" "$work/other.wav"
fill "$data"
: >"$log"
start_app "$work/other.wav"
wait_for 60 log_has "Library: the database couldn't be saved" || fail "no failed library save was logged the second time"
press alt+F4
read_until 30 asked_third asks || fail "closing on the full disk again did not ask: $text"
# The button sits left of TRY AGAIN on the question's bottom row, centred in the window.
xdotool mousemove --sync $((X + WIDTH / 2 + 48)) $((Y + HEIGHT / 2 + 71)) click 1
app_exits
log_has "Library: closed without saving the changes" || fail "CLOSE WITHOUT SAVING was not what closed it"
cmp -s "$data/database.tsv" "$work/database.before" || fail "database.tsv changed"
echo "library_disk_full: PASS"
