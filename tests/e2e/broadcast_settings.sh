#!/usr/bin/env bash
# Labels: slow
# Cost: 120
# The Broadcast and Video settings pages in the real program under a virtual display, clicked
# where `veldmix-tool layout --settings` says each widget is drawn, against a real icecast2 and a
# loopback HTTPS speed-test stand-in. Broadcast: typed rows land in settings.ini (an accented
# stream name pasted); the port form refuses 0, 65535 and a 20-digit number and keeps the old
# port; the password shows as bullets and is stored sealed (opened again by libcrypto); SHOUTCAST
# hides the mount row; GO LIVE puts the source on icecast with the accented name in its stats and
# STOP takes it off; the speed check is refused while live, then shows its tiles and verdicts;
# each live-video service keeps its own key; the phone remote switched ON shows its PIN and
# counts a phone, OFF stops it; GO LIVE VIDEO to a custom address reaches nginx-rtmp with 720p
# H.264 and AAC, STOP ends it. Video: the button opens the video window and its
# caption follows F8; a hand-written Height of 900 shows 720p; each row writes its key; the
# INVERT effect changes the preview.
# Screenshots go to $VELDMIX_BUILD/e2e-artifacts/broadcast_settings.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/settings_ini.sh"
need veldmix veldmix-tool python3 Xvfb xwininfo xdotool xprop xclip openbox import convert tesseract icecast2 \
  openssl sox curl nginx ffprobe
artifacts="$build/e2e-artifacts/broadcast_settings"
rm -rf "$artifacts"
mkdir -p "$artifacts"
private_home
own_sound_server
seal="/usr/bin/python3 $source_dir/tests/support/seal_secret.py"
export NO_PROXY=127.0.0.1,localhost no_proxy=127.0.0.1,localhost OMP_THREAD_LIMIT=1  # tesseract: one thread is faster here

# --- Peers: icecast2 and the speed-test stand-in, on free loopback ports ---
read -r ice_port <<<"$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
password='hackme'
mkdir "$work/icelog"
owner=''
if [ "$(id -u)" = 0 ]; then
  chmod o+x "$work" && chown icecast2 "$work/icelog"
  owner='<changeowner><user>icecast2</user><group>icecast</group></changeowner>'
fi
cat >"$work/icecast.xml" <<XML
<icecast>
  <location>test</location><admin>test@localhost</admin>
  <limits><clients>10</clients><sources>2</sources><source-timeout>10</source-timeout></limits>
  <authentication><source-password>$password</source-password>
    <admin-user>admin</admin-user><admin-password>adminpw</admin-password></authentication>
  <hostname>127.0.0.1</hostname>
  <listen-socket><port>$ice_port</port><bind-address>127.0.0.1</bind-address></listen-socket>
  <paths><basedir>/usr/share/icecast2</basedir><logdir>$work/icelog</logdir>
    <webroot>/usr/share/icecast2/web</webroot><adminroot>/usr/share/icecast2/admin</adminroot></paths>
  <logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog><loglevel>3</loglevel></logging>
  <security><chroot>0</chroot>$owner</security>
</icecast>
XML
icecast2 -c "$work/icecast.xml" >"$work/icecast.out" 2>&1 &
ice_up() { /usr/bin/python3 -c "import socket; socket.create_connection(('127.0.0.1',$ice_port),1)" 2>/dev/null; }
wait_for 10 ice_up || fail "icecast2 did not start"
# One field of the /live source in icecast's stats; empty while no source is on it.
stat() {
  /usr/bin/python3 - "$ice_port" "$1" <<'PY'
import base64, sys, urllib.request, xml.etree.ElementTree as ET
port, field = sys.argv[1:3]
req = urllib.request.Request(f"http://127.0.0.1:{port}/admin/stats",
                             headers={"Authorization": "Basic " + base64.b64encode(b"admin:adminpw").decode()})
try:
    root = ET.fromstring(urllib.request.urlopen(req, timeout=3).read())
except Exception:
    sys.exit(0)
for s in root.findall("source"):
    if s.get("mount") == "/live" and s.find(field) is not None:
        print(s.find(field).text or "")
PY
}
on_air() { [ -n "$(stat server_name)" ]; }
off_air() { ! on_air; }

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
/usr/bin/python3 "$source_dir/tests/broadcast/speed_server.py" "$work/cert.pem" "$work/key.pem" "$work/speed-port" 200 \
  2>/dev/null &
