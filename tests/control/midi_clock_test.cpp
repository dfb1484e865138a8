// The beat clock's sender thread against a recording output: start on the deck's beat, 24 clocks a
// beat locked to the deck's grid, stop when the tempo leaves 20..400 BPM and at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

#include "control/midi_clock.h"
#include "platform/clock.h"

namespace {

struct Stamped {
  uint8_t status;
  double seconds;
};

class ClockOutputLog {
 public:
  std::function<void(uint8_t)> Sink() {
    return [this](uint8_t status) {
      std::lock_guard<std::mutex> lock(lock_);
      sent_.push_back({status, MonotonicSeconds()});
    };
  }
  std::vector<Stamped> Sent() {
    std::lock_guard<std::mutex> lock(lock_);
    return sent_;
  }

 private:
  std::mutex lock_;
  std::vector<Stamped> sent_;
};

TEST(MidiClockSender, StartsOnTheBeatLocksToTheGridAndStops) {
  ClockOutputLog log;
  auto sender = StartMidiClock(log.Sink());
  const double stamp = MonotonicSeconds();
  SetMidiClockTempo(*sender, 120.0, 0.3, stamp);  // the next beat comes 0.35 s after stamp
  SleepMs(1500);
  std::vector<Stamped> sent = log.Sent();
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent[0].status, kMidiStartByte);
  EXPECT_EQ(sent[1].status, kMidiClockByte);
  // A sleep never ends early, but a loaded machine can wake the thread late: no byte may come
  // ahead of its grid time, most come on it, and one late byte must not push the next ones.
  size_t clocks = 0, late = 0;
  std::vector<double> errors;
  for (size_t i = 0; i < sent.size(); ++i) {
    if (i > 0) ASSERT_EQ(sent[i].status, kMidiClockByte);
    const double ideal = stamp + 0.35 + static_cast<double>(i == 0 ? 0 : i - 1) * (0.5 / 24.0);
    const double error = sent[i].seconds - ideal;
    EXPECT_GT(error, -0.001) << "byte " << i << " ahead of the deck's grid";
    errors.push_back(std::fabs(error));
    if (error > 0.005) ++late;
    if (i > 0 && sent[i].seconds < stamp + 0.35 + 1.0 - 0.001) ++clocks;
  }
  std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
  EXPECT_LT(errors[errors.size() / 2], 0.002) << "the clock keeps to the deck's grid";
  EXPECT_LE(late * 10, sent.size()) << late << " of " << sent.size() << " bytes more than 5 ms late";
  EXPECT_NEAR(static_cast<double>(clocks), 48.0, 1.0) << "48 clocks a second at 120 BPM";

  // The deck slows out of range: one stop, then silence.
  SetMidiClockTempo(*sender, 19.0, 0.0, MonotonicSeconds());
  SleepMs(150);
  sent = log.Sent();
  EXPECT_EQ(sent.back().status, kMidiStopByte);
  const size_t stoppedAt = sent.size();
  SetMidiClockTempo(*sender, 401.0, 0.0, MonotonicSeconds());
  SleepMs(100);
  EXPECT_EQ(log.Sent().size(), stoppedAt);

  // Back in range: start again on a beat; the end of the sender stops the clock.
  SetMidiClockTempo(*sender, 120.0, 0.0, MonotonicSeconds());
  SleepMs(700);
  sent = log.Sent();
  ASSERT_GT(sent.size(), stoppedAt + 2);
  EXPECT_EQ(sent[stoppedAt].status, kMidiStartByte);
  StopMidiClock(std::move(sender));
  EXPECT_EQ(log.Sent().back().status, kMidiStopByte);
}

TEST(MidiClockSender, NonFiniteTempoCountsAsNoClock) {
  ClockOutputLog log;
  auto sender = StartMidiClock(log.Sink());
  SetMidiClockTempo(*sender, NAN, 0.0, MonotonicSeconds());
  SetMidiClockTempo(*sender, 120.0, INFINITY, MonotonicSeconds());
  SleepMs(600);
  StopMidiClock(std::move(sender));
  EXPECT_TRUE(log.Sent().empty());
}

}  // namespace
