#pragma once
// The sound devices the program can use: the sound server's sinks (render) and sources
// (capture), each with its id, description and channel count.
#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kRenderFlow = 0;
inline constexpr int kCaptureFlow = 1;

struct AudioDevice {
  std::wstring id;    // the server's name for the device; what settings store
  std::wstring name;  // the description people read
  int32_t channels = 2;
};

// The devices of one flow in the server's order; empty when no server answers. A device without
// a description is named "Output N" or "Input N" (N from 1, its place in the list); a device
// that reports no channels counts as stereo. Devices of the same description get what tells them
// apart after it: " (hw:1,0)", their ALSA card and device, else " (" + id + ")". Blocks up to a few seconds: never the audio thread.
std::vector<AudioDevice> ListAudioDevices(int flow);
// The id of the server's default device of the flow; empty when there is none or no server.
std::wstring DefaultAudioDeviceId(int flow);
