#!/usr/bin/env bash
# Labels: slow
# Cost: 69
# The update flow in the real program under a virtual display, against an HTTPS update site on
# loopback (nginx-light, test CA). First run: the Updates card says the first check comes soon;
# the automatic check reaches the site about 20 s after start with the program's User-Agent; the
# offer's DOWNLOAD fetches and verifies the package; LATER leaves the card ready, its button asks
# again and INSTALL NOW closes the program in order; the desktop's opener (a recording handler
# behind xdg-open) gets the package's folder and nothing else runs. Second run (automatic checks
# off, a slow site): the pending install of the same build becomes Dismissed; the card is read by
# OCR through "Press CHECK FOR UPDATES…", "up to date" (an older build), the warning (no answer),
# the asked check's offer of the put-off update (NOT NOW), "A new version is available", a
# download in progress and "Download cancelled"; Built shows the link time; no automatic check
# is made. Screenshots go to $VELDMIX_BUILD/e2e-artifacts.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e_preamble.sh"
source "$source_dir/tests/support/update_site.sh"
need veldmix veldmix-tool nginx openssl python3 sha256sum Xvfb xdpyinfo xwininfo xdotool import convert tesseract \
  xdg-open
artifacts="$build/e2e-artifacts/update_flow"
rm -rf "$artifacts"
mkdir -p "$artifacts"
private_home
no_sound_server
folder="$HOME/.cache/Veldmix/Update"
site="$work/site"
mkdir -p "$site"
update_site_start "$site" || fail "the update site did not start"
export SSL_CERT_FILE="$site/ca.crt"
base="https://127.0.0.1:$update_port"
stamp=1900000000
package="Veldmix 1.0.11 (x64).msi"
make_package "$work/package" 8000000
sum="$(sha256sum <"$work/package" | cut -c1-64)"
for c in app paced; do
  update_manifest "$site" "$c" "$package" 8000000 "$sum" "$stamp"
  cp "$work/package" "$site/site/$c/downloads/veldmix/$package"
done

# xdg-open (no desktop named) hands folders to the handler of a private mimeapps.list.
mkdir -p "$HOME/.config" "$HOME/.local/share/applications"
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >>"%s"\n' "$work/opened" >"$work/opened.sh"
chmod +x "$work/opened.sh"
printf '[Desktop Entry]\nType=Application\nName=Recorder\nExec=%s %%f\nMimeType=inode/directory;\n' \
  "$work/opened.sh" >"$HOME/.local/share/applications/veldmix-recorder.desktop"
printf '[Default Applications]\ninode/directory=veldmix-recorder.desktop\n' >"$HOME/.config/mimeapps.list"
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION

start_private_display "$work/xvfb.log" -screen 0 1600x1000x24 -dpi 96 || fail "no virtual display could be started"

