// The analysis queue on real click tracks made by ffmpeg: worker counts, results applied to the
// records (an imported grid keeps its tempo), an undecodable file, and a stop and restart that
// drops every result of the first run.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/track_info.h"
#include "library/analysis_queue.h"
#include "library/track_view.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"

namespace {

using Paths = std::vector<std::wstring>;

// Applies completions 5 and 6 as the main window does until the run is over; returns how many
// results were applied.
int DrainAnalysis() {
  int applied = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (Analysing && std::chrono::steady_clock::now() < deadline) {
    DrainUiPosts([&](const UiPost& post) {
      if (post.message == kAnalysedPost)
        applied += ApplyAnalysisResult(static_cast<uint32_t>(post.wparam), static_cast<AnalysisResult*>(post.lparam));
      else if (post.message == kAnalysisFinishedPost)
        FinishAnalysis(static_cast<uint32_t>(post.wparam));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return applied;
}

class AnalysisQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    TrackLibrary.clear();
    Analysing = false;
    OpenUiPosts(nullptr);
  }
  void TearDown() override {
    ++AnalysisGeneration;  // leftover workers stop
    Analysing = false;
    TrackLibrary.clear();
  }
  static std::wstring Click(double bpm) {
    static ClickTrackFolder folder;
    ClickTrack spec;
    spec.bpm = bpm;
    spec.seconds = 10.0;
    return Utf8ToWide(folder.Make(spec));
  }
  TempHome home_;
};

TEST(AnalysisWorkers, HalfTheThreadsOnePerPathAtMostFour) {
  EXPECT_EQ(AnalysisWorkerCount(3, 8), 3);
  EXPECT_EQ(AnalysisWorkerCount(100, 8), 4);
  EXPECT_EQ(AnalysisWorkerCount(100, 0), 1);  // an unknown thread count is one thread
  EXPECT_EQ(AnalysisWorkerCount(100, 1), 1);
  EXPECT_EQ(AnalysisWorkerCount(100, 6), 3);
}

TEST_F(AnalysisQueue, ResultsReachTheRecordsAndAnImportedGridKeepsItsTempo) {
  const std::wstring plain = Click(128), imported = Click(100);
  const std::wstring broken = home_.wpath() + L"/broken.mp3";
  WriteRaw(WideToUtf8(broken), "not audio at all");
  TrackInfo& grid = TrackInfoFor(imported);
  grid.bpm = 99.5;
  grid.firstBeat = 0.123;
  grid.gridImported = true;

  AnalysePaths({plain, imported, broken});
  EXPECT_EQ(AnalysisTotal, 3);
  EXPECT_EQ(DrainAnalysis(), 2);
  EXPECT_FALSE(Analysing);
  EXPECT_EQ(AnalysisDone, 3);

  const TrackInfo* a = FindTrackInfo(plain);
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(a->analyzed);
  EXPECT_NEAR(a->bpm, 128.0, 0.05);
  EXPECT_NE(a->loudness, kDefaultLoudnessDb);
  const TrackInfo* b = FindTrackInfo(imported);
  EXPECT_TRUE(b->analyzed);
  EXPECT_EQ(b->bpm, 99.5);
  EXPECT_EQ(b->firstBeat, 0.123);
  EXPECT_GE(b->key, 0) << "the tone under the clicks gives a key";
  EXPECT_NE(b->loudness, kDefaultLoudnessDb);
  EXPECT_EQ(FindTrackInfo(broken), nullptr) << "an undecodable file leaves no record";
  EXPECT_EQ(UnanalysedPaths({plain, imported, broken}), Paths{broken});
}

TEST_F(AnalysisQueue, StopAndRestartDropsTheFirstRun) {
  const std::wstring first = Click(110), second = Click(120);
  AnalysePaths({first});
  ToggleAnalysis();  // stop at once
  EXPECT_FALSE(Analysing);
  AnalysePaths({second});
  DrainAnalysis();
  // The first run's worker may still be posting: give it time, then drain once more.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  DrainUiPosts([](const UiPost& post) {
    if (post.message == kAnalysedPost)
      ApplyAnalysisResult(static_cast<uint32_t>(post.wparam), static_cast<AnalysisResult*>(post.lparam));
  });
  EXPECT_EQ(FindTrackInfo(first), nullptr);
  ASSERT_NE(FindTrackInfo(second), nullptr);
  EXPECT_NEAR(FindTrackInfo(second)->bpm, 120.0, 0.05);
  EXPECT_EQ(AnalysisDone, 1);
}

TEST_F(AnalysisQueue, NothingToDoStartsNothing) {
  const uint32_t before = AnalysisGeneration.load();
  ViewItems.clear();
  ViewOrder.clear();
  ToggleAnalysis();
  EXPECT_FALSE(Analysing);
  EXPECT_EQ(AnalysisGeneration.load(), before);
}

}  // namespace
