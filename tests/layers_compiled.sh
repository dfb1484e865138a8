#!/usr/bin/env bash
# The compiler keeps the layers too: in a copy of the sources, one file above platform/ with an
# outside library's header planted in it does not compile with the core library's flags (the
# build's own, from compile_commands.json), where a platform/ file with the same headers does, and
# the file as it is does. Usage: layers_compiled.sh SOURCE BUILD
set -u
root="${1:-${VELDMIX_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}}"
build="${2:-${VELDMIX_BUILD:-$root/build}}"
commands="$build/compile_commands.json"
[ -f "$commands" ] || { echo "FAIL: no $commands (configure and build first)"; exit 1; }

# The compile command of one source of a target in a folder, as an array: the output goes nowhere
# and the source is left for the caller to append.
command_of() {  # target folder
  jq -r --arg t "/$1.dir/" --arg f "$2" '
    [.[] | select((.output // .command) | contains($t)) |
     select(.file | test("/" + $f + "/|unity_" + $f + "_"))][0] | .command // empty' "$commands"
}
core=$(command_of veldmix_core engine)
platform=$(command_of veldmix_platform platform)
[ -n "$core" ] && [ -n "$platform" ] || { echo "FAIL: no engine/ or platform/ compile in $commands"; exit 1; }

work=$(mktemp -d /tmp/veldmix-layers-compiled-XXXXXX)
trap 'rm -rf "$work"' EXIT
for folder in platform base engine; do
  cp -r "$root/$folder" "$work/" || { echo "FAIL: no $folder/ under $root"; exit 1; }
done
# Drops the output and the source, points the sources folder at the copy, checks syntax only.
prepare() {
  sed -E -e 's/ -o [^ ]+/ -o \/dev\/null/' -e 's/ -c [^ ]+$//' -e "s# -I$root # -I$work #g" <<<"$1"
}
core=$(prepare "$core")
platform=$(prepare "$platform")
compile() {  # command source -> output, status
  (cd "$build" && eval "$1 -fsyntax-only -c $2") 2>&1
}

above=engine/sampler_bank.cpp
below=platform/clock.cpp
headers='SDL_events.h SDL2/SDL_events.h tag.h taglib/tag.h pulse/pulseaudio.h cairo.h cairo/cairo.h
libavformat/avformat.h curl/curl.h openssl/ssl.h pugixml.hpp alsa/asoundlib.h jack/jack.h
rtmidi/RtMidi.h libudev.h X11/Xlib.h'

fail=0
if ! out=$(compile "$core" "$work/$above"); then
  echo "FAIL: $above as it is does not compile:"; echo "$out"; exit 1
fi
# Every header exists and compiles where it belongs.
cp "$work/$below" "$work/$below.kept"
for header in $headers; do echo "#include <$header>"; done >"$work/$below"
cat "$work/$below.kept" >>"$work/$below"
if ! out=$(compile "$platform" "$work/$below"); then
  echo "FAIL: platform/ cannot include the planted headers:"; echo "$out" | head -20; exit 1
fi
mv "$work/$below.kept" "$work/$below"

cp "$work/$above" "$work/$above.kept"
for header in $headers; do
  { echo "#include <$header>"; cat "$work/$above.kept"; } >"$work/$above"
  if out=$(compile "$core" "$work/$above"); then
    echo "FAIL: $above including <$header> compiles"; fail=1
  elif ! grep -qF "$header" <<<"$out"; then
    echo "FAIL: $above including <$header> fails without naming it:"; echo "$out" | head -5; fail=1
  fi
done
mv "$work/$above.kept" "$work/$above"

[ $fail -eq 0 ] && echo "PASS: no outside header compiles above platform/ ($(wc -w <<<"$headers") planted)"
exit $fail
