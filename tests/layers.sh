#!/usr/bin/env bash
# The layer rules as a check over the sources: every folder of the program has a rank, and no
# file includes a header of a folder ranked above its own (a lower layer that must tell a higher
# one something calls a hook the shell sets). No folder of the program but platform/ includes an
# OS or third-party platform header. Prints every offending include; exits 1 on any.
set -u
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="${1:-${VELDMIX_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}}"
cd "$root" || { echo "layers: no source folder at $root"; exit 1; }

# Lowest first; folders of one rank may include each other.
ranks='platform=0 base=1 engine=2 library=3 broadcast=4 karaoke=4 control=4 ui=5 settings=6 screens=6
app=7 selftest=8 tools=9'
# The program's entry point starts everything, the self-tests among them: it ranks as tools/.
entry_points='app/main.cpp=9'
program_folders=(base app engine ui screens library control broadcast karaoke settings selftest tools)
# Headers only platform/ may include: those of the outside libraries it wraps (the families that
# scripts/outside_headers.sh reads from platform/'s own includes), and the POSIX and Linux system
# headers.
families=$(bash "$here/../scripts/outside_headers.sh" families .) ||
  { echo "layers: the outside headers of platform/ could not be listed"; exit 1; }
posix_headers='unistd|fcntl|dlfcn|pthread|signal|poll|termios|dirent|spawn|sched|pwd|grp|netdb|syslog|ucontext|execinfo|link|elf|sys/[a-z_/]+|netinet/[a-z_]+|arpa/[a-z_]+|linux/[a-z_/]+|asm/[a-z_/]+'
include='^[[:space:]]*#[[:space:]]*include[[:space:]]*'

sources() { find "$@" -type f \( -name '*.h' -o -name '*.cpp' \) 2>/dev/null; }

fail=0
count=$(sources platform "${program_folders[@]}" | wc -l)
if [ "$count" -lt 100 ]; then
  echo "layers: only $count source files under $root; is it the source folder?"
  exit 1
fi

