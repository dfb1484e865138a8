#include "screens/deck_menus.h"

#include <memory>
#include <mutex>
#include <string>

#include "base/palette.h"
#include "base/settings.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/sandbox.h"
#include "engine/side_slots.h"
#include "engine/sync.h"
#include "engine/transport.h"
#include "engine/undo.h"
#include "library/track_lists.h"
#include "platform/desktop_open.h"
#include "platform/text.h"
#include "screens/tag_forms.h"
#include "ui/modal.h"
#include "ui/status_line.h"

namespace {

// Deck menu command ids.
enum : uint32_t {
  kEject = 1, kSyncLock = 3, kClearHotCues = 4, kResetMixer = 5, kAddToPrepare = 6, kShowInFolder = 7,
  kUndo = 8, kEditTags = 9, kAutoCues = 10, kClearMemoryCues = 11,
  kInstantDoubleFirst = 40, kXfAssignFirst = 50, kXfAssignLast = 52,
};
// Pad menu command ids.
enum : uint32_t { kRename = 1, kSaveLoop = 2, kDelete = 3, kPadColour = 100, kFirstColour = 101 };

constexpr const wchar_t* kColourNames[] = {L"Red",  L"Orange", L"Yellow", L"Lime",  L"Green", L"Cyan",
                                           L"Blue", L"Purple", L"Pink",   L"White", L"Grey",  L"Brick"};
constexpr int32_t kXfLeft = 0, kXfRight = 2;

// The side the deck sits on: A and C left, B and D right.
int SideOf(int deck) { return deck % 2 == 0 ? kLeftSide : kRightSide; }

uint32_t AccentColour() {
  const uint32_t decks[4] = {Pal.DeckA, Pal.DeckB, Pal.DeckC, Pal.DeckD};
  const int32_t left = SideSlots[kLeftSide];
  return decks[left >= 0 && left < 4 ? left : 0];
}

void ResetMixerStrip(DeckView& v) {
  v.eqHigh = v.eqMid = v.eqLow = 0.5f;
  v.filter = 0.0f;
  v.fxSlotOn = {false, false, false};
  v.stemPreset = 0;
  v.eqKillMemory = {-1.0f, -1.0f, -1.0f};
}

}  // namespace

// ---- deck menu -------------------------------------------------------------------------------

std::vector<PopupMenuEntry> DeckMenuEntries(int deck) {
  std::vector<PopupMenuEntry> menu;
  if (!ValidDeck(deck)) return menu;
  const DeckSnapshot& snap = DeckSnapshots[deck];
  const DeckView& view = LiveDeckViews[deck];
  const bool noTrack = !snap.track;

  menu.push_back(MenuEntry(L"Eject", kEject, noTrack || snap.playing));

  PopupMenuEntry doubles = MenuEntry(L"Instant double", 0);
  for (int source = 0; source < DecksInUse(); ++source) {
    if (source == deck) continue;
    doubles.submenu.push_back(MenuEntry(L"From deck " + DeckLetter(source), kInstantDoubleFirst + source,
                                   !DeckSnapshots[source].track || snap.playing));
  }
  menu.push_back(std::move(doubles));

  const int other = SideSlots[1 - SideOf(deck)];
  menu.push_back(MenuEntry(L"Sync lock (follow deck " + DeckLetter(ValidDeck(other) ? other : 1 - SideOf(deck)) + L"'s tempo)",
                      kSyncLock, false, view.syncLock));

  const int32_t assign = view.xfAssignSet ? view.xfAssign : (SideOf(deck) == kLeftSide ? kXfLeft : kXfRight);
  PopupMenuEntry xf = MenuEntry(L"Cross-fader assign", 0);
  xf.submenu = {MenuEntry(L"Left (A side)", kXfAssignFirst, false, assign == 0),
                MenuEntry(L"Thru (cross-fader ignored)", kXfAssignFirst + 1, false, assign == 1),
                MenuEntry(L"Right (B side)", kXfAssignFirst + 2, false, assign == 2)};
  menu.push_back(std::move(xf));

  menu.push_back(MenuSeparator());
  menu.push_back(MenuEntry(L"Auto cues from phrases (intro, drops, breaks, outro)", kAutoCues, noTrack || view.phrases.empty()));
  menu.push_back(MenuEntry(L"Clear all hot cues", kClearHotCues, noTrack));
  menu.push_back(MenuEntry(L"Clear all memory cues", kClearMemoryCues, noTrack || view.memoryCues.empty()));
  menu.push_back(MenuEntry(L"Reset EQ, filter and effects", kResetMixer));
  menu.push_back(MenuEntry(L"Undo (Ctrl+Z)", kUndo, UndoStack.empty()));
  menu.push_back(MenuSeparator());
  menu.push_back(MenuEntry(L"Add to Prepare", kAddToPrepare, noTrack));
  menu.push_back(MenuEntry(L"Edit tags…", kEditTags, noTrack));
  menu.push_back(MenuEntry(L"Show in folder", kShowInFolder, noTrack));
  return menu;
}

