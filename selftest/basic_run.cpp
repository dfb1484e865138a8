#include "selftest/basic_run.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "app/main_window.h"
#include "base/log.h"
#include "base/settings.h"
#include "control/action_table.h"
#include "engine/deck_view.h"
#include "engine/effects.h"
#include "engine/encode.h"
#include "engine/engine.h"
#include "engine/jog_loops.h"
#include "engine/mixer_controls.h"
#include "engine/pads.h"
#include "engine/recorder.h"
#include "engine/sampler.h"
#include "engine/sandbox.h"
#include "engine/transport.h"
#include "engine/wav_file.h"
#include "platform/error_sound.h"
#include "platform/files.h"
#include "platform/text.h"
#include "screens/mixer.h"
#include "selftest/selftest_state.h"

namespace {

constexpr int kTestDeck = 0;                // deck A
constexpr int kHalfBeatRoll = 3;            // kRollSizes[3] = 0.5 beats
constexpr int kSlicerPad = 2;
constexpr int kFirstPad = 0, kCapturePad = 7;
constexpr int32_t kKeyShiftSemitones = 2;
constexpr int32_t kMicEchoAndReverb = 3;    // [Mic] Fx bits: ECHO and REVERB
constexpr float kColourFxCut = -0.6f;
constexpr float kFlangerParam = 1.0f;
constexpr wchar_t kMp3Extension[] = L".mp3";
// After the output was seen stopped, a recording this much shorter than the run is short.
constexpr double kShortfallSeconds = 0.5;
// With the output running throughout, a loaded machine's late periods still shorten the mix a
// little (the device waits for them); a shortfall beyond this share of the run, or 1 s, is a fault.
constexpr double kBehindShare = 0.1;
constexpr double kBehindMinSeconds = 1.0;

// Seconds after the start at which the running step came due, and at which the audio output was
// first seen stopped during the run (-1: it never was).
double StepElapsed = 0.0;
double OutputStoppedAt = -1.0;

DeckView& DeckA() { return LiveDeckViews[kTestDeck]; }

// The effect a slot holds is picked, not pressed: no control row picks it.
void SetSlot(int slot, int effect) { DeckA().fxSlotEffect[static_cast<size_t>(slot)] = static_cast<uint32_t>(effect); }
void TurnSlot(int slot, bool on) {
  ClickToState(kTestDeck, kEffectOnOffset + slot, DeckA().fxSlotOn[static_cast<size_t>(slot)], on);
}
void SetSlotOn(int slot, int effect) {
  SetSlot(slot, effect);
  TurnSlot(slot, true);
}
void Click(int32_t offset) { ClickDeckAction(kTestDeck, offset); }
void Hold(int32_t offset, bool press) { ApplyDeckAction(kTestDeck, offset, press ? PressEvent() : ReleaseEvent()); }

// The pad mode the slicer step found, given back when the slicer ends.
uint32_t PadModeBeforeSlicer = kPadCues;

void CheckMixAndCopy() {
  if (!CheckMixRecorded(StepElapsed)) return;
  const std::wstring mp3 = Mp3CopyPath(SelfTest.outputPath);
  std::wstring error;
  const bool copied = EncodeWavFile(SelfTest.outputPath, mp3, AudioSubtype::Mp3, L"MP3", &error);
  SelfTestCheck(copied, L"MP3 copy", fmt::format(L"{} could not be written: {}", mp3, error));
  std::wstring soundError;
  if (!copied && !PlayErrorSound(std::wstring(), &soundError)) WriteLog(L"Self-test: {}", soundError);
}

// clang-format off
constexpr BasicStep kSteps[] = {
    {.seconds = 1.0, .what = L"key lock on, tempo +6 %", .run = [] {
       ClickToState(kTestDeck, kKeyLockOffset, DeckA().keyLock, true);
       MovePitchFader(kTestDeck, TempoFaderFor(kKeyLockTempoOffset, DeckA().pitchRange));
     }},
    {.seconds = 2.0, .what = L"slot 1 ECHO on, sampler pad 1", .run = [] {
       SetSlotOn(0, kFxEcho);
       Click(kSamplerOffset + kFirstPad);
     }},
    {.seconds = 3.0, .what = L"reverse on", .run = [] { Click(kReverseOffset); }},
    {.seconds = 3.5, .what = L"reverse off", .run = [] { Click(kReverseOffset); }},
    {.seconds = 4.0, .what = L"half-beat loop roll", .run = [] { Hold(kLoopRollOffset + kHalfBeatRoll, true); }},
    {.seconds = 4.8, .what = L"roll ends, slicer pad 3", .run = [] {
       Hold(kLoopRollOffset + kHalfBeatRoll, false);
       PadModeBeforeSlicer = DeckA().padMode;
       Click(kPadModeOffset + kPadSlicer);
       Hold(kPadOffset + kSlicerPad, true);
     }},
    {.seconds = 4.9, .what = L"slicer ends, censor held", .run = [] {
       Hold(kPadOffset + kSlicerPad, false);
       Click(kPadModeOffset + static_cast<int32_t>(PadModeBeforeSlicer));
       Hold(kCensorOffset, true);
     }},
    {.seconds = 4.98, .what = L"censor released", .run = [] { Hold(kCensorOffset, false); }},
    {.seconds = 5.0, .what = L"key +2, slot 2 REVERB on, no vocals", .run = [] {
       DeckA().keyShift = kKeyShiftSemitones;
       SetSlotOn(1, kFxReverb);
       ClickToState(kTestDeck, kInstrumentalOffset, DeckA().stemPreset == kStemPresetInstrumental, true);
     }},
    {.seconds = 5.5, .what = L"slots PHASER and GATE, stems back", .run = [] {
       SetSlot(0, kFxPhaser);
       SetSlot(1, kFxGate);
       ClickToState(kTestDeck, kInstrumentalOffset, DeckA().stemPreset == kStemPresetInstrumental, false);
     }},
    {.seconds = 6.0, .what = L"slot 1 CRUSH, colour effect down", .run = [] {
       SetSlot(0, kFxCrush);
       MoveFilter(kTestDeck, kColourFxCut);
     }},
    {.seconds = 6.2, .what = L"slots AUTO-WAH and NOISE, colour effect off", .run = [] {
       SetSlot(0, kFxAutoWah);
       SetSlot(1, kFxNoise);
       MoveFilter(kTestDeck, 0.0f);
     }},
    {.seconds = 6.3, .what = L"master ECHO on, slot 3 FLANGER on at full depth", .run = [] {
       MasterFx.effect = kFxEcho;
       MasterFx.on = true;
       SetSlotOn(2, kFxFlanger);
       DeckA().fxParam[kFxFlanger] = kFlangerParam;
     }},
    {.seconds = 6.4, .what = L"microphone effects, loop to pad 8 and fired", .run = [] {
       Settings.MicFx = kMicEchoAndReverb;
       CaptureLoopToPad(kCapturePad, kTestDeck);
       Click(kSamplerOffset + kCapturePad);
     }},
    {.seconds = 6.5, .what = L"effects off, brake", .run = [] {
       for (int slot = 0; slot < kDeckFxSlots; ++slot) TurnSlot(slot, false);
       MasterFx.on = false;
       MoveFilter(kTestDeck, 0.0f);
       // A slot holding BRAKE brakes when pressed; only a loaded, playing deck brakes.
       SetSlot(0, kBrakeAction);
       Click(kEffectOnOffset);
     }},
    {.seconds = 8.5, .what = L"recording stopped and copied", .run = [] {
       CheckMixAndCopy();
       FinishSelfTest();
     }},
};
// clang-format on

constexpr bool Ascending() {
  for (size_t i = 1; i < std::size(kSteps); ++i)
    if (!(kSteps[i - 1].seconds < kSteps[i].seconds)) return false;
  return true;
}
static_assert(std::size(kSteps) == 16 && Ascending(), "kSteps: sixteen steps in ascending time");

bool DeckAHasTrack() {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  return DeckStateOf(kTestDeck).track != nullptr;
}

void FailToLoad(const std::wstring& reason) {
  SelfTestCheck(false, L"track loaded on deck A", L"the track never loaded: " + reason);
  FinishSelfTest();
}

// True once the script has started (now or before). Until the track and the output are there it
// waits, but not past kTrackWaitSeconds, and not at all once the load has failed.
bool StartWhenReady(double now) {
  if (TestProgress.start != 0.0) return true;
  const double waited = now - TestProgress.firstTick;
  if (!DeckAHasTrack()) {
    const std::wstring failed = DeckLoadError(kTestDeck, SelfTest.trackPath);
    if (!failed.empty())
      FailToLoad(failed);
    else if (waited >= kTrackWaitSeconds)
      FailToLoad(fmt::format(L"{} was still loading after {:.0f} s", SelfTest.trackPath, kTrackWaitSeconds));
    return false;
  }
  if (RunningOutputRate(Engine) <= 0) {
    if (waited < kTrackWaitSeconds) return false;
    SelfTestCheck(false, L"mix recorder started",
                  fmt::format(L"no audio output started within {:.0f} s, so there is no mix to record",
                              kTrackWaitSeconds));
    FinishSelfTest();
    return false;
  }
  SelfTestCheck(true, L"track loaded on deck A");
  // StartRecording logs the system's reason and leaves it in errno.
  errno = 0;
  if (!StartRecording(SelfTest.outputPath)) {
    const int err = errno;
    SelfTestCheck(false, L"mix recorder started",
                  fmt::format(L"the recorder refused {}: {}", SelfTest.outputPath,
                              err != 0 ? Utf8ToWide(std::strerror(err)) : std::wstring(L"see the log")));
    FinishSelfTest();
    return false;
  }
  SelfTestCheck(true, L"mix recorder started");
  TestProgress.start = now;
  OutputStoppedAt = -1.0;
  WriteLog(L"Self-test: recording the mix to {}", SelfTest.outputPath);
  Click(kPlayOffset);
  MoveCrossfader(0.0f);  // hard left: deck A alone
  return true;
}

}  // namespace

