#!/usr/bin/env bash
# Installs the Debian packages of scripts/packages.txt that are missing; quiet when all are there.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
mapfile -t wanted < <(grep -v '^\s*#' "$here/packages.txt" | sed '/^\s*$/d')
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if ((${#missing[@]})); then
  echo "setup: installing ${#missing[@]} packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# npm is not in the package list: a NodeSource nodejs conflicts with Debian's npm package.
command -v npm >/dev/null || DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends npm >/dev/null
# The stem engine's runtime, cached outside the clone.
"$here/onnxruntime.sh" >/dev/null || echo "setup: ONNX Runtime could not be fetched; stems will be unavailable" >&2
