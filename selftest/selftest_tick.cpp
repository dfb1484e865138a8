#include "selftest/selftest_tick.h"

#include <fmt/xchar.h>

#include "app/main_window.h"
#include "base/test_mode.h"
#include "platform/clock.h"
#include "selftest/basic_run.h"
#include "selftest/feature_run.h"
#include "selftest/karaoke_run.h"
#include "selftest/selftest_state.h"
#include "selftest/stem_run.h"

namespace {

constexpr double kMsPerSecond = 1000.0;

// A test step that draws a frame of its own (a window capture) ticks again inside it; that
// inner tick must not run a step.
bool InsideTick = false;

}  // namespace

double SelfTestCapSeconds() {
  if (SelfTest.stemTest) return kStemTestCapSeconds;
  if (SelfTest.karaokeTest) return kKaraokeTestCapSeconds;
  if (SelfTest.featureTest) return kFeatureTestCapSeconds;
  return kBasicTestCapSeconds;
}

void SelfTestTickAt(double nowSeconds) {
  if (!TestMode || !SelfTest.active || TestProgress.finished || InsideTick) return;
  InsideTick = true;
  if (TestProgress.firstTick == 0.0) TestProgress.firstTick = nowSeconds;
  const double cap = SelfTestCapSeconds();
  if (nowSeconds - TestProgress.firstTick >= cap) {
    std::wstring reason = fmt::format(L"the run was still going after {:.0f} s and was stopped", cap);
    if (!TestProgress.where.empty()) reason += L" (" + TestProgress.where + L")";
    SelfTestCheck(false, L"finished in time", reason);
    FinishSelfTest();
  } else if (SelfTest.stemTest) {
    StemTestTick(nowSeconds);
  } else if (SelfTest.karaokeTest) {
    KaraokeTestTick(nowSeconds);
  } else if (SelfTest.featureTest) {
    FeatureTestTick(nowSeconds);
  } else {
    BasicTestTick(nowSeconds);
  }
  InsideTick = false;
}

void SelfTestTick() { SelfTestTickAt(static_cast<double>(MonotonicMs()) / kMsPerSecond); }

void InstallSelfTestHooks() {
  SelfTestTickHook = SelfTestTick;
  SelfTestFailuresHook = [] { return SelfTestFailures; };
}