# Every include of a program folder's header, as "file:line:text", judged by the two ranks.
hits=$(sources platform "${program_folders[@]}" | xargs grep -nE "${include}\"[a-z_]+/" |
  awk -v ranks="$ranks" -v entries="$entry_points" '
    BEGIN {
      n = split(ranks, r, /[[:space:]]+/)
      for (i = 1; i <= n; ++i) if (split(r[i], kv, "=") == 2) rank[kv[1]] = kv[2]
      n = split(entries, e, /[[:space:]]+/)
      for (i = 1; i <= n; ++i) if (split(e[i], kv, "=") == 2) entry[kv[1]] = kv[2]
    }
    {
      file = $0; sub(/:.*/, "", file)
      from = file; sub(/\/.*/, "", from)
      target = $0; sub(/^[^"]*"/, "", target)
      to = target; sub(/\/.*/, "", to)
      if (!(to in rank)) next
      mine = (file in entry) ? entry[file] : rank[from]
      if (rank[to] > mine) print $0 "    (" from " ranks " mine ", " to " ranks " rank[to] ")"
    }')
if [ -n "$hits" ]; then
  echo "layers: FAIL: a lower layer includes a higher one (give it a hook that the shell, app/shell_hooks.cpp, sets):"
  echo "$hits"
  fail=1
fi

hits=$(sources "${program_folders[@]}" | xargs grep -nE "${include}[<\"]" |
  awk -v families="$families" -v posix="^(${posix_headers})\\.h$" '
    BEGIN {
      n = split(families, f, "\n")
      for (i = 1; i <= n; ++i) if (f[i] ~ /\/$/) folder[f[i]] = 1; else name[f[i]] = 1
    }
    {
      header = $0; sub(/^[^<"]*[<"]/, "", header); sub(/[>"].*/, "", header)
      top = header; if (sub(/\/.*/, "/", top) == 0) top = ""
      if ((header in name) || (top in folder) || header ~ posix) print
    }')
if [ -n "$hits" ]; then
  echo "layers: FAIL: an OS or outside library header outside platform/ (add what is needed to a platform/ header):"
  echo "$hits"
  fail=1
fi

# A declaration that reaches up: a function declared in a header of one folder but defined only in
# a .cpp of a higher-ranked folder (the lower layer calls up through a bare declaration, where it
# should call a hook the shell sets). Top-level declarations and definitions start at column 0;
# `Type Name(` names the function; a definition's statement reaches `{` before `;`.
declared=$(sources platform "${program_folders[@]}" | grep '\.h$' | xargs awk '
  FNR == 1 { folder = FILENAME; sub(/\/.*/, "", folder) }
  /^[A-Za-z]/ && !/^(extern|using|typedef|template|struct|class|enum|union|inline|constexpr|static|friend|namespace|TEST|[A-Z_]+\()/ {
    line = $0
    sub(/\(.*/, "", line)
    if (line == $0 || line ~ /[=:{]/ || line ~ /operator/) next
    n = split(line, words, /[ *&]+/)
    name = words[n]
    if (n >= 2 && name ~ /^[A-Z][A-Za-z0-9_]*$/) print name, folder, FILENAME ":" FNR
  }')
defined=$(sources platform "${program_folders[@]}" | grep '\.cpp$' | xargs awk '
  FNR == 1 { folder = FILENAME; sub(/\/.*/, "", folder); pending = "" }
  pending != "" {
    if (index($0, "{")) { print pending, folder; pending = "" }
    else if ($0 ~ /;[[:space:]]*(\/\/.*)?$/) pending = ""
    next
  }
  /^[A-Za-z]/ && !/^(extern|using|typedef|template|struct|class|enum|union|friend|namespace|TEST|[A-Z_]+\()/ {
    line = $0
    sub(/\(.*/, "", line)
    if (line == $0 || line ~ /[=:{]/ || line ~ /operator/) next
    n = split(line, words, /[ *&]+/)
    name = words[n]
    if (n < 2 || name !~ /^[A-Z][A-Za-z0-9_]*$/) next
    if (index($0, "{")) print name, folder
    else if ($0 !~ /;[[:space:]]*(\/\/.*)?$/) pending = name
  }')
hits=$(awk -v ranks="$ranks" '
  BEGIN { n = split(ranks, r, /[[:space:]]+/); for (i = 1; i <= n; ++i) if (split(r[i], kv, "=") == 2) rank[kv[1]] = kv[2] }
  FNR == NR { if (!($1 in lowest) || rank[$2] < lowest[$1]) lowest[$1] = rank[$2]; where[$1] = where[$1] " " $2; next }
  ($1 in lowest) && lowest[$1] > rank[$2] { print $3 ": " $1 " is defined only in a higher folder (" substr(where[$1], 2) ")" }
' <(printf '%s\n' "$defined") <(printf '%s\n' "$declared") | sort -u)
if [ -n "$hits" ]; then
  echo "layers: FAIL: a declaration reaches up (give the lower layer a hook that the shell sets, or move the declaration up):"
  echo "$hits"
  fail=1
fi

# A header named from the including file's own place ("../ui/draw.h") hides which folder it is.
hits=$(sources platform "${program_folders[@]}" | xargs grep -nE "${include}\"([^\"]*/)?\.\.?/" || true)
if [ -n "$hits" ]; then
  echo "layers: FAIL: a relative include (name the header from the source root, \"ui/draw.h\"):"
  echo "$hits"
  fail=1
fi

# Hooks: a global function pointer a header declares (a function-pointer type, or a struct of
# function pointers) is named ...Hook (a set: ...Hooks), and only the shell's wiring sets it:
# app/shell_hooks.cpp, and for the self-test's selftest/selftest_tick.cpp. Tools may point one
# elsewhere; a definition's own initial value (null) is no setting.
hook_setters='app/shell_hooks.cpp selftest/selftest_tick.cpp'
hooks=$(sources platform "${program_folders[@]}" | grep '\.h$' | xargs awk '
  FNR == 1 { inside = "" }
  /^using [A-Za-z0-9_]+ = .*\(\*\)/ { t = $2; pointer[t] = 1 }
  /^struct [A-Za-z0-9_]+ \{/ { inside = $2; next }
  inside != "" && /^\};/ { inside = ""; next }
  inside != "" && /\(\*[A-Za-z0-9_]+\)\(/ { set[inside] = 1; next }
  /^(extern|inline) [^=;]*\(\*[A-Za-z0-9_]+\)\(/ {
    name = $0; sub(/^[^(]*\(\*/, "", name); sub(/\).*/, "", name); print name, FILENAME ":" FNR; next
  }
  /^extern [A-Za-z0-9_]+ [A-Za-z0-9_]+;/ { type[FILENAME ":" FNR] = $2; var[FILENAME ":" FNR] = $3 }
  END {
    for (at in type) if ((type[at] in pointer) || (type[at] in set)) { v = var[at]; sub(/;.*/, "", v); print v, at }
  }' | sort)
hits=$(while read -r name at; do
  [ -n "$name" ] || continue
  [[ $name =~ Hooks?$ ]] || echo "$at: $name is a hook: name it ...Hook (a set: ...Hooks)"
  # shellcheck disable=SC2086
  grep -qE "(^|[^.[:alnum:]_])$name(\.[[:alnum:]_]+)? = " $hook_setters ||
    echo "$at: $name is set by neither of $hook_setters"
  sources "${program_folders[@]}" | grep -vE "^(tools/|${hook_setters// /|})" |
    xargs grep -nE "(^|[^.[:alnum:]_>])$name(\.[[:alnum:]_]+)? = [^=]" |
    grep -vE "^[^:]+:[0-9]+:[A-Za-z_:<>]+ $name = [^;]*;" | sed "s/\$/    ($name is set only by the shell)/"
done <<<"$hooks")
if [ -n "$hits" ]; then
  echo "layers: FAIL: a hook is misnamed, or set outside the shell's wiring:"
  echo "$hits"
  fail=1
fi

# The map in the checkout (LAYOUT.md) gives every folder the rank it has here.
if [ -f LAYOUT.md ]; then
  mapped=$(sed -nE 's/^\| ([0-9]+) \| ([^|]*)\|.*/\1 \2/p' LAYOUT.md |
    awk '{ for (i = 2; i <= NF; ++i) if (match($i, /[a-z_]+\/`/)) print substr($i, RSTART, RLENGTH - 2) "=" $1 }' | sort)
  if [ "$mapped" != "$(tr -s ' \n' '\n' <<<"$ranks" | sort)" ]; then
    echo "layers: FAIL: LAYOUT.md's ranks differ from these:"
    diff <(echo "$mapped") <(tr -s ' \n' '\n' <<<"$ranks" | sort)
    fail=1
  fi
fi

[ $fail -eq 0 ] && echo "PASS: layers ($count files)"
exit $fail
