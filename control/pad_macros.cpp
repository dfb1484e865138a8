#include "control/pad_macros.h"

#include <algorithm>

#include "base/settings.h"
#include "base/status_message.h"
#include "control/macros.h"
#include "engine/side_slots.h"

void RunPadMacro(int n) {
  const int slot = std::clamp(n, 0, kMacroSlots - 1);
  std::vector<MacroStep> steps = ParseMacro(Settings.MacroScript[slot]);
  if (steps.empty()) {
    ShowStatus(UiFormat(L"Macro {} is empty \u2014 right-click it (MACROS) to write one", slot + 1), kMacroStatusMs);
    return;
  }
  RunningMacros.push_back({.slot = slot, .steps = std::move(steps), .next = 0, .deck = SideSlots[kLeftSide], .waitUntil = 0.0});
}
