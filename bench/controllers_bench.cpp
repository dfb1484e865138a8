// Controller paths:
//   BM_OnMidiMessageMapped: one mapped MIDI message through the table and the dispatcher (the
//   Pioneer layout: channel faders, EQ and the browse knob); counters ns per message and
//   allocs_per_msg (goal 0).
//   BM_SendControllerLedsUnchanged: one frame's lights with 300 mapped lights and nothing changed;
//   goal below 0.1 ms a frame.
//   BM_MidiClockStampError: the beat clock's sender at 120 BPM for VELDMIX_CLOCK_BENCH_SECONDS
//   (default 60) seconds: the send stamps against the ideal 24-a-beat grid, counters p50_ms,
//   p99_ms (goal below 1 ms on a quiet machine) and max_ms. Run it alone with
//   --benchmark_filter=MidiClock.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "bench/alloc_count.h"
#include "control/control_ids.h"
#include "control/controller_leds.h"
#include "control/controller_presets.h"
#include "control/mapping_table.h"
#include "control/midi_clock.h"
#include "control/midi_input.h"
#include "platform/clock.h"

namespace {

void BM_OnMidiMessageMapped(benchmark::State& state) {
  ApplyControllerPreset(*FindControllerPreset(L"DDJ-FLX4"));
  // Volume (CC 19), high EQ (CC 7) on both sides, and the browse knob (CC 64 on channel 7, +1).
  const uint32_t faders[] = {0xB0 | 19 << 8, 0xB1 | 19 << 8, 0xB0 | 7 << 8, 0xB1 | 7 << 8};
  const uint32_t browse = 0xB6 | 64 << 8 | 1 << 16;
  uint32_t value = 0;
  int64_t sent = 0;
  const int64_t allocationsBefore = Allocations.load();
  for (auto _ : state) {
    for (uint32_t message : faders) OnMidiMessage(message | (value++ & 0x7F) << 16);
    OnMidiMessage(browse);
    sent += static_cast<int64_t>(std::size(faders)) + 1;
  }
  state.counters["allocs_per_msg"] = static_cast<double>(Allocations.load() - allocationsBefore) / static_cast<double>(sent);
  state.counters["ns_per_msg"] = benchmark::Counter(static_cast<double>(sent), benchmark::Counter::kIsRate |
                                                                                   benchmark::Counter::kInvert);
  MappingTable.clear();
}
BENCHMARK(BM_OnMidiMessageMapped);

void NoSend(size_t, uint32_t) {}

void BM_SendControllerLedsUnchanged(benchmark::State& state) {
  MappingTable.clear();
  ClearControllerLedCache();
  // 300 lit-able buttons: hot cues, pads, play and cue on 8 channels of both sides.
  int rows = 0;
  for (uint32_t channel = 0; channel < 16 && rows < 300; ++channel)
    for (uint32_t note = 0; note < 20 && rows < 300; ++note, ++rows)
      MappingTable[MidiMappingKey(0x90, channel, note)] =
          static_cast<uint32_t>(DeckControl(static_cast<int>(channel % 2), kHotCueOffset + static_cast<int32_t>(note % 8)));
  SendControllerLedsTo(2, -1, NoSend);  // the first frame sends everything
  for (auto _ : state) SendControllerLedsTo(2, -1, NoSend);
  state.counters["lights"] = rows;
  MappingTable.clear();
  ClearControllerLedCache();
}
BENCHMARK(BM_SendControllerLedsUnchanged)->Unit(benchmark::kMicrosecond);

void BM_MidiClockStampError(benchmark::State& state) {
  const char* env = std::getenv("VELDMIX_CLOCK_BENCH_SECONDS");
  const double seconds = env ? std::max(2.0, std::atof(env)) : 60.0;
  std::vector<double> stamps;
  double origin = 0.0;  // beat 0 of the deck
  stamps.reserve(static_cast<size_t>(seconds * 48 * 2) + 64);
  for (auto _ : state) {
    stamps.clear();
    auto sender = StartMidiClock([&stamps](uint8_t status) {
      if (status == kMidiClockByte && stamps.size() < stamps.capacity()) stamps.push_back(MonotonicSeconds());
    });
    origin = MonotonicSeconds();
    SetMidiClockTempo(*sender, 120.0, 0.0, origin);
    SleepMs(static_cast<unsigned>(seconds * 1000));
    StopMidiClock(std::move(sender));
  }
  if (stamps.size() < 2) return;
  // The grid is the deck's: the first clock belongs on the beat after the start, 24 clocks a beat.
  std::vector<double> errors;
  const double beat = 0.5, interval = beat / 24.0;
  const double first = origin + std::round((stamps[0] - origin) / beat) * beat;
  for (size_t i = 0; i < stamps.size(); ++i)
    errors.push_back(std::fabs(stamps[i] - (first + static_cast<double>(i) * interval)) * 1000.0);
  std::sort(errors.begin(), errors.end());
  state.counters["clocks"] = static_cast<double>(stamps.size());
  state.counters["p50_ms"] = errors[errors.size() / 2];
  state.counters["p99_ms"] = errors[errors.size() * 99 / 100];
  state.counters["max_ms"] = errors.back();
}
BENCHMARK(BM_MidiClockStampError)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
