#pragma once
// Which deck each side of the screen shows: SideSlots[0] the left (deck A or C), SideSlots[1]
// the right (deck B or D). The commands act without the deck panel being drawn. UI thread.
#include <cstdint>

inline constexpr int kLeftSide = 0;
inline constexpr int kRightSide = 1;

extern int32_t SideSlots[2];

// With four decks, the side swaps between its two decks (A/C on the left, B/D on the right);
// nothing with two decks.
void SwapSideDeck(int side);
// Deck A on the left, deck B on the right.
void ShowDecksAB();
