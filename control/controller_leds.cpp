#include "control/controller_leds.h"

#include <map>
#include <vector>

#include "base/settings.h"
#include "control/action_table.h"
#include "control/control_ids.h"
#include "control/mapping_table.h"
#include "control/midi_clock.h"
#include "control/midi_devices.h"
#include "engine/control_input.h"
#include "platform/midi.h"

namespace {

std::map<uint32_t, uint8_t> LightCache;  // MappingKey -> lit state last sent

}  // namespace

bool ControlState(int32_t id) { return ActionLit(id); }

bool GetControlLed(int32_t target, bool* lit) {
  if (const int32_t control = ControlIdFromUi(target); control != 0) target = control;
  if (IsMixerControl(target) || IsDeckControl(target)) {
    if (GetControlKind(target) != kButtonControl) return false;
    *lit = ControlState(target);
    return true;
  }
  const auto kind = controlKinds.find(target);
  if (kind == controlKinds.end() || kind->second != kControlKindButton) return false;
  const auto reported = controlLights.find(target);
  *lit = reported != controlLights.end() && reported->second;
  return true;
}

void SendControllerLedsTo(size_t outputs, int clockOutput, void (*send)(size_t output, uint32_t message)) {
  if (!Settings.Leds || MappingTable.empty() || outputs == 0) return;
  for (const auto& [key, value] : MappingTable) {
    const uint32_t type = (key >> 16) & 0xFF;
    if ((key & kShiftLayerFlag) != 0 || IsKeyboardKey(key) || IsHidKey(key) || (type != 0x90 && type != 0xB0))
      continue;
    bool lit = false;
    if (!GetControlLed(MappingTarget(value), &lit)) continue;
    auto [cached, added] = LightCache.try_emplace(key, static_cast<uint8_t>(lit));
    if (!added && cached->second == static_cast<uint8_t>(lit)) continue;
    cached->second = static_cast<uint8_t>(lit);
    const uint32_t level = static_cast<uint32_t>(lit ? Settings.LedOn : Settings.LedOff) & 0x7F;
    const uint32_t message = type | ((key >> 8) & 0x0F) | (key & 0x7F) << 8 | level << 16;
    // Lights never go to the clock output: a drum machine would read them as notes.
    for (size_t i = 0; i < outputs; ++i)
      if (static_cast<int>(i) != clockOutput) send(i, message);
  }
}

void SendControllerLeds() {
  SendControllerLedsTo(MidiOutputCount(), MidiClockOutput(), [](size_t output, uint32_t message) {
    SendMidiShort(output, message);
  });
}

void ClearControllerLedCache() { LightCache.clear(); }
