#!/usr/bin/env bash
# The program's life under a virtual display: it starts with a track and shows its window cleared
# to the skin's background; a second start hands its file over and ends at once; SIGTERM and the
# window's close button both save the session and end with 0; a crash is reported at the next
# start; a test run neither takes part in the single-instance rule nor saves anything.
# Cost: 35
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix Xvfb xdpyinfo xwininfo ffmpeg sox od
private_home
no_sound_server  # the program must run without one

# --- A private display ---
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 || fail "no virtual display could be started"

sox -n -r 44100 -c 2 "$work/one.wav" synth 1 sine 440 2>/dev/null || fail "sox could not make a track"
cp "$work/one.wav" "$work/two words.wav"

# --- Helpers ---
start_app() {  # arguments for veldmix; sets app_pid
  "$app" "$@" >>"$work/app.out" 2>&1 &
  app_pid=$!
}
window_line() { xwininfo -root -tree 2>/dev/null | grep -F '"VELDMIX 1.0.10"' | head -n 1; }
window_shown() { [ -n "$(window_line)" ]; }
window_gone() { [ -z "$(window_line)" ]; }
wait_exit() {  # pid: waits for it and sets code to its exit code
  code=0
  wait "$1" || code=$?
}
# Sends WM_DELETE_WINDOW to the window, as a window manager's close button does.
close_window() {
  /usr/bin/python3 - "$1" <<'EOF'
import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]
class Event(ctypes.Union):
    _fields_ = [("message", ClientMessage), ("pad", ctypes.c_long * 24)]
display = x.XOpenDisplay(None)
window = int(sys.argv[1], 16)
event = Event()
event.message.type = 33  # ClientMessage
event.message.window = window
event.message.message_type = x.XInternAtom(display, b"WM_PROTOCOLS", 0)
event.message.format = 32
event.message.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(display, window, 0, 0, ctypes.byref(event))
x.XFlush(display)
x.XCloseDisplay(display)
EOF
}

# --- 1. First start with a track ---
start_app "$work/one.wav"
first=$app_pid
wait_for 10 window_shown || fail "the main window did not appear"
wait_for 5 log_has "[$first] ==== Veldmix 1.0.10 started on Linux" || fail "no start line in the log"
log_has "[$first] Command line: $work/one.wav" || fail "the command line was not logged"
if [ -n "${PULSE_SERVER:-}" ]; then
  wait_for 10 log_has "[$first] Audio: master output started" || fail "the output did not start on $PULSE_SERVER"
else
  wait_for 10 log_has "[$first] Audio: the master output couldn't be opened" ||
    fail "without a sound server the output failure was not logged"
fi
[ -S "$XDG_RUNTIME_DIR/Veldmix/Orrelby.Veldmix.sock" ] || fail "the running copy does not listen for later starts"

# --- 2. The window shows the skin's background ---
geometry=""
for _ in $(seq 1 30); do  # a loaded X server can briefly list the window without its geometry
  geometry=$(window_line | grep -oE '[0-9]+x[0-9]+\+[0-9]+\+[0-9]+' | head -n 1 || true)
  [ -n "$geometry" ] && break
  sleep 0.1
