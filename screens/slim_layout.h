#pragma once
// The library layout's slim decks and slim mixer: a deck header, its overview and one row of
// transport and loop controls per side, and between them the two channel volumes and filters, the
// master level and the cross-fader with its glide buttons. They reuse the full layout's ControlIds,
// so a controller moving a channel fader moves the slim VOL knob too. UI thread only.
#include "ui/draw.h"

// Where a slim deck's control row puts its transport and loop controls: the transport at the
// outer edge (left for decks A and C, right for B and D), min(w / 2, 260) wide.
struct SlimControlRow {
  Rc transport;
  Rc loops;
};
SlimControlRow SlimControlRowOf(int deck, Rc r);

// Where a slim deck in r shows its overview.
Rc SlimOverviewRect(Rc r);
// One slim deck in r.
void DrawSlimDeck(int deck, Rc r);
// The slim mixer for the decks of the two side slots.
void DrawSlimMixer(Rc r);
