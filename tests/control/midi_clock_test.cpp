// The beat clock's sender thread against a recording output: start on the deck's beat, 24 clocks a
// beat locked to the deck's grid, stop when the tempo leaves 20..400 BPM and at the end.
#include <gtest/gtest.h>

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
  EXPECT_NEAR(sent[0].seconds, stamp + 0.35, 0.005) << "start on the deck's beat";
  size_t clocks = 0;
  double worst = 0.0;
  for (size_t i = 1; i < sent.size(); ++i) {
    ASSERT_EQ(sent[i].status, kMidiClockByte);
    const double ideal = stamp + 0.35 + static_cast<double>(i - 1) * (0.5 / 24.0);
    worst = std::max(worst, std::fabs(sent[i].seconds - ideal));
    if (sent[i].seconds < sent[1].seconds + 1.0 - 0.001) ++clocks;
  }
  EXPECT_NEAR(static_cast<double>(clocks), 48.0, 1.0) << "48 clocks a second at 120 BPM";
  EXPECT_LT(worst, 0.005) << "every clock on the deck's grid";

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
