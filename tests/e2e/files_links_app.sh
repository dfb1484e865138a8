#!/usr/bin/env bash
# The real program's own saves keep the user's links: settings.ini a link into a dotfiles folder,
# database.tsv a link to a link into a synced folder, the History list a link, and the recordings
# folder a link to a folder elsewhere. A track plays, is recorded for a moment, and a folder is
# handed over; after the orderly close every link is still a link, the files they end at hold the
# change (the music folder, the play count beside a record kept from before, the History entry),
# the recording and its tracklist are in the linked folder, and no temporary is left behind.
# Cost: 10
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix Xvfb xdpyinfo xdotool sox soxi
app_pid=""
own_sound_server unless-shared
private_home
data="$HOME/.local/share/Veldmix"
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"


# --- the user's set-up: every file the program keeps, and the recordings, behind links ---
dotfiles="$work/dotfiles" synced="$work/synced" elsewhere="$work/elsewhere/recordings"
mkdir -p "$dotfiles" "$synced" "$elsewhere" "$data/Lists" "$HOME/Music" "$work/Crate"
printf '[Tour]\nDone=1\n[Options]\nRecordFormat=0\n' >"$dotfiles/settings.ini"
ln -sf "$dotfiles/settings.ini" "$settings"
# A record from an earlier session (path, then 14 more fields), which the save must keep.
printf '/m/kept.mp3\t120\t0.5\t3\t-8.25\t1\t2.5\t1.5\t1.5\t1.5\t1.5\t1.5\t1.5\t1.5\t1.5\n' >"$synced/database.tsv"
ln -s "$synced/database.tsv" "$synced/db-link"
ln -s "$synced/db-link" "$data/database.tsv"
printf '#EXTM3U\n' >"$synced/History.m3u8"
ln -s "$synced/History.m3u8" "$data/Lists/History.m3u8"
ln -s "$elsewhere" "$HOME/Music/Veldmix Recordings"
a="$work/a tone.wav"
sox -n -r 44100 -c 2 -b 16 "$a" synth 30 sine 440 vol 0.3 2>/dev/null || fail "sox could not make the track"

# --- a session: play, record a moment, hand a folder over, close ---
"$app" "$a" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 15 window_shown || fail "the main window did not appear"
wait_for 10 log_has "Audio: master output started" || fail "the output did not start"
wait_for 30 deck_loaded A "$a" || fail "A did not load onto deck A"
press x
listed() { grep -qxF "$a" "$synced/History.m3u8"; }
wait_for 10 listed || fail "playing A did not list it in the linked History: $(cat "$synced/History.m3u8")"
[ -L "$data/Lists/History.m3u8" ] || fail "the History link was replaced by the save during play"
press ctrl+r
wav_in() { ls "$elsewhere"/*.wav >/dev/null 2>&1; }
wait_for 10 wav_in || fail "REC made no WAV in the linked recordings folder: $(ls -la "$HOME/Music")"
sleep 2  # a little sound to keep
press ctrl+r
tracklist_in() { ls "$elsewhere"/*" tracklist.txt" >/dev/null 2>&1; }
wait_for 10 tracklist_in || fail "the second REC wrote no tracklist in the linked folder: $(ls "$elsewhere")"
timeout 10 "$app" "$work/Crate" >>"$work/app.out" 2>&1 || fail "handing the folder over failed"
wait_for 10 log_has "Opening what another start handed over: $work/Crate" || fail "the folder was not handed over"
kill -TERM "$app_pid"
wait "$app_pid"
code=$?
app_pid=""
[ "$code" = 0 ] || fail "the program ended with $code"

# --- the links are links, and the files they end at hold the change ---
[ -L "$settings" ] || fail "settings.ini was replaced by a file"
[ "$(readlink "$settings")" = "$dotfiles/settings.ini" ] || fail "settings.ini points elsewhere: $(readlink "$settings")"
grep -qx "Folder[0-9]*=$work/Crate" "$dotfiles/settings.ini" || fail "the linked settings lack the folder: $(cat "$dotfiles/settings.ini")"
grep -qx "RecordFormat=0" "$dotfiles/settings.ini" || fail "the linked settings lost what they held"
[ -L "$data/database.tsv" ] && [ -L "$synced/db-link" ] || fail "a database link was replaced by a file"
[ -f "$synced/database.tsv" ] && [ ! -L "$synced/database.tsv" ] || fail "the linked database is no file"
plays=$(awk -F'\t' -v p="$a" '$1 == p { print $17 }' "$synced/database.tsv")
[ "$plays" = 1 ] || fail "the linked database counts '$plays' plays of A: $(cat "$synced/database.tsv")"
grep -q "^/m/kept.mp3	120" "$synced/database.tsv" || fail "the earlier record is gone from the linked database"
[ -L "$data/Lists/History.m3u8" ] || fail "the History link was replaced by a file"
listed || fail "the linked History lost A"
[ -L "$HOME/Music/Veldmix Recordings" ] || fail "the recordings folder link was replaced"
wav=$(ls "$elsewhere"/*.wav | head -n 1)
[ "$(soxi -s "$wav" 2>/dev/null || echo 0)" -gt 0 ] || fail "the recording in the linked folder holds no sound"
grep -qF "0:00  a tone.wav" "${wav%.wav} tracklist.txt" || fail "the tracklist does not open with A: $(cat "${wav%.wav} tracklist.txt")"
leftovers=$(find "$HOME" "$dotfiles" "$synced" "$elsewhere" -name '*.veldmix-tmp')
[ -z "$leftovers" ] || fail "temporaries were left: $leftovers"
echo "files_links_app: PASS"
