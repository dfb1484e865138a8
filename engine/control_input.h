#pragma once
// The frame's control input, as widgets, deck commands, controllers, the remote and macros share
// it: the mouse record (written by the main window procedure), the control being dragged with the
// mouse, the control ids that keys and controllers press, hold, release or set, and the one SHIFT
// state. The frame driver clears the one-frame parts after each drawn frame (EndFrameInput).
// UI thread only.
#include <cstdint>
#include <map>
#include <set>
#include <unordered_map>

struct UiInput {
  float x = 0.0f;               // last mouse position, device-independent pixels (signed)
  float y = 0.0f;
  bool held = false;            // the left button is down
  bool pressed = false;         // one frame: the left button went down
  bool released = false;        // one frame: the left button went up
  bool rightPressed = false;    // one frame: the right button went down
  bool doubleClicked = false;   // one frame: the last left press was a double click
  float wheel = 0.0f;           // one frame: wheel notches, positive away from the user
  bool shiftHeld = false;       // a Shift key of the keyboard is down (knob and fader drags go fine)
  // A move that came after a click in the same frame waits for the next frame, so the frame
  // that sees the click sees it where it happened and a drag starts from there. A Shift change
  // waits the same way, so a quick Shift-click still reads as one.
  bool movePending = false;
  float pendingX = 0.0f, pendingY = 0.0f;
  bool shiftPending = false;
  bool pendingShift = false;
};

// The one input record.
inline UiInput Input;

// --- The control held with the mouse ---
inline constexpr int32_t kNoActiveControl = 0;
// The ControlId pressed with the left mouse button and not yet released; 0 = none. The frame
// driver clears it after a frame in which the button is no longer held.
extern int32_t ActiveControlId;
// The dragged control's value and its mouse coordinate along the drag axis at the press; only the
// control named by ActiveControlId reads them.
extern float DragStartValue;
extern float DragStartCoord;

// --- Controls moved by keys, controllers, the remote and macros ---
// Control ids pressed and released this frame.
inline std::set<int32_t> pressedIds;
inline std::set<int32_t> releasedIds;
// Control ids held from their down to their up event; not per frame.
extern std::set<int32_t> heldIds;
// This frame's absolute controller positions (0..1) by control id: faders and knobs on a controller.
inline std::map<int32_t, float> absolutePositions;

// --- What widgets record for the controller code ---
inline constexpr int kControlKindButton = 0;
inline constexpr int kControlKindAbsolute = 1;  // knobs and faders
inline constexpr int kControlKindRelative = 2;  // controls that take steps
// Widget id -> kind, written by every widget each time it is drawn; never cleared.
inline std::unordered_map<int32_t, int> controlKinds;
// Widget id -> lit or held, written by every button each time it is drawn; never cleared.
inline std::unordered_map<int32_t, bool> controlLights;

// --- SHIFT ---
inline constexpr int32_t kShiftControlId = 33;  // the top bar's SHIFT button
// Set while a controller's mapped SHIFT control is down.
extern bool ControllerShiftHeld;
// Whether SHIFT is held: by a controller, as a held control 33, or pressed with the mouse.
bool IsUiControlHeld();
// IsUiControlHeld, or a Shift key of the keyboard is down: what the deck's SHIFT layers read.
bool AnyShiftHeld();

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
  if (Input.shiftPending) {
    Input.shiftHeld = Input.pendingShift;
    Input.shiftPending = false;
  }
  pressedIds.clear();
  releasedIds.clear();
  absolutePositions.clear();
}
