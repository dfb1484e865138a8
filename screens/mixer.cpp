#include "screens/mixer.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "base/palette.h"
#include "base/settings.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mix_meters.h"
#include "engine/mixer_controls.h"
#include "engine/side_slots.h"
#include "engine/stem_controls.h"
#include "platform/clock.h"
#include "screens/main_screen.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"
#include "ui/knobs.h"
#include "ui/status_line.h"
#include "ui/widgets.h"

const std::array<std::wstring_view, kColorFxModes> ColorFxNames = {L"FILTER", L"SPACE", L"DUB ECHO",
                                                                   L"NOISE",  L"CRUSH", L"ECHO"};

namespace {

// ---- the panel ----
constexpr float kPanelRadius = 8.0f;
constexpr float kMasterColumnDip = 100.0f;
constexpr float kSideGlowY = 0.45f;                    // of the panel height
constexpr float kSideGlowRx = 0.45f, kSideGlowRy = 0.6f;  // of the panel width and height
constexpr float kSideGlowPulseAlpha = 0.07f, kSideGlowBaseAlpha = 0.05f;

// ---- the master column (offsets from its centre cxm, the panel top y and its bottom) ----
constexpr float kMasterTitleTopDip = 8.0f, kMasterTitleHeightDip = 16.0f, kMasterTitleSize = 9.5f;
constexpr float kMasterKnobYDip = 44.0f, kMasterKnobRadius = 16.0f;
constexpr float kDefaultLevel = 0.8f;                  // master, phones, sampler, booth: unity
constexpr float kMeterTopDip = 72.0f, kMeterBottomGapDip = 202.0f, kMeterWidthDip = 9.0f;
constexpr float kMeterXs[4] = {-25.5f, -11.5f, 2.5f, 16.5f};  // L, master left, master right, R
// Below this the 20 segments would be slivers; the meters are left out instead.
constexpr float kMinMeterHeightDip = 40.0f;
// In a panel too low for them, CLIP and LIMIT would cover the master knob: they are left out.
constexpr float kMasterKnobClearDip = kMasterKnobYDip + kMasterKnobRadius + 8.0f;
constexpr Rc kClipBox{-20, -197, 40, 13};              // x from cxm, y from the bottom
constexpr float kClipRadius = 6.5f, kClipTextSize = 8.5f;
constexpr Color kClipTextOn = ColorOf(0x1A0508);
constexpr float kClipGlowAlpha = 0.9f, kClipOffFillAlpha = 0.1f, kClipOffTextAlpha = 0.45f;
constexpr Rc kLimitBar{-26, -179, 52, 4};
constexpr Rc kLimitLabel{-30, -174, 60, 11};
constexpr float kLimitBarRadius = 2.0f, kLimitLabelSize = 7.5f;
constexpr Color kLimitTrack{0, 0, 0, 0.6f};
constexpr float kLimitFullScaleDb = 12.0f, kLimitShownFrom = 0.01f, kLimitGlowAlpha = 0.7f;
constexpr float kSmallKnobRadius = 11.0f, kSmallKnobDx = 24.0f;
constexpr float kPhonesRowGapDip = 144.0f, kSamplerRowGapDip = 94.0f;  // above the bottom
constexpr Color kSamplerColour = ColorOf(0x9D6BFF);

// ---- cross-fader and glide buttons ----
constexpr float kXFaderInsetDip = 44.0f, kXFaderBottomGapDip = 50.0f, kXFaderHeightDip = 38.0f;
constexpr float kDefaultCrossfader = 0.5f;
constexpr float kGlideButtonW = 28.0f, kGlideButtonH = 26.0f, kGlideTextSize = 13.0f;
constexpr float kGlideInsetDip = 12.0f, kGlideBottomGapDip = 44.0f;
constexpr float kGlideGlowShare = 0.5f, kGlideGlowBase = 0.2f;

// ---- channel strip ----
constexpr float kKnobColumnDip = 34.0f;
constexpr float kFaderWidthDip = 42.0f, kFaderMarginDip = 10.0f;
constexpr float kStripTopDip = 32.0f, kBottomRowGapDip = 90.0f, kRowGapDip = 8.0f;
constexpr int kKnobRows = 5;
constexpr float kRowLiftDip = 6.0f;
constexpr float kRowKnobAllowanceDip = 25.0f;          // label and ring space of a row
constexpr float kMinStripKnobRadius = 9.0f, kMaxStripKnobRadius = 14.0f;
constexpr float kHeaderTopDip = 8.0f, kHeaderHeightDip = 16.0f;
constexpr float kLetterHalfWidthDip = 20.0f, kLetterSize = 13.0f, kVolSize = 9.5f;
constexpr float kNeutral = 0.5f;                       // gain and EQ
constexpr float kFilterOff = 0.0f;
constexpr float kModeLabelHalfWidthDip = 34.0f, kModeLabelHeightDip = 14.0f;
constexpr float kStripLabelGapDip = 1.0f, kStripLabelSize = 9.5f;
constexpr float kModeOutlineRadius = 4.0f, kModeOutlineAlpha = 0.5f;
constexpr float kKillMarginDip = 5.0f;
constexpr float kKillDotRadius = 3.0f, kKillGlowRadius = 4.0f, kKillDotOffsetDip = 1.0f;
constexpr float kNotKilled = -1.0f;
constexpr float kButtonHeightDip = 26.0f, kStemButtonWidthDip = 30.0f;
constexpr float kVoxDx = -31.0f, kInstDx = 1.0f;
constexpr float kStemButtonSize = 9.0f, kCueButtonSize = 10.0f;

// The deck shown on a side; a slot holding no deck falls back to the side's first deck.
int SideDeck(int side) {
  const int deck = SideSlots[side];
  return ValidDeck(deck) ? deck : side;
}

float PulseOf(int deck) { return ValidDeck(deck) ? BeatPulse[deck] : 0.0f; }

// The booth has an output: its own device, or a pair on the master device.
bool EngineHasBooth() { return Engine.booth.wanted.load() || Engine.boothOnMaster; }

// A kill memory outlives its band only while the band still sits at 0.
void ForgetMovedKill(float value, float* memory) {
  if (*memory >= 0 && value != 0) *memory = kNotKilled;
}

void ToggleKill(float* value, float* memory) {
  if (*memory >= 0) {
    *value = *memory;
    *memory = kNotKilled;
  } else {
    *memory = *value;
    *value = 0;
  }
}

// A strip knob's label sits in the open bottom of its own ring, so that it reads as that knob's
// and stays well clear of the knob below.
Rc StripLabelRect(float kx, float cy, float r) {
  return Rc{kx - kModeLabelHalfWidthDip, cy + r + kStripLabelGapDip, 2 * kModeLabelHalfWidthDip,
            kModeLabelHeightDip};
}

void StripKnob(int id, float kx, float cy, float r, float* value, float min, float max, float reset, Color c,
               std::wstring_view label) {
  Knob(id, kx, cy, r, value, min, max, reset, c, L"", true);
  DrawText(label, StripLabelRect(kx, cy, r), kStripLabelSize, ColorOf(Pal.Dim), kAlignCenter, true, kFontBahnschrift);
}

// One EQ band knob with its right-click kill (memory holds the value while killed). The kill
// takes the knob and its label: a right-click on the word kills the band it names.
void EqBand(int id, float kx, float cy, float r, float* value, float* memory, Color c, std::wstring_view label) {
  ForgetMovedKill(*value, memory);
  const float side = 2 * r + 2 * kKillMarginDip;
  const Rc labelRect = StripLabelRect(kx, cy, r);
  if (Input.rightPressed &&
      (MouseIn(Rc{kx - r - kKillMarginDip, cy - r - kKillMarginDip, side, side}) || MouseIn(labelRect)))
    ToggleKill(value, memory);
  StripKnob(id, kx, cy, r, value, 0, 1, kNeutral, c, label);
  ForgetMovedKill(*value, memory);
  if (*memory < 0) return;
  const Color red = ColorOf(Pal.Red);
  FillCircle(kx + r + kKillDotOffsetDip, cy - r - kKillDotOffsetDip, kKillDotRadius, red);
  GlowCircle(kx + r + kKillDotOffsetDip, cy - r - kKillDotOffsetDip, kKillGlowRadius, red);
}

// The filter knob and its mode label, which a click steps through the colour effects.
void ColorFxKnob(int deck, int side, float kx, float cy, float r) {
  DeckView& view = LiveDeckViews[deck];
  view.colorFx = std::clamp(view.colorFx, kColorFxFilter, kColorFxModes - 1);
  const Rc label = StripLabelRect(kx, cy, r);
  RecordWidgetRect(ColorFxLabelId(side), label);
  const bool hover = !midiLearnOn && MouseIn(label);
  if (hover && Input.pressed) {
    ActiveControlId = ColorFxLabelId(side);
    view.colorFx = StepColorFx(view.colorFx, AnyShiftHeld() ? -1 : 1);
    std::wstring text = L"Deck " + DeckLetter(deck) + L" colour FX: " + std::wstring(ColorFxNames[view.colorFx]);
    if (view.colorFx != kColorFxFilter) text += L" \u2014 turn the knob either way from the middle";
    ShowStatus(text);
  }
  const Color c = ColorOf(view.colorFx == kColorFxFilter ? Pal.Purple : Pal.Pink);
  StripKnob(StripControlId(side, kStripColorFx), kx, cy, r, &view.filter, -1, 1, kFilterOff, c,
            ColorFxNames[view.colorFx]);
  if (hover)
    StrokeRoundedRect(label.Inset(0.5f, 0.5f), kModeOutlineRadius, ColorOf(Pal.Pink, kModeOutlineAlpha), 1);
}

// The CLIP light (held by the tick after a clip) and, with the limiter on, its reduction bar.
void DrawClipAndLimit(float cxm, float bottom) {
  const Rc clip{cxm + kClipBox.x, bottom + kClipBox.y, kClipBox.w, kClipBox.h};
  const Color red = ColorOf(Pal.Red);
  if (FrameClockMs < Meters.clipUntilMs) {
    RedrawAt(Meters.clipUntilMs);
    FillRoundedRect(clip, kClipRadius, red);
    GlowRoundedRect(clip, kClipRadius, WithAlpha(red, kClipGlowAlpha));
    DrawText(L"CLIP", clip, kClipTextSize, kClipTextOn, kAlignCenter, true, kFontBahnschrift);
  } else {
    FillRoundedRect(clip, kClipRadius, WithAlpha(red, kClipOffFillAlpha));
    DrawText(L"CLIP", clip, kClipTextSize, WithAlpha(red, kClipOffTextAlpha), kAlignCenter, true, kFontBahnschrift);
  }

  if (Settings.Limiter) {
    const Rc bar{cxm + kLimitBar.x, bottom + kLimitBar.y, kLimitBar.w, kLimitBar.h};
    FillRoundedRect(bar, kLimitBarRadius, kLimitTrack);
    const float g = std::isfinite(Meters.limiterDb) ? std::clamp(Meters.limiterDb / kLimitFullScaleDb, 0.0f, 1.0f) : 0;
    const bool limiting = g > kLimitShownFrom;
    const Color yellow = ColorOf(Pal.Yellow);
    if (limiting) {
      const Rc reduction{bar.Right() - bar.w * g, bar.y, bar.w * g, bar.h};
      FillRoundedRect(reduction, kLimitBarRadius, yellow);
      GlowRoundedRect(reduction, kLimitBarRadius, WithAlpha(yellow, kLimitGlowAlpha));
    }
    DrawText(L"LIMIT", Rc{cxm + kLimitLabel.x, bottom + kLimitLabel.y, kLimitLabel.w, kLimitLabel.h},
             kLimitLabelSize, limiting ? yellow : ColorOf(Pal.Faint), kAlignCenter, true, kFontBahnschrift);
  }
}

void DrawMasterColumn(Rc r, float cxm, int left, int right) {
  const float y = r.y, bottom = r.Bottom();
  DrawText(L"MASTER", Rc{cxm - kMasterColumnDip / 2, y + kMasterTitleTopDip, kMasterColumnDip, kMasterTitleHeightDip},
           kMasterTitleSize, ColorOf(Pal.Dim), kAlignCenter, true, kFontBahnschrift);
  Knob(kMasterLevelId, cxm, y + kMasterKnobYDip, kMasterKnobRadius, &MasterSection.masterLevel, 0, 1, kDefaultLevel,
       ColorOf(Pal.Text), L"", false);

  const float meterTop = y + kMeterTopDip, meterHeight = bottom - kMeterBottomGapDip - meterTop;
  if (meterHeight >= kMinMeterHeightDip) {
    const float levels[4] = {LiveDeckViews[left].meterLevel, Meters.masterLeft, Meters.masterRight,
                             LiveDeckViews[right].meterLevel};
    for (int i = 0; i < 4; ++i) DrawLevelMeter(Rc{cxm + kMeterXs[i], meterTop, kMeterWidthDip, meterHeight}, levels[i]);
  }

  if (bottom + kClipBox.y >= y + kMasterKnobClearDip) DrawClipAndLimit(cxm, bottom);

  const Color yellow = ColorOf(Pal.Yellow);
  Knob(kHeadphoneMixId, cxm - kSmallKnobDx, bottom - kPhonesRowGapDip, kSmallKnobRadius, &MasterSection.headphoneMix,
       0, 1, 0, yellow, L"CUE/MST", false);
  Knob(kHeadphoneLevelId, cxm + kSmallKnobDx, bottom - kPhonesRowGapDip, kSmallKnobRadius,
       &MasterSection.headphoneLevel, 0, 1, kDefaultLevel, yellow, L"PHONES", false);
  const bool booth = EngineHasBooth();
  Knob(kSamplerLevelId, booth ? cxm - kSmallKnobDx : cxm, bottom - kSamplerRowGapDip, kSmallKnobRadius,
       &MasterSection.samplerLevel, 0, 1, kDefaultLevel, kSamplerColour, L"SAMPLER", false);
  if (booth)
    Knob(kBoothLevelId, cxm + kSmallKnobDx, bottom - kSamplerRowGapDip, kSmallKnobRadius, &MasterSection.boothLevel, 0,
         1, kDefaultLevel, ColorOf(Pal.Text), L"BOOTH", false);
}

}  // namespace

