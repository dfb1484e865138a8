#!/usr/bin/env bash
# Installs what is missing, builds, and starts Veldmix with the given tracks.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display; Veldmix needs a desktop session (the headless self-test comes later)" >&2
  exit 1
fi
exec "${VELDMIX_BUILD:-$root/build}/veldmix" "$@"
