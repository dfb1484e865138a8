#pragma once
// The deck panel's pad section: eight mode tabs, eight performance pads whose meaning follows the
// deck's pad mode, the sampler's bank row, and the deck's three effect slots. UI thread.
#include <cstdint>
#include <string>

#include "ui/draw.h"

inline constexpr int kPadModes = 8;
inline constexpr int kPerformancePads = 8;
// Pad modes; the numbers are fixed because keys and controllers select modes by number.
inline constexpr uint32_t kPadModeCues = 0, kPadModeRoll = 1, kPadModeJump = 2, kPadModeSampler = 3,
                          kPadModeLoop = 4, kPadModeSlicer = 5, kPadModeKeys = 6, kPadModeStems = 7;

// The section inside r.
void DrawPads(int deck, Rc r);

// ---- what the section computes ----
// The control id of the tab of `mode` for the deck.
int32_t PadTabId(int deck, uint32_t mode);
// Whether the tabs show their short labels for a section `width` wide (the translated "SAMPLER"
// does not fit a tab).
bool PadTabsShort(float width);
// The tab of `mode` in a section r; its long label ("CUES", "LOOP", "SAMPLER"...), untranslated.
Rc PadTabRect(Rc r, uint32_t mode);
const wchar_t* PadTabLabel(uint32_t mode);
// Pad i's rectangle in a section r in `mode` (SAMPLER mode leaves room for the bank row).
Rc PadRect(Rc r, uint32_t mode, int pad);
// The pad a REC click records into: the first pad whose name is empty, else pad 8 (index 7).
int RecordTargetPad();
