// Track loading through the real LoadTrack, its worker and its completion, on files made by ffmpeg.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>

#include "base/settings.h"
#include "base/status_message.h"
#include "base/track_info.h"
#include "engine/deck_commands.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "karaoke/karaoke_rotation.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"

namespace {

constexpr int kRate = 44100;

class DeckLoad : public ::testing::Test {
 protected:
  void SetUp() override { ResetDecksForTest(); }
  void TearDown() override { ResetDecksForTest(); }

  static ClickTrackFolder& Folder() {
    static ClickTrackFolder folder;
    return folder;
  }
  static std::string Click(double bpm, double seconds = 20.0, double lead = 0.0) {
    ClickTrack spec;
    spec.bpm = bpm;
    spec.seconds = seconds;
    spec.leadSilence = lead;
    return Folder().Make(spec);
  }
  static TrackPtr DeckTrack(int deck) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    return Engine.decks[deck].track;
  }
};

TEST_F(DeckLoad, AnalysesTheFileAndCuesAtTheFirstSound) {
  const std::string path = Click(128.0, 20.0, 1.0);
  ASSERT_FALSE(path.empty());
  ASSERT_TRUE(LoadAndWait(0, path));
  const TrackPtr track = DeckTrack(0);
  ASSERT_TRUE(track);
  const DeckView& view = LiveDeckViews[0];
  EXPECT_FALSE(view.loading);
  EXPECT_TRUE(view.error.empty());
  EXPECT_EQ(view.path, Utf8ToWide(path));
  EXPECT_EQ(view.title, FileNameOf(Utf8ToWide(path)));
  EXPECT_FLOAT_EQ(view.loadProgress->load(), 1.0f);
  EXPECT_NEAR(track->bpm, 128.0, 0.05);
  // Auto cue: 10 ms before the first click at 1.0 s.
  EXPECT_NEAR(Engine.decks[0].cuePoint / kRate, 0.99, 0.005);
  EXPECT_DOUBLE_EQ(Engine.decks[0].position, Engine.decks[0].cuePoint);
  // Auto gain follows the measured loudness.
  const double g = std::clamp(-12.0 - track->loudness, -9.0, 9.0);
  EXPECT_NEAR(view.gain, g / 24.0 + 0.5, 1e-6);
  // The fresh analysis becomes the library record.
  const TrackInfo* record = FindTrackInfo(Utf8ToWide(path));
  ASSERT_NE(record, nullptr);
  EXPECT_TRUE(record->analyzed);
  EXPECT_DOUBLE_EQ(record->bpm, track->bpm);
  EXPECT_FLOAT_EQ(record->loudness, track->loudness);

  Settings.AutoCue = false;
  ASSERT_TRUE(LoadAndWait(0, Click(120.0, 20.0, 1.0)));
  EXPECT_DOUBLE_EQ(Engine.decks[0].cuePoint, 0.0);
}

