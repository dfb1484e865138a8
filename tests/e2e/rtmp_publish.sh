#!/usr/bin/env bash
# veldmix-tool publish sends the live-video encoders' H.264 and AAC to real RTMP servers on
# loopback: nginx-rtmp (plain, and RTMPS through nginx's stream module with a test CA), FFmpeg's
# own RTMP server mode and Veldmix's loopback test server. What they record must be H.264 Main
# 1280x720 at 30/s and AAC LC stereo, timestamps of each stream never going back, a key frame
# every 60 frames, sound and picture of the same length. A certificate for another name is
# refused and nothing is recorded; malformed bytes end the test server's connection cleanly.
# Cost: 64
set -u
tool="$VELDMIX_BUILD/veldmix-tool"
source "$VELDMIX_SOURCE/tests/support/nginx_rtmp.sh"
work=$(mktemp -d)
children=()
cleanup() {
  nginx_rtmp_stop "$work/nginx"
  local p
  for p in "${children[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }

seconds=6
frames=$((seconds * 30))

# check_flv FILE LABEL: the recorded stream is what was sent.
check_flv() {
  local f=$1 label=$2 info vdts adts keys vend aend
  if [ ! -s "$f" ]; then echo "FAIL: $label: nothing recorded at $f"; fail=1; return; fi
  info=$(ffprobe -v error -show_entries stream=codec_type,codec_name,profile,width,height,r_frame_rate,channels \
         -of compact=p=0 "$f" | sort | tr '\n' ' ')
  check "$label: H.264 Main 1280x720 at 30/s and AAC LC stereo (got $info)" \
    '[[ "$info" == *"codec_name=aac|profile=LC|codec_type=audio|channels=2"* ]] &&
     [[ "$info" == *"codec_name=h264|profile=Main|codec_type=video|width=1280|height=720|r_frame_rate=30/1"* ]]'
  # A packet with new extradata carries it as extra fields and an empty line: keep field 1 only.
  vdts=$(ffprobe -v error -select_streams v -show_packets -show_entries packet=dts -of csv=p=0 "$f" | awk -F, '$1 != "" { print $1 }')
  adts=$(ffprobe -v error -select_streams a -show_packets -show_entries packet=dts -of csv=p=0 "$f" | awk -F, '$1 != "" { print $1 }')
  check "$label: video timestamps never go back" 'echo "$vdts" | awk "NR > 1 && \$1 < prev { exit 1 } { prev = \$1 }"'
  check "$label: audio timestamps never go back" 'echo "$adts" | awk "NR > 1 && \$1 < prev { exit 1 } { prev = \$1 }"'
  keys=$(ffprobe -v error -select_streams v -show_packets -show_entries packet=flags -of csv=p=0 "$f" |
         awk -F, '$1 == "" { next } { n++ } $1 ~ /K/ { printf "%d ", n - 1 }')
  check "$label: a key frame every 60 frames (got: $keys)" '[ "$keys" = "0 60 120 " ]'
  check "$label: all $frames frames recorded" '[ "$(echo "$vdts" | wc -l)" -eq $frames ]'
  vend=$(ffprobe -v error -select_streams v -show_packets -show_entries packet=pts_time,duration_time -of csv=p=0 "$f" | tail -1 | cut -d, -f1-2)
  aend=$(ffprobe -v error -select_streams a -show_packets -show_entries packet=pts_time,duration_time -of csv=p=0 "$f" | tail -1 | cut -d, -f1-2)
  check "$label: sound ($aend) and picture ($vend) end within 0.5 s, after about $seconds s" \
    'awk -v v="$vend" -v a="$aend" -v s=$seconds "BEGIN { split(v, x, \",\"); split(a, y, \",\");
       ve = x[1] + x[2]; ae = y[1] + y[2]; d = ve - ae; if (d < 0) d = -d;
       exit !(d <= 0.5 && ve > s - 0.5 && ve < s + 0.5) }"'
}

# --- nginx-rtmp, plain and through TLS ---
mkdir -p "$work/nginx"
if ! nginx_rtmp_start "$work/nginx" tls; then echo "FAIL: nginx did not start"; exit 1; fi
source "$work/nginx/ports"
rec="$work/nginx/rec"

check "plain publish succeeds" '"$tool" publish "rtmp://127.0.0.1:$rtmp/live" plainkey --seconds $seconds --height 720 >"$work/out" 2>&1'
sleep 0.5
check_flv "$rec/plainkey.flv" "nginx rtmp"

