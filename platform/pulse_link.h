#pragma once
// Platform-internal (included only by platform/*.cpp): one connection to the sound server,
// driven by the calling thread's own main loop, and the facts about one sink or source that
// opening a stream needs.
#include <pulse/pulseaudio.h>

#include <cstdint>
#include <string>
#include <vector>

struct PulseLink {
  pa_mainloop* loop = nullptr;
  pa_context* context = nullptr;
};

// One sink (render) or source (capture) as the server describes it.
struct PulseDevice {
  std::string name;         // the id
  std::string description;  // empty when the server has none
  pa_sample_spec spec{};
  pa_channel_map map{};
  std::string alsaCard;     // "alsa.card" / "alsa.device" properties, empty when not ALSA
  std::string alsaDevice;
};

// Connects without starting a server; false with a reason when none answers within timeoutMs.
bool ConnectPulse(PulseLink& link, const char* clientName, int timeoutMs, std::string& error);
// Disconnects and frees; harmless on a link that never connected.
void DisconnectPulse(PulseLink& link);
// Runs one loop iteration, waiting at most timeoutMs for an event. False when the loop failed.
bool IteratePulse(PulseLink& link, int timeoutMs);
// Runs the loop until the operation completes; unreferences it. False on failure or timeout.
bool FinishPulseOperation(PulseLink& link, pa_operation* operation, int timeoutMs);
// Every sink (flow 0) or source (flow 1) in the server's order; false when the query failed.
bool ListPulseDevices(PulseLink& link, int flow, std::vector<PulseDevice>& devices, int timeoutMs);
// One device by name; an empty name asks for the default device of the flow.
bool FindPulseDevice(PulseLink& link, int flow, const std::string& name, PulseDevice& device, int timeoutMs);
// The default sink (flow 0) or source (flow 1); empty when the server names none.
bool DefaultPulseDevice(PulseLink& link, int flow, std::string& name, int timeoutMs);
