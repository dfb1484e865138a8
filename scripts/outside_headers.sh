#!/usr/bin/env bash
# The outside libraries' headers that platform/ wraps, read from what platform/ includes, so the
# list is as current as the platform layer itself:
#   outside_headers.sh families ROOT        one family a line: "dir/" (every header under it) or a
#                                           header name ("SDL_events.h")
#   outside_headers.sh poison ROOT FOLDER   fills FOLDER with a header of every such name that stops
#                                           the compile; the layers above platform/ search it first
# A header platform/ includes is an outside library's unless it is the C++ standard library's
# (no extension), fmt's, or the C library's, the kernel's or the compiler's (the list below). A
# bare name that lives in a folder of its own ("SDL.h" in SDL2/) makes that folder's every header
# a member. $CXX (default c++) tells which folders a compile searches without being told.
set -euo pipefail
mode="${1:-}"
root="${2:-}"
[ -d "$root/platform" ] || { echo "usage: outside_headers.sh families|poison ROOT [FOLDER]" >&2; exit 2; }

# The C library's, the kernel's and the compiler's headers: platform/ wraps them too, but the
# standard library's own headers include them, so only tests/layers.sh keeps them out of the
# layers above.
system_headers='^(assert|complex|ctype|errno|fenv|float|inttypes|iso646|limits|locale|math|setjmp|signal|stdalign|stdarg|stdatomic|stdbool|stddef|stdint|stdio|stdlib|stdnoreturn|string|tgmath|threads|time|uchar|wchar|wctype|unistd|fcntl|dlfcn|pthread|poll|termios|dirent|spawn|sched|pwd|grp|netdb|syslog|ucontext|execinfo|link|elf|malloc|ifaddrs|cxxabi|sys/[a-z_/]+|netinet/[a-z_]+|arpa/[a-z_]+|net/[a-z_]+|linux/[a-z_/0-9]+|asm/[a-z_/]+)\.h$'

# Folders the compiler searches by itself, in its order.
mapfile -t default_dirs < <(echo | "${CXX:-c++}" -xc++ -E -v - 2>&1 |
  sed -n '/#include <...> search starts here:/,/End of search list\./p' | sed '1d;$d;s/^ *//')

# Every angle include of platform/ that is an outside library's.
mapfile -t wrapped < <(cat "$root"/platform/*.cpp "$root"/platform/*.h |
  sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*<([^>]+)>.*/\1/p' | sort -u |
  grep -E '\.(h|hpp|hh)$' | grep -vE '^fmt/' | grep -vE "$system_headers" || true)

# Prints the families: "dir/" for a header named with its folder, and for a bare name found in a
# folder below a searched one, that folder and each of its headers (a name that one of the
# searched folders holds itself stays out: it would hide the C library's own).
families() {
  local header dir found base sub name
  for header in "${wrapped[@]}"; do
    if [[ "$header" == */* ]]; then
      echo "${header%%/*}/"
      continue
    fi
    echo "$header"
    for dir in "${default_dirs[@]}"; do
      for found in "$dir"/*/"$header"; do
        [ -f "$found" ] || continue
        base="$(dirname "$found")"
        [[ " ${default_dirs[*]} " == *" $base "* ]] && continue
        sub="${base#"$dir"/}"
        echo "$sub/"
        for name in "$base"/*; do
          name="${name##*/}"
          [ -f "$base/$name" ] || continue
          shadowed=0
          for d in "${default_dirs[@]}"; do [ -e "$d/$name" ] && shadowed=1; done
          [ $shadowed -eq 0 ] && echo "$name"
        done
      done
    done
  done | sort -u
}

# The names to poison: each family's headers under the searched folders, and the bare names.
poisoned() {
  local family dir
  while read -r family; do
    if [[ "$family" == */ ]]; then
      for dir in "${default_dirs[@]}"; do
        [ -d "$dir/$family" ] && (cd "$dir" && find -L "$family" -type f)
      done
    else
      echo "$family"
    fi
  done < <(families)
}

case "$mode" in
  families) families ;;
  poison)
    out="${3:?poison needs a folder}"
    rm -rf "$out"
    mkdir -p "$out"
    cd "$out"
    poisoned | sort -u >names.txt
    sed -n 's|/[^/]*$||p' names.txt | sort -u | xargs -r mkdir -p
    awk '{ printf "#error \"<%s> is an outside library'"'"'s header: only platform/ includes it (add what is needed to a platform/ header)\"\n", $0 >$0; close($0) }' names.txt
    rm names.txt
    ;;
  *) echo "usage: outside_headers.sh families|poison ROOT [FOLDER]" >&2; exit 2 ;;
esac
