#pragma once
// The widget protocol and the buttons. A widget exists only during the call that draws it: it
// reads the frame's input (mouse, keys and controllers by ControlId), draws itself and returns
// whether it was clicked; the caller owns every value. The knobs and faders are in ui/knobs.h.
// UI thread only.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/control_input.h"
#include "ui/draw.h"

// ---- what widgets record for the controller code --------------------------------------------

// controlKinds and controlLights live with the frame's control input (engine/control_input.h).

// ---- the protocol ---------------------------------------------------------------------------

// The inside test: left and top edges inside, right and bottom edges outside.
bool Inside(Rc r, float x, float y);
// The mouse is inside and no control is being dragged.
bool MouseIn(Rc r);
// The mouse is inside, dragging or not. Every test of where the pointer is goes through this (or
// MouseIn), so the frame knows every box whose look may follow the pointer.
bool MouseOver(Rc r);

// ---- what a move of the pointer alone changes ------------------------------------------------
// A drawn frame notes the boxes it tested the pointer against, in the window's pointer
// coordinates; a later move that enters and leaves none of them, over no box whose look follows
// the pointer's exact place, changes nothing drawn and needs no frame.

// Around the drawing of a frame that runs every widget: its notes replace the last ones. `drawn`
// false (the frame could not be drawn) leaves no notes.
void StartPointerNotes();
void StopPointerNotes(bool drawn);
// Between the two: every widget that tests the pointer must run, wherever it lies.
bool PointerNotesTaken();
// What is drawn in r follows the pointer's exact place while the pointer is inside (the star
// under it, a box beside it): any move inside r needs a frame.
void NotePointerFollowed(Rc r);
// Where a turned part rewrites Input: the map from the window's pointer coordinates to those
// Input now holds, until the returned map is put back.
Affine SetPointerSpace(const Affine& windowToInput);
// True when the pointer moving from x0, y0 to x1, y1 (window pointer coordinates) enters or leaves
// no box the last noted frame tested and lies in no followed box; false with no notes.
bool PointerMoveChangesNothing(float x0, float y0, float x1, float y1);
// The control is held by the mouse (it is the active control and the button is down) or by a
// mapped key or controller button.
bool IsHeld(int id);
// The control was let go this frame: by the mouse (it was the active control) or by a key or
// controller button.
bool IsReleased(int id);
// A left press starts on the area this frame and nothing is being dragged.
bool PressStarts(Rc area);
// In MIDI learn mode a press on the area makes the control the learn target and the active
// control (so nothing else reacts until the release); true when that happened.
bool TakeLearnClick(int id, Rc area);
// True when r, under the current transform, lies wholly outside the frame; widgets then do
// nothing. Without a device nothing counts as off-screen.
bool OffScreen(Rc r);
// The MIDI learn marks of a control: the learn target ringed in Yellow, other controls faintly,
// a Green dot on controls that already have a mapping. Nothing outside learn mode.
void MidiLearnMark(int id, Rc r);
// While set, every drawn Button (and any widget that calls RecordWidgetRect) appends its id and
// rectangle: the click map that tools print for scripts driving the real window.
inline std::vector<std::pair<int, Rc>>* WidgetRectLog = nullptr;
void RecordWidgetRect(int id, Rc r);
// Queues an outlined rounded-rectangle glow centred on r's edge.
void GlowOutline(Rc r, float radius, Color c, float width);

// ---- buttons --------------------------------------------------------------------------------

// A push button; fires on the press (mouse), or when a key or controller presses the id. `lit`
// shows it switched on. The label is translated when drawn.
bool Button(int id, Rc r, std::wstring_view label, Color colour, bool lit, float textSize);
// A row of choice buttons (ids firstId, firstId + 1, ...) across r; the selected one is lit.
// Clicking another selects it: *selected changes and the call returns true.
bool DrawTextRows(int firstId, Rc r, const std::vector<std::wstring>& labels, int* selected);
// A previous/next stepper: "◂" (id) and "▸" (id + 1) around a box showing text; they move
// *index through 0..count - 1, wrapping. True when the index changed.
bool DrawLabelledBox(int id, Rc r, std::wstring_view text, int* index, int count);
