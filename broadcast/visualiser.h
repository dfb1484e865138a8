#pragma once
// The projector visualiser: which visual shows, its automatic change, and one whole frame (the
// visual, its fade-in, the camera in a circle, the track or singer overlay, the banner and the
// hint) drawn onto any surface at any size on a given clock. The window around it lives in
// ui/visualiser_toggle. UI thread.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "broadcast/visual_draw.h"
#include "engine/engine.h"

// True while the visualiser window exists.
extern bool VisualiserWindowOpen;

// One deck as the visualiser sees it.
struct VisualiserDeck {
  bool audible = false;   // IsDeckAudible
  float level = 0;        // the deck's level meter
  float pulse = 0;        // its beat pulse
  uint32_t colour = 0;    // its deck colour, 0xRRGGBB
  bool hasTrack = false;
  std::wstring title, artist;
  double bpm = 0;
};

// What a frame reads of the rest of the program, gathered by the caller each frame.
struct VisualiserFeed {
  std::array<float, kVisualBands> bands = {};  // the master band meters, band 0 lowest
  std::array<VisualiserDeck, kEngineDecks> decks;
  uint32_t paletteDeckA = 0, paletteDeckB = 0;  // colours without a shown deck
  uint32_t accent = 0;                          // "NOW SINGING"
  bool singerOnStage = false;                   // karaoke: a singer sings now
  std::wstring singerName, songTitle, songArtist;
  bool songHasTrack = false;
  const DrawBitmap* cover = nullptr;  // the shown track's cover art; null without
  bool fullScreen = false;
  // Shows an interface text in the UI language; null shows the English.
  std::wstring (*translate)(std::wstring_view) = nullptr;
};

// --- The visual ---

// The current visual while the window is open, else the Style setting.
int VisualIndex();
// Shows visual ((i mod 10) + 10) mod 10, restarts the automatic change's count and saves it as
// the Style setting.
void SetVisualIndex(int i);

// --- Keys and clicks in the window ---

enum class VisualiserAction { None, Close, ToggleFullScreen, LeaveFullScreen };
// A key pressed in the visualiser window (virtual-key code): changes the visual, Auto or Track
// itself and says what the window must do.
VisualiserAction VisualiserKey(int key, bool shift, bool fullScreen);
// A right-click: the next visual.
void VisualiserRightClick();

// --- One frame ---

// The deck a frame of this feed shows: the audible one with the highest meter, on equal meters
// the lower; -1 when none is audible.
int ShownVisualiserDeck(const VisualiserFeed& feed);

// Draws one whole frame of w x h DIPs onto target, dt seconds after the previous one (clamped to
// 0..0.1). Takes the newest camera frame when the camera takes part.
void DrawVisualiserFrame(DrawSurface& target, float w, float h, double dt, const VisualiserFeed& feed);
// The window closed: the camera picture and its fade are forgotten; the visual state stays.
void ForgetVisualiserWindow();

// What the feature test reads: the camera's opacity in the circle (0..1) and the deck shown.
float VisualiserCameraAlpha();
int VisualiserShownDeck();
