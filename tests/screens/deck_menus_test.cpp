// The deck and hot-cue pad menus: their entries and states from the real decks, and what each
// choice does, with real tracks loaded through LoadTrack.
#include "screens/deck_menus.h"

#include <gtest/gtest.h>

#include <mutex>

#include "base/settings.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/side_slots.h"
#include "engine/undo.h"
#include "library/track_lists.h"
#include "platform/text.h"
#include "support/click_tracks.h"
#include "ui/modal.h"
#include "ui/status_line.h"

namespace {

const PopupMenuEntry* Find(const std::vector<PopupMenuEntry>& menu, uint32_t id) {
  for (const PopupMenuEntry& e : menu) {
    if (e.id == id && !e.separator) return &e;
    if (const PopupMenuEntry* inner = Find(e.submenu, id)) return inner;
  }
  return nullptr;
}


class DeckMenus : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDecksForTest();
    Settings.FourDecks = false;
    SideSlots[kLeftSide] = 0, SideSlots[kRightSide] = 1;
    ClickTrack spec;
    spec.seconds = 8.0;
    path_ = folder().Make(spec);
    ASSERT_TRUE(LoadAndWait(0, path_));
    SnapshotDecks();
  }
  void TearDown() override {
    if (Modal.open) CloseModal(false);
    ResetDecksForTest();
    Settings.FourDecks = false;
  }
  static ClickTrackFolder& folder() {
    static ClickTrackFolder f;
    return f;
  }
  static void SetLoop(double in, double out) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].loopIn = in, Engine.decks[0].loopOut = out;
  }
  std::string path_;
};

