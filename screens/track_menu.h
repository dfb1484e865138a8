#pragma once
// The right-click menu of a browser row: loading and prelistening, adding to lists and karaoke
// singers, rating, colour and own tags, the tag form, removing the entry from the shown list,
// analysis and showing the file in its folder. Call from a deferred action. UI thread.
#include <cstdint>
#include <string>
#include <vector>

#include "ui/popup_menu.h"

// Command ids; the ranges carry an index.
enum TrackMenuCommand : uint32_t {
  kTrackLoadFirst = 1,  // + deck
  kTrackPrelisten = 9, kTrackAutomix = 10, kTrackPrepare = 11, kTrackRemoveFromList = 12, kTrackAnalyze = 13,
  kTrackShowInFolder = 14, kTrackEditTags = 15, kTrackEditMyTags = 16,
  kTrackRatingFirst = 20,  // + stars
  kTrackColourFirst = 30,  // + colour index
  kTrackListFirst = 100,   // + list index (user lists from 3)
  kTrackMyTagFirst = 5000, // + tag index
  kTrackSingerFirst = 6000, kTrackNewSinger = 6999,
};
inline constexpr size_t kTrackMenuMaxTags = 40;
inline constexpr size_t kTrackMenuMaxSingers = 200;

// What the menu acts on, copied from the row before the menu opens.
struct TrackMenuTarget {
  std::wstring path;
  uint32_t position = 0;       // the row's index in the shown source (its place in a shown list)
  int list = -1;               // the list shown when the menu opened, -1 none
  std::vector<std::wstring> tags;  // the tags offered, in menu order
};

// The entries for the target; the tags offered are stored into it.
std::vector<PopupMenuEntry> TrackMenuEntries(TrackMenuTarget& target);
// Carries out command `id` on the target.
void RunTrackMenuCommand(const TrackMenuTarget& target, uint32_t id);
// Shows the menu of ViewItems[file] at the pointer; nothing for an index outside ViewItems.
void TrackMenu(int file);
