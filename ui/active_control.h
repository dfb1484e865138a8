#pragma once
// The one piece of state widgets share: the control being dragged or held with the mouse, and
// where its drag began. UI thread.
#include <cstdint>

inline constexpr int32_t kNoActiveControl = 0;
// The ControlId pressed with the left mouse button and not yet released; 0 = none. The frame
// driver clears it after a frame in which the button is no longer held.
extern int32_t ActiveControlId;

// The dragged control's value and its mouse coordinate along the drag axis at the press; only the
// control named by ActiveControlId reads them.
extern float DragStartValue;
extern float DragStartCoord;
