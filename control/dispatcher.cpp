#include "control/dispatcher.h"

#include <algorithm>
#include <cmath>

#include "control/action_table.h"
#include "control/control_ids.h"
#include "control/controller_state.h"
#include "engine/control_input.h"
#include "engine/side_slots.h"

void ApplyMappedControl(uint16_t target, const ControlEvent& event) {
  if (event.hasValue && !std::isfinite(event.value)) return;
  int32_t id = target;
  if (const int32_t control = ControlIdFromUi(id); control != 0) id = control;
  if (IsMixerControl(id)) {
    ApplyMixerControl(id - kFirstMixerControl, event);
    return;
  }
  if (IsDeckControl(id)) {
    ApplyDeckControl((id - kFirstDeckControl) / kDeckControlsPerSide, (id - kFirstDeckControl) % kDeckControlsPerSide,
                     event);
    return;
  }
  if (GetBindingKind(id) == kAbsoluteControl) {
    if (event.hasValue) absolutePositions[id] = std::clamp(event.value, 0.0f, 1.0f);
    return;
  }
  if (event.press) HoldWidget(id, true);
  else if (event.release) HoldWidget(id, false);
}

void ApplyMixerControl(int32_t index, const ControlEvent& event) {
  int32_t n = 0;
  if (const ActionRow* row = FindAction(kFirstMixerControl + index, &n); row && !row->deck) RunAction(*row, -1, n, event);
}

void ApplyDeckControl(int side, int32_t offset, const ControlEvent& event) {
  if (side < 0 || side > 1 || offset < 0 || offset >= kDeckControlsPerSide) return;
  ApplyDeckAction(SideSlots[side], offset, event);
}
