#pragma once
// The karaoke side's per-frame step: lyrics lookups for newly loaded decks while karaoke is in
// use, fits to the vocals once stems exist, the stage watch and break music, and the karaoke
// screen's record while its window exists. UI thread.
#include <array>

#include "engine/engine.h"
#include "karaoke/karaoke_screen_info.h"

// What the frame driver measures that the karaoke screen shows: each deck's beat pulse and the
// sixteen analyser bands of the mix (band 0 lowest). Filled before every KaraokeTick.
struct KaraokeMixFeed {
  std::array<float, kEngineDecks> beatPulse = {};
  std::array<float, kSpectrumBands> bands = {};
};
extern KaraokeMixFeed KaraokeFeed;

inline constexpr int kBassBands = 4;  // 40 Hz to about 133 Hz

// Once per application tick, also while the window is minimised.
void KaraokeTick();
// The record the karaoke screen draws from, as things stand now.
KaraokeScreenInfo BuildKaraokeScreenInfo();
// The deck the record shows: the stage deck with a singer on it, else the loudest audible deck
// with lyrics (not the break deck); -1 for none.
int KaraokeShownDeck();
