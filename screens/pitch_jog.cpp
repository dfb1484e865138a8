#include "screens/pitch_jog.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/settings.h"
#include "broadcast/video_window.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/jog_loops.h"
#include "engine/render_helpers.h"
#include "engine/side_slots.h"
#include "engine/transport.h"
#include "screens/cover_art.h"
#include "screens/deck_panel.h"
#include "screens/main_screen.h"
#include "ui/glow.h"
#include "ui/knobs.h"
#include "ui/widgets.h"

namespace {

// ---- pitch column ----
constexpr float kRangeButtonHeightDip = 20, kRangeButtonFont = 11;
constexpr float kFaderTopGapDip = 26, kFaderHeightLossDip = 76;
constexpr float kReadoutGapDip = 3, kReadoutHeightDip = 18, kReadoutOverhangDip = 10, kReadoutSize = 11.5f;
constexpr double kZeroOffset = 0.00001;  // a smaller offset reads as no change
constexpr float kNudgeHeightDip = 22, kNudgeGapDip = 2, kNudgeFont = 14;

// ---- jog ----
constexpr int kTickMarks = 40;
constexpr int kTrailArcs = 6;
constexpr float kTrailStepDeg = 9;
constexpr float kLabelShare = 0.44f;  // label radius / wheel radius without art
constexpr float kArtLabelShare = 0.62f;  // ... with the cover on it
constexpr float kCentreHoleDip = 3.5f;
const Color kPlatterCentre = ColorOf(0x2A2F3A), kPlatterRim = ColorOf(0x0D0F14);
const Color kTickColour = ColorOf(0x444A58);
const Color kLabelInner = ColorOf(0x161920), kLabelInnerTouched = ColorOf(0x262B36), kLabelOuter = ColorOf(0x07080B);
// The state word's pill over a label picture.
constexpr float kPillPadDip = 16, kPillHeightDip = 18, kPillDropShare = 0.42f;
const Color kPillColour = ColorOf(0x07080B, 0.78f);

// The pointer's angle at the previous frame of a jog drag, radians; the one value the jog keeps.
double jogLastAngle = 0;

Color DeckColourOf(int deck) { return ColorOf(DeckColour(deck)); }

float TempoOffsetPercent(const DeckView& view) { return static_cast<float>(TempoOffsetOf(view) * 100.0); }

}  // namespace

// ---- arithmetic ----

float NextPitchRange(float range, bool back) {
  int nearest = 0;
  for (int i = 1; i < kPitchRangeCount; ++i)
    if (std::fabs(PitchRanges[i] - range) < std::fabs(PitchRanges[nearest] - range)) nearest = i;
  const int step = back ? kPitchRangeCount - 1 : 1;
  return PitchRanges[(nearest + step) % kPitchRangeCount];
}

float FaderForRange(float fader, float oldRange, float newRange) {
  if (!(newRange > 0)) return fader;
  const float offset = (0.5f - fader) * 2 * oldRange;
  return std::clamp(0.5f - offset / (2 * newRange), 0.0f, 1.0f);
}

double WrapAngleDelta(double from, double to) {
  double d = std::fmod(to - from, kTwoPi);
  if (d > std::numbers::pi) d -= kTwoPi;
  if (d < -std::numbers::pi) d += kTwoPi;
  return d;
}

double PlatterAngleDegrees(double seconds) {
  if (!std::isfinite(seconds)) return 0;
  const double turns = seconds / kJogTurnSeconds;
  return (turns - std::floor(turns)) * 360.0;
}

const wchar_t* JogStateWord(int deck) {
  const DeckSnapshot& s = DeckSnapshots[deck];
  if (s.jogTouched) return L"SCRATCH";
  if (s.stopEffect) return L"BRAKE";
  if (s.reverse) return L"REVERSE";
  if (s.loopOn) return L"LOOP";
  if (s.playing) return L"PLAYING";
  if (s.track) return L"PAUSED";
  return L"";
}

PitchColumnLayout LayOutPitchColumn(Rc r) {
  PitchColumnLayout l;
  l.range = Rc{r.x, r.y, r.w, kRangeButtonHeightDip};
  l.fader = Rc{r.x, r.y + kFaderTopGapDip, r.w, r.h - kFaderHeightLossDip};
  l.readout = Rc{r.x - kReadoutOverhangDip, l.fader.Bottom() + kReadoutGapDip, r.w + 2 * kReadoutOverhangDip,
                 kReadoutHeightDip};
  const float half = r.w / 2 - kNudgeGapDip;
  const float rowY = r.Bottom() - kNudgeHeightDip;
  l.nudgeDown = Rc{r.x, rowY, half, kNudgeHeightDip};
  l.nudgeUp = Rc{r.x + r.w / 2 + kNudgeGapDip, rowY, half, kNudgeHeightDip};
  return l;
}

// ---- pitch fader column ----

