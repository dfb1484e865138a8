#pragma once
// The saved session: which track was on each deck and where it played, kept in the [Session]
// section of settings.ini (DeckAPath, DeckAPos ... DeckDPath, DeckDPos), and put back at the
// next start when no file was named on the command line.
#include <array>
#include <string>
#include <vector>

#include "base/track.h"
#include "platform/ini.h"

// One deck as the session stores it.
struct SessionDeck {
  std::wstring path;     // empty: the deck held no track
  double seconds = 0.0;  // play position
};

// --- The [Session] keys ---

// Sets all eight keys in the document; a deck without a track gets an empty path and 0.000000.
void StoreSession(IniDocument* ini, const std::array<SessionDeck, kEngineDecks>& decks);
// The first `count` decks (2, or 4 with four decks) as stored: an empty path for a deck left
// empty; a position that is not a finite number reads as 0.
std::vector<SessionDeck> ReadSession(const IniDocument& ini, int count);

// --- Saving and restoring ---

// The four engine decks now: each deck's track path and position in seconds. Takes the engine
// lock briefly. UI thread.
std::array<SessionDeck, kEngineDecks> CurrentSessionDecks();
// Writes the [Session] keys of the four decks into settings.ini, keeping everything else in the
// file. False (and a log line) when the file could not be read or written. UI thread.
bool SaveSession();
// For each deck that is read back and whose path names an existing entry: sets the deck's
// pending seek to the stored position and loads the track; the other decks stay empty.
// UI thread.
void LoadSession();
