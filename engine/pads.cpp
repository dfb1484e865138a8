#include "engine/pads.h"

#include <algorithm>
#include <iterator>

#include "engine/deck_view.h"
#include "engine/jog_loops.h"
#include "engine/sandbox.h"
#include "engine/stem_controls.h"
#include "engine/transport.h"

namespace {

constexpr double kJumpBeats[kPadsPerDeck] = {-8, -4, -2, -1, 1, 2, 4, 8};
constexpr int32_t kKeyShifts[kPadsPerDeck] = {1, 2, 3, 4, -1, -2, -3, -4};  // semitones
constexpr int kLoopInPad = 0, kLoopOutPad = 1, kReloopPad = 2;

void LoopPad(int deck, int pad) {
  if (pad == kLoopInPad) LoopIn(deck);
  else if (pad == kLoopOutPad) LoopOut(deck);
  else if (pad == kReloopPad) Reloop(deck);
  else ToggleAutoLoop(deck);
}

// The pad of the shift already set takes it back to 0.
void KeysPad(int deck, int pad) {
  int32_t& shift = LiveDeckViews[deck].keyShift;
  shift = shift == kKeyShifts[pad] ? 0 : kKeyShifts[pad];
}

struct PadAction {
  uint32_t mode;
  void (*press)(int deck, int pad);
};
// clang-format off
constexpr PadAction kPadActions[] = {
    {.mode = kPadCues, .press = [](int deck, int pad) { PressHotCue(deck, pad); }},
    {.mode = kPadRoll, .press = [](int deck, int pad) { LoopRoll(deck, pad); }},
    {.mode = kPadJump, .press = [](int deck, int pad) { BeatJump(deck, kJumpBeats[pad]); }},
    {.mode = kPadLoop, .press = LoopPad},
    {.mode = kPadSlicer, .press = [](int deck, int pad) { SliceLoop(deck, pad); }},
    {.mode = kPadKeys, .press = KeysPad},
    {.mode = kPadStems, .press = [](int deck, int pad) { ToggleStem(deck, pad); }},
};
// clang-format on
constexpr bool EachModeOnce() {
  for (size_t i = 0; i < std::size(kPadActions); ++i)
    for (size_t j = i + 1; j < std::size(kPadActions); ++j)
      if (kPadActions[i].mode == kPadActions[j].mode) return false;
  return true;
}
static_assert(EachModeOnce(), "kPadActions has a pad mode twice");
// Every other mode, SAMPLER among them, fires the sampler pad.
void FireSamplerPad(int, int pad) { TriggerSamplerPad(pad); }

}  // namespace

void PressPad(int deck, int pad) {
  if (!ValidDeck(deck) || pad < 0 || pad >= kPadsPerDeck) return;
  const uint32_t mode = LiveDeckViews[deck].padMode;
  const auto row =
      std::find_if(std::begin(kPadActions), std::end(kPadActions), [&](const PadAction& a) { return a.mode == mode; });
  (row == std::end(kPadActions) ? FireSamplerPad : row->press)(deck, pad);
}

