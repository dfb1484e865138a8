#!/usr/bin/env bash
# Installs what is missing, builds, and starts Veldmix with the given tracks.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
exec "${VELDMIX_BUILD:-$root/build}/veldmix" "$@"
