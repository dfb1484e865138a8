#include "base/palette.h"

// Constant-initialised, so the defaults hold before any other global's constructor runs.
constinit Palette Pal = kDefaultPalette;

uint32_t DeckColour(int deck) {
  switch (deck) {
    case 1: return Pal.DeckB;
    case 2: return Pal.DeckC;
    case 3: return Pal.DeckD;
    default: return Pal.DeckA;
  }
}
