#include "control/action_table.h"

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <mutex>

#include "base/settings.h"
#include "base/status_message.h"
#include "broadcast/mix_recording.h"
#include "control/controller_state.h"
#include "control/pad_macros.h"
#include "engine/automix.h"
#include "engine/control_input.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/grid_edits.h"
#include "engine/jog_loops.h"
#include "engine/mixer_controls.h"
#include "engine/pads.h"
#include "engine/sampler.h"
#include "engine/sandbox.h"
#include "engine/side_slots.h"
#include "engine/stem_controls.h"
#include "engine/sync.h"
#include "engine/transport.h"
#include "library/track_view.h"
#include "platform/clock.h"

namespace {

constexpr float kTakeoverWindow = 0.03f;   // a controller fader this close to the screen's takes over
constexpr float kFilterDeadZone = 0.03f;   // filter values this close to the centre are off
constexpr int32_t kMaxBrowseStep = 8;
constexpr double kBeatLoopSizes[8] = {0.25, 0.5, 1, 2, 4, 8, 16, 32};
constexpr double kBeatJumps[8] = {-8, -4, -2, -1, 1, 2, 4, 8};
constexpr double kTempoMatch = 0.01;       // BPM apart that still counts as in sync
constexpr double kLoopLengthFrames = 2.0;
constexpr double kCueWindowFrames = 1.0;

// ---- what the rows do ----

void ToggleQuantize() {
  Settings.Quantize = !Settings.Quantize;
  ShowStatus(Settings.Quantize ? L"Quantize on \u2014 cues and loops snap to the beat" : L"Quantize off");
  SaveSettings();
}

void TakeOverPitch(int deck, float value) {
  const float v = Settings.FlipPitch ? 1.0f - value : value;
  float& last = PitchTakeover[deck];
  float& fader = LiveDeckViews[deck].tempoFader;
  if (last < 0.0f || std::fabs(v - fader) < kTakeoverWindow || (last - fader) * (v - fader) <= 0.0f) fader = v;
  last = v;
}

void CyclePitchRange(int deck) {
  DeckView& view = LiveDeckViews[deck];
  const float r = view.pitchRange;
  int nearest = 0;
  for (int i = 1; i < kPitchRangeCount; ++i)
    if (std::fabs(PitchRanges[i] - r) < std::fabs(PitchRanges[nearest] - r)) nearest = i;
  const float next = PitchRanges[(nearest + 1) % kPitchRangeCount];
  view.tempoFader = std::clamp(0.5f - ((0.5f - view.tempoFader) * 2.0f * r) / (2.0f * next), 0.0f, 1.0f);
  view.pitchRange = next;
  // Whole texts: the translation table holds each deck's and range's sentence.
  ShowStatus(fmt::format(L"Deck {} pitch range \u00B1{}%", DeckLetter(deck), std::lround(next * 100.0f)));
}

void StepPadMode(int deck) {
  DeckView& view = LiveDeckViews[deck];
  const auto at = std::find(std::begin(kPadModeDisplayOrder), std::end(kPadModeDisplayOrder), view.padMode);
  const size_t position = static_cast<size_t>(at - std::begin(kPadModeDisplayOrder));  // 8 when unknown
  EndLoopRoll(deck);
  view.padMode = kPadModeDisplayOrder[(position + 1) % kPadModeCount];
  ShowStatus(fmt::format(L"Deck {} pads: {}", DeckLetter(deck), PadModeNames[view.padMode]));
}

void ToggleVinylMode(int deck) {
  DeckView& view = LiveDeckViews[deck];
  view.vinylMode = !view.vinylMode;
  if (!view.vinylMode && view.jogScratching) {
    view.jogHeld = false;
    JogRelease(deck);
    view.jogScratching = false;
  }
  ShowStatus(view.vinylMode ? fmt::format(L"Deck {}: vinyl mode \u2014 touch the jog to scratch", DeckLetter(deck))
                            : fmt::format(L"Deck {}: jog bends the tempo", DeckLetter(deck)));
}

void PlayFromCue(int deck) {
  bool start = false;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    DeckState& state = DeckStateOf(deck);
    if (!state.track) return;
    if (state.playing) {
      SeekDeck(Engine, deck, state.cuePoint);
    } else {
      state.position = state.cuePoint;
      start = true;
    }
  }
  if (start) PlayPause(deck);
}

