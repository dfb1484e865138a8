#!/usr/bin/env bash
# Labels: slow
# Cost: 104
# The settings screen's Library and Look pages and the skin editor in all five languages, drawn
# off-screen through the real frame driver by veldmix-tool: at the default window size and at
# 1920x1080 (where every text box has the same size) the drawing layer cuts no text with an
# ellipsis, and tesseract (with each language's data) reads every tab label and the pages' row
# labels whole, as assets/translations.tsv gives them. A window too short for a page scrolls it:
# a position bar shows at the page's right edge, never on About.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
need veldmix-tool python3 convert tesseract
for lang in spa deu por fra; do
  tesseract --list-langs 2>/dev/null | grep -qx "$lang" || fail "tesseract has no $lang data (tesseract-ocr-$lang)"
done
private_home

# --- No text cut: 5 languages x 3 screens at 1920x1080, two at a time ---
# At the default window size (1500x980) every widget and text box has the same size as at
# 1920x1080 (the panels stop growing before either), so what fits at one fits at the other.
for what in "--settings 2" "--settings 5" "--skin-editor"; do
  # shellcheck disable=SC2086
  for size in "1500 980" "1920 1080"; do "$tool" layout $size $what | awk '{print $1, $4, $5}' >"$work/sizes-${size% *}"; done
  diff -q "$work/sizes-1500" "$work/sizes-1920" >/dev/null || fail "$what: widget sizes differ between 1500x980 and 1920x1080"
done
jobs_file="$work/jobs"
for lang in 0 1 2 3 4; do
  for what in "--settings 2" "--settings 5" "--skin-editor"; do
    echo "$lang 1920x1080 $what"
  done
done >"$jobs_file"
export tool work
# shellcheck disable=SC2016
xargs -P 2 -L 1 sh -c '
  out="$work/cut-$0-$1-$(echo "$2$3" | tr -dc a-z0-9).txt"
  "$tool" screen "$work/shot-$0-$1-$(echo "$2$3" | tr -dc a-z0-9).png" --lang "$0" --size "$1" $2 $3 >"$out" 2>&1 ||
    echo "tool failed" >>"$out"' <"$jobs_file"
for f in "$work"/cut-*.txt; do
  grep -qx "cut 0" "$f" || fail "$(basename "$f" .txt): $(grep '^cut\|failed' "$f" | tr '\n' ' ')"
done

# --- OCR: tab and row labels whole in each language (the panel is the same at both sizes) ---
codes=(eng spa deu por fra)
# The panel sits at 340,140 (1240 x 800) at 1920x1080: its sidebar and the two columns of row
# labels side by side, enlarged and inverted (light on dark); the skin editor's colour rows.
ocr_text() {  # png lang [editor]
  if [ -n "${3:-}" ]; then
    convert "$1" -crop 1000x320+460+290 +repage -resize 200% -colorspace Gray -negate "$work/ocr.png"
  else
    convert "$1" \( -clone 0 -crop 214x800+340+140 \) \( -clone 0 -crop 160x800+586+140 \) \
      \( -clone 0 -crop 160x800+1089+140 \) -delete 0 +repage +append -resize 300% -colorspace Gray -negate \
      "$work/ocr.png"
  fi
  OMP_THREAD_LIMIT=1 tesseract "$work/ocr.png" - -l "$2" --psm 11 2>/dev/null
}
check_labels() {  # png lang-index editor|page english-labels...
  local png=$1 lang=$2 editor=""
  [ "$3" = editor ] && editor=1
  shift 3
  ocr_text "$png" "${codes[$lang]}" $editor >"$work/ocr-$lang.txt"
  python3 - "$source_dir/assets/translations.tsv" "$lang" "$work/ocr-$lang.txt" "$@" <<'EOF'
import sys, unicodedata
table, lang, ocr, labels = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4:]
rows = {}
for line in open(table, encoding="utf-8").read().split("\n")[1:]:
    cols = line.split("\t")
    if len(cols) == 5:
        rows[cols[0]] = cols
def norm(s):  # OCR drops accents and splits words now and then: compare without either
    s = "".join(c for c in unicodedata.normalize("NFD", s) if unicodedata.category(c) != "Mn")
    return "".join(s.lower().replace("’", "'").split())
text = norm(open(ocr, encoding="utf-8").read().replace("\n", " "))
missing = [rows.get(l, [l] * 5)[lang] for l in labels if norm(rows.get(l, [l] * 5)[lang]) not in text]
if missing:
    sys.exit("not read: " + ", ".join(missing))
EOF
}
tabs=(Audio Mixing Library Broadcast Controllers Look Karaoke Video Updates About)
for lang in 0 1 2 3 4; do
  look="$work/shot-$lang-1920x1080-settings5.png"
  library="$work/shot-$lang-1920x1080-settings2.png"
  editor="$work/shot-$lang-1920x1080-skineditor.png"
  why="$(check_labels "$look" "$lang" page "${tabs[@]}" Theme Screen Waveforms "Cover art on decks" Language Visual \
    "Change visual" "Track name" Skin 2>&1)" || fail "Look page, language $lang: $why"
  why="$(check_labels "$library" "$lang" page "Album art" Relocate rekordbox "Serato DJ" Traktor VirtualDJ 2>&1)" ||
    fail "Library page, language $lang: $why"
  why="$(check_labels "$editor" "$lang" editor Background "Panels (raised)" 2>&1)" || fail "skin editor, language $lang: $why"
done

# --- A short window: the page's position bar, except on About ---
scroll_bar() {  # tab: the strip of the page's right edge where the bar runs is lit
  "$tool" screen "$work/short.png" --settings "$1" --size 1500x420 >/dev/null || fail "no short frame"
  # The panel is 1240 wide, centred: the bar runs 6 to 8 px inside its right edge (1370), from
  # the page's top (y 100) while the page is at its top.
  local bar side
  bar="$(convert "$work/short.png" -crop 2x60+1362+110 +repage -colorspace Gray -format '%[fx:mean]' info:)"
  side="$(convert "$work/short.png" -crop 2x60+1358+110 +repage -colorspace Gray -format '%[fx:mean]' info:)"
  awk -v b="$bar" -v s="$side" 'BEGIN { exit !(b > s + 0.12) }'
}
scroll_bar 5 || fail "a short window shows no position bar on the Look page"
! scroll_bar 9 || fail "the About page shows a position bar"
echo "settings_languages: PASS"
