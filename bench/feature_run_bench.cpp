// The feature run's phase 1 on the UI thread: one SimulateTimecode of 0.5 s at 48 kHz (seven run
// in the tick; the aim is 10 ms or less each), and the tick's own checks without the timecode
// test's waits for the output: the bent-grid and skin tests with the seven signal readings, and
// the phone-remote test's round trips over loopback on its own.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "app/main_window.h"
#include "control/timecode.h"
#include "selftest/feature_run.h"
#include "selftest/selftest_state.h"

namespace {

void BM_SimulateTimecodeHalfSecond(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(SimulateTimecode(1000.0, 1.08, 0.02, 0.5));
  state.SetLabel("0.5 s at 48 kHz");
}
BENCHMARK(BM_SimulateTimecodeHalfSecond)->Unit(benchmark::kMillisecond);

// Without tracks on the decks the sync part reports its one failure and returns, as it costs
// nothing beside the rest.
void BM_PhaseOneChecksWithoutWaits(benchmark::State& state) {
  constexpr double kSignals[][3] = {{1000, 1.0, 0},  {1000, 0.5, 0},     {1000, 1.08, 0.02}, {1000, -1.0, 0},
                                    {1000, -0.3, 0.02}, {2000, 1.0, 0.02}, {1000, 0.0, 0}};
  for (auto _ : state) {
    ResetSelfTest();
    FeatureTest::BentGridTest();
    FeatureTest::SkinTest();
    for (const auto& s : kSignals) benchmark::DoNotOptimize(SimulateTimecode(s[0], s[1], s[2], 0.5));
  }
  ResetSelfTest();
}
BENCHMARK(BM_PhaseOneChecksWithoutWaits)->Unit(benchmark::kMillisecond);

void BM_RemoteTestRoundTrips(benchmark::State& state) {
  SelfTest.outputPath = (std::filesystem::temp_directory_path() / "veldmix-feature-bench").wstring();
  std::filesystem::create_directories(SelfTest.outputPath);
  for (auto _ : state) {
    ResetSelfTest();
    FeatureTest::RemoteTest();
  }
  ResetSelfTest();
}
BENCHMARK(BM_RemoteTestRoundTrips)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
