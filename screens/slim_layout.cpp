#include "screens/slim_layout.h"

#include <algorithm>

#include "base/palette.h"
#include "engine/deck_view.h"
#include "engine/mixer_controls.h"
#include "engine/side_slots.h"
#include "screens/deck_panel.h"
#include "screens/main_screen.h"
#include "screens/mixer.h"
#include "screens/overview.h"
#include "ui/glow.h"
#include "ui/knobs.h"
#include "ui/widgets.h"

namespace {

constexpr float kPanelRadius = 8.0f;
constexpr float kDefaultLevel = 0.8f;
constexpr float kFilterOff = 0.0f;

// ---- slim deck ----
constexpr float kWashHeightDip = 40.0f;               // from y + 1 to y + 41
constexpr float kWashPulseAlpha = 0.06f, kWashBaseAlpha = 0.1f;
constexpr float kAccentInsetDip = 14.0f, kAccentHeightDip = 2.0f, kAccentRadius = 1.0f, kAccentLighten = 0.2f;
constexpr float kAccentGlowHeightDip = 4.0f, kAccentGlowRadius = 2.0f;
constexpr float kAccentGlowPulseAlpha = 0.2f, kAccentGlowBaseAlpha = 0.8f;
constexpr float kDropOutlineInsetDip = 1.0f, kDropOutlineWidth = 2.0f;
constexpr float kContentInsetDip = 10.0f;
constexpr float kHeaderTopDip = 8.0f, kHeaderHeightDip = 42.0f;
constexpr float kOverviewTopDip = 54.0f, kOverviewHeightDip = 22.0f;
constexpr float kRowTopDip = 82.0f, kRowBottomGapDip = 8.0f;
constexpr float kMaxTransportDip = 260.0f;
constexpr float kRowGapDip = 10.0f;

// ---- slim mixer ----
constexpr float kKnobRowDip = 32.0f;
constexpr float kVolumeDx = 34.0f, kVolumeRadius = 14.0f;
constexpr float kFilterDx = 86.0f, kFilterRadius = 12.0f;
constexpr float kMasterRadius = 14.0f;
constexpr float kGlideButtonW = 28.0f, kGlideButtonH = 26.0f;
constexpr float kGlideInsetDip = 12.0f, kGlideBottomGapDip = 41.0f;
constexpr float kXFaderInsetDip = 44.0f, kXFaderBottomGapDip = 46.0f, kXFaderHeightDip = 36.0f;
constexpr float kDefaultCrossfader = 0.5f;

int SideDeck(int side) {
  const int deck = SideSlots[side];
  return ValidDeck(deck) ? deck : side;
}

// The channel volume and filter of one side's deck; the ids are the full strip's.
void SideKnobs(int deck, float volumeX, float filterX, float y) {
  DeckView& view = LiveDeckViews[deck];
  const int side = deck % 2;
  Knob(StripControlId(side, kStripFader), volumeX, y, kVolumeRadius, &view.fader, 0, 1, kDefaultLevel,
       ColorOf(DeckColour(deck)), L"VOL " + DeckLetter(deck), false);
  Knob(StripControlId(side, kStripColorFx), filterX, y, kFilterRadius, &view.filter, -1, 1, kFilterOff,
       ColorOf(Pal.Purple), L"FILTER", true);
}

}  // namespace

SlimControlRow SlimControlRowOf(int deck, Rc r) {
  const float tw = std::min(r.w / 2, kMaxTransportDip);
  const float lw = (r.w - 2 * kContentInsetDip) - tw - kRowGapDip;
  const float y = r.y + kRowTopDip, h = r.h - kRowTopDip - kRowBottomGapDip;
  if (deck % 2 == kLeftSide)
    return SlimControlRow{.transport = Rc{r.x + kContentInsetDip, y, tw, h},
                          .loops = Rc{r.x + 2 * kContentInsetDip + tw, y, lw, h}};
  return SlimControlRow{.transport = Rc{r.Right() - kContentInsetDip - tw, y, tw, h},
                        .loops = Rc{r.x + kContentInsetDip, y, lw, h}};
}

Rc SlimOverviewRect(Rc r) {
  return Rc{r.x + kContentInsetDip, r.y + kOverviewTopDip, r.w - 2 * kContentInsetDip, kOverviewHeightDip};
}

void DrawSlimDeck(int deck, Rc r) {
  if (!ValidDeck(deck) || OffScreen(r)) return;
  const float x = r.x, y = r.y, w = r.w;
  const Color c = ColorOf(DeckColour(deck));
  const float pulse = BeatPulse[deck];

  DrawPanel(r, kPanelRadius);
  FillGradientRoundedRect(Rc{x + 1, y + 1, w - 2, kWashHeightDip}, kPanelRadius,
                          WithAlpha(c, pulse * kWashPulseAlpha + kWashBaseAlpha), WithAlpha(c, 0));
  FillRoundedRect(Rc{x + kAccentInsetDip, y, w - 2 * kAccentInsetDip, kAccentHeightDip}, kAccentRadius,
                  Lighten(c, kAccentLighten));
  GlowRoundedRect(Rc{x + kAccentInsetDip, y - kAccentHeightDip / 2, w - 2 * kAccentInsetDip, kAccentGlowHeightDip},
                  kAccentGlowRadius, WithAlpha(c, pulse * kAccentGlowPulseAlpha + kAccentGlowBaseAlpha));
  if (RowDropTarget() == deck)
    StrokeRoundedRect(r.Inset(kDropOutlineInsetDip, kDropOutlineInsetDip), kPanelRadius, c, kDropOutlineWidth);

  DrawDeckHeader(deck, Rc{x + kContentInsetDip, y + kHeaderTopDip, w - 2 * kContentInsetDip, kHeaderHeightDip});
  DrawOverview(deck, SlimOverviewRect(r));
  const SlimControlRow row = SlimControlRowOf(deck, r);
  DrawTransport(deck, row.transport);
  DrawLoopControls(deck, row.loops);
}

void DrawSlimMixer(Rc r) {
  if (OffScreen(r)) return;
  const float x = r.x, w = r.w, rowY = r.y + kKnobRowDip;
  const int left = SideDeck(kLeftSide), right = SideDeck(kRightSide);

  DrawPanel(r, kPanelRadius);
  SideKnobs(left, x + kVolumeDx, x + kFilterDx, rowY);
  Knob(kMasterLevelId, x + w / 2, rowY, kMasterRadius, &MasterSection.masterLevel, 0, 1, kDefaultLevel,
       ColorOf(Pal.Text), L"MASTER", false);
  SideKnobs(right, x + w - kVolumeDx, x + w - kFilterDx, rowY);

  // The letters name the cross-fader's ends, whichever decks the slots hold.
  const float glideY = r.Bottom() - kGlideBottomGapDip;
  GlideButton(kGlideToAId, Rc{x + kGlideInsetDip, glideY, kGlideButtonW, kGlideButtonH}, L"A",
              ColorOf(DeckColour(left)), 0.0f);
  GlideButton(kGlideToBId, Rc{x + w - kGlideInsetDip - kGlideButtonW, glideY, kGlideButtonW, kGlideButtonH}, L"B",
              ColorOf(DeckColour(right)), 1.0f);
  XFader(Rc{x + kXFaderInsetDip, r.Bottom() - kXFaderBottomGapDip, w - 2 * kXFaderInsetDip, kXFaderHeightDip},
         kDefaultCrossfader);
}
