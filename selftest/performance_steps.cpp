// The playing half of the performance suite: deck effects and colour FX judged by deck A's peak
// level, the sampler's banks and a bar recorded into a pad, the sandbox, and the macro language.
#include <fmt/xchar.h>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "app/publish_controls.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "control/action_table.h"
#include "control/dispatcher.h"
#include "control/macros.h"
#include "control/pad_macros.h"
#include "engine/audio_output.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/jog_loops.h"
#include "engine/mixer_controls.h"
#include "engine/sampler.h"
#include "engine/sampler_bank.h"
#include "engine/sandbox.h"
#include "selftest/performance_steps.h"
#include "selftest/selftest_state.h"

namespace FeatureTest {
namespace {

constexpr int kDeckA = 0;
constexpr size_t kEffectSlot = 0;
constexpr int kFirstEffect = 10;
constexpr const wchar_t* kLateEffects[] = {L"TREMOLO", L"CHORUS",    L"DRIVE", L"STUTTER",
                                            L"ROBOT",   L"TELEPHONE", L"SWEEP", L"DUB ECHO"};
constexpr int kRecordPad = 7;  // pad 8
constexpr int kRecordBeats = 4;
constexpr double kBarTolerance = 0.05;
constexpr int kBankA = 0, kBankB = 1;
constexpr int32_t kForward8Beats = 7;  // the beat-jump buttons: -8 -4 -2 -1 +1 +2 +4 +8
constexpr int kSandboxJumps = 4;       // 32 beats ahead in the rehearsal
constexpr int32_t kGlideMacro = 7, kBrokenMacro = 6;  // macros 8 and 7
constexpr wchar_t kParsedMacro[] = L"deck left & fx 1 echo & say \"hi there\" & wait 2 beats";

// Shared between steps.
std::wstring RememberedPadName;
uint64_t SandboxStart = 0;  // the master's mixed frames
double SandboxPosition = 0.0;  // frames
float SandboxTempo = 0.5f;

double GlideMacroStart = 0.0;  // on the macro clock

DeckView& DeckA() { return LiveDeckViews[kDeckA]; }

bool Sounds() { return std::isfinite(Run.stepPeak) && Run.stepPeak > 0.001f; }

void TurnEffect(bool on) {
  ClickToState(kDeckA, kEffectOnOffset + static_cast<int32_t>(kEffectSlot), DeckA().fxSlotOn[kEffectSlot], on);
}

// The macro's steps and its glide move on the program's frames, each a frame or more after the
// last: the glide is judged once it is over by the macro clock, however late that came.
bool GlideOver() {
  const float* fader = &DeckA().fader;
  return !MacroSlotRunning(kGlideMacro) &&
         std::none_of(ValueGlides.begin(), ValueGlides.end(), [fader](const ValueGlide& g) { return g.target == fader; });
}

bool GlideEnded() {
  const float volume = DeckA().fader;
  const bool running = MacroSlotRunning(kGlideMacro);
  SelfTestResults += fmt::format(L"      (volume {:f} {:.3f} s after the macro started, by its clock; it {})\n",
                                 volume, MacroClockHook() - GlideMacroStart, GlideOver() ? L"ended" : L"had not ended");
  return std::fabs(volume - 0.9f) < 0.001f && !running;
}

// The effect is picked (no control row picks one), then switched and turned up with its controls.
void SetEffect(int effect, bool on) {
  DeckA().fxSlotEffect[kEffectSlot] = static_cast<uint32_t>(effect);
  TurnEffect(on);
  ApplyDeckAction(kDeckA, kEffectAmountOffset + static_cast<int32_t>(kEffectSlot), ValueEvent(0.8f));
}


void PressMixer(int32_t id) { ApplyMixerControl(id - kFirstMixerControl, PressEvent()); }

double RecordedPadSeconds() {
  std::lock_guard<RealtimeMutex> hold(Engine.lock);
  const TrackPtr& sound = Engine.pads[kRecordPad].track;
  return sound && sound->sampleRate > 0 ? static_cast<double>(sound->frames) / sound->sampleRate : 0.0;
}

double DeckAPositionSeconds(double* rate) {
  std::lock_guard<RealtimeMutex> hold(Engine.lock);
  const DeckState& deck = Engine.decks[kDeckA];
  *rate = deck.track && deck.track->sampleRate > 0 ? deck.track->sampleRate : 1.0;
  return deck.position / *rate;
}

// Leaving the sandbox: the crowd's deck must have played on at its own pitch meanwhile.
void LeaveSandbox() {
  PressMixer(kSandboxControl);
  const double elapsed = MixedSecondsSince(SandboxStart);
  double rate = 1.0;
  const double actual = DeckAPositionSeconds(&rate);
  const double started = SandboxPosition / rate;
  const double expected = started + elapsed;
  SelfTestResults += fmt::format(L"      (started at {:.3f} s, {:.3f} s later expected {:.3f} s, deck at {:.3f} s)\n",
                                 started, elapsed, expected, actual);
  SelfTestCheck(std::fabs(actual - expected) < 0.25 && DeckA().tempoFader == SandboxTempo,
                fmt::format(L"sandbox off: deck A is where the crowd's mix got to ({:f} s off), at its old pitch",
                            actual - expected));
}

void EnterSandbox() {
  DeckA().tempoFader = 0.5f;
  DemoTick();  // hands the deck controls to the engine now
  PressMixer(kSandboxControl);
  double rate = 1.0;
  SandboxPosition = DeckAPositionSeconds(&rate) * rate;
  SandboxStart = MixedFramesMark();
  SandboxTempo = DeckA().tempoFader;
  DeckA().tempoFader = std::clamp(0.5f - 0.08f / (2.0f * DeckA().pitchRange), 0.0f, 1.0f);
  for (int jump = 0; jump < kSandboxJumps; ++jump) ClickDeckAction(kDeckA, kBeatJumpOffset + kForward8Beats);
}

bool MacroParses() {
  const std::vector<MacroStep> steps = ParseMacro(kParsedMacro);
  return steps.size() == 4 && steps[1].size() >= 3 && steps[1][2] == L"echo" && steps[2].size() == 2 &&
         steps[2][1] == L"hi there";
}

std::wstring QuotedForName(std::wstring_view text) {
  std::wstring out;
  for (const wchar_t c : text) {
    if (c == L'"') out += L'\\';
    out += c;
  }
  return out;
}

}  // namespace

void DeckAPlays() {
  {
    std::lock_guard<RealtimeMutex> hold(Engine.lock);
    DeckState& deck = Engine.decks[kDeckA];
    if (!deck.track || deck.playing || !SetDeckPosition(kDeckA, 40.0 * deck.track->sampleRate)) return;
  }
  ClickDeckAction(kDeckA, kPlayOffset);
}

void AddPlayingSteps(std::vector<TimedStep>& steps) {
  steps.push_back({L"deck A plays",
                   [] {
                     DeckAPlays();
                     MoveCrossfader(0.0f);
                     TurnEffect(false);
                     ApplyDeckAction(kDeckA, kVolumeOffset, ValueEvent(0.8f));
                     MoveFilter(kDeckA, 0.0f);
                   },
                   0.6, Sounds});
  for (int i = 0; i < 8; ++i) {
    const int effect = kFirstEffect + i;
    steps.push_back({fmt::format(L"effect {} sounds", kLateEffects[i]), [effect] { SetEffect(effect, true); }, 0.5,
                     Sounds});
  }
  steps.push_back({L"effects off again", [] { TurnEffect(false); }, 0.3, Sounds});
  for (int k = 1; k <= 5; ++k) {
    steps.push_back({fmt::format(L"colour FX {} with the knob turned", k),
                     [k] {
                       DeckA().colorFx = k;
                       MoveFilter(kDeckA, k % 2 == 1 ? 0.6f : -0.6f);
                     },
                     0.4, Sounds});
  }
  steps.push_back({L"colour FX back to the filter",
                   [] {
                     DeckA().colorFx = 0;
                     MoveFilter(kDeckA, 0.0f);
                   },
                   0.3, Sounds});
  steps.push_back({L"bank B is empty, bank A comes back",
                   [] {
                     RememberedPadName = SamplerShot.padName[0];
                     SelectSamplerBank(kBankB);
                   },
                   0.1,
                   [] {
                     SnapshotDecks();
                     const bool emptyB = SamplerShot.padName[0].empty();
                     SelectSamplerBank(kBankA);
                     SnapshotDecks();
                     return emptyB && !SamplerShot.padName[0].empty() && SamplerShot.padName[0] == RememberedPadName;
                   }});
  steps.push_back({L"a bar of the mix recorded into a pad, on the beat",
                   [] {
                     SelectSamplerBank(kBankB);
                     StartPadRecording(kRecordPad, 0, kRecordBeats);
                   },
                   6.0,
                   [] {
                     const double got = RecordedPadSeconds();
                     const double bar = 240.0 / UsableBpm(DeckBpm(kDeckA));
                     SelectSamplerBank(kBankA);
                     const bool passed = std::fabs(got - bar) <= kBarTolerance;
                     if (!passed) SelfTestResults += fmt::format(L"      (got {:f} s, wanted {:f} s)\n", got, bar);
                     return passed;
                   }});
  steps.push_back({L"sandbox: rehearsal changes don't reach the crowd; leaving returns to their mix",
                   [] {
                     OutputConfig config = PlainOutputConfig();
                     config.phonesMode = kPhonesSplit;
                     StartOutput(Engine, config);
                   },
                   1.0,
                   // The sandbox needs a headphone output apart from the master.
                   [] { return Engine.outputRunning.load() && Engine.phonesMode == kPhonesSplit && HeadphoneOutputUsable(); }});
  steps.push_back({L"(sandbox on, rehearse)", EnterSandbox, 1.5, [] { return Engine.sandboxOn.load(); }});
  steps.push_back({L"sandbox off: deck A back with the crowd's mix", LeaveSandbox, 0.2,
                   [] { return !Engine.sandboxOn.load(); }});
  steps.push_back({L"macro: \"" + QuotedForName(kParsedMacro) + L"\" parses into 4 steps", [] {}, 0.0, MacroParses});
  steps.push_back({L"(macro: volume 20, wait, glide to 90)",
                   [] {
                     Settings.MacroScript[kGlideMacro] = L"deck a & volume 20 & wait 400 ms & volume 90 over 300 ms";
                     PressMixer(kFirstMacroControl + kGlideMacro);
                     GlideMacroStart = MacroClockHook();
                   },
                   0.15, [] { return std::fabs(DeckA().fader - 0.2f) < 0.0001f && MacroSlotRunning(kGlideMacro); }});
  steps.push_back({L"macro: waits, then glides the volume to 90", [] {}, 1.0, GlideEnded, GlideOver});
  steps.push_back({L"macro: an unknown command stops it (with a message)",
                   [] {
                     Settings.MacroScript[kBrokenMacro] = L"frobnicate the deck & volume 10";
                     PressMixer(kFirstMacroControl + kBrokenMacro);
                   },
                   0.2, [] {
                     return !MacroSlotRunning(kBrokenMacro) && DeckA().fader > 0.5f && Status.text.size() >= 10 &&
                            Status.text.find(L"frobnicate") != std::wstring::npos;
                   }});
}

std::vector<TimedStep> PerformanceSteps() {
  std::vector<TimedStep> steps;
  AddPlayingSteps(steps);
  AddPictureSteps(steps);
  return steps;
}

}  // namespace FeatureTest
