#pragma once
// The scrolling waveform lane of one deck: the track moves past a fixed playhead in the middle,
// coloured by frequency band, with the beat grid, loop, cues, phrases, tempo markers and the slip
// position; dragging scrubs the track and the wheel zooms. Draws from the frame's DeckSnapshot and
// the deck's DeckView, never from the engine. UI thread only.
#include <array>
#include <cstdint>
#include <string>

#include "base/track.h"
#include "engine/analysis.h"  // kWavePointsPerSecond
#include "ui/draw.h"

// ---- shared tables (the overview uses them too) ---------------------------------------------

// Hot-cue slots 1-8 whose colour number is not 0-11 take these defaults.
inline constexpr std::array<uint32_t, kHotCues> HotCueSlotColours = {
    0xFF3D6E, 0x2BF5A0, 0xFFC83D, 0x9D6BFF, 0x22D3FF, 0xFF8A2B, 0xFF4FD8, 0xB6FF3D};

// The colour (0xRRGGBB) of hot cue `slot` (0-7): HotCueColours[colourNumber] when that is 0-11,
// else the slot's default.
uint32_t HotCueColourOf(int slot, int32_t colourNumber);

// One phrase kind as the lanes and the overview draw it. `colour` is 0xRRGGBB, or, with
// `paletteField` set, read from the live palette (Pal) each frame so skins apply.
struct PhraseStyle {
  int32_t kind = 0;
  const wchar_t* label = L"";
  uint32_t colour = 0;
  uint32_t Palette::*paletteField = nullptr;
};
// INTRO, DROP, BREAK, OUTRO in kind order.
extern const std::array<PhraseStyle, 4> kPhraseStyles;
// The style of a phrase kind; any value that is not 0, 1 or 2 is OUTRO.
const PhraseStyle& PhraseStyleOf(int32_t kind);
// The colour of a phrase kind (0xRRGGBB) with the current palette.
uint32_t PhraseKindColour(int32_t kind);

// ---- zoom and ids ---------------------------------------------------------------------------

inline constexpr float kDefaultWaveformZoom = 8.0f;  // seconds of playing time across a lane
inline constexpr float kMinWaveformZoom = 2.0f;
inline constexpr float kMaxWaveformZoom = 48.0f;
inline constexpr float kWaveformWheelStep = 1.2f;    // zoom factor per wheel notch
// The playing time in seconds that a lane's full width shows at the deck's tempo; shared by all
// decks, kept in kMinWaveformZoom..kMaxWaveformZoom, not saved.
extern float WaveformZoom;

inline constexpr int32_t kWaveformControlBase = 1500;
constexpr int32_t WaveformControlId(int deck) { return kWaveformControlBase + deck; }

// Lanes lower than this hide phrase labels and hot-cue names.
inline constexpr float kShortLaneHeight = 48.0f;

// ---- the lane -------------------------------------------------------------------------------

// Every drawn lane starts with its frame: an opaque rounded box over all of r with this corner
// radius, which hides whatever lies under it.
inline constexpr float kLaneRadiusDip = 6.0f;

// Draws deck `deck`'s lane in r and handles its scrub drag and wheel zoom (control 1500 + deck);
// ends with DrawDeckStatus. Nothing for a deck outside 0..3 or an off-screen lane.
void DrawWaveform(int deck, Rc r);

// What the lane's pieces share within one call.
struct WaveLaneContext {
  Rc lane;
  float playheadX = 0;            // lane centre x
  float centreY = 0;
  float amplitude = 0;            // the largest band half height, h / 2 - 5
  double positionSeconds = 0;     // track time under the playhead
  double secondsPerPixel = 0;
  double sampleRate = 0;
  bool shortLane = false;
  // Band columns (half heights, -1 = no data) shared by BuildBandPath and DrawBandShapes.
  struct BandShape {
    const float* half = nullptr;
    int first = 0, last = -1;     // empty when last < first
    float laneX = 0, centreY = 0;
  } low, mid, high;
};

// The screen x of a track time in the lane.
float LaneXOfTime(const WaveLaneContext& ctx, double seconds);

// One cue flag in the lane: a full-height line, a flag with `label` and, in a lane that is not
// short, `name` beside it; drawn when its x is within lane x - 120 .. lane right + 20.
void DrawCueMarker(const WaveLaneContext& ctx, double positionFrames, uint32_t colour, const std::wstring& label,
                   const std::wstring& name);

// The closed band figure through (laneX + i, centreY -/+ columns[i]) for first..last; the figure
// is kept as its columns, which FillWaveColumns writes straight into the frame.
void BuildBandPath(WaveLaneContext::BandShape* out, const float* columns, int first, int last, float laneX,
                   float centreY);
// Fills the low, mid and high figures in that order with their gradients at `opacity`, inside the
// current clip.
void DrawBandShapes(const WaveLaneContext& ctx, float opacity);

// ---- column work (exposed for tests and benchmarks) ----------------------------------------

// Fills low/mid/high (n columns) from the track's waveform summary for the lane's time window:
// column i covers track time (i + laneX - playheadX) x spp + pos for spp seconds; columns outside
// the track get low = -1. Then smooths between the first and last columns with data (peaks kept,
// dips filled), raises them to at least 0.4 and returns first and last (last < first: no data).
struct ColumnRange {
  int first = 0, last = -1;
};
ColumnRange FillBandColumns(const WavePoint* points, int64_t pointCount, double positionSeconds,
                            double secondsPerPixel, float laneX, float playheadX, float amplitude, int n, float* low,
                            float* mid, float* high, float* scratch);
