#include "screens/track_menu.h"

#include <algorithm>
#include <cwctype>

#include "base/palette.h"
#include "base/settings.h"
#include "base/track_info.h"
#include "engine/deck_commands.h"
#include "engine/deck_view.h"
#include "engine/sandbox.h"
#include "engine/side_slots.h"
#include "karaoke/karaoke_rotation.h"
#include "library/analysis_queue.h"
#include "library/list_tools.h"
#include "library/tag_editing.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "platform/desktop_open.h"
#include "screens/karaoke_panel.h"
#include "screens/tag_forms.h"

namespace {

constexpr int kMenuDecksFour = 4, kMenuDecksTwo = 2;
constexpr int kMaxStars = 5;
constexpr const wchar_t* kStarLabels[kMaxStars + 1] = {L"No rating", L"★", L"★★", L"★★★", L"★★★★", L"★★★★★"};

bool SameWithoutCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return std::towlower(static_cast<wint_t>(x)) == std::towlower(static_cast<wint_t>(y));
         });
}

bool HasTag(const std::vector<std::wstring>& own, const std::wstring& tag) {
  return std::any_of(own.begin(), own.end(), [&](const std::wstring& t) { return SameWithoutCase(t, tag); });
}

// "Remove from this list": only while that list is still shown and still holds the copied path at
// the row's position (the list may have changed while the menu was open).
void RemoveFromShownList(const TrackMenuTarget& target) {
  if (target.list < 0 || ViewKind != kViewList || ViewIndex != target.list) return;
  if (static_cast<size_t>(target.list) >= TrackLists.size()) return;
  TrackList& list = TrackLists[static_cast<size_t>(target.list)];
  if (!RemovePathAt(list.paths, target.position, target.path)) return;
  SaveList(list);
  RefreshShownList(target.list);
}

}  // namespace

std::vector<PopupMenuEntry> TrackMenuEntries(TrackMenuTarget& target) {
  const std::wstring& path = target.path;
  std::vector<PopupMenuEntry> menu;
  const int decks = Settings.FourDecks ? kMenuDecksFour : kMenuDecksTwo;
  for (int deck = 0; deck < decks; ++deck)
    menu.push_back(MenuEntry(L"Load on deck " + DeckLetter(deck), kTrackLoadFirst + static_cast<uint32_t>(deck)));
  menu.push_back(MenuSeparator());
  const bool prelistened = !Prelisten.path.empty() && Prelisten.path == path;
  menu.push_back(MenuEntry(prelistened ? L"Stop prelisten" : L"Prelisten", kTrackPrelisten));
  menu.push_back(MenuSeparator());
  menu.push_back(MenuEntry(L"Add to Automix", kTrackAutomix));
  menu.push_back(MenuEntry(L"Add to Prepare", kTrackPrepare));
  if (TrackLists.size() > kBuiltInListCount) {
    PopupMenuEntry lists = MenuEntry(L"Add to playlist", 0);
    for (size_t i = kBuiltInListCount; i < TrackLists.size(); ++i)
      lists.submenu.push_back(MenuEntry(TrackLists[i].name, kTrackListFirst + static_cast<uint32_t>(i)));
    menu.push_back(std::move(lists));
  }
  PopupMenuEntry singers = MenuEntry(L"Karaoke: add for a singer", 0);
  const size_t singerCount = std::min(Rotation.singers.size(), kTrackMenuMaxSingers);
  for (size_t i = 0; i < singerCount; ++i)
    singers.submenu.push_back(MenuEntry(Rotation.singers[i].name, kTrackSingerFirst + static_cast<uint32_t>(i)));
  if (singerCount > 0) singers.submenu.push_back(MenuSeparator());
  singers.submenu.push_back(MenuEntry(L"New singer…", kTrackNewSinger));
  menu.push_back(std::move(singers));

  const TrackInfo* info = FindTrackInfo(path);
  PopupMenuEntry rating = MenuEntry(L"Rating", 0);
  for (int stars = 0; stars <= kMaxStars; ++stars)
    rating.submenu.push_back(MenuEntry(kStarLabels[stars], kTrackRatingFirst + static_cast<uint32_t>(stars), false,
                                       (info ? info->rating : 0) == stars));
  menu.push_back(std::move(rating));
  PopupMenuEntry colour = MenuEntry(L"Colour", 0);
  const int colourIndex = std::clamp(info ? info->color : 0, 0, kTrackColourCount - 1);
  for (const TrackColour& c : kTrackColours)
    colour.submenu.push_back(
        MenuEntry(c.name, kTrackColourFirst + static_cast<uint32_t>(c.index), false, c.index == colourIndex));
  menu.push_back(std::move(colour));

  PopupMenuEntry tags = MenuEntry(L"My Tag", 0);
  target.tags = AllMyTags();
  if (target.tags.size() > kTrackMenuMaxTags) target.tags.resize(kTrackMenuMaxTags);
  const std::vector<std::wstring> own = SplitTags(info ? info->myTags : L"");
  for (size_t i = 0; i < target.tags.size(); ++i) {
    PopupMenuEntry entry = MenuEntry(target.tags[i], kTrackMyTagFirst + static_cast<uint32_t>(i), false,
                                     HasTag(own, target.tags[i]));
    tags.submenu.push_back(std::move(entry));
  }
  if (!target.tags.empty()) tags.submenu.push_back(MenuSeparator());
  tags.submenu.push_back(MenuEntry(L"Edit My Tags…", kTrackEditMyTags));
  menu.push_back(std::move(tags));
  menu.push_back(MenuEntry(L"Edit tags…", kTrackEditTags));
  menu.push_back(MenuSeparator());
  if (target.list >= 0) menu.push_back(MenuEntry(L"Remove from this list", kTrackRemoveFromList));
  menu.push_back(MenuEntry(L"Analyze", kTrackAnalyze));
  menu.push_back(MenuEntry(L"Show in folder", kTrackShowInFolder));
  return menu;
}

