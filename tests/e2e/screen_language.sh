#!/usr/bin/env bash
# The off-screen frame speaks the chosen language: OCR of a Spanish and an English frame.
# Cost: 19
set -u
tool="$VELDMIX_BUILD/veldmix-tool"
work=$(mktemp -d /tmp/veldmix-e2e-lang-XXXXXX)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_STATE_HOME="$work/home/state" XDG_CONFIG_HOME="$work/home/config"
mkdir -p "$HOME"
fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi; }

sox -n -r 44100 -c 2 "$work/tone.wav" synth 6 sine 440 2>/dev/null || { echo "FAIL: sox"; exit 1; }
words() {  # LANG-NUMBER: the frame's words, upper-cased, one per line
  "$tool" screen "$work/f$1.png" --lang "$1" --size 1600x1000 "$work/tone.wav" >/dev/null 2>&1 || return 1
  convert "$work/f$1.png" -resize 200% -colorspace Gray -negate "$work/g$1.png" || return 1
  OMP_THREAD_LIMIT=1 tesseract "$work/g$1.png" - 2>/dev/null | tr 'a-zà-ú' 'A-ZÀ-Ú' | tr -s ' \t' '\n\n' >"$work/w$1.txt"
}
check "the Spanish frame renders" 'words 1'
check "the English frame renders" 'words 0'
check "Spanish: the channel gain reads GANANCIA" 'grep -q "GANANCIA" "$work/w1.txt"'
check "Spanish: the empty deck invites a load in Spanish" 'grep -q "PISTA" "$work/w1.txt"'
check "Spanish: the paused deck reads EN PAUSA" 'grep -q "PAUSA" "$work/w1.txt"'
check "English: the empty deck reads EMPTY DECK" 'tr "\n" " " <"$work/w0.txt" | grep -q "EMPTY DECK"'
check "English: the paused deck reads PAUSED" 'grep -q "PAUSED" "$work/w0.txt"'
check "English: no Spanish GANANCIA or PISTA" '! grep -qE "GANANCIA|PISTA" "$work/w0.txt"'
[ $fail -eq 0 ] && echo "PASS: screen language"
exit $fail
