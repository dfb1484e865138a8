#!/usr/bin/env bash
# veldmix-tool speedtest URL runs the connection speed test against a loopback HTTPS service
# (Debian's python3 serving /__down and /__up with a private certificate the tool is told to
# trust): plausible latency and rates; a service that refuses every upload fails the run with its
# answer; with the service gone, the "Couldn't reach" text.
# Cost: 15
set -u
tool="$VELDMIX_BUILD/veldmix-tool"
server="$VELDMIX_SOURCE/tests/broadcast/speed_server.py"
work=$(mktemp -d)
srv_pid=""
cleanup() {
  if [ -n "$srv_pid" ]; then kill "$srv_pid" 2>/dev/null; wait "$srv_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
between() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v > lo && v < hi) }'; }
export NO_PROXY=127.0.0.1,localhost no_proxy=127.0.0.1,localhost

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
/usr/bin/python3 "$server" "$work/cert.pem" "$work/key.pem" "$work/port" 200 2>/dev/null &
srv_pid=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port" 2>/dev/null)
check "the loopback HTTPS service starts" '[ -n "$port" ]'

SSL_CERT_FILE="$work/cert.pem" timeout 60 "$tool" speedtest "https://127.0.0.1:$port" >"$work/out" 2>"$work/err"
rc=$?
check "the run completes (exit $rc: $(cat "$work/err"))" '[ $rc = 0 ]'
latency=$(awk '/^latency_ms/ {print $2}' "$work/out")
down=$(awk '/^download_mbps/ {print $2}' "$work/out")
up=$(awk '/^upload_mbps/ {print $2}' "$work/out")
check "latency is plausible for loopback (${latency:-?} ms)" 'between "${latency:-0}" 0 500'
check "download is plausible (${down:-?} Mbit/s)" 'between "${down:-0}" 10 1000000'
check "upload is plausible (${up:-?} Mbit/s)" 'between "${up:-0}" 10 1000000'

# Without the certificate's trust the service cannot be reached at all.
timeout 60 env -u SSL_CERT_FILE "$tool" speedtest "https://127.0.0.1:$port" >/dev/null 2>"$work/err"
check "an untrusted certificate is refused ($(cat "$work/err"))" \
  'grep -q "^speedtest: Couldn.t reach the speed test server — is this computer online?$" "$work/err"'

# A service that takes each upload's body and answers HTTP 500: a failed run, not a slow line.
rm -f "$work/port500"
/usr/bin/python3 "$server" "$work/cert.pem" "$work/key.pem" "$work/port500" 200 500 2>/dev/null &
refusing_pid=$!
for _ in $(seq 50); do [ -s "$work/port500" ] && break; sleep 0.1; done
SSL_CERT_FILE="$work/cert.pem" timeout 60 "$tool" speedtest "https://127.0.0.1:$(cat "$work/port500")" >"$work/out" 2>"$work/err"
rc=$?
kill "$refusing_pid"; wait "$refusing_pid" 2>/dev/null
check "a refused upload fails the run (exit $rc)" '[ $rc = 1 ]'
check "with the server's answer ($(cat "$work/err"))" \
  'grep -qx "speedtest: The server refused the upload: HTTP 500" "$work/err"'

kill "$srv_pid"; wait "$srv_pid" 2>/dev/null; srv_pid=""
SSL_CERT_FILE="$work/cert.pem" timeout 60 "$tool" speedtest "https://127.0.0.1:$port" >/dev/null 2>"$work/err"
rc=$?
check "with the service gone the run fails (exit $rc)" '[ $rc = 1 ]'
check "with the \"Couldn't reach\" text ($(cat "$work/err"))" \
  'grep -q "^speedtest: Couldn.t reach the speed test server — is this computer online?$" "$work/err"'
exit $fail
