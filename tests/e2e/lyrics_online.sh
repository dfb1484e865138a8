#!/usr/bin/env bash
# veldmix-tool lyrics online ARTIST TITLE SECONDS against a loopback HTTPS stand-in for the lyrics
# service (Debian's python3 with a certificate made here and trusted through SSL_CERT_FILE): the
# exact request targets, synced and plain answers, and the messages when the service errs or is
# gone.
# Cost: 12
set -u
tool="$VELDMIX_BUILD/veldmix-tool"
work=$(mktemp -d)
srv_pid=""
cleanup() {
  if [ -n "$srv_pid" ]; then kill "$srv_pid" 2>/dev/null; wait "$srv_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
export NO_PROXY=127.0.0.1,localhost no_proxy=127.0.0.1,localhost

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
/usr/bin/python3 "$VELDMIX_SOURCE/tests/support/lyrics_server.py" "$work/cert.pem" "$work/key.pem" \
  "$work/port" "$work/routes.json" "$work/requests" 2>/dev/null &
srv_pid=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port" 2>/dev/null)
check "the loopback HTTPS stand-in starts" '[ -n "$port" ]'
export SSL_CERT_FILE="$work/cert.pem" VELDMIX_LRCLIB_SERVER="https://127.0.0.1:$port"

# answer ROUTES_JSON, then lookup ARTIST TITLE SECONDS: output in out, err, rc.
answer() { printf '%s' "$1" >"$work/routes.json"; : >"$work/requests"; }
lookup() {
  timeout 60 "$tool" lyrics online "$@" >"$work/out" 2>"$work/err"
  rc=$?
}

get='/api/get?artist_name=AC%2FDC&track_name=Back%20in%20Black&duration=215'
answer '{"'"$get"'": {"status": 200, "body": {"instrumental": false, "plainLyrics": "First\nSecond",
  "syncedLyrics": "[00:01.00]First\n[00:03.50]Second"}}}'
lookup "AC/DC" "Back in Black (Official Video)" 214.6
check "synced words are found (exit $rc: $(cat "$work/err"))" '[ $rc = 0 ]'
check "with the one request for them ($(cat "$work/requests"))" '[ "$(cat "$work/requests")" = "$get" ]'
check "as synced lines" 'grep -q "^kind: Synced$" "$work/out" && grep -q "^\[00:03.50\]Second$" "$work/out"'
check "from the service" 'grep -q "^source: LRCLIB (127.0.0.1)$" "$work/out"'

search='/api/search?track_name=Caf%C3%A9%20Song'
answer '{"'"$search"'": {"status": 200, "body": [{"duration": 180, "plainLyrics": "Just words\nNo times"}]}}'
lookup "" "Café Song [Karaoke]" 0
check "without an artist only the search is asked ($(cat "$work/requests"))" '[ "$(cat "$work/requests")" = "$search" ]'
check "plain words are found" '[ $rc = 0 ] && grep -q "^kind: Plain$" "$work/out" && grep -q "Just words" "$work/out"'

# The search prefers timed words: 3 s off (score 97) beats a plain answer of the exact length;
# the penalty stops at 60 s, so of two 70 and 80 s off (both 40) the first wins. A get answer
# that is not an object counts as none.
find='/api/search?track_name=Song&artist_name=Band'
answer '{"/api/get?artist_name=Band&track_name=Song&duration=200": {"status": 200, "body": [1, 2]},
  "'"$find"'": {"status": 200, "body": [{"duration": 200, "plainLyrics": "exact plain"}, 7,
  {"duration": 203, "syncedLyrics": "[00:02.00]near synced"}]}}'
lookup "Band" "Song" 200
check "a get answer of the wrong kind falls through to the search" '[ "$(tail -n 1 "$work/requests")" = "$find" ]'
check "the search picks timed words first ($(cat "$work/out" "$work/err"))" 'grep -q "^\[00:02.00\]near synced$" "$work/out"'
answer '{"'"$find"'": {"status": 200, "body": [{"duration": 270, "syncedLyrics": "[00:01.00]seventy off"},
  {"duration": 280, "syncedLyrics": "[00:01.00]eighty off"}]}}'
lookup "Band" "Song" 200
check "equal scores keep the first" 'grep -q "seventy off" "$work/out"'

# An answer is read up to 2 MiB: cut inside its padding it no longer parses.
big='{"'"$find"'": {"status": 200, "pad": PAD, "body": [{"syncedLyrics": "[00:01.00]padded"}]}}'
answer "${big/PAD/3145728}"
lookup "Band" "Song" 0
check "an answer beyond the limit counts as none ($(cat "$work/err"))" \
  '[ "$(cat "$work/err")" = "veldmix-tool lyrics: LRCLIB has no lyrics for “Song”" ]'
answer "${big/PAD/1048576}"
lookup "Band" "Song" 0
check "an answer under the limit is read whole" 'grep -q padded "$work/out"'

answer '{}'
lookup "Band" "(Vocalise)" 0
check "a title that cleans to nothing asks nothing ($(cat "$work/err"))" \
  '[ "$(cat "$work/err")" = "veldmix-tool lyrics: The track has no title to look up" ] && [ ! -s "$work/requests" ]'
SSL_CERT_FILE=/dev/null lookup "Band" "Tune" 100
check "an untrusted certificate cannot be reached ($(cat "$work/err"))" \
  '[ "$(cat "$work/err")" = "veldmix-tool lyrics: Couldn'"'"'t reach 127.0.0.1 — check the internet connection" ]'
check "and no request passes it" '[ ! -s "$work/requests" ]'

answer '{"/api/search?track_name=Tune&artist_name=Band": {"status": 500, "body": {"message": "down"}}}'
lookup "Band" "Tune" 100
check "a failing service is reported ($(cat "$work/err"))" \
  '[ $rc = 1 ] && [ "$(cat "$work/err")" = "veldmix-tool lyrics: 127.0.0.1 answered 500 — try again later" ]'
check "after the get found nothing" '[ "$(head -n 1 "$work/requests")" = "/api/get?artist_name=Band&track_name=Tune&duration=100" ]'

answer '{"/api/get?artist_name=Band&track_name=Tune&duration=100": {"status": 200, "body": {"instrumental": true}}}'
lookup "Band" "Tune" 100
check "an instrumental is reported ($(cat "$work/err"))" \
  '[ "$(cat "$work/err")" = "veldmix-tool lyrics: LRCLIB lists “Tune” as an instrumental" ]'

answer '{}'
lookup "Band" "Tune" 100
check "a track the service lacks is reported ($(cat "$work/err"))" \
  '[ "$(cat "$work/err")" = "veldmix-tool lyrics: LRCLIB has no lyrics for “Tune”" ]'

kill "$srv_pid"; wait "$srv_pid" 2>/dev/null; srv_pid=""
lookup "Band" "Tune" 100
check "with the service gone the lookup fails ($(cat "$work/err"))" \
  '[ $rc = 1 ] && [ "$(cat "$work/err")" = "veldmix-tool lyrics: Couldn'"'"'t reach 127.0.0.1 — check the internet connection" ]'
lookup "Band" "Tune"
check "a missing argument is a usage error (exit $rc)" '[ $rc = 2 ]'
exit $fail