int32_t StepColorFx(int32_t mode, int step) {
  const int32_t clamped = std::clamp(mode, kColorFxFilter, kColorFxModes - 1);
  const int32_t moved = (clamped + step % kColorFxModes + kColorFxModes) % kColorFxModes;
  return moved;
}

bool GlideButton(int id, Rc r, std::wstring_view letter, Color colour, float target) {
  const bool clicked = Button(id, r, letter, colour, GlidingTowards(target), kGlideTextSize);
  if (clicked) StartCrossfaderGlide(target, MonotonicSeconds());
  return clicked;
}

void DrawChannelStrip(int deck, Rc half, Rc mixer) {
  if (!ValidDeck(deck) || OffScreen(half)) return;
  DeckView& view = LiveDeckViews[deck];
  const int side = deck % 2;
  const Color c = ColorOf(DeckColour(deck));
  const float kx = side == kLeftSide ? half.x + kKnobColumnDip : half.Right() - kKnobColumnDip;
  const float fx = side == kLeftSide ? half.Right() - kFaderMarginDip - kFaderWidthDip : half.x + kFaderMarginDip;
  const float y0 = mixer.y + kStripTopDip;
  const float bottomRow = mixer.Bottom() - kBottomRowGapDip;
  const float span = bottomRow - kRowGapDip - y0;
  const float row = span / kKnobRows;
  const float r = std::clamp((row - kRowKnobAllowanceDip) / 2, kMinStripKnobRadius, kMaxStripKnobRadius);
  const auto rowY = [&](int n) { return y0 + (n + 0.5f) * row - kRowLiftDip; };

  DrawText(DeckLetter(deck), Rc{kx - kLetterHalfWidthDip, mixer.y + kHeaderTopDip, 2 * kLetterHalfWidthDip, kHeaderHeightDip},
           kLetterSize, c, kAlignCenter, true, kFontBahnschrift);
  DrawText(L"VOL", Rc{fx, mixer.y + kHeaderTopDip, kFaderWidthDip, kHeaderHeightDip}, kVolSize, ColorOf(Pal.Dim),
           kAlignCenter, true, kFontBahnschrift);

  StripKnob(StripControlId(side, kStripGain), kx, rowY(0), r, &view.gain, 0, 1, kNeutral, ColorOf(Pal.Text), L"GAIN");
  EqBand(StripControlId(side, kStripHigh), kx, rowY(1), r, &view.eqHigh, &view.eqKillMemory[0], c, L"HIGH");
  EqBand(StripControlId(side, kStripMid), kx, rowY(2), r, &view.eqMid, &view.eqKillMemory[1], c, L"MID");
  EqBand(StripControlId(side, kStripLow), kx, rowY(3), r, &view.eqLow, &view.eqKillMemory[2], c, L"LOW");
  ColorFxKnob(deck, side, kx, rowY(4), r);

  Fader(StripControlId(side, kStripFader), Rc{fx, y0, kFaderWidthDip, span}, &view.fader, kDefaultLevel, c, false);

  const Color purple = ColorOf(Pal.Purple);
  if (Button(StripControlId(side, kStripVox), Rc{kx + kVoxDx, bottomRow, kStemButtonWidthDip, kButtonHeightDip}, L"VOX",
             purple, view.stemPreset == kStemPresetVocals, kStemButtonSize))
    SetStemPreset(deck, kStemPresetVocals);
  if (Button(StripControlId(side, kStripInst), Rc{kx + kInstDx, bottomRow, kStemButtonWidthDip, kButtonHeightDip},
             L"INST", purple, view.stemPreset == kStemPresetInstrumental, kStemButtonSize))
    SetStemPreset(deck, kStemPresetInstrumental);
  if (Button(StripControlId(side, kStripCue), Rc{fx, bottomRow, kFaderWidthDip, kButtonHeightDip}, L"CUE",
             ColorOf(Pal.Yellow), view.headphoneCue, kCueButtonSize))
    view.headphoneCue = !view.headphoneCue;
}