std::span<const BasicStep> BasicSteps() { return kSteps; }

// The WAV is checked on disk: what a listener gets is the file, not the recorder's counters. It
// must hold the whole run; a shorter one names when the output stopped.
std::wstring DeckLoadError(int deck, const std::wstring& path) {
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    if (DeckStateOf(deck).track != nullptr) return {};
  }
  const DeckView& view = LiveDeckViews[deck];
  if (view.loading) return {};
  return view.error.empty() ? path : fmt::format(L"{} ({})", view.error, path);
}

bool CheckMixRecorded(double runSeconds) {
  StopRecording();
  const std::wstring& wav = SelfTest.outputPath;
  const std::wstring problem = EnglishText(RecordingProblem());
  if (!problem.empty()) {
    SelfTestCheck(false, L"mix recorded", fmt::format(L"the recording of {} ended badly: {}", wav, problem));
    return false;
  }
  const long long bytes = FileSize(wav);
  if (bytes <= static_cast<long long>(kWavHeaderBytes)) {
    SelfTestCheck(false, L"mix recorded", fmt::format(L"the WAV {} holds no sound: nothing was recorded", wav));
    return false;
  }
  const double recorded =
      static_cast<double>(bytes - kWavHeaderBytes) / kWavBytesPerFrame / std::max(Engine.recordRate.load(), 1);
  const double shortfall = runSeconds - recorded;
  const std::wstring held = fmt::format(L"the WAV {} holds {:.1f} s of the {:.1f} s run", wav, recorded, runSeconds);
  if (OutputStoppedAt >= 0.0 && shortfall > kShortfallSeconds) {
    SelfTestCheck(false, L"mix recorded",
                  fmt::format(L"{}: the audio output stopped {:.1f} s into the run", held, OutputStoppedAt));
  } else if (shortfall > std::max(kBehindMinSeconds, kBehindShare * runSeconds)) {
    SelfTestCheck(false, L"mix recorded",
                  fmt::format(L"{}: the output fell behind the mix ({} late periods)", held, Engine.dropouts.load()));
  } else {
    SelfTestCheck(true, L"mix recorded");
  }
  return true;
}

