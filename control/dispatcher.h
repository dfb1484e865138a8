#pragma once
// The one dispatcher of controller actions: MIDI, HID, keyboard bindings and the phone remote all
// end in ApplyMappedControl, which runs the row of the action table (control/action_table.h) for
// the id, the commands the on-screen controls run, whether or not their widgets are drawn. The
// controller-only state it keeps is in control/controller_state.h. UI thread.
#include <cstdint>

#include "control/control_event.h"
#include "control/controller_state.h"

// The entry for every caller. target: a control id (5000-5020, 5200-5599) or a widget id; a widget
// with a control id acts as that id, any other widget is pressed, held, released or set as if the
// mouse used it (it reacts in its next draw). Values that are not finite are dropped.
void ApplyMappedControl(uint16_t target, const ControlEvent& event);
// index = control id - 5000 (0..20); an index no row holds does nothing.
void ApplyMixerControl(int32_t index, const ControlEvent& event);
// side 0 (left) or 1 (right): acts on the deck the side shows now; offset 0..199.
void ApplyDeckControl(int side, int32_t offset, const ControlEvent& event);