export SSL_CERT_FILE="$work/nginx/ca.crt"
check "RTMPS publish succeeds" '"$tool" publish "rtmps://localhost:$tls/live" tlskey --seconds $seconds --height 720 >"$work/out" 2>&1 || { cat "$work/out"; false; }'
sleep 0.5
check_flv "$rec/tlskey.flv" "nginx rtmps"

"$tool" publish "rtmps://localhost:$wrong/live" wrongkey --seconds 2 >/dev/null 2>"$work/err"; rc=$?
check "a certificate for another name is refused (rc $rc: $(cat "$work/err"))" \
  '[ $rc -eq 1 ] && grep -qF "The server'"'"'s security certificate isn'"'"'t valid: hostname mismatch" "$work/err"'
check "nothing is recorded for the refused publish" '[ ! -e "$rec/wrongkey.flv" ]'

check "the handshake test gives 1 against the TLS front" '[ "$("$tool" rtmp-handshake "rtmps://localhost:$tls/live" 2>/dev/null)" = 1 ]'
check "the handshake test gives 0 for the wrong name" '[ "$("$tool" rtmp-handshake "rtmps://localhost:$wrong/live" 2>/dev/null)" = 0 ]'
SSL_CERT_FILE=/dev/null "$tool" rtmp-handshake "rtmps://localhost:$tls/live" >"$work/out" 2>"$work/err"
check "without the test CA the certificate is untrusted" '[ "$(cat "$work/out")" = 0 ] && grep -qF "isn'"'"'t valid: unable to get local issuer certificate" "$work/err"'
unset SSL_CERT_FILE
nginx_rtmp_stop "$work/nginx"

# --- A self-signed certificate and an expired one, named in the TLS library's words ---
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=localhost -addext subjectAltName=DNS:localhost -days 2 \
  -keyout "$work/self.key" -out "$work/self.crt" 2>/dev/null
mkdir -p "$work/ca" && : >"$work/ca/index.txt" && echo 01 >"$work/ca/serial"
printf '[ca]\ndefault_ca=d\n[d]\ndatabase=%s/ca/index.txt\nnew_certs_dir=%s/ca\nserial=%s/ca/serial\ndefault_md=sha256\npolicy=p\ncopy_extensions=copy\n[p]\ncommonName=supplied\n' \
  "$work" "$work" "$work" >"$work/ca.cnf"
openssl req -new -newkey rsa:2048 -nodes -subj /CN=localhost -addext subjectAltName=DNS:localhost \
  -keyout "$work/old.key" -out "$work/old.csr" 2>/dev/null
openssl ca -batch -config "$work/ca.cnf" -selfsign -keyfile "$work/old.key" -in "$work/old.csr" -out "$work/old.crt" \
  -startdate 20200101000000Z -enddate 20200102000000Z >/dev/null 2>&1
# refused_as NAME CERT TRUST WORDS: a TLS server with CERT; the handshake test, trusting TRUST, fails with WORDS.
refused_as() {
  local port pid words=$4
  port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  openssl s_server -quiet -accept "127.0.0.1:$port" -cert "$work/$2.crt" -key "$work/$2.key" -naccept 1 \
    </dev/null >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 1 50); do ss -ltn | grep -q "127.0.0.1:$port " && break; sleep 0.1; done  # no probe: one accept
  SSL_CERT_FILE="$3" "$tool" rtmp-handshake "rtmps://localhost:$port/live" >"$work/out" 2>"$work/err"
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
  check "the $1 certificate is named as such ($(cat "$work/err"))" \
    '[ "$(cat "$work/out")" = 0 ] && grep -qF "certificate isn'"'"'t valid: $words" "$work/err"'
}
refused_as self-signed self /dev/null "self-signed certificate"
refused_as expired old "$work/old.crt" "certificate has expired"

# --- FFmpeg's RTMP server mode ---
port=$(nginx_free_port)
ffmpeg -nostdin -loglevel error -listen 1 -i "rtmp://127.0.0.1:$port/live/ffkey" -c copy "$work/ff.flv" \
  >"$work/ff.log" 2>&1 &
