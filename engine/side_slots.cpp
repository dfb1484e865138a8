#include "engine/side_slots.h"

#include "base/settings.h"
#include "base/track.h"

int32_t SideSlots[2] = {0, 1};

namespace {
constexpr int32_t kDeckA = 0, kDeckB = 1;
constexpr int32_t kBackDeckOffset = 2;  // deck C behind A, D behind B
}  // namespace

void SwapSideDeck(int side) {
  if (!Settings.FourDecks || (side != kLeftSide && side != kRightSide)) return;
  const int32_t front = side == kLeftSide ? kDeckA : kDeckB;
  const int32_t back = front + kBackDeckOffset;
  SideSlots[side] = SideSlots[side] == front ? back : front;
}

int DecksInUse() { return Settings.FourDecks ? kEngineDecks : kTwoDecks; }

void ShowDecksAB() {
  SideSlots[kLeftSide] = kDeckA;
  SideSlots[kRightSide] = kDeckB;
}
