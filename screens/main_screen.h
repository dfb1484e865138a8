#pragma once
// The main screen: the frame routine (DrawMainScreen) that lays out and draws every panel, and
// the per-frame state the panels share through it: the beat pulse, the tooltip the top bar asks
// for, and a library row being dragged onto a deck, a list or a singer. Also the deck hit test
// and the upright deck strip of the vertical layout. UI thread.
#include <cstdint>
#include <string>
#include <vector>

#include "base/palette.h"
#include "base/track.h"
#include "ui/draw.h"

// ---- shared per-frame state -----------------------------------------------------------------

// Per deck: exp(-5 x the fraction of its current beat) while it plays, else x 0.9 per frame.
// Panels scale the alpha of their glows with it.
extern float BeatPulse[kEngineDecks];

// A tooltip a panel asks for during the frame: lines separated by line feeds, shown under the
// control's rectangle after the glow pass. The frame draws it and clears the text.
struct FrameTooltip {
  std::wstring text;
  Rc anchor;
};
extern FrameTooltip Tooltip;

// The library row being dragged: from the pointer leaving the press point by more than 6 DIPs
// until the next release.
struct LibraryRowDrag {
  bool dragging = false;
  int targetDeck = -1;  // DeckAtPoint under the pointer this frame; -1 none
};
extern LibraryRowDrag RowDrag;
// The deck a dragged library row would drop onto now, -1 when no row is dragged. Panels outline
// themselves when it is their deck.
int RowDropTarget();

// ---- hit tests and strips -------------------------------------------------------------------

// The deck under a point of the last computed layout: a lane first, then the left or right panel
// (its side slot's deck), then above the browser the side by half width; -1 otherwise.
int DeckAtPoint(float x, float y);

// One deck's waveform drawn upright in a strip of the vertical layout (its x axis runs up the
// strip), with the mouse mapped into it, then the deck letter near the strip's bottom.
void DrawDeckRotated(int deck, Rc strip);

// ---- the frame -----------------------------------------------------------------------------------

// Which overlay the frame draws over the panels (a question, a form, the settings or help screen,
// the tour, an editor...), by its place in the frame's order; -1 when none is open.
int OpenOverlay();
// The settings screen is the overlay drawn: open, and no overlay before it in the order is.
bool SettingsScreenShown();
// Lays out the window and draws every panel, the row drag, the banner, the tooltip, the open
// overlay and the status line; covers the whole frame (its backdrop is opaque). Draws from the
// tick's snapshot and pulses; the shell (app/frame_tick.h) runs the tick first.
void DrawMainScreen();

// ---- the frame's steps (DrawMainScreen runs them; exposed for tests) ---------------------------

// The window's backdrop gradient with its soft lights: one behind each side panel in the colour of
// the deck it shows (stronger while that deck plays and on its beats) and one along the phase
// meter. Reads this frame's Screen. Covers the whole frame.
void DrawBackground();
// The same with these panels drawn into the backdrop image, above the backdrop, and the side
// lights left out where the panels cover them and, when there are panels, where the top bar's
// backdrop (kept in the image too, screens/top_bar.h) and the lanes' frames (which the main screen
// draws over them) do; false when the images could not be used (the backdrop is then drawn
// directly, without the panels and the bar).
bool DrawBackgroundWithPanels(const std::vector<PanelShape>& panels);
// The layout's panels: the left deck, the mixer, the right deck (full or slim) and the browser,
// each clipped to what the panels drawn after it leave visible.
void DrawPanels();
// Sets each deck's BeatPulse from the tick's DeckSnapshots: the pulse as it falls over the beat (or
// decays after a stop), shown in steps of 1 / kBeatPulseSteps, so that what glows with it holds
// still between steps and is drawn again only when it steps. Part of the per-frame tick.
inline constexpr int kBeatPulseSteps = 16;
void UpdateBeatPulses();
// True while a stopped deck's pulse still shows: the ticks must keep coming for it to fall to zero,
// also through the frames where its steps hold still.
bool BeatPulsesFalling();
// Starts a row drag once the browser's row press (control 17) has moved more than 6 DIPs, keeps
// the drop target and draws the label at the pointer; on the release loads the row onto the
// target deck, else adds it to the list and singer rows under the pointer. Every release ends it.
void FollowRowDrag();

// The banner under the top bar: MIDI learn (Yellow) before the sandbox (Pink); an empty text
// when neither is on. The text is already translated. nowSeconds on the MonotonicSeconds clock.
struct Banner {
  std::wstring text;
  uint32_t colour = 0;  // 0xRRGGBB
};
Banner CurrentBanner(double nowSeconds);

// A tooltip's box and its translated lines, placed under the anchor and kept 8 DIPs inside a
// window windowWidth wide.
struct TooltipBox {
  Rc box;
  std::vector<std::wstring> lines;
};
TooltipBox PlaceTooltip(const std::wstring& text, Rc anchor, float windowWidth);

// ---- the layout cycle -----------------------------------------------------------------------

// Ctrl+L: the next layout (wrapping), "Full layout" / "Library layout" / "Performance layout" on
// the status line, and the settings saved.
void CycleLayout();
