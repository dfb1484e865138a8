#!/usr/bin/env bash
# veldmix-tool stream plays a WAV through the real engine and streams the mix as MP3 to a real
# icecast2 on loopback: as an Icecast source and as a Shoutcast v1 source (login on port + 1).
# A listener (ffmpeg) decodes stereo sound; the stats show the stream name and the titles (the
# Icecast one with accents intact); about 192 kbit/s goes out; a wrong password gives the server's
# refusal text, and so does a full server (one source at most), in its own words; stopping is
# quick.
# Cost: 63
set -u
tool="$VELDMIX_BUILD/veldmix-tool"
py=/usr/bin/python3
work=$(mktemp -d)
ice_pid=""
stream_pid=""
cleanup() {
  [ -n "$stream_pid" ] && kill "$stream_pid" 2>/dev/null && wait "$stream_pid" 2>/dev/null
  if [ -n "$ice_pid" ]; then kill "$ice_pid" 2>/dev/null; wait "$ice_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }

# Two free ports: one for the normal listen socket, one whose next port is free too (Shoutcast).
read -r port shout <<<"$($py - <<'PY'
import socket
def free(p=0):
    s = socket.socket(); s.bind(("127.0.0.1", p)); n = s.getsockname()[1]; s.close(); return n
a = free()
while True:
    b = free()
    try:
        free(b + 1)
    except OSError:
        continue
    if a not in (b, b + 1):
        break
print(a, b)
PY
)"
password='hä ckme'
mkdir "$work/log"
if [ "$(id -u)" = 0 ]; then
  chmod o+x "$work" && chown icecast2 "$work/log"
  owner='<changeowner><user>icecast2</user><group>icecast</group></changeowner>'
else
  owner=''
fi
cat >"$work/icecast.xml" <<XML
<icecast>
  <location>test</location><admin>test@localhost</admin>
  <limits><clients>20</clients><sources>1</sources><source-timeout>10</source-timeout></limits>
  <authentication><source-password>$password</source-password>
    <admin-user>admin</admin-user><admin-password>adminpw</admin-password></authentication>
  <hostname>127.0.0.1</hostname>
  <listen-socket><port>$port</port><bind-address>127.0.0.1</bind-address></listen-socket>
  <listen-socket><port>$shout</port><bind-address>127.0.0.1</bind-address>
    <shoutcast-mount>/sc</shoutcast-mount></listen-socket>
  <paths><basedir>/usr/share/icecast2</basedir><logdir>$work/log</logdir>
    <webroot>/usr/share/icecast2/web</webroot><adminroot>/usr/share/icecast2/admin</adminroot></paths>
  <logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog><loglevel>3</loglevel></logging>
  <security><chroot>0</chroot>$owner</security>
</icecast>
XML
icecast2 -c "$work/icecast.xml" >/dev/null 2>&1 &
ice_pid=$!

# stat MOUNT FIELD: one field of a mount in /admin/stats (empty when absent)
stat() {
  $py - "$port" "$1" "$2" <<'PY'
import base64, sys, urllib.request, xml.etree.ElementTree as ET
port, mount, field = sys.argv[1:4]
req = urllib.request.Request(f"http://127.0.0.1:{port}/admin/stats",
                             headers={"Authorization": "Basic " + base64.b64encode(b"admin:adminpw").decode()})
try:
    root = ET.fromstring(urllib.request.urlopen(req, timeout=3).read())
except Exception:
    sys.exit(0)
for s in root.findall("source"):
    if s.get("mount") == mount and s.find(field) is not None:
        print(s.find(field).text or "")
PY
}
wait_for() {  # wait_for SECONDS COMMAND...
  local end=$((SECONDS + $1)); shift
  until "$@"; do [ $SECONDS -ge $end ] && return 1; sleep 0.2; done
}
server_up() { $py -c "import socket,sys; socket.create_connection(('127.0.0.1',$port),1)" 2>/dev/null; }
on_air() { [ -n "$(stat "$1" server_name)" ]; }
# on_air_from ERR MOUNT: the tool says it went on air (a loaded machine starts it late; the wait is
# for that state, not a measure), then the server lists the mount. The streams last 20 s: on a
# loaded machine the listener and the stats read after it took over 11 s.
on_air_from() { wait_for 60 grep -qx "stream: on air" "$1" && wait_for 6 on_air "$2"; }
# level FILE CHANNEL: RMS amplitude of one channel
level() { sox "$1" -n remix "$2" stat 2>&1 | awk '/RMS +amplitude/ {print $3}'; }
above() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }

check "icecast2 starts" 'wait_for 10 server_up'
sox -n -r 48000 -c 2 -b 16 "$work/tone.wav" synth 30 sine 440 sine 660 vol 0.5

