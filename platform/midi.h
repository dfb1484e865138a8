#pragma once
// MIDI ports through RtMidi: the ALSA sequencer when it opens, else JACK, never both (PipeWire's
// JACK bridge repeats every ALSA port). Ports are named "client:port" without ALSA's changing
// numbers, so a saved name survives a replug. "Midi Through", software synthesizers and the
// program's own ports are never listed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct MidiPortNames {
  std::vector<std::wstring> inputs;
  std::vector<std::wstring> outputs;
  bool operator==(const MidiPortNames&) const = default;
};

// Called on the MIDI thread with one short message packed as status | data1 << 8 | data2 << 16.
using MidiMessageSink = void (*)(uint32_t packed);

// The ports present now, in the system's order. Any thread.
MidiPortNames ListMidiPorts();
// Closes what is open, then opens every listed input (each message goes to sink) and output;
// a port that fails to open is left out. UI thread.
void OpenMidiPorts(MidiMessageSink sink);
// Stops and closes every open port. UI thread.
void CloseMidiPorts();
// The names of the ports that opened, in the same order as their indexes.
MidiPortNames OpenMidiPortNames();
// Sends a short message (1 to 3 bytes: status, data1 << 8, data2 << 16; bytes after a one-byte
// system message are not sent) to open output `output`. Each output has its own send lock, so the
// clock thread and the UI thread may send at once. False for an index that is not open.
bool SendMidiShort(size_t output, uint32_t packed);

// "client:port 24:0" -> "client:port": ALSA's client and port numbers change between plugs.
std::wstring PlainMidiPortName(const std::string& rtmidiName);
// Ports never opened: "Midi Through", synthesizers and our own ("Veldmix" clients).
bool SkippedMidiPort(const std::wstring& name);

// Lists the ports about once a second on a thread of its own and calls changed (on that thread)
// whenever the list differs from the one before. Stopped by StopMidiPortWatch.
void StartMidiPortWatch(void (*changed)());
void StopMidiPortWatch();