children+=($!)
ffpid=$!
# ffmpeg serves one connection only: look for its listening socket rather than connecting.
listening() { awk -v p="$(printf ':%04X' "$1")" '$2 ~ p"$" && $4 == "0A" { found = 1 } END { exit !found }' /proc/net/tcp; }
for _ in $(seq 1 300); do listening "$port" && break; sleep 0.1; done
check "publish to ffmpeg -listen succeeds" '"$tool" publish "rtmp://127.0.0.1:$port/live" ffkey --seconds $seconds --height 720 >"$work/out" 2>&1'
for _ in $(seq 1 50); do kill -0 $ffpid 2>/dev/null || break; sleep 0.1; done
check_flv "$work/ff.flv" "ffmpeg -listen"

# --- The loopback test server ---
stat() { grep "^$1=" "$work/server.out" | cut -d= -f2-; }
"$tool" rtmp-server 0 --seconds 30 >"$work/server.out" 2>&1 &
children+=($!)
srvpid=$!
for _ in $(seq 1 300); do grep -q listening "$work/server.out" && break; sleep 0.1; done
port=$(sed -n 's/^listening on 127.0.0.1:\([0-9]*\)$/\1/p' "$work/server.out")
check "publish to the test server succeeds" '"$tool" publish "rtmp://127.0.0.1:$port/live" srvkey --seconds $seconds --height 720 >"$work/out" 2>&1'
wait $srvpid
check "the test server saw a well-formed publish ($(tr '\n' ' ' < "$work/server.out"))" \
  '[ "$(stat published)" = 1 ] && [ "$(stat app)" = live ] && [ "$(stat streamName)" = srvkey ] &&
   [ "$(stat metadataSeen)" = 1 ] && [ "$(stat width)" = 1280 ] && [ "$(stat height)" = 720 ] &&
   [ "$(stat avcHeaderSeen)" = 1 ] && [ "$(stat aacHeaderSeen)" = 1 ] && [ "$(stat errors)" = 0 ] &&
   [ "$(stat videoFrames)" = $frames ] && [ "$(stat keyframes)" = 3 ] && [ "$(stat audioFrames)" -ge 275 ] &&
   [ "$(stat videoTimesRise)" = 1 ] && [ "$(stat audioTimesRise)" = 1 ] && [ "$(stat pongSeen)" = 1 ]'

# --- Malformed bytes end the test server's connection with a reason, quickly ---
# feed NAME PYTHON-BYTES EXPECTED-REASON: handshake, then the bytes; the server must close.
feed() {
  "$tool" rtmp-server 0 --seconds 10 >"$work/server.out" 2>&1 &
  local pid=$!
  children+=($pid)
  for _ in $(seq 1 300); do grep -q listening "$work/server.out" && break; sleep 0.1; done
  local port
  port=$(sed -n 's/^listening on 127.0.0.1:\([0-9]*\)$/\1/p' "$work/server.out")
  local started=$SECONDS
  python3 - "$port" "$2" <<'PY'
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5)
s.sendall(b"\x03" + bytes(1536))
need = 3073
while need > 0:
    need -= len(s.recv(need))
s.sendall(bytes(1536) + eval(sys.argv[2]))
s.settimeout(5)
try:
    while s.recv(65536):
        pass
except socket.timeout:
    sys.exit("the server kept the connection open")
except ConnectionResetError:
    pass  # closed with our bytes unread: a reset is a close too
PY
  local rc=$? reason=$3
  wait $pid
  check "$1: the server closed the connection (python rc $rc)" '[ $rc -eq 0 ] && [ $((SECONDS - started)) -lt 8 ]'
  check "$1: the reason is \"$reason\" (got \"$(stat endReason)\")" '[ "$(stat endReason)" = "$reason" ]'
}
feed "continuation without a start" 'b"\xc5" + bytes(10)' \
  "Chunk stream 5 continues a message it never started (header type 3)"
feed "65 chunk streams" 'b"".join(bytes([0x00, i, 0, 0, 0, 0, 0, 1, 20, 0, 0, 0, 0, 5]) for i in range(65))' \
  "Chunk stream 128 would be one more than the 64 kept at once"
feed "length changed mid-message" 'b"\x03" + bytes([0, 0, 0, 0, 1, 0, 20, 0, 0, 0, 0]) + bytes(128) + b"\x43" + bytes([0, 0, 0, 0, 0, 9, 20]) + bytes(9)' \
  "Chunk stream 3 changes its message length from 256 to 9 in mid-message"

[ $fail -eq 0 ] && echo "PASS: rtmp publish"
exit $fail
