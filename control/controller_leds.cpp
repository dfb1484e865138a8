#include "control/controller_leds.h"

#include <cmath>
#include <map>
#include <vector>

#include "app/settings.h"
#include "control/control_ids.h"
#include "control/dispatcher.h"
#include "control/mapping_table.h"
#include "control/midi_clock.h"
#include "control/midi_devices.h"
#include "engine/automix.h"
#include "engine/control_input.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/jog_loops.h"
#include "engine/mixer_controls.h"
#include "engine/pads.h"
#include "engine/sandbox.h"
#include "engine/side_slots.h"
#include "engine/sync.h"
#include "platform/midi.h"

namespace {

std::map<uint32_t, uint8_t> LightCache;  // MappingKey -> lit state last sent

constexpr double kTempoMatch = 0.01;     // BPM apart that still counts as in sync
constexpr double kLoopLengthFrames = 2.0;
constexpr double kCueWindowFrames = 1.0;
constexpr double kBeatLoopSizes[8] = {0.25, 0.5, 1, 2, 4, 8, 16, 32};
constexpr uint32_t kStemAcapella = 1, kStemInstrumental = 2;

bool InSync(int deck) {
  const int other = SideSlots[1 - deck % 2];
  if (!ValidDeck(other) || !DeckSnapshots[deck].track || !DeckSnapshots[other].track) return false;
  const double a = DeckBpm(deck), b = DeckBpm(other);
  return std::fabs(a - b) < kTempoMatch || std::fabs(2 * a - b) < kTempoMatch || std::fabs(a - 2 * b) < kTempoMatch;
}

bool BeatLoopLit(int deck, double beats) {
  const DeckSnapshot& shot = DeckSnapshots[deck];
  if (!shot.loopOn || !shot.track) return false;
  return std::fabs((shot.loopOut - shot.loopIn) - BeatSamples(*shot.track) * beats) <= kLoopLengthFrames;
}

bool DeckControlLit(int side, int32_t offset) {
  const int deck = SideSlots[side];
  if (!ValidDeck(deck)) return false;
  const DeckView& view = LiveDeckViews[deck];
  const DeckSnapshot& shot = DeckSnapshots[deck];
  auto in = [offset](int32_t first, int32_t count) { return offset >= first && offset < first + count; };
  switch (offset) {
    case kPlayOffset: return shot.playing;
    case kCueOffset:
      return shot.track && !shot.playing && std::fabs(shot.position - shot.cuePoint) <= kCueWindowFrames;
    case kSyncOffset: return view.syncLock || InSync(deck);
    case kSyncLockOffset: return view.syncLock;
    case kHeadphoneCueOffset: return view.headphoneCue;
    case kJogTouchOffset: return view.jogHeld;
    case kVinylOffset: return view.vinylMode;
    case kKeyLockOffset: return view.keyLock;
    case kLoopOffset:
    case kReloopOffset: return shot.loopOn;
    case kAcapellaOffset: return view.stemPreset == kStemAcapella;
    case kInstrumentalOffset: return view.stemPreset == kStemInstrumental;
    case kCensorOffset: return view.censorHeld;
    case kReverseOffset: return shot.reverse;
    case kSlipOffset: return shot.slipMode;
    default: break;
  }
  if (in(kEffectOnOffset, kDeckFxSlots)) return view.fxSlotOn[offset - kEffectOnOffset];
  if (in(kPadOffset, 8)) {
    const auto lit = controlLights.find(kDeckWidgetBase + kDeckWidgetSideStep * (deck % 2) + kPadWidget + offset - kPadOffset);
    return lit != controlLights.end() && lit->second;
  }
  if (in(kHotCueOffset, 8)) return shot.hotCueStart[offset - kHotCueOffset] >= 0.0;
  if (in(kClearHotCueOffset, 8)) return shot.hotCueStart[offset - kClearHotCueOffset] >= 0.0;
  if (in(kBeatLoopOffset, 8)) return BeatLoopLit(deck, kBeatLoopSizes[offset - kBeatLoopOffset]);
  if (in(kLoopRollOffset, 8)) return view.padMode == kPadRoll && view.rollIndex == offset - kLoopRollOffset;
  if (in(kSamplerOffset, 8)) return SamplerShot.padPlaying[offset - kSamplerOffset];
  if (in(kPadModeOffset, 8)) return view.padMode == static_cast<uint32_t>(offset - kPadModeOffset);
  return false;
}

}  // namespace

bool ControlState(int32_t id) {
  switch (id) {
    case kShiftControl: return IsShiftHeld();
    case kAutomixControl: return Automix.on;
    case kGlideControl: return XfGlide.active;
    case kRecordControl: return Engine.recording.load();
    case kQuantizeControl: return Settings.Quantize;
    case kSandboxControl: return Sandbox.on;
    default: break;
  }
  if (!IsDeckControl(id)) return false;
  return DeckControlLit((id - kFirstDeckControl) / kDeckControlsPerSide, (id - kFirstDeckControl) % kDeckControlsPerSide);
}

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
