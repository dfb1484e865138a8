#include "engine/control_input.h"

int32_t ActiveControlId = kNoActiveControl;
float DragStartValue = 0.0f;
float DragStartCoord = 0.0f;
std::set<int32_t> heldIds;
bool ControllerShiftHeld = false;

bool IsUiControlHeld() {
  if (ControllerShiftHeld) return true;
  if (heldIds.count(kShiftControlId) > 0) return true;
  return Input.held && ActiveControlId == kShiftControlId;
}

bool AnyShiftHeld() { return Input.shiftHeld || IsUiControlHeld(); }
