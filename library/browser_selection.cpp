#include "library/browser_selection.h"

#include <algorithm>
#include <mutex>

#include "app/settings.h"
#include "engine/deck_commands.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "library/browser_view.h"

std::wstring SearchText;
float BrowserScroll = 0.0f;

namespace {

constexpr int kTwoDecks = 2;

// The first deck in use that is stopped (and, with needEmpty, empty and not loading); -1 none.
int FirstStoppedDeck(bool needEmpty) {
  const int decks = Settings.FourDecks ? kDeckViews : kTwoDecks;
  std::lock_guard<std::recursive_mutex> lock(Engine.lock);
  for (int deck = 0; deck < decks; ++deck) {
    const DeckState& state = Engine.decks[deck];
    if (state.playing) continue;
    if (needEmpty && (state.track || LiveDeckViews[deck].loading)) continue;
    return deck;
  }
  return -1;
}

}  // namespace

void LoadSelectedTrack(int deck) {
  const int row = Browser.selectedRow;
  if (row < 0 || row >= static_cast<int>(Browser.rows.size())) return;
  if (deck < 0) {
    deck = FirstStoppedDeck(true);
    if (deck < 0) deck = FirstStoppedDeck(false);
  }
  if (!ValidDeck(deck)) return;
  LoadTrack(deck, Browser.rows[static_cast<size_t>(row)].path);
}

void MoveSelection(int step) {
  const int n = static_cast<int>(Browser.rows.size());
  if (n == 0) return;
  Browser.selectedRow = std::clamp(Browser.selectedRow + step, 0, n - 1);
}
