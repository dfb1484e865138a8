#include "screens/waveform.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "base/beat_grid.h"
#include "base/cue_colours.h"
#include "base/settings.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/jog_loops.h"
#include "platform/window.h"
#include "screens/kept_lanes.h"
#include "screens/layout.h"
#include "screens/main_screen.h"
#include "screens/overview.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"
#include "ui/language.h"
#include "ui/widgets.h"

float WaveformZoom = kDefaultWaveformZoom;

const std::array<PhraseStyle, 4> kPhraseStyles = {{
    {.kind = 0, .label = L"INTRO", .colour = 0x3BA7FF},
    {.kind = 1, .label = L"DROP", .paletteField = &Palette::Red},
    {.kind = 2, .label = L"BREAK", .paletteField = &Palette::Purple},
    {.kind = 3, .label = L"OUTRO", .colour = 0x8C93A6},
}};

namespace {

constexpr Color kWhite{1, 1, 1, 1};

// Lane frame.
constexpr float kLaneRadius = kLaneRadiusDip;
constexpr Color kLaneTop = ColorOf(0x0C0F17), kLaneBottom = ColorOf(0x05060A);
constexpr float kSheenAlpha = 0.03f;
constexpr float kFrameAlphaBase = 0.2f, kFrameAlphaPulse = 0.25f;
constexpr float kFrameGlowAlphaBase = 0.1f, kFrameGlowAlphaPulse = 0.25f, kFrameGlowWidth = 1.5f;

// Empty lane: a resting line with a spot travelling along it.
constexpr float kIdleMarginDip = 24.0f;
constexpr float kIdleLineAlpha = 0.35f;
constexpr double kIdleSpotDeckOffsetDip = 400.0, kIdleSpotSpeedDipPerS = 260.0;
constexpr float kIdleSpotRadiusX = 90.0f, kIdleSpotRadiusY = 14.0f, kIdleSpotAlpha = 0.35f;
constexpr float kIdleSpotLineHalfDip = 50.0f, kIdleSpotLineWidth = 2.0f, kIdleSpotLineAlpha = 0.4f;
// The spot moves in steps of this many milliseconds of the frame clock (about 30 a second): an
// idle screen then draws a small part of itself 30 times a second rather than every frame.
constexpr uint64_t kIdleSpotStepMs = 33;
// The spot asks for the part of the lane it crosses this long ahead: a frame later than that is
// drawn whole.
constexpr uint64_t kIdleSpotAheadMs = 100;
constexpr float kIdleSpotEdgeDip = 1.0f;  // antialiasing beyond the spot's ellipse
constexpr double kMsPerSecond = 1000.0;
constexpr float kIdleTextSizeShort = 10.0f, kIdleTextSize = 11.5f;
constexpr float kIdleTextOffsetDip = 6.0f, kIdleTextHeightDip = 22.0f;

constexpr float kAmplitudeMarginDip = 5.0f;  // between the tallest band and the lane edge
// A deck's rate can reach 0 (pitch range 50 %, fader at the bottom); the lane keeps a scale.
constexpr double kMinLaneRate = 0.05;

// Loop.
constexpr float kLoopTopAlpha = 0.2f, kLoopBottomAlpha = 0.05f;
constexpr float kLoopLineWidth = 1.5f, kLoopLineAlpha = 0.85f;
constexpr float kLoopGlowWidth = 2.0f, kLoopGlowAlpha = 0.9f;

// Beat grid.
constexpr int64_t kMaxGridBeats = 400;          // more visible beats than this: no grid
constexpr double kBarNumberMinBeatDip = 14.0;   // pixels per beat for bar numbers
constexpr int64_t kBeatsPerBar = 4;
constexpr float kBarLineInsetDip = 3.0f, kBarLineAlpha = 0.14f;
constexpr float kBarNumberDx = 3.0f, kBarNumberBottomDip = 14.0f, kBarNumberW = 30.0f, kBarNumberH = 12.0f;
constexpr float kBarNumberSize = 8.5f, kBarNumberAlpha = 0.3f;
constexpr float kTickNearDip = 2.0f, kTickFarDip = 7.0f, kTickAlpha = 0.22f;
constexpr float kTempoMarkerHalfDip = 4.0f, kTempoMarkerHeightDip = 6.0f, kTempoMarkerAlpha = 0.9f;
constexpr float kCentreLineAlpha = 0.05f;

// Band columns.
constexpr float kMidShare = 0.66f, kHighShare = 0.3f;  // of the amplitude
constexpr float kMinColumnHalf = 0.4f;
constexpr float kPlayedOpacity = 0.38f, kUnplayedOpacity = 1.0f;
constexpr Color kLowOuter = ColorOf(0x1650D8), kLowInner = ColorOf(0x5CD0FF);
constexpr Color kMidOuter = ColorOf(0xD9480F, 0.85f), kMidInner = ColorOf(0xFFB347, 0.9f);
constexpr Color kHighOuter{1, 1, 1, 0.25f}, kHighInner{1, 1, 1, 0.8f};

// Peak glows on the part still to play.
constexpr int kPeakStep = 3, kPeakLookAhead = 5;
constexpr float kPeakMinHalf = 1.5f;
constexpr float kPeakGainBase = 0.7f, kPeakGainPulse = 0.5f;
constexpr Color kLowPeakGlow = ColorOf(0x2E9BFF), kMidPeakGlow = ColorOf(0xFF7A1A);
constexpr float kLowPeakAlpha = 0.26f, kMidPeakAlpha = 0.1f;

// Edge fades.
constexpr float kFadeWidthDip = 80.0f;
constexpr Color kFadeColour = ColorOf(0x080A10);
constexpr float kFadeAlpha = 0.95f;

// Markers.
constexpr float kPhraseReachLeftDip = 60.0f;
constexpr float kPhraseLineAlpha = 0.55f, kPhraseBoxAlpha = 0.85f;
constexpr float kPhraseBoxBottomDip = 13.0f, kPhraseBoxHeight = 11.0f, kPhraseBoxPadDip = 8.0f;
constexpr float kPhraseBoxRadius = 3.0f, kPhraseLabelSize = 8.0f;
constexpr float kMemoryReachDip = 10.0f, kMemoryLineAlpha = 0.75f;
constexpr float kMemoryTriangleHalfDip = 5.0f, kMemoryTriangleHeightDip = 7.0f;
constexpr float kMemoryGlowWidth = 1.5f, kMemoryGlowAlpha = 0.35f;
constexpr float kSavedLoopBarBottomDip = 4.0f, kSavedLoopBarHeight = 4.0f, kSavedLoopBarAlpha = 0.6f;
constexpr float kCueReachLeftDip = 120.0f, kCueReachRightDip = 20.0f;
constexpr float kCueLineWidth = 1.5f;
constexpr float kCueFlagW = 14.0f, kCueFlagH = 13.0f, kCueFlagRadius = 2.0f, kCueLabelSize = 9.0f;
constexpr float kCueNameDx = 17.0f, kCueNameW = 110.0f;
constexpr float kCueLineGlowAlpha = 0.7f, kCueFlagGlowAlpha = 0.8f;
constexpr float kSlipLineWidth = 2.0f, kSlipAlpha = 0.9f;

// Playhead.
constexpr float kPlayheadGlowRadiusX = 34.0f, kPlayheadGlowHeightShare = 0.75f;
constexpr float kPlayheadGlowAlphaBase = 0.16f, kPlayheadGlowAlphaPulse = 0.16f;
constexpr float kPlayheadWidth = 2.0f;
constexpr float kPlayheadTriangleHalfDip = 6.0f, kPlayheadTriangleDepthDip = 7.0f;
constexpr float kPlayheadWhiteGlowAlpha = 0.85f, kPlayheadWhiteGlowWidth = 3.0f;
constexpr float kPlayheadDeckGlowAlphaBase = 0.45f, kPlayheadDeckGlowAlphaPulse = 0.5f;
constexpr float kPlayheadDeckGlowWidth = 8.0f;
constexpr float kPlayheadCapInsetDip = 4.0f, kPlayheadCapRadius = 4.0f, kPlayheadCapAlpha = 0.8f;

// A lane's columns (low, mid, high and the smoothing's copy), kept between frames with what they
// were worked out from: a paused deck's lane, or a lane drawn again for another part of the same
// frame, shows the same stretch and reuses them. The track is watched, not held: a track let go
// ends the match, and no other track takes its place under the same pointer meanwhile.
struct LaneColumns {
  std::vector<float> low, mid, high, scratch;
  std::weak_ptr<Track> track;
  const WavePoint* points = nullptr;
  size_t pointCount = 0;
  double positionSeconds = 0, secondsPerPixel = 0;
  float laneX = 0, playheadX = 0, amplitude = 0;
  int n = -1;
  ColumnRange range;
};
LaneColumns KeptColumns[kEngineDecks];
// The peak glows' columns.
std::vector<float> LowPeaks, MidPeaks;

// The deck's columns for the lane in ctx, worked out afresh only when what they show changed.
const LaneColumns& ColumnsOf(int deck, const TrackPtr& track, const WaveLaneContext& ctx, int n) {
  LaneColumns& k = KeptColumns[deck];
  const std::vector<WavePoint>& points = track->waveform;
  if (k.track.lock() == track && k.points == points.data() && k.pointCount == points.size() &&
      k.positionSeconds == ctx.positionSeconds && k.secondsPerPixel == ctx.secondsPerPixel &&
      k.laneX == ctx.lane.x && k.playheadX == ctx.playheadX && k.amplitude == ctx.amplitude && k.n == n)
    return k;
  for (std::vector<float>* columns : {&k.low, &k.mid, &k.high, &k.scratch}) columns->resize(static_cast<size_t>(n));
  k.range = FillBandColumns(points.data(), static_cast<int64_t>(points.size()), ctx.positionSeconds,
                            ctx.secondsPerPixel, ctx.lane.x, ctx.playheadX, ctx.amplitude, n, k.low.data(),
                            k.mid.data(), k.high.data(), k.scratch.data());
  k.track = track, k.points = points.data(), k.pointCount = points.size();
  k.positionSeconds = ctx.positionSeconds, k.secondsPerPixel = ctx.secondsPerPixel;
  k.laneX = ctx.lane.x, k.playheadX = ctx.playheadX, k.amplitude = ctx.amplitude, k.n = n;
  return k;
}

Color DeckColourOf(int deck, float alpha = 1.0f) { return ColorOf(DeckColour(deck), alpha); }

// v[i] = max(v[i], 0.25 v[i-1] + 0.5 v[i] + 0.25 v[i+1]) over first < i < last, from a copy.
void SmoothKeepingPeaks(float* v, float* copy, int first, int last) {
  std::copy(v + first, v + last + 1, copy + first);
  for (int i = first + 1; i < last; ++i)
    v[i] = std::max(copy[i], 0.25f * copy[i - 1] + 0.5f * copy[i] + 0.25f * copy[i + 1]);
}

void FillTriangleDown(float cx, float top, float half, float depth, Color c) {
  FillTriangle(PointF{cx - half, top}, PointF{cx + half, top}, PointF{cx, top + depth}, c);
}

// x moved to the nearest whole device pixel under the current transform (unchanged under a
// turn): a light that steps along a lane then lands on the same place within a pixel at every
// step, and its kept image serves them all instead of being drawn again each step.
float OnWholePixel(float x) {
  const Affine t = GetTransform();
  const float scale = CurrentDpi() / kBaseDpi;
  if (t.m12 != 0 || t.m21 != 0 || !(t.m11 > 0) || !(scale > 0)) return x;
  const float device = (t.m11 * x + t.dx) * scale;
  const float snapped = (std::round(device) / scale - t.dx) / t.m11;
  return std::isfinite(snapped) ? snapped : x;
}

void DrawIdleLane(int deck, Rc r, bool shortLane) {
  const float cy = r.CenterY();
  DrawLine(r.x + kIdleMarginDip, cy, r.Right() - kIdleMarginDip, cy, DeckColourOf(deck, kIdleLineAlpha), 1);
  const double travel = r.w - 2 * kIdleMarginDip;
  if (travel > 0) {
    const uint64_t nowMs = static_cast<uint64_t>(std::llround(std::max(0.0, FrameClock) * kMsPerSecond));
    const uint64_t stepMs = nowMs / kIdleSpotStepMs * kIdleSpotStepMs;
    const double seconds = static_cast<double>(stepMs) / kMsPerSecond;
    const double along = std::fmod(deck * kIdleSpotDeckOffsetDip + seconds * kIdleSpotSpeedDipPerS, travel);
    const float sx = OnWholePixel(r.x + kIdleMarginDip + static_cast<float>(along));
    // The next steps redraw the stretch of the lane the spot crosses, unless it wraps round to
    // the lane's start, which takes the whole travel.
    const double ahead = along + kIdleSpotAheadMs / kMsPerSecond * kIdleSpotSpeedDipPerS;
    // The box holds every pixel the spot changes: the soft glow's ellipse (no glow of its own)
    // and the line with its glow's reach; the rest of the lane stays as it was.
    const float scale = CurrentDpi() / kBaseDpi;
    const float halo = (scale > 0 ? kGlowReachPx / scale : kGlowReachPx) + kIdleSpotEdgeDip;
    const float reach = std::max(kIdleSpotRadiusX + kIdleSpotEdgeDip, kIdleSpotLineHalfDip + halo);
    const float x0 = ahead < travel ? sx - reach : r.x + kIdleMarginDip - reach;
    const float x1 = ahead < travel ? static_cast<float>(r.x + kIdleMarginDip + ahead) + reach
                                    : r.Right() - kIdleMarginDip + reach;
    const float halfHeight = std::max(kIdleSpotRadiusY + kIdleSpotEdgeDip, kIdleSpotLineWidth / 2 + halo);
    RedrawPartAt(stepMs + kIdleSpotStepMs, Rc{x0, cy - halfHeight, x1 - x0, 2 * halfHeight}, stepMs + kIdleSpotAheadMs,
                 0);
    SoftGlow(sx, cy, kIdleSpotRadiusX, kIdleSpotRadiusY, DeckColourOf(deck, kIdleSpotAlpha));
    GlowLine(sx - kIdleSpotLineHalfDip, cy, sx + kIdleSpotLineHalfDip, cy, DeckColourOf(deck, kIdleSpotLineAlpha),
             kIdleSpotLineWidth);
  }
  const std::wstring text = LiveDeckViews[deck].loading ? L"Loading\u2026" : L"Load a track onto deck " + DeckLetter(deck);
  const Color dim = ColorOf(Pal.Dim);
  if (shortLane)
    DrawText(text, r, kIdleTextSizeShort, dim, kAlignCenter, true, kFontBahnschrift);
  else
    DrawText(text, Rc{r.x, cy + kIdleTextOffsetDip, r.w, kIdleTextHeightDip}, kIdleTextSize, dim, kAlignCenter, true,
             kFontBahnschrift);
}

// Scrub drag and wheel zoom of the lane.
void HandleLaneMouse(int deck, Rc r, double secondsPerPixel) {
  const int32_t id = WaveformControlId(deck);
  if (!midiLearnOn && PressStarts(r)) {
    DragStartCoord = Input.x;
    ActiveControlId = id;
    JogTouch(deck);
  } else if (ActiveControlId == id && Input.held && Input.x != DragStartCoord) {
    // Dragging right moves the track backwards, as a hand on a platter.
    JogScratch(deck, -(Input.x - DragStartCoord) * secondsPerPixel);
    DragStartCoord = Input.x;
  }
  if (ActiveControlId == id && Input.released) JogRelease(deck);
  if (MouseIn(r) && Input.wheel != 0.0f)
    WaveformZoom = std::clamp(WaveformZoom * std::pow(kWaveformWheelStep, -Input.wheel), kMinWaveformZoom,
                              kMaxWaveformZoom);
}

void DrawLoopBand(const WaveLaneContext& ctx, const DeckSnapshot& shot, float* x1, float* x2) {
  const Rc& r = ctx.lane;
  *x1 = LaneXOfTime(ctx, shot.loopIn / ctx.sampleRate);
  *x2 = LaneXOfTime(ctx, shot.loopOut / ctx.sampleRate);
  const Color green = ColorOf(Pal.Green);
  GradientBrush* fill = LinearGradientBrush(WithAlpha(green, kLoopTopAlpha), WithAlpha(green, kLoopBottomAlpha),
                                            PointF{0, r.y}, PointF{0, r.Bottom()}, false);
  FillRect(Rc{*x1, r.y, *x2 - *x1, r.h}, fill);
  DrawLine(*x1, r.y, *x1, r.Bottom(), WithAlpha(green, kLoopLineAlpha), kLoopLineWidth);
  DrawLine(*x2, r.y, *x2, r.Bottom(), WithAlpha(green, kLoopLineAlpha), kLoopLineWidth);
}

void DrawBeatGrid(const WaveLaneContext& ctx, const Track& track) {
  const Rc& r = ctx.lane;
  const double pos = ctx.positionSeconds, spp = ctx.secondsPerPixel;
  const double beatLength = BeatLengthAt(track, pos);
  const double t0 = pos - (ctx.playheadX - r.x) * spp;
  const double t1 = pos + (r.Right() - ctx.playheadX) * spp;
  const double first = std::ceil(BeatAtTime(track, t0)), last = std::floor(BeatAtTime(track, t1));
  if (std::isfinite(first) && std::isfinite(last) && last - first < static_cast<double>(kMaxGridBeats)) {
    const bool barNumbers = beatLength / spp > kBarNumberMinBeatDip;
    const Color yellow = ColorOf(Pal.Yellow, kTempoMarkerAlpha);
    for (const TempoMarker& marker : track.tempoMarkers)
      if (marker.seconds >= t0 && marker.seconds <= t1)
        FillTriangleDown(LaneXOfTime(ctx, marker.seconds), r.y, kTempoMarkerHalfDip, kTempoMarkerHeightDip, yellow);
    const Color barLine = WithAlpha(kWhite, kBarLineAlpha), tick = WithAlpha(kWhite, kTickAlpha);
    const Color number = WithAlpha(kWhite, kBarNumberAlpha);
    for (int64_t b = static_cast<int64_t>(first); b <= static_cast<int64_t>(last); ++b) {
      const float sx = LaneXOfTime(ctx, TimeAtBeat(track, static_cast<double>(b)));
      if (((b % kBeatsPerBar) + kBeatsPerBar) % kBeatsPerBar == 0) {
        DrawLine(sx, r.y + kBarLineInsetDip, sx, r.Bottom() - kBarLineInsetDip, barLine, 1);
        if (b >= 0 && barNumbers)
          DrawTextAsIs(std::to_wstring(b / kBeatsPerBar + 1),
                       Rc{sx + kBarNumberDx, r.Bottom() - kBarNumberBottomDip, kBarNumberW, kBarNumberH},
                       kBarNumberSize, number, kAlignLeft, true, kFontBahnschrift);
      } else {
        DrawLine(sx, r.y + kTickNearDip, sx, r.y + kTickFarDip, tick, 1);
        DrawLine(sx, r.Bottom() - kTickFarDip, sx, r.Bottom() - kTickNearDip, tick, 1);
      }
    }
  }
  DrawLine(r.x, ctx.centreY, r.Right(), ctx.centreY, WithAlpha(kWhite, kCentreLineAlpha), 1);
}

// The peaks still to play glow: per kPeakStep columns, the tallest low and mid column of the
// step, each band queued as one column glow (a shape per step made the glow pass draw thousands).
void DrawPeakGlows(const WaveLaneContext& ctx, int n, float pulse) {
  const int first = ctx.low.first, last = ctx.low.last;
  const float gain = pulse * kPeakGainPulse + kPeakGainBase;
  const Color low = WithAlpha(kLowPeakGlow, gain * kLowPeakAlpha), mid = WithAlpha(kMidPeakGlow, gain * kMidPeakAlpha);
  const int played = static_cast<int>(std::clamp(ctx.playheadX - ctx.lane.x, 0.0f, static_cast<float>(n)));
  LowPeaks.assign(static_cast<size_t>(n), -1.0f);
  MidPeaks.assign(static_cast<size_t>(n), -1.0f);
  for (int c = std::max(played, first); c + kPeakLookAhead <= last; c += kPeakStep) {
    const float pL = *std::max_element(ctx.low.half + c, ctx.low.half + c + kPeakStep);
    const float pM = *std::max_element(ctx.mid.half + c, ctx.mid.half + c + kPeakStep);
    if (pL > kPeakMinHalf) std::fill_n(LowPeaks.begin() + c, kPeakStep, pL);
    if (pM > kPeakMinHalf) std::fill_n(MidPeaks.begin() + c, kPeakStep, pM);
  }
  GlowColumns(LowPeaks.data(), n, ctx.lane.x, ctx.centreY, low);
  GlowColumns(MidPeaks.data(), n, ctx.lane.x, ctx.centreY, mid);
}

void DrawEdgeFades(Rc r) {
  const Color solid = WithAlpha(kFadeColour, kFadeAlpha), clear = WithAlpha(kFadeColour, 0);
  const Rc left{r.x + 1, r.y + 1, kFadeWidthDip, r.h - 2};
  FillRect(left, LinearGradientBrush(solid, clear, PointF{left.x, 0}, PointF{left.Right(), 0}, false));
  const Rc right{r.Right() - 1 - kFadeWidthDip, r.y + 1, kFadeWidthDip, r.h - 2};
  FillRect(right, LinearGradientBrush(clear, solid, PointF{right.x, 0}, PointF{right.Right(), 0}, false));
}

void DrawPhraseMarkers(const WaveLaneContext& ctx, const Track& track, const std::vector<Phrase>& phrases) {
  const Rc& r = ctx.lane;
  const Color background = ColorOf(Pal.Background);
  for (const Phrase& phrase : phrases) {
    const float sx = LaneXOfTime(ctx, TimeAtBeat(track, phrase.beat));
    if (sx < r.x - kPhraseReachLeftDip || sx > r.Right()) continue;
    const PhraseStyle& style = PhraseStyleOf(phrase.kind);
    const uint32_t colour = PhraseKindColour(phrase.kind);
    DrawLine(sx, r.y + 2, sx, r.Bottom() - 2, ColorOf(colour, kPhraseLineAlpha), 1);
    const std::wstring label = Translate(style.label);
    const Rc box{sx + 2, r.Bottom() - kPhraseBoxBottomDip,
                 TextWidth(label, kPhraseLabelSize, true, kFontBahnschrift) + kPhraseBoxPadDip, kPhraseBoxHeight};
    FillRoundedRect(box, kPhraseBoxRadius, ColorOf(colour, kPhraseBoxAlpha));
    DrawTextAsIs(label, box, kPhraseLabelSize, background, kAlignCenter, true, kFontBahnschrift);
  }
}

void DrawMemoryCues(const WaveLaneContext& ctx, const std::vector<double>& memoryCues) {
  const Rc& r = ctx.lane;
  const Color red = ColorOf(Pal.Red);
  for (double seconds : memoryCues) {
    const float sx = LaneXOfTime(ctx, seconds);
    if (sx < r.x - kMemoryReachDip || sx > r.Right() + kMemoryReachDip) continue;
    DrawLine(sx, r.y, sx, r.Bottom(), WithAlpha(red, kMemoryLineAlpha), 1);
    FillTriangleDown(sx, r.y, kMemoryTriangleHalfDip, kMemoryTriangleHeightDip, red);
    GlowLine(sx, r.y, sx, r.Bottom(), WithAlpha(red, kMemoryGlowAlpha), kMemoryGlowWidth);
  }
}

void DrawHotCues(const WaveLaneContext& ctx, const DeckSnapshot& shot, const DeckView& view) {
  static const std::wstring kSlotLabels[kHotCues] = {L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8"};
  const Rc& r = ctx.lane;
  for (int i = 0; i < kHotCues; ++i) {
    const double start = shot.hotCueStart[static_cast<size_t>(i)], end = shot.hotCueEnd[static_cast<size_t>(i)];
    if (start < 0) continue;
    const uint32_t colour = HotCueColourOf(i, view.hotCueColour[static_cast<size_t>(i)]);
    if (end > start) {
      const float x1 = LaneXOfTime(ctx, start / ctx.sampleRate), x2 = LaneXOfTime(ctx, end / ctx.sampleRate);
      if (x2 >= r.x && x1 <= r.Right())
        FillRect(Rc{x1, r.Bottom() - kSavedLoopBarBottomDip, x2 - x1, kSavedLoopBarHeight},
                 ColorOf(colour, kSavedLoopBarAlpha));
    }
    DrawCueMarker(ctx, start, colour, kSlotLabels[i], view.hotCueName[static_cast<size_t>(i)]);
  }
}

void DrawPlayhead(int deck, Rc r, float pulse) {
  const float cx = r.CenterX(), cy = r.CenterY(), top = r.y + 1, bottom = r.Bottom() - 1;
  SoftGlow(cx, cy, kPlayheadGlowRadiusX, kPlayheadGlowHeightShare * r.h,
           DeckColourOf(deck, pulse * kPlayheadGlowAlphaPulse + kPlayheadGlowAlphaBase));
  DrawLine(cx, top, cx, bottom, kWhite, kPlayheadWidth);
  FillTriangleDown(cx, top, kPlayheadTriangleHalfDip, kPlayheadTriangleDepthDip, kWhite);
  FillTriangle(PointF{cx - kPlayheadTriangleHalfDip, bottom}, PointF{cx + kPlayheadTriangleHalfDip, bottom},
               PointF{cx, bottom - kPlayheadTriangleDepthDip}, kWhite);
  GlowLine(cx, top, cx, bottom, WithAlpha(kWhite, kPlayheadWhiteGlowAlpha), kPlayheadWhiteGlowWidth);
  GlowLine(cx, top, cx, bottom, DeckColourOf(deck, pulse * kPlayheadDeckGlowAlphaPulse + kPlayheadDeckGlowAlphaBase),
           kPlayheadDeckGlowWidth);
  GlowCircle(cx, r.y + kPlayheadCapInsetDip, kPlayheadCapRadius, WithAlpha(kWhite, kPlayheadCapAlpha));
  GlowCircle(cx, r.Bottom() - kPlayheadCapInsetDip, kPlayheadCapRadius, WithAlpha(kWhite, kPlayheadCapAlpha));
}

void DrawLaneFrame(int deck, Rc r, float pulse) {
  FillGradientRoundedRect(r, kLaneRadius, kLaneTop, kLaneBottom);
  FillGradientRoundedRect(Rc{r.x, r.y, r.w, r.h / 2}, kLaneRadius, WithAlpha(kWhite, kSheenAlpha),
                          WithAlpha(kWhite, 0));
  StrokeRoundedRect(r, kLaneRadius, DeckColourOf(deck, pulse * kFrameAlphaPulse + kFrameAlphaBase), 1);
  GlowOutline(r.Inset(0.5f, 0.5f), kLaneRadius, DeckColourOf(deck, pulse * kFrameGlowAlphaPulse + kFrameGlowAlphaBase),
              kFrameGlowWidth);
}

}  // namespace

// ---- shared tables --------------------------------------------------------------------------

uint32_t HotCueColourOf(int slot, int32_t colourNumber) {
  if (colourNumber >= 0 && colourNumber < kHotCueColourCount) return HotCueColours[static_cast<size_t>(colourNumber)];
  assert(slot >= 0 && slot < kHotCues && "HotCueColourOf takes a slot 0-7");
  return HotCueSlotColours[static_cast<size_t>(std::clamp(slot, 0, kHotCues - 1))];
}

const PhraseStyle& PhraseStyleOf(int32_t kind) {
  return kind >= 0 && kind < 3 ? kPhraseStyles[static_cast<size_t>(kind)] : kPhraseStyles[3];
}

uint32_t PhraseKindColour(int32_t kind) {
  const PhraseStyle& style = PhraseStyleOf(kind);
  return style.paletteField ? Pal.*style.paletteField : style.colour;
}

// ---- columns --------------------------------------------------------------------------------

ColumnRange FillBandColumns(const WavePoint* points, int64_t pointCount, double positionSeconds,
                            double secondsPerPixel, float laneX, float playheadX, float amplitude, int n, float* low,
                            float* mid, float* high, float* scratch) {
  ColumnRange range{0, -1};
  const double count = static_cast<double>(pointCount);
  for (int i = 0; i < n; ++i) {
    low[i] = -1.0f, mid[i] = 0.0f, high[i] = 0.0f;
    const double ti = (i + laneX - playheadX) * secondsPerPixel + positionSeconds;
    const double p0 = std::floor(ti * kWavePointsPerSecond);
    const double p1 = std::max(std::floor((ti + secondsPerPixel) * kWavePointsPerSecond), p0 + 1);
    if (!(p1 > 0 && p0 < count)) continue;
    const int64_t from = static_cast<int64_t>(std::max(p0, 0.0)), to = static_cast<int64_t>(std::min(p1, count));
    uint8_t L = 0, M = 0, H = 0;
    for (int64_t p = from; p < to; ++p) {
      L = std::max(L, points[p].low), M = std::max(M, points[p].mid), H = std::max(H, points[p].high);
    }
    low[i] = L / 255.0f * amplitude;
    mid[i] = M / 255.0f * amplitude * kMidShare;
    high[i] = H / 255.0f * amplitude * kHighShare;
    if (range.last < range.first) range.first = i;
    range.last = i;
  }
  if (range.first < range.last) {
    for (float* band : {low, mid, high}) {
      SmoothKeepingPeaks(band, scratch, range.first, range.last);
      for (int i = range.first; i <= range.last; ++i) band[i] = std::max(band[i], kMinColumnHalf);
    }
  }
  return range;
}

void BuildBandPath(WaveLaneContext::BandShape* out, const float* columns, int first, int last, float laneX,
                   float centreY) {
  *out = WaveLaneContext::BandShape{columns, first, last, laneX, centreY};
}

void DrawBandShapes(const WaveLaneContext& ctx, float opacity) {
  const float a = ctx.amplitude;
  const auto fill = [&](const WaveLaneContext::BandShape& band, float extent, Color outer, Color inner) {
    FillWaveColumns(band.half, band.first, band.last, band.laneX, band.centreY, extent, outer, inner, opacity);
  };
  fill(ctx.low, a, kLowOuter, kLowInner);
  fill(ctx.mid, a * kMidShare, kMidOuter, kMidInner);
  fill(ctx.high, a * kHighShare, kHighOuter, kHighInner);
}

// ---- markers --------------------------------------------------------------------------------

float LaneXOfTime(const WaveLaneContext& ctx, double seconds) {
  return static_cast<float>((seconds - ctx.positionSeconds) / ctx.secondsPerPixel + ctx.playheadX);
}

void DrawCueMarker(const WaveLaneContext& ctx, double positionFrames, uint32_t colour, const std::wstring& label,
                   const std::wstring& name) {
  const Rc& r = ctx.lane;
  const float sx = LaneXOfTime(ctx, positionFrames / ctx.sampleRate);
  if (!(sx >= r.x - kCueReachLeftDip && sx <= r.Right() + kCueReachRightDip)) return;
  const Color c = ColorOf(colour);
  DrawLine(sx, r.y, sx, r.Bottom(), c, kCueLineWidth);
  const Rc flag{sx, r.y, kCueFlagW, kCueFlagH};
  FillRoundedRect(flag, kCueFlagRadius, c);
  DrawTextAsIs(label, flag, kCueLabelSize, ColorOf(Pal.Background), kAlignCenter, true, kFontBahnschrift);
  // Cue names are the user's own words: never translated.
  if (!name.empty() && !ctx.shortLane)
    DrawTextAsIs(name, Rc{sx + kCueNameDx, r.y, kCueNameW, kCueFlagH}, kCueLabelSize, c, kAlignLeft, true,
                 kFontBahnschrift);
  if (sx >= r.x && sx <= r.Right()) {
    GlowLine(sx, r.y, sx, r.Bottom(), WithAlpha(c, kCueLineGlowAlpha), kCueLineWidth);
    GlowRoundedRect(flag, kCueFlagRadius, WithAlpha(c, kCueFlagGlowAlpha));
  }
}

// ---- the lane -------------------------------------------------------------------------------

namespace {

// The lane's body: all but its playhead and status chip, which hold still over a paused lane
// whatever its body shows.
void DrawLaneBody(int deck, WaveLaneContext& ctx, const DeckSnapshot& shot, const DeckView& view, const Track& track) {
  const Rc r = ctx.lane;
  const float pulse = BeatPulse[deck];
  DrawLaneFrame(deck, r, pulse);
  PushClip(r);
  float loopX1 = 0, loopX2 = 0;
  if (shot.loopOn) DrawLoopBand(ctx, shot, &loopX1, &loopX2);
  DrawBeatGrid(ctx, track);

  const int n = std::max(0, static_cast<int>(r.w));
  const LaneColumns& columns = ColumnsOf(deck, shot.track, ctx, n);
  const ColumnRange range = columns.range;
  BuildBandPath(&ctx.low, columns.low.data(), range.first, range.last, r.x, ctx.centreY);
  BuildBandPath(&ctx.mid, columns.mid.data(), range.first, range.last, r.x, ctx.centreY);
  BuildBandPath(&ctx.high, columns.high.data(), range.first, range.last, r.x, ctx.centreY);
  if (range.first < range.last) {
    PushClip(Rc{r.x, r.y, ctx.playheadX - r.x, r.h});
    DrawBandShapes(ctx, kPlayedOpacity);
    PopClip();
    PushClip(Rc{ctx.playheadX, r.y, r.Right() - ctx.playheadX, r.h});
    DrawBandShapes(ctx, kUnplayedOpacity);
    PopClip();
    DrawPeakGlows(ctx, n, pulse);
  }

  DrawEdgeFades(r);
  if (shot.loopOn) {
    const Color green = ColorOf(Pal.Green, kLoopGlowAlpha);
    GlowLine(loopX1, r.y, loopX1, r.Bottom(), green, kLoopGlowWidth);
    GlowLine(loopX2, r.y, loopX2, r.Bottom(), green, kLoopGlowWidth);
  }

  if (!ctx.shortLane) DrawPhraseMarkers(ctx, track, view.phrases);
  DrawMemoryCues(ctx, view.memoryCues);
  static const std::wstring kMainCueLabel = L"C";
  DrawCueMarker(ctx, shot.cuePoint, Pal.Yellow, kMainCueLabel, std::wstring());
  DrawHotCues(ctx, shot, view);
  if (shot.slipOn) {
    const float sx = LaneXOfTime(ctx, shot.slipPosition / ctx.sampleRate);
    DrawLine(sx, r.y, sx, r.Bottom(), ColorOf(Pal.Purple, kSlipAlpha), kSlipLineWidth);
  }
  PopClip();
}

// What DrawLaneBody takes, for DrawLaneBodyKept.
struct LaneBody {
  int deck;
  WaveLaneContext* ctx;
  const DeckSnapshot* shot;
  const DeckView* view;
  const Track* track;
};
void DrawLaneBodyOf(const void* context) {
  const LaneBody& b = *static_cast<const LaneBody*>(context);
  DrawLaneBody(b.deck, *b.ctx, *b.shot, *b.view, *b.track);
}

}  // namespace

void DrawWaveform(int deck, Rc r) {
  if (!ValidDeck(deck) || !(r.w > 0 && r.h > 0) || OffScreen(r)) return;
  const DeckSnapshot& shot = DeckSnapshots[deck];
  const DeckView& view = LiveDeckViews[deck];
  const float pulse = BeatPulse[deck];
  const bool shortLane = r.h < kShortLaneHeight;

  const Track* track = shot.track.get();
  if (!track || track->sampleRate <= 0) {
    DrawLaneFrame(deck, r, pulse);
    DrawIdleLane(deck, r, shortLane);
    DrawDeckStatus(deck, r, nullptr);
    return;
  }

  WaveLaneContext ctx;
  ctx.lane = r;
  ctx.playheadX = r.CenterX();
  ctx.centreY = r.CenterY();
  ctx.amplitude = r.h / 2 - kAmplitudeMarginDip;
  ctx.sampleRate = track->sampleRate;
  ctx.positionSeconds = shot.position / ctx.sampleRate;
  ctx.secondsPerPixel = WaveformZoom * std::max(1.0 + TempoOffsetOf(view), kMinLaneRate) / r.w;
  ctx.shortLane = shortLane;

  // The scale drawn this frame is the one the drag used; a wheel zoom shows from the next frame.
  HandleLaneMouse(deck, r, ctx.secondsPerPixel);

  const DrawSurface* frame = FrameTarget();
  const LaneKey key{.track = track,
                    .waveform = track->waveform.data(),
                    .wavePoints = track->waveform.size(),
                    .position = shot.position,
                    .slipPosition = shot.slipPosition,
                    .secondsPerPixel = ctx.secondsPerPixel,
                    .pulse = pulse,
                    .x = r.x,
                    .y = r.y,
                    .w = r.w,
                    .h = r.h,
                    .device = frame ? frame->DeviceTransform() : Affine{},
                    .frameWidth = frame ? frame->pixelWidth() : 0,
                    .frameHeight = frame ? frame->pixelHeight() : 0,
                    .phrases = view.phrases.size(),
                    .memoryCues = view.memoryCues.size()};
  const LaneBody body{deck, &ctx, &shot, &view, track};
  // Only the screen that draws the decks' motion in parts redraws a still lane in them.
  const bool keep = !shot.playing && VariantOf(Settings.Layout).slimPanels;
  DrawLaneBodyKept(deck, key, kLaneRadius, keep, DrawLaneBodyOf, &body);
  DrawPlayhead(deck, r, pulse);
  DrawDeckStatus(deck, r, track);
}
