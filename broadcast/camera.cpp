#include "broadcast/camera.h"

namespace {
// Until capture exists the camera only remembers that it was asked to run, and on which device.
bool Running = false;
std::wstring Device;
}  // namespace

void StartCamera(const std::wstring& device) {
  if (Running) return;
  Running = true;
  Device = device;
}

void StopCamera() {
  Running = false;
  Device.clear();
}

bool CameraRunning() { return Running; }