void DrawPitchFader(int deck, Rc r) {
  if (r.w <= 0 || r.h <= 0 || OffScreen(r)) return;
  DeckView& view = LiveDeckViews[deck];
  const Color colour = DeckColourOf(deck);
  const bool shift = AnyShiftHeld();

  const PitchColumnLayout l = LayOutPitchColumn(r);
  const std::wstring range = fmt::format(L"±{}%", static_cast<int>(std::lround(view.pitchRange * 100)));
  if (Button(DeckControlId(deck, kPitchRangeCode), l.range, range, ColorOf(Pal.Dim), false, kRangeButtonFont)) {
    const float next = NextPitchRange(view.pitchRange, shift);
    view.tempoFader = FaderForRange(view.tempoFader, view.pitchRange, next);
    view.pitchRange = next;
  }

  Fader(DeckControlId(deck, kPitchFaderCode), l.fader, &view.tempoFader, 0.5f, colour, true);

  const float offset = TempoOffsetPercent(view);
  DrawText(fmt::format(L"{:+.2f}%", offset), l.readout, kReadoutSize,
           ColorOf(std::fabs(offset) < kZeroOffset * 100 ? Pal.Dim : Pal.Text), kAlignCenter, false, kFontBahnschrift);

  const int down = DeckControlId(deck, kNudgeDownCode), up = DeckControlId(deck, kNudgeUpCode);
  Button(down, l.nudgeDown, L"−", ColorOf(Pal.Dim), IsHeld(down), kNudgeFont);
  Button(up, l.nudgeUp, L"+", ColorOf(Pal.Dim), IsHeld(up), kNudgeFont);
  // The later assignment wins, so holding both bends up.
  view.bendHeld = 0;
  if (IsHeld(down)) view.bendHeld = -kNudgeBend;
  if (IsHeld(up)) view.bendHeld = kNudgeBend;
}

// ---- jog wheel ----

namespace {

void HandleJogInput(int deck, float cx, float cy, float radius) {
  DeckView& view = LiveDeckViews[deck];
  const DeckSnapshot& snap = DeckSnapshots[deck];
  const int id = DeckControlId(deck, kJogCode);
  const Rc square{cx - radius, cy - radius, 2 * radius, 2 * radius};
  const float dx = Input.x - cx, dy = Input.y - cy;
  const bool onWheel = dx * dx + dy * dy <= radius * radius;
  const double angle = std::atan2(dy, dx);

  if (midiLearnOn) {
    TakeLearnClick(id, square);
  } else if (onWheel && snap.track && Input.pressed && ActiveControlId == kNoActiveControl) {
    ActiveControlId = id;
    jogLastAngle = angle;
    JogTouch(deck);
  } else if (ActiveControlId == id && Input.held) {
    const double turn = WrapAngleDelta(jogLastAngle, angle);
    jogLastAngle = angle;
    if (turn != 0) JogScratch(deck, turn / kTwoPi * kJogTurnSeconds);
  }
  if (ActiveControlId == id && !midiLearnOn && Input.released) {
    JogRelease(deck);
  }
  if (onWheel && ActiveControlId == kNoActiveControl && snap.track && Input.wheel != 0)
    view.jogBend = std::clamp(view.jogBend + Input.wheel * kWheelBendStep, -kMaxJogBend, kMaxJogBend);
}

// The cover turning with the platter, clipped to the label, under a veil with a centre hole.
void DrawArtLabel(const std::shared_ptr<Bitmap>& art, float cx, float cy, float labelR, double degrees,
                  bool touched) {
  const double a = degrees * std::numbers::pi / 180.0;
  const float c = static_cast<float>(std::cos(a)), s = static_cast<float>(std::sin(a));
  const Affine turn{c, s, -s, c, cx - c * cx + s * cy, cy - s * cx - c * cy};
  const Affine saved = GetTransform();
  SetTransform(Compose(turn, saved));
  DrawImage(art, Rc{cx - labelR, cy - labelR, 2 * labelR, 2 * labelR}, 1, labelR);
  SetTransform(saved);
  FillCircle(cx, cy, labelR, Color{0, 0, 0, touched ? 0.3f : 0.12f});
  FillCircle(cx, cy, kCentreHoleDip, kLabelOuter);
  StrokeCircle(cx, cy, kCentreHoleDip, Color{1, 1, 1, 0.25f}, 1);
}

PointF OnCircle(float cx, float cy, float radius, double degrees) {
  const double a = degrees * std::numbers::pi / 180.0;
  return PointF{cx + radius * static_cast<float>(std::sin(a)), cy - radius * static_cast<float>(std::cos(a))};
}

}  // namespace

