#pragma once
// The frame's mouse record: written by the main window procedure, read by every widget during
// the next frame. The frame driver clears the one-frame fields after each drawn frame.

struct UiInput {
  float x = 0.0f;               // last mouse position, device-independent pixels (signed)
  float y = 0.0f;
  bool held = false;            // the left button is down
  bool pressed = false;         // one frame: the left button went down
  bool released = false;        // one frame: the left button went up
  bool rightPressed = false;    // one frame: the right button went down
  bool doubleClicked = false;   // one frame: the last left press was a double click
  float wheel = 0.0f;           // one frame: wheel notches, positive away from the user
};

// The one input record. UI thread only.
inline UiInput Input;

// Clears the one-frame fields; the position and `held` stay.
inline void ClearFrameInput(UiInput& input) {
  input.pressed = false;
  input.released = false;
  input.rightPressed = false;
  input.doubleClicked = false;
  input.wheel = 0.0f;
}
