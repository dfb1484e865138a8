#pragma once
// The one dispatcher of controller actions: MIDI, HID, keyboard bindings and the phone remote all
// end in ApplyMappedControl, which runs the row of the action table (control/action_table.h) for
// the id, the commands the on-screen controls run, whether or not their widgets are drawn. It keeps the controller-only state: SHIFT
// (ControllerShiftHeld in engine/control_input.h), the pitch-fader takeover and the jog's scratch
// state (DeckView jogHeld / jogScratching / vinylMode). UI thread.
#include <cstdint>

// One physical change of a control. A button event sets press or release, an absolute one
// hasValue and value, a relative one delta.
struct ControlEvent {
  bool press = false;
  bool release = false;
  bool hasValue = false;
  float value = 0.0f;  // 0..1
  int32_t delta = 0;   // steps, positive = clockwise / forward
};

inline ControlEvent PressEvent() { return {.press = true}; }
inline ControlEvent ReleaseEvent() { return {.release = true}; }
inline ControlEvent ValueEvent(float value) { return {.hasValue = true, .value = value}; }
inline ControlEvent DeltaEvent(int32_t delta) { return {.delta = delta}; }

// The entry for every caller. target: a control id (5000-5020, 5200-5599) or a widget id; a widget
// with a control id acts as that id, any other widget is pressed, held, released or set as if the
// mouse used it (it reacts in its next draw). Values that are not finite are dropped.
void ApplyMappedControl(uint16_t target, const ControlEvent& event);
// index = control id - 5000 (0..20); an index no row holds does nothing.
void ApplyMixerControl(int32_t index, const ControlEvent& event);
// side 0 (left) or 1 (right): acts on the deck the side shows now; offset 0..199.
void ApplyDeckControl(int side, int32_t offset, const ControlEvent& event);

// Holds or lets go of a widget as a held controller button would: it reacts in its next draw.
void HoldWidget(int32_t id, bool press);

// SHIFT: held by a controller, or the SHIFT widget held by a key, a controller or the mouse.
bool IsShiftHeld();

// The jog: touching it scratches a deck in vinyl mode; turning it scratches, nudges a playing deck
// or moves a paused one; a search turn moves a quarter second per tick.
void SetJogTouch(int deck, bool touched);
void JogTurn(int deck, int32_t ticks, bool search);

// The last pitch-fader value a controller sent per deck (-1 = none yet); a fader takes over the
// on-screen tempo only once it reaches or crosses it.
extern float PitchTakeover[4];

// Releases whatever a vanished controller could leave held: SHIFT, the held widgets and every
// scratching jog (the controller rescan).
void ReleaseControllerState();
