#!/usr/bin/env bash
# FIFOs where the program keeps its own files (settings.ini, database.tsv, crates.tsv, the karaoke
# queue, midi.tsv): the program still starts under a private display, names each refused file in
# its log, and ends cleanly on SIGTERM; the tool reading the library returns at once.
# Cost: 5
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix veldmix-tool Xvfb xdpyinfo xwininfo
private_home
no_sound_server
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"

data="$HOME/.local/share/Veldmix"
rm -f "$settings"
for name in settings.ini database.tsv crates.tsv karaoke.tsv midi.tsv; do
  mkfifo "$data/$name" || fail "mkfifo $name"
done

# Whatever happens, nobody is left waiting on a FIFO: at the end each gets a writer that goes at once.
e2e_on_fail() { for f in "$data"/*.tsv "$data/settings.ini"; do [ -p "$f" ] && timeout 1 sh -c ": >'$f'"; done; }

window_shown() { xwininfo -root -tree 2>/dev/null | grep -qF '"VELDMIX 1.0.10"'; }
"$app" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 20 window_shown || fail "the main window did not appear with FIFOs in the data folder"
for name in settings.ini database.tsv crates.tsv karaoke.tsv midi.tsv; do
  wait_for 5 log_has "Refused to read $data/$name: it is not a regular file" || fail "the log does not name $name"
done
kill -TERM "$app_pid"
code=0
for _ in $(seq 1 100); do
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$app_pid" 2>/dev/null && fail "the program did not end within 10 s of SIGTERM"
wait "$app_pid" || code=$?
[ "$code" = 0 ] || fail "SIGTERM ended the program with $code: $(cat "$work/app.out")"
[ -p "$data/database.tsv" ] || fail "database.tsv was replaced"

# The tool reads the library and the crates the same way.
for command in "crates" "search anything"; do
  # shellcheck disable=SC2086  # the command's words
  timeout 20 "$tool" $command >"$work/tool.out" 2>&1
  code=$?
  [ "$code" != 124 ] || fail "veldmix-tool $command hung on the FIFOs"
done
[ -p "$data/crates.tsv" ] || fail "crates.tsv was replaced"
echo "fifo_files: OK"
