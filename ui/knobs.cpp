#include "ui/knobs.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "base/palette.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "engine/mixer_controls.h"
#include "ui/glow.h"
#include "ui/widgets.h"

namespace {

constexpr float kPi = 3.14159265358979f;

// Input.
constexpr float kFineDragShare = 0.2f;       // Shift drags five times finer
constexpr float kMinDragLengthDip = 1.0f;    // a shorter travel cannot be dragged
constexpr float kKnobDragDip = 180.0f;       // mouse travel for a knob's whole range
constexpr float kKnobWheelShare = 0.04f;     // of the range per notch
constexpr float kFaderWheelStep = 0.02f;
constexpr float kXFaderWheelStep = 0.03f;    // per notch; away from the user moves left
constexpr float kKnobHitMarginDip = 5.0f;
// The part of a fader or cross-fader that the cap cannot travel: half a cap at each end.
constexpr float kFaderCapLengthDip = 22.0f;
constexpr float kXFaderCapLengthDip = 26.0f;

// Knob look: 270 degrees of travel, centred on the top.
constexpr float kKnobSweepDeg = 270.0f;
constexpr float kKnobStartDeg = -135.0f;
constexpr float kKnobRingGapDip = 5.0f;
constexpr Color kKnobTrack = ColorOf(0x05060A);
constexpr float kKnobTrackWidth = 3.5f, kKnobArcWidth = 3.0f, kKnobArcGlowWidth = 4.0f;
constexpr float kKnobArcGlowAlpha = 0.9f;
constexpr Color kKnobBody = ColorOf(0x3A3F4D), kKnobBodyDragged = ColorOf(0x4A505F), kKnobEdge = ColorOf(0x16181F);
constexpr float kKnobHighlightX = -0.35f, kKnobHighlightY = -0.45f;  // of the radius
constexpr Color kKnobOutline{0, 0, 0, 0.6f};
constexpr float kKnobOutlineWidth = 1.2f;
constexpr Color kKnobInnerRing{1, 1, 1, 0.07f};
constexpr float kPointerWidth = 2.2f, kPointerInnerShare = 0.3f, kPointerTipInsetDip = 3.0f;
constexpr float kValueDotRadius = 2.2f, kValueDotGlowRadius = 3.5f, kValueDotLighten = 0.5f;
constexpr float kKnobLabelHalfWidthDip = 34.0f, kKnobLabelGapDip = 6.0f, kKnobLabelHeightDip = 12.0f;
constexpr float kKnobLabelSize = 9.5f;

// Fader and cross-fader look.
constexpr int kScaleTicks = 11;
constexpr int kCentreTick = 5;
constexpr float kLongTickDip = 10.0f, kShortTickDip = 5.0f, kXShortTickDip = 6.0f;
constexpr float kTickInsetDip = 2.0f;
constexpr Color kSlot = ColorOf(0x030407);
constexpr float kSlotHalfWidthDip = 3.0f, kSlotRadius = 3.0f;
constexpr float kFillHalfWidthDip = 1.5f, kFillGlowHalfWidthDip = 2.5f, kFillRadius = 1.5f, kFillGlowRadius = 2.0f;
constexpr float kFillAlpha = 0.9f, kFillGlowAlpha = 0.7f;
constexpr float kMinFillDip = 1.0f;
constexpr float kXFillAlpha = 0.8f, kXFillGlowAlpha = 0.5f;
constexpr Color kCapTop = ColorOf(0x4A5060), kCapTopDragged = ColorOf(0x5A6172), kCapBottom = ColorOf(0x22262F);
constexpr Color kCapOutline{0, 0, 0, 0.6f};
constexpr Color kCapHighlight{1, 1, 1, 0.25f};
constexpr float kCapRadius = 3.0f;
constexpr float kCapLineLighten = 0.3f, kCapLineWidth = 2.0f, kCapGlowWidth = 3.0f;
constexpr Color kXCapGlow{1, 1, 1, 0.8f};

// Level meter: -42 dBFS is empty, +3 dBFS full.
constexpr int kMeterSegments = 20;
constexpr int kMeterLastGreen = 12, kMeterLastYellow = 16;
constexpr float kMeterFloorDb = -42.0f, kMeterRangeDb = 45.0f;
constexpr float kMeterMinLevel = 0.00001f;
constexpr float kMeterGapDip = 2.0f;
constexpr float kMeterRadius = 1.0f;
constexpr float kMeterGlowAlpha = 0.6f, kMeterDarkAlpha = 0.09f;

// What the common input handling needs to know of one continuous control.
struct Travel {
  Rc area;           // where the mouse grabs it
  float lo, hi;      // value range, lo < hi
  float defaultValue;
  float wheelStep;   // value change per wheel notch away from the user
  bool horizontal;   // drag axis: mouse right is positive; else mouse up is positive
  float length;      // mouse travel for the whole range
};

// The value as drawn and dragged: clamped, and the default when it is not a number.
float Usable(float v, const Travel& t) { return std::isfinite(v) ? std::clamp(v, t.lo, t.hi) : t.defaultValue; }

// The mouse, wheel and controller input of one continuous control, in the widget protocol's
// order. Updates *v (always within lo..hi) and returns whether it changed.
bool TravelInput(int id, const Travel& t, float* v) {
  controlKinds[id] = kControlKindAbsolute;
  const float coord = t.horizontal ? Input.x : -Input.y;
  bool changed = false;
  if (midiLearnOn) {
    TakeLearnClick(id, t.area);
  } else {
    if (MouseIn(t.area)) {
      if (Input.pressed && Input.doubleClicked) {
        *v = t.defaultValue;
        changed = true;
      } else if (Input.pressed) {
        DragStartValue = *v;
        DragStartCoord = coord;
        ActiveControlId = id;
      }
      if (Input.wheel != 0 && std::isfinite(Input.wheel)) {
        *v = std::clamp(*v + Input.wheel * t.wheelStep, t.lo, t.hi);
        changed = true;
      }
    }
    // The value follows the distance from the press point, so letting Shift go mid-drag jumps
    // back to the coarse position.
    if (ActiveControlId == id && Input.held && t.length >= kMinDragLengthDip) {
      const float fine = Input.shiftHeld ? kFineDragShare : 1.0f;
      const float dragged =
          std::clamp(DragStartValue + (coord - DragStartCoord) / t.length * (t.hi - t.lo) * fine, t.lo, t.hi);
      if (dragged != *v) {
        *v = dragged;
        changed = true;
      }
    }
  }
  // Controller input wins over the mouse in the same frame.
  if (auto it = absolutePositions.find(id); it != absolutePositions.end() && std::isfinite(it->second)) {
    *v = t.lo + (t.hi - t.lo) * std::clamp(it->second, 0.0f, 1.0f);
    changed = true;
  }
  return changed;
}

// The cap of a fader or the cross-fader: lighter while it is dragged.
void DrawFaderCap(Rc cap, bool dragged) {
  FillGradientRoundedRect(cap, kCapRadius, dragged ? kCapTopDragged : kCapTop, kCapBottom);
  StrokeRoundedRect(cap, kCapRadius, kCapOutline, 1);
}

// The lit part of a slot, with its glow over `glow`.
void DrawTravelFill(Rc fill, Rc glow, Color c, float alpha, float glowAlpha, float glowRadius) {
  FillRoundedRect(fill, kFillRadius, WithAlpha(c, alpha));
  GlowRoundedRect(glow, glowRadius, WithAlpha(c, glowAlpha));
}

}  // namespace

