#pragma once
// Platform-internal (included only by platform/*.cpp): one connection to the sound server,
// driven by the calling thread's own main loop, and the facts about one sink or source that
// opening a stream needs.
#include <cstdint>
#include <string>
#include <vector>

// The server's own types stay in the sources that include its headers.
struct pa_mainloop;
struct pa_context;
struct pa_operation;
struct pa_sample_spec;
struct pa_channel_map;

struct PulseLink {
  pa_mainloop* loop = nullptr;
  pa_context* context = nullptr;
};

// One sink (render) or source (capture) as the server describes it.
struct PulseDevice {
  std::string name;         // the id
  std::string description;  // empty when the server has none
  int sampleFormat = 0;        // the server's sample format number
  uint32_t rate = 0;
  uint8_t channels = 0;
  std::vector<int> positions;  // the channel map: the server's position of each channel
  std::string alsaCard;     // "alsa.card" / "alsa.device" properties, empty when not ALSA
  std::string alsaDevice;
};

// The device's sample spec and channel map in the server's types.
void PulseDeviceFormat(const PulseDevice& device, pa_sample_spec& spec, pa_channel_map& map);
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
