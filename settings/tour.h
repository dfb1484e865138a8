#pragma once
// The first-run tour, a full-screen overlay of eight cards, each spotlighting one part of the
// screen. UI thread.
#include <cstdint>

#include "ui/draw.h"

inline constexpr int32_t kTourSteps = 8;

extern bool TourOpen;
// The step shown, 0 .. kTourSteps - 1.
extern int32_t TourStep;

inline constexpr int kTourSkipId = 3590;
inline constexpr int kTourNextId = 3591;
inline constexpr int kTourBackId = 3592;
inline constexpr int kTourDemoId = 3593;

// What the tour points at, as the last frame laid it out (DIPs). A zero-width library means the
// layout has none.
struct TourLayout {
  float w = 0, h = 0;
  Rc library;
  float tableLeft = 0;
  Rc leftDeck, mixer;
  Rc waveforms[4];
  bool fourDecks = false;
};
TourLayout CurrentTourLayout();

// The rectangle a step spotlights; all zero when it has none.
Rc TourSpotlight(int32_t step, const TourLayout& l);
// Where a card of w x h goes for the (already grown) spotlight s in a window of winW x winH:
// below s, else above, else level with it, clamped inside; centred when s is empty. The vertical
// clamp keeps its lower bound when the window is shorter than the card.
Rc TourCardRect(Rc s, float w, float h, float winW, float winH);

// Opens the tour at its first card (the settings and help screens close).
void OpenTour();
// Closes it and stores that it was done.
void CloseTour();
// Draws and handles the tour while TourOpen is set.
void DrawTour();
