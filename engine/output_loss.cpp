// The lost-output state and its status line.
#include "engine/output_loss.h"

#include <mutex>

#include "base/status_message.h"
#include "engine/audio_output.h"

namespace {

constexpr int kOutputKinds = 4;
// Shown until the output plays again; re-shown when another message took its place and expired.
constexpr int kLostStatusMs = 3600 * 1000;

struct OutputFate {
  std::wstring playingId;  // the device the last run that played opened
  bool played = false;     // a run played since the output was last stopped on purpose
  bool lost = false;
};

std::mutex gLossLock;  // never taken in a period loop
OutputFate gOutputFates[kOutputKinds];

// UI thread: the description of each kind's playing device, and the status text it showed.
struct ShownLoss {
  OutputFate fate;  // the last read: assigned over each frame, its string keeps its storage
  std::wstring resolvedId;
  std::wstring name;
  std::wstring text;  // empty while not lost
};
ShownLoss gShownLosses[kOutputKinds];

int FateIndex(OutputKind kind) { return static_cast<int>(kind); }

std::wstring LostDeviceDescription(OutputKind kind, const std::wstring& id) {
  for (const AudioDevice& device : kind == OutputKind::kMicrophone ? ListInputDevices() : ListOutputDevices())
    if (device.id == id) return device.name;
  return id;
}

UiText LostMessage(OutputKind kind, const std::wstring& name) {
  switch (kind) {
    case OutputKind::kMaster: return UiFormat(L"Master output lost ({}): reopening\u2026", name);
    case OutputKind::kPhones: return UiFormat(L"Headphone output lost ({}): reopening\u2026", name);
    case OutputKind::kMicrophone: return UiFormat(L"Microphone lost ({}): reopening\u2026", name);
    case OutputKind::kBooth: break;
  }
  return UiFormat(L"Booth output lost ({}): reopening\u2026", name);
}

}  // namespace

void MarkOutputPlaying(OutputKind kind, const std::wstring& deviceId) {
  std::lock_guard<std::mutex> guard(gLossLock);
  OutputFate& fate = gOutputFates[FateIndex(kind)];
  fate.playingId = deviceId;
  fate.played = true;
  fate.lost = false;
}

void MarkOutputLost(OutputKind kind) {
  std::lock_guard<std::mutex> guard(gLossLock);
  OutputFate& fate = gOutputFates[FateIndex(kind)];
  if (fate.played) fate.lost = true;
}

void ForgetLostOutput(OutputKind kind) {
  std::lock_guard<std::mutex> guard(gLossLock);
  gOutputFates[FateIndex(kind)] = {};
}

bool OutputLost(OutputKind kind) {
  std::lock_guard<std::mutex> guard(gLossLock);
  return gOutputFates[FateIndex(kind)].lost;
}

void ShowLostOutputs(uint64_t nowMs) {
  // The master last: lost together with the headphones (the server gone), it is the one shown.
  for (int k = kOutputKinds - 1; k >= 0; --k) {
    ShownLoss& shown = gShownLosses[k];
    {
      std::lock_guard<std::mutex> guard(gLossLock);
      shown.fate = gOutputFates[k];
    }
    const OutputFate& fate = shown.fate;
    // The description is read while the device is there to ask: once it is lost, the server
    // that knew it may be gone.
    if (!fate.lost && fate.played && fate.playingId != shown.resolvedId) {
      shown.resolvedId = fate.playingId;
      shown.name = LostDeviceDescription(static_cast<OutputKind>(k), fate.playingId);
    }
    if (!fate.lost) {
      if (!shown.text.empty() && Status.text == shown.text && StatusShowing(nowMs)) HideStatus();
      shown.text.clear();
      continue;
    }
    const std::wstring name = shown.resolvedId == fate.playingId ? shown.name : fate.playingId;
    const UiText message = LostMessage(static_cast<OutputKind>(k), name);
    if (shown.text.empty() || !StatusShowing(nowMs)) {
      ShowStatus(message, kLostStatusMs);
      shown.text = Status.text;
    }
  }
}
