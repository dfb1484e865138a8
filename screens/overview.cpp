#include "screens/overview.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/beat_grid.h"
#include "base/musical_keys.h"
#include "base/settings.h"
#include "base/track_info.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/jog_loops.h"
#include "engine/side_slots.h"
#include "platform/window.h"
#include "screens/main_screen.h"
#include "screens/waveform.h"
#include "ui/glow.h"
#include "ui/language.h"
#include "ui/widgets.h"

namespace {

constexpr Color kWhite{1, 1, 1, 1};
constexpr double kNoBeat = std::numeric_limits<double>::quiet_NaN();

// Overview frame and bands.
constexpr float kOverviewRadius = 4.0f;
constexpr Color kOverviewTop = ColorOf(0x090B10), kOverviewBottom = ColorOf(0x040508);
constexpr Color kOverviewEdge = ColorOf(0x1C2029);
constexpr float kSeekStepDip = 1.0f;        // a drag seeks again once the mouse moved this far
constexpr float kBandMarginDip = 3.0f;      // between the tallest band and the strip's edge
constexpr float kMinBandHalf = 0.5f;
constexpr float kPlayedAlpha = 0.35f, kUnplayedAlpha = 0.9f;
constexpr float kOverviewLoopAlpha = 0.35f, kMinLoopWidthDip = 2.0f;
constexpr float kMemoryHalfDip = 3.5f, kMemoryHeightDip = 5.0f;
constexpr float kMarkerHalfDip = 4.0f, kMarkerHeightDip = 6.0f;
constexpr float kPhraseBarHeight = 3.0f, kPhraseBarAlpha = 0.8f, kPhraseGapDip = 1.0f;
constexpr float kProgressGlowHeight = 2.0f, kProgressGlowAlpha = 0.6f;
constexpr float kOverviewPlayheadWidth = 2.0f;
constexpr float kOverviewWhiteGlowAlpha = 0.9f, kOverviewWhiteGlowWidth = 3.0f;
constexpr float kOverviewDeckGlowAlpha = 0.7f, kOverviewDeckGlowWidth = 6.0f;

// One band of the overview: its palette colour and its share of the half height.
struct OverviewBand {
  uint32_t Palette::*colour;
  uint8_t WavePoint::*level;
  float scale;
};
constexpr OverviewBand kOverviewBands[] = {
    {&Palette::WaveLow, &WavePoint::low, 1.0f},
    {&Palette::WaveMid, &WavePoint::mid, 0.8f},
    {&Palette::WaveHigh, &WavePoint::high, 0.55f},
};

// Phase meter.
constexpr float kMeterShareOfWidth = 0.3f, kMaxMeterWidthDip = 420.0f;
constexpr float kLeftDotsGapDip = 16.0f, kDotsSpanDip = 64.0f, kRightDotsGapDip = 20.0f;
constexpr float kTrackHalfHeight = 2.5f;
constexpr Color kTrackFill{0, 0, 0, 0.6f};
constexpr Color kTrackEdge = ColorOf(0x2A2F3B);
constexpr float kCentreTickHalfDip = 6.0f, kCentreTickAlpha = 0.35f;
constexpr float kPhaseLabelDx = 174.0f, kPhaseLabelW = 60.0f, kPhaseLabelSize = 8.5f;
constexpr float kOffsetBarHalf = 2.0f, kOffsetBarAlpha = 0.6f;
constexpr float kPhaseDotRadius = 5.0f, kPhaseDotGlowAlpha = 0.9f;
constexpr float kInPhaseGlowBase = 0.35f, kInPhaseGlowPulse = 0.3f;
constexpr int kBeatDots = 4;
constexpr float kDotStepDip = 16.0f, kDotW = 12.0f, kDotH = 6.0f, kDotRadius = 3.0f, kUnlitDotAlpha = 0.12f;
constexpr float kDotGlowBase = 0.5f, kDotGlowPulse = 0.5f;

// Status chip.
constexpr double kNextCueMinAheadS = 0.01;  // a cue this close counts as passed
constexpr double kMaxCueBeatsAhead = 256.0;
constexpr int64_t kBeatsPerBar = 4, kBeatsPerPhrase = 32;
constexpr float kChipTextSize = 9.5f, kChipTextPadDip = 14.0f;
constexpr float kChipDx = 6.0f, kChipDy = 5.0f, kChipExtraW = 20.0f, kChipH = 17.0f, kChipRadius = 8.5f;
constexpr Color kChipFill{0, 0, 0, 0.6f};
constexpr float kChipEdgeAlpha = 0.45f;
constexpr float kBadgeDx = 8.0f, kBadgeDy = 7.0f, kBadgeSize = 13.0f;
constexpr Color kBadgeText = ColorOf(0x06070A);
constexpr float kBadgeTextSize = 9.0f;
constexpr float kBadgeGlowBase = 0.6f, kBadgeGlowPulse = 0.4f;
constexpr float kChipTextDx = 27.0f, kChipTextAlpha = 0.85f;

// The stem parts as the chip names them, in stem-switch order.
constexpr const wchar_t* kStemPartNames[kStemSwitches] = {L"VOCALS", L"DRUMS", L"BASS", L"MELODY"};
constexpr uint32_t kPresetVocalsOnly = 1, kPresetNoVocals = 2;

// A deck's overview columns (each band's half heights), worked out once per track and strip
// size: a track's waveform never changes once a deck holds it, so a playing deck's frames only
// move the playhead over the same columns.
struct OverviewColumns {
  TrackPtr track;
  int columns = 0;
  float halfRange = 0;
  std::vector<float> bands[std::size(kOverviewBands)];
};
OverviewColumns KeptColumns[kEngineDecks];

Color DeckColourOf(int deck, float alpha = 1.0f) { return ColorOf(DeckColour(deck), alpha); }

bool HasTrack(int deck) {
  return ValidDeck(deck) && DeckSnapshots[deck].track && DeckSnapshots[deck].track->sampleRate > 0;
}

// The beat under the deck's play position, NaN without a track.
double CurrentBeat(int deck) {
  if (!HasTrack(deck)) return kNoBeat;
  const DeckSnapshot& shot = DeckSnapshots[deck];
  return BeatAtTime(*shot.track, shot.position / shot.track->sampleRate);
}

bool StemMuted(const DeckView& view, int part) {
  if (!view.stemOn[static_cast<size_t>(part)]) return true;
  if (view.stemPreset == kPresetVocalsOnly) return part != 0;
  if (view.stemPreset == kPresetNoVocals) return part == 0;
  return false;
}

std::wstring StemStatus(const DeckView& view) {
  if (view.stemsRunning)
    return fmt::format(L"  \u2022  STEMS {}%", std::lround(view.stemProgress->load() * 100.0f));
  if (!view.stemsReady) return {};
  std::wstring muted;
  for (int part = 0; part < kStemSwitches; ++part) {
    if (!StemMuted(view, part)) continue;
    if (!muted.empty()) muted += L' ';
    muted += kStemPartNames[part];
  }
  return muted.empty() ? L"  \u2022  STEMS \u2713" : L"  \u2022  MUTED: " + muted;
}

// The earliest memory cue or hot-cue start later than `after` seconds; NaN when there is none.
double NextCueSeconds(const DeckSnapshot& shot, const DeckView& view, double after) {
  double best = kNoBeat;
  const auto consider = [&](double t) {
    if (t > after && !(t >= best)) best = t;
  };
  for (double seconds : view.memoryCues) consider(seconds);
  for (double start : shot.hotCueStart)
    if (start >= 0) consider(start / shot.track->sampleRate);
  return best;
}

float OverviewX(const OverviewContext& ctx, double frames) {
  return ctx.r.x + static_cast<float>(ctx.r.w * (frames / ctx.frames));
}

void HandleOverviewMouse(int deck, Rc r) {
  const int32_t id = OverviewControlId(deck);
  if (!midiLearnOn && PressStarts(r)) {
    ActiveControlId = id;
    DragStartCoord = std::numeric_limits<float>::quiet_NaN();  // the press itself seeks
  }
  if (ActiveControlId == id && Input.held && !(std::fabs(Input.x - DragStartCoord) < kSeekStepDip)) {
    SeekToFraction(deck, (Input.x - r.x) / r.w);
    DragStartCoord = Input.x;
  }
}

// Band maxima per column: column i covers points i x n / W .. max((i + 1) x n / W, start + 1) - 1.
void FillOverviewColumns(const Track& track, int columns, float halfRange, OverviewColumns* kept) {
  const int64_t n = static_cast<int64_t>(track.waveform.size());
  for (size_t b = 0; b < std::size(kOverviewBands); ++b) {
    const OverviewBand& band = kOverviewBands[b];
    std::vector<float>& out = kept->bands[b];
    out.resize(static_cast<size_t>(columns));
    for (int i = 0; i < columns; ++i) {
      const int64_t from = i * n / columns;
      const int64_t to = std::min(std::max((i + 1) * n / columns, from + 1), n);
      uint8_t peak = 0;
      for (int64_t p = from; p < to; ++p) peak = std::max(peak, track.waveform[static_cast<size_t>(p)].*band.level);
      out[static_cast<size_t>(i)] = std::max(peak / 255.0f * halfRange * band.scale, kMinBandHalf);
    }
  }
}

void DrawOverviewBands(int deck, const TrackPtr& track, Rc r, float playheadX) {
  if (track->waveform.empty()) return;
  const int columns = std::max(1, static_cast<int>(r.w));
  const float cy = r.CenterY(), halfRange = r.h / 2 - kBandMarginDip;
  OverviewColumns& kept = KeptColumns[deck];
  if (kept.track != track || kept.columns != columns || kept.halfRange != halfRange) {
    FillOverviewColumns(*track, columns, halfRange, &kept);
    kept.track = track;
    kept.columns = columns;
    kept.halfRange = halfRange;
  }
  const int played = std::clamp(static_cast<int>(std::ceil(playheadX - r.x)), 0, columns);
  for (size_t b = 0; b < std::size(kOverviewBands); ++b) {
    const Color c = ColorOf(Pal.*kOverviewBands[b].colour);
    const float* half = kept.bands[b].data();
    FillWaveColumns(half, 0, played - 1, r.x, cy, r.h / 2, c, c, kPlayedAlpha);
    FillWaveColumns(half, played, columns - 1, r.x, cy, r.h / 2, c, c, kUnplayedAlpha);
  }
}

void DrawOverviewPhrases(const OverviewContext& ctx, const Track& track, const std::vector<Phrase>& phrases) {
  const float bottom = ctx.r.Bottom();
  for (size_t k = 0; k < phrases.size(); ++k) {
    const float x1 = OverviewX(ctx, TimeAtBeat(track, phrases[k].beat) * track.sampleRate);
    const float x2 = k + 1 < phrases.size() ? OverviewX(ctx, TimeAtBeat(track, phrases[k + 1].beat) * track.sampleRate)
                                            : ctx.r.Right();
    FillRect(Rc{x1, bottom - kPhraseBarHeight, std::max(x2 - x1 - kPhraseGapDip, 1.0f), kPhraseBarHeight},
             ColorOf(PhraseKindColour(phrases[k].kind), kPhraseBarAlpha));
  }
}

}  // namespace

