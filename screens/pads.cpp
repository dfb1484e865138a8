#include "screens/pads.h"

#include <algorithm>
#include <cmath>
#include <string>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/beat_grid.h"
#include "base/settings.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/effects.h"
#include "engine/jog_loops.h"
#include "engine/sampler.h"
#include "engine/sampler_bank.h"
#include "engine/sandbox.h"
#include "engine/stem_controls.h"
#include "engine/transport.h"
#include "screens/deck_menus.h"
#include "screens/deck_panel.h"
#include "screens/main_screen.h"
#include "screens/sampler_menu.h"
#include "ui/glow.h"
#include "ui/knobs.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/status_line.h"
#include "ui/widgets.h"

namespace {

// ---- layout ----
constexpr float kTabGapDip = 3, kTabHeightDip = 18, kTabFont = 8.5f, kTabTextMarginDip = 4;
constexpr float kPadsTopDip = 24, kSamplerPadsTopDip = 43, kFxAreaDip = 84, kPadGapDip = 6;
constexpr float kMinPadDip = 22, kMinSamplerPadDip = 14, kMaxPadDip = 64;
constexpr float kMinStemLabelSize = 6.5f;
constexpr int kPadColumns = 4;
constexpr float kBankRowTopDip = 24, kBankRowHeightDip = 15, kBankWidthDip = 30, kBankStepDip = 34;
constexpr float kBankWordXDip = 140, kBankWordWDip = 60, kRecWidthDip = 84;
constexpr float kDeleteBoxDip = 14, kDeleteBoxTopDip = 2, kDeleteBoxRightDip = 16, kDeleteCrossInsetDip = 4;
constexpr float kFxRowStepDip = 28, kFxRowHeightDip = 24;
constexpr int kMicRecordStatusMs = 2800;
constexpr int kPadRecordBeats = 4;  // one bar of the mix

// ---- colours ----
constexpr uint32_t kPadColours[kPerformancePads] = {0xFF3D6E, 0x2BF5A0, 0xFFC83D, 0x9D6BFF,
                                                    0x22D3FF, 0xFF8A2B, 0xFF4FD8, 0xB6FF3D};
constexpr int kHotCueColourCount = 12;
constexpr uint32_t kHotCueColours[kHotCueColourCount] = {0xFF3D6E, 0xFF8A2B, 0xFFC83D, 0xB6FF3D, 0x2BF5A0, 0x22D3FF,
                                                         0x1F7BFF, 0x9D6BFF, 0xFF4FD8, 0xFFFFFF, 0xA0A8B8, 0xE0503C};
constexpr uint32_t kStemColours[kStemSwitches] = {0xFF4FD8, 0xFFC83D, 0x22D3FF, 0x2BF59A};
constexpr uint32_t kKickHatColour = 0xFFC83D;
constexpr uint32_t kBankColour = 0x9D6BFF;

// ---- tables ----
struct PadTab {
  uint32_t mode;
  const wchar_t* longLabel;
  const wchar_t* shortLabel;
  int32_t code;
};
// In the order shown, left to right.
constexpr PadTab kPadTabs[kPadModes] = {
    {.mode = kPadModeCues, .longLabel = L"CUES", .shortLabel = L"CUE", .code = 34},
    {.mode = kPadModeLoop, .longLabel = L"LOOP", .shortLabel = L"LOOP", .code = 57},
    {.mode = kPadModeRoll, .longLabel = L"ROLL", .shortLabel = L"ROLL", .code = 35},
    {.mode = kPadModeJump, .longLabel = L"JUMP", .shortLabel = L"JUMP", .code = 36},
    {.mode = kPadModeSlicer, .longLabel = L"SLICER", .shortLabel = L"SLICE", .code = 58},
    {.mode = kPadModeKeys, .longLabel = L"KEYS", .shortLabel = L"KEYS", .code = 59},
    {.mode = kPadModeStems, .longLabel = L"STEMS", .shortLabel = L"STEM", .code = 72},
    {.mode = kPadModeSampler, .longLabel = L"SAMPLER", .shortLabel = L"SMPL", .code = 37},
};
constexpr int32_t kPadCode = 38, kBankCode = 74, kRecCode = 78;
const wchar_t* const kRollLabels[] = {L"1/16", L"1/8", L"1/4", L"1/2", L"1", L"2", L"4", L"8"};
const wchar_t* const kJumpLabels[] = {L"◀ 8", L"◀ 4", L"◀ 2", L"◀ 1", L"1 ▶", L"2 ▶", L"4 ▶", L"8 ▶"};
constexpr double kJumpBeats[] = {-8, -4, -2, -1, 1, 2, 4, 8};
const wchar_t* const kLoopLabels[] = {L"IN", L"OUT", L"RELOOP", L"4 BEAT", L"½", L"×2", L"◀ MOVE", L"MOVE ▶"};
constexpr int32_t kKeyPadShifts[] = {1, 2, 3, 4, -1, -2, -3, -4};
// Effect-row codes per row: previous, name, beat, ON, amount knob.
struct FxRowCodes {
  int32_t previous, name, beat, on, amount;
};
constexpr FxRowCodes kFxRowCodes[kDeckFxSlots] = {
    {.previous = 46, .name = 47, .beat = 61, .on = 49, .amount = 54},
    {.previous = 50, .name = 51, .beat = 62, .on = 53, .amount = 55},
    {.previous = 64, .name = 65, .beat = 63, .on = 67, .amount = 68},
};

bool RightClickIn(Rc r) {
  return Input.rightPressed && ActiveControlId == kNoActiveControl && MouseOver(r);
}
void QueuePadMenu(int deck, int pad) {
  QueueDeferredAction([deck, pad] { PadMenu(deck, pad); });
}

// What one pad shows this frame.
struct PadLook {
  std::wstring label;
  uint32_t colour = 0;
  float size = 10;
  bool lit = false;
};

// ---- the modes ----

void CuePad(int deck, int i, Rc pad) {
  const DeckSnapshot& s = DeckSnapshots[deck];
  DeckView& view = LiveDeckViews[deck];
  const int id = DeckControlId(deck, kPadCode + i);
  const bool set = s.hotCueStart[i] >= 0;
  const bool looping = set && s.hotCueEnd[i] > s.hotCueStart[i];
  PadLook look;
  const std::wstring& name = view.hotCueName[i];
  look.label = set && !name.empty() ? name : std::to_wstring(i + 1);
  look.size = set && !name.empty() ? 10 : 13;
  if (looping) look.label = L"⟳ " + look.label;
  const int32_t c = view.hotCueColour[i];
  look.colour = c >= 0 && c < kHotCueColourCount ? kHotCueColours[c] : kPadColours[i];
  look.lit = set;

  const Rc box{pad.Right() - kDeleteBoxRightDip, pad.y + kDeleteBoxTopDip, kDeleteBoxDip, kDeleteBoxDip};
  const bool showBox = set && !midiLearnOn && MouseOver(pad);
  if (showBox && PressStarts(box)) {
    // Taking the drag first keeps the pad's own button from firing on this press.
    ActiveControlId = id;
    DeleteHotCue(deck, i);
    StoreDeckCues(deck);
  }
  if (RightClickIn(pad)) QueuePadMenu(deck, i);
  if (Button(id, pad, look.label, ColorOf(look.colour), look.lit, look.size)) {
    if (set && AnyShiftHeld()) {
      DeleteHotCue(deck, i);
      StoreDeckCues(deck);
    } else {
      PressHotCue(deck, i);
    }
  }
  if (showBox && DeckSnapshots[deck].hotCueStart[i] >= 0) {
    const bool onBox = MouseOver(box);
    const Color cross = onBox ? ColorOf(Pal.Text) : ColorOf(look.colour, 0.7f);
    const Rc in = box.Inset(kDeleteCrossInsetDip, kDeleteCrossInsetDip);
    DrawLine(in.x, in.y, in.Right(), in.Bottom(), cross, 1.5f);
    DrawLine(in.Right(), in.y, in.x, in.Bottom(), cross, 1.5f);
  }
}

// The current slice 0..7, or -1 without a track or before beat 0.
int CurrentSlice(int deck) {
  const DeckSnapshot& s = DeckSnapshots[deck];
  if (!s.track || s.track->sampleRate <= 0) return -1;
  const double beat = BeatAtTime(*s.track, s.position / s.track->sampleRate);
  if (!(beat >= 0)) return -1;
  return static_cast<int>(std::fmod(std::floor(beat), kSliceCount));
}

std::wstring SamplerPadLabel(int i) {
  const std::wstring& name = SamplerShot.padName[i];
  std::wstring label = name.empty() ? L"—" : name;
  const int slot = CurrentSlot(i);
  if (slot >= 0 && slot < static_cast<int>(Settings.Loop.size()) && Settings.Loop[slot]) label = L"⟳ " + label;
  return label;
}

PadLook StemLook(int deck, int i) {
  const DeckView& v = LiveDeckViews[deck];
  PadLook look;
  const bool hasTrack = DeckSnapshots[deck].track != nullptr;
  static const wchar_t* const kStemNames[] = {L"VOCALS", L"DRUMS", L"BASS", L"MELODY"};
  if (!v.stemsReady) {
    if (!hasTrack) {
      look.label = i == 0 ? L"LOAD A TRACK" : L"";
    } else if (i == 0) {
      look.label = v.stemsRunning
                       ? TranslateFormat(L"SEPARATING {}%",
                                         static_cast<int>(std::lround(std::clamp(v.stemProgress->load(), 0.0f, 1.0f) * 100)))
                       : (v.stemMessage.empty() ? L"SEPARATE STEMS" : L"TRY AGAIN");
    } else if (i < kStemSwitches) {
      look.label = kStemNames[i];
    }
    look.colour = v.stemsRunning ? Pal.Dim : i < kStemSwitches ? kStemColours[i] : Pal.Purple;
  } else if (i < kStemSwitches) {
    look.label = kStemNames[i];
    if (v.stemFxTarget == i) look.label += L" · FX";
    look.colour = kStemColours[i];
    look.lit = v.stemOn[i] && v.stemPreset == 0;
  } else if (i < 6) {
    look.label = i == 4 ? L"KICK" : L"HI-HAT";
    look.colour = kKickHatColour;
    look.lit = (i == 4 ? v.kickOn : v.hatOn) && v.stemOn[1] && v.stemPreset == 0;
  } else {
    look.label = i == 6 ? L"ACAPELLA" : L"INSTRUMENTAL";
    look.colour = Pal.Purple;
    const auto& on = v.stemOn;
    const bool vocalsOnly = on[0] && !on[1] && !on[2] && !on[3];
    const bool noVocals = !on[0] && on[1] && on[2] && on[3];
    look.lit = v.stemPreset == 0 && (i == 6 ? vocalsOnly : noVocals);
  }
  look.size = look.label.size() < 10 ? 10.5f : 8.5f;
  return look;
}

void StemPad(int deck, int i, Rc pad) {
  const DeckView& v = LiveDeckViews[deck];
  const PadLook look = StemLook(deck, i);
  const int id = DeckControlId(deck, kPadCode + i);
  if (i < kStemSwitches && RightClickIn(pad)) SetStemEffectsTarget(deck, i);
  // Long stem labels ("SEPARATE STEMS") shrink to a narrow pad rather than lose their end.
  if (Button(id, pad, look.label, ColorOf(look.colour), look.lit,
             FittedLabelSize(look.label, look.size, kMinStemLabelSize, pad.w)))
    ToggleStem(deck, i);
  if (v.stemsReady && v.stemFxTarget == i) GlowOutline(pad, 5, WithAlpha(ColorOf(Pal.Purple), 0.9f), 2);
  if (!v.stemsReady && v.stemsRunning && i < kStemSwitches) {
    const float p = std::clamp(v.stemProgress->load(), 0.0f, 1.0f);
    const float fill = std::clamp(4 * p - i, 0.0f, 1.0f);
    const float inner = pad.w - 6;
    FillRect(Rc{pad.x + 3, pad.Bottom() - 7, inner * fill, 2}, ColorOf(kStemColours[i], 0.9f));
  }
}

void ModePad(int deck, uint32_t mode, int i, Rc pad) {
  const DeckSnapshot& s = DeckSnapshots[deck];
  DeckView& view = LiveDeckViews[deck];
  const int id = DeckControlId(deck, kPadCode + i);
  const bool held = IsHeld(id);
  switch (mode) {
    case kPadModeRoll:
      if (Button(id, pad, kRollLabels[i], ColorOf(Pal.Green), view.rollIndex == i, 11)) LoopRoll(deck, i);
      if (IsReleased(id) && LiveDeckViews[deck].rollIndex == i) EndLoopRoll(deck);
      break;
    case kPadModeJump:
      if (Button(id, pad, kJumpLabels[i], ColorOf(DeckColour(deck)), held, 11)) BeatJump(deck, kJumpBeats[i]);
      break;
    case kPadModeLoop: {
      const bool waiting = s.loopIn > 0 && !(s.loopOut > s.loopIn);
      const bool lit = held || (i == 0 && waiting) || (i >= 1 && i <= 3 && s.loopOn);
      if (Button(id, pad, kLoopLabels[i], ColorOf(i < 4 ? Pal.Green : Pal.Purple), lit, 10)) {
        switch (i) {
          case 0: LoopIn(deck); break;
          case 1: LoopOut(deck); break;
          case 2: Reloop(deck); break;
          case 3: ToggleAutoLoop(deck); break;
          case 4: ScaleLoop(deck, 0.5); break;
          case 5: ScaleLoop(deck, 2.0); break;
          case 6: MoveLoop(deck, -1); break;
          default: MoveLoop(deck, 1); break;
        }
      }
      break;
    }
    case kPadModeSampler:
      if (RightClickIn(pad)) QueueDeferredAction([i] { SamplerPadMenu(i); });
      if (Button(id, pad, SamplerPadLabel(i), ColorOf(kPadColours[i]), SamplerShot.padPlaying[i], 10))
        TriggerSamplerPad(i);
      break;
    case kPadModeSlicer: {
      const bool lit = view.rollIndex == i || (CurrentSlice(deck) == i && s.playing && view.rollIndex < 0);
      if (Button(id, pad, std::to_wstring(i + 1), ColorOf(kPadColours[i]), lit, 12)) SliceLoop(deck, i);
      if (IsReleased(id) && LiveDeckViews[deck].rollIndex == i) EndLoopRoll(deck);
      break;
    }
    case kPadModeKeys: {
      const int32_t value = kKeyPadShifts[i];
      if (Button(id, pad, fmt::format(L"{:+d}", value), ColorOf(Pal.Purple), view.keyShift == value, 12))
        view.keyShift = view.keyShift == value ? 0 : value;
      break;
    }
    case kPadModeStems: StemPad(deck, i, pad); break;
    default: CuePad(deck, i, pad); break;
  }
}

// ---- the sampler's bank row ----

void SamplerRow(int deck, Rc r) {
  const float y = r.y + kBankRowTopDip;
  const Color bank = ColorOf(kBankColour);
  for (int b = 0; b < kSamplerBanks; ++b) {
    std::wstring letter(1, BankLetter(b));
    if (Button(DeckControlId(deck, kBankCode + b), Rc{r.x + kBankStepDip * b, y, kBankWidthDip, kBankRowHeightDip},
               letter, bank, SamplerBank == b, 9))
      SelectSamplerBank(b);
  }
  DrawText(L"BANK", Rc{r.x + kBankWordXDip, y, kBankWordWDip, kBankRowHeightDip}, 8.5f, ColorOf(Pal.Faint), kAlignLeft,
           true, kFontSegoeUi);
  const int32_t step = Engine.padRecordState.load();
  const bool armed = step == kPadRecordArmed, running = step == kPadRecordRunning;
  const wchar_t* label = armed ? L"WAITING…" : running ? L"● REC" : L"REC";
  if (Button(DeckControlId(deck, kRecCode), Rc{r.Right() - kRecWidthDip, y, kRecWidthDip, kBankRowHeightDip}, label,
             ColorOf(Pal.Red), armed || running, 9)) {
    if (armed || running) {
      StartPadRecording(RecordTargetPad(), 0, 0);  // stops the one under way
    } else if (AnyShiftHeld()) {
      if (Engine.inputCapturing.load())
        StartPadRecording(RecordTargetPad(), kPadRecordMic, 0);
      else
        ShowStatus(L"Turn the MIC on first to record it", kMicRecordStatusMs);
    } else {
      StartPadRecording(RecordTargetPad(), 0, kPadRecordBeats);
    }
  }
}

// ---- effect rows ----

void EffectRow(int deck, int row, Rc r) {
  DeckView& view = LiveDeckViews[deck];
  const FxRowCodes& codes = kFxRowCodes[row];
  const Color colour = ColorOf(DeckColour(deck)), dim = ColorOf(Pal.Dim);
  const float y = r.Bottom() - kFxAreaDip + kFxRowStepDip * row;
  uint32_t& effect = view.fxSlotEffect[row];
  effect %= kEffectCount;
  if (Button(DeckControlId(deck, codes.previous), Rc{r.x, y, 18, kFxRowHeightDip}, L"◂", dim, false, 10)) {
    effect = (effect + kEffectCount - 1) % kEffectCount;
    view.fxSlotOn[row] = false;
  }
  const float beatX = r.Right() - 112;
  if (Button(DeckControlId(deck, codes.name), Rc{r.x + 24, y, beatX - 6 - (r.x + 24), kFxRowHeightDip},
             kEffects[effect].name, colour, false, 10)) {
    effect = (effect + 1) % kEffectCount;
    view.fxSlotOn[row] = false;
  }
  const Rc beatBox{beatX, y, 36, kFxRowHeightDip};
  const float defaultBeats = kDefaultFxParams[effect];
  float& param = view.fxParam[effect];
  if (defaultBeats > 0) {
    const bool restore = RightClickIn(beatBox);
    if (Button(DeckControlId(deck, codes.beat), beatBox, kBeatLengthLabels[NearestBeatLength(param)], dim, false, 10))
      param = StepBeatLength(param, AnyShiftHeld());
    if (restore) param = defaultBeats;
  } else {
    Button(DeckControlId(deck, codes.beat), beatBox, L"—", dim, false, 10);
  }
  const Rc on{r.Right() - 70, y, 34, kFxRowHeightDip};
  const bool stop = effect == static_cast<uint32_t>(kBrakeAction) || effect == static_cast<uint32_t>(kBackspinAction);
  if (stop) {
    if (Button(DeckControlId(deck, codes.on), on, L"GO", colour, DeckSnapshots[deck].stopEffect, 10))
      BrakeOrSpin(deck, static_cast<int>(effect));
  } else if (Button(DeckControlId(deck, codes.on), on, L"ON", colour, view.fxSlotOn[row], 10)) {
    view.fxSlotOn[row] = !view.fxSlotOn[row];
  }
  Knob(DeckControlId(deck, codes.amount), r.Right() - 15, y + 12, 7, &view.fxSlotAmount[row], 0, 1, 0.5f, colour, L"",
       false);
}

}  // namespace

