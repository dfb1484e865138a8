# Sourced by the end-to-end scripts: a private virtual display of their own.
# start_private_display LOG XVFB-ARGS...: starts Xvfb on a free display number with the given
# arguments (e.g. -screen 0 1600x1000x24); sets DISPLAY and xvfb_pid. Returns 1 when no display
# could be started.
start_private_display() {
  local logfile=$1 numberfile n=""
  shift
  numberfile="$(mktemp /tmp/veldmix-display-XXXXXX)"
  # Xvfb picks a free number itself and writes it to the descriptor: two tests starting at once
  # can never end up sharing a server.
  Xvfb -displayfd 3 "$@" -nolisten tcp 3>"$numberfile" >"$logfile" 2>&1 &
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
