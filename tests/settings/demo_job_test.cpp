// The demo-track job as the UI sees it: files already there are announced without a worker; a
// folder that can't be written is reported once and the job can start again; a stop joins it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/main_window.h"
#include "app/publish_controls.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "library/track_view.h"
#include "platform/folders.h"
#include "settings/demo_tracks.h"
#include "support/shown_status.h"
#include "support/temp_home.h"
#include "ui/modal.h"

namespace {

class DemoJob : public ::testing::Test {
 protected:
  void SetUp() override {
    TestMode = true;
    SelfTest.outputPath = home_.wpath();
    DemoTrackState.store(kDemoIdle);
    Status = StatusLine{};
    MusicFolders.clear();
  }
  void TearDown() override {
    StopDemoTracks();
    DemoTrackState.store(kDemoIdle);
    DeferredActions.clear();
    SelfTest.outputPath.clear();
    TestMode = false;
  }
  // The state once the worker has left "making" (bounded wait).
  static int32_t SettledState() {
    for (int i = 0; i < 600 && DemoTrackState.load() == kDemoMaking; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return DemoTrackState.load();
  }
  TempHome home_;
};

TEST_F(DemoJob, FilesAlreadyThereAreAnnouncedWithoutMakingAnything) {
  const std::wstring folder = DemoTracksFolder();
  EXPECT_EQ(folder, JoinPath(home_.wpath(), L"Demo Tracks")) << "test mode writes under the output path";
  ASSERT_TRUE(CreateFolderTree(folder));
  WriteRaw(home_.path() + "/Demo Tracks/Veldmix - Neon Drive (Demo).mp3", "x");
  // Any kind of entry counts as present.
  std::filesystem::create_directory(home_.path() + "/Demo Tracks/Veldmix - Midnight Run (Demo).mp3");

  StartDemoTracks();
  EXPECT_EQ(DemoTrackState.load(), kDemoDone) << "at once, with no worker";
  DemoTickAt(0);
  EXPECT_EQ(DemoTrackState.load(), kDemoAnnounced);
  RunDeferredActions();
  EXPECT_EQ(Status.text, L"Two demo tracks added \u2014 load one onto each deck and press SYNC");
  EXPECT_EQ(std::count(MusicFolders.begin(), MusicFolders.end(), folder), 1);
  EXPECT_EQ(ReadRaw(home_.path() + "/Demo Tracks/Veldmix - Neon Drive (Demo).mp3"), "x") << "nothing rewritten";
}

TEST_F(DemoJob, AnUnwritableFolderIsReportedOnceAndTheJobCanStartAgain) {
  WriteRaw(home_.path() + "/plain", "");
  SelfTest.outputPath = JoinPath(home_.wpath(), L"plain");  // the folder would sit under a file
  StartDemoTracks();
  ASSERT_EQ(SettledState(), kDemoFailed);
  EXPECT_EQ(DemoTrackError, L"Couldn't write the demo tracks to " + DemoTracksFolder());
  DemoTickAt(0);
  EXPECT_EQ(DemoTrackState.load(), kDemoIdle);
  EXPECT_EQ(Status.text, L"Couldn't make the demo tracks: " + DemoTrackError);
  EXPECT_EQ(ShownStatusIn(kUiPortuguese),
            L"Não foi possível criar as faixas demo: Não foi possível gravar as faixas demo em " + DemoTracksFolder())
      << "the reason in the language asked, the folder as it is";
  EXPECT_TRUE(MusicFolders.empty());

  // Offered again: a new start makes again, and a close stops and joins it.
  StartDemoTracks();
  EXPECT_EQ(DemoTrackState.load(), kDemoMaking);
  StartDemoTracks();  // a second start while making does nothing
  StopDemoTracks();
  EXPECT_EQ(DemoTrackState.load(), kDemoIdle) << "a stopped job neither reports nor stays making";
}

}  // namespace
