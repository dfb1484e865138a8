#include "ui/deck_snapshot.h"

#include <algorithm>
#include <iterator>
#include <mutex>

#include "engine/engine.h"

DeckSnapshot DeckSnapshots[kSnapshotDecks];

void SnapshotDecks() {
  // Tracks the snapshots held are released after the lock, should a deck have dropped its own.
  TrackPtr previous[kSnapshotDecks];
  for (int d = 0; d < kSnapshotDecks; ++d) previous[d] = DeckSnapshots[d].track;
  {
    std::lock_guard<std::recursive_mutex> lock(Engine.lock);
    for (int d = 0; d < kSnapshotDecks; ++d) {
      const DeckState& deck = Engine.decks[d];
      DeckSnapshot& shot = DeckSnapshots[d];
      shot.track = deck.track;
      shot.position = deck.position;
      shot.cuePoint = deck.cuePoint;
      std::copy(std::begin(deck.hotCueStart), std::end(deck.hotCueStart), shot.hotCueStart.begin());
      std::copy(std::begin(deck.hotCueEnd), std::end(deck.hotCueEnd), shot.hotCueEnd.begin());
      shot.loopIn = deck.loopIn;
      shot.loopOut = deck.loopOut;
      shot.playing = deck.playing;
      shot.jogTouched = deck.jogTouched;
      shot.loopOn = deck.loopOn;
      shot.reverse = deck.reverse;
      shot.slipMode = deck.slipMode;
      shot.slipOn = deck.slipOn;
      shot.stopEffect = deck.stopMode != 0;
      shot.slipPosition = deck.slipPosition;
    }
  }
}