bool Knob(int id, float cx, float cy, float r, float* value, float min, float max, float defaultValue, Color colour,
          std::wstring_view label, bool fromCentre) {
  assert(value && min < max && "Knob needs a value and a range with min < max");
  const float side = 2 * r + 2 * kKnobHitMarginDip;
  const Rc area{cx - r - kKnobHitMarginDip, cy - r - kKnobHitMarginDip, side, side};
  if (!value || !(min < max) || OffScreen(area)) return false;
  RecordWidgetRect(id, area);

  const Travel travel{.area = area,
                      .lo = min,
                      .hi = max,
                      .defaultValue = std::clamp(defaultValue, min, max),
                      .wheelStep = (max - min) * kKnobWheelShare,
                      .horizontal = false,
                      .length = kKnobDragDip};
  float v = Usable(*value, travel);
  const bool changed = TravelInput(id, travel, &v);
  if (changed) *value = v;

  const float a = (v - min) / (max - min) * kKnobSweepDeg + kKnobStartDeg;
  const float ring = r + kKnobRingGapDip;
  const float start = fromCentre ? 0.0f : kKnobStartDeg;
  DrawArc(cx, cy, ring, kKnobStartDeg, kKnobStartDeg + kKnobSweepDeg, kKnobTrack, kKnobTrackWidth);
  DrawArc(cx, cy, ring, start, a, colour, kKnobArcWidth);
  GlowArc(cx, cy, ring, start, a, WithAlpha(colour, kKnobArcGlowAlpha), kKnobArcGlowWidth);
  const bool dragged = ActiveControlId == id;
  FillRadialEllipse(cx, cy, r, dragged ? kKnobBodyDragged : kKnobBody, kKnobEdge, kKnobHighlightX, kKnobHighlightY);
  StrokeCircle(cx, cy, r, kKnobOutline, kKnobOutlineWidth);
  StrokeCircle(cx, cy, r - kKnobOutlineWidth, kKnobInnerRing, 1);
  // 0 degrees points up and angles grow clockwise, so the direction is (sin a, -cos a).
  const float dx = std::sin(a * kPi / 180), dy = -std::cos(a * kPi / 180);
  const float inner = r * kPointerInnerShare, tip = r - kPointerTipInsetDip;
  DrawLine(cx + dx * inner, cy + dy * inner, cx + dx * tip, cy + dy * tip, ColorOf(Pal.Text), kPointerWidth);
  FillCircle(cx + dx * ring, cy + dy * ring, kValueDotRadius, Lighten(colour, kValueDotLighten));
  GlowCircle(cx + dx * ring, cy + dy * ring, kValueDotGlowRadius, colour);
  if (!label.empty())
    DrawText(label, Rc{cx - kKnobLabelHalfWidthDip, cy + r + kKnobLabelGapDip, 2 * kKnobLabelHalfWidthDip,
                       kKnobLabelHeightDip},
             kKnobLabelSize, ColorOf(Pal.Dim), kAlignCenter, true, kFontBahnschrift);
  MidiLearnMark(id, area);
  return changed;
}

