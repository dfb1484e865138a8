#pragma once
// The MIDI beat clock's shared state: what the per-frame tick hands the sender thread.
#include <memory>
#include <mutex>

struct MidiClockSender {
  std::mutex lock;            // guards the three values below
  double tempo = 0.0;         // BPM; 0 = no clock
  double beat = 0.0;          // beats on the leading deck's grid
  double stampSeconds = 0.0;  // MonotonicSeconds() when `beat` was taken
};

// The sender of the chosen clock output; null while no clock output is chosen. UI thread.
extern std::unique_ptr<MidiClockSender> MidiClock;
