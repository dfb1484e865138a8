// The undo stack, memory cues and AUTO CUES on real click tracks loaded through LoadTrack.
#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "base/beat_grid.h"
#include "base/status_message.h"
#include "base/track_info.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/grid_edits.h"
#include "engine/phrases.h"
#include "engine/transport.h"
#include "engine/undo.h"
#include "platform/text.h"
#include "support/click_tracks.h"
#include "support/shown_status.h"

namespace {

constexpr double kRate = 44100.0;

class UndoAndCues : public ::testing::Test {
 protected:
  void SetUp() override { ResetDecksForTest(); }
  void TearDown() override { ResetDecksForTest(); }

  static std::string Click(double bpm, double seconds = 10.0) {
    static ClickTrackFolder folder;
    ClickTrack spec;
    spec.bpm = bpm;
    spec.seconds = seconds;
    return folder.Make(spec);
  }
  static void Place(int deck, double seconds) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[deck].position = seconds * kRate;
  }
};

TEST_F(UndoAndCues, KeepsTheFiftyNewestRecords) {
  ASSERT_TRUE(LoadAndWait(0, Click(120.0)));
  for (int i = 0; i <= 50; ++i) PushUndo(0, L"edit " + std::to_wstring(i));
  ASSERT_EQ(UndoStack.size(), kUndoLimit);
  EXPECT_EQ(UndoStack.front().label, L"edit 1");
  for (int i = 50; i >= 1; --i) {
    Undo();
    EXPECT_EQ(Status.text, L"Undone: edit " + std::to_wstring(i));
  }
  Undo();
  EXPECT_EQ(Status.text, L"Nothing to undo");
}

TEST_F(UndoAndCues, RestoresCuesNamesMemoryCuesAndTheGrid) {
  const std::string path = Click(120.0);
  ASSERT_TRUE(LoadAndWait(0, path));
  DeckState& deck = Engine.decks[0];
  Place(0, 3.0);
  PressHotCue(0, 4);
  LiveDeckViews[0].hotCueName[4] = L"HOOK";
  LiveDeckViews[0].hotCueColour[4] = 2;
  LiveDeckViews[0].memoryCues = {1.0};
  const double bpm = deck.track->bpm;

  DeleteHotCue(0, 4);
  HalveTempo(0);
  EXPECT_DOUBLE_EQ(deck.track->bpm, bpm / 2);
  Undo();
  EXPECT_EQ(Status.text, L"Undone: halved the tempo");
  EXPECT_DOUBLE_EQ(deck.track->bpm, bpm);
  EXPECT_DOUBLE_EQ(FindTrackInfo(Utf8ToWide(path))->bpm, bpm) << "the library follows the undone grid";
  EXPECT_DOUBLE_EQ(deck.hotCueStart[4], -1.0);

  Undo();
  EXPECT_EQ(Status.text, L"Undone: deleted hot cue 5");
  EXPECT_DOUBLE_EQ(deck.hotCueStart[4], 3.0 * kRate);
  EXPECT_EQ(LiveDeckViews[0].hotCueName[4], L"HOOK");
  EXPECT_EQ(LiveDeckViews[0].hotCueColour[4], 2);
  EXPECT_EQ(FindTrackInfo(Utf8ToWide(path))->hotCueName[4], L"HOOK");
}

TEST_F(UndoAndCues, SkipsRecordsOfTracksNoLongerLoaded) {
  ASSERT_TRUE(LoadAndWait(0, Click(120.0)));
  ASSERT_TRUE(LoadAndWait(1, Click(126.0)));
  PushUndo(0, L"on A's first track");
  PushUndo(1, L"on B");
  PushUndo(0, L"on A again");
  ASSERT_TRUE(LoadAndWait(0, Click(128.0)));
  Undo();
  EXPECT_EQ(Status.text, L"Undone: on B");
  Undo();
  EXPECT_EQ(Status.text, L"Nothing to undo");
  EXPECT_TRUE(UndoStack.empty());
  PushUndo(2, L"empty deck");
  EXPECT_TRUE(UndoStack.empty()) << "nothing is recorded without a track";
}

