#!/usr/bin/env bash
# Fetches ONNX Runtime for the stem engine into a cache outside the clone:
#   <cache>/onnxruntime-1.31.1/lib/libonnxruntime.so.1   (Linux x64, from onnxruntime-node)
#   <cache>/onnxruntime-1.31.1/include/onnxruntime_*.h   (the C API, from com.github.asus4.onnxruntime)
# Packages are taken with `npm pack` (never `npm install`: its script downloads CUDA parts). Only
# those four files are kept; a cache that already holds them downloads nothing. Prints the folder
# on stdout; exits non-zero (the cache untouched) when a download or a check fails.
set -euo pipefail

runtime_package="onnxruntime-node@1.31.1"
header_package="com.github.asus4.onnxruntime@0.4.9"
runtime_member="package/bin/napi-v6/linux/x64/libonnxruntime.so.1"
headers=(onnxruntime_c_api.h onnxruntime_error_code.h onnxruntime_ep_c_api.h)
# The stem engine asks the runtime for this API version (see platform/onnx_runtime.cpp).
wanted_api_version=24

cache="${VELDMIX_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/veldmix-deps}"
dest="$cache/onnxruntime-1.31.1"

complete() {
  [ -s "$1/lib/libonnxruntime.so.1" ] || return 1
  local h
  for h in "${headers[@]}"; do [ -s "$1/include/$h" ] || return 1; done
}

if complete "$dest"; then
  echo "$dest"
  exit 0
fi

say() { echo "onnxruntime.sh: $*" >&2; }
command -v npm >/dev/null || { say "npm is not installed"; exit 1; }
mkdir -p "$cache"
work=$(mktemp -d "$cache/.fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/out/lib" "$work/out/include" "$work/packs"

# npm checks each tarball against the registry's integrity hash; its own cache lives in $work so
# the big tarballs are not stored twice.
pack() {
  (cd "$work/packs" && npm pack "$1" --silent --cache "$work/npm-cache" --no-fund --no-audit \
     --fetch-retries=2 --fetch-retry-mintimeout=2000 --fetch-retry-maxtimeout=10000) \
    || { say "npm pack $1 failed"; return 1; }
}

pack "$runtime_package" >/dev/null
runtime_tgz=$(ls "$work"/packs/onnxruntime-node-*.tgz)
tar --no-same-owner -xzf "$runtime_tgz" -C "$work" "$runtime_member" \
  || { say "$runtime_package has no $runtime_member"; exit 1; }
mv "$work/$runtime_member" "$work/out/lib/libonnxruntime.so.1"
rm -f "$runtime_tgz"
# A Linux x86-64 shared object: ELF magic, 64-bit class, machine 0x3e.
magic=$(od -An -tx1 -N5 "$work/out/lib/libonnxruntime.so.1" | tr -d ' \n')
machine=$(od -An -tx1 -j18 -N2 "$work/out/lib/libonnxruntime.so.1" | tr -d ' \n')
[ "$magic" = "7f454c4602" ] && [ "$machine" = "3e00" ] \
  || { say "libonnxruntime.so.1 is not a 64-bit x86 ELF library"; exit 1; }

pack "$header_package" >/dev/null
header_tgz=$(ls "$work"/packs/com.github.asus4.onnxruntime-*.tgz)
listing=$(tar -tzf "$header_tgz")
for h in "${headers[@]}"; do
  # The package carries the same headers in several framework slices; any one will do.
  member=$(grep -m1 "/Headers/$h\$" <<<"$listing" || true)
  [ -n "$member" ] || { say "$header_package has no $h"; exit 1; }
  tar --no-same-owner -xzf "$header_tgz" -C "$work" "$member"
  mv "$work/$member" "$work/out/include/$h"
done
rm -f "$header_tgz"
version=$(sed -n 's/^#define ORT_API_VERSION \([0-9]*\).*/\1/p' "$work/out/include/onnxruntime_c_api.h")
[ -n "$version" ] && [ "$version" -ge "$wanted_api_version" ] \
  || { say "onnxruntime_c_api.h offers API version '${version}', below $wanted_api_version"; exit 1; }

chmod 0644 "$work"/out/include/*.h
chmod 0755 "$work/out/lib/libonnxruntime.so.1"
rm -rf "$dest"
mv "$work/out" "$dest"
echo "$dest"