wait_for 5 test -s "$work/speed-port" || fail "the speed-test stand-in did not start"
export SSL_CERT_FILE="$work/cert.pem" VELDMIX_SPEED_SERVER="https://127.0.0.1:$(cat "$work/speed-port")"

# --- The program: a tone on deck A (the video mix shows its name), a hand-written Height ---
sox -n -r 44100 -c 2 -b 16 "$work/Tone.wav" synth 60 sine 440 vol 0.3
read -r remote_port <<<"$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
printf '[Tour]\nDone=1\n[Video]\nHeight=900\n[Remote]\nPin=2468\nPort=%s\n' "$remote_port" >"$settings"
start_private_display "$work/xvfb.log" -screen 0 1920x1080x24 -dpi 96 || fail "no virtual display could be started"
start_private_wm "$work/openbox.log" || fail "openbox did not start"
"$app" "$work/Tone.wav" >>"$work/app.out" 2>&1 &
app_pid=$!
source "$source_dir/tests/support/main_window.sh"
fit_main_window --settings 3
xdotool windowactivate --sync "$(window_id)" 2>/dev/null || true
# The rectangles of another settings tab.
use_tab() { while read -r name x y w h; do at[$name]="$x $y $w $h"; done < <("$tool" layout "$ww" "$wh" --settings "$1"); }
box() {  # id: x y w h of the widget on the screen
  local x y w h
  read -r x y w h <<<"${at[id.$1]:?no widget $1}"
  echo $((wx + x)) $((wy + y)) "$w" "$h"
}
shot() { screen_shot "$artifacts/$1.png" || fail "no screenshot $1"; }
ocr() {  # name x y w h (on the screen); the screenshot is kept
  shot "$1"
  read_text "$4" "$5" "$2" "$3"
}
ocr_widget() {  # name id: the text inside a widget
  local x y w h
  read -r x y w h <<<"$(box "$2")"
  ocr "$1" "$x" "$y" "$w" "$h"
}
opens_to() { [ "$($seal --open "$HOME/.config" "$(ini "$1" "$2")")" = "$3" ]; }
type_into() {  # id text: the row's form cleared and given the text, then saved
  click "id.$1"
  xdotool key --delay 5 --repeat 40 BackSpace
  xdotool type --delay 40 "$2"
  xdotool key Return
  sleep 0.3
}

click id.2
sleep 0.3
click id.3003
shot broadcast

# --- Typed rows ---
type_into 3042 127.0.0.1
expect_ini Broadcast Host 127.0.0.1 "Server address"
for bad in 0 65535 99999999999999999999; do
  type_into 3043 "$bad"
  sleep 0.3
  expect_ini Broadcast Port 8000 "the port form given $bad"
done
type_into 3043 "$ice_port"
expect_ini Broadcast Port "$ice_port" "the port form given a free port"
type_into 3046 "$password"
wait_for 5 opens_to Broadcast Password "$password" ||
  fail "the password is stored as '$(ini Broadcast Password)', which does not open to what was typed"
# Bullets: one light dot per character, nothing else in the box (the text would join into letters).
read -r x y w h <<<"$(box 3046)"
shot password
dots="$(convert "$artifacts/password.png" -crop "$((w - 44))x$h+$((x + 10))+$y" +repage -colorspace Gray -threshold 50% \
  -define connected-components:verbose=true -connected-components 8 null: | awk '/gray\(255\)/ && $4 < 40' | wc -l)"
