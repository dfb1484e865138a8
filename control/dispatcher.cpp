#include "control/dispatcher.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <mutex>

#include "app/settings.h"
#include "app/status_message.h"
#include "broadcast/mix_recording.h"
#include "control/control_ids.h"
#include "control/pad_macros.h"
#include "engine/automix.h"
#include "engine/control_input.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/grid_edits.h"
#include "engine/jog_loops.h"
#include "engine/mixer_controls.h"
#include "engine/pads.h"
#include "engine/sandbox.h"
#include "engine/side_slots.h"
#include "engine/sync.h"
#include "engine/transport.h"
#include "library/track_view.h"
#include "platform/clock.h"

float PitchTakeover[4] = {-1.0f, -1.0f, -1.0f, -1.0f};

namespace {

constexpr float kTakeoverWindow = 0.03f;   // a controller fader this close to the screen's takes over
constexpr float kFilterDeadZone = 0.03f;   // filter values this close to the centre are off
constexpr int32_t kMaxBrowseStep = 8;
constexpr double kJogTurnSeconds = 1.8;    // audio under one full jog turn
constexpr int32_t kMinJogTicks = 32;
constexpr float kJogFeelFactors[3] = {0.6f, 1.0f, 1.6f};
constexpr double kJogNudgePerTick = 0.006;
constexpr float kMaxJogNudge = 0.3f;
constexpr double kSearchSecondsPerTick = 0.25;
constexpr double kBeatLoopSizes[8] = {0.25, 0.5, 1, 2, 4, 8, 16, 32};
constexpr double kBeatJumps[8] = {-8, -4, -2, -1, 1, 2, 4, 8};
constexpr uint32_t kStemAcapella = 1, kStemInstrumental = 2;

void ToggleQuantize() {
  Settings.Quantize = !Settings.Quantize;
  ShowStatus(Settings.Quantize ? L"Quantize on \u2014 cues and loops snap to the beat" : L"Quantize off");
  SaveSettings();
}

// Holds or lets go of a widget as a held controller button would.
void HoldWidget(int32_t id, bool press) {
  if (press) {
    if (heldIds.insert(id).second) pressedIds.insert(id);
  } else if (heldIds.erase(id) != 0) {
    releasedIds.insert(id);
  }
}

double JogSecondsPerTick() {
  const int ticks = std::max<int>(Settings.JogTicks, kMinJogTicks);
  const float feel = kJogFeelFactors[std::clamp<int>(Settings.JogFeel, 0, 2)];
  return kJogTurnSeconds / ticks * feel;
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
    std::lock_guard<std::recursive_mutex> lock(Engine.lock);
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
    std::lock_guard<std::recursive_mutex> lock(Engine.lock);
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

// Numbered deck actions: offsets 40..137.
void ApplyNumberedDeckControl(int deck, int side, int32_t offset, const ControlEvent& event) {
  DeckView& view = LiveDeckViews[deck];
  auto in = [offset](int32_t first, int32_t count) { return offset >= first && offset < first + count; };
  if (in(kEffectAmountOffset, kDeckFxSlots)) {
    if (event.hasValue) view.fxSlotAmount[offset - kEffectAmountOffset] = event.value;
    return;
  }
  if (in(kPadOffset, 8)) {
    const int pad = offset - kPadOffset;
    if (event.press) PressPad(deck, pad);
    else if (event.release && (view.padMode == kPadRoll || view.padMode == kPadSlicer)) EndRollIf(deck, pad);
    return;
  }
  if (in(kLoopRollOffset, 8)) {
    const int roll = offset - kLoopRollOffset;
    if (event.press) LoopRoll(deck, roll);
    else if (event.release) EndRollIf(deck, roll);
    return;
  }
  if (!event.press) return;
  if (in(kEffectOnOffset, kDeckFxSlots)) EffectOn(deck, offset - kEffectOnOffset);
  else if (in(kHotCueOffset, 8)) PressHotCue(deck, offset - kHotCueOffset);
  else if (in(kClearHotCueOffset, 8)) DeleteHotCue(deck, offset - kClearHotCueOffset), StoreDeckCues(deck);
  else if (in(kBeatLoopOffset, 8)) BeatLoop(deck, kBeatLoopSizes[offset - kBeatLoopOffset]);
  else if (in(kBeatJumpOffset, 8)) BeatJump(deck, kBeatJumps[offset - kBeatJumpOffset]);
  else if (in(kSamplerOffset, 8)) TriggerSamplerPad(offset - kSamplerOffset);
  else if (in(kPadModeOffset, 8)) EndLoopRoll(deck), view.padMode = static_cast<uint32_t>(offset - kPadModeOffset);
  (void)side;
}

void SetStemPreset(int deck, uint32_t preset) {
  uint32_t& mode = LiveDeckViews[deck].stemPreset;
  mode = mode == preset ? 0 : preset;
}

}  // namespace

bool IsShiftHeld() { return IsUiControlHeld(); }

void ApplyMappedControl(uint16_t target, const ControlEvent& event) {
  if (event.hasValue && !std::isfinite(event.value)) return;
  int32_t id = target;
  if (const int32_t control = ControlIdFromUi(id); control != 0) id = control;
  if (IsMixerControl(id)) {
    ApplyMixerControl(id - kFirstMixerControl, event);
    return;
  }
  if (IsDeckControl(id)) {
    ApplyDeckControl((id - kFirstDeckControl) / kDeckControlsPerSide, (id - kFirstDeckControl) % kDeckControlsPerSide,
                     event);
    return;
  }
  if (GetBindingKind(id) == kAbsoluteControl) {
    if (event.hasValue) absolutePositions[id] = std::clamp(event.value, 0.0f, 1.0f);
    return;
  }
  if (event.press) HoldWidget(id, true);
  else if (event.release) HoldWidget(id, false);
}

void ApplyMixerControl(int32_t index, const ControlEvent& event) {
  const int32_t id = kFirstMixerControl + index;
  const float value = std::clamp(event.value, 0.0f, 1.0f);
  switch (id) {
    case kCrossfaderControl:
      if (event.hasValue) CrossfaderPosition = value, XfGlide.active = false;
      return;
    case kMasterLevelControl:
      if (event.hasValue) MasterSection.masterLevel = value;
      return;
    case kHeadphoneLevelControl:
      if (event.hasValue) MasterSection.headphoneLevel = value;
      return;
    case kHeadphoneMixControl:
      if (event.hasValue) MasterSection.headphoneMix = value;
      return;
    case kSamplerLevelControl:
      if (event.hasValue) MasterSection.samplerLevel = value;
      return;
    case kBrowseControl:
      if (event.delta != 0) MoveSelection(std::clamp(event.delta, -kMaxBrowseStep, kMaxBrowseStep));
      return;
    case kShiftControl:
      if (event.press || event.release) ControllerShiftHeld = event.press;
      return;
    default:
      break;
  }
  if (!event.press) return;
  switch (id) {
    case kBrowsePushControl: LoadSelectedTrack(-1); break;
    case kAutomixControl: ToggleAutomix(); break;
    case kGlideControl: StartCrossfaderGlide(CrossfaderPosition < 0.5f ? 1.0f : 0.0f, MonotonicSeconds()); break;
    case kRecordControl: ToggleRecording(); break;
    case kQuantizeControl: ToggleQuantize(); break;
    case kSandboxControl: ToggleSandbox(); break;
    default:
      if (id >= kFirstMacroControl && id <= kLastMixerControl) RunPadMacro(id - kFirstMacroControl);
      break;
  }
}

void ApplyDeckControl(int side, int32_t offset, const ControlEvent& event) {
  if (side < 0 || side > 1 || offset < 0 || offset >= kDeckControlsPerSide) return;
  const int deck = SideSlots[side];
  if (!ValidDeck(deck)) return;
  DeckView& view = LiveDeckViews[deck];
  const float value = std::clamp(event.value, 0.0f, 1.0f);
  switch (offset) {
    case kCueOffset:
      if (event.press) CuePress(deck);
      else if (event.release) CueRelease(deck);
      return;
    case kPitchOffset:
      if (event.hasValue) TakeOverPitch(deck, value);
      return;
    case kVolumeOffset: if (event.hasValue) view.fader = value; return;
    case kGainOffset: if (event.hasValue) view.gain = value; return;
    case kHighOffset: if (event.hasValue) view.eqHigh = value; return;
    case kMidOffset: if (event.hasValue) view.eqMid = value; return;
    case kLowOffset: if (event.hasValue) view.eqLow = value; return;
    case kFilterOffset:
      if (event.hasValue) {
        const float filter = 2.0f * value - 1.0f;
        view.filter = std::fabs(filter) < kFilterDeadZone ? 0.0f : filter;
      }
      return;
    case kJogOffset:
    case kJogTouchedOffset: JogTurn(deck, event.delta, false); return;
    case kJogSearchOffset: JogTurn(deck, event.delta, true); return;
    case kJogTouchOffset:
      if (event.press || event.release) SetJogTouch(deck, event.press);
      return;
    case kBendUpOffset:
    case kBendDownOffset: {
      if (!event.press && !event.release) return;
      const int32_t widget = kDeckWidgetBase + kDeckWidgetSideStep * (deck % 2) +
                             (offset == kBendUpOffset ? kBendUpWidget : kBendDownWidget);
      HoldWidget(widget, event.press);
      // The panel keeps the bend while it draws; this keeps it when the panel is not drawn.
      view.bendHeld = event.press ? (offset == kBendUpOffset ? kNudgeBend : -kNudgeBend) : 0.0f;
      return;
    }
    case kCensorOffset:
      if (event.press) CensorPress(deck);
      else if (event.release) CensorRelease(deck);
      return;
    default:
      break;
  }
  if (offset >= kEffectOnOffset) {
    ApplyNumberedDeckControl(deck, side, offset, event);
    return;
  }
  if (!event.press) return;
  switch (offset) {
    case kPlayOffset: PlayPause(deck); break;
    case kSyncOffset:
      if (view.syncLock) ToggleSyncLock(deck);
      else SyncDeck(deck);
      break;
    case kSyncLockOffset: ToggleSyncLock(deck); break;
    case kHeadphoneCueOffset: view.headphoneCue = !view.headphoneCue; break;
    case kLoadOffset: LoadSelectedTrack(deck); break;
    case kPlayFromCueOffset: PlayFromCue(deck); break;
    case kVinylOffset: ToggleVinylMode(deck); break;
    case kKeyLockOffset: view.keyLock = !view.keyLock; break;
    case kLoopOffset: ToggleAutoLoop(deck); break;
    case kLoopInOffset: LoopIn(deck); break;
    case kLoopOutOffset: LoopOut(deck); break;
    case kReloopOffset: Reloop(deck); break;
    case kLoopHalfOffset: ChangeLoopSize(deck, -1); break;
    case kLoopDoubleOffset: ChangeLoopSize(deck, 1); break;
    case kPadModeStepOffset: StepPadMode(deck); break;
    case kAcapellaOffset: SetStemPreset(deck, kStemAcapella); break;
    case kInstrumentalOffset: SetStemPreset(deck, kStemInstrumental); break;
    case kReverseOffset: ToggleReverse(deck); break;
    case kSlipOffset: ToggleSlip(deck); break;
    case kTapOffset: TapTempo(deck); break;
    case kPitchRangeOffset: CyclePitchRange(deck); break;
    default: break;  // unassigned offsets
  }
}

void SetJogTouch(int deck, bool touched) {
  if (!ValidDeck(deck)) return;
  DeckView& view = LiveDeckViews[deck];
  view.jogHeld = touched;
  if (!touched) {
    if (view.jogScratching) JogRelease(deck), view.jogScratching = false;
    return;
  }
  if (!view.vinylMode || view.jogScratching) return;
  bool hasTrack = false;
  {
    std::lock_guard<std::recursive_mutex> lock(Engine.lock);
    hasTrack = static_cast<bool>(DeckStateOf(deck).track);
  }
  if (hasTrack) JogTouch(deck), view.jogScratching = true;
}

void JogTurn(int deck, int32_t ticks, bool search) {
  if (!ValidDeck(deck) || ticks == 0) return;
  DeckView& view = LiveDeckViews[deck];
  if (view.jogScratching && !search) {
    JogScratch(deck, JogSecondsPerTick() * ticks);
    return;
  }
  std::lock_guard<std::recursive_mutex> lock(Engine.lock);
  DeckState& state = DeckStateOf(deck);
  if (!state.track) return;
  const double last = std::max(0.0, static_cast<double>(state.track->frames) - 1.0);
  const double rate = state.track->sampleRate;
  if (search) {
    const double p = std::clamp(state.position + ticks * kSearchSecondsPerTick * rate, 0.0, last);
    if (state.playing) SeekDeck(Engine, deck, p);
    else state.position = state.cuePoint = p;
  } else if (state.playing) {
    view.jogBend = std::clamp(view.jogBend + static_cast<float>(ticks * kJogNudgePerTick), -kMaxJogNudge, kMaxJogNudge);
  } else {
    state.position = std::clamp(state.position + JogSecondsPerTick() * ticks * rate, 0.0, last);
  }
}

void ReleaseControllerState() {
  ControllerShiftHeld = false;
  heldIds.clear();
  for (int deck = 0; deck < kEngineDecks; ++deck) {
    DeckView& view = LiveDeckViews[deck];
    if (!view.jogScratching) continue;
    view.jogHeld = false;
    JogRelease(deck);
    view.jogScratching = false;
  }
}
