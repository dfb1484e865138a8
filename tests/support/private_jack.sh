# Sourced by the end-to-end scripts that talk MIDI over JACK: a private JACK server (dummy backend,
# 48 kHz, 480-frame periods) that the program (VELDMIX_MIDI_API=jack) and every peer use.
# JACK keeps a machine-wide table of 8 servers and reclaims an entry only for a server of the same
# name whose process is gone, and a client of one server can crash in libjack while another
# server comes or goes; so the name is fixed, the scripts of every build on the machine take turns
# (a lock in the temporary folder) and the server always gets the time to leave its entry.
# start_private_jack LOG: sets JACK_DEFAULT_SERVER and jack_pid; 1 when no server came up.
# stop_jack: ends it (safe to call twice) and releases the turn.
# start_midi_peer FD FILE NAME [alsa]: midi_peer.py as the controller NAME (on JACK unless alsa is
# given), fed through descriptor FD (start_peer's $work/FILE.cmd), what it receives logged to
# $work/FILE.log; waits until it is ready and sets peer_started to its pid.
# feeder PREFIX PORT: prints the first port whose name starts with PREFIX that is wired to PORT;
# false when there is none.
jack_pid=""
start_private_jack() {
  export JACK_DEFAULT_SERVER=vm_midi VELDMIX_MIDI_API=jack
  # Braces: a redirection on a bare exec would send the script's own errors to /dev/null.
  { exec 9>>"${TMPDIR:-/tmp}/veldmix-private-jack.lock"; } 2>/dev/null || exec 9>"$build/.private-jack.lock"
  flock 9
  # Real-time where the account may ask for it, so its clients' process threads are too: under a
  # CPU hog a late client misses its cycles, JACK drops it and whatever was wired to it is lost.
  local scheduling=(--no-realtime)
  if chrt -f 20 true 2>/dev/null; then scheduling=(--realtime -P 20); fi
  jackd "${scheduling[@]}" -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 480 >"$1" 2>&1 9>&- &
  jack_pid=$!
  wait_for 20 jack_lsp >/dev/null 2>&1
}
stop_jack() {
  if [ -n "$jack_pid" ]; then
    kill -TERM "$jack_pid" 2>/dev/null
    for _ in $(seq 1 100); do kill -0 "$jack_pid" 2>/dev/null || break; sleep 0.1; done
    wait "$jack_pid" 2>/dev/null
    jack_pid=""
  fi
  exec 9>&-
}
start_midi_peer() {
  local fd=$1 file=$2 name=$3
  shift 3
  start_peer "$fd" "$file" /usr/bin/python3 "$source_dir/tests/support/midi_peer.py" "$name" "$work/$file.log" "$@"
  wait_for 5 grep -q ready "$work/$file.out" ||
    fail "the MIDI peer $name did not start: $(cat "$work/$file.out" "$work/$file.err")"
}

feeder() {
  jack_lsp -c | awk -v from="$1" -v to="$2" '/^[^ ]/ { port = $0; next } { sub(/^ +/, "") }
    $0 == to && index(port, from) == 1 { print port; found = 1; exit } END { exit !found }'
}
