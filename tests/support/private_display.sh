# Sourced by the end-to-end scripts: a private virtual display of their own.
# start_private_display LOG XVFB-ARGS...: starts Xvfb on a free display number with the given
# arguments (e.g. -screen 0 1600x1000x24); sets DISPLAY and xvfb_pid. Returns 1 when no display
# could be started.
# start_private_wm LOG: starts openbox on DISPLAY and waits until it manages the screen; sets
# wm_pid. Returns 1 when it never did.
# screen_shot FILE [IMPORT-ARGS...]: the whole screen (or the crop the arguments give) to FILE.
start_private_display() {
  local logfile=$1 numberfile n=""
  shift
  numberfile="$(mktemp /tmp/veldmix-display-XXXXXX)"
  # Xvfb picks a free number itself and writes it to the descriptor: two tests starting at once
  # can never end up sharing a server.
  # -noreset: the server otherwise resets when its last client (our own probe) leaves, and a client
  # connecting during that reset is refused.
  Xvfb -displayfd 3 "$@" -nolisten tcp -noreset 3>"$numberfile" >"$logfile" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 100); do
    n="$(tr -dc 0-9 <"$numberfile")"
    [ -n "$n" ] && xdpyinfo -display ":$n" >/dev/null 2>&1 && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    n=""
    sleep 0.1
  done
  rm -f "$numberfile"
  if [ -n "$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
    export DISPLAY=":$n"
    return 0
  fi
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
  return 1
}

start_private_wm() {
  local logfile=$1 _
  # A loaded machine can lose openbox's first connection: one more try before calling it failed.
  for _ in 1 2; do
    openbox --sm-disable >>"$logfile" 2>&1 &
    wm_pid=$!
    for _ in $(seq 1 200); do
      xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep "window id" >/dev/null && return 0
      kill -0 "$wm_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$wm_pid" 2>/dev/null || true
    wait "$wm_pid" 2>/dev/null || true
    wm_pid=""
  done
  cat "$logfile" >&2
  return 1
}

screen_shot() {
  local file=$1 _
  shift
  # import walks the window tree; a window that closes during the walk fails that grab alone.
  for _ in 1 2 3; do
    timeout 20 import -window root "$@" "$file" 2>"$file.err" && rm -f "$file.err" && return 0
    sleep 0.2
  done
  cat "$file.err" >&2
  rm -f "$file.err"
  return 1
}
