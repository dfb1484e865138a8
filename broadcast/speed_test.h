#pragma once
// The connection speed test of the Broadcast settings page: latency, then download and upload
// throughput against an HTTPS speed-test service, on a worker thread that publishes its progress
// and results through one shared state object.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

// Phases of a run.
inline constexpr int32_t kSpeedPhaseNone = 0;
inline constexpr int32_t kSpeedPhaseLatency = 1;
inline constexpr int32_t kSpeedPhaseDownload = 2;
inline constexpr int32_t kSpeedPhaseUpload = 3;
inline constexpr int32_t kSpeedPhaseDone = 4;
inline constexpr int32_t kSpeedPhaseFailed = 5;

// The service's requests.
inline constexpr const char* kSpeedLatencyPath = "/__down?bytes=0";
inline constexpr const char* kSpeedDownloadPath = "/__down?bytes=25000000";
inline constexpr const char* kSpeedUploadPath = "/__up";
// The public service used unless SpeedTest::SetServer names another.
inline constexpr const char* kSpeedTestDefaultServer = "https://speed.cloudflare.com";
// When set (and not empty), the base address used instead of the public service.
inline constexpr const char* kSpeedServerVariable = "VELDMIX_SPEED_SERVER";

// A copy of one run's numbers; all zero and empty when no test ran.
struct SpeedTestResult {
  int32_t phase = kSpeedPhaseNone;
  float progress = 0.0f;      // 0..1
  double latencyMs = 0.0;     // upper median of the timed requests
  double downloadMbps = 0.0;  // 10^6 bits per second
  double uploadMbps = 0.0;
  std::wstring message;       // why it failed
  int64_t finishedAt = 0;     // calendar seconds when it completed
};

namespace SpeedTest {

// One run's state, shared by the UI side and the run's worker.
struct Shared {
  std::mutex lock;  // guards everything below but `cancel`
  int32_t phase = kSpeedPhaseNone;
  float progress = 0.0f;
  double latencyMs = 0.0;
  double downloadMbps = 0.0;
  double uploadMbps = 0.0;
  std::wstring message;
  int64_t finishedAt = 0;
  std::atomic<bool> cancel{false};
};

// Starts a run on a detached worker unless one is in phases 1 to 3. UI thread.
void Start();
// Asks the current run to stop; it ends in phase 5 with "Stopped before it finished".
void Cancel();
// True while the current run is in phases 1 to 3.
bool IsRunning();
// The current run's numbers, copied under both locks.
SpeedTestResult Snapshot();
// Cancels the current run and shows the given numbers instead (the feature self-test's fixed
// figures).
void SetResult(const SpeedTestResult& result);

// The service's base address (scheme, host and optional port, no trailing slash). Tests and the
// command-line harness point it at a local server; a run uses the value it started with.
void SetServer(const std::string& baseUrl);
std::string Server();

}  // namespace SpeedTest
