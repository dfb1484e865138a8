// The error sound on a real sound server: heard on the sink it was played to, high tone first,
// and a clear reason when the device does not exist.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/error_sound.h"
#include "support/audio_server.h"

namespace {

constexpr int kRate = 48000;

// The tone's frequency over the loud samples of one channel, from its upward zero crossings.
double ToneHz(const std::vector<float>& left) {
  int crossings = 0, first = -1, last = -1;
  for (size_t i = 1; i < left.size(); ++i) {
    if (left[i - 1] < 0 && left[i] >= 0) {
      if (first < 0) first = static_cast<int>(i);
      last = static_cast<int>(i);
      ++crossings;
    }
  }
  return crossings > 1 ? (crossings - 1) * static_cast<double>(kRate) / (last - first) : 0.0;
}

TEST(ErrorSound, PlaysHighThenLowOnTheSinkAndNamesAMissingDevice) {
  std::string why;
  ASSERT_TRUE(EnsureAudioServer(&why)) << why;
  TestSink sink("errorsound", 2, kRate);
  ASSERT_TRUE(sink.ok());
  MonitorRecording recording(sink.monitor(), 2, kRate);
  std::wstring error;
  ASSERT_TRUE(PlayErrorSound(sink.wname(), &error)) << std::string(error.begin(), error.end());
  const std::vector<float> samples = recording.Stop();

  // The loud part, left channel only.
  std::vector<float> loud;
  for (size_t i = 0; i + 1 < samples.size(); i += 2)
    if (std::fabs(samples[i]) > 0.05f || (!loud.empty() && loud.size() < static_cast<size_t>(0.24 * kRate)))
      loud.push_back(samples[i]);
  ASSERT_GT(loud.size(), static_cast<size_t>(0.2 * kRate)) << "the beep was not heard";
  float peak = 0;
  for (float s : loud) peak = std::max(peak, std::fabs(s));
  EXPECT_NEAR(peak, 0.35f, 0.05f);
  const size_t half = static_cast<size_t>(0.12 * kRate);
  const std::vector<float> high(loud.begin() + half / 4, loud.begin() + half * 3 / 4);
  const std::vector<float> low(loud.begin() + half + half / 4, loud.begin() + half + half * 3 / 4);
  EXPECT_NEAR(ToneHz(high), 880.0, 15.0);
  EXPECT_NEAR(ToneHz(low), 587.3, 15.0);

  error.clear();
  EXPECT_FALSE(PlayErrorSound(L"no_such_sink_here", &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
