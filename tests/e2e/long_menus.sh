#!/usr/bin/env bash
# Submenus taller than the screen in the real window, maximised on a 1366x768 and a 1280x800
# screen (Library layout): a track with 45 of the user's own tags and 40 lists. A right-click on
# its row, then "My Tag": the submenu fits the screen, its last tags lie below its bottom edge
# until the wheel scrolls them up (OCR), and the last one shown, t40, is chosen with the mouse,
# which takes the tag off the track (read back from the library saved at the end). "Add to
# playlist" scrolls to its
# last list the same way. Screenshots go to $VELDMIX_BUILD/e2e-artifacts/long_menus.
# Cost: 111
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../support/main_window.sh"
need veldmix veldmix-tool Xvfb xwininfo xdotool xprop openbox import convert tesseract sox
artifacts="$build/e2e-artifacts/long_menus"
rm -rf "$artifacts"
mkdir -p "$artifacts"
e2e_on_fail() { screen_shot "$artifacts/failed.png" 2>/dev/null; cp "$work/screen.png" "$artifacts/" 2>/dev/null; }
private_home
no_sound_server
data="$HOME/.local/share/Veldmix"
music="$work/music"
mkdir -p "$music" "$data/Lists"
track="$music/song.wav"
sox -n -r 44100 -c 2 "$track" synth 5 sine 440 vol 0.3
tags=""
for i in $(seq 1 45); do tags+="${tags:+, }$(printf 't%02d' "$i")"; done
for i in $(seq 1 40); do printf '#EXTM3U\n' >"$data/Lists/$(printf 'Set %02d' "$i").m3u8"; done
# scroll_to FIRST WORD: the wheel over the open submenu, right of the root menu (where an entry
# matching FIRST shows), until WORD shows there (found: where, once two readings agree, as a busy
# program may still be taking the last wheel steps); false when it never does.
scroll_to() {
  local first=$1 word=$2 spot again _
  spot="$(find_word "$first" "$submenu_x")"
  [ -n "$spot" ] || fail "$screen: no submenu entry \"$first\" on screen"
  # shellcheck disable=SC2086  # "x y"
  xdotool mousemove $spot
  for _ in $(seq 1 12); do
    found="$(find_word "$word" "$submenu_x")"
    [ -n "$found" ] && break
    xdotool click 5 click 5
    sleep 0.3
  done
  for _ in $(seq 1 10); do
    [ -n "$found" ] || found="$(find_word "$word" "$submenu_x")"
    [ -n "$found" ] || return 1
    sleep 0.5
    again="$(find_word "$word" "$submenu_x")"
    [ "$again" = "$found" ] && return 0
    found=$again
  done
  return 1
}
# The root menu's left edge is left of the word the right-click opened it by; its submenus open
# at least 180 pixels (its narrowest width) further right.
open_submenu() {
  local spot=""
  click row.0 3
  for _ in $(seq 1 20); do
    spot="$(find_word "$1")"
    [ -n "$spot" ] && break
    sleep 0.3
  done
  [ -n "$spot" ] || fail "$screen: no \"$1\" in the track's menu"
  # shellcheck disable=SC2086  # "x y"
  xdotool mousemove $spot click 1
  submenu_x=$((${spot% *} + 150))
  sleep 0.5
}

for screen in 1366x768 1280x800; do
  stop_all
  "$tool" mytags set "$track" "$tags" >/dev/null || fail "veldmix-tool could not store the tags"
  printf '[Tour]\nDone=1\n[Look]\nLayout=1\n[Library]\nCount=1\nFolder0=%s\nSelected=0\n' "$music" >"$settings"
  start_private_display "$work/xvfb.log" -screen 0 "${screen}x24" -dpi 96 || fail "no virtual display could be started"
  start_private_wm "$work/openbox.log" || fail "openbox did not start"
  "$app" >>"$work/app.out" 2>&1 &
  app_pid=$!
  maximised_main_window --layout library --tracks 1
  for _ in $(seq 1 30); do [ -n "$(find_word '^song$')" ] && break; sleep 0.5; done
  open_submenu '^My$'
  screen_shot "$artifacts/$screen-tags-top.png"
  [ -z "$(find_word '^Tags' "$submenu_x")" ] || fail "$screen: \"Edit My Tags\" shows before any scrolling"
  scroll_to '^t[0-9][0-9]$' '^t40$' || fail "$screen: the wheel did not bring t40 into view"
  screen_shot "$artifacts/$screen-tags-end.png"
  # shellcheck disable=SC2086  # "x y"
  xdotool mousemove $found click 1

  open_submenu '^playlist$'
  scroll_to '^[0-3][0-9]$' '^40$' || fail "$screen: the wheel did not bring the last list into view"
  screen_shot "$artifacts/$screen-lists-end.png"
  xdotool key Escape key Escape
  # The library is saved as the program ends.
  kill -TERM "$app_pid"
  wait "$app_pid" || true
  app_pid=""
  grep -qF "t39, t41" "$data/database.tsv" ||
    fail "$screen: choosing t40 did not take it off the track: $(grep -o 't3[0-9].*t4[0-9]' "$data/database.tsv" | head -n 1)"
done
stop_all
echo "long_menus: ok"