// Starts, ends or resizes the deck's automatic loop to `beats`; reads the live loop state, so two
// presses within one frame act as two.
void BeatLoop(int deck, double beats) {
  int32_t index = 0;
  while (index < kLoopSizeCount && std::fabs(kLoopSizes[index] - beats) >= 0.0001) ++index;
  if (index == kLoopSizeCount) return;
  bool looping = false;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    looping = DeckStateOf(deck).loopOn;
  }
  int32_t& size = LiveDeckViews[deck].loopSizeIndex;
  if (looping) {
    const bool same = size == index;
    ToggleAutoLoop(deck);
    if (same) return;
  }
  size = index;
  ToggleAutoLoop(deck);
}

void EffectOn(int deck, int slot) {
  DeckView& view = LiveDeckViews[deck];
  const uint32_t effect = view.fxSlotEffect[slot];
  if (effect == kBrakeAction || effect == kBackspinAction) BrakeOrSpin(deck, static_cast<int>(effect));
  else view.fxSlotOn[slot] = !view.fxSlotOn[slot];
}

void EndRollIf(int deck, int32_t index) {
  if (LiveDeckViews[deck].rollIndex == index) EndLoopRoll(deck);
}

// The pitch-bend buttons bend while held; the panel keeps the bend while it draws, the view's
// bendHeld keeps it when the panel is not drawn.
void HoldBend(int deck, bool up, const ControlEvent& e) {
  HoldWidget(kDeckWidgetBase + kDeckWidgetSideStep * (deck % 2) + (up ? kBendUpWidget : kBendDownWidget), e.press);
  LiveDeckViews[deck].bendHeld = e.press ? (up ? kNudgeBend : -kNudgeBend) : 0.0f;
}

// ---- when the rows are lit ----

bool InSync(int deck) {
  const int other = SideSlots[1 - deck % 2];
  if (!ValidDeck(other) || !DeckSnapshots[deck].track || !DeckSnapshots[other].track) return false;
  const double a = DeckBpm(deck), b = DeckBpm(other);
  return std::fabs(a - b) < kTempoMatch || std::fabs(2 * a - b) < kTempoMatch || std::fabs(a - 2 * b) < kTempoMatch;
}

bool BeatLoopLit(int deck, double beats) {
  const DeckSnapshot& shot = DeckSnapshots[deck];
  if (!shot.loopOn || !shot.track) return false;
  return std::fabs((shot.loopOut - shot.loopIn) - BeatSamples(*shot.track) * beats) <= kLoopLengthFrames;
}

bool CueLit(int deck) {
  const DeckSnapshot& shot = DeckSnapshots[deck];
  return shot.track && !shot.playing && std::fabs(shot.position - shot.cuePoint) <= kCueWindowFrames;
}

bool PadLit(int deck, int32_t n) {
  const auto lit = controlLights.find(kDeckWidgetBase + kDeckWidgetSideStep * (deck % 2) + kPadWidget + n);
  return lit != controlLights.end() && lit->second;
}

DeckView& V(int deck) { return LiveDeckViews[deck]; }
const DeckSnapshot& S(int deck) { return DeckSnapshots[deck]; }

using E = const ControlEvent&;
using T = ActionTrigger;
constexpr ControlKind kAbs = kAbsoluteControl, kRel = kRelativeControl;

