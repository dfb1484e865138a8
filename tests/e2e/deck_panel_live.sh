#!/usr/bin/env bash
# The deck panel of the real program driven with the mouse under a virtual display, with the sink
# recorded: a hot-cue pad sets a cue and jumps back to it, a drag on the jog scratches backwards,
# LOOP IN / OUT loop the music, right-clicks on a hot-cue pad and a sampler pad open menu windows
# that Esc closes, and the beat-grid editor pins a beat that Ctrl+Z takes back. Every click lands
# where `veldmix-tool layout` says the frame draws the control.
# The track is a sine sweeping up 100 Hz a second (200 Hz at 0 s), so the pitch on the sink tells
# the play position; quiet clicks give the analysis a beat grid to pin.
# Labels: slow
# Cost: 63
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix veldmix-tool Xvfb xdpyinfo xwininfo xdotool import sox parec pactl
/usr/bin/python3 -c 'import numpy' 2>/dev/null || fail "python3 numpy is not installed"
artifacts="$build/e2e-artifacts/deck_panel_live"
mkdir -p "$artifacts"
# The recordings and the position reader, to look at what was heard.
e2e_on_fail() { cp "$work"/*.raw "$work/pos.py" "$artifacts/" 2>/dev/null; }
app_pid="" parec_pid=""

# Always a server of our own: positions are read from what the sink carries, and other tests
# sharing a server play into the same sink.
own_sound_server
private_home
database="$HOME/.local/share/Veldmix/database.tsv"

# --- The track: 60 s of sweep and 10 kHz clicks every 22050 samples ---
track="$work/sweep.wav"
{
  sox -n -r 44100 -c 1 -b 16 "$work/click.wav" synth 220s square 10000 vol 0.3 pad 0 21830s &&
    sox "$work/click.wav" "$work/clicks.wav" repeat 119 &&
    sox -n -r 44100 -c 1 -b 16 "$work/tone.wav" synth 60 sine 200:6200 vol 0.4 &&
    sox -m "$work/tone.wav" "$work/clicks.wav" -c 2 "$track"
} 2>/dev/null || fail "sox could not make the track"

# --- Display, program and the layout's rectangles ---
# 96 DPI: UI scale 1, so window pixels are the layout's DIPs.
start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 -dpi 96 || fail "no virtual display could be started"

window_id() { timeout 5 xwininfo -root -tree 2>/dev/null | grep -E '"VELDMIX [0-9.]+"' | head -n 1 | awk '{print $1}'; }
alive() { kill -0 "$app_pid" 2>/dev/null || fail "veldmix exited: $(tail -n 5 "$work/app.out")"; }
shot() {  # name: a screenshot into the artifacts
  screen_shot "$work/$1.png" && cp "$work/$1.png" "$artifacts/$1.png" ||
    fail "no screenshot $1"
}

"$app" "$track" >"$work/app.out" 2>&1 &
app_pid=$!
wait_for 30 eval '[ -n "$(window_id)" ]' || { alive; fail "the main window did not appear"; }
wait_for 15 log_has "Audio: master output started" || { alive; fail "the output did not start"; }
geometry() {  # x y w h of the main window; without an id xwininfo would wait for a click
  local id
  id="$(window_id)"
  [ -n "$id" ] || { echo "0 0 0 0"; return; }
  timeout 5 xwininfo -id "$id" 2>/dev/null | awk -F: '/Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2}
    /Width/ {w=$2} /Height/ {h=$2} END {print x+0, y+0, w+0, h+0}'
}
# The window may be made again and moved after it first shows: wait for it to hold still.
placed() {
  local g
  g="$(geometry)"
  read -r _ _ ww wh <<<"$g"
  [ "$ww" -ge 1340 ] && [ "$wh" -ge 840 ] && sleep 0.3 && [ "$(geometry)" = "$g" ]
}
wait_for 15 placed || fail "the window never settled at its size ($(geometry))"
read -r wx wy ww wh <<<"$(geometry)"
win="$(window_id)"
echo "window at $wx,$wy size ${ww}x${wh}"
declare -A rect
while read -r name x y w h; do rect[$name]="$x $y $w $h"; done < <("$tool" layout "$ww" "$wh" --scale 1)
[ -n "${rect[pads.0.0]:-}" ] || fail "veldmix-tool layout printed no pads"
click() {  # rectangle name [button]: a click at its centre
  local x y w h
  read -r x y w h <<<"${rect[$1]:?no rectangle $1}"
  # No --sync: it waits for a move that never comes when the pointer is already there.
  xdotool mousemove $((wx + x + w / 2)) $((wy + y + h / 2)) click "${2:-1}"
}

# The analysis writes the grid into the library; the autosave puts it into the database.
grid_row() { [ -f "$database" ] && awk -F'\t' -v p="$track" '$1 == p && $6 == 1 {print $2, $3, "[" $47 "]"}' "$database"; }
wait_for 60 eval '[ -n "$(grid_row)" ]' || { alive; fail "the analysed track never reached $database"; }
read -r bpm first markers <<<"$(grid_row)"
echo "analysed grid: $bpm BPM, first beat $first, markers $markers"
awk -v b="$bpm" 'BEGIN { exit !(b > 0) }' || fail "the analysis found no tempo ($bpm BPM)"
sleep 0.5
shot loaded

# --- The play position from the recording ---
cat >"$work/pos.py" <<'EOF'
# pos.py RAW T...: the track position (seconds) heard around each recording time T, or nan.
# jumps RAW T0 T1: the backward jumps of more than 0.3 s between T0 and T1, and the range heard.
# forward RAW T: the position heard where the deck first plays on at its speed for 0.5 s from T
# on, or nan. held RAW T: the last position of the steady play heard at T, where something
# (a hand on the jog) stopped it.
import os, sys, numpy as np
shift = float(os.environ.get("REC_SHIFT", "0"))  # our clock's seconds before the recording began
x = np.fromfile(sys.argv[2], dtype='<f4')
x = x[: len(x) // 2 * 2].reshape(-1, 2)[:, 0].astype(np.float64)
rate, n, hop = 48000, 2048, 480
freqs = np.fft.rfftfreq(n, 1 / rate)
band = (freqs > 150) & (freqs < 6500)
win = np.hanning(n)
times, pos = [], []
for start in range(0, len(x) - n, hop):
    seg = x[start:start + n]
    if np.sqrt(np.mean(seg ** 2)) < 0.01:
        continue
    spec = np.abs(np.fft.rfft(seg * win))
    spec[~band] = 0
    k = int(np.argmax(spec))
    a, b, c = np.log(spec[k - 1:k + 2] + 1e-12)
    f = freqs[k] + 0.5 * (a - c) / (a - 2 * b + c) * rate / n
    times.append((start + n / 2) / rate)
    pos.append((f - 200) / 100)
times, pos = np.array(times), np.array(pos)
# A median over five steps drops the clicks and the declick fades.
smooth = np.array([np.median(pos[max(0, i - 2):i + 3]) for i in range(len(pos))])
if sys.argv[1] == "forward":
    t, step = float(sys.argv[3]) - shift, hop / rate
    for i in np.flatnonzero(times >= t):
        j = i + int(round(0.5 / step))
        # Every step heard (no silence between), none back, 0.5 s of music in 0.5 s.
        if j < len(times) and times[j] - times[i] < 0.5 + step / 2 and np.all(np.diff(smooth[i:j + 1]) > -0.02) \
                and abs(smooth[j] - smooth[i] - 0.5) < 0.1:
            print(f"{smooth[i]:.3f}")
            break
    else:
        print("nan")
elif sys.argv[1] == "held":
    # On from T while each 0.1 s ahead is heard whole and plays 0.05-0.15 s of music.
    step, k = hop / rate, 10
    i = int(np.argmin(np.abs(times - (float(sys.argv[3]) - shift)))) if len(times) else 0
    while i + k < len(times) and times[i + k] - times[i] < (k + 0.5) * step and 0.05 < smooth[i + k] - smooth[i] < 0.15:
        i += 1
    print(f"{smooth[i]:.3f}" if len(times) else "nan")
elif sys.argv[1] == "pos":
    out = []
    for t in (float(a) - shift for a in sys.argv[3:]):
        near = smooth[np.abs(times - t) < 0.06]
        out.append(f"{np.median(near):.3f}" if len(near) else "nan")
    print(" ".join(out))
else:
    t0, t1 = float(sys.argv[3]) - shift, float(sys.argv[4]) - shift
    sel = (times >= t0) & (times <= t1)
    p = smooth[sel]
    # Drops found on neighbouring steps are one jump.
    idx = [i for i in range(len(p) - 3) if p[i] - p[i + 3] > 0.3]
    count = sum(1 for k, i in enumerate(idx) if k == 0 or i - idx[k - 1] > 3)
    print(count, f"{p.min():.3f}" if len(p) else "nan", f"{p.max():.3f}" if len(p) else "nan")
EOF
pos_at() { /usr/bin/python3 "$work/pos.py" pos "$@"; }
rec_start() {  # file: records the sink's monitor until rec_stop; sets t0
  parec -d veldmix_test.monitor --raw --format=float32le --channels=2 --rate=48000 --latency-msec=10 >"$1" 2>/dev/null &
  parec_pid=$!
  rec_file="$1"
  t0=$EPOCHREALTIME
}
# On a loaded machine parec may start recording well after it was launched. The recording ends
# when it is stopped, so its length tells how late it began: REC_SHIFT maps our clock onto it.
# The clock is read once parec is gone: the recording ended no later, so a slow kill can only
# map our times earlier into it, never later than what was heard then.
rec_stop() {
  kill "$parec_pid" 2>/dev/null; wait "$parec_pid" 2>/dev/null
  parec_pid=""
  rec_shift
}
rec_shift() {  # REC_SHIFT from what the recording holds now
  local now=$EPOCHREALTIME
  export REC_SHIFT
  REC_SHIFT=$(awk -v t="$(since "$now")" -v b="$(stat -c %s "$rec_file")" 'BEGIN { s = t - b / (48000 * 8); print (s > 0 ? s : 0) }')
}
# since [EPOCH]: seconds from t0 to now (bash's own clock: no process started before it is read).
since() { awk -v a="$t0" -v b="${1:-$EPOCHREALTIME}" 'BEGIN { printf "%.3f", b - a }'; }
# A click on a loaded machine may take a while: the times before and after bracket it.
timed_click() {  # name: sets t_before and t_after (recording seconds)
  local before=$EPOCHREALTIME after
  click "$1"
  after=$EPOCHREALTIME
  t_before=$(since "$before") t_after=$(since "$after")
}
plus() { awk -v a="$1" -v b="$2" 'BEGIN { print a + b }'; }
within() { awk -v a="$1" -v b="$2" -v d="$3" 'BEGIN { exit !(a == a + 0 && b == b + 0 && (a - b) ^ 2 <= d * d) }'; }
less() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a == a + 0 && b == b + 0 && a < b) }'; }

# --- Hot cue: PLAY, pad 1 sets the cue, 2.5 s later pad 1 jumps back to it ---
rec_start "$work/hotcue.raw"
sleep 0.3
click play.0
sleep 1.5
timed_click pads.0.0
set_before=$t_before set_after=$t_after
sleep 2.5
timed_click pads.0.0
sleep 1.5
rec_stop
alive
shot hotcue_set  # screenshots wait on a busy X server: never inside a timed stretch
read -r p_set p_before p_after < <(pos_at "$work/hotcue.raw" "$(plus "$set_after" 0.4)" "$(plus "$t_before" -0.2)" \
  "$(plus "$t_after" 0.4)")
slack="$(awk -v a="$set_before" -v b="$set_after" -v c="$t_before" -v d="$t_after" 'BEGIN { print 0.3 + b - a + d - c }')"
echo "hot cue: at the set $p_set s, before the jump $p_before s, after it $p_after s (within $slack s)"
less 1 "$p_before" || fail "the deck did not play after PLAY (heard $p_before s)"
less 1.5 "$(awk -v a="$p_before" -v b="$p_set" 'BEGIN{print a-b}')" || fail "the deck did not move on after the cue was set"
within "$p_after" "$p_set" "$slack" || fail "pad 1 pressed again played from $p_after s, not the cue at about $p_set s"

# --- Jog: held and turned three times anticlockwise, 5.4 s of music backwards ---
read -r jx jy jw _ <<<"${rect[jog.0]}"
cx=$((wx + jx + jw / 2)) cy=$((wy + jy + jw / 2)) radius=$((jw * 3 / 10))
sleep 1
rec_start "$work/jog.raw"
sleep 0.8
t_touch=$(since)
xdotool mousemove --sync "$cx" $((cy - radius)) mousedown 1
for step in $(seq 1 72); do  # 5 degrees a step
  read -r px py < <(awk -v s="$step" -v r="$radius" -v x="$cx" -v y="$cy" \
    'BEGIN { a = -s * 5 * 3.14159265 / 180; printf "%d %d\n", x + r * sin(a), y - r * cos(a) }')
  xdotool mousemove --sync "$px" "$py"
  sleep 0.02
done
xdotool mouseup 1; t_release=$(since)
# A loaded machine's window may still be working through the drag when the button goes up: the
# deck is read where it first plays on from 0.3 s after the release, waited for as it is recorded.
played_on() { /usr/bin/python3 "$work/pos.py" forward "$work/jog.raw" "$(plus "$t_release" 0.3)"; }
sleep 1.2
for _ in $(seq 1 30); do
  rec_shift
  [ "$(played_on)" != nan ] && break
  sleep 0.5
done
rec_stop
alive
p_touch=$(pos_at "$work/jog.raw" "$(plus "$t_touch" -0.1)")
p_release=$(played_on)
# Where the hand held the deck: a loaded machine's window may take the press late, the deck
# playing on meanwhile, and from there the turns only go back.
p_held=$(/usr/bin/python3 "$work/pos.py" held "$work/jog.raw" "$(plus "$t_touch" -0.1)")
# Untouched, the deck would have moved on by the time the drag took; the hand also lets the
# platter creep on, so less than the full 5.4 s is asked for.
unheld="$(awk -v p="$p_touch" -v a="$t_touch" -v b="$t_release" 'BEGIN{print p + b - a + 0.4}')"
echo "jog: $p_touch s before the touch, held at $p_held s, $p_release s after the release (untouched: $unheld s)"
# 0.6 s back from the hold: 0.5 s from the place heard 0.1 s before the touch, as ever.
less "$p_release" "$(awk -v a="$p_held" 'BEGIN{print a-0.6}')" &&
  less "$p_release" "$(awk -v a="$unheld" 'BEGIN{print a-3}')" ||
  fail "three turns back on the jog left the deck at $p_release s (held at $p_held s, $p_touch s before the touch)"

# --- Loop: the LOOP pads' IN, 0.8 s later OUT; then the music repeats that stretch ---
click tab.0.loop
sleep 0.8
rec_start "$work/loop.raw"
sleep 0.5
timed_click loop.in.0
t_in=$t_after in_before=$t_before
sleep 0.8
timed_click loop.out.0
t_out=$t_before
# At most the time between the clicks, plus what the median and the declick fades smear.
longest="$(awk -v a="$in_before" -v b="$t_after" 'BEGIN { print b - a + 0.5 }')"
sleep 5
rec_stop
alive
shot loop_on
# IN takes the deck's position when the click arrives, never before the click began (in_before),
# and the sink plays that position a buffer later: what was heard as the click began is the
# earliest IN may be, however slow the click. 0.1 s allows for the pitch reading.
read -r p_early p_in p_out < <(pos_at "$work/loop.raw" "$in_before" "$(plus "$t_in" 0.3)" "$(plus "$t_out" -0.1)")
read -r repeats low high < <(/usr/bin/python3 "$work/pos.py" jumps "$work/loop.raw" "$(plus "$t_after" 0.4)" \
  "$(plus "$t_after" 4.8)")
echo "loop: in near $p_in s (the click began at $p_early s), out near $p_out s; afterwards $repeats jumps back within $low..$high s"
[ "$repeats" -ge 2 ] || fail "in 4.4 s after LOOP OUT the music jumped back $repeats times, not at least twice"
less "$(awk -v a="$high" -v b="$low" 'BEGIN{print a-b}')" "$longest" ||
  fail "the looped music spans $low..$high s, more than the loop's $longest s at most"
less "$(awk -v p="$p_early" 'BEGIN{print p-0.1}')" "$low" ||
  fail "the loop plays from $low s, before the IN click began ($p_early s)"
click loop.auto.0  # LOOP ends the loop
click tab.0.cues

# --- Pad menus: a right-click opens an override-redirect window; Esc closes it ---
menu_windows() {
  local id
  for id in $(xwininfo -root -children 2>/dev/null | awk '/^ +0x/ {print $1}'); do
    xwininfo -id "$id" -all 2>/dev/null | grep -q 'Override Redirect State: yes' &&
      xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && echo "$id"
  done
}
check_menu() {  # pad rectangle, screenshot name
  [ -z "$(menu_windows)" ] || fail "a menu window is already open before $1"
  click "$1" 3
  wait_for 5 eval '[ -n "$(menu_windows)" ]' || { alive; fail "a right-click on $1 opened no menu window"; }
  sleep 0.3
  shot "$2"
  xdotool windowfocus "$win" 2>/dev/null
  xdotool key Escape
  wait_for 5 eval '[ -z "$(menu_windows)" ]' || fail "Esc left the menu of $1 open"
}
check_menu pads.0.1 hotcue_menu
click tab.0.sampler
sleep 0.3
check_menu sampler.0.0 sampler_menu
click tab.0.cues

# --- Grid editor: a right-click on SET 1 opens it; a pin is saved; Ctrl+Z takes it back ---
click play.0  # paused, so the pin sits where the deck stands
sleep 0.3
click gridedit.0 3
sleep 0.5
shot grid_editor
click grideditor.3512  # BEAT IS HERE (PIN)
sleep 0.3
shot grid_pinned
click grideditor.done
wait_for 15 eval '[ "$(grid_row)" != "$bpm $first $markers" ]' || { alive; fail "pinning a beat did not change the saved grid"; }
read -r _ _ pinned <<<"$(grid_row)"
echo "after the pin: markers $pinned"
[ "$pinned" != "[]" ] || fail "the pin changed the grid but left no marker"
xdotool windowfocus "$win" 2>/dev/null
xdotool key --clearmodifiers ctrl+z
wait_for 15 eval '[ "$(grid_row)" = "$bpm $first $markers" ]' || fail "Ctrl+Z left the saved grid at $(grid_row)"
shot undone

kill -TERM "$app_pid" 2>/dev/null
wait "$app_pid"
code=$?
app_pid=""
[ "$code" = 0 ] || fail "the program ended with $code"
[ "$(grid_row)" = "$bpm $first $markers" ] || fail "the grid saved at the close is $(grid_row), not the one before the pin"
echo "deck_panel_live: PASS"
