#!/usr/bin/env bash
# A private PulseAudio server whose null sinks stand in for sound cards (this machine has none).
#
#   test_audio_server.sh start [DIR]     start a server in DIR (default: a new temporary folder)
#                                        and print the lines to eval: PULSE_SERVER,
#                                        XDG_RUNTIME_DIR and VELDMIX_AUDIO_DIR
#   test_audio_server.sh stop [DIR]      stop the server and every helper it started
#
# With VELDMIX_AUDIO_OWNER set to a process id, start also leaves a watcher that stops the server
# once that process is gone, so a test killed halfway leaves no server behind.
#   test_audio_server.sh add-sink NAME CHANNELS [RATE [FORMAT [DESCRIPTION]]]
#                                        one more null sink with its keep-alive stream; waits
#                                        until it is awake
#   test_audio_server.sh remove-sink NAME
#
# add-sink and remove-sink talk to the server named by PULSE_SERVER and keep their helpers in
# VELDMIX_AUDIO_DIR. Sinks at start:
#   veldmix_test   stereo, 48000 Hz float: the default sink
#   veldmix_quad   4 channels, 44100 Hz 16-bit: a controller's sound card
#   veldmix_mic    stereo, 48000 Hz: its monitor is the default source (the "microphone")
set -euo pipefail

# An idle null sink sleeps in 2 s blocks and stalls the first stream; a stream of silence keeps
# it awake. A stream that plays at a lower latency sets the sink's blocks to its own, so 50 ms
# serves: at 10 ms the idle server and its keep-alives took a quarter of a core, on two cores a
# tenth of the machine for the whole test run. A sink counts as ready once its latency is under
# kReadyLatencyUs.
readonly kReadyLatencyUs=50000
readonly kWaitSteps=100        # x 0.1 s
readonly kKeepAliveMs=50

die() { echo "test_audio_server: $*" >&2; exit 1; }

# The server and its keep-alive streams run with real-time scheduling where the account may ask
# for it: on a loaded machine a server that waits for a core stalls every stream, and the programs
# under test would count its lateness as their own dropouts.
readonly kRealtimePriority=20
realtime=()
if chrt -r "$kRealtimePriority" true 2>/dev/null; then realtime=(chrt -r "$kRealtimePriority"); fi

# The latency of one sink in microseconds, from `pactl list sinks`; empty when unknown.
sink_latency() {
  pactl list sinks 2>/dev/null | awk -v want="$1" '
    /^[[:space:]]*Name:/ { name = $2 }
    /^[[:space:]]*Latency:/ && name == want { print $2; exit }'
}

wait_ready() {
  local name=$1 latency
  for _ in $(seq $kWaitSteps); do
    latency=$(sink_latency "$name")
    if [ -n "$latency" ] && [ "$latency" -lt $kReadyLatencyUs ]; then return 0; fi
    sleep 0.1
  done
  die "sink $name did not wake up (latency ${latency:-unknown} us)"
}

add_sink() {
  local name=$1 channels=$2 rate=${3:-48000} format=${4:-float32le} description=${5:-$1}
  local dir=${VELDMIX_AUDIO_DIR:?} map
  case $channels in
    1) map=mono ;;
    2) map=front-left,front-right ;;
    4) map=front-left,front-right,rear-left,rear-right ;;
    6) map=front-left,front-right,front-center,lfe,rear-left,rear-right ;;
    *) die "no channel map for $channels channels" ;;
  esac
  pactl load-module module-null-sink sink_name="$name" channels="$channels" channel_map="$map" \
    rate="$rate" format="$format" "sink_properties=\"device.description='${description//\'/}'\"" \
    >"$dir/$name.module"
  "${realtime[@]}" pacat --playback --latency-msec=$kKeepAliveMs --raw --device="$name" /dev/zero \
    </dev/null >/dev/null 2>&1 &
  echo $! >"$dir/$name.keepalive"
}

