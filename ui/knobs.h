#pragma once
// The continuous widgets: knobs, vertical faders, the cross-fader, and the level meter. Each one
// is dragged with the mouse (the value follows the distance from the press point; Shift drags
// five times finer), stepped with the wheel, reset by a double click and set by a controller's
// absolute position; each returns whether the caller's value changed. UI thread only.
#include <cstdint>
#include <string_view>

#include "engine/mixer_controls.h"
#include "ui/draw.h"

// A rotary knob of radius r around (cx, cy) over min..max (min < max). fromCentre: the value arc
// starts at the top (bipolar knobs) rather than at the left end. The label goes under it.
bool Knob(int id, float cx, float cy, float r, float* value, float min, float max, float defaultValue, Color colour,
          std::wstring_view label, bool fromCentre);
// A vertical fader over 0..1 (1 at the top) filling r. centreDetent: a long centre tick, and the
// fill grows from the centre.
bool Fader(int id, Rc r, float* value, float defaultValue, Color colour, bool centreDetent);
// The cross-fader: control 19 on CrossfaderPosition (0 = fully left).
bool XFader(Rc r, float defaultPosition);
// A 20-segment peak meter; level is linear (1.0 = full scale), -42 dBFS empty and +3 dBFS full.
void DrawLevelMeter(Rc r, float level);
// How many of the meter's segments a level lights, 0..20.
int LitMeterSegments(float level);
