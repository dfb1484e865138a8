#!/usr/bin/env bash
# The AI set builder in the real program under a virtual display, against the Ollama stand-in on
# 127.0.0.1: the browser's AI tools menu opens the form (its title read by OCR); BUILD greys the
# menu entry to "AI set builder (working…)" and lights the AI button while the server thinks; the
# set's list appears in the sidebar. A second job whose server never answers does not hold up the
# close: the program ends within about a second, with code 0 and no crash report.
# Labels: slow
# Cost: 53
set -u

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix Xvfb xdpyinfo xwininfo xdotool import convert tesseract ffmpeg pactl
artifacts="$build/e2e-artifacts/ai_set_live"
mkdir -p "$artifacts"
app_pid="" standin_pid=""
e2e_on_fail() { cp "$work"/*.png "$artifacts/" 2>/dev/null; }

own_sound_server unless-shared
private_home
mkdir -p "$work/music" "$work/requests" "$(dirname "$settings")"
for i in 1 2 3 4 5 6; do
  ffmpeg -nostdin -loglevel error -y -f lavfi -i "sine=frequency=$((200 + 50 * i)):duration=30" \
    -metadata title="Song $i" -metadata artist="Band $i" -c:a flac "$work/music/song$i.flac" || fail "ffmpeg failed"
done

echo '{"chat":{"mode":"answer","delay":10,"content":"{\"name\":\"Sunset Run\",\"tracks\":[2,1,3]}"}}' >"$work/script.json"
/usr/bin/python3 "$source_dir/tests/support/ollama_standin.py" "$work/port" "$work/script.json" "$work/requests" &
standin_pid=$!
wait_for 10 test -s "$work/port" || fail "the stand-in server did not start"
printf '[Tour]\nDone=1\n[Library]\nCount=1\nFolder0=%s\n[AI]\nUrl=http://127.0.0.1:%s\n' "$work/music" "$(cat "$work/port")" >"$settings"

start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 -dpi 96 || fail "no virtual display could be started"
window_id() {
  local id
  for id in $(xwininfo -root -tree 2>/dev/null | grep -E '"VELDMIX [0-9.]+"' | awk '{print $1}'); do
    timeout 10 xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && { echo "$id"; return 0; }
  done
  return 1
}
alive() { kill -0 "$app_pid" 2>/dev/null || fail "veldmix exited: $(tail -n 5 "$work/app.out")"; }
menu_window() {
  local id
  for id in $(xwininfo -root -children 2>/dev/null | awk '/^ +0x/ {print $1}'); do
    xwininfo -id "$id" -all 2>/dev/null | grep -q 'Override Redirect State: yes' &&
      xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && { echo "$id"; return 0; }
  done
  return 1
}
geometry() {  # window id: x y w h
  timeout 5 xwininfo -id "$1" 2>/dev/null | awk -F: '/Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2}
    /Width/ {w=$2} /Height/ {h=$2} END {print x+0, y+0, w+0, h+0}'
}
shot() { screen_shot "$work/$1.png" || fail "no screenshot $1"; }
# words FILE: each word tesseract reads, with its box: left top width height text.
words() {
  convert "$1" -resize 200% -colorspace Gray -negate "$work/ocr.png" &&
    OMP_THREAD_LIMIT=1 tesseract "$work/ocr.png" - --psm 11 tsv 2>/dev/null |
    awk -F'\t' 'NR > 1 && $12 != "" && $11 > 30 {print int($7 / 2), int($8 / 2), int($9 / 2), int($10 / 2), $12}'
}
ocr_text() {  # file geometry [mode]: the text read in that part of the screen
  convert "$1" -crop "$2" +repage -resize 300% -colorspace Gray -negate "$work/crop.png" &&
    OMP_THREAD_LIMIT=1 tesseract "$work/crop.png" - --psm "${3:-6}" 2>/dev/null | tr '\n' ' '
}

"$app" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 30 eval '[ -n "$(window_id)" ]' || { alive; fail "the main window did not appear"; }
wait_for 20 eval 'shot start; ocr_text "$work/start.png" 120x30+1460+600 7 | grep -q "6 tracks"' || fail "the view never showed 6 tracks"
read -r tx ty tw th < <(words "$work/start.png" | awk '$5 == "TOOLS" {print $1, $2, $3, $4; exit}')
[ -n "${tx:-}" ] || fail "no AI · TOOLS button read on the screen"
ai_x=$((tx + tw / 2)) ai_y=$((ty + th / 2))
# open_menu NAME: clicks the AI button, waits for the menu window, screenshots it; sets menu geometry.
open_menu() {
  xdotool mousemove "$ai_x" "$ai_y" click 1
  wait_for 5 eval 'menu="$(menu_window)"' || { alive; fail "the AI button opened no menu"; }
  sleep 0.4
  read -r mx my mw mh <<<"$(geometry "$menu")"
  shot "$1"
  menu_text="$(ocr_text "$work/$1.png" "${mw}x$((mh < 60 ? mh : 60))+$mx+$my")"
}

# --- The menu entry opens the form ---
open_menu menu
grep -q "set builder" <<<"$menu_text" || fail "the AI tools menu has no set builder entry ($menu_text)"
xdotool mousemove $((mx + 60)) $((my + 18)) click 1
wait_for 5 eval 'shot form; ocr_text "$work/form.png" 620x40+530+365 7 | grep -q "set builder — picks from the 6 tracks in view"' ||
  fail "the form's title reads \"$(ocr_text "$work/form.png" 620x40+530+365 7)\""

# --- BUILD: the entry greys and the button lights while the server thinks; then the list ---
xdotool type --delay 20 "sunset warm up"
xdotool key Return
sleep 0.5
open_menu working_menu
grep -q "set builder (working" <<<"$menu_text" || fail "the entry does not read \"AI set builder (working…)\" ($menu_text)"
button="$(ocr_text "$work/working_menu.png" "$((tw + 60))x$((th + 12))+$((tx - 30))+$((ty - 6))" 7)"
grep -q "TOOLS" <<<"$button" && fail "the AI button still reads \"$button\" while the job runs"
xdotool key Escape
wait_for 5 eval '! menu_window >/dev/null' || fail "Esc left the menu open"
wait_for 15 eval 'shot listed; ocr_text "$work/listed.png" 220x140+60+740 | grep -q "Sunset Run"' ||
  fail "the set's list never appeared in the sidebar ($(ocr_text "$work/listed.png" 220x140+60+740))"
list_file="$(find "$HOME/.local/share/Veldmix" -name 'AI · Sunset Run.m3u8')"
[ -n "$list_file" ] || fail "no list file \"AI · Sunset Run.m3u8\""
[ "$(grep -v '^#' "$list_file" | tr -d '\r\357\273\277')" = "$(printf '%s\n' "$work/music/song2.flac" "$work/music/song1.flac" "$work/music/song3.flac")" ] ||
  fail "the list holds $(cat "$list_file")"

# --- A job whose server never answers does not hold up the close ---
echo '{"chat":{"mode":"silence"}}' >"$work/script.json"
open_menu menu2
xdotool mousemove $((mx + 60)) $((my + 18)) click 1
wait_for 5 eval 'shot form2; ocr_text "$work/form2.png" 620x40+530+365 7 | grep -q "set builder"' || fail "the form did not open again"
xdotool key Return
chats() { ls "$work/requests" | grep -c POST_api_chat; }
wait_for 10 eval '[ "$(chats)" -ge 2 ]' || fail "the second job never asked the server"
sleep 0.5
start=$(date +%s%N)
/usr/bin/python3 "$source_dir/tests/support/close_window.py" "$(window_id)"
wait_for 10 eval '! kill -0 "$app_pid" 2>/dev/null' || fail "veldmix did not end after its window was closed"
elapsed=$((($(date +%s%N) - start) / 1000000))
wait "$app_pid"
code=$?
app_pid=""
echo "closed with a job waiting on the server in ${elapsed} ms, exit code $code"
[ "$code" = 0 ] || fail "veldmix exited with $code"
[ "$elapsed" -lt 2500 ] || fail "closing took ${elapsed} ms with the job waiting"
state="$HOME/.local/state/Veldmix"
[ ! -e "$state/last-crash" ] && [ -z "$(find "$state" -name '*.dmp')" ] || fail "a crash was reported"
grep -q "Veldmix closed" "$log" || fail "the log has no orderly close"

kill "$standin_pid" 2>/dev/null
echo "PASS: AI set builder in the program"