void RunTrackMenuCommand(const TrackMenuTarget& target, uint32_t id) {
  const std::wstring& path = target.path;
  if (id >= kTrackLoadFirst && id < kTrackLoadFirst + kMenuDecksFour) {
    LoadTrack(static_cast<int>(id - kTrackLoadFirst), path);
  } else if (id >= kTrackRatingFirst && id <= kTrackRatingFirst + kMaxStars) {
    TrackInfoFor(path).rating = static_cast<int32_t>(id - kTrackRatingFirst);
    if (SortColumn == kSortRating) RebuildView();
  } else if (id >= kTrackColourFirst && id < kTrackColourFirst + kTrackColourCount) {
    TrackInfoFor(path).color = static_cast<int32_t>(id - kTrackColourFirst);
    RebuildView();
  } else if (id >= kTrackListFirst && id < kTrackMyTagFirst) {
    AddToList(static_cast<int>(id - kTrackListFirst), path);
  } else if (id >= kTrackMyTagFirst && id < kTrackMyTagFirst + target.tags.size()) {
    ToggleMyTag(path, target.tags[id - kTrackMyTagFirst]);
  } else if (id >= kTrackSingerFirst && id < kTrackSingerFirst + kTrackMenuMaxSingers) {
    KaraokeAddSong(static_cast<int>(id - kTrackSingerFirst), path);
  } else {
    switch (id) {
      case kTrackPrelisten: TogglePrelisten(path); break;
      case kTrackAutomix: AddToList(kAutomixList, path); break;
      case kTrackPrepare: AddToList(kPrepareList, path); break;
      case kTrackNewSinger: KaraokeNewSinger(path); break;
      case kTrackEditMyTags: EditMyTags(path); break;
      case kTrackEditTags: EditTags(path); break;
      case kTrackRemoveFromList: RemoveFromShownList(target); break;
      case kTrackAnalyze: AnalysePaths({path}); break;
      case kTrackShowInFolder: ShowInFolder(path); break;
      default: break;
    }
  }
}

void TrackMenu(int file) {
  if (file < 0 || static_cast<size_t>(file) >= ViewItems.size()) return;
  TrackMenuTarget target;
  target.path = ViewItems[static_cast<size_t>(file)].path;
  target.position = ViewItems[static_cast<size_t>(file)].index;
  target.list = ViewKind == kViewList ? ViewIndex : -1;
  std::vector<PopupMenuEntry> menu = TrackMenuEntries(target);
  ShowPopupMenu(std::move(menu), DeckColour(SideSlots[kLeftSide]),
                [target](uint32_t id) { RunTrackMenuCommand(target, id); });
}
