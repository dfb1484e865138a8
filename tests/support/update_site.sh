# Sourced by the update scripts: an HTTPS update site on loopback. nginx-light serves the folder
# DIR/site (each test case a subfolder holding api/veldmix/latest and downloads/veldmix/...) with
# a certificate for 127.0.0.1 from a test CA (trust it with SSL_CERT_FILE=DIR/ca.crt), logs each
# request's path, status and User-Agent to DIR/access.log, answers 503 under /s503/ and redirects
# every request under /loop/ to itself. update_peer.py, on a second port, does what nginx will
# not (a body cut short, a byte a second).
#   update_site_start DIR   sets update_port and peer_port
# shellcheck source=nginx_rtmp.sh
source "$(dirname "${BASH_SOURCE[0]}")/nginx_rtmp.sh"

update_site_start() {
  local dir=$1 attempt
  mkdir -p "$dir/site" "$dir/temp"
  nginx_make_certs "$dir" || { echo "update_site: openssl could not make the test CA" >&2; return 1; }
  for attempt in 1 2 3; do
    update_port=$(nginx_free_port)
    cat >"$dir/nginx.conf" <<CONF
master_process off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 64; }
http {
  log_format agent '\$request_uri \$status "\$http_user_agent"';
  access_log $dir/access.log agent;
  client_body_temp_path $dir/temp; proxy_temp_path $dir/temp; fastcgi_temp_path $dir/temp;
  uwsgi_temp_path $dir/temp; scgi_temp_path $dir/temp;
  server {
    listen 127.0.0.1:$update_port ssl;
    ssl_certificate $dir/good.crt;
    ssl_certificate_key $dir/good.key;
    root $dir/site;
    default_type application/octet-stream;
    location /s503/ { return 503; }
    location /loop/ { return 302 \$request_uri; }
  }
}
CONF
    nginx -p "$dir" -e "$dir/error.log" -c "$dir/nginx.conf" -g 'daemon off;' >"$dir/nginx.out" 2>&1 &
    local waited=0
    until nginx_port_open "$update_port"; do
      sleep 0.1
      waited=$((waited + 1))
      [ $waited -lt 50 ] || break
    done
    nginx_port_open "$update_port" && break
  done
  nginx_port_open "$update_port" || { cat "$dir/nginx.out" "$dir/error.log" >&2; return 1; }
  peer_port=$(nginx_free_port)
  python3 "$(dirname "${BASH_SOURCE[0]}")/update_peer.py" "$peer_port" "$dir/good.crt" "$dir/good.key" \
    "$dir/site" >"$dir/peer.log" 2>&1 &
  wait_for 10 nginx_port_open "$peer_port" || { cat "$dir/peer.log" >&2; return 1; }
}

# update_manifest DIR CASE FILE SIZE SHA256 [STAMP]: DIR/site/CASE/api/veldmix/latest naming the
# file under CASE's download folder.
update_manifest() {
  mkdir -p "$1/site/$2/api/veldmix" "$1/site/$2/downloads/veldmix"
  printf '{"file": "%s", "url": "/downloads/veldmix/%s", "stamp": %s, "size": %s, "sha256": "%s"}\n' \
    "$3" "$3" "${6:-1900000000}" "$4" "$5" >"$1/site/$2/api/veldmix/latest"
}

# make_package PATH BYTES: a package file (the compound-file signature, then random bytes).
make_package() {
  { printf '\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1'; head -c "$(($2 - 8))" /dev/urandom; } >"$1"
}
