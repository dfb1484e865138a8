#include "selftest/stem_run.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <mutex>

#include "app/main_window.h"
#include "base/log.h"
#include "control/action_table.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/recorder.h"
#include "engine/stem_controls.h"
#include "engine/transport.h"
#include "platform/error_sound.h"
#include "platform/text.h"
#include "selftest/basic_run.h"
#include "selftest/selftest_state.h"

namespace {

constexpr int kTestDeck = 0;  // deck A

DeckView& DeckA() { return LiveDeckViews[kTestDeck]; }

void SetParts(bool vocals, bool drums, bool bass, bool melody) {
  DeckA().stemOn = {vocals, drums, bass, melody};
  DeckA().stemPreset = kStemPresetNone;
}

bool PartsAre(bool vocals, bool drums, bool bass, bool melody) {
  const auto& on = DeckA().stemOn;
  return on[0] == vocals && on[1] == drums && on[2] == bass && on[3] == melody;
}

// A step that finds the stems gone (a new load) asks for them again rather than acting on nothing.
bool StemsOrSeparate() {
  if (DeckA().stemsReady) return true;
  if (!DeckA().stemsRunning) StartStemSeparation(kTestDeck);
  return false;
}

// clang-format off
constexpr StemStep kSteps[] = {
    {.seconds = 2.0, .what = L"instrumental", .run = [] {
       if (StemsOrSeparate()) {
         if (PartsAre(false, true, true, true)) SetParts(true, true, true, true);
         else SetParts(false, true, true, true);
       }
     }},
    {.seconds = 4.0, .what = L"vocals only", .run = [] {
       if (StemsOrSeparate()) {
         if (PartsAre(true, false, false, false)) SetParts(true, true, true, true);
         else SetParts(true, false, false, false);
       }
     }},
    {.seconds = 6.0, .what = L"no stem part", .run = [] { DeckA().stemOn = {false, false, false, false}; }},
    {.seconds = 8.0, .what = L"everything at +6 % with key lock", .run = [] {
       if (StemsOrSeparate()) SetParts(true, true, true, true);
       ClickToState(kTestDeck, kKeyLockOffset, DeckA().keyLock, true);
       MovePitchFader(kTestDeck, TempoFaderFor(kStemTestTempoOffset, DeckA().pitchRange));
     }},
    {.seconds = kStemTestSeconds, .what = L"recording stopped", .run = [] {
       CheckMixRecorded(kStemTestSeconds);
       FinishSelfTest();
     }},
};
// clang-format on

constexpr bool Ascending() {
  for (size_t i = 1; i < std::size(kSteps); ++i)
    if (!(kSteps[i - 1].seconds < kSteps[i].seconds)) return false;
  return true;
}
static_assert(std::size(kSteps) == 5 && Ascending(), "kSteps: five steps in ascending time");

void EndWith(std::wstring_view check, const std::wstring& reason) {
  SelfTestCheck(false, check, reason);
  std::wstring soundError;
  if (!PlayErrorSound(std::wstring(), &soundError)) WriteLog(L"Self-test: {}", soundError);
  FinishSelfTest();
}

// At the start: 30 s into the track, the recorder on, deck A playing hard left. False (the run
// ended) when the recorder refused.
bool StartRecordedRun(double now) {
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    DeckState& deck = DeckStateOf(kTestDeck);
    if (deck.track) SeekDeck(Engine, kTestDeck, kStemTestStartSeconds * deck.track->sampleRate);
  }
  errno = 0;
  if (!StartRecording(SelfTest.outputPath)) {
    const int err = errno;
    EndWith(L"mix recorder started",
            fmt::format(L"the recorder refused {}: {}", SelfTest.outputPath,
                        err != 0 ? Utf8ToWide(std::strerror(err)) : std::wstring(L"see the log")));
    return false;
  }
  SelfTestCheck(true, L"mix recorder started");
  TestProgress.start = now;
  TestProgress.where = L"recording the stem mix";
  WriteLog(L"Self-test: recording the stem mix to {}", SelfTest.outputPath);
  ClickDeckAction(kTestDeck, kPlayOffset);
  MoveCrossfader(0.0f);
  return true;
}

// True once the recorded part has begun (now or before).
bool StartWhenSeparated(double now) {
  if (TestProgress.start != 0.0) return true;
  const double waited = now - TestProgress.firstTick;
  DeckView& view = DeckA();
  bool hasTrack = false;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    hasTrack = DeckStateOf(kTestDeck).track != nullptr;
  }
  if (!hasTrack) {
    TestProgress.where = L"waiting for deck A's track";
    const std::wstring failed = DeckLoadError(kTestDeck, SelfTest.trackPath);
    if (!failed.empty()) EndWith(fmt::format(L"deck A loads the test track ({})", failed), failed);
    return false;
  }
  TestProgress.where = L"separating the stems";
  if (view.stemsRunning) return false;
  if (!view.stemsReady) {
    if (view.stemMessage.empty()) {
      StartStemSeparation(kTestDeck);
      // No job and still no stems: the models were missing, the reason is in the message now.
      if (view.stemsRunning || view.stemsReady) return false;
    }
    EndWith(L"stems separated",
            view.stemMessage.empty() ? std::wstring(L"separation did not start") : view.stemMessage);
    return false;
  }
  // The recorder needs a running output; a missing sound server must not hold the run for ever.
  if (RunningOutputRate(Engine) <= 0) {
    TestProgress.where = L"waiting for the audio output";
    if (waited < kTrackWaitSeconds) return false;
    EndWith(L"mix recorder started",
            fmt::format(L"no audio output started within {:.0f} s, so there is no mix to record", kTrackWaitSeconds));
    return false;
  }
  SelfTestCheck(true, L"deck A loads the test track");
  SelfTestCheck(true, L"stems separated");
  return StartRecordedRun(now);
}

}  // namespace

std::span<const StemStep> StemSteps() { return kSteps; }

void StemTestTick(double nowSeconds) {
  if (!StartWhenSeparated(nowSeconds)) return;
  const double elapsed = nowSeconds - TestProgress.start;
  NoteOutputStop(elapsed);
  while (TestProgress.nextStep < std::size(kSteps) && kSteps[TestProgress.nextStep].seconds <= elapsed &&
         !TestProgress.finished) {
    const StemStep& step = kSteps[TestProgress.nextStep++];
    WriteLog(L"Self-test: stem step {} at {:.2f} s: {}", TestProgress.nextStep, elapsed, step.what);
    step.run();
  }
}
