#pragma once
// The mixer panel between the two deck panels: a channel strip for the deck on each side and the
// master column (master level, meters, CLIP and LIMIT, headphone, sampler and booth levels), with
// the cross-fader and its glide buttons along the bottom. Every control writes a UI-side value
// (the DeckViews, MasterSection, CrossfaderPosition, XfGlide); the per-frame tick publishes them,
// so nothing here takes the engine lock. UI thread only.
#include <array>
#include <cstdint>
#include <string_view>

#include "engine/stem_controls.h"
#include "ui/draw.h"

// ---- the filter knob's colour-effect modes ---------------------------------------------------

inline constexpr int kColorFxModes = 6;
inline constexpr int32_t kColorFxFilter = 0;
// FILTER, SPACE, DUB ECHO, NOISE, CRUSH, ECHO: DeckView::colorFx indexes it.
extern const std::array<std::wstring_view, kColorFxModes> ColorFxNames;
// The mode moved by step, wrapped into 0..5 (a mode outside that range is clamped first).
int32_t StepColorFx(int32_t mode, int step);

// ---- control ids ----------------------------------------------------------------------------

// Channel-strip controls: 1000 + side x 100 + k (side 0 left: decks A and C; 1 right: B and D).
inline constexpr int32_t kStripGain = 13;
inline constexpr int32_t kStripHigh = 14;
inline constexpr int32_t kStripMid = 15;
inline constexpr int32_t kStripLow = 16;
inline constexpr int32_t kStripColorFx = 17;
inline constexpr int32_t kStripFader = 18;
inline constexpr int32_t kStripCue = 19;
inline constexpr int32_t kStripVox = 20;
inline constexpr int32_t kStripInst = 21;
constexpr int32_t StripControlId(int side, int32_t k) { return 1000 + side * 100 + k; }
// The drag id of the colour-effect mode label: 6017 + side x 100.
constexpr int32_t ColorFxLabelId(int side) { return 6017 + side * 100; }

inline constexpr int32_t kMasterLevelId = 20;
inline constexpr int32_t kHeadphoneMixId = 21;
inline constexpr int32_t kHeadphoneLevelId = 22;
inline constexpr int32_t kSamplerLevelId = 23;
inline constexpr int32_t kBoothLevelId = 56;
inline constexpr int32_t kGlideToAId = 28;
inline constexpr int32_t kGlideToBId = 29;

// DeckView::stemPreset values the VOX and INST buttons set: kStemPresetNone, kStemPresetVocals,
// kStemPresetInstrumental (engine/stem_controls.h).

// ---- panels ---------------------------------------------------------------------------------

// The whole mixer panel; called by Frame in the full and performance layouts.
void DrawMixer(Rc r);
// The panel's bottom row inside r: the cross-fader and the glide buttons towards A and B.
struct MixerBottomRow {
  Rc crossfader, glideA, glideB;
};
MixerBottomRow LayOutMixerBottom(Rc r);
// One deck's strip: `half` is the strip's part of the panel, `mixer` the whole panel (its rows
// follow the panel's height). Edits LiveDeckViews[deck].
void DrawChannelStrip(int deck, Rc half, Rc mixer);

// ---- shared with the slim mixer ---------------------------------------------------------------

// A glide button ("A" towards 0, "B" towards 1): lit while a glide towards `target` runs; a click
// starts one from the cross-fader's position now. True when clicked.
bool GlideButton(int id, Rc r, std::wstring_view letter, Color colour, float target);
