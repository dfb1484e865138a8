#!/usr/bin/env bash
# The layer rules as a check over the sources: engine/, library/, control/, broadcast/ and karaoke/
# never include ui/ or screens/ (drawing code), and no folder of the program but platform/
# includes an OS or third-party platform header. Prints every offending include; exits 1 on any.
set -u
root="${1:-${VELDMIX_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}}"
cd "$root" || { echo "layers: no source folder at $root"; exit 1; }

low_folders=(engine library control broadcast karaoke)
program_folders=(app engine ui screens library control broadcast karaoke settings selftest tools)
# Headers only platform/ may include: SDL, cairo, Pango, fontconfig, FFmpeg, ALSA, PulseAudio,
# curl, OpenSSL, hidapi, RtMidi, TagLib, pugixml, ONNX Runtime, libunwind, libdw, LAME, X11, and
# the POSIX and Linux system headers.
platform_headers='SDL2?/|libheif/|cairo|pango|fontconfig/|glib|libav[a-z]*/|libsw[a-z]*/|alsa/|pulse/|curl/|openssl/|hidapi|rtmidi|RtMidi|jack/|taglib/|pugixml|onnxruntime|libunwind|elfutils/|dwarf|lame/|X11/'
posix_headers='unistd|fcntl|dlfcn|pthread|signal|poll|termios|dirent|spawn|sched|pwd|grp|netdb|syslog|ucontext|execinfo|link|elf|sys/[a-z_/]+|netinet/[a-z_]+|arpa/[a-z_]+|linux/[a-z_/]+|asm/[a-z_/]+'
include='^[[:space:]]*#[[:space:]]*include[[:space:]]*'

sources() { find "$@" -type f \( -name '*.h' -o -name '*.cpp' \) 2>/dev/null; }

fail=0
count=$(sources "${program_folders[@]}" | wc -l)
if [ "$count" -lt 100 ]; then
  echo "layers: only $count source files under $root; is it the source folder?"
  exit 1
fi

hits=$(sources "${low_folders[@]}" | xargs grep -nE "${include}\"(ui|screens)/" || true)
if [ -n "$hits" ]; then
  echo "layers: FAIL: drawing code included below ui/ (use the state and commands in engine/, the ShowStatus sink):"
  echo "$hits"
  fail=1
fi

hits=$(sources "${program_folders[@]}" |
  xargs grep -nE "${include}[<\"](${platform_headers}|(${posix_headers})\.h[>\"])" || true)
if [ -n "$hits" ]; then
  echo "layers: FAIL: an OS or platform library header outside platform/ (add what is needed to a platform/ header):"
  echo "$hits"
  fail=1
fi

[ $fail -eq 0 ] && echo "PASS: layers ($count files)"
exit $fail