const ActionRow kRows[] = {
    // Mixer and global actions (control ids).
    {.first = kCrossfaderControl, .name = L"Cross-fader", .kind = kAbs, .trigger = T::kValue,
     .handler = [](int, int32_t, E e) { CrossfaderPosition = e.value, XfGlide.active = false; },
     .remote = {{"mixer.xfader"}}},
    {.first = kMasterLevelControl, .name = L"Master level", .kind = kAbs, .trigger = T::kValue,
     .handler = [](int, int32_t, E e) { MasterSection.masterLevel = e.value; }},
    {.first = kHeadphoneLevelControl, .name = L"Headphone level", .kind = kAbs, .trigger = T::kValue,
     .handler = [](int, int32_t, E e) { MasterSection.headphoneLevel = e.value; }},
    {.first = kHeadphoneMixControl, .name = L"Headphone cue/master", .kind = kAbs, .trigger = T::kValue,
     .handler = [](int, int32_t, E e) { MasterSection.headphoneMix = e.value; }},
    {.first = kSamplerLevelControl, .name = L"Sampler level", .kind = kAbs, .trigger = T::kValue,
     .handler = [](int, int32_t, E e) { MasterSection.samplerLevel = e.value; }},
    {.first = kBrowseControl, .name = L"Browse", .kind = kRel, .trigger = T::kDelta,
     .handler = [](int, int32_t, E e) { MoveSelection(std::clamp(e.delta, -kMaxBrowseStep, kMaxBrowseStep)); },
     .remote = {{"lib.browse"}}},
    {.first = kBrowsePushControl, .name = L"Browse push (load)",
     .handler = [](int, int32_t, E) { LoadSelectedTrack(-1); }},
    {.first = kShiftControl, .name = L"Shift", .trigger = T::kPressRelease,
     .handler = [](int, int32_t, E e) { ControllerShiftHeld = e.press; },
     .light = [](int, int32_t) { return IsShiftHeld(); }},
    {.first = kAutomixControl, .name = L"Automix", .handler = [](int, int32_t, E) { ToggleAutomix(); },
     .light = [](int, int32_t) { return Automix.on; }, .remote = {{"mixer.automix"}}},
    {.first = kGlideControl, .name = L"Cross-fader glide",
     .handler = [](int, int32_t, E) { StartCrossfaderGlide(CrossfaderPosition < 0.5f ? 1.0f : 0.0f, MonotonicSeconds()); },
     .light = [](int, int32_t) { return XfGlide.active; }, .remote = {{"mixer.glide"}}},
    {.first = kRecordControl, .name = L"Record", .handler = [](int, int32_t, E) { ToggleRecording(); },
     .light = [](int, int32_t) { return Engine.recording.load(); }, .remote = {{"mixer.rec"}}},
    {.first = kQuantizeControl, .name = L"Quantize", .handler = [](int, int32_t, E) { ToggleQuantize(); },
     .light = [](int, int32_t) { return Settings.Quantize; }, .remote = {{"mixer.quantize"}}},
    {.first = kSandboxControl, .name = L"Sandbox", .handler = [](int, int32_t, E) { ToggleSandbox(); },
     .light = [](int, int32_t) { return Sandbox.on; }, .remote = {{"mixer.sandbox"}}},
    {.first = kFirstMacroControl, .count = 8, .name = L"Macro ",
     .handler = [](int, int32_t n, E) { RunPadMacro(n); }},

    // Deck actions (offsets on each side).
    {.deck = true, .first = kPlayOffset, .name = L"play", .handler = [](int d, int32_t, E) { PlayPause(d); },
     .light = [](int d, int32_t) { return S(d).playing; }, .remote = {{"play"}}},
    {.deck = true, .first = kCueOffset, .name = L"cue", .trigger = T::kPressRelease,
     .handler = [](int d, int32_t, E e) { e.press ? CuePress(d) : CueRelease(d); },
     .light = [](int d, int32_t) { return CueLit(d); },
     .remote = {{"cue.down", 1, RemoteEdge::kPress}, {"cue.up", 1, RemoteEdge::kRelease}}, .macro = L"cue"},
    {.deck = true, .first = kSyncOffset, .name = L"sync",
     .handler = [](int d, int32_t, E) { V(d).syncLock ? ToggleSyncLock(d) : SyncDeck(d); },
     .light = [](int d, int32_t) { return V(d).syncLock || InSync(d); }, .remote = {{"sync"}},
     .shifted = kSyncLockOffset},
    {.deck = true, .first = kSyncLockOffset, .name = L"sync lock", .handler = [](int d, int32_t, E) { ToggleSyncLock(d); },
     .light = [](int d, int32_t) { return V(d).syncLock; }, .macro = L"synclock"},
    {.deck = true, .first = kHeadphoneCueOffset, .name = L"headphone cue",
     .handler = [](int d, int32_t, E) { V(d).headphoneCue = !V(d).headphoneCue; },
     .light = [](int d, int32_t) { return V(d).headphoneCue; }, .remote = {{"pfl"}}},
    {.deck = true, .first = kLoadOffset, .name = L"load", .handler = [](int d, int32_t, E) { LoadSelectedTrack(d); },
     .remote = {{"load"}}, .macro = L"load"},
    {.deck = true, .first = kPlayFromCueOffset, .name = L"play from cue", .handler = [](int d, int32_t, E) { PlayFromCue(d); }},
    {.deck = true, .first = kPitchOffset, .name = L"pitch", .kind = kAbs, .trigger = T::kValue,
     .handler = [](int d, int32_t, E e) { TakeOverPitch(d, e.value); }},
    {.deck = true, .first = kVolumeOffset, .name = L"volume", .kind = kAbs, .trigger = T::kValue,
     .handler = [](int d, int32_t, E e) { V(d).fader = e.value; }, .remote = {{"vol"}}},
    {.deck = true, .first = kGainOffset, .name = L"gain", .kind = kAbs, .trigger = T::kValue,
     .handler = [](int d, int32_t, E e) { V(d).gain = e.value; }},
    {.deck = true, .first = kHighOffset, .name = L"high", .kind = kAbs, .trigger = T::kValue,
     .handler = [](int d, int32_t, E e) { V(d).eqHigh = e.value; }},
    {.deck = true, .first = kMidOffset, .name = L"mid", .kind = kAbs, .trigger = T::kValue,
     .handler = [](int d, int32_t, E e) { V(d).eqMid = e.value; }},
    {.deck = true, .first = kLowOffset, .name = L"low", .kind = kAbs, .trigger = T::kValue,
     .handler = [](int d, int32_t, E e) { V(d).eqLow = e.value; }},
    {.deck = true, .first = kFilterOffset, .name = L"filter", .kind = kAbs, .trigger = T::kValue,
     .handler = [](int d, int32_t, E e) {
       const float filter = 2.0f * e.value - 1.0f;
       V(d).filter = std::fabs(filter) < kFilterDeadZone ? 0.0f : filter;
     }},
    {.deck = true, .first = kJogOffset, .name = L"jog", .kind = kRel, .trigger = T::kDelta,
     .handler = [](int d, int32_t, E e) { JogTurn(d, e.delta, false); }},
    {.deck = true, .first = kJogTouchOffset, .name = L"jog touch", .trigger = T::kPressRelease,
     .handler = [](int d, int32_t, E e) { SetJogTouch(d, e.press); }, .light = [](int d, int32_t) { return V(d).jogHeld; }},
    {.deck = true, .first = kJogTouchedOffset, .name = L"jog (touched)", .kind = kRel, .trigger = T::kDelta,
     .handler = [](int d, int32_t, E e) { JogTurn(d, e.delta, false); }},
    {.deck = true, .first = kJogSearchOffset, .name = L"jog search", .kind = kRel, .trigger = T::kDelta,
     .handler = [](int d, int32_t, E e) { JogTurn(d, e.delta, true); }},
    {.deck = true, .first = kVinylOffset, .name = L"vinyl mode", .handler = [](int d, int32_t, E) { ToggleVinylMode(d); },
     .light = [](int d, int32_t) { return V(d).vinylMode; }},
    {.deck = true, .first = kBendUpOffset, .name = L"pitch bend +", .trigger = T::kPressRelease,
     .handler = [](int d, int32_t, E e) { HoldBend(d, true, e); }},
    {.deck = true, .first = kBendDownOffset, .name = L"pitch bend -", .trigger = T::kPressRelease,
     .handler = [](int d, int32_t, E e) { HoldBend(d, false, e); }},
    {.deck = true, .first = kKeyLockOffset, .name = L"key lock", .handler = [](int d, int32_t, E) { V(d).keyLock = !V(d).keyLock; },
     .light = [](int d, int32_t) { return V(d).keyLock; }},
    {.deck = true, .first = kLoopOffset, .name = L"loop", .handler = [](int d, int32_t, E) { ToggleAutoLoop(d); },
     .light = [](int d, int32_t) { return S(d).loopOn; }, .remote = {{"loop"}}},
    {.deck = true, .first = kLoopInOffset, .name = L"loop in", .handler = [](int d, int32_t, E) { LoopIn(d); }},
    {.deck = true, .first = kLoopOutOffset, .name = L"loop out", .handler = [](int d, int32_t, E) { LoopOut(d); }},
    {.deck = true, .first = kReloopOffset, .name = L"reloop", .handler = [](int d, int32_t, E) { Reloop(d); },
     .light = [](int d, int32_t) { return S(d).loopOn; }},
    {.deck = true, .first = kLoopHalfOffset, .name = L"loop \u00BD", .handler = [](int d, int32_t, E) { ChangeLoopSize(d, -1); }},
    {.deck = true, .first = kLoopDoubleOffset, .name = L"loop \u00D72", .handler = [](int d, int32_t, E) { ChangeLoopSize(d, 1); }},
    {.deck = true, .first = kPadModeStepOffset, .name = L"pad mode", .handler = [](int d, int32_t, E) { StepPadMode(d); }},
    {.deck = true, .first = kAcapellaOffset, .name = L"acapella",
     .handler = [](int d, int32_t, E) { SetStemPreset(d, kStemPresetVocals); },
     .light = [](int d, int32_t) { return V(d).stemPreset == kStemPresetVocals; }},
    {.deck = true, .first = kInstrumentalOffset, .name = L"instrumental",
     .handler = [](int d, int32_t, E) { SetStemPreset(d, kStemPresetInstrumental); },
     .light = [](int d, int32_t) { return V(d).stemPreset == kStemPresetInstrumental; }},
    {.deck = true, .first = kCensorOffset, .name = L"censor", .trigger = T::kPressRelease,
     .handler = [](int d, int32_t, E e) { e.press ? CensorPress(d) : CensorRelease(d); },
     .light = [](int d, int32_t) { return V(d).censorHeld; }},
    {.deck = true, .first = kReverseOffset, .name = L"reverse", .handler = [](int d, int32_t, E) { ToggleReverse(d); },
     .light = [](int d, int32_t) { return S(d).reverse; }, .macro = L"reverse"},
    {.deck = true, .first = kSlipOffset, .name = L"slip", .handler = [](int d, int32_t, E) { ToggleSlip(d); },
     .light = [](int d, int32_t) { return S(d).slipMode; }},
    {.deck = true, .first = kTapOffset, .name = L"tap", .handler = [](int d, int32_t, E) { TapTempo(d); }},
    {.deck = true, .first = kPitchRangeOffset, .name = L"pitch range", .handler = [](int d, int32_t, E) { CyclePitchRange(d); }},

    // Numbered deck actions: the name is followed by n.
    {.deck = true, .first = kEffectOnOffset, .count = kDeckFxSlots, .name = L"effect on ",
     .handler = [](int d, int32_t n, E) { EffectOn(d, n); }, .light = [](int d, int32_t n) { return V(d).fxSlotOn[n]; }},
    {.deck = true, .first = kEffectAmountOffset, .count = kDeckFxSlots, .name = L"effect amount ", .kind = kAbs,
     .trigger = T::kValue, .handler = [](int d, int32_t n, E e) { V(d).fxSlotAmount[n] = e.value; }},
    {.deck = true, .first = kPadOffset, .count = 8, .name = L"pad ", .trigger = T::kPressRelease,
     .handler = [](int d, int32_t n, E e) {
       if (e.press) PressPad(d, n);
       else if (V(d).padMode == kPadRoll || V(d).padMode == kPadSlicer) EndRollIf(d, n);
     },
     .light = PadLit},
    {.deck = true, .first = kHotCueOffset, .count = 8, .name = L"hot cue ",
     .handler = [](int d, int32_t n, E) { PressHotCue(d, n); },
     .light = [](int d, int32_t n) { return S(d).hotCueStart[n] >= 0.0; },
     .remote = {{"hotcue", kNumberFollowsWord}}, .macro = L"hotcue"},
    {.deck = true, .first = kClearHotCueOffset, .count = 8, .name = L"clear hot cue ",
     .handler = [](int d, int32_t n, E) { DeleteHotCue(d, n), StoreDeckCues(d); },
     .light = [](int d, int32_t n) { return S(d).hotCueStart[n] >= 0.0; }},
    {.deck = true, .first = kBeatLoopOffset, .count = 8, .name = L"beat loop ",
     .handler = [](int d, int32_t n, E) { BeatLoop(d, kBeatLoopSizes[n]); },
     .light = [](int d, int32_t n) { return BeatLoopLit(d, kBeatLoopSizes[n]); }},
    {.deck = true, .first = kBeatJumpOffset, .count = 8, .name = L"beat jump ",
     .handler = [](int d, int32_t n, E) { BeatJump(d, kBeatJumps[n]); },
     .remote = {{"jumpback", 2}, {"jumpfwd", 7}}},  // back and forward 4 beats
    {.deck = true, .first = kLoopRollOffset, .count = 8, .name = L"loop roll ", .trigger = T::kPressRelease,
     .handler = [](int d, int32_t n, E e) { e.press ? LoopRoll(d, n) : EndRollIf(d, n); },
     .light = [](int d, int32_t n) { return V(d).padMode == kPadRoll && V(d).rollIndex == n; }},
    {.deck = true, .first = kSamplerOffset, .count = 8, .name = L"sampler ",
     .handler = [](int, int32_t n, E) { TriggerSamplerPad(n); },
     .light = [](int, int32_t n) { return SamplerShot.padPlaying[n]; }, .macro = L"sampler"},
    {.deck = true, .first = kPadModeOffset, .count = 8, .name = L"pad mode ",
     .handler = [](int d, int32_t n, E) { EndLoopRoll(d), V(d).padMode = static_cast<uint32_t>(n); },
     .light = [](int d, int32_t n) { return V(d).padMode == static_cast<uint32_t>(n); }},
};