float OverviewPlayheadX(Rc r, double positionFrames, double trackFrames) {
  const float dpi = CurrentDpi();
  const double scale = dpi > 0 ? dpi / kBaseDpi : 1.0;
  const double fraction = trackFrames > 0 ? std::clamp(positionFrames / trackFrames, 0.0, 1.0) : 0.0;
  return r.x + static_cast<float>(std::round(r.w * scale * fraction) / scale);
}

// ---- track overview -------------------------------------------------------------------------

void DrawOverviewMarker(const OverviewContext& ctx, double positionFrames, uint32_t colour) {
  const float mx = OverviewX(ctx, positionFrames);
  FillTriangle(PointF{mx - kMarkerHalfDip, ctx.r.y}, PointF{mx + kMarkerHalfDip, ctx.r.y},
               PointF{mx, ctx.r.y + kMarkerHeightDip}, ColorOf(colour));
}

void DrawOverview(int deck, Rc r) {
  if (!ValidDeck(deck) || !(r.w > 0 && r.h > 0) || OffScreen(r)) return;
  const bool loaded = HasTrack(deck) && DeckSnapshots[deck].track->frames > 0;
  if (loaded) HandleOverviewMouse(deck, r);
  FillGradientRoundedRect(r, kOverviewRadius, kOverviewTop, kOverviewBottom);
  StrokeRoundedRect(r, kOverviewRadius, kOverviewEdge, 1);
  if (!loaded) return;
  const DeckSnapshot& shot = DeckSnapshots[deck];
  const DeckView& view = LiveDeckViews[deck];
  const Track& track = *shot.track;
  const OverviewContext ctx{r, static_cast<double>(track.frames)};
  const float px = OverviewPlayheadX(r, shot.position, ctx.frames);
  DrawOverviewBands(deck, shot.track, r, px);
  if (shot.loopOn) {
    const float x1 = OverviewX(ctx, shot.loopIn), x2 = OverviewX(ctx, shot.loopOut);
    FillRect(Rc{x1, r.y, std::max(x2 - x1, kMinLoopWidthDip), r.h}, ColorOf(Pal.Green, kOverviewLoopAlpha));
  }
  const Color red = ColorOf(Pal.Red);
  for (double seconds : view.memoryCues) {
    const float mx = OverviewX(ctx, seconds * track.sampleRate);
    FillTriangle(PointF{mx - kMemoryHalfDip, r.Bottom()}, PointF{mx + kMemoryHalfDip, r.Bottom()},
                 PointF{mx, r.Bottom() - kMemoryHeightDip}, red);
  }
  DrawOverviewMarker(ctx, shot.cuePoint, Pal.Yellow);
  for (int i = 0; i < kHotCues; ++i)
    if (shot.hotCueStart[static_cast<size_t>(i)] >= 0)
      DrawOverviewMarker(ctx, shot.hotCueStart[static_cast<size_t>(i)],
                         HotCueColourOf(i, view.hotCueColour[static_cast<size_t>(i)]));
  DrawOverviewPhrases(ctx, track, view.phrases);

  GlowRoundedRect(Rc{r.x, r.Bottom() - kProgressGlowHeight, px - r.x, kProgressGlowHeight}, 0,
                  DeckColourOf(deck, kProgressGlowAlpha));
  DrawLine(px, r.y, px, r.Bottom(), kWhite, kOverviewPlayheadWidth);
  GlowLine(px, r.y, px, r.Bottom(), WithAlpha(kWhite, kOverviewWhiteGlowAlpha), kOverviewWhiteGlowWidth);
  GlowLine(px, r.y, px, r.Bottom(), DeckColourOf(deck, kOverviewDeckGlowAlpha), kOverviewDeckGlowWidth);
}

