#pragma once
// The main screen's rectangles: where the waveform lanes, the phase meter, the two deck panels,
// the mixer and the browser sit for a window size and the three layout settings (Layout,
// Vertical, FourDecks). Recomputed at the start of every frame; hit tests between frames read the
// last frame's rectangles. UI thread.
#include <cstdint>

#include "base/track.h"
#include "ui/draw.h"

inline constexpr int32_t kLayoutFull = 0;
inline constexpr int32_t kLayoutLibrary = 1;      // slim decks, slim mixer and a big browser
inline constexpr int32_t kLayoutPerformance = 2;  // tall deck panels, no browser
inline constexpr int32_t kLayoutCount = 3;

// What differs between the layouts; one row per layout number.
struct LayoutVariant {
  const wchar_t* statusText;  // what the status line says when Ctrl+L picks the layout
  float mixerWidth;           // DIPs
  float panelHeight;          // DIPs; 0 = down to the window's bottom margin
  bool browser;               // a browser under the panels
  bool allowsVertical;        // the Vertical setting takes effect
  bool slimPanels;            // slim decks and slim mixer instead of the full panels
};
extern const LayoutVariant kLayoutVariants[kLayoutCount];

// The row of a layout number; a number outside 0..2 reads as the Full layout.
const LayoutVariant& VariantOf(int32_t layout);
// The layout after this one, wrapping Full -> Library -> Performance -> Full.
int32_t NextLayout(int32_t layout);

// One frame's rectangles, in DIPs. A zero-width lane is not drawn.
struct ScreenLayout {
  float width = 0, height = 0;  // the render target
  int32_t layout = kLayoutFull;
  bool vertical = false;        // the lanes are upright strips beside the panels
  bool fourDecks = false;
  Rc lanes[kEngineDecks];       // per deck
  float phaseMeterY = 0;        // the phase-meter row, 18 high, 8 .. width - 8
  Rc leftPanel, mixer, rightPanel;
  Rc browser;                   // empty in the Performance layout
};

// The rectangles for a window of width x height DIPs and the three settings. Pure.
ScreenLayout ComputeLayout(float width, float height, int32_t layout, bool vertical, bool fourDecks);

// This frame's rectangles (all zero before the first frame).
extern ScreenLayout Screen;
