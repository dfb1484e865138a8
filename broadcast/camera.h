#pragma once
// Camera capture for the visualiser and the karaoke preview: one camera (or the synthetic test
// pattern) captured on a thread of its own, its newest frame kept as 32-bit pixels (bytes B, G,
// R, A with alpha 0xFF, top row first), the cameras listed in the settings screen's order, the
// picture format chosen, and problems reported in plain words. UI thread unless a function says
// otherwise.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/camera_source.h"

// The device that needs no camera.
inline constexpr wchar_t kTestPatternDevice[] = L"test-pattern";
inline constexpr int kTestPatternWidth = 1280;
inline constexpr int kTestPatternHeight = 720;

// --- Running ---

// False in a process that only measures screens: it must not take the camera (a FIFO stand-in's
// bytes, or a real camera) from a running copy.
extern bool CameraCaptureAllowed;
// Starts capturing the device (a camera's link, or "test-pattern"), or keeps the current capture.
// A capture of the same device that has ended is started again once 3 s have passed since the
// last start, so a failing camera is retried every 3 s; its error stays shown meanwhile.
void StartCamera(const std::wstring& device);
// Stops the capture and forgets its frame, size, device, status and format label. Returns within
// about 0.1 s whatever the source does.
void StopCamera();
// True from StartCamera until StopCamera (the capture may have ended with an error meanwhile).
bool CameraRunning();
// True while the capture thread runs (the feature test's running flag).
bool CameraCapturing();

// --- What it delivers ---

// When the newest frame's serial differs from *serial and a frame is held: copies it out with its
// size, sets *serial and returns true; else false and nothing written.
bool TakeCameraFrame(std::vector<uint32_t>* pixels, int* width, int* height, uint64_t* serial);
// The status text in English (empty while all is well); the drawing code translates it.
std::wstring CameraStatusText();
// The camera's friendly name, " · " and the chosen format ("1280x720 YUY2 30 fps"), or
// "test pattern"; empty while stopped.
std::wstring CameraFormatLabel();
// Frames published since the last start.
uint64_t CameraFrameCount();

// --- The cameras ---

struct CameraEntry {
  std::wstring name;
  std::wstring link;
};
// The cameras for the settings screen: infrared ones last, the order kept within both groups.
std::vector<CameraEntry> ListCameras();

// --- Pieces of the capture, exposed for tests ---

// True for a name that marks an infrared camera (" IR ", "INFRARED", "IR CAMERA", or ending " IR").
bool IsInfraredCamera(const std::wstring& name);
// Moves the infrared cameras last, keeping the order within both groups.
void OrderCameras(std::vector<CameraSource>* cameras);
// Index of the best format (1280 x 720 at 30 fps in NV12 or YUY2 preferred, nothing wider than
// 1920), -1 when none qualifies; the first of equal scores wins. *label gets "WxH SUBTYPE N fps".
int ChooseCameraFormat(const std::vector<CameraFormat>& formats, std::wstring* label);
// Frame n of the test pattern, 1280 x 720.
void DrawCameraTestPattern(std::vector<uint32_t>* pixels, uint64_t n);