// ---- phase meter ----------------------------------------------------------------------------

double PhaseOffsetBeats(double leftBeat, double rightBeat) {
  const double d = (rightBeat - std::floor(rightBeat)) - (leftBeat - std::floor(leftBeat));
  return d - std::round(d);
}

uint32_t PhaseColour(double offsetBeats) {
  const double a = std::fabs(offsetBeats);
  return a < kInPhaseBeats ? Pal.Green : a < kNearPhaseBeats ? Pal.Yellow : Pal.Red;
}

int LitBeatDot(double beat) {
  if (!std::isfinite(beat)) return -1;
  const double m = std::fmod(std::floor(beat), static_cast<double>(kBeatDots));
  return static_cast<int>(m < 0 ? m + kBeatDots : m);
}

void DrawBeatDots(const PhaseMeterContext& ctx, int deck, double beat, float x) {
  if (!ValidDeck(deck)) return;
  const int lit = HasTrack(deck) ? LitBeatDot(beat) : -1;
  for (int i = 0; i < kBeatDots; ++i) {
    const Rc dot{x + kDotStepDip * i, ctx.centreY - kDotH / 2, kDotW, kDotH};
    FillRoundedRect(dot, kDotRadius, DeckColourOf(deck, i == lit ? 1.0f : kUnlitDotAlpha));
    if (i == lit) GlowRoundedRect(dot, kDotRadius, DeckColourOf(deck, BeatPulse[deck] * kDotGlowPulse + kDotGlowBase));
  }
}