TEST_F(DeckLoad, OnlyTheNewestOfTwoQuickLoadsLands) {
  const std::string first = Click(120.0), second = Click(126.0);
  OpenUiPosts(nullptr);
  const uint32_t serialBefore = LiveDeckViews[1].loadSerial;
  ASSERT_TRUE(LoadTrack(1, Utf8ToWide(first)));
  ASSERT_TRUE(LoadTrack(1, Utf8ToWide(second)));
  int completions = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (completions < 2 && std::chrono::steady_clock::now() < deadline) {
    DrainUiPosts([&](const UiPost& post) {
      if (post.message != kDeckLoadPost) return;
      ++completions;
      FinishDeckLoad(post.wparam, static_cast<DeckLoadResult*>(post.lparam));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(completions, 2);
  EXPECT_FALSE(LiveDeckViews[1].loading);
  EXPECT_EQ(LiveDeckViews[1].loadSerial, serialBefore + 2);
  EXPECT_EQ(DeckTrack(1)->path, Utf8ToWide(second));
  EXPECT_NEAR(DeckTrack(1)->bpm, 126.0, 0.05);
  EXPECT_EQ(FindTrackInfo(Utf8ToWide(first)), nullptr) << "the stale result must not touch the library";
}

TEST_F(DeckLoad, TheLibraryRecordWinsOverFreshAnalysis) {
  const std::string path = Click(128.0);
  TrackInfo& stored = TrackInfoFor(Utf8ToWide(path));
  stored.analyzed = true;
  stored.bpm = 100.0;
  stored.firstBeat = 0.25;
  stored.tempoMarkers = {{16.0, 9.9}};
  stored.key = 5;
  stored.loudness = -7.0f;
  stored.cue = 2.0;
  stored.hotCueStart[0] = 1.0;
  stored.hotCueEnd[0] = 3.0;  // a saved loop
  stored.hotCueStart[1] = 4.0;
  stored.hotCueEnd[1] = 2.0;  // an end before the start is no loop
  stored.hotCueName[1] = L"VERSE";
  stored.hotCueColor[1] = 7;
  stored.memoryCues = {0.5, 6.0};

  ASSERT_TRUE(LoadAndWait(2, path));
  const TrackPtr track = DeckTrack(2);
  EXPECT_DOUBLE_EQ(track->bpm, 100.0);
  EXPECT_DOUBLE_EQ(track->firstBeat, 0.25);
  ASSERT_EQ(track->tempoMarkers.size(), 1u);
  EXPECT_EQ(track->key, 5);
  EXPECT_FLOAT_EQ(track->loudness, -7.0f);
  const DeckState& deck = Engine.decks[2];
  EXPECT_DOUBLE_EQ(deck.cuePoint, 2.0 * kRate);
  EXPECT_DOUBLE_EQ(deck.hotCueStart[0], 1.0 * kRate);
  EXPECT_DOUBLE_EQ(deck.hotCueEnd[0], 3.0 * kRate);
  EXPECT_DOUBLE_EQ(deck.hotCueStart[1], 4.0 * kRate);
  EXPECT_DOUBLE_EQ(deck.hotCueEnd[1], -1.0);
  EXPECT_DOUBLE_EQ(deck.hotCueStart[2], -1.0);
  const DeckView& view = LiveDeckViews[2];
  EXPECT_EQ(view.hotCueName[1], L"VERSE");
  EXPECT_EQ(view.hotCueColour[1], 7);
  EXPECT_EQ(view.hotCueColour[0], -1);
  EXPECT_EQ(view.memoryCues, (std::vector<double>{0.5, 6.0}));
  EXPECT_DOUBLE_EQ(view.libraryCue, 2.0 * kRate);
  EXPECT_NEAR(view.gain, (-12.0 + 7.0) / 24.0 + 0.5, 1e-6);
}

TEST_F(DeckLoad, AnImportedGridIsKeptAndTakesTheAnalysedKeyAndLoudness) {
  const std::string path = Click(120.0);
  TrackInfo& stored = TrackInfoFor(Utf8ToWide(path));
  stored.gridImported = true;
  stored.bpm = 119.5;
  stored.firstBeat = 0.1;
  stored.key = -1;
  ASSERT_TRUE(LoadAndWait(0, path));
  const TrackPtr track = DeckTrack(0);
  EXPECT_DOUBLE_EQ(track->bpm, 119.5);
  EXPECT_DOUBLE_EQ(track->firstBeat, 0.1);
  const TrackInfo* record = FindTrackInfo(Utf8ToWide(path));
  EXPECT_DOUBLE_EQ(record->bpm, 119.5);
  EXPECT_EQ(record->key, track->key);
  EXPECT_FLOAT_EQ(record->loudness, track->loudness);
  EXPECT_TRUE(record->analyzed);
  EXPECT_TRUE(record->gridImported);
}

TEST_F(DeckLoad, RefusesWhilePlayingOrInTheSandbox) {
  const std::string a = Click(120.0), b = Click(126.0);
  ASSERT_TRUE(LoadAndWait(1, a));
  Engine.decks[1].playing = true;
  EXPECT_FALSE(LoadTrack(1, Utf8ToWide(b)));
  EXPECT_EQ(Status.text, L"Deck B is playing \u2014 pause it before loading");
  EXPECT_FALSE(LiveDeckViews[1].loading);
  EXPECT_TRUE(Engine.decks[1].playing);
  EXPECT_EQ(DeckTrack(1)->path, Utf8ToWide(a));

  Engine.sandboxOn.store(true);
  const uint32_t serialBefore = LiveDeckViews[0].loadSerial;
  EXPECT_FALSE(LoadTrack(0, Utf8ToWide(b)));
  EXPECT_EQ(Status.text, L"Leave the sandbox to load tracks (SANDBOX in the top bar)");
  EXPECT_EQ(LiveDeckViews[0].loadSerial, serialBefore);
}

TEST_F(DeckLoad, AFailedLoadKeepsTheOldTrackAndShowsTheError) {
  const std::string good = Click(120.0);
  ASSERT_TRUE(LoadAndWait(0, good));
  const std::string bad = Folder().path() + "/not-audio.mp3";
  WriteRaw(bad, "this is no audio file");
  Status = StatusLine{};
  ASSERT_TRUE(LoadAndWait(0, bad));
  EXPECT_FALSE(LiveDeckViews[0].loading);
  EXPECT_EQ(DeckTrack(0)->path, Utf8ToWide(good));
  // The deck keeps its track and so draws no error: the status line says what went wrong.
  const std::wstring shown = L"Can't open this file \u2014 not-audio.mp3 (it isn't an audio file)";
  EXPECT_EQ(EnglishText(LiveDeckViews[0].error), shown);
  EXPECT_EQ(Status.text, L"Deck A: " + shown);

  const std::string empty = Folder().path() + "/empty.mp3";
  WriteRaw(empty, "");
  ASSERT_FALSE(LoadAndWait(1, empty));
  EXPECT_EQ(EnglishText(LiveDeckViews[1].error), L"Can't open this file \u2014 empty.mp3 (the file is empty)");
  EXPECT_EQ(Status.text, L"Deck B: " + EnglishText(LiveDeckViews[1].error));
}

TEST_F(DeckLoad, APendingStartPastTheEndLandsOnTheLastFrameOnce) {
  const std::string path = Click(120.0, 10.0);
  SetPendingSeek(3, 1000.0);
  ASSERT_TRUE(LoadAndWait(3, path));
  EXPECT_DOUBLE_EQ(Engine.decks[3].position, static_cast<double>(DeckTrack(3)->frames - 1));
  EXPECT_DOUBLE_EQ(PendingSeek(3), -1.0);
  ASSERT_TRUE(LoadAndWait(3, path));
  EXPECT_DOUBLE_EQ(Engine.decks[3].position, Engine.decks[3].cuePoint);
}

TEST_F(DeckLoad, AutoGainClampsToNineDecibels) {
  const std::string quiet = Click(120.0), loud = Click(126.0);
  for (auto [path, loudness, gain] : {std::tuple{quiet, -30.0f, 0.875f}, std::tuple{loud, -6.0f, 0.25f}}) {
    TrackInfo& stored = TrackInfoFor(Utf8ToWide(path));
    stored.analyzed = true;
    stored.bpm = 120.0;
    stored.loudness = loudness;
    ASSERT_TRUE(LoadAndWait(0, path));
    EXPECT_FLOAT_EQ(LiveDeckViews[0].gain, gain);
  }
  Settings.AutoGain = false;
  LiveDeckViews[0].gain = 0.5f;
  ASSERT_TRUE(LoadAndWait(0, quiet));
  EXPECT_FLOAT_EQ(LiveDeckViews[0].gain, 0.5f);
}

TEST_F(DeckLoad, TheKaraokeStageDeckTakesTheSongsKeyShift) {
  Rotation.singers = {KaraokeSinger{L"Ana", {KaraokeSong{.path = L"x", .keyShift = 3}}}};
  Stage = KaraokeStage{.stageDeck = 1, .currentSinger = 0, .currentSong = 0, .settingUp = true};
  ASSERT_TRUE(LoadAndWait(1, Click(120.0)));
  EXPECT_EQ(LiveDeckViews[1].keyShift, 3);
  EXPECT_FALSE(Stage.settingUp);
  EXPECT_EQ(Stage.stageDeck, 1);

  // A failed load on the stage deck gives up the stage.
  Stage = KaraokeStage{.stageDeck = 1, .currentSinger = 0, .currentSong = 0, .settingUp = true};
  ASSERT_TRUE(LoadAndWait(1, Folder().path() + "/missing.wav"));
  EXPECT_FALSE(Stage.settingUp);
  EXPECT_EQ(Stage.stageDeck, -1);
  Rotation = KaraokeRotation{};
  Stage = KaraokeStage{};
}

TEST(DeckView, AFreshViewHasItsSharedProgressAndCancelFlags) {
  DeckView view;
  ASSERT_TRUE(view.loadProgress);
  ASSERT_TRUE(view.stemProgress);
  ASSERT_TRUE(view.stemCancel);
  EXPECT_FLOAT_EQ(view.loadProgress->load(), 0.0f);
  EXPECT_FALSE(view.stemCancel->load());
  EXPECT_EQ(view.loopSizeIndex, 5);
  EXPECT_DOUBLE_EQ(view.pendingSeek, -1.0);
}

TEST(DeckView, TempoAndKeyFollowTheFaderAndKeyLock) {
  ResetDecksForTest();
  auto track = std::make_shared<Track>();
  track->sampleRate = kRate;
  track->frames = 10 * kRate;
  track->bpm = 120.0;
  track->key = 0;  // C major
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].track = track;
  }
  SnapshotDecks();
  DeckView& view = LiveDeckViews[0];
  view.tempoFader = 0.0f;  // fastest: +8 %
  EXPECT_NEAR(DeckBpm(0), 129.6, 1e-4);  // the range is a float
  EXPECT_EQ(DeckKey(0), 1);  // 12 log2(1.08) = 1.33 semitones up
  view.keyLock = true;
  EXPECT_EQ(DeckKey(0), 0);
  view.keyShift = -2;
  EXPECT_EQ(DeckKey(0), 10);
  EXPECT_DOUBLE_EQ(DeckBpm(1), 0.0);
  EXPECT_EQ(DeckKey(1), -1);
  EXPECT_EQ(DeckLetter(3), L"D");
  EXPECT_DOUBLE_EQ(BeatSamples(*track), 22050.0);
  ResetDecksForTest();
  SnapshotDecks();
}

}  // namespace