std::wstring Mp3CopyPath(const std::wstring& wavPath) {
  std::filesystem::path path(PathToBytes(wavPath));
  path.replace_extension(PathToBytes(kMp3Extension));
  return PathFromBytes(path.string());
}

size_t RunDueBasicSteps(double elapsed) {
  size_t ran = 0;
  while (TestProgress.nextStep < std::size(kSteps) && kSteps[TestProgress.nextStep].seconds <= elapsed &&
         !TestProgress.finished) {
    const BasicStep& step = kSteps[TestProgress.nextStep++];
    WriteLog(L"Self-test: step {} at {:.2f} s: {}", TestProgress.nextStep, elapsed, step.what);
    StepElapsed = elapsed;
    step.run();
    ++ran;
  }
  return ran;
}

void NoteOutputStop(double elapsed) {
  if (OutputStoppedAt >= 0.0 || RunningOutputRate(Engine) > 0) return;
  OutputStoppedAt = elapsed;
  WriteLog(L"Self-test: the audio output stopped {:.2f} s into the run", elapsed);
}

void BasicTestTick(double nowSeconds) {
  if (!StartWhenReady(nowSeconds)) return;
  const double elapsed = nowSeconds - TestProgress.start;
  NoteOutputStop(elapsed);
  RunDueBasicSteps(elapsed);
}