void DrawPhaseMeter(Rc r) {
  if (!(r.w > 0 && r.h > 0) || OffScreen(r)) return;
  const int left = SideSlots[kLeftSide], right = SideSlots[kRightSide];
  const double bL = CurrentBeat(left), bR = CurrentBeat(right);
  const float w = std::min(kMeterShareOfWidth * r.w, kMaxMeterWidthDip);
  const float cx = r.CenterX(), x0 = cx - w / 2, cy = r.CenterY();
  const PhaseMeterContext ctx{cy};
  DrawBeatDots(ctx, left, bL, x0 - kLeftDotsGapDip - kDotsSpanDip);
  DrawBeatDots(ctx, right, bR, x0 + w + kRightDotsGapDip);

  const Rc track{x0, cy - kTrackHalfHeight, w, 2 * kTrackHalfHeight};
  FillRoundedRect(track, kTrackHalfHeight, kTrackFill);
  StrokeRoundedRect(track, kTrackHalfHeight, kTrackEdge, 1);
  DrawLine(cx, cy - kCentreTickHalfDip, cx, cy + kCentreTickHalfDip, WithAlpha(kWhite, kCentreTickAlpha), 1);
  DrawText(L"PHASE", Rc{x0 - kPhaseLabelDx, r.y, kPhaseLabelW, r.h}, kPhaseLabelSize, ColorOf(Pal.Faint), kAlignLeft,
           true, kFontBahnschrift);

  if (!std::isfinite(bL) || !std::isfinite(bR)) return;
  const double d = PhaseOffsetBeats(bL, bR);
  const float mx = cx + static_cast<float>(d) * w;
  const Color c = ColorOf(PhaseColour(d));
  FillRoundedRect(Rc{std::min(cx, mx), cy - kOffsetBarHalf, std::fabs(mx - cx), 2 * kOffsetBarHalf}, kOffsetBarHalf,
                  WithAlpha(c, kOffsetBarAlpha));
  const Rc dot{mx - kPhaseDotRadius, cy - kPhaseDotRadius, 2 * kPhaseDotRadius, 2 * kPhaseDotRadius};
  FillRoundedRect(dot, kPhaseDotRadius, c);
  GlowRoundedRect(dot, kPhaseDotRadius, WithAlpha(c, kPhaseDotGlowAlpha));
  // The in-phase glow follows the two decks the meter compares.
  if (std::fabs(d) < kInPhaseBeats && DeckSnapshots[left].playing && DeckSnapshots[right].playing)
    GlowRoundedRect(track, kTrackHalfHeight,
                    ColorOf(Pal.Green, std::max(BeatPulse[left], BeatPulse[right]) * kInPhaseGlowPulse +
                                           kInPhaseGlowBase));
}

