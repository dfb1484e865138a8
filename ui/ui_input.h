#pragma once
// The frame's input as every widget reads it: the mouse record, written by the main window
// procedure, and the control ids that keys and controllers press, hold, release or set this
// frame. The frame driver clears the one-frame parts after each drawn frame (EndFrameInput).
// UI thread only.
#include <cstdint>
#include <map>
#include <set>

#include "ui/active_control.h"

struct UiInput {
  float x = 0.0f;               // last mouse position, device-independent pixels (signed)
  float y = 0.0f;
  bool held = false;            // the left button is down
  bool pressed = false;         // one frame: the left button went down
  bool released = false;        // one frame: the left button went up
  bool rightPressed = false;    // one frame: the right button went down
  bool doubleClicked = false;   // one frame: the last left press was a double click
  float wheel = 0.0f;           // one frame: wheel notches, positive away from the user
  bool shiftHeld = false;       // a Shift key is down (knob and fader drags go fine)
  // A move that came after a click in the same frame waits for the next frame, so the frame
  // that sees the click sees it where it happened and a drag starts from there.
  bool movePending = false;
  float pendingX = 0.0f, pendingY = 0.0f;
};

// The one input record.
inline UiInput Input;

// Control ids pressed and released this frame by mapped keys and controller buttons.
inline std::set<int32_t> pressedIds;
inline std::set<int32_t> releasedIds;
// Control ids held by mapped keys and controller buttons, from their down to their up event;
// not per frame. Defined with the controller input.
extern std::set<int32_t> heldIds;
// This frame's absolute controller positions (0..1) by control id: faders and knobs on a controller.
inline std::map<int32_t, float> absolutePositions;

// Clears the one-frame fields; the position, `held` and `shiftHeld` stay.
inline void ClearFrameInput(UiInput& input) {
  input.pressed = false;
  input.released = false;
  input.rightPressed = false;
  input.doubleClicked = false;
  input.wheel = 0.0f;
}

// After each drawn frame: the drag ends once the button is up, the one-frame mouse fields are
// cleared and the per-frame id sets and positions emptied.
inline void EndFrameInput() {
  if (!Input.held) ActiveControlId = kNoActiveControl;
  ClearFrameInput(Input);
  if (Input.movePending) {
    Input.x = Input.pendingX, Input.y = Input.pendingY;
    Input.movePending = false;
  }
  pressedIds.clear();
  releasedIds.clear();
  absolutePositions.clear();
}
