#!/usr/bin/env bash
# nginx-light with the RTMP module as a loopback ingest server for tests, optionally with the
# stream module terminating TLS in front of it (a test CA made here; trust it through
# SSL_CERT_FILE=$DIR/ca.crt). Everything lives in one private folder; ports are picked free.
#
#   nginx_rtmp.sh start DIR [tls [UPSTREAM]]   starts nginx, writes DIR/ports (rtmp=, tls=, wrong=,
#                                              tls12=) and DIR/pid
#   nginx_rtmp.sh stop DIR                     stops it and waits until it is gone
#
# Sourced, it offers the same as functions: nginx_rtmp_start, nginx_rtmp_stop, nginx_free_port.
# Recordings land in DIR/rec/KEY.flv. With NGINX_RTMP_ON_PUBLISH set to a URL, each publish is
# first posted there (nginx-rtmp's on_publish): an answer other than 2xx refuses it. With tls, port "tls" has a certificate for localhost and
# 127.0.0.1 and offers TLS 1.3 (nginx 1.22 does not by default), port "wrong" one for
# wrong.example, both signed by DIR/ca.crt; port "tls12" is "tls" limited to TLS 1.2. The TLS fronts pass the plain bytes to nginx-rtmp, or to 127.0.0.1:UPSTREAM.

nginx_modules=/usr/lib/nginx/modules
nginx_start_wait_s=10

nginx_free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Makes DIR/ca.crt and two server certificates it signs: DIR/good.* and DIR/wrong.*.
nginx_make_certs() {
  local dir=$1
  local ec=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
  openssl req -x509 "${ec[@]}" -keyout "$dir/ca.key" -out "$dir/ca.crt" -days 2 \
    -subj "/CN=Veldmix Test CA" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null || return 1
  local name san
  for name in good wrong; do
    if [ $name = good ]; then san="DNS:localhost,IP:127.0.0.1"; else san="DNS:wrong.example"; fi
    openssl req "${ec[@]}" -keyout "$dir/$name.key" -out "$dir/$name.csr" \
      -subj "/CN=${san#DNS:}" 2>/dev/null || return 1
    printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n' \
      "$san" > "$dir/$name.ext"
    openssl x509 -req -in "$dir/$name.csr" -CA "$dir/ca.crt" -CAkey "$dir/ca.key" -CAcreateserial \
      -out "$dir/$name.crt" -days 2 -extfile "$dir/$name.ext" 2>/dev/null || return 1
  done
}

# True once something accepts connections on 127.0.0.1:$1.
nginx_port_open() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# Another test may take a port between picking and binding it: try again with fresh ports.
nginx_rtmp_start() {
  local attempt
  for attempt in 1 2 3; do
    nginx_rtmp_try_start "$@" && return 0
  done
  return 1
}

nginx_rtmp_try_start() {
  local dir tls upstream rtmp secure wrong tls12
  dir=$(cd "$1" && pwd) || return 1
  tls=${2:-}
  upstream=${3:-}
  mkdir -p "$dir/rec" || return 1
  rtmp=$(nginx_free_port) || return 1
  {
    echo "load_module $nginx_modules/ngx_rtmp_module.so;"
    [ -n "$tls" ] && echo "load_module $nginx_modules/ngx_stream_module.so;"
    echo "master_process off;"
    echo "worker_processes 1;"
    echo "pid $dir/nginx.pid;"
    echo "error_log $dir/error.log info;"
    echo "events { worker_connections 64; }"
    echo "rtmp { server { listen 127.0.0.1:$rtmp; chunk_size 4096;"
    echo "  application live { live on; record all; record_path $dir/rec;"
    [ -n "${NGINX_RTMP_ON_PUBLISH:-}" ] && echo "    on_publish $NGINX_RTMP_ON_PUBLISH;"
    echo "  } } }"
  } > "$dir/nginx.conf"
  echo "rtmp=$rtmp" > "$dir/ports"
  if [ -n "$tls" ]; then
    [ -s "$dir/ca.crt" ] || nginx_make_certs "$dir" ||
      { echo "nginx_rtmp: openssl could not make the test CA" >&2; return 1; }
    secure=$(nginx_free_port) && wrong=$(nginx_free_port) && tls12=$(nginx_free_port) || return 1
    local to=${upstream:-$rtmp}
    {
      echo "stream {"
      echo "  server { listen 127.0.0.1:$secure ssl; ssl_protocols TLSv1.2 TLSv1.3; ssl_certificate $dir/good.crt;"
      echo "    ssl_certificate_key $dir/good.key; proxy_pass 127.0.0.1:$to; }"
      echo "  server { listen 127.0.0.1:$wrong ssl; ssl_certificate $dir/wrong.crt;"
      echo "    ssl_certificate_key $dir/wrong.key; proxy_pass 127.0.0.1:$to; }"
      echo "  server { listen 127.0.0.1:$tls12 ssl; ssl_protocols TLSv1.2; ssl_certificate $dir/good.crt;"
      echo "    ssl_certificate_key $dir/good.key; proxy_pass 127.0.0.1:$to; }"
      echo "}"
    } >> "$dir/nginx.conf"
    printf 'tls=%s\nwrong=%s\ntls12=%s\n' "$secure" "$wrong" "$tls12" >> "$dir/ports"
  fi
  nginx -p "$dir" -e "$dir/error.log" -c "$dir/nginx.conf" -g 'daemon off;' >"$dir/stdout.log" 2>&1 &
  echo $! > "$dir/pid"
  local waited=0 port
  for port in $rtmp ${secure:-} ${wrong:-} ${tls12:-}; do
    until nginx_port_open "$port"; do
      if ! kill -0 "$(cat "$dir/pid")" 2>/dev/null || [ $waited -ge $((nginx_start_wait_s * 10)) ]; then
        echo "nginx_rtmp: nginx did not start:" >&2
        cat "$dir/stdout.log" "$dir/error.log" >&2 2>/dev/null
        nginx_rtmp_stop "$dir"
        return 1
      fi
      sleep 0.1
      waited=$((waited + 1))
    done
  done
}

nginx_rtmp_stop() {
  local dir=$1 pid
  [ -f "$dir/pid" ] || return 0
  pid=$(cat "$dir/pid")
  rm -f "$dir/pid"
  kill -TERM "$pid" 2>/dev/null || return 0
  local i
  for i in $(seq 1 50); do
    # Started by another shell, an exited nginx stays a zombie until init reaps it: gone all the same.
    kill -0 "$pid" 2>/dev/null && ! grep -q '^State:.*Z' "/proc/$pid/status" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case "${1:-}" in
    start) nginx_rtmp_start "${2:?folder}" "${3:-}" "${4:-}" ;;
    stop) nginx_rtmp_stop "${2:?folder}" ;;
    *) echo "usage: nginx_rtmp.sh start DIR [tls [UPSTREAM]] | stop DIR" >&2; exit 2 ;;
  esac
fi
