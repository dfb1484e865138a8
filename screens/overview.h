#pragma once
// Three small displays around the waveform lanes: the whole-track overview with click-or-drag
// seeking, the phase meter between the lanes, and the deck status chip in a lane's corner. They
// draw from the frame's DeckSnapshots and the DeckViews. UI thread only.
#include <cstdint>
#include <string>

#include "base/track.h"
#include "ui/draw.h"

// ---- track overview -------------------------------------------------------------------------

// Decks A and C share one id, B and D the other.
inline constexpr int32_t kOverviewControlBase = 1001;
inline constexpr int32_t kOverviewSideStep = 100;
constexpr int32_t OverviewControlId(int deck) { return kOverviewControlBase + (deck % 2) * kOverviewSideStep; }

// The whole track of `deck` in r: bands (the played part dimmed), loop, memory cues, main and hot
// cues, phrases and the playhead. A press seeks to the fraction under the mouse, a drag keeps
// seeking (SeekToFraction). Only the frame without a track for an empty deck.
void DrawOverview(int deck, Rc r);

// What an overview marker needs of its overview.
struct OverviewContext {
  Rc r;
  double frames = 0;  // the track's frame count, > 0
};
// The playhead's x in an overview r of a track of trackFrames: on whole device pixels from r's left
// edge, so that a playing deck's overview changes only when its playhead steps a pixel.
float OverviewPlayheadX(Rc r, double positionFrames, double trackFrames);
// A downward cue triangle at the top of the overview.
void DrawOverviewMarker(const OverviewContext& ctx, double positionFrames, uint32_t colour);

// ---- phase meter ----------------------------------------------------------------------------

// The bar between the lanes: how far apart the beats of the two side decks are (SideSlots), with
// four beat dots for each.
void DrawPhaseMeter(Rc r);

struct PhaseMeterContext {
  float centreY = 0;
};
// The four beat dots of `deck` from x; the dot of the beat within its bar is lit. None lit when
// beat is not a number or the deck has no track.
void DrawBeatDots(const PhaseMeterContext& ctx, int deck, double beat, float x);

// The right deck's beat phase minus the left deck's, wrapped into -0.5..0.5 beats.
double PhaseOffsetBeats(double leftBeat, double rightBeat);
inline constexpr double kInPhaseBeats = 0.03;    // closer is Green (and glows when A and B play)
inline constexpr double kNearPhaseBeats = 0.12;  // closer is Yellow, farther Red
// The meter's colour (0xRRGGBB, live palette) for an offset in beats.
uint32_t PhaseColour(double offsetBeats);
// The lit dot 0-3 for a beat number (non-negative remainder of its floor by 4); -1 for NaN.
int LitBeatDot(double beat);

// ---- deck status chip -----------------------------------------------------------------------

// The chip in the lane's top-left corner: the deck letter badge and, with a track, one line of
// facts (tempo, key, bar and beat, beats to the next phrase and cue, stem state).
void DrawDeckStatus(int deck, Rc r, const Track* track);
// The chip's line of facts as it is built before translation; empty without a track.
std::wstring DeckStatusText(int deck, const Track* track);
