// The self-test tick: nothing outside a test run, the switch picks the test, the tests this
// build lacks end their run with a failure, and a run that hangs is ended by the overall cap.
#include <gtest/gtest.h>

#include <string>

#include "app/main_window.h"
#include "base/test_mode.h"
#include "engine/deck_view.h"
#include "selftest/basic_run.h"
#include "selftest/selftest_state.h"
#include "selftest/selftest_tick.h"
#include "support/click_tracks.h"

namespace {

constexpr double kT0 = 7000.0;

class SelfTestDispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDecksForTest();
    ResetSelfTest();
    SelfTest = SelfTestRequest{};
    SelfTest.active = true;
    SelfTest.outputPath = L"/tmp/never-written/mix.wav";
    SelfTest.trackPath = L"/music/track.mp3";
    TestMode = true;
  }
  void TearDown() override {
    ResetSelfTest();
    SelfTest = SelfTestRequest{};
    ResetDecksForTest();
    TestMode = false;
  }
};

TEST_F(SelfTestDispatch, NothingHappensOutsideATestRun) {
  TestMode = false;
  SelfTestTickAt(kT0);
  SelfTestTickAt(kT0 + 500.0);
  EXPECT_EQ(TestProgress.firstTick, 0.0);
  EXPECT_TRUE(SelfTestResults.empty());

  TestMode = true;
  SelfTest.active = false;
  SelfTestTickAt(kT0 + 500.0);
  EXPECT_EQ(TestProgress.firstTick, 0.0);
}

TEST_F(SelfTestDispatch, TheBasicTestRunsWithoutASwitchAndTheCapEndsAHang) {
  LiveDeckViews[0].loading = true;  // waits for a track
  SelfTestTickAt(kT0);
  EXPECT_EQ(TestProgress.firstTick, kT0);
  EXPECT_FALSE(TestProgress.finished) << "the basic test waits for its track";

  // Past the load wait the basic test gives up by itself; the cap is for anything else that hangs.
  ResetSelfTest();
  SelfTestTickAt(kT0);
  TestProgress.start = kT0;  // as if the script had started and then stalled
  TestProgress.nextStep = BasicSteps().size();
  SelfTestTickAt(kT0 + kBasicTestCapSeconds - 0.5);
  EXPECT_FALSE(TestProgress.finished);
  testing::internal::CaptureStderr();
  SelfTestTickAt(kT0 + kBasicTestCapSeconds);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(TestProgress.finished);
  EXPECT_EQ(SelfTestResults, L"FAIL  finished in time\n");
  EXPECT_NE(err.find("still going after 120 s"), std::string::npos) << err;

  // The feature run has a longer cap, and its message names where the run stood.
  ResetSelfTest();
  SelfTest.featureTest = true;
  TestProgress.firstTick = kT0;
  TestProgress.where = L"phase 3, step 12";
  testing::internal::CaptureStderr();
  SelfTestTickAt(kT0 + kFeatureTestCapSeconds);
  const std::string capped = testing::internal::GetCapturedStderr();
  EXPECT_NE(capped.find("still going after 240 s and was stopped (phase 3, step 12)"), std::string::npos)
      << capped;
}

}  // namespace