// ---- arithmetic ----

namespace {
// The tab's place left to right; the first tab for an unknown mode.
int TabIndexOf(uint32_t mode) {
  for (int t = 0; t < kPadModes; ++t)
    if (kPadTabs[t].mode == mode) return t;
  return 0;
}
Rc TabAt(Rc r, int index) {
  const float tw = (r.w - kTabGapDip * (kPadModes - 1)) / kPadModes;
  return Rc{r.x + index * (tw + kTabGapDip), r.y, tw, kTabHeightDip};
}
}  // namespace

int32_t PadTabId(int deck, uint32_t mode) { return DeckControlId(deck, kPadTabs[TabIndexOf(mode)].code); }

Rc PadTabRect(Rc r, uint32_t mode) { return TabAt(r, TabIndexOf(mode)); }

const wchar_t* PadTabLabel(uint32_t mode) { return kPadTabs[TabIndexOf(mode)].longLabel; }

bool PadTabsShort(float width) {
  const float tab = (width - kTabGapDip * (kPadModes - 1)) / kPadModes;
  return MeasureTextWidth(Translate(L"SAMPLER"), kTabFont, true, kFontBahnschrift) > tab - kTabTextMarginDip;
}

Rc PadRect(Rc r, uint32_t mode, int pad) {
  const bool sampler = mode == kPadModeSampler;
  const float top = r.y + (sampler ? kSamplerPadsTopDip : kPadsTopDip);
  const float pw = (r.w - kPadGapDip * (kPadColumns - 1)) / kPadColumns;
  const float avail = ((r.Bottom() - kFxAreaDip) - kPadGapDip - top - kPadGapDip) / 2;
  const float ph = std::clamp(avail, sampler ? kMinSamplerPadDip : kMinPadDip, kMaxPadDip);
  const int col = pad % kPadColumns, row = pad / kPadColumns;
  return Rc{r.x + col * (pw + kPadGapDip), top + row * (ph + kPadGapDip), pw, ph};
}