remove_sink() {
  local name=$1 dir=${VELDMIX_AUDIO_DIR:?}
  [ -f "$dir/$name.keepalive" ] && kill "$(cat "$dir/$name.keepalive")" 2>/dev/null || true
  [ -f "$dir/$name.module" ] && pactl unload-module "$(cat "$dir/$name.module")" 2>/dev/null || true
  rm -f "$dir/$name.keepalive" "$dir/$name.module"
}

start() {
  local dir=${1:-}
  if [ -z "$dir" ]; then dir=$(mktemp -d /tmp/veldmix-pulse-XXXXXX); else mkdir -p "$dir"; fi
  dir=$(cd "$dir" && pwd)
  mkdir -p "$dir/runtime" "$dir/home"
  chmod 700 "$dir/runtime"
  local socket="$dir/runtime/native"
  cat >"$dir/server.pa" <<EOF
load-module module-native-protocol-unix socket=$socket auth-anonymous=1
EOF
  # The server's own HOME and runtime folder keep it away from any other sound server here.
  HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/home/.config" \
    "${realtime[@]}" pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disable-shm=no \
    --realtime=yes --high-priority=yes \
    --log-target=file:"$dir/server.log" -F "$dir/server.pa" </dev/null >/dev/null 2>&1 &
  echo $! >"$dir/server.pid"
  export PULSE_SERVER="unix:$socket" XDG_RUNTIME_DIR="$dir/runtime" VELDMIX_AUDIO_DIR="$dir"
  for _ in $(seq $kWaitSteps); do
    pactl info >/dev/null 2>&1 && break
    kill -0 "$(cat "$dir/server.pid")" 2>/dev/null || die "the server did not start (see $dir/server.log)"
    sleep 0.1
  done
  pactl info >/dev/null 2>&1 || die "the server does not answer (see $dir/server.log)"
  # Loaded together, the sinks wake up together.
  add_sink veldmix_test 2 48000 float32le
  add_sink veldmix_quad 4 44100 s16le
  add_sink veldmix_mic 2 48000 float32le
  for name in veldmix_test veldmix_quad veldmix_mic; do wait_ready $name; done
  pactl set-default-sink veldmix_test
  pactl set-default-source veldmix_mic.monitor
  if [ -n "${VELDMIX_AUDIO_OWNER:-}" ]; then
    local owner=$VELDMIX_AUDIO_OWNER self
    self=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/$(basename "${BASH_SOURCE[0]}")
    (
      while kill -0 "$owner" 2>/dev/null && [ -f "$dir/server.pid" ]; do sleep 1; done
      [ -f "$dir/server.pid" ] && "$self" stop "$dir"
    ) </dev/null >/dev/null 2>&1 &
  fi
  echo "export PULSE_SERVER='$PULSE_SERVER'"
  echo "export XDG_RUNTIME_DIR='$XDG_RUNTIME_DIR'"
  echo "export VELDMIX_AUDIO_DIR='$dir'"
}

stop() {
  local dir=${1:-${VELDMIX_AUDIO_DIR:-}}
  [ -n "$dir" ] && [ -d "$dir" ] || die "stop: no server folder given"
  for f in "$dir"/*.keepalive; do
    [ -f "$f" ] && kill "$(cat "$f")" 2>/dev/null || true
  done
  if [ -f "$dir/server.pid" ]; then
    local pid
    pid=$(cat "$dir/server.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  case $dir in /tmp/veldmix-pulse-*) rm -rf "$dir" ;; esac
}

case ${1:-} in
  start) start "${2:-}" ;;
  stop) stop "${2:-}" ;;
  add-sink)
    [ $# -ge 3 ] || die "usage: add-sink NAME CHANNELS [RATE [FORMAT [DESCRIPTION]]]"
    add_sink "$2" "$3" "${4:-48000}" "${5:-float32le}" "${6:-$2}"
    wait_ready "$2" ;;
  remove-sink) [ $# -ge 2 ] || die "usage: remove-sink NAME"; remove_sink "$2" ;;
  *) die "usage: $0 start [DIR] | stop [DIR] | add-sink NAME CHANNELS [RATE [FORMAT [DESCRIPTION]]] | remove-sink NAME" ;;
esac
