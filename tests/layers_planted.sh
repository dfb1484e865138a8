#!/usr/bin/env bash
# The layer check catches what it is there for: in a copy of the sources, each include planted
# below is one the layers must never make (a lower layer's of a higher one, a relative one, an
# outside library's or the system's above platform/), and layers.sh must fail on it and name it;
# the copy as it is passes.
set -u
root="${1:-${VELDMIX_SOURCE:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}}"
work=$(mktemp -d /tmp/veldmix-layers-XXXXXX)
trap 'rm -rf "$work"' EXIT
for folder in platform base app engine ui screens library control broadcast karaoke settings selftest tools; do
  cp -r "$root/$folder" "$work/" || { echo "FAIL: no $folder/ under $root"; exit 1; }
done

fail=0
if ! out=$(bash "$root/tests/layers.sh" "$work"); then
  echo "FAIL: the unchanged copy does not pass:"; echo "$out"; exit 1
fi

# file to plant in | what it includes
planted='library/track_view.cpp "app/main_window.h"
ui/draw.cpp "screens/main_screen.h"
engine/engine.cpp "broadcast/audio_stream.h"
base/settings.cpp "engine/deck_view.h"
platform/files.cpp "base/log.h"
screens/mixer.cpp "app/publish_controls.h"
app/window_proc.cpp "selftest/selftest_state.h"
screens/mixer.cpp "../ui/draw.h"
platform/files.cpp "./text.h"
engine/engine.cpp <SDL_events.h>
library/track_view.cpp <tag.h>
engine/engine.cpp <pulse/simple.h>
ui/draw.cpp <cairo.h>
broadcast/amf0.cpp <libavformat/avformat.h>
settings/update_client.cpp <curl/curl.h>
library/database.cpp <pugixml.hpp>
control/hid_devices.cpp <libudev.h>
base/log.cpp <unistd.h>'
# All planted in one copy and checked in one run (each run reads every source): the run fails, and
# names each include at the line it was planted on.
cp -r "$work" "$work.kept"
expected=()
while read -r file header; do
  echo "#include $header" >>"$work/$file"
  expected+=("$file:$(wc -l <"$work/$file"):#include $header")
done <<<"$planted"
if out=$(bash "$root/tests/layers.sh" "$work"); then
  echo "FAIL: the planted includes pass the layer check"; fail=1
else
  for hit in "${expected[@]}"; do
    grep -qF "$hit" <<<"$out" || { echo "FAIL: the layer check does not name $hit:"; echo "$out"; fail=1; }
  done
fi
rm -rf "$work" && mv "$work.kept" "$work"

# A bare declaration that calls up: declared in a lower folder's header, defined only above it
# (a multi-line definition, as many are); the same declaration defined beside it passes.
printf '\n// Drawn by the screens.\nvoid PlantedUpCall(int deck);\n' >>"$work/ui/widgets.h"
printf '\nvoid PlantedUpCall(int deck,\n                   ) {\n}\n' >>"$work/screens/mixer.cpp"
if out=$(bash "$root/tests/layers.sh" "$work"); then
  echo "FAIL: a ui/ declaration defined only in screens/ passes the layer check"; fail=1
elif ! grep -q "^ui/widgets.h:[0-9]*: PlantedUpCall is defined only in a higher folder (screens)" <<<"$out"; then
  echo "FAIL: the declaration that reaches up fails without being named:"; echo "$out"; fail=1
fi
printf '\nvoid PlantedUpCall(int deck) {}\n' >>"$work/ui/widgets.cpp"
if ! out=$(bash "$root/tests/layers.sh" "$work"); then
  echo "FAIL: a declaration defined in its own folder fails the layer check:"; echo "$out"; fail=1
fi

# Hooks: one named in another style, one the shell never sets, one set by a screen (as the browser
# once set the track lists' own); each fails and is named.
cp -r "$work" "$work.kept"
printf '\nextern void (*PlantedCallback)();\nextern void (*PlantedHook)();\n' >>"$work/engine/engine.h"
printf '\nvoid PlantedWiring() { PlantedCallback = nullptr; }\n' >>"$work/app/shell_hooks.cpp"
printf '\nvoid PlantedShow() { ListViewHooks.showList = nullptr; }\n' >>"$work/screens/mixer.cpp"
out=$(bash "$root/tests/layers.sh" "$work")
for expected in "^engine/engine.h:[0-9]*: PlantedCallback is a hook: name it" \
                "^engine/engine.h:[0-9]*: PlantedHook is set by neither of app/shell_hooks.cpp" \
                "^screens/mixer.cpp:[0-9]*:.*(ListViewHooks is set only by the shell)"; do
  grep -q "$expected" <<<"$out" || { echo "FAIL: the hook check misses \"$expected\":"; echo "$out"; fail=1; }
done
rm -rf "$work" && mv "$work.kept" "$work"

[ $fail -eq 0 ] && echo "PASS: layers catches every planted include, declaration and hook"
exit $fail