int RecordTargetPad() {
  for (int i = 0; i < kPerformancePads; ++i)
    if (SamplerShot.padName[i].empty()) return i;
  return kPerformancePads - 1;
}

// ---- the section ----

void DrawPads(int deck, Rc r) {
  if (r.w <= 0 || r.h <= 0 || OffScreen(r)) return;
  DeckView& view = LiveDeckViews[deck];
  const bool shortLabels = PadTabsShort(r.w);
  for (int t = 0; t < kPadModes; ++t) {
    const PadTab& tab = kPadTabs[t];
    if (Button(DeckControlId(deck, tab.code), TabAt(r, t), shortLabels ? tab.shortLabel : tab.longLabel,
               ColorOf(Pal.Dim), view.padMode == tab.mode, kTabFont)) {
      if (view.rollIndex >= 0) EndLoopRoll(deck);
      view.padMode = tab.mode;
    }
  }
  const uint32_t mode = view.padMode < kPadModes ? view.padMode : kPadModeCues;
  if (mode == kPadModeSampler) SamplerRow(deck, r);
  for (int i = 0; i < kPerformancePads; ++i) ModePad(deck, mode, i, PadRect(r, mode, i));
  for (int row = 0; row < kDeckFxSlots; ++row) EffectRow(deck, row, r);
}
