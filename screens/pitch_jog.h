#pragma once
// The deck panel's pitch fader column and jog wheel. Both read the frame's DeckSnapshot and edit
// the deck's DeckView; the jog scratches through the jog deck commands. UI thread.
#include <cstdint>

#include "engine/sync.h"
#include "ui/draw.h"

// Control codes, added to the deck panel's id base.
inline constexpr int32_t kJogCode = 2;
inline constexpr int32_t kPitchFaderCode = 3;
inline constexpr int32_t kPitchRangeCode = 4;
inline constexpr int32_t kNudgeDownCode = 5;
inline constexpr int32_t kNudgeUpCode = 6;

inline constexpr float kWheelBendStep = 0.05f;   // jogBend per mouse-wheel notch
inline constexpr float kMaxJogBend = 0.25f;
inline constexpr double kJogTurnSeconds = 1.8;   // music under one full turn of the platter

// ---- the controls ----
// The column: range button, tempo fader (bottom = faster), readout and the two nudge buttons.
void DrawPitchFader(int deck, Rc r);
// The platter around (cx, cy): turns with the music, scratches while dragged, bends with the wheel.
void DrawJog(int deck, float cx, float cy, float radius);

// ---- the arithmetic behind them ----
// The pitch column's parts inside r: range button, tempo fader, readout and the two nudge buttons.
struct PitchColumnLayout {
  Rc range, fader, readout, nudgeDown, nudgeUp;
};
PitchColumnLayout LayOutPitchColumn(Rc r);
// The pitch range after `range` when the range button is clicked: the list entry nearest to it,
// then the next one (the previous one when back), wrapping.
float NextPitchRange(float range, bool back);
// The fader position that keeps the tempo offset of `fader` at oldRange under newRange, 0..1.
float FaderForRange(float fader, float oldRange, float newRange);
// The pointer's turn from one angle to the next (radians), wrapped into -pi..pi.
double WrapAngleDelta(double from, double to);
// The platter's angle for a play position, degrees clockwise from 12 o'clock, 0..360.
double PlatterAngleDegrees(double seconds);
// The word under the jog's centre, by priority; empty for an empty deck.
const wchar_t* JogStateWord(int deck);
