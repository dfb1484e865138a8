#!/usr/bin/env bash
# The karaoke panel in the real program, driven by the mouse and keys: opening it in the
# PERFORMANCE layout switches to FULL (saved); a library row dragged onto a singer row queues the
# song for them; the singer menu moves a singer up, re-opens a sung song and removes a song, each
# in karaoke.tsv at once; the wheel scrolls 30 singers to the last and no further.
# Cost: 27
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/main_window.sh"
need veldmix veldmix-tool Xvfb xdpyinfo xwininfo xdotool tesseract convert import sox
private_home
export OMP_THREAD_LIMIT=1
no_sound_server
start_private_display "$work/xvfb.log" -screen 0 1920x1080x24 || fail "no virtual display could be started"

data="$HOME/.local/share/Veldmix"
queue="$data/karaoke.tsv"
mkdir -p "$data" "$work/music"
app_pid=""
e2e_on_fail() { import -window root "${KARAOKE_SHOT:-/dev/null}" 2>/dev/null || true; }

sox -n -r 44100 -c 2 "$work/music/Dropped Song.wav" synth 5 sine 440 vol 0.3
printf '[Tour]\r\nDone=1\r\n[Look]\r\nLayout=2\r\n[Library]\r\nCount=1\r\nFolder0=%s\r\nSelected=0\r\n' "$work/music" >"$data/settings.ini"
{
  printf '\357\273\277onstage\t-1\n'
  printf 'singer\tSinger 1\nsong\t1\t0\t/m/one.mp3\tFirst\t\nsong\t0\t0\t/m/two.mp3\tSecond\t\n'
  for i in $(seq 2 30); do printf 'singer\tSinger %d\nsong\t0\t0\t/m/s%d.mp3\tSong %d\t\n' "$i" "$i" "$i"; done
} >"$queue"

"$app" >>"$work/app.out" 2>&1 &
app_pid=$!
fit_main_window --karaoke 30
centre() {  # centre NAME: "x y" on the screen
  local x y w h
  read -r x y w h <<<"${at[$1]:?no rectangle $1}"
  echo "$((wx + x + w / 2)) $((wy + y + h / 2))"
}
row_text() {  # row_text K: the OCR of rotation row K, spaces left out (OCR drops some)
  local x y w h
  read -r x y w h <<<"${at[karaoke.row.$1]}"
  read_text "$((w - 60))" "$h" $((wx + x)) $((wy + y)) | tr -d ' '
}
menu() {  # menu ROW KEYS...: right-click the row, then the keys
  local row=$1
  shift
  read -r mx my <<<"$(centre "karaoke.row.$row")"
  xdotool mousemove "$mx" "$my" click 3
  sleep 0.5
  xdotool key "$@"
  sleep 0.5
}
singers() { grep -aoP '^(\xef\xbb\xbf)?singer\t\K.*' "$queue" | tr '\n' ','; }

# --- PERFORMANCE opens the panel in FULL ---
xdotool key ctrl+k
wait_for 5 grep -q '^Layout=0' "$data/settings.ini" || fail "opening the panel in PERFORMANCE did not save FULL"
first_row_reads() { text="$(row_text 0)" && [[ "$text" == *"Singer1"* ]]; }
wait_for 5 first_row_reads || fail "the first row reads: $text"

# --- A library row dropped on a singer queues the song ---
read -r bx by <<<"$(centre karaoke.browserrow)"
read -r sx sy <<<"$(centre karaoke.row.1)"
xdotool mousemove "$bx" "$by" mousedown 1
sleep 0.2
for step in 1 2 3 4 5 6 7 8; do
  xdotool mousemove $((bx + (sx - bx) * step / 8)) $((by + (sy - by) * step / 8))
  sleep 0.05
done
sleep 0.2
xdotool mouseup 1
dropped_queued() {
  /usr/bin/python3 - "$queue" "$work/music/Dropped Song.wav" 2>/dev/null <<'PY'
import sys
lines = open(sys.argv[1], encoding="utf-8-sig").read().split("\n")
i = lines.index("singer\tSinger 2")
assert lines[i + 2] == "song\t0\t0\t" + sys.argv[2] + "\tDropped Song\t", lines[i:i + 3]
PY
}
wait_for 5 dropped_queued || fail "the dropped row was not queued for Singer 2: $(head -c 300 "$queue")"

# --- The singer menu: Move up, Sing again, Remove a song ---
# The dropped row stays selected, so "Add “Dropped Song”" is on too.
menu 1 Down Down Down Down Return  # Singer 2: Sing now, Add, Remove a song, Move up
[[ "$(singers)" == "Singer 2,Singer 1,Singer 3,"* ]] || fail "Move up left: $(singers)"
menu 1 Down Down Down Down Right Return  # Singer 1 (second now): Sing now, Add, Remove, Sing again > First
grep -qaP '^song\t0\t0\t/m/one.mp3\tFirst\t$' "$queue" || fail "Sing again did not clear the sung mark"
menu 1 Down Down Down Right Down Return  # Sing now, Add, Remove a song > Second
/usr/bin/python3 - "$queue" <<'PY' || fail "Remove a song took the wrong song: $(head -c 300 "$queue")"
import sys
lines = open(sys.argv[1], encoding="utf-8-sig").read().split("\n")
i = lines.index("singer\tSinger 1")
assert lines[i + 1] == "song\t0\t0\t/m/one.mp3\tFirst\t" and lines[i + 2].startswith("singer\t"), lines[i:i + 3]
PY

# --- The wheel scrolls to the last singer and no further ---
read -r lx ly <<<"$(centre karaoke.list)"
xdotool mousemove "$lx" "$ly"
for _ in $(seq 1 25); do xdotool click 5; done
sleep 0.5
shown=0
for k in $(seq 0 29); do [ -n "${at[karaoke.row.$k]:-}" ] && shown=$((k + 1)); done
text="$(row_text $((shown - 1)))"
[[ "$text" == *"30"* ]] || fail "after the wheel the last row reads: $text"
text="$(row_text 0)"
[[ "$text" == *"$((30 - shown + 1))"* ]] || fail "the list scrolled past the last singer: the first row reads $text"

kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
echo "PASS: karaoke panel"
