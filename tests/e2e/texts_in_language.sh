#!/usr/bin/env bash
# Texts that used to stay English, drawn off-screen by veldmix-tool in another language and read
# back by tesseract with that language's data: the About page's footer (German) and the help
# screen's subtitle with its credit (Spanish). Then the Audio page over the test sound server with
# a card of six channels as the master: its device stepper gives the channel-pair stepper 102 px
# and the pair stepper is 96 wide.
# Cost: 13
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix-tool convert tesseract pactl
for lang in spa deu; do
  tesseract --list-langs 2>/dev/null | grep -qx "$lang" || fail "tesseract has no $lang data (tesseract-ocr-$lang)"
done
private_home

# ocr PNG CROP LANG: the crop (WxH+X+Y) grown 3x, light on dark turned dark on light, one line read.
ocr() {
  convert "$1" -crop "$2" +repage -resize 300% -colorspace Gray -negate "$work/ocr.png"
  OMP_THREAD_LIMIT=1 tesseract "$work/ocr.png" - -l "$3" --psm 7 2>/dev/null | tr -s ' \n' '  '
}

# --- The About page's footer at 1500x980: its 20-px line sits 34 px above the page's bottom ---
"$tool" screen "$work/about.png" --lang 2 --settings 9 >/dev/null || fail "no About page drawn"
text=$(ocr "$work/about.png" 962x24+376+830 deu)
grep -q "Rechte vorbehalten" <<<"$text" || fail "the About footer is not German: $text"
grep -q "Erstellt am" <<<"$text" || fail "the build date's head is not German: $text"

# --- The help screen's subtitle and the maker's credit beside it ---
"$tool" screen "$work/help.png" --lang 1 --help >/dev/null || fail "no help screen drawn"
text=$(ocr "$work/help.png" 704x20+218+167 spa)
grep -q "Atajos y consejos" <<<"$text" || fail "the help subtitle is not Spanish: $text"
grep -q "Hecho por Orrelby" <<<"$text" || fail "the maker's credit is not Spanish: $text"

# --- The Audio page with a six-channel card as the master ---
own_sound_server
"$server" add-sink vm_carte 6 48000 float32le "Carte-Électrique" || fail "the six-channel sink could not be added"
printf '[Tour]\nDone=1\n[Audio]\nMaster=vm_carte\nMasterPair=2\n' >"$settings"
"$tool" layout 1500 980 --settings 0 --load-settings >"$work/layout.txt" || fail "no Audio page layout"
# The device stepper's ◂ (id 60) and ▸ (61), then the pair stepper's ◂ (3400) and ▸ (3401).
read -r device pair gap <<<"$(awk '
  $1 == "id.60" && !a { a = 1; dx = $2 } $1 == "id.61" && !b { b = 1; de = $2 + $4 }
  $1 == "id.3400" && !c { c = 1; px = $2 } $1 == "id.3401" && !d { d = 1; pe = $2 + $4 }
  END { print de - dx, pe - px, pe - dx - (de - dx) }' "$work/layout.txt")"
[ "$pair" = 96 ] || fail "the channel-pair stepper is $pair px wide, not 96"
[ "$gap" = 102 ] || fail "the device stepper gives up $gap px for the pair stepper, not 102 (it is $device wide)"
echo "texts_in_language: PASS"
