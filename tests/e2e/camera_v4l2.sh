#!/usr/bin/env bash
# A real V4L2 camera (or the kernel's vivid / v4l2loopback driver) through veldmix-tool: it is
# listed by its card name with its by-id link, a format is chosen from the driver's list, and
# capture gives frames of that size. Only where /dev/video* exists; says it skipped elsewhere.
# Cost: 1
set -u
tool="$VELDMIX_BUILD/veldmix-tool"
shopt -s nullglob
nodes=(/dev/video*)
if [ ${#nodes[@]} = 0 ]; then
  echo "SKIP: camera_v4l2: no /dev/video* on this machine"
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; fi; }
unset VELDMIX_CAMERAS
"$tool" cameras >"$work/list"
check "the cameras are listed ($(tr '\n\t' '| ' <"$work/list"))" '[ -s "$work/list" ] && ! grep -q "No camera found" "$work/list"'
link=$(head -1 "$work/list" | cut -f2)
if command -v v4l2-ctl >/dev/null; then
  card=$(v4l2-ctl -d "$link" --info 2>/dev/null | awk -F': ' '/Card type/ {print $2; exit}')
  check "the name is the driver's card ($card)" '[ "$(head -1 "$work/list" | cut -f1)" = "$card" ]'
fi
"$tool" camera "$link" --seconds 4 --out "$work/cam" >"$work/out" 2>&1
check "capture runs and is labelled ($(tr '\n' '|' <"$work/out"))" 'grep -q "format: .* fps" "$work/out" && grep -q "last frame:" "$work/out"'
frames=$(grep ' frames: ' "$work/out" | tail -1 | awk '{print $3}')
check "frames arrive ($frames in the last second)" '[ "${frames:-0}" -ge 5 ]'
size=$(grep -o 'format: .* \([0-9]*x[0-9]*\) ' "$work/out" | head -1 | grep -o '[0-9]*x[0-9]*' | head -1)
check "the frames have the chosen size ($size)" 'grep -q "last frame: $size" "$work/out"'
check "the stop returns at once" 'awk "/stopped in/ {exit !(\$3 < 0.1)}" "$work/out"'
[ $fail = 0 ] && echo "PASS: camera_v4l2"
exit $fail
