#include "selftest/selftest_state.h"

#include <fmt/xchar.h>

#include <cstdio>

#include "app/main_window.h"
#include "base/log.h"
#include "base/settings.h"
#include "control/action_table.h"
#include "control/dispatcher.h"
#include "engine/render.h"
#include "platform/text.h"

SelfTestProgress TestProgress;
int SelfTestFailures = 0;
std::wstring SelfTestResults;

namespace {

constexpr std::wstring_view kPass = L"PASS  ";
constexpr std::wstring_view kFail = L"FAIL  ";

// Standard error is where a headless caller (run.sh, a CI job) reads what went wrong.
void ToStandardError(std::wstring_view text) {
  std::fputs(WideToUtf8(text).c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace

void SelfTestCheck(bool passed, std::wstring_view name, std::wstring_view reason) {
  SelfTestResults.append(passed ? kPass : kFail).append(name).append(L"\n");
  if (passed) return;
  ++SelfTestFailures;
  if (reason.empty()) return;
  WriteLog(L"Self-test: {} failed: {}", name, reason);
  ToStandardError(fmt::format(L"veldmix self-test: {}: {}\n", name, reason));
}

void SelfTestSkip(std::wstring_view name) { SelfTestResults.append(L"SKIP  ").append(name).append(L"\n"); }

void FinishSelfTest() {
  if (TestProgress.finished) return;
  TestProgress.finished = true;
  // One log line per check: the log is a line per event.
  WriteLog(L"Self-test finished with {} failed check(s)", SelfTestFailures);
  for (size_t from = 0; from < SelfTestResults.size();) {
    const size_t end = SelfTestResults.find(L'\n', from);
    WriteLog(L"Self-test: {}", std::wstring_view(SelfTestResults).substr(from, end - from));
    from = end == std::wstring::npos ? end : end + 1;
  }
  ToStandardError(SelfTestResults);
  DestroyMainWindow();
}

void ResetSelfTest() {
  TestProgress = SelfTestProgress{};
  SelfTestFailures = 0;
  SelfTestResults.clear();
}

uint64_t MixedFramesMark() { return MixedFrames(); }

double MixedSecondsSince(uint64_t mark) {
  const int32_t rate = RunningOutputRate(Engine);
  const uint64_t now = MixedFrames();
  return rate > 0 && now > mark ? static_cast<double>(now - mark) / rate : 0.0;
}

void ClickToState(int deck, int32_t offset, bool now, bool wanted) {
  if (now != wanted) ClickDeckAction(deck, offset);
}

void MoveCrossfader(float position) {
  ApplyMixerControl(kCrossfaderControl - kFirstMixerControl, ValueEvent(position));
}

void MovePitchFader(int deck, float fader) {
  ApplyDeckAction(deck, kPitchOffset, ValueEvent(Settings.FlipPitch ? 1.0f - fader : fader));
}

void MoveFilter(int deck, float filter) {
  ApplyDeckAction(deck, kFilterOffset, ValueEvent((filter + 1.0f) / 2.0f));
}
