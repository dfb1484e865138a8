#!/usr/bin/env bash
# Labels: slow
# Cost: 40
# The update client (veldmix-tool update) against a real HTTPS site on loopback: nginx-light with
# a test CA serves manifests and packages made here, a Python peer cuts a body short and sends a
# byte a second. A good package lands in $XDG_CACHE_HOME/Veldmix/Update (0700) with the same
# sha256sum and the program's User-Agent; every broken answer gives its message and leaves no
# file and no ".part"; the stalled, looping and untrusted sites fail within a minute.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$source_dir/tests/support/update_site.sh"
need veldmix-tool nginx openssl python3 sha256sum
private_home
export XDG_CACHE_HOME="$work/cache"
folder="$XDG_CACHE_HOME/Veldmix/Update"
site="$work/site"
mkdir -p "$site"
update_site_start "$site" || fail "the update site did not start"
export SSL_CERT_FILE="$site/ca.crt"
base="https://127.0.0.1:$update_port"
peer="https://127.0.0.1:$peer_port"

# expect_error URL TEXT: the download (check first) fails with the text and leaves nothing behind.
expect_error() {
  local out
  if out="$("$tool" update download --site "$1" 2>&1)"; then fail "$1 was accepted: $out"; fi
  grep -qF -- "error: $2" <<<"$out" || fail "$1: expected \"$2\", got: $out"
  if [ -d "$folder" ] && [ -n "$(ls -A "$folder")" ]; then fail "$1 left files: $(ls -A "$folder")"; fi
}

# --- The byte-a-second peer runs in the background while the rest is checked ---
make_package "$work/slow.msi" 4096
mkdir -p "$site/site/slow"
update_manifest "$site" slow slow.msi 4096 "$(sha256sum <"$work/slow.msi" | cut -c1-64)"
update_manifest "$site" slowdl slow.msi 4096 "$(sha256sum <"$work/slow.msi" | cut -c1-64)"
cp "$work/slow.msi" "$site/site/slowdl/downloads/veldmix/slow.msi"
started=$(date +%s)
for c in slow slowdl; do
  ( rc=0
    XDG_CACHE_HOME="$work/cache-$c" "$tool" update download --site "$peer/$c" >"$work/$c.out" 2>&1 || rc=$?
    echo "$rc $(($(date +%s) - started))" >"$work/$c.rc" ) &
done

# --- A good package: upper-case SHA-256 accepted, same bytes, private folder, User-Agent ---
make_package "$work/good.msi" 300000
sum="$(sha256sum <"$work/good.msi" | cut -c1-64)"
update_manifest "$site" good "Veldmix 1.0.11 (x64).msi" 300000 "${sum^^}"
cp "$work/good.msi" "$site/site/good/downloads/veldmix/Veldmix 1.0.11 (x64).msi"
out="$("$tool" update download --site "$base/good")" || fail "the good update failed: $out"
grep -qx "sha256: $sum" <<<"$out" || fail "the hash was not kept in lower case: $out"
got="$folder/Veldmix 1.0.11 (x64).msi"
grep -qxF "downloaded: $got" <<<"$out" || fail "unexpected path: $out"
[ "$(sha256sum <"$got" | cut -c1-64)" = "$sum" ] || fail "the download differs from the package"
[ "$(stat -c %a "$folder")" = 700 ] || fail "the download folder is $(stat -c %a "$folder"), not 700"
[ ! -e "$got.part" ] || fail "a .part was left"
grep -qF "/good/api/veldmix/latest 200 \"Veldmix/1.0.10 ($base/good)\"" "$site/access.log" ||
  fail "the check's User-Agent: $(cat "$site/access.log")"

# --- Broken answers ---
rm -rf "$folder"
make_package "$work/p.msi" 5000
psum="$(sha256sum <"$work/p.msi" | cut -c1-64)"
update_manifest "$site" badhash p.msi 5000 "$(printf '%064d' 0)"
update_manifest "$site" short p.msi 6000 "$psum"
update_manifest "$site" cut p.msi 5000 "$psum"
update_manifest "$site" sub p.msi 5000 "$psum"
update_manifest "$site" huge p.msi 1e300 "$psum"
update_manifest "$site" notpkg p.msi 5000 "$psum"
sed -i 's|"url": "/downloads/veldmix/p.msi"|"url": "/downloads/veldmix/sub/p.msi"|' "$site/site/sub/api/veldmix/latest"
for c in badhash short cut sub huge; do cp "$work/p.msi" "$site/site/$c/downloads/veldmix/p.msi"; done
head -c 5000 /dev/urandom >"$work/notpkg.msi"
update_manifest "$site" notpkg p.msi 5000 "$(sha256sum <"$work/notpkg.msi" | cut -c1-64)"
cp "$work/notpkg.msi" "$site/site/notpkg/downloads/veldmix/p.msi"
mkdir -p "$site/site/big/api/veldmix"
python3 -c 'import sys; sys.stdout.write("{\"pad\": \"" + "x" * 70000 + "\"}")' >"$site/site/big/api/veldmix/latest"

expect_error "$base/badhash" "The download was damaged on the way — try again"
expect_error "$base/short" "The download was damaged on the way — try again"
expect_error "$peer/cut" "The download broke off — check the connection and try again"
expect_error "$base/sub" "The update on the server isn't usable"
expect_error "$base/huge" "The update on the server isn't usable"
expect_error "$base/notpkg" "The file on the server isn't an installer"
expect_error "$base/big" "The update server's answer didn't make sense"
expect_error "$base/none" "No updates have been published yet"
expect_error "$base/s503" "The update server isn't answering properly (503)"
expect_error "http://127.0.0.1:$update_port/good" "The update address is wrong"

# --- Sites that must fail within a minute ---
for url in "$base/loop" "$base/good:untrusted"; do
  t0=$(date +%s)
  if [ "${url%:untrusted}" != "$url" ]; then
    out="$(SSL_CERT_FILE=/dev/null "$tool" update check --site "${url%:untrusted}" 2>&1)" && fail "an untrusted site was accepted"
    grep -qF "error: Couldn't reach 127.0.0.1 — is this computer online?" <<<"$out" || fail "untrusted: $out"
  else
    out="$("$tool" update check --site "$url" 2>&1)" && fail "a redirect loop was accepted"
  fi
  [ $(($(date +%s) - t0)) -lt 60 ] || fail "$url took a minute or more"
done

# --- The download folder is refused when it is a symbolic link; nothing lands in its target ---
rm -rf "$folder"
mkdir -p "$work/elsewhere" "$(dirname "$folder")"
ln -s "$work/elsewhere" "$folder"
out="$("$tool" update download --site "$base/good" 2>&1)" && fail "a download went through a symbolic link"
grep -qF "error: Couldn't save the download in the temporary folder" <<<"$out" || fail "symlink: $out"
[ -z "$(ls -A "$work/elsewhere")" ] || fail "the download went through the symbolic link"
[ -L "$folder" ] || fail "the link was removed"

for c in slow slowdl; do
  wait_for 60 test -s "$work/$c.rc" || fail "the byte-a-second site ($c) did not fail within a minute"
  read -r rc took <"$work/$c.rc"
  [ "$rc" = 1 ] && [ "$took" -lt 60 ] || fail "the byte-a-second site ($c): exit $rc after $took s: $(cat "$work/$c.out")"
done
grep -qF "error: The download broke off — check the connection and try again" "$work/slowdl.out" ||
  fail "a stalled download: $(cat "$work/slowdl.out")"
[ -z "$(ls -A "$work/cache-slowdl/Veldmix/Update")" ] || fail "the stalled download left a file"
echo "PASS: update_client"
