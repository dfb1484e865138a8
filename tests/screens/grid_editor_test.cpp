// The beat-grid editor driven through scripted frames on a real click track loaded through
// LoadTrack; its edits go through the real EditBeatGrid and undo stack.
#include "screens/grid_editor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

#include "base/beat_grid.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/undo.h"
#include "support/click_tracks.h"
#include "tests/ui/widget_frames.h"
#include "ui/status_line.h"

namespace {

constexpr double kRate = 44100.0;

class GridEditorFrames : public WidgetFrames {
 protected:
  // The editor's panel is up to 1120 x 600 DIPs: a window that holds it whole.
  static constexpr int kWindowW = 1280, kWindowH = 720;

  void SetUp() override {
    WidgetFrames::SetUp();
    ReleaseDevice();
    ASSERT_TRUE(CreateDevice(kWindowW, kWindowH, 1.0f));
    ResetDecksForTest();
    static ClickTrackFolder folder;
    ClickTrack spec;
    spec.bpm = 120.0;
    spec.seconds = 12.0;
    ASSERT_TRUE(LoadAndWait(0, folder.Make(spec)));
    track_ = Engine.decks[0].track;
    GridEditor = GridEditorState{};
    GridEditorDeck = -1;
  }
  void TearDown() override {
    GridEditorDeck = -1;
    track_.reset();
    ResetDecksForTest();
    WidgetFrames::TearDown();
  }
  static void Place(double seconds) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].position = seconds * kRate;
  }
  static double Position() {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    return Engine.decks[0].position / kRate;
  }
  static void EditorFrame() {
    SnapshotDecks();
    Frame([] { DrawGridEditor(); });
  }
  static GridEditorLayout Layout() { return LayoutGridEditor(GridEditorPanel(kWindowW, kWindowH)); }
  // A mouse click on the centre of button `id`: press in one frame, release in the next.
  static void Click(int32_t id) {
    const Rc r = GridEditorButtonRect(Layout(), id);
    ASSERT_GT(r.w, 0.0f) << id;
    Press(r.CenterX(), r.CenterY());
    EditorFrame();
    Release();
    EditorFrame();
  }

  TrackPtr track_;
};

TEST_F(GridEditorFrames, PinsABeatClosesAndUndoRestoresTheGrid) {
  const double firstBeat = track_->firstBeat;
  const double bpm = track_->bpm;
  ASSERT_TRUE(track_->tempoMarkers.empty());
  GridEditorDeck = 0;
  EditorFrame();
  EXPECT_EQ(Engine.clickDeck, 0);  // the metronome starts on

  // The kick of beat 12 heard 30 ms late: pin it there.
  const double late = TimeAtBeat(*track_, 12.0) + 0.030;
  Place(late);
  Click(3512);
  ASSERT_EQ(track_->tempoMarkers.size(), 1u);
  EXPECT_DOUBLE_EQ(track_->tempoMarkers[0].beat, 12.0);
  EXPECT_NEAR(track_->tempoMarkers[0].seconds, late, 1e-9);
  EXPECT_NEAR(TimeAtBeat(*track_, 12.0), late, 1e-9);  // the grid bends through the pin
  ASSERT_FALSE(UndoStack.empty());
  EXPECT_EQ(UndoStack.back().label, L"pinned a beat");

  Click(3520);  // DONE
  EXPECT_EQ(GridEditorDeck, -1);
  EXPECT_EQ(Engine.clickDeck, -1);

  Undo();
  EXPECT_TRUE(track_->tempoMarkers.empty());
  EXPECT_DOUBLE_EQ(track_->firstBeat, firstBeat);
  EXPECT_DOUBLE_EQ(track_->bpm, bpm);
}

TEST_F(GridEditorFrames, ButtonsEditTheGridAndTheMetronomeFollows) {
  GridEditorDeck = 0;
  EditorFrame();
  const double bpm = track_->bpm;
  Click(3503);  // +0.1
  EXPECT_NEAR(track_->bpm, bpm + 0.1, 1e-9);
  Click(3504);  // ½
  EXPECT_NEAR(track_->bpm, (bpm + 0.1) / 2, 1e-9);
  EXPECT_EQ(UndoStack.back().label, L"halved the tempo");

  Click(3519);  // metronome off
  EXPECT_FALSE(GridEditor.metronome);
  EXPECT_EQ(Engine.clickDeck, -1);

  // Pinning twice near one beat keeps only the newer pin.
  Place(TimeAtBeat(*track_, 8.0) + 0.02);
  Click(3512);
  Place(TimeAtBeat(*track_, 8.0) + 0.01);
  Click(3512);
  ASSERT_EQ(track_->tempoMarkers.size(), 1u);
  EXPECT_NEAR(track_->tempoMarkers[0].seconds, Position(), 1e-9);
  Click(3514);  // CLEAR PINS
  EXPECT_TRUE(track_->tempoMarkers.empty());
}

