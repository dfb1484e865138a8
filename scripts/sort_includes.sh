#!/usr/bin/env bash
# Sorts the include blocks of the sources (all tracked .cpp and .h files, or those named) by the
# house style in .clang-format, and touches nothing else: each file is handed to clang-format with
# only its runs of #include lines. With --check, changes nothing and lists the files whose blocks
# are out of order; exits 1 when there is one.
#
#   scripts/sort_includes.sh [--check] [FILE...]
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root" || exit 1
check=0
[ "${1:-}" = --check ] && { check=1; shift; }
command -v clang-format >/dev/null || { echo "sort_includes: clang-format is not installed" >&2; exit 1; }
if [ $# -eq 0 ]; then mapfile -t files < <(git ls-files '*.cpp' '*.h'); else files=("$@"); fi
status=0
if [ "$check" = 1 ]; then
  # One clang-format for every file: each file's include runs are copied, a blank line between
  # runs, to a file of the same name in a scratch tree, which is checked whole. A process per file
  # took minutes on a busy two-core machine.
  scratch="$(mktemp -d)"
  trap 'rm -rf "$scratch"' EXIT
  copies=()
  for f in "${files[@]}"; do
    mkdir -p "$scratch/$(dirname "$f")"
    awk '/^#include/ { if (gap) print ""; print; run = 1; gap = 0; next } run { gap = 1; run = 0 }' "$f" >"$scratch/$f"
    [ -s "$scratch/$f" ] && copies+=("$f")
  done
  cp .clang-format "$scratch/"
  cd "$scratch" || exit 1
  out="$(clang-format --dry-run -Werror "${copies[@]}" 2>&1)" || status=1
  printf '%s\n' "$out" | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error:.*/includes out of order: \1/p' | sort -u
  [ "$status" = 0 ] || [ -n "$out" ] || echo "sort_includes: clang-format failed" >&2
  exit $status
fi
for f in "${files[@]}"; do
  mapfile -t ranges < <(awk '/^#include/ { if (!s) s = NR; e = NR; next }
    { if (s) { print "--lines=" s ":" e; s = 0 } } END { if (s) print "--lines=" s ":" e }' "$f")
  [ ${#ranges[@]} -eq 0 ] && continue
  if [ "$check" = 1 ]; then
    clang-format --dry-run -Werror "${ranges[@]}" "$f" >/dev/null 2>&1 || { echo "includes out of order: $f"; status=1; }
  else
    clang-format -i "${ranges[@]}" "$f" || status=1
  fi
done
exit $status