void RunDeckMenuCommand(int deck, uint32_t id) {
  if (!ValidDeck(deck)) return;
  DeckView& view = LiveDeckViews[deck];
  const TrackPtr track = DeckSnapshots[deck].track;
  if (id >= kInstantDoubleFirst && id < kInstantDoubleFirst + kEngineDecks) {
    InstantDouble(deck, static_cast<int>(id - kInstantDoubleFirst));
    return;
  }
  if (id >= kXfAssignFirst && id <= kXfAssignLast) {
    view.xfAssign = static_cast<int32_t>(id - kXfAssignFirst);
    view.xfAssignSet = true;
    return;
  }
  switch (id) {
    case kEject: EjectDeck(deck); break;
    case kSyncLock: ToggleSyncLock(deck); break;
    case kAutoCues: AutoCues(deck); break;
    case kClearHotCues: ClearHotCues(deck); break;
    case kClearMemoryCues:
      if (!view.memoryCues.empty()) {
        PushUndo(deck, L"cleared memory cues");
        view.memoryCues.clear();
        StoreDeckCues(deck);
      }
      break;
    case kResetMixer: ResetMixerStrip(view); break;
    case kUndo: Undo(); break;
    case kAddToPrepare:
      if (track) AddToList(kPrepareList, track->path);
      break;
    case kEditTags:
      if (track) EditTags(track->path);
      break;
    case kShowInFolder:
      if (track) ShowInFolder(track->path);
      break;
    default: break;
  }
}

PopupMenuAction DeckMenuChoice(int deck) {
  return [deck, guard = DeckMenuGuard(deck)](uint32_t id) {
    if (guard(id)) RunDeckMenuCommand(deck, id);
  };
}

void DeckMenu(int deck) { ShowPopupMenu(DeckMenuEntries(deck), AccentColour(), DeckMenuChoice(deck)); }

// ---- hot-cue pad menu ------------------------------------------------------------------------

std::vector<PopupMenuEntry> PadMenuEntries(int deck, int pad) {
  std::vector<PopupMenuEntry> menu;
  if (!ValidDeck(deck) || pad < 0 || pad >= kHotCues) return menu;
  const DeckSnapshot& snap = DeckSnapshots[deck];
  const size_t p = static_cast<size_t>(pad);
  const bool set = snap.hotCueStart[p] >= 0;
  const bool looping = set && snap.hotCueEnd[p] > snap.hotCueStart[p];
  const int32_t colour = LiveDeckViews[deck].hotCueColour[p];

  menu.push_back(MenuEntry(L"Rename…", kRename, !set));
  PopupMenuEntry colours = MenuEntry(L"Colour", 0, !set);
  colours.submenu.push_back(MenuEntry(L"Pad colour", kPadColour, false, colour < 0));
  for (int i = 0; i < static_cast<int>(std::size(kColourNames)); ++i)
    colours.submenu.push_back(MenuEntry(kColourNames[i], kFirstColour + i, false, colour == i));
  menu.push_back(std::move(colours));
  menu.push_back(MenuEntry(looping ? L"Replace with the current loop" : L"Save the current loop here", kSaveLoop,
                      !(snap.loopOut > snap.loopIn)));
  menu.push_back(MenuSeparator());
  menu.push_back(MenuEntry(L"Delete", kDelete, !set));
  return menu;
}

namespace {

void RenameHotCue(int deck, int pad) {
  const size_t p = static_cast<size_t>(pad);
  const uint32_t serial = LiveDeckViews[deck].loadSerial;
  OpenModal(L"Name hot cue " + std::to_wstring(pad + 1), {ModalField{L"Name", LiveDeckViews[deck].hotCueName[p]}},
            L"SAVE", [deck, p, serial](const std::vector<ModalField>& fields) {
              // The form can stay open across a load; the name belongs to the track it was asked for.
              if (fields.empty() || LiveDeckViews[deck].loadSerial != serial) return;
              LiveDeckViews[deck].hotCueName[p] = fields[0].value.substr(0, kHotCueNameMaxChars);
              StoreDeckCues(deck);
            });
}

void SaveLoopToPad(int deck, int pad) {
  const size_t p = static_cast<size_t>(pad);
  const DeckSnapshot& snap = DeckSnapshots[deck];
  if (snap.hotCueStart[p] >= 0 && snap.hotCueEnd[p] > snap.hotCueStart[p])
    PushUndo(deck, L"replaced hot cue " + std::to_wstring(pad + 1));
  bool saved = false;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    DeckState& d = DeckStateOf(deck);
    if (d.track && d.loopOut > d.loopIn) {
      d.hotCueStart[p] = d.loopIn;
      d.hotCueEnd[p] = d.loopOut;
      saved = true;
    }
  }
  if (saved)
    StoreDeckCues(deck);
  else
    ShowStatus(L"Set a loop first, then save it to a pad", kMenuStatusMs);
}

}  // namespace

void RunPadMenuCommand(int deck, int pad, uint32_t id) {
  if (!ValidDeck(deck) || pad < 0 || pad >= kHotCues) return;
  if (id >= kPadColour && id < kFirstColour + std::size(kColourNames)) {
    LiveDeckViews[deck].hotCueColour[static_cast<size_t>(pad)] = static_cast<int32_t>(id) - static_cast<int32_t>(kFirstColour);
    StoreDeckCues(deck);
    return;
  }
  switch (id) {
    case kRename: RenameHotCue(deck, pad); break;
    case kSaveLoop: SaveLoopToPad(deck, pad); break;
    case kDelete:
      DeleteHotCue(deck, pad);
      StoreDeckCues(deck);
      break;
    default: break;
  }
}

PopupMenuAction PadMenuChoice(int deck, int pad) {
  return [deck, pad, guard = DeckMenuGuard(deck)](uint32_t id) {
    if (guard(id)) RunPadMenuCommand(deck, pad, id);
  };
}

void PadMenu(int deck, int pad) {
  ShowPopupMenu(PadMenuEntries(deck, pad), AccentColour(), PadMenuChoice(deck, pad));
}
