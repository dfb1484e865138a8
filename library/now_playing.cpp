#include "library/now_playing.h"

#include "app/settings.h"
#include "engine/deck_view.h"
#include "library/database.h"
#include "screens/crossfader.h"
#include "ui/deck_snapshot.h"

namespace {
constexpr float kAudibleFader = 0.05f;
constexpr float kCrossfaderMiddle = 0.5f;
constexpr int32_t kSideA = 0, kSideThrough = 1, kSideB = 2;
}  // namespace

void NowPlayingTick() { AutosaveLibrary(); }

bool IsDeckAudible(int deck) {
  if (!ValidDeck(deck)) return false;
  const DeckView& view = LiveDeckViews[deck];
  if (!DeckSnapshots[deck].playing || view.fader < kAudibleFader) return false;
  const float x = Settings.XfReverse ? 1.0f - CrossfaderPosition : CrossfaderPosition;
  // Decks A and C sit on the cross-fader's A side unless assigned otherwise, B and D on B.
  const int32_t side = view.xfAssignSet ? view.xfAssign : (deck % 2 == 0 ? kSideA : kSideB);
  if (side == kSideThrough) return true;
  return side == kSideA ? x <= kCrossfaderMiddle : x >= kCrossfaderMiddle;
}
