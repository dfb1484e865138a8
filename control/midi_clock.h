#pragma once
// MIDI beat clock (24 clocks a beat, start and stop) to the output named by [Midi] ClockOut,
// following the tempo and the beat of the deck on air. A sender thread of its own times the
// clocks on absolute wake-ups; the UI thread only publishes tempo and beat once per frame.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

inline constexpr uint8_t kMidiClockByte = 0xF8;
inline constexpr uint8_t kMidiStartByte = 0xFA;
inline constexpr uint8_t kMidiStopByte = 0xFC;

struct MidiClockSender {
  std::function<void(uint8_t status)> send;  // one status byte as a whole message
  std::mutex lock;            // guards the three values below
  double tempo = 0.0;         // BPM; 0 = no clock
  double beat = 0.0;          // beats on the leading deck's grid
  double stampSeconds = 0.0;  // MonotonicSeconds() when `beat` was taken
  std::atomic<bool> stop{false};
  std::thread thread;
};

// The sender of the chosen clock output; null while no clock output is chosen. UI thread.
extern std::unique_ptr<MidiClockSender> MidiClock;

// Creates a sender (tempo 0) and starts its thread.
std::unique_ptr<MidiClockSender> StartMidiClock(std::function<void(uint8_t)> send);
// Stops the thread (a running clock sends stop first), joins it and destroys the sender.
void StopMidiClock(std::unique_ptr<MidiClockSender> sender);
// Publishes a tempo and beat (taken at stampSeconds) to the sender; not finite counts as 0.
void SetMidiClockTempo(MidiClockSender& sender, double bpm, double beat, double stampSeconds);

namespace Midi {
// Chooses the clock output: the last open output named [Midi] ClockOut exactly; restarts the
// sender when the choice changed. Every controller scan and a change of ClockOut call it.
void ClockTo();
}  // namespace Midi
// Stops the sender and forgets the clock output (before the outputs close).
void StopMidiClockOutput();
// The open output index carrying the clock; -1 for none.
int MidiClockOutput();
// Per frame: the on-air deck's tempo and beat when it plays audibly and freely, else 0.
void PublishMidiClockTempo();
