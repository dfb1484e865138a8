# Sourced by the end-to-end scripts that run the program or its tool under a virtual display: the
# start they share. Sets build, source_dir, app, tool, server and work (a private folder); at exit
# every process the script left running in the background is ended, the sound server it started
# stopped and the work folder removed. Offers fail, need, wait_for, busy_core_seconds, others_share,
# log_has, log_count, deck_loaded, dropouts_seen, dropped_out, server_underruns_seen, start_peer,
# peer, record_sink, tone_level, private_home, no_sound_server and own_sound_server, and sources
# private_display.sh (start_private_display).

build="${VELDMIX_BUILD:?VELDMIX_BUILD must name the build folder}"
source_dir="${VELDMIX_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
app="$build/veldmix"
tool="$build/veldmix-tool"
server="$source_dir/scripts/test_audio_server.sh"
e2e_name="$(basename "$0" .sh)"
log=""
own_server=""
xvfb_pid=""

# Ends the script with the reason and the program log's last lines; a script's own e2e_on_fail,
# when it defines one, runs first (to keep what it recorded, say).
fail() {
  echo "$e2e_name: FAIL: $*" >&2
  if declare -F e2e_on_fail >/dev/null; then e2e_on_fail; fi
  if [ -n "${log:-}" ] && [ -f "$log" ]; then
    tail -n 30 "$log" >&2
    read -r wakes renders <<<"$(dropouts_seen)"
    echo "$e2e_name: dropouts: $wakes late wake-up(s) (the sound server or the machine), $renders late render(s) (the program's own)," \
      "$(server_underruns_seen) server underrun(s)" >&2
  fi
  exit 1
}

# need NAME...: every command named is installed, and the build's programs named (veldmix,
# veldmix-tool, veldmix_tests) exist.
need() {
  local name
  for name in "$@"; do
    case "$name" in
      veldmix | veldmix-tool | veldmix_tests) [ -x "$build/$name" ] || fail "no $name at $build/$name" ;;
      *) command -v "$name" >/dev/null || fail "$name is not installed" ;;
    esac
  done
}

# wait_for SECONDS COMMAND...: true as soon as the command is, false when the time runs out.
wait_for() {
  local limit=$(($1 * 10))
  shift
  for _ in $(seq 1 "$limit"); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}

# others_share BUSY_BEFORE SECONDS: sets $others_share to the share of this script's cores that
# other processes kept busy over the last SECONDS, BUSY_BEFORE being busy_core_seconds read then.
# What this shell waited for counts as its own, so call it in the script's shell after the wait.
busy_core_seconds() {
  awk -v list="$(awk '/^Cpus_allowed_list/ {print $2}' /proc/self/status)" -v hz="$(getconf CLK_TCK)" '
    BEGIN {
      n = split(list, parts, ",")
      for (i = 1; i <= n; i++) {
        m = split(parts[i], range, "-")
        for (c = range[1] + 0; c <= range[m] + 0; c++) want["cpu" c] = 1
      }
    }
    $1 in want { busy += $2 + $3 + $4 + $7 + $8 + $9; cores++ }
    END { printf "%.2f %d\n", busy / hz, cores }' /proc/stat
}
others_share() {
  local before=$1 seconds=$2 now cores own
  times >"$work/.times"
  own=$(awk '{ for (i = 1; i <= NF; i++) { split($i, t, /[ms]/); s += t[1] * 60 + t[2] } } END { print s }' "$work/.times")
  read -r now cores <<<"$(busy_core_seconds)"
  others_share=$(awk -v a="$before" -v b="$now" -v o="$own" -v c="$cores" -v w="$seconds" \
    'BEGIN { s = (b - a - o) / (c * w); printf "%.2f", s < 0 ? 0 : s }')
}

