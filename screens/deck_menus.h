#pragma once
// The deck's context menu (right-click in its header) and a hot-cue pad's (right-click on the
// pad). Both open at the mouse pointer through the popup menu; a choice made after the deck's
// track changed does nothing. UI thread.
#include <cstdint>
#include <string>
#include <vector>

#include "ui/popup_menu.h"

inline constexpr size_t kHotCueNameMaxChars = 24;
inline constexpr int kMenuStatusMs = 2800;

// --- Deck menu ---
// The entries for the deck as its snapshot and view stand now.
std::vector<PopupMenuEntry> DeckMenuEntries(int deck);
// Performs command `id` of the deck menu on the deck.
void RunDeckMenuCommand(int deck, uint32_t id);
// What a choice does: the command, but only while the deck still holds the track it held when
// this was made.
PopupMenuAction DeckMenuChoice(int deck);
// Shows the menu at the pointer (call from a deferred action, after the frame).
void DeckMenu(int deck);

// --- Hot-cue pad menu ---
std::vector<PopupMenuEntry> PadMenuEntries(int deck, int pad);
void RunPadMenuCommand(int deck, int pad, uint32_t id);
PopupMenuAction PadMenuChoice(int deck, int pad);
void PadMenu(int deck, int pad);