app_pid=""
main_found() {
  local id
  id="$(xwininfo -root -tree 2>/dev/null | awk '/"VELDMIX [0-9.]*": \("veldmix"/ {print $1; exit}')"
  [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' || return 1
  win=$((id))
}
geometry() {
  xwininfo -id "$win" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
    /^ *Width:/{w=$2} /^ *Height:/{h=$2} END{print x, y, w, h}'
}
start_app() {  # site
  VELDMIX_UPDATE_SITE="$1" "$app" >>"$work/app.out" 2>&1 &
  app_pid=$!
  wait_for 30 main_found || fail "the main window did not appear"
  started=$(date +%s)
  xdotool windowactivate --sync "$win" 2>/dev/null || true
}
ended() { ! kill -0 "$app_pid" 2>/dev/null; }
click() {  # widget id [dy], on the Updates tab's click map (drawn with no download running)
  local wx wy ww wh
  read -r wx wy ww wh <<<"$(geometry)"
  [ -s "$work/map" ] || "$tool" layout "$ww" "$wh" --settings 8 >"$work/map"
  # shellcheck disable=SC2046
  xdotool mousemove $(awk -v id="id.$1" -v wx="$wx" -v wy="$wy" \
    -v dy="${2:-0}" '$1 == id {printf "%d %d\n", wx + $2 + $4 / 2, wy + $3 + $5 / 2 + dy; found = 1; exit}
      END {exit !found}' \
    "$work/map" || fail "no widget $1") click 1
  sleep 0.3
}
# The text of a part of the window by OCR (enlarged, light on dark), on one line. The part is
# given in per cent of the window: left top width height.
screen_text() {  # name x% y% w% h%
  local wx wy ww wh
  read -r wx wy ww wh <<<"$(geometry)"
  screen_shot "$artifacts/$1.png" || fail "no screenshot $1"
  convert "$artifacts/$1.png" -crop "$((ww * $4 / 100))x$((wh * $5 / 100))+$((wx + ww * $2 / 100))+$((wy + wh * $3 / 100))" \
    +repage -resize 150% -colorspace Gray -negate "$work/ocr.png"
  OMP_THREAD_LIMIT=1 tesseract "$work/ocr.png" - -l eng --psm 6 2>/dev/null | tr '\n' ' ' | tr -s ' '
}
# wait_reads SECONDS NAME TEXT (in the prompt) or wait_reads SECONDS NAME TEXT card: true once
# OCR finds the text there, by the clock.
wait_reads() {
  local end=$(($(date +%s) + $1)) region="30 35 40 30"
  [ "${4:-}" = card ] && region="56 18 34 20"
  while [ "$(date +%s)" -le "$end" ]; do
    # shellcheck disable=SC2086
    screen_text "$2" $region | grep -qiF -- "$3" && return 0
    sleep 0.3
  done
  return 1
}
ini() { awk -F= -v s="[$1]" -v k="$2" '/^\[/{in_s = ($0 == s)} in_s && $1 == k {sub(/\r$/, "", $2); print $2}' "$settings"; }

printf '[Tour]\nDone=1\n[Updates]\nCheck=1\n' >"$settings"

# --- First run: the automatic check, DOWNLOAD, INSTALL NOW ---
start_app "$base/app"
click 2
click 3008
wait_reads 15 first "The first check is shortly after Veldmix starts" card || fail "the card before the first check"
wait_for 40 grep -q '^/app/api/veldmix/latest ' "$site/access.log" || fail "no automatic check reached the site"
# The check is due 20 s after the first frame. Timed from the program's own start (its log's first
# line), as the window can show seconds late on a busy machine; the window's own delay is allowed.
launched=$(date -d "$(grep -m 1 -F '==== Veldmix' "$log" | cut -c 1-19)" +%s)
took=$(($(date +%s) - launched))
[ "$took" -ge 17 ] && [ "$took" -le $((30 + started - launched)) ] ||
  fail "the first check came $took s after start ($((started - launched)) s before the window showed), not about 20 s"
grep -qxF "/app/api/veldmix/latest 200 \"Veldmix/1.0.10 ($base/app)\"" "$site/access.log" ||
  fail "the check's request: $(cat "$site/access.log")"
wait_reads 10 offer "Update available" || fail "no offer was shown"
xdotool key Return  # DOWNLOAD
wait_reads 20 ready "Ready to install" || fail "the download did not end in the install question"
[ "$(sha256sum <"$folder/$package" | cut -c1-64)" = "$sum" ] || fail "the verified package differs"
xdotool key Escape  # LATER: the card keeps the update ready
wait_reads 10 ready-card "show the update's folder" card || fail "the card does not say the update is ready"
click 3123  # INSTALL THE UPDATE
wait_reads 10 ready2 "Ready to install" || fail "the card's button did not ask to install"
xdotool key Return  # INSTALL NOW
wait_for 20 ended || fail "INSTALL NOW did not close the program"
wait "$app_pid" || fail "the program ended with an error"
wait_for 10 test -s "$work/opened" || fail "the desktop's opener got nothing"
[ "$(cat "$work/opened")" = "$folder" ] || fail "the opener got $(cat "$work/opened"), not $folder"
[ "$(ini Updates Pending)" = "$stamp" ] || fail "Pending is $(ini Updates Pending)"
build_stamp="$(ini Updates PendingBuild)"
binary_time=$(stat -c %Y "$app")
[ $((binary_time - build_stamp)) -ge 0 ] && [ $((binary_time - build_stamp)) -le 120 ] ||
  fail "PendingBuild $build_stamp is not the program's link time ($binary_time)"
[ "$(grep -c . "$site/access.log")" = 2 ] || fail "the site saw more than a check and a download: $(cat "$site/access.log")"
log_has "Veldmix closed" || fail "the close was not orderly"

# --- Second run: the same build still runs, so the update is put off; the card follows ---
sed -i '/^\[Updates\]/,/^\[/ s/^Check=[^\r]*/Check=0/' "$settings"
[ "$(ini Updates Check)" = 0 ] || fail "could not switch automatic checks off"
start_app "https://127.0.0.1:$peer_port/paced"
wait_for 10 sh -c "grep -q '^Dismissed=$stamp' '$settings'" || fail "the pending install was not dismissed"
[ "$(ini Updates Pending)" = 0 ] && [ "$(ini Updates PendingBuild)" = 0 ] || fail "Pending was not cleared"
click 2
click 3008
first_card() { text="$(screen_text page 20 18 72 40)" && grep -qF "Press CHECK FOR UPDATES to ask 127.0.0.1" <<<"$text"; }
wait_for 10 first_card || fail "the first card: $text"
built="$(date -d "@$build_stamp" '+%-d %b %Y, %H:%M')"
grep -qF "$built" <<<"$text" || fail "Built does not show $built: $text"
# An older build on the site: up to date; no answer at all: the warning card.
manifest="$site/site/paced/api/veldmix/latest"
mv "$manifest" "$work/manifest"
update_manifest "$site" paced "$package" 8000000 "$sum" 1000000000
click 3123
wait_reads 10 up-to-date "Veldmix is up to date" card || fail "an older build was not 'up to date'"
rm "$manifest"
click 3123
wait_reads 10 unreached "Couldn't reach 127.0.0.1" card || fail "no warning card for a failed check"
mv "$work/manifest" "$manifest"
click 3123  # CHECK FOR UPDATES: an asked check offers the put-off update again
wait_reads 15 offer2 "Update available" || fail "the asked check did not offer the update"
xdotool key Escape  # NOT NOW
wait_reads 10 known "A new version is available" card || fail "the card does not offer the download"
click 3123  # DOWNLOAD THE UPDATE
wait_reads 15 downloading "Downloading the update" card || fail "the card does not show the download"
# OCR can miss a figure as small as "1%"; the paced download lasts about a minute.
progress_shown() { grep -qE '[0-9]+ ?%' <<<"$(screen_text progress 56 18 34 20)"; }
wait_for 10 progress_shown || fail "no progress figure: the card reads '$(screen_text progress 56 18 34 20)'"
click 3123 34  # CANCEL THE DOWNLOAD, below the progress bar
wait_reads 15 cancelled "Download cancelled" card || fail "the download was not cancelled"
[ -z "$(ls -A "$folder")" ] || fail "a cancelled download left $(ls -A "$folder")"
[ $(($(date +%s) - started)) -ge 21 ] || sleep $((21 - ($(date +%s) - started)))
[ "$(grep -c '/paced/api/veldmix/latest' "$site/peer.log")" = 3 ] || fail "an automatic check ran with checks off"
kill -TERM "$app_pid"
wait_for 20 ended || fail "the program did not end"
[ "$(grep -c . "$work/opened")" = 1 ] || fail "the opener was called again without an install"
echo "PASS: update_flow"