// ---- deck status chip -----------------------------------------------------------------------

std::wstring DeckStatusText(int deck, const Track* track) {
  if (!track || !ValidDeck(deck) || track->sampleRate <= 0) return {};
  const DeckSnapshot& shot = DeckSnapshots[deck];
  const DeckView& view = LiveDeckViews[deck];
  const std::wstring key = KeyName(DeckKey(deck), Settings.Camelot);
  const std::wstring bpm = BpmText(DeckBpm(deck), 1);
  std::wstring text = bpm.empty() ? key : fmt::format(L"{} BPM{}{}", bpm, key.empty() ? L"" : L"  \u2022  ", key);

  const double now = shot.position / track->sampleRate;
  // Without a tempo there are no bars to count.
  const double beat = bpm.empty() ? kNoBeat : BeatAtTime(*track, now);
  if (beat >= 0) {
    const int64_t f = static_cast<int64_t>(std::floor(beat));
    text += fmt::format(L"  \u2022  BAR {}.{}  \u2022  PHRASE IN {}", f / kBeatsPerBar + 1, f % kBeatsPerBar + 1,
                        kBeatsPerPhrase - f % kBeatsPerPhrase);
  }
  const double cue = shot.track.get() == track ? NextCueSeconds(shot, view, now + kNextCueMinAheadS) : kNoBeat;
  if (std::isfinite(cue)) {
    const double d = BeatAtTime(*track, cue) - beat;
    if (d < kMaxCueBeatsAhead) {
      const int64_t g = static_cast<int64_t>(std::floor(d));
      text += fmt::format(L"  \u2022  CUE IN {}.{}", g / kBeatsPerBar, g % kBeatsPerBar + 1);
    }
  }
  text += StemStatus(view);
  return text;
}

void DrawDeckStatus(int deck, Rc r, const Track* track) {
  if (!ValidDeck(deck)) return;
  const std::wstring shown = Translate(DeckStatusText(deck, track));
  const float tw = shown.empty() ? 0.0f : TextWidth(shown, kChipTextSize, true, kFontBahnschrift) + kChipTextPadDip;
  const Rc chip{r.x + kChipDx, r.y + kChipDy, tw + kChipExtraW, kChipH};
  FillRoundedRect(chip, kChipRadius, kChipFill);
  StrokeRoundedRect(chip, kChipRadius, DeckColourOf(deck, kChipEdgeAlpha), 1);
  const Rc badge{r.x + kBadgeDx, r.y + kBadgeDy, kBadgeSize, kBadgeSize};
  FillRoundedRect(badge, kBadgeSize / 2, DeckColourOf(deck));
  DrawTextAsIs(DeckLetter(deck), badge, kBadgeTextSize, kBadgeText, kAlignCenter, true, kFontBahnschrift);
  GlowCircle(badge.CenterX(), badge.CenterY(), kBadgeSize / 2,
             DeckColourOf(deck, BeatPulse[deck] * kBadgeGlowPulse + kBadgeGlowBase));
  DrawTextAsIs(shown, Rc{r.x + kChipTextDx, r.y + kChipDy, tw, kChipH}, kChipTextSize,
               ColorOf(Pal.Text, kChipTextAlpha), kAlignLeft, true, kFontBahnschrift);
}