done
IFS='x+' read -r width height left top <<<"$geometry"
[ "$width" = 1500 ] && [ "$height" = 980 ] || fail "window is ${width}x${height}, not 1500x980"
pixel() { od -An -tx1 -j $((($2 * 1600 + $1) * 3)) -N 3 "$work/screen.rgb" | tr -d ' \n'; }
# The frame is the dark main screen (backdrop and panels in the skin's colours), not the bare black
# X root; a loaded machine draws the first frame late, so the screen is read until it shows.
undrawn=""
main_screen_drawn() {
  local point px py rgb r g b
  ffmpeg -hide_banner -loglevel error -y -f x11grab -draw_mouse 0 -video_size 1600x1000 -i "$DISPLAY" \
    -frames:v 1 -f rawvideo -pix_fmt rgb24 "$work/screen.rgb" || { undrawn="no raw screenshot"; return 1; }
  for point in "$((left + 5)) $((top + 5))" "$((left + width / 2)) $((top + height / 2))" \
    "$((left + width - 6)) $((top + height - 6))"; do
    read -r px py <<<"$point"
    rgb=$(pixel "$px" "$py")
    r=$((16#${rgb:0:2})); g=$((16#${rgb:2:2})); b=$((16#${rgb:4:2}))
    { [ $r -le 80 ] && [ $g -le 80 ] && [ $b -le 96 ] && [ $b -ge $r ] && [ $((r + g + b)) -ge 12 ]; } ||
      { undrawn="pixel ($px, $py) is $rgb, not the dark main screen"; return 1; }
  done
}
wait_for 15 main_screen_drawn || fail "$undrawn"
mkdir -p "$build/e2e-artifacts"
ffmpeg -hide_banner -loglevel error -y -f x11grab -draw_mouse 0 -video_size 1600x1000 -i "$DISPLAY" \
  -frames:v 1 "$build/e2e-artifacts/app_lifecycle.png" || fail "no screenshot"
[ "$(pixel 10 500)" != "07080c" ] || fail "the background colour reaches outside the window"

# --- 3. A second start hands its file over and ends at once ---
began=$(date +%s%N)
timeout 10 "$app" "$work/two words.wav" >>"$work/app.out" 2>&1 || fail "the second start exited with $?"
elapsed_ms=$((($(date +%s%N) - began) / 1000000))
[ "$elapsed_ms" -lt 3000 ] || fail "the second start took $elapsed_ms ms"
wait_for 5 log_has "[$first] Opening what another start handed over: \"$work/two words.wav\"" ||
  fail "the running copy did not receive the file"
log_has "Handed off to the copy already running (process $first)" || fail "the second start did not log its hand-off"

# Without arguments a second start only asks the window to come forward.
handed=$(grep -c "Opening what another start handed over" "$log")
timeout 10 "$app" >>"$work/app.out" 2>&1 || fail "the bare second start exited with $?"
[ "$(grep -c "Handed off to the copy already running (process $first)" "$log")" = 2 ] ||
  fail "the bare second start did not hand off"
sleep 0.2
[ "$(grep -c "Opening what another start handed over" "$log")" = "$handed" ] || fail "an empty hand-off opened something"

# --- 4. A test run ignores the running copy and saves nothing ---
start_app --selftest "$work/out.wav" "$work/one.wav"
test_run=$app_pid
wait_for 5 log_has "[$test_run] Command line: --selftest" || fail "the test run did not start"
sleep 0.5
kill -0 "$test_run" 2>/dev/null || fail "the test run handed off or ended instead of running on its own"
! log_has "[$test_run] Handed off" || fail "the test run handed off"
rm -f "$settings"
kill -TERM "$test_run"
wait_exit "$test_run"
[ "$code" = 0 ] || fail "the test run ended with $code after SIGTERM"
[ ! -e "$settings" ] || fail "the test run wrote settings.ini"

# --- 5. SIGTERM saves the settings and the session and ends with 0 ---
kill -TERM "$first"
wait_exit "$first"
[ "$code" = 0 ] || fail "SIGTERM ended the program with $code"
[ -f "$settings" ] || fail "no settings.ini after SIGTERM"
grep -qx '\[Session\]' "$settings" || fail "settings.ini has no [Session] section"
# Deck A took the first track; the handed-over one went to the next free deck, B.
session_is() {  # expected paths of decks A to D
  local deck expected
  for deck in A B C D; do
    expected="$1"
    shift
    grep -qx "Deck${deck}Path=$expected" "$settings" || fail "Deck${deck}Path is not \"$expected\": $(grep "Deck${deck}Path" "$settings")"
    grep -qE "^Deck${deck}Pos=[0-9]+\.[0-9]{6}\$" "$settings" || fail "Deck${deck}Pos is not a %f number"
  done
}
session_is "$work/one.wav" "$work/two words.wav" "" ""
grep -qx "DeckCPos=0.000000" "$settings" || fail "an empty deck's position is not 0.000000"
grep -qx '\[Options\]' "$settings" || fail "the settings themselves were not saved"
log_has "[$first] A stop signal asked Veldmix to close" || fail "the stop signal was not logged"
log_has "[$first] Veldmix closed" || fail "no closing line after SIGTERM"
[ ! -e "$XDG_RUNTIME_DIR/Veldmix/Orrelby.Veldmix.sock" ] || fail "the hand-off socket was left behind"

# --- 6. Without arguments the session comes back; the close button saves it again ---
sed -i -e "s|^DeckAPath=.*|DeckAPath=$work/two words.wav|" -e "s|^DeckBPath=.*|DeckBPath=$work/gone.wav|" "$settings"
start_app
wait_for 10 window_shown || fail "the window did not appear for the close test"
wait_for 30 log_has "[$app_pid] Deck A: loaded \"two words.wav\"" || fail "the session's track did not load again"
close_window "$(window_line | awk '{print $1}')"
wait_exit "$app_pid"
[ "$code" = 0 ] || fail "closing the window ended the program with $code"
log_has "[$app_pid] Veldmix closed" || fail "no closing line after the close button"
session_is "$work/two words.wav" "" "" ""

# --- 7. A crash is reported at the next start ---
start_app
crashed=$app_pid
wait_for 10 window_shown || fail "the window did not appear for the crash test"
kill -SEGV "$crashed"
wait_exit "$crashed"
[ "$code" = 139 ] || fail "SIGSEGV ended the program with $code, not 139"
[ -e "$HOME/.local/state/Veldmix/last-crash" ] || fail "the crash left no marker"
wait_for 10 window_gone || fail "the crashed window stayed"
start_app
wait_for 10 log_has "[$app_pid] The previous run crashed" || fail "the crash was not reported at the next start"
wait_for 10 window_shown || fail "the window did not appear after the crash"
kill -INT "$app_pid"
wait_exit "$app_pid"
[ "$code" = 0 ] || fail "SIGINT ended the program with $code"

# --- 8. The display going away saves the work and ends with 1, without a crash ---
rm -f "$HOME/.local/state/Veldmix/last-crash"
dumps=$(find "$HOME/.local/state/Veldmix" -name '*.dmp' | wc -l)
start_app "$work/one.wav"
wait_for 10 window_shown || fail "the window did not appear for the display test"
wait_for 30 log_has "[$app_pid] Deck A: loaded \"one.wav\"" || fail "the track did not load for the display test"
kill "$xvfb_pid"
wait_exit "$app_pid"
[ "$code" = 1 ] || fail "losing the display ended the program with $code, not 1"
log_has "[$app_pid] The display went away; saving and closing" || fail "the lost display was not logged"
log_has "[$app_pid] Veldmix closed" || fail "no closing line after the display went away"
! log_has "[$app_pid] CRASH" || fail "losing the display crashed the program"
[ ! -e "$HOME/.local/state/Veldmix/last-crash" ] || fail "losing the display left a crash marker"
[ "$(find "$HOME/.local/state/Veldmix" -name '*.dmp' | wc -l)" = "$dumps" ] || fail "losing the display wrote a crash report"
grep -qx "DeckAPath=$work/one.wav" "$settings" || fail "the session was not saved when the display went away"

echo "app_lifecycle: PASS"
