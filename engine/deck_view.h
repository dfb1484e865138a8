#pragma once
// The UI-side state of one deck, written only by the UI thread.
#include <cstdint>

constexpr int kDeckViews = 4;

struct DeckView {
  bool vinylMode = true;  // the jog wheel scratches when touched
  int32_t colorFx = 0;    // what the filter knob does, 0..5
};

// Decks A to D as the user plays them.
extern DeckView LiveDeckViews[kDeckViews];
