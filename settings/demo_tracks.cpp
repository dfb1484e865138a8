#include "settings/demo_tracks.h"

#include "app/main_window.h"
#include "app/test_mode.h"
#include "library/files.h"
#include "platform/folders.h"

std::atomic<int32_t> DemoTrackState{kDemoIdle};
std::wstring DemoTrackError;
bool DemoTracksRequested = false;

std::wstring DemoTracksFolder() {
  return JoinPath(TestMode ? SelfTest.outputPath : AppDataDir(), L"Demo Tracks");
}
