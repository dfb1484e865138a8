#pragma once
// The sampler pad's context menu: its entries for the current bank and what each choice does,
// through the sampler's commands (engine/sampler.h). UI thread.
#include <cstdint>
#include <vector>

#include "ui/popup_menu.h"

// Pad menu command ids.
enum SamplerPadCommand : uint32_t {
  kPadLoadSound = 1,
  kPadOneShot = 2,
  kPadLoop = 3,
  kPadRestore = 4,
  kPadCaptureDeck = 10,  // + deck 0..3
  kPadVolume = 20,       // + 0..3: 25, 50, 75, 100 %
  kPadRecord = 30,       // + 0..5: the lines of "Record into this pad"
};

// The entries of pad 0..7's menu for the current bank.
std::vector<PopupMenuEntry> SamplerPadMenuEntries(int pad);
// Carries out one command of the pad menu ("Load a sound…" asks for the file first).
void RunSamplerPadCommand(int pad, uint32_t command);
// Shows the pad's menu at the mouse pointer and carries out the choice.
void SamplerPadMenu(int pad);
