# Sourced by the end-to-end scripts: a private virtual display of their own.
# start_private_display LOG XVFB-ARGS...: starts Xvfb on a free display number with the given
# arguments (e.g. -screen 0 1600x1000x24); sets DISPLAY and xvfb_pid. Returns 1 when no display
# could be started.
start_private_display() {
  local logfile=$1 n
  shift
  for _ in $(seq 1 20); do
    n=$((900 + RANDOM % 99))
    { [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; } && continue
    Xvfb ":$n" "$@" -nolisten tcp >"$logfile" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1 50); do
      xdpyinfo -display ":$n" >/dev/null 2>&1 && break
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    # Our own server must be the one answering: another test may have taken the same number.
    if kill -0 "$xvfb_pid" 2>/dev/null && xdpyinfo -display ":$n" >/dev/null 2>&1; then
      export DISPLAY=":$n"
      return 0
    fi
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  done
  return 1
}