MixerBottomRow LayOutMixerBottom(Rc r) {
  const float bottom = r.Bottom();
  return MixerBottomRow{
      .crossfader = Rc{r.x + kXFaderInsetDip, bottom - kXFaderBottomGapDip, r.w - 2 * kXFaderInsetDip, kXFaderHeightDip},
      .glideA = Rc{r.x + kGlideInsetDip, bottom - kGlideBottomGapDip, kGlideButtonW, kGlideButtonH},
      .glideB = Rc{r.Right() - kGlideInsetDip - kGlideButtonW, bottom - kGlideBottomGapDip, kGlideButtonW, kGlideButtonH}};
}

void DrawMixer(Rc r) {
  if (OffScreen(r)) return;
  const float x = r.x, y = r.y, w = r.w, h = r.h;
  const float half = (w - kMasterColumnDip) / 2;
  const float cxm = x + half + kMasterColumnDip / 2;
  const int left = SideDeck(kLeftSide), right = SideDeck(kRightSide);

  DrawPanel(r, kPanelRadius);
  SoftGlow(x, y + kSideGlowY * h, kSideGlowRx * w, kSideGlowRy * h,
           ColorOf(DeckColour(left), PulseOf(left) * kSideGlowPulseAlpha + kSideGlowBaseAlpha));
  SoftGlow(x + w, y + kSideGlowY * h, kSideGlowRx * w, kSideGlowRy * h,
           ColorOf(DeckColour(right), PulseOf(right) * kSideGlowPulseAlpha + kSideGlowBaseAlpha));

  DrawChannelStrip(left, Rc{x, y, half, h}, r);
  DrawChannelStrip(right, Rc{x + w - half, y, half, h}, r);
  DrawMasterColumn(r, cxm, left, right);

  const MixerBottomRow row = LayOutMixerBottom(r);
  XFader(row.crossfader, kDefaultCrossfader);

  const Rc glideA = row.glideA, glideB = row.glideB;
  const Color deckA = ColorOf(Pal.DeckA), deckB = ColorOf(Pal.DeckB);
  GlideButton(kGlideToAId, glideA, L"A", deckA, 0.0f);
  GlideButton(kGlideToBId, glideB, L"B", deckB, 1.0f);
  // The side the cross-fader favours glows more.
  const float position = std::isfinite(CrossfaderPosition) ? std::clamp(CrossfaderPosition, 0.0f, 1.0f) : 0.5f;
  GlowText(L"A", glideA, kGlideTextSize, WithAlpha(deckA, (1 - position) * kGlideGlowShare + kGlideGlowBase),
           kAlignCenter, true);
  GlowText(L"B", glideB, kGlideTextSize, WithAlpha(deckB, position * kGlideGlowShare + kGlideGlowBase), kAlignCenter,
           true);
}
