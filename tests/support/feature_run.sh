# Sourced by the feature-run scripts after e2e_preamble.sh: one --featuretest run in a private
# network namespace when the machine allows it (root), with its network peers started inside, so
# a missed address override fails instead of leaving the machine.
#
#   feature_run NAME OUT TRACK [ingest=tls|wrong|closed] [hold-remote]
#
# Leaves the exit code in $work/NAME.code, the seconds in $work/NAME.seconds, stdout and stderr in
# $work/NAME.out and .err. The sound server and display are the caller's (PULSE_SERVER, DISPLAY);
# both are reached through socket files, which every namespace sees.

readonly kFeatureCap=240     # s: the program's own cap for the feature run
readonly kFeatureLimit=300   # s: the shell's timeout, which must never fire

feature_isolated=0
if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then feature_isolated=1; fi

feature_run() {
  local name=$1 out=$2 track=$3
  shift 3
  local inner="$work/$name.inner.sh"
  cat >"$inner" <<EOF
set -u
source "$source_dir/tests/support/nginx_rtmp.sh"
[ "$feature_isolated" = 1 ] && ip link set lo up
ingest="" holder=""
for option in $*; do
  case "\$option" in
    ingest=tls | ingest=wrong)
      mkdir -p "$work/$name.nginx"
      nginx_rtmp_start "$work/$name.nginx" tls || { echo "nginx would not start" >&2; exit 98; }
      export SSL_CERT_FILE="$work/$name.nginx/ca.crt"
      port=\$(sed -n "s/^\${option#ingest=}=//p" "$work/$name.nginx/ports")
      export VELDMIX_INGEST_ADDRESS="rtmps://127.0.0.1:\$port/live2"
      ingest=nginx ;;
    ingest=closed)
      export VELDMIX_INGEST_ADDRESS="rtmps://127.0.0.1:\$(nginx_free_port)/live2" ;;
    hold-remote)
      python3 -m http.server 18750 --bind 127.0.0.1 >/dev/null 2>&1 &
      holder=\$!
      for _ in \$(seq 1 50); do nginx_port_open 18750 && break; sleep 0.1; done ;;
  esac
done
start=\$(date +%s.%N)
timeout $kFeatureLimit "$app" --featuretest "$out" "$track" >"$work/$name.out" 2>"$work/$name.err"
echo \$? >"$work/$name.code"
awk -v a="\$(date +%s.%N)" -v b="\$start" 'BEGIN { print a - b }' >"$work/$name.seconds"
[ -n "\$holder" ] && kill "\$holder"
[ -n "\$ingest" ] && nginx_rtmp_stop "$work/$name.nginx"
exit 0
EOF
  if [ "$feature_isolated" = 1 ]; then
    unshare -n bash "$inner"
  else
    bash "$inner"
  fi
}

feature_code() { cat "$work/$1.code" 2>/dev/null || echo none; }
feature_seconds() { cat "$work/$1.seconds" 2>/dev/null || echo 0; }
