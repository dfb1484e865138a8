#pragma once
// The one piece of state widgets share: the control being dragged or held with the mouse.
// UI thread.
#include <cstdint>

inline constexpr int32_t kNoActiveControl = 0;
// The ControlId pressed with the left mouse button and not yet released; 0 = none.
extern int32_t ActiveControlId;
