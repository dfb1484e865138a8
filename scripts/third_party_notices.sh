#!/usr/bin/env bash
# third_party_notices.sh PROGRAM OUT: writes OUT listing every shared library PROGRAM loads, the
# Debian package it comes from and that package's copyright file (its licence texts). Libraries
# outside any package (a bundled ONNX Runtime) are listed with their own licence file when one
# lies beside them. Written to OUT.tmp and renamed, so a failed run keeps no half file.
set -euo pipefail
program="$1"
out="$2"
tmp="$out.tmp"
trap 'rm -f "$tmp"' EXIT

libs=$(ldd "$program" | awk '/=> \// {print $3}' | sort -u)
# One dpkg query for all of them (per-file queries take minutes): each library under its own path,
# its resolved path and the /usr form of both, as a merged /usr lists them.
declare -A owner=()
candidates=()
for lib in $libs; do
  real=$(readlink -f "$lib")
  for p in "$lib" "$real"; do candidates+=("$p" "/usr${p#/usr}"); done
done
while IFS= read -r line; do
  path="${line#*: }"
  pkg="${line%%: *}"
  owner["$path"]="${pkg%%:*}"
done < <(dpkg -S "${candidates[@]}" 2>/dev/null || true)
package_of() {
  local real p
  real=$(readlink -f "$1")
  for p in "$1" "$real" "/usr${1#/usr}" "/usr${real#/usr}"; do
    if [ -n "${owner[$p]:-}" ]; then echo "${owner[$p]}"; return; fi
  done
}
{
  echo "Veldmix uses the following libraries. Each is listed with the package it comes from and"
  echo "that package's copyright and licence notice."
  echo
  declare -A seen=()
  for lib in $libs; do
    real=$(readlink -f "$lib")
    pkg=$(package_of "$lib")
    echo "================================================================================"
    echo "$(basename "$lib")"
    if [ -n "$pkg" ]; then
      echo "Package: $pkg"
      doc="/usr/share/doc/$pkg/copyright"
      if [ -n "${seen[$pkg]:-}" ]; then
        echo "Licence: as for $(basename "${seen[$pkg]}") above"
      elif [ -r "$doc" ]; then
        seen[$pkg]="$lib"
        echo
        cat "$doc"
      else
        echo "Licence: see the package $pkg"
      fi
    else
      licence=$(ls "$(dirname "$real")"/../LICENSE* "$(dirname "$real")"/LICENSE* 2>/dev/null | head -1 || true)
      echo "Package: none (bundled)"
      if [ -n "$licence" ]; then echo; cat "$licence"; fi
    fi
    echo
  done
} > "$tmp"
mv "$tmp" "$out"
trap - EXIT
