#pragma once
// The MIDI devices the program has open (every input and output at once, no choice), the
// controller rescan that reopens them and announces what came and went, and the check whether the
// ports changed since the last scan. UI thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The completion number of one MIDI message (wparam: status | data1 << 8 | data2 << 16).
inline constexpr int kMidiMessagePost = 8;

// Closes everything, then opens every input (messages are posted as completion 8) and output.
void OpenMidiDevices();
// Stops the clock, then closes every input and output.
void CloseMidiDevices();
// Names of the open inputs / outputs, in device order.
std::vector<std::wstring> MidiInputNames();
std::vector<std::wstring> MidiOutputNames();
size_t MidiOutputCount();
// Sends a short message to every open output.
void SendToMidiOutputs(uint32_t packed);
// True when the ports present now differ from those the last scan saw (so a port that is present
// but will not open does not rescan on every notice).
bool MidiDevicesChanged();
// Reopens the controllers, clears what a vanished device could leave held and, with announce,
// says which controller came or went; applies a ready-made layout for a new controller.
void ScanControllers(bool announce);
// What a rescan found: the MIDI inputs open before and after it, the HID controllers gone and new.
struct ControllerChanges {
  std::vector<std::wstring> oldMidi, newMidi, hidGone, hidCame;
};
// The rescan's announcement, each status replacing the one before: the first controller gone (a
// MIDI input before an HID one), then the first new HID controller, then the first new MIDI input
// (with the ready-made layout check for it).
void AnnounceControllerChanges(const ControllerChanges& changes);
// Start-up: loads midi.tsv, scans once and starts watching the port lists (a change raises a
// device notice, which rescans after the window's 800 ms debounce).
void StartControllers();
// Shutdown: stops the watch, the clock and closes every device.
void StopControllers();