void DrawJog(int deck, float cx, float cy, float radius) {
  if (!(radius > 0)) return;
  const Rc square{cx - radius, cy - radius, 2 * radius, 2 * radius};
  if (OffScreen(square)) return;
  HandleJogInput(deck, cx, cy, radius);

  const DeckSnapshot& snap = DeckSnapshots[deck];
  const DeckView& view = LiveDeckViews[deck];
  const Color colour = DeckColourOf(deck);
  const float pulse = BeatPulse[deck];
  const bool touched = snap.jogTouched;
  const bool active = snap.playing || touched;
  const float r = radius;
  const double rate = snap.track && snap.track->sampleRate > 0 ? snap.track->sampleRate : 1;
  const double angle = snap.track ? PlatterAngleDegrees(snap.position / rate) : 0;

  SoftGlow(cx, cy, r * 1.15f, r * 1.15f, WithAlpha(colour, active ? 0.1f + 0.12f * pulse : 0.04f));
  FillRadialEllipse(cx, cy, r, kPlatterCentre, kPlatterRim, -0.3f, -0.4f);
  StrokeCircle(cx, cy, r - 1, Color{0, 0, 0, 0.7f}, 2);
  StrokeCircle(cx, cy, r - 2.5f, Color{1, 1, 1, 0.06f}, 1);
  StrokeCircle(cx, cy, r - 6, WithAlpha(Lighten(colour, 0.2f), active ? 0.75f + 0.25f * pulse : 0.3f), 2.5f);
  GlowRing(cx, cy, r - 6, WithAlpha(colour, active ? 0.7f + 0.3f * pulse : 0.25f), 4 + 3 * pulse);

  for (int i = 0; i < kTickMarks; ++i) {
    const PointF p = OnCircle(cx, cy, r - 16, angle + i * 360.0 / kTickMarks);
    FillRect(Rc{p.x - 0.75f, p.y - 0.75f, 1.5f, 1.5f}, kTickColour);
  }
  const std::shared_ptr<Bitmap> art =
      snap.track && !view.loading && Settings.DeckArt ? RequestArt(snap.track->path) : nullptr;
  const float labelR = r * (art ? kArtLabelShare : kLabelShare);
  const Color mark = Lighten(colour, 0.35f);
  if (active) {
    const Color trail = Lighten(colour, 0.5f);
    for (int k = 1; k <= kTrailArcs; ++k) {
      const float end = static_cast<float>(angle) - (k - 1) * kTrailStepDeg;
      const Color c = WithAlpha(trail, (1.0f - static_cast<float>(k) / kTrailArcs) * 0.9f);
      DrawArc(cx, cy, r - 11, end - kTrailStepDeg, end, c, 3);
      GlowArc(cx, cy, r - 11, end - kTrailStepDeg, end, c, 5);
    }
  }
  const PointF a = OnCircle(cx, cy, std::max(labelR + 3, r / 2), angle);
  const PointF b = OnCircle(cx, cy, r - 11, angle);
  DrawLine(a.x, a.y, b.x, b.y, mark, 4);
  GlowLine(a.x, a.y, b.x, b.y, mark, 6);

  FillRadialEllipse(cx, cy, labelR, touched ? kLabelInnerTouched : kLabelInner, kLabelOuter, 0, 0);
  // The deck shown on its side fills the label with its video while a frame is at hand.
  const int side = deck % 2;
  const bool video = SideSlots[side] == deck && DrawDeckVideo(DrawTarget(), side, cx, cy, labelR, 1.0f);
  if (!video && art) DrawArtLabel(art, cx, cy, labelR, angle, touched);
  StrokeCircle(cx, cy, labelR, WithAlpha(colour, 0.35f + 0.4f * pulse), 1.2f);
  if (view.jogHeld) {
    StrokeCircle(cx, cy, labelR + 4, Lighten(colour, 0.4f), 2);
    GlowRing(cx, cy, labelR + 4, colour, 3);
  }
  GlowRing(cx, cy, labelR, WithAlpha(colour, active ? 0.3f + 0.4f * pulse : 0.1f), 2);

  const bool picture = video || art;
  if (!picture) {
    const Rc letter{cx - 30, cy - 22, 60, 30};
    DrawText(DeckLetter(deck), letter, 26, WithAlpha(colour, 0.55f), kAlignCenter, true, kFontBahnschrift);
    GlowText(DeckLetter(deck), letter, 26, WithAlpha(colour, active ? 0.45f + 0.45f * pulse : 0.2f), kAlignCenter,
             true);
  }

  const wchar_t* word = JogStateWord(deck);
  if (*word && picture) {
    // Over the picture the word sits on a dark pill.
    const Color c = snap.loopOn ? ColorOf(Pal.Green) : active ? ColorOf(Pal.Text) : WithAlpha(ColorOf(Pal.Text), 0.85f);
    const float pillW = TextWidth(word, 10, true, kFontBahnschrift) + kPillPadDip;
    const Rc pill{cx - pillW / 2, cy + kPillDropShare * labelR - kPillHeightDip / 2, pillW, kPillHeightDip};
    FillRoundedRect(pill, kPillHeightDip / 2, kPillColour);
    DrawText(word, pill, 10, c, kAlignCenter, true, kFontBahnschrift);
  } else if (*word) {
    const Color c = snap.loopOn ? ColorOf(Pal.Green) : ColorOf(active ? Pal.Text : Pal.Dim);
    const Rc box{cx - 40, cy + 6, 80, 16};
    DrawText(word, box, 10, c, kAlignCenter, true, kFontBahnschrift);
    if (active) GlowText(word, box, 10, WithAlpha(c, 0.5f), kAlignCenter, true);
  }
  MidiLearnMark(DeckControlId(deck, kJogCode), square);
}