TEST_F(GridEditorFrames, PinNearBeatZeroMovesTheFirstBeat) {
  GridEditorDeck = 0;
  Place(track_->firstBeat + 0.02);
  EditorFrame();
  Click(3512);
  EXPECT_TRUE(track_->tempoMarkers.empty());
  EXPECT_NEAR(track_->firstBeat, Position(), 1e-9);
}

TEST_F(GridEditorFrames, DragMovesAPausedDeckAndWheelZooms) {
  GridEditorDeck = 0;
  Place(6.0);
  EditorFrame();
  const Rc strip = Layout().strip;
  const double secondsPerDip = 2.0 * GridEditor.zoom / strip.w;
  Press(strip.CenterX(), strip.CenterY());
  EditorFrame();
  MoveTo(strip.CenterX() - 50, strip.CenterY());  // drag left: the track moves on
  EditorFrame();
  EXPECT_NEAR(Position(), 6.0 + 50 * secondsPerDip, 1e-6);
  Release();
  EditorFrame();
  EXPECT_FALSE(GridEditor.dragging);

  Input.wheel = 1.0f;
  EditorFrame();
  EXPECT_FLOAT_EQ(GridEditor.zoom, 3.0f * 0.8f);
  EXPECT_FLOAT_EQ(ZoomAfterWheel(0.6f, 1.0f), 0.5f);
  EXPECT_FLOAT_EQ(ZoomAfterWheel(14.0f, -1.0f), 16.0f);
}

TEST_F(GridEditorFrames, SteadyTrackDriftFindingClearsPinsAndUndoes) {
  EditBeatGrid(0, [](Track& t) { t.tempoMarkers = {{8.0, TimeAtBeat(t, 8.0) + 0.02}}; });
  ASSERT_EQ(track_->tempoMarkers.size(), 1u);
  GridEditorDeck = 0;
  EditorFrame();
  Click(3515);
  EXPECT_TRUE(track_->tempoMarkers.empty());
  EXPECT_EQ(Status.text, L"This track keeps a steady tempo — no pins needed");
  Undo();
  EXPECT_EQ(track_->tempoMarkers.size(), 1u);
}

TEST_F(GridEditorFrames, EditorOnAnEmptyDeckClosesItself) {
  Engine.clickDeck = 1;
  GridEditorDeck = 1;
  EditorFrame();
  EXPECT_EQ(GridEditorDeck, -1);
  EXPECT_EQ(Engine.clickDeck, -1);
}

TEST(GridEditorEdits, TempoNudgeStretchesMarkersAroundTheFirstBeat) {
  Track t;
  t.bpm = 120.0;
  t.firstBeat = 0.5;
  t.tempoMarkers = {{16.0, 8.5}};
  RescaleTempoEdit(0.1)(t);
  EXPECT_DOUBLE_EQ(t.bpm, 120.1);
  EXPECT_NEAR(t.tempoMarkers[0].seconds, 0.5 + 8.0 * 120.0 / 120.1, 1e-12);
  EXPECT_NEAR(t.tempoMarkers[0].seconds, 8.4934, 1e-4);
  EXPECT_DOUBLE_EQ(t.tempoMarkers[0].beat, 16.0);
}

TEST(GridEditorEdits, RemoveNearestPinTakesTheEarlierOnATie) {
  Track t;
  t.tempoMarkers = {{8, 4.0}, {16, 8.0}, {24, 12.0}};
  RemoveNearestPinEdit(6.0)(t);  // 4.0 and 8.0 are both 2 s away
  ASSERT_EQ(t.tempoMarkers.size(), 2u);
  EXPECT_DOUBLE_EQ(t.tempoMarkers[0].seconds, 8.0);
  Track none;
  RemoveNearestPinEdit(1.0)(none);
  EXPECT_TRUE(none.tempoMarkers.empty());
}

}  // namespace
