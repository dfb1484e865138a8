// The timecode decoder on synthetic records, and the input's start and stop.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "base/settings.h"
#include "control/timecode.h"
#include "platform/clock.h"
#include "support/temp_home.h"

namespace {

constexpr int kRate = 48000;

// A 1 kHz record at `speed` for `seconds`, the second channel a quarter cycle ahead (behind when
// swapped), at `level`, continuing from *phase.
std::vector<float> Record(double speed, double seconds, double level, double* phase, bool swapped = false) {
  const auto frames = static_cast<size_t>(seconds * kRate);
  std::vector<float> out(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    const auto s = static_cast<float>(level * std::sin(*phase));
    const auto c = static_cast<float>(level * std::cos(*phase));
    out[2 * i] = swapped ? c : s;
    out[2 * i + 1] = swapped ? s : c;
    *phase += 2.0 * std::numbers::pi * 1000.0 * speed / kRate;
  }
  return out;
}

void Feed(TimecodeDecoder& d, const std::vector<float>& samples) {
  DecodeTimecode(d, samples.data(), static_cast<uint32_t>(samples.size() / 2));
}

TEST(Timecode, SimulatedRecordsReadTheirSpeed) {
  struct Row {
    double carrier, speed, noise;
    const char* name;
  };
  const Row rows[] = {{1000, 1.0, 0, "normal speed"},        {1000, 0.5, 0, "half speed"},
                      {1000, 1.08, 0.02, "+8% with noise"},  {1000, -1.0, 0, "backwards"},
                      {1000, -0.3, 0.02, "slow scratch back"}, {2000, 1.0, 0.02, "Traktor (2 kHz)"}};
  for (const Row& r : rows) EXPECT_NEAR(SimulateTimecode(r.carrier, r.speed, r.noise, 0.5), r.speed, 0.01) << r.name;
  EXPECT_EQ(SimulateTimecode(1000, 0, 0, 0.5), 0.0);
  EXPECT_EQ(SimulateTimecode(1000, 1, 0, 0.05), 0.0);  // not one whole block
}

TEST(Timecode, WiringFlipAndPeriod) {
  double phase = 0.0;
  TimecodeDecoder d = MakeTimecodeDecoder(kRate, 1000.0, false);
  Feed(d, Record(1.0, 0.2, 0.5, &phase));
  EXPECT_NEAR(d.lastPeriod, 48.0, 0.01);
  EXPECT_NEAR(d.speed, 1.0, 0.001);

  phase = 0.0;
  TimecodeDecoder reversed = MakeTimecodeDecoder(kRate, 1000.0, false);
  Feed(reversed, Record(1.08, 0.2, 0.5, &phase, true));
  EXPECT_NEAR(reversed.speed, -1.08, 0.005);
  phase = 0.0;
  TimecodeDecoder flipped = MakeTimecodeDecoder(kRate, 1000.0, true);
  Feed(flipped, Record(1.08, 0.2, 0.5, &phase, true));
  EXPECT_NEAR(flipped.speed, 1.08, 0.005);

  const TimecodeDecoder odd = MakeTimecodeDecoder(100, -5.0, false);
  EXPECT_EQ(odd.sampleRate, 8000);
  EXPECT_EQ(odd.carrierHz, 1000.0);
}

TEST(Timecode, LiftingTheNeedleAndSlowingToAHalt) {
  double phase = 0.0;
  TimecodeDecoder d = MakeTimecodeDecoder(kRate, 1000.0, false);
  Feed(d, Record(1.0, 0.2, 0.5, &phase));
  // Silence: the envelope decays over 50 ms; no crossing for 80 ms stops the record first.
  std::vector<float> quiet(static_cast<size_t>(0.079 * kRate) * 2, 0.0f);
  Feed(d, quiet);
  EXPECT_GT(std::fabs(d.speed), 0.0);
  EXPECT_LT(d.speed, 48.0 / (0.079 * kRate) + 1e-9);  // bounded by one cycle over the time since
  Feed(d, std::vector<float>(static_cast<size_t>(0.002 * kRate) * 2, 0.0f));
  EXPECT_EQ(d.speed, 0.0);
  EXPECT_GT(d.envelope, kTimecodeSignalLevel);
  Feed(d, std::vector<float>(static_cast<size_t>(0.2 * kRate) * 2, 0.0f));
  EXPECT_LT(d.envelope, kTimecodeSignalLevel);

  // A record too quiet to count never moves the deck.
  TimecodeDecoder faint = MakeTimecodeDecoder(kRate, 1000.0, false);
  Feed(faint, Record(1.0, 0.3, 0.01, &phase));
  EXPECT_EQ(faint.speed, 0.0);

  // Slowing down smoothly: the reading follows the record down without a jump to 0.
  TimecodeDecoder slowing = MakeTimecodeDecoder(kRate, 1000.0, false);
  phase = 0.0;
  double last = 2.0;
  for (double speed = 1.0; speed > 0.3; speed -= 0.05) {
    Feed(slowing, Record(speed, 0.02, 0.5, &phase));
    EXPECT_LT(slowing.speed, last + 1e-9);
    EXPECT_NEAR(slowing.speed, speed, 0.08);
    last = slowing.speed;
  }
}

// The tempo fader follows the record's pitch: a stretch of steady speed, not the readings of a
// record starting, lifted, braked by hand or turned backwards, which pass through every speed.
TEST(Timecode, ThePitchIsTheLastSteadyForwardSpeed) {
  double phase = 0.0;
  TimecodeDecoder d = MakeTimecodeDecoder(kRate, 1000.0, false);
  Feed(d, Record(1.02, 0.05, 0.5, &phase));
  EXPECT_EQ(d.pitch, 0.0) << "starting: no pitch yet";
  Feed(d, Record(1.02, 0.5, 0.5, &phase));
  EXPECT_NEAR(d.pitch, 1.02, 0.001);
  EXPECT_NEAR(d.speed, 1.02, 0.001) << "the deck plays at the record's speed";

  // Lifted at a crest, read every quarter millisecond as the input's packets may end: the speed
  // falls through the fader's range on its way to 0, the pitch stays.
  while (std::cos(phase) > 0.1 || std::sin(phase) < 0.0) Feed(d, Record(1.02, 1.0 / kRate, 0.5, &phase));
  bool passedThrough = false;
  for (int step = 0; step < 800; ++step) {
    Feed(d, std::vector<float>(kRate / 4000 * 2, 0.0f));
    passedThrough = passedThrough || (d.speed > 0.5 && d.speed < 0.98);
    ASSERT_NEAR(d.pitch, 1.02, 0.001) << step / 4.0 << " ms after the lift";
  }
  EXPECT_TRUE(passedThrough);

  // Started again, braked to a halt by hand over 0.3 s, then played backwards: the pitch holds.
  Feed(d, Record(1.02, 0.3, 0.5, &phase));
  for (double speed = 1.02; speed > 0.05; speed -= 1.0 / 300) Feed(d, Record(speed, 0.001, 0.5, &phase));
  EXPECT_NEAR(d.pitch, 1.02, 0.015) << "at most the first 1 % of the braking";
  Feed(d, Record(-1.0, 0.5, 0.5, &phase));
  EXPECT_NEAR(d.speed, -1.0, 0.01);
  EXPECT_NEAR(d.pitch, -1.0, 0.01) << "a steady backwards stretch is no forward pitch";
  // The pitch control moved to -4 %: the new speed once it holds.
  Feed(d, Record(0.96, 0.3, 0.5, &phase));
  EXPECT_NEAR(d.pitch, 0.96, 0.001);
}

// With no sound server the thread keeps retrying; turning [Dvs] On off stops it.
TEST(Timecode, OnOffStartsAndStopsTheThread) {
  TempHome home;
  Settings = SettingsRecord{};
  Settings.DvsOn = false;
  StartTimecodeInput();
  EXPECT_FALSE(TimecodeInputRunning());
  Settings.DvsOn = true;
  Settings.DvsDevice = L"no_such_source";
  StartTimecodeInput();
  EXPECT_TRUE(TimecodeInputRunning());
  SleepMs(50);
  Settings.DvsOn = false;
  const uint64_t before = MonotonicMs();
  StartTimecodeInput();
  EXPECT_LT(MonotonicMs() - before, 400u) << "a retry pause does not hold up the stop";
  EXPECT_FALSE(TimecodeInputRunning());
  EXPECT_EQ(TimecodeSpeed(0), 0.0);
  EXPECT_FALSE(TimecodeHasSignal(1));
  StopTimecodeInput();  // idempotent
  Settings = SettingsRecord{};
}

}  // namespace