TEST_F(DeckMenus, DeckMenuListsItsEntriesInOrderWithTheirStates) {
  std::vector<PopupMenuEntry> menu = DeckMenuEntries(0);
  const std::vector<std::wstring> texts = {L"Eject", L"Instant double", L"Sync lock (follow deck B's tempo)",
                                           L"Cross-fader assign", L"",
                                           L"Auto cues from phrases (intro, drops, breaks, outro)",
                                           L"Clear all hot cues", L"Clear all memory cues",
                                           L"Reset EQ, filter and effects", L"Undo (Ctrl+Z)", L"",
                                           L"Add to Prepare", L"Edit tags…", L"Show in folder"};
  ASSERT_EQ(menu.size(), texts.size());
  for (size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(menu[i].text, texts[i]) << i;
  EXPECT_TRUE(menu[4].separator && menu[10].separator);
  EXPECT_FALSE(Find(menu, 1)->disabled);   // a paused deck with a track ejects
  EXPECT_TRUE(Find(menu, 11)->disabled);   // no memory cues
  EXPECT_TRUE(Find(menu, 8)->disabled);    // nothing to undo
  EXPECT_FALSE(Find(menu, 9)->disabled);   // a loaded track's tags can be edited
  // Two decks: one instant-double line, greyed while deck B is empty.
  ASSERT_EQ(menu[1].submenu.size(), 1u);
  EXPECT_EQ(menu[1].submenu[0].text, L"From deck B");
  EXPECT_EQ(menu[1].submenu[0].id, 41u);
  EXPECT_TRUE(menu[1].submenu[0].disabled);
  // Deck A follows its side: Left is checked until an assignment is set.
  EXPECT_TRUE(Find(menu, 50)->checked);
  EXPECT_FALSE(Find(menu, 52)->checked);

  Settings.FourDecks = true;
  menu = DeckMenuEntries(0);
  ASSERT_EQ(menu[1].submenu.size(), 3u);
  EXPECT_EQ(menu[1].submenu[2].text, L"From deck D");

  // An empty deck greys every track entry.
  menu = DeckMenuEntries(1);
  for (uint32_t id : {1u, 10u, 4u, 11u, 6u, 9u, 7u}) EXPECT_TRUE(Find(menu, id)->disabled) << id;
  EXPECT_FALSE(Find(menu, 5)->disabled);
  EXPECT_TRUE(Find(menu, 52)->checked);  // deck B sits right
}

TEST_F(DeckMenus, DeckCommandsActOnTheDeck) {
  DeckView& view = LiveDeckViews[0];
  view.eqHigh = 0.9f, view.filter = -0.4f, view.gain = 0.7f, view.fader = 0.3f;
  view.fxSlotOn = {true, true, false};
  view.fxSlotEffect = {5, 6, 7};
  view.stemPreset = 1;
  view.eqKillMemory = {0.2f, -1.0f, 0.4f};
  RunDeckMenuCommand(0, 5);
  EXPECT_FLOAT_EQ(view.eqHigh, 0.5f);
  EXPECT_FLOAT_EQ(view.filter, 0.0f);
  EXPECT_EQ(view.fxSlotOn, (std::array<bool, 3>{false, false, false}));
  EXPECT_EQ(view.stemPreset, 0u);
  EXPECT_FLOAT_EQ(view.eqKillMemory[0], -1.0f);
  EXPECT_FLOAT_EQ(view.gain, 0.7f);  // gain, fader and effect choices stay
  EXPECT_FLOAT_EQ(view.fader, 0.3f);
  EXPECT_EQ(view.fxSlotEffect, (std::array<uint32_t, 3>{5, 6, 7}));

  RunDeckMenuCommand(0, 51);
  EXPECT_EQ(view.xfAssign, 1);
  EXPECT_TRUE(view.xfAssignSet);
  SnapshotDecks();
  EXPECT_TRUE(Find(DeckMenuEntries(0), 51)->checked);

  view.memoryCues = {1.0, 2.0};
  RunDeckMenuCommand(0, 11);
  EXPECT_TRUE(view.memoryCues.empty());
  ASSERT_FALSE(UndoStack.empty());
  EXPECT_EQ(UndoStack.back().label, L"cleared memory cues");
  SnapshotDecks();
  EXPECT_FALSE(Find(DeckMenuEntries(0), 8)->disabled);
  RunDeckMenuCommand(0, 8);  // Undo
  EXPECT_EQ(view.memoryCues, (std::vector<double>{1.0, 2.0}));

  // Edit tags… opens the tag form on the deck's own file.
  RunDeckMenuCommand(0, 9);
  ASSERT_TRUE(Modal.open);
  EXPECT_EQ(Modal.title, L"Edit tags — " + FileNameOf(Utf8ToWide(path_)));
  ASSERT_EQ(Modal.fields.size(), 5u);
  EXPECT_EQ(Modal.fields[0].label, L"Title");
  CloseModal(false);

  RunDeckMenuCommand(0, 3);
  EXPECT_TRUE(view.syncLock);
  RunDeckMenuCommand(0, 1);  // Eject
  EXPECT_FALSE(Engine.decks[0].track);
}

TEST_F(DeckMenus, ChoiceAfterTheTrackChangedActsOnNothing) {
  const PopupMenuAction choose = DeckMenuChoice(0);
  const PopupMenuAction padChoose = PadMenuChoice(0, 2);
  ClickTrack other;
  other.seconds = 6.0;
  other.bpm = 100.0;
  ASSERT_TRUE(LoadAndWait(0, folder().Make(other)));
  SnapshotDecks();
  const TrackPtr now = Engine.decks[0].track;
  choose(1);  // Eject, chosen from a menu opened for the earlier track
  EXPECT_EQ(Engine.decks[0].track, now);
  padChoose(105);
  EXPECT_EQ(LiveDeckViews[0].hotCueColour[2], -1);
  // A fresh menu's choice acts.
  DeckMenuChoice(0)(1);
  EXPECT_FALSE(Engine.decks[0].track);
}

TEST_F(DeckMenus, PadMenuEntriesFollowTheCue) {
  std::vector<PopupMenuEntry> menu = PadMenuEntries(0, 3);
  ASSERT_EQ(menu.size(), 5u);
  EXPECT_EQ(menu[0].text, L"Rename…");
  EXPECT_TRUE(menu[0].disabled);
  EXPECT_TRUE(menu[1].disabled);  // colours of an empty pad
  ASSERT_EQ(menu[1].submenu.size(), 13u);
  EXPECT_EQ(menu[1].submenu[0].text, L"Pad colour");
  EXPECT_TRUE(menu[1].submenu[0].checked);
  EXPECT_EQ(menu[1].submenu[12].text, L"Brick");
  EXPECT_EQ(menu[1].submenu[12].id, 112u);
  EXPECT_EQ(menu[2].text, L"Save the current loop here");
  EXPECT_TRUE(menu[2].disabled);  // no loop
  EXPECT_TRUE(menu[3].separator);
  EXPECT_TRUE(menu[4].disabled);

  SetLoop(44100, 88200);
  SnapshotDecks();
  EXPECT_FALSE(PadMenuEntries(0, 3)[2].disabled);
  RunPadMenuCommand(0, 3, 2);  // save the loop onto the empty pad: no undo record
  EXPECT_TRUE(UndoStack.empty());
  EXPECT_DOUBLE_EQ(Engine.decks[0].hotCueStart[3], 44100);
  EXPECT_DOUBLE_EQ(Engine.decks[0].hotCueEnd[3], 88200);
  SnapshotDecks();
  menu = PadMenuEntries(0, 3);
  EXPECT_EQ(menu[2].text, L"Replace with the current loop");
  EXPECT_FALSE(menu[0].disabled);

  SetLoop(132300, 176400);
  RunPadMenuCommand(0, 3, 2);  // replacing a looping cue is undoable
  ASSERT_EQ(UndoStack.size(), 1u);
  EXPECT_EQ(UndoStack.back().label, L"replaced hot cue 4");
  EXPECT_DOUBLE_EQ(Engine.decks[0].hotCueStart[3], 132300);

  RunPadMenuCommand(0, 3, 104);
  EXPECT_EQ(LiveDeckViews[0].hotCueColour[3], 3);
  SnapshotDecks();
  EXPECT_TRUE(Find(PadMenuEntries(0, 3), 104)->checked);
  RunPadMenuCommand(0, 3, 100);
  EXPECT_EQ(LiveDeckViews[0].hotCueColour[3], -1);

  RunPadMenuCommand(0, 3, 3);  // Delete
  EXPECT_LT(Engine.decks[0].hotCueStart[3], 0);
}

TEST_F(DeckMenus, RenameCutsTheNameAndSaveLoopWithoutLoopSaysSo) {
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].hotCueStart[1] = 1000;
  }
  RunPadMenuCommand(0, 1, 1);
  ASSERT_TRUE(Modal.open);
  EXPECT_EQ(Modal.title, L"Name hot cue 2");
  EXPECT_EQ(Modal.okLabel, L"SAVE");
  ASSERT_EQ(Modal.fields.size(), 1u);
  EXPECT_EQ(Modal.fields[0].label, L"Name");
  Modal.fields[0].value = L"A very long name for a hot cue indeed";
  CloseModal(true);
  EXPECT_EQ(LiveDeckViews[0].hotCueName[1], L"A very long name for a h");

  SetLoop(0, 0);
  RunPadMenuCommand(0, 5, 2);
  EXPECT_LT(Engine.decks[0].hotCueStart[5], 0);
  EXPECT_EQ(Status.text, L"Set a loop first, then save it to a pad");
}

}  // namespace
