#pragma once
// One incoming MIDI short message to a control event through the mapping table: notes, control
// changes (with 14-bit pairs) and pitch bend; everything else is dropped. UI thread.
#include <cstdint>

// The completion-8 handler: status | data1 << 8 | data2 << 16. Allocates nothing.
void OnMidiMessage(uint32_t packed);
// An endless encoder's 7-bit value as steps: 56..72 are offset binary (x - 64), the rest two's
// complement (1..55 forward, 73..127 backward, 0 none).
int32_t DecodeRelativeMidi(int x);
// Forgets which 14-bit controllers were seen paired (the mapping they belonged to was cleared).
void ClearMidiPairing();
