#pragma once
// The beat-grid editor: a full-screen overlay over the main screen for fixing one deck's grid by
// ear and eye (tempo nudges, grid shifts, downbeat, pins where the tempo drifts, a metronome).
// Every edit pushes an undo record and goes through EditBeatGrid. UI thread.
#include <cstdint>

#include "engine/grid_edits.h"
#include "ui/draw.h"

// The deck the editor is open for; -1 = closed. The deck's grid tool or a key sets it.
extern int32_t GridEditorDeck;

inline constexpr float kGridZoomDefaultSeconds = 3.0f;
inline constexpr float kGridZoomMinSeconds = 0.5f;
inline constexpr float kGridZoomMaxSeconds = 16.0f;

// What the editor keeps between frames.
struct GridEditorState {
  float zoom = kGridZoomDefaultSeconds;  // the strip shows the position +- this many seconds
  bool metronome = true;
  bool dragging = false;
  float lastMouseX = 0.0f;
};
extern GridEditorState GridEditor;

// --- The frame ---
// Draws and handles the editor while it is open; nothing while GridEditorDeck is -1. Closes the
// editor (and stops the metronome) when its deck has no track.
void DrawGridEditor();

// Where the editor's parts sit inside its panel.
struct GridEditorLayout {
  Rc panel, title, status, strip, overview, done, help;
  Rc rows[4];  // TEMPO, GRID, DRIFT, LISTEN: the label column and the buttons
};
GridEditorLayout LayoutGridEditor(Rc panel);
// The panel for a window of this size (centred as the modal backdrop places it).
Rc GridEditorPanel(float windowWidth, float windowHeight);
// The rectangle of button `id` (3500..3520) in the layout; empty for another id.
Rc GridEditorButtonRect(const GridEditorLayout& layout, int32_t id);

// --- The edits (each runs through EditBeatGrid) ---
// BPM + delta with every marker's time stretched around the first beat, keeping its beat number.
GridEdit RescaleTempoEdit(double delta);
// Beat at the live play position: beat 0 moves there, or a pin replaces those within half a beat.
GridEdit PinBeatEdit(int deck);
// Removes the marker whose time is nearest `seconds` (the earlier on a tie).
GridEdit RemoveNearestPinEdit(double seconds);
// BEAT IS HERE: pushes "pinned a beat", then the pin edit.
void PinBeatHere(int deck);
// FIND THE DRIFT FOR ME: pins found on a scratch copy replace the deck's markers (after an undo
// record), and the status line says how many.
void FindGridDrift(int deck);
// The zoom after `notches` wheel steps (positive away from the user zooms in), within 0.5..16.
float ZoomAfterWheel(float zoom, float notches);