# --- Icecast source -------------------------------------------------------------------------
title='Café Ñandú Über'
"$tool" stream "$work/tone.wav" --host 127.0.0.1 --port "$port" --mount /live --password "$password" \
  --title "$title" --seconds 20 >"$work/ice.out" 2>"$work/ice.err" &
stream_pid=$!
check "the Icecast stream goes on air" 'on_air_from "$work/ice.err" /live'
timeout 15 ffmpeg -v error -y -t 3 -i "http://127.0.0.1:$port/live" -c:a pcm_s16le "$work/ice.wav"
chans=$(ffprobe -v error -show_entries stream=channels -of csv=p=0 "$work/ice.wav" 2>/dev/null)
check "the listener decodes stereo (got '$chans')" '[ "$chans" = 2 ]'
left=$(level "$work/ice.wav" 1); right=$(level "$work/ice.wav" 2)
check "both channels carry the tone (RMS $left / $right)" 'above "${left:-0}" 0.1 && above "${right:-0}" 0.1'
check "the stats show the stream name" '[ "$(stat /live server_name)" = "Veldmix live mix" ]'
title_is() { [ "$(stat /live title)" = "$1" ]; }
check "the accented title arrives intact (got '$(stat /live title)')" 'wait_for 3 title_is "$title"'
wait "$stream_pid"; rc=$?; stream_pid=""
check "the Icecast run ends on air (exit $rc: $(tail -1 "$work/ice.err"))" '[ $rc = 0 ]'
stop_ms=$(awk '/^stop_ms/ {print $2}' "$work/ice.out")
check "stopping takes under a second (${stop_ms:-?} ms)" '[ -n "$stop_ms" ] && [ "$stop_ms" -lt 1000 ]'
bytes=$(awk '/^bytes/ {print $2}' "$work/ice.out")
check "about 192 kbit/s went out (${bytes:-?} bytes in ~20 s)" '[ -n "$bytes" ] && [ "$bytes" -gt 300000 ] && [ "$bytes" -lt 650000 ]'

# --- Shoutcast v1 source --------------------------------------------------------------------
"$tool" stream "$work/tone.wav" --host 127.0.0.1 --port "$shout" --shoutcast --password "$password" \
  --title "Plain title" --seconds 20 >"$work/sc.out" 2>"$work/sc.err" &
stream_pid=$!
check "the Shoutcast stream goes on air" 'on_air_from "$work/sc.err" /sc'
timeout 15 ffmpeg -v error -y -t 2 -i "http://127.0.0.1:$port/sc" -c:a pcm_s16le "$work/sc.wav"
chans=$(ffprobe -v error -show_entries stream=channels -of csv=p=0 "$work/sc.wav" 2>/dev/null)
left=$(level "$work/sc.wav" 1)
check "the Shoutcast listener decodes stereo sound (channels '$chans', RMS $left)" '[ "$chans" = 2 ] && above "${left:-0}" 0.1'
check "the Shoutcast mount shows the stream name" '[ "$(stat /sc server_name)" = "Veldmix live mix" ]'
sc_title_is() { [ "$(stat /sc title)" = "$1" ]; }
check "the Shoutcast title update arrives (got '$(stat /sc title)')" 'wait_for 3 sc_title_is "Plain title"'
wait "$stream_pid"; rc=$?; stream_pid=""
check "the Shoutcast run ends on air (exit $rc: $(tail -1 "$work/sc.err"))" '[ $rc = 0 ]'

# --- Refusal --------------------------------------------------------------------------------
"$tool" stream "$work/tone.wav" --host 127.0.0.1 --port "$port" --mount /live --password wrong \
  --seconds 5 >"$work/bad.out" 2>"$work/bad.err"
rc=$?
check "a wrong password fails (exit $rc)" '[ $rc = 1 ]'
check "with the server's refusal text" 'grep -q "^stream: Wrong username or password$" "$work/bad.err"'

# --- A full server: one source on air, a second one is told why it can't join ---------------
"$tool" stream "$work/tone.wav" --host 127.0.0.1 --port "$port" --mount /live --password "$password" \
  --seconds 60 >"$work/first.out" 2>"$work/first.err" &
stream_pid=$!
check "the first source goes on air" 'on_air_from "$work/first.err" /live'
"$tool" stream "$work/tone.wav" --host 127.0.0.1 --port "$port" --mount /second --password "$password" \
  --seconds 3 >"$work/full.out" 2>"$work/full.err"
rc=$?
check "a second source on a full server fails (exit $rc)" '[ $rc = 1 ]'
check "naming the server's cause (got '$(tail -1 "$work/full.err")')" \
  'grep -q "^stream: The server refused the stream: too many sources connected$" "$work/full.err"'
check "the server's log says the same" 'grep -q "maximum source limit reached" "$work/log/error.log"'
kill "$stream_pid" 2>/dev/null; wait "$stream_pid" 2>/dev/null; stream_pid=""

exit $fail
