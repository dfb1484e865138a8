#pragma once
// The demo-track job as the per-frame tick sees it. The worker writes the error text before it
// sets state 4; the UI thread reads it after seeing 4.
#include <atomic>
#include <cstdint>
#include <string>

enum DemoTrackStep : int32_t {
  kDemoIdle = 0,
  kDemoMaking = 1,
  kDemoDone = 2,       // both files exist, not yet announced
  kDemoAnnounced = 3,
  kDemoFailed = 4,     // not yet reported
};
extern std::atomic<int32_t> DemoTrackState;
extern std::wstring DemoTrackError;
// Set by the tour's request for demo tracks; cleared once they are announced. UI thread.
extern bool DemoTracksRequested;

// In test mode the test output path joined with "Demo Tracks", else the data folder joined with
// "Demo Tracks". Not created here.
std::wstring DemoTracksFolder();
