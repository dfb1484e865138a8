#pragma once
// Which outputs, and whether the microphone input, have lost their device: set by an output (or
// the input) thread when a run that played ends on its own (the device or the sound server went
// away), cleared when it plays again or is stopped on purpose. The UI names the lost device on the
// status line and in the top bar.
#include <cstdint>
#include <string>

enum class OutputKind { kMaster, kPhones, kBooth, kMicrophone };

// A run of the output started playing on device id. Output thread, outside the period loop.
void MarkOutputPlaying(OutputKind kind, const std::wstring& deviceId);
// A run that played ended without being asked to; the output is being reopened. A run that
// never played leaves the state as it was. Output thread, outside the period loop.
void MarkOutputLost(OutputKind kind);
// The output was stopped on purpose (new routing, shutdown): not lost. Any thread.
void ForgetLostOutput(OutputKind kind);
// True while the output is lost. Any thread.
bool OutputLost(OutputKind kind);
// The status line while an output is lost: "Master output lost (NAME): reopening…" (or the
// headphone, booth or microphone line; the master's first) at once, shown
// again whenever no other message shows, and taken down when it plays again. Looks up the
// device's description once per device that starts playing. UI thread, once a frame.
void ShowLostOutputs(uint64_t nowMs);