[ "$dots" = ${#password} ] || fail "the password box shows $dots dots for a ${#password}-character password"
name='Café Ñandú über'
click id.3047
xdotool key --delay 5 --repeat 40 BackSpace
printf '%s' "$name" | xclip -selection clipboard -quiet >/dev/null 2>&1 &
clipboard_ready() { [ "$(xclip -selection clipboard -o 2>/dev/null)" = "$name" ]; }
wait_for 5 clipboard_ready || fail "xclip did not take the clipboard"
xdotool key ctrl+v Return
expect_ini Broadcast Name "$name" "Stream name"
click id.3051
expect_ini Broadcast Bitrate 320 "Quality 320k"
click id.3041
expect_ini Broadcast Type 1 "SHOUTCAST"
read -r x y _ _ <<<"$(box 3040)"
labels="$(ocr labels $((x - 158)) "$y" 150 300)"
[[ "$labels" != *Mount* && "$labels" == *Password* ]] || fail "with SHOUTCAST the rows read '$labels'"
click id.3040
expect_ini Broadcast Type 0 "ICECAST 2"
expect_ini Broadcast Mount /live "the mount kept through SHOUTCAST"

# --- GO LIVE, the speed check refused while live, STOP ---
click id.3052
wait_for 15 on_air || fail "GO LIVE did not put a source on icecast: $(tail -3 "$log" 2>/dev/null)"
[ "$(stat server_name)" = "$name" ] || fail "icecast's stats name the stream '$(stat server_name)', not '$name'"
read -r x y w h <<<"$(box 3660)"
xdotool mousemove $((x + w / 2)) $((y + 20 + h / 2)) click 1  # the on-air line moved it 20 down
says_stop_first() { [[ "$text" == *"Stop the stream first"* ]]; }
burst_reads 900 34 $((wx + ww / 2 - 450)) $((wy + 100)) says_stop_first ||
  fail "the speed check while live said '$text'"
click id.3052
wait_for 10 off_air || fail "STOP left the source on icecast"

# --- The phone remote: ON starts it, the page shows its PIN and counts a phone; OFF stops it ---
phone() { curl --noproxy '*' -s --max-time 3 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$remote_port/api/state?pin=2468"; }
click id.3461
expect_ini Remote On 1 "Remote ON"
answers() { [ "$(phone)" = 200 ]; }
wait_for 5 answers || fail "with the remote ON nothing answers on port $remote_port"
read -r x y w _ <<<"$(box 3460)"
remote_reads() {
  local text
  text="$(ocr remote $((x - 158)) $((y + 40)) $((w * 2 + 162)) 80)"
  echo "$text" >"$artifacts/remote.txt"
  [[ "$text" == *2468* && "$text" == *"1 phone connected"* && ("$text" == *http://* || "$text" == *"no network"*) ]]
}
wait_for 5 remote_reads || fail "with a phone on the remote the rows read '$(cat "$artifacts/remote.txt")'"
click id.3460
expect_ini Remote On 0 "Remote OFF"
silent() { [ "$(phone)" = 000 ]; }
wait_for 5 silent || fail "with the remote OFF port $remote_port still answers"

# --- The speed check: tiles and verdicts ---
click id.3660
read -r x y w _ <<<"$(box 3660)"
speed_done() { grep -q "Speed check: .* Mbit/s down" "$log"; }
wait_for 40 speed_done || fail "the speed check did not finish: $(ocr speed "$x" $((y - 190)) "$w" 190)"
# The verdicts and "Checked" take 44 more than the idle help line: the section reaches lower.
speed_reads() {
  speed="$(ocr speed $((x - 4)) $((y - 180)) $((w + 200)) 230)"
  echo "$speed" >"$artifacts/speed.txt"
  [[ "$speed" == *DOWNLOAD* && "$speed" == *Plenty* && "$speed" == *320k* && "$speed" == *Checked* ]]
}
wait_for 10 speed_reads || fail "after the check the section reads '$speed'"
[ "$(grep -c "Speed check:" "$log")" = 1 ] || fail "the finished check was logged $(grep -c "Speed check:" "$log") times"

# --- Each live-video service keeps its key ---
click id.3571
expect_ini LiveVideo Service 1 "TWITCH"
type_into 3562 twitch-key-1
click id.3570
type_into 3562 yt-key-0
wait_for 5 opens_to LiveVideo Key0 yt-key-0 || fail "YouTube's key is stored as '$(ini LiveVideo Key0)'"
wait_for 5 opens_to LiveVideo Key1 twitch-key-1 || fail "Twitch's key is stored as '$(ini LiveVideo Key1)'"
click id.3575
expect_ini LiveVideo Height 1080 "Picture 1080p"

# --- GO LIVE VIDEO to a custom server: the video mix and the tone reach nginx-rtmp; STOP ends it ---
source "$source_dir/tests/support/nginx_rtmp.sh"
mkdir -p "$work/nginx"
nginx_rtmp_start "$work/nginx" || fail "nginx-rtmp did not start"
trap 'nginx_rtmp_stop "$work/nginx" >/dev/null 2>&1; e2e_cleanup' EXIT
source "$work/nginx/ports"
click id.3573
expect_ini LiveVideo Service 3 "CUSTOM"
# The custom service has a typed address row: the page as it now is.
while read -r name x y w h; do at[$name]="$x $y $w $h"; done < <("$tool" layout "$ww" "$wh" --settings 3 --load-settings)
type_into 3561 "rtmp://127.0.0.1:$rtmp/live"
expect_ini LiveVideo Url "rtmp://127.0.0.1:$rtmp/live" "the custom server address"
type_into 3562 page-key
click id.3574
expect_ini LiveVideo Height 720 "Picture 720p"
flv="$work/nginx/rec/page-key.flv"
flv_size() { if [ -f "$flv" ]; then wc -c <"$flv"; else echo 0; fi; }
click id.3564
recording() { [ "$(flv_size)" -gt 300000 ]; }
wait_for 30 recording || fail "GO LIVE VIDEO sent nginx-rtmp $(flv_size) bytes: $(tail -3 "$log" 2>/dev/null)"
live_line() {  # the line under the Video row: time on air and what went where
  local x y _ h
  read -r x y _ h <<<"$(box 3564)"
  ocr live_line $((x - 290)) $((y + h + 2)) 480 26
}
on_air_line() { [[ "$(live_line)" == *"sent to CUSTOM"* ]]; }
wait_for 10 on_air_line || fail "while live the line under Video reads '$(live_line)'"
click id.3564
steady() {
  local before
  before="$(flv_size)"
  sleep 1
  [ "$(flv_size)" = "$before" ]
}
wait_for 10 steady || fail "STOP left the stream running"
off_air_line() { [[ "$(live_line)" != *"on air"* ]]; }
wait_for 5 off_air_line || fail "after STOP the line under Video still reads '$(live_line)'"
streams="$(ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 "$flv" | tr '\n' ' ')"
echo "$streams" >"$artifacts/live_video.txt"
[[ "$streams" == *"h264,1280,720"* && "$streams" == *aac* ]] || fail "nginx recorded '$streams'"

# --- Video: the window and its caption, Height 900 as 720p, rows ---
click id.3007
use_tab 7
# grep reads the whole list: with pipefail, quitting at the first match would fail xwininfo's write.
video_open() { xwininfo -root -tree 2>/dev/null | grep -F '"Veldmix — Video"' >/dev/null; }
video_closed() { ! video_open; }
lit() {  # id: the widget's mean brightness, lit buttons are brighter
  local x y w h
  read -r x y w h <<<"$(box "$1")"
  shot lit
  convert "$artifacts/lit.png" -crop "${w}x$h+$x+$y" +repage -colorspace Gray -format '%[fx:mean]' info:
}
brighter() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b * 1.2) }'; }
lit720="$(lit 3448)" lit1080="$(lit 3449)"
echo "720p $lit720, 1080p $lit1080" >"$artifacts/lit.txt"
brighter "$lit720" "$lit1080" || fail "with Height 900 the 720p button is not the lit one"
click id.3440
wait_for 10 video_open || fail "OPEN THE VIDEO SCREEN opened no window"
# Out of the way of the button (it opens centred on the main window).
video_id="$(xwininfo -root -tree | grep -F '"Veldmix — Video"' | awk '{print $1; exit}')"
xdotool windowmove "$((video_id))" 940 520
sleep 0.5
caption_is() { [[ "$(ocr_widget caption 3440)" == *"$1"* ]]; }
wait_for 5 caption_is CLOSE || fail "with the window open the button reads '$(ocr_widget caption 3440)'"
xdotool windowactivate --sync "$(window_id)" 2>/dev/null || true
xdotool key F8
wait_for 10 video_closed || fail "F8 left the video window open"
wait_for 5 caption_is OPEN || fail "after F8 the button reads '$(ocr_widget caption 3440)'"
click id.3451
expect_ini Video Transition 1 "WIPE"
preview() {  # the mean brightness of the preview's lower left (it ends 68 above the REC row)
  local x y
  read -r x y _ _ <<<"$(box 3446)"
  shot preview
  convert "$artifacts/preview.png" -crop "200x100+$((x - 158 + 20))+$((y - 68 - 110))" +repage -colorspace Gray \
    -format '%[fx:mean]' info:
}
before="$(preview)"
for _ in 1 2 3 4; do click id.3443; done
expect_ini Video Effect 4 "four steps on from NONE"
after="$(preview)"
echo "preview brightness $before, with INVERT $after" >"$artifacts/preview.txt"
brighter "$after" "$before" || fail "INVERT left the preview at $after (was $before)"
click id.3444
expect_ini Video Overlay 0 "track titles OFF"
click id.3447
expect_ini Video Record 1 "SOUND + VIDEO (MP4)"
click id.3449
expect_ini Video Height 1080 "1080p"
click id.3448
expect_ini Video Height 720 "720p"
shot video
xdotool key Escape
kill -TERM "$app_pid"
wait_for 20 sh -c "! kill -0 $app_pid 2>/dev/null" || fail "the program did not end after SIGTERM"
wait "$app_pid" || fail "the program ended with an error"
echo "broadcast_settings: PASS"