TEST_F(UndoAndCues, MemoryCuesKeepTheirDistanceAndReportTheirTime) {
  const std::string path = Click(120.0, 70.0);
  ASSERT_TRUE(LoadAndWait(0, path));
  Place(0, 61.56);
  AddMemoryCue(0);
  EXPECT_EQ(Status.text, L"Memory cue 1 set at 1:01.5");
  Place(0, 61.60);  // 0.04 s away
  AddMemoryCue(0);
  EXPECT_EQ(Status.text, L"There's already a memory cue here");
  Place(0, 1.30);
  AddMemoryCue(0);
  EXPECT_EQ(Status.text, L"Memory cue 2 set at 0:01.3");
  Place(0, 61.62);  // 0.06 s away
  AddMemoryCue(0);
  EXPECT_EQ(Status.text, L"Memory cue 3 set at 1:01.6");
  EXPECT_EQ(ShownStatusIn(kUiGerman), L"Memory-Cue 3 gesetzt bei 1:01.6");
  ASSERT_EQ(LiveDeckViews[0].memoryCues.size(), 3u);
  EXPECT_NEAR(LiveDeckViews[0].memoryCues[0], 1.30, 1e-9);
  EXPECT_NEAR(LiveDeckViews[0].memoryCues[2], 61.62, 1e-9);
  EXPECT_EQ(FindTrackInfo(Utf8ToWide(path))->memoryCues, LiveDeckViews[0].memoryCues);
  EXPECT_TRUE(UndoStack.empty()) << "adding a memory cue pushes nothing";

  // Deleting takes the nearest (the earlier on a tie) and can be undone.
  LiveDeckViews[0].memoryCues = {1.5, 61.5, 62.0};
  Place(0, 31.5);
  DeleteMemoryCue(0);
  EXPECT_EQ(LiveDeckViews[0].memoryCues, (std::vector<double>{61.5, 62.0}));
  EXPECT_EQ(FindTrackInfo(Utf8ToWide(path))->memoryCues, LiveDeckViews[0].memoryCues);
  EXPECT_EQ(UndoStack.back().label, L"deleted a memory cue");
  Undo();
  EXPECT_EQ(LiveDeckViews[0].memoryCues.size(), 3u);
}

TEST_F(UndoAndCues, JumpsToMemoryCuesSkippingOneJustPassedWhilePlaying) {
  ASSERT_TRUE(LoadAndWait(0, Click(120.0)));
  DeckState& deck = Engine.decks[0];
  JumpMemoryCue(0, 1);
  EXPECT_EQ(Status.text, L"No memory cues on this track yet \u2014 press MEM to set one");
  LiveDeckViews[0].memoryCues = {2.0, 4.0};

  Place(0, 4.3);
  JumpMemoryCue(0, -1);  // paused: the cue just behind
  EXPECT_DOUBLE_EQ(deck.position, 4.0 * kRate);
  EXPECT_DOUBLE_EQ(deck.cuePoint, 4.0 * kRate);
  JumpMemoryCue(0, 1);   // nothing after 4.0 s
  EXPECT_DOUBLE_EQ(deck.position, 4.0 * kRate);

  Place(0, 4.3);
  deck.playing = true;
  deck.loopIn = 4.1 * kRate;
  deck.loopOut = 4.6 * kRate;
  deck.loopOn = true;
  JumpMemoryCue(0, -1);  // playing: skips the cue 0.3 s back, leaves the loop
  EXPECT_DOUBLE_EQ(deck.position, 2.0 * kRate);
  EXPECT_FALSE(deck.loopOn);
  JumpMemoryCue(0, 1);
  EXPECT_DOUBLE_EQ(deck.position, 4.0 * kRate);
}

TEST_F(UndoAndCues, AutoCuesPutCuesOnThePhrasesOnce) {
  // Quiet, loud, quiet, loud blocks of 32 beats at 128 BPM (15 s each).
  static ClickTrackFolder folder;
  ClickTrack spec;
  spec.bpm = 128.0;
  spec.seconds = 64.0;
  spec.blockLevels = {0.2, 1.0, 0.2, 1.0};
  ASSERT_TRUE(LoadAndWait(0, folder.Make(spec)));
  const TrackPtr track = Engine.decks[0].track;
  DeckView& view = LiveDeckViews[0];

  AutoCues(0);
  EXPECT_EQ(Status.text, L"No song structure found in this track to place cues on");
  EXPECT_TRUE(UndoStack.empty());

  view.phrases = AnalyzePhrases(*track);  // what the frame tick keeps for the deck
  ASSERT_GE(view.phrases.size(), 3u);
  const size_t n = view.phrases.size();
  AutoCues(0);
  EXPECT_EQ(Status.text, L"Auto cues: " + std::to_wstring(n) + L" hot cues and " + std::to_wstring(n) +
                             L" memory cues from the phrases");
  EXPECT_EQ(view.hotCueName[0], L"INTRO");
  EXPECT_EQ(view.hotCueColour[0], 5);  // 3BA7FF is nearest 22D3FF
  EXPECT_EQ(view.hotCueName[1], L"DROP");
  EXPECT_EQ(view.hotCueColour[1], 0);  // the skin's red is nearest FF3D6E
  EXPECT_EQ(view.hotCueName[2], L"BREAK");
  EXPECT_EQ(view.hotCueColour[2], 7);  // the skin's purple is nearest 9D6BFF
  EXPECT_NEAR(Engine.decks[0].hotCueStart[1], TimeAtBeat(*track, 32.0) * kRate, 1.0);
  EXPECT_EQ(view.memoryCues.size(), n);
  EXPECT_EQ(FindTrackInfo(track->path)->hotCueName[1], L"DROP");

  AutoCues(0);
  EXPECT_EQ(Status.text, L"Cues are already on every phrase");
  EXPECT_EQ(UndoStack.size(), 2u);

  // With every slot taken far from the phrases only memory cues are added.
  for (int slot = 0; slot < kHotCues; ++slot) Engine.decks[0].hotCueStart[slot] = (7.0 + slot * 0.1) * kRate;
  view.memoryCues.clear();
  AutoCues(0);
  EXPECT_EQ(Status.text, L"Auto cues: 0 hot cues and " + std::to_wstring(n) + L" memory cues from the phrases");
}

}  // namespace