# log_has TEXT: the program's log holds the text. log_count TEXT: in how many lines.
log_has() { [ -f "$log" ] && grep -qF -- "$1" "$log"; }
log_count() {
  local n
  n=$(grep -cF -- "$1" "$log" 2>/dev/null)
  echo "${n:-0}"
}
# deck_loaded DECK FILE [TIMES]: the log tells of the file loaded onto the deck (A, B...) TIMES
# times (once unless given).
deck_loaded() { [ "$(log_count "Deck $1: loaded \"$(basename "$2")\"")" -ge "${3:-1}" ]; }

# The program's dropouts as its log tells them apart: "W W": late wake-ups (the device or sound
# server asked late, or the machine ran the output thread late) and late renders (the program's
# own mix took longer than the block it played), each the total of its last line.
dropouts_seen() {
  local wakes renders
  wakes=$(grep -oP 'Audio: \d+ dropout\(s\) \(\K\d+' "$log" 2>/dev/null | tail -n 1)
  renders=$(grep -oP 'Audio: \d+ late render\(s\) \(\K\d+' "$log" 2>/dev/null | tail -n 1)
  echo "${wakes:-0} ${renders:-0}"
}
# The sound server's own underruns of the master the log counted, the total of its last line: the
# program woke and rendered in time, yet the server played past what it had.
server_underruns_seen() {
  local n
  n=$(grep -oP 'Audio: \d+ server underrun\(s\) \(\K\d+' "$log" 2>/dev/null | tail -n 1)
  echo "${n:-0}"
}
# dropped_out "W R" (dropouts_seen from before a stretch): since then the log counted a late
# wake-up or a late render, so the machine held the program back in that stretch. The program
# writes its dropout line at most every 10 s, so that long is waited for one.
dropped_out() { wait_for 11 dropouts_rose "$1"; }
dropouts_rose() {  # "W R": the same, at once
  local w0 r0 w r
  read -r w0 r0 <<<"$1"
  read -r w r <<<"$(dropouts_seen)"
  [ "$w" -gt "$w0" ] || [ "$r" -gt "$r0" ]
}

# start_peer FD NAME COMMAND...: COMMAND in the background reading the lines written to file
# descriptor FD (through the FIFO $work/NAME.cmd), its output in $work/NAME.out and its errors in
# $work/NAME.err; sets peer_started to its pid. peer LINE writes a line to descriptor 3.
start_peer() {
  local fd=$1 name=$2
  shift 2
  mkfifo "$work/$name.cmd" || fail "no FIFO $work/$name.cmd"
  "$@" <"$work/$name.cmd" >"$work/$name.out" 2>"$work/$name.err" &
  peer_started=$!
  eval "exec $fd>\"\$work/\$name.cmd\""
}
peer() { echo "$*" >&3; }

# record_sink FILE SECONDS [SOURCE [CHANNELS [RATE]]]: SECONDS of a source's sound as raw 32-bit
# floats, measured by its sample count rather than the wall clock, so a recorder that starts late
# on a loaded machine still gets the whole stretch; gives up 10 s past the length. The default is
# the veldmix_test sink's monitor, 2 channels at 48000 Hz; 4 channels keep the sinks' own map.
record_sink() {
  local file=$1 seconds=$2 source=${3:-veldmix_test.monitor} channels=${4:-2} rate=${5:-48000}
  local bytes map=()
  bytes=$(awk -v s="$seconds" -v c="$channels" -v r="$rate" 'BEGIN { printf "%d", int(s * r) * c * 4 }')
  [ "$channels" = 4 ] && map=(--channel-map=front-left,front-right,rear-left,rear-right)
  timeout "$(awk -v s="$seconds" 'BEGIN { printf "%d", s + 10 }')" parec -d "$source" --raw --format=float32le \
    --channels="$channels" --rate="$rate" "${map[@]}" --latency-msec=10 2>/dev/null | head -c "$bytes" >"$file"
  [ "$(stat -c %s "$file")" -eq "$bytes" ]
}

# tone_level FILE [HZ...]: the median amplitude of a tone (default 220 Hz; one line per tone given)
# in 50 ms windows of a record_sink recording (stereo, 48000 Hz) past its first 0.3 s, so a gap a
# loaded machine leaves in the output does not decide.
tone_level() {
  local file=$1
  shift
  /usr/bin/python3 - "$file" "${@:-220}" <<'PY'
import sys
import numpy
x = numpy.fromfile(sys.argv[1], dtype=numpy.float32)[0::2].astype(numpy.float64)[int(0.3 * 48000):]
n = 2400
for hz in sys.argv[2:]:
    probe = numpy.exp(-2j * numpy.pi * float(hz) * numpy.arange(n) / 48000.0)
    amps = [2.0 * abs(numpy.dot(x[s:s + n], probe)) / n for s in range(0, len(x) - n + 1, n)]
    print("%.5f" % (numpy.median(amps) if amps else 0.0))
PY
}

# A private HOME and runtime folder (the single-instance socket lives there), the default XDG
# folders below HOME, no locale overrides; sets log and settings to the program's files there, the
# settings holding only [Tour] Done=1.
private_home() {
  export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" LANG=C.UTF-8
  unset XDG_DATA_HOME XDG_STATE_HOME XDG_CONFIG_HOME LC_ALL LANGUAGE LC_MESSAGES VELDMIX_DIALOG_ANSWERS
  mkdir -p "$HOME"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  log="$HOME/.local/state/Veldmix/Veldmix.log"
  settings="$HOME/.local/share/Veldmix/settings.ini"
  # The first-run tour would lie over the screen the scripts drive; tour_start.sh removes this.
  mkdir -p "$(dirname "$settings")"
  printf '[Tour]\nDone=1\n' >"$settings"
}

# Unless the run shares a sound server, the program finds none and must not start one itself.
no_sound_server() {
  [ -n "${PULSE_SERVER:-}" ] && return 0
  printf 'autospawn = no\n' >"$work/pulse-client.conf"
  export PULSE_CLIENTCONFIG="$work/pulse-client.conf"
}

# own_sound_server [unless-shared]: the test sound server in the work folder, with its
# veldmix_test sink. With unless-shared, a server the run shares (PULSE_SERVER) is used instead.
own_sound_server() {
  if [ "${1:-}" = unless-shared ] && [ -n "${PULSE_SERVER:-}" ] && pactl info >/dev/null 2>&1; then return 0; fi
  own_server="$work/pulse"
  eval "$(VELDMIX_AUDIO_OWNER=$$ "$server" start "$own_server")" || fail "no sound server"
  pactl list short sinks 2>/dev/null | grep -qP '^\d+\tveldmix_test\t' || fail "the sound server has no veldmix_test sink"
}

# The program's main window by its class; a script that finds it otherwise defines its own after
# this file. press KEY...: keys for that window, one after another, PRESS_PAUSE seconds apart.
window_id() { xdotool search --class '^veldmix$' 2>/dev/null | head -n 1; }
window_shown() { [ -n "$(window_id)" ]; }
press() {
  local w key
  w=$(window_id)
  xdotool windowfocus --sync "$w" 2>/dev/null || xdotool windowfocus "$w"
  for key in "$@"; do
    xdotool key --clearmodifiers "$key"
    sleep "${PRESS_PAUSE:-0.3}"
  done
}

e2e_cleanup() {
  set +e
  local pids
  pids="$(jobs -p)"
  if [ -n "$pids" ]; then
    # shellcheck disable=SC2086  # one pid a word
    kill $pids 2>/dev/null
    for _ in $(seq 1 20); do
      kill -0 $pids 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL $pids 2>/dev/null
  fi
  wait 2>/dev/null
  [ -n "$own_server" ] && "$server" stop "$own_server" >/dev/null 2>&1
  rm -rf "$work"
}

# The program's automatic update check goes to a refused loopback port unless a script names a
# site of its own: nothing leaves the machine.
export VELDMIX_UPDATE_SITE="${VELDMIX_UPDATE_SITE:-https://127.0.0.1:9}"

work="$(mktemp -d "/tmp/veldmix-e2e-$e2e_name-XXXXXX")"
trap e2e_cleanup EXIT
source "$source_dir/tests/support/private_display.sh"
# stop_all: ends the program, the window manager and the display the script started ($app_pid,
# $wm_pid, $xvfb_pid), so that it can start them again on another screen.
app_pid="" wm_pid=""
stop_all() {
  local pid
  for pid in "$app_pid" "$wm_pid" "$xvfb_pid"; do
    [ -n "$pid" ] || continue
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  app_pid="" wm_pid="" xvfb_pid=""
}
