#!/bin/sh
# Writes the C source that gives a program its build stamp: the time of this run (just before the
# program is linked), in seconds since 1970.
set -eu
mkdir -p "$(dirname "$1")"
printf 'const unsigned int veldmix_build_stamp = %su;\n' "$(date +%s)" >"$1.tmp"
mv "$1.tmp" "$1"
