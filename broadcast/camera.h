#pragma once
// Camera capture for the visualiser and the karaoke preview. UI thread.
#include <string>

// Starts capturing from the device when not capturing already; a running camera is left alone.
void StartCamera(const std::wstring& device);
// Stops a running capture; harmless when none runs.
void StopCamera();
bool CameraRunning();
