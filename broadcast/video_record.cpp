#include "broadcast/video_record.h"

bool StartVideoRecording(const std::wstring&, int32_t, std::wstring* error) {
  if (error) *error = L"Video recording isn't available";
  return false;
}

void StopVideoRecording() {}

void CaptureRecordFrame() {}
