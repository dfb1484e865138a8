#pragma once
// The deck panel of the Full and Performance layouts and the parts of it that the slim deck of the
// Library layout reuses. Each takes the deck 0..3 and its rectangle, reads the frame's
// DeckSnapshot and the deck's DeckView, and acts through the deck commands. UI thread.
#include <cstdint>
#include <string>
#include <string_view>

#include "ui/draw.h"

// ---- control ids ----
// Decks A and C share the left side's ids, B and D the right side's.
inline constexpr int32_t kDeckControlBase = 1000;
inline constexpr int32_t kDeckControlSideStep = 100;
constexpr int32_t DeckControlId(int deck, int32_t code) {
  return kDeckControlBase + kDeckControlSideStep * (deck % 2) + code;
}
inline constexpr int32_t kSideSwitchControlBase = 48;  // + deck mod 2
inline constexpr int32_t kRatingControlId = 30;        // held while a star click is down

// Transport and loop codes.
inline constexpr int32_t kCueCode = 7, kPlayCode = 8, kSyncCode = 9;
inline constexpr int32_t kLoopHalveCode = 10, kLoopDoubleCode = 11, kLoopCode = 12;

// ---- the panel and its rows ----
// The whole panel.
void DrawDeck(int deck, Rc r);
// The header row: badge, side switch, title, artist, rating, times, tempo, key.
void DrawDeckHeader(int deck, Rc r);
// The tool-button row.
void DrawDeckTools(int deck, Rc r);
// CUE, PLAY and SYNC.
void DrawTransport(int deck, Rc r);
// Loop size and LOOP.
void DrawLoopControls(int deck, Rc r);

// ---- what the panel computes ----
// Where the panel's parts go for a panel rectangle; the main area is mirrored for decks B and D.
struct DeckPanelLayout {
  Rc header, overview, tools;
  Rc pitch;                  // the pitch fader column
  float jogX = 0, jogY = 0, jogRadius = 0;
  Rc pads;
  Rc transport, loops;
};
DeckPanelLayout LayOutDeckPanel(int deck, Rc r, bool performanceLayout);
// CUE, PLAY and SYNC inside a transport row r.
struct TransportLayout {
  Rc cue, play, sync;
};
TransportLayout LayOutTransport(Rc r);
// The loop row's parts inside r: ÷2, the size box (zero or negative width when the row is too
// narrow for it), ×2 and LOOP.
struct LoopControlsLayout {
  Rc halve, size, twice, loop;
};
LoopControlsLayout LayOutLoopControls(Rc r);
// The tool row's buttons, left to right, in a row r.
inline constexpr int kDeckTools = 18;
void LayOutDeckTools(Rc r, Rc (&buttons)[kDeckTools]);
// A tool button's short ASCII name for scripts ("keylock", "slip", "set1"...); null outside 0..17.
const char* DeckToolName(int index);
// A time as the header shows it: "m:ss.t" with minutes unbounded and tenths cut; negatives show 0.
std::wstring HeaderTime(double seconds);
// The tenths of a second that HeaderTime shows.
int64_t HeaderTenths(double seconds);
// The tool row's widths after scaling to a row `rowWidth` wide: each base width, or all scaled
// down alike (gaps too) when they do not fit; never widened. `gap` receives the gap.
void ToolRowWidths(float rowWidth, float* widths, int count, const float* baseWidths, float* gap);
// The size a bold button label is drawn at to fit `width`: `size`, or smaller down to `minSize` for a
// label (translated) too wide at `size`.
float FittedLabelSize(std::wstring_view label, float size, float minSize, float width);
// The key button's label: the key name and, when shifted, the signed shift ("8A +2", "Cm -1").
std::wstring KeyButtonLabel(const std::wstring& keyName, int32_t shift);
