#pragma once
// What the widgets and deck commands read of controller and key input: the controls held this
// frame (by a mapped controller button or key) and the controller's SHIFT. UI thread.
#include <cstdint>
#include <set>

// UI control ids held down through the controller mapping.
extern std::set<int32_t> heldIds;
// Set while a controller's mapped SHIFT control is down.
extern bool ControllerShiftHeld;
