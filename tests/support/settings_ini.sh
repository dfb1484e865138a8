# Sourced after e2e_preamble.sh (and private_home) by the scripts that drive the settings screen:
# reading settings.ini back as Python's configparser does, and a zenity stand-in.

ini() {  # section key: the value in settings.ini as configparser reads it ("<none>" when absent)
  /usr/bin/python3 - "$settings" "$1" "$2" <<'EOF_PY'
import configparser, sys
c = configparser.ConfigParser(interpolation=None, strict=False)
c.optionxform = str
c.read(sys.argv[1], encoding="utf-8-sig")
print(c.get(sys.argv[2], sys.argv[3], fallback="<none>"))
EOF_PY
}
ini_is() { [ "$(ini "$1" "$2")" = "$3" ]; }
expect_ini() {  # section key value what
  wait_for 5 ini_is "$1" "$2" "$3" || fail "$4: [$1] $2 is '$(ini "$1" "$2")', not '$3'"
}

# recording_zenity: a zenity first on PATH that records each call's title in $ZENITY_LOG and
# answers the next line of $ZENITY_ANSWERS (an empty line: cancel).
recording_zenity() {
  mkdir -p "$work/bin"
  cat >"$work/bin/zenity" <<'EOF_SH'
#!/bin/sh
for a in "$@"; do case "$a" in --title=*) printf '%s\n' "${a#--title=}" >>"$ZENITY_LOG" ;; esac; done
answer="$(head -n 1 "$ZENITY_ANSWERS")"
sed -i 1d "$ZENITY_ANSWERS"
[ -n "$answer" ] || exit 1
printf '%s\n' "$answer"
EOF_SH
  chmod +x "$work/bin/zenity"
  export PATH="$work/bin:$PATH" ZENITY_LOG="$work/zenity.log" ZENITY_ANSWERS="$work/answers"
  : >"$ZENITY_LOG"
  : >"$ZENITY_ANSWERS"
}