bool Fader(int id, Rc r, float* value, float defaultValue, Color colour, bool centreDetent) {
  assert(value && "Fader needs a value");
  if (!value || OffScreen(r)) return false;
  RecordWidgetRect(id, r);

  const float length = r.h - kFaderCapLengthDip;
  const Travel travel{.area = r,
                      .lo = 0,
                      .hi = 1,
                      .defaultValue = std::clamp(defaultValue, 0.0f, 1.0f),
                      .wheelStep = kFaderWheelStep,
                      .horizontal = false,
                      .length = length};
  float v = Usable(*value, travel);
  const bool changed = TravelInput(id, travel, &v);
  if (changed) *value = v;

  const float top = r.y + kFaderCapLengthDip / 2, cx = r.CenterX();
  for (int i = 0; i < kScaleTicks; ++i) {
    const float ty = top + i * length / (kScaleTicks - 1);
    const bool centre = centreDetent && i == kCentreTick;
    const float tick = centre ? kLongTickDip : kShortTickDip;
    const Color c = ColorOf(centre ? Pal.Dim : Pal.Faint);
    DrawLine(r.x + kTickInsetDip, ty, r.x + kTickInsetDip + tick, ty, c, 1);
    DrawLine(r.Right() - kTickInsetDip - tick, ty, r.Right() - kTickInsetDip, ty, c, 1);
  }
  FillRoundedRect(Rc{cx - kSlotHalfWidthDip, top - 2, 2 * kSlotHalfWidthDip, length + 4}, kSlotRadius, kSlot);
  const float capY = top + (1 - v) * length;
  const float reference = centreDetent ? top + length / 2 : top + length;
  if (std::fabs(reference - capY) > kMinFillDip) {
    const float y0 = std::min(reference, capY), h = std::fabs(reference - capY);
    DrawTravelFill(Rc{cx - kFillHalfWidthDip, y0, 2 * kFillHalfWidthDip, h},
                   Rc{cx - kFillGlowHalfWidthDip, y0, 2 * kFillGlowHalfWidthDip, h}, colour, kFillAlpha,
                   kFillGlowAlpha, kFillGlowRadius);
  }
  DrawFaderCap(Rc{r.x + 5, capY - 11, r.w - 10, 22}, ActiveControlId == id);
  DrawLine(r.x + 8, capY - 10, r.Right() - 8, capY - 10, kCapHighlight, 1);
  DrawLine(r.x + 9, capY, r.Right() - 9, capY, Lighten(colour, kCapLineLighten), kCapLineWidth);
  GlowLine(r.x + 7, capY, r.Right() - 7, capY, colour, kCapGlowWidth);
  MidiLearnMark(id, r);
  return changed;
}

