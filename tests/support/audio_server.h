#pragma once
// A real sound server for tests: the one PULSE_SERVER names (./test.sh starts one for the whole
// run), else a private one started with scripts/test_audio_server.sh for this test process.
// Tests play into sinks of their own, so tests running at once never hear each other.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/sanitizers.h"

// Makes sure a server answers; false with the reason when none could be started.
bool EnsureAudioServer(std::string* why);

// A null sink with a keep-alive stream, named uniquely for this process; removed on destruction.
class TestSink {
 public:
  TestSink(const std::string& tag, int channels, int rate = 48000, const std::string& format = "float32le",
           const std::string& description = "");
  ~TestSink();
  TestSink(const TestSink&) = delete;
  TestSink& operator=(const TestSink&) = delete;
  bool ok() const { return ok_; }
  const std::string& name() const { return name_; }
  std::wstring wname() const;
  std::string monitor() const { return name_ + ".monitor"; }
  // Unloads the sink now (a device pulled out); the destructor then does nothing.
  void Remove();

 private:
  std::string name_;
  bool ok_ = false;
};

// Records a source as raw float samples with parec while it lives (1, 2 or 4 channels, in the
// channel order of the test sinks).
class MonitorRecording {
 public:
  MonitorRecording(const std::string& source, int channels, int rate);
  ~MonitorRecording();
  MonitorRecording(const MonitorRecording&) = delete;
  MonitorRecording& operator=(const MonitorRecording&) = delete;
  // Stops parec and returns the interleaved samples.
  std::vector<float> Stop();

 private:
  std::string path_;
  int pid_ = -1;
};

// Plays a sine into a sink with pacat while it lives.
class TonePlayer {
 public:
  TonePlayer(const std::string& sink, double hz, double amplitude, int channels = 2, int rate = 48000);
  ~TonePlayer();
  TonePlayer(const TonePlayer&) = delete;
  TonePlayer& operator=(const TonePlayer&) = delete;

 private:
  int pid_ = -1;
  std::string path_;
};

// One channel of interleaved samples.
std::vector<float> Channel(const std::vector<float>& samples, int channels, int channel);
// The samples between the first and last beyond threshold, less `trim` of each end.
std::vector<float> SoundingPart(const std::vector<float>& x, float threshold, size_t trim);
double Rms(const std::vector<float>& x);
// Amplitude of the hz component (a single-bin DFT over the whole block).
double ToneAmplitude(const std::vector<float>& x, double hz, int rate);
// Frequency from rising zero crossings; 0 when there are fewer than two.
double ZeroCrossingHz(const std::vector<float>& x, int rate);
// The median of measure(window) over the whole windows of x, so that one late period of a loaded
// machine does not decide a level or a pitch; 0 without a whole window.
template <typename F>
double MedianOverWindows(const std::vector<float>& x, size_t window, F measure);

// Polls cond every 10 ms for up to timeoutMs; its last answer.
template <typename F>
bool WaitFor(F cond, int timeoutMs);

// How long a test waits for an output or input to open (a thread-checked build opens slowly).
inline constexpr int kOpenWaitMs = 5000 * kSanitizerWaitScale;

#include <algorithm>
#include <chrono>
#include <thread>

template <typename F>
double MedianOverWindows(const std::vector<float>& x, size_t window, F measure) {
  std::vector<double> values;
  for (size_t start = 0; window > 0 && start + window <= x.size(); start += window)
    values.push_back(measure(std::vector<float>(x.begin() + static_cast<long>(start),
                                                x.begin() + static_cast<long>(start + window))));
  if (values.empty()) return 0.0;
  std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2), values.end());
  return values[values.size() / 2];
}
template <typename F>
bool WaitFor(F cond, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!cond()) {
    if (std::chrono::steady_clock::now() >= end) return cond();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}
