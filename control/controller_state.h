#pragma once
// What only a controller holds: SHIFT (ControllerShiftHeld in engine/control_input.h), the widgets
// its buttons hold, the pitch-fader takeover and the jog's scratch state (DeckView jogHeld /
// jogScratching / vinylMode). The dispatcher and the action table's rows use it. UI thread.
#include <cstdint>

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