bool XFader(Rc r, float defaultPosition) {
  if (OffScreen(r)) return false;

  const float length = r.w - kXFaderCapLengthDip;
  const Travel travel{.area = r,
                      .lo = 0,
                      .hi = 1,
                      .defaultValue = std::clamp(defaultPosition, 0.0f, 1.0f),
                      .wheelStep = -kXFaderWheelStep,
                      .horizontal = true,
                      .length = length};
  float v = Usable(CrossfaderPosition, travel);
  const bool changed = TravelInput(kCrossfaderControlId, travel, &v);
  if (changed) CrossfaderPosition = v;

  const float left = r.x + kXFaderCapLengthDip / 2, cy = r.CenterY();
  for (int i = 0; i < kScaleTicks; ++i) {
    const float tx = left + i * length / (kScaleTicks - 1);
    const bool centre = i == kCentreTick;
    DrawLine(tx, r.y + kTickInsetDip, tx, r.y + (centre ? kLongTickDip : kXShortTickDip),
             ColorOf(centre ? Pal.Dim : Pal.Faint), 1);
  }
  FillRoundedRect(Rc{left - 2, cy - kSlotHalfWidthDip, length + 4, 2 * kSlotHalfWidthDip}, kSlotRadius, kSlot);
  const float capX = left + length * v;
  const Rc leftPart{left, cy - kFillHalfWidthDip, capX - left, 2 * kFillHalfWidthDip};
  const Rc rightPart{capX, cy - kFillHalfWidthDip, left + length - capX, 2 * kFillHalfWidthDip};
  if (leftPart.w > kMinFillDip)
    DrawTravelFill(leftPart, leftPart, ColorOf(Pal.DeckA), kXFillAlpha, kXFillGlowAlpha, kFillGlowRadius);
  if (rightPart.w > kMinFillDip)
    DrawTravelFill(rightPart, rightPart, ColorOf(Pal.DeckB), kXFillAlpha, kXFillGlowAlpha, kFillGlowRadius);
  DrawFaderCap(Rc{capX - 13, r.y + 4, 26, r.h - 8}, ActiveControlId == kCrossfaderControlId);
  DrawLine(capX - 10, r.y + 5, capX + 10, r.y + 5, kCapHighlight, 1);
  DrawLine(capX, r.y + 8, capX, r.Bottom() - 8, ColorOf(Pal.Text), kCapLineWidth);
  GlowLine(capX, r.y + 6, capX, r.Bottom() - 6, kXCapGlow, kCapGlowWidth);
  MidiLearnMark(kCrossfaderControlId, r);
  return changed;
}

int LitMeterSegments(float level) {
  if (!(level > kMeterMinLevel)) level = kMeterMinLevel;  // silence, and a level that is not a number
  const float db = 20 * std::log10(level);
  const float fill = std::clamp((db - kMeterFloorDb) / kMeterRangeDb, 0.0f, 1.0f);
  int lit = 0;
  while (lit < kMeterSegments && fill > (lit + 0.5f) / kMeterSegments) ++lit;
  return lit;
}

void DrawLevelMeter(Rc r, float level) {
  const float segment = (r.h - kMeterGapDip * (kMeterSegments - 1)) / kMeterSegments;
  if (!(segment > 0) || OffScreen(r)) return;
  const int lit = LitMeterSegments(level);
  for (int i = 0; i < kMeterSegments; ++i) {
    const Rc s{r.x, r.Bottom() - (i + 1) * segment - kMeterGapDip * i, r.w, segment};
    const Color c = ColorOf(i <= kMeterLastGreen ? Pal.Green : i <= kMeterLastYellow ? Pal.Yellow : Pal.Red);
    if (i < lit) {
      FillRoundedRect(s, kMeterRadius, c);
      GlowRoundedRect(s, kMeterRadius, WithAlpha(c, kMeterGlowAlpha));
    } else {
      FillRoundedRect(s, kMeterRadius, WithAlpha(c, kMeterDarkAlpha));
    }
  }
}
