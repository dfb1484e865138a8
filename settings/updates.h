#pragma once
// The update service as the per-frame tick sees it: its state, the automatic check's due time,
// the build stamp and the download folder. UI thread.
#include <cstdint>
#include <string>

enum UpdateStep : int32_t {
  kUpdateIdle = 0,
  kUpdateChecking = 1,
  kUpdateDownloading = 2,
  kUpdateReady = 3,
};
extern int32_t UpdateState;
// MonotonicMs() at which the next automatic check is due; 0 until the first tick sets it.
extern uint64_t NextUpdateCheckMs;

// Starts a check when the state is idle and sets the next automatic check 6 hours from now.
// Until the update service exists nothing is fetched.
void StartUpdateCheck(bool asked);
// The running program's link time in seconds since 1970; 0 until the platform reports it.
uint32_t BuildStamp();
// The stamp as local "5 Mar 2026, 14:07"; empty when it cannot be converted.
std::wstring FormatStamp(int64_t seconds);
// The temporary folder joined with "Veldmix Update" (not created here).
std::wstring UpdateDownloadFolder();