const ActionRow* FindRow(bool deck, int32_t first, int32_t* n) {
  for (const ActionRow& row : kRows) {
    if (row.deck != deck || first < row.first || first >= row.first + row.count) continue;
    if (n) *n = first - row.first;
    return &row;
  }
  return nullptr;
}

}  // namespace

std::span<const ActionRow> ActionRows() { return kRows; }

const ActionRow* FindDeckAction(int32_t offset, int32_t* n) { return FindRow(true, offset, n); }

const ActionRow* FindAction(int32_t id, int32_t* n) {
  if (IsMixerControl(id)) return FindRow(false, id, n);
  if (IsDeckControl(id)) return FindRow(true, (id - kFirstDeckControl) % kDeckControlsPerSide, n);
  return nullptr;
}

void RunAction(const ActionRow& row, int deck, int32_t n, const ControlEvent& event) {
  if (event.hasValue && !std::isfinite(event.value)) return;
  switch (row.trigger) {
    case ActionTrigger::kPress:
      if (event.press) row.handler(deck, n, event);
      return;
    case ActionTrigger::kPressRelease:
      if (event.press || event.release) row.handler(deck, n, event);
      return;
    case ActionTrigger::kValue:
      if (event.hasValue) {
        ControlEvent clamped = event;
        clamped.value = std::clamp(event.value, 0.0f, 1.0f);
        row.handler(deck, n, clamped);
      }
      return;
    case ActionTrigger::kDelta:
      if (event.delta != 0) row.handler(deck, n, event);
      return;
  }
}

void ApplyDeckAction(int deck, int32_t offset, const ControlEvent& event) {
  if (!ValidDeck(deck)) return;
  int32_t n = 0;
  if (const ActionRow* row = FindDeckAction(offset, &n)) RunAction(*row, deck, n, event);
}

void ClickDeckAction(int deck, int32_t offset) {
  ApplyDeckAction(deck, offset, PressEvent());
  const ActionRow* row = FindDeckAction(offset);
  if (row && row->trigger == ActionTrigger::kPressRelease) ApplyDeckAction(deck, offset, ReleaseEvent());
}

int32_t ShiftedDeckOffset(int32_t offset, bool shift) {
  const ActionRow* row = shift ? FindDeckAction(offset) : nullptr;
  return row && row->shifted >= 0 ? row->shifted : offset;
}

bool ActionLit(int32_t id) {
  int32_t n = 0;
  const ActionRow* row = FindAction(id, &n);
  if (!row || !row->light) return false;
  if (!row->deck) return row->light(-1, n);
  const int deck = SideSlots[(id - kFirstDeckControl) / kDeckControlsPerSide];
  return ValidDeck(deck) && row->light(deck, n);
}
