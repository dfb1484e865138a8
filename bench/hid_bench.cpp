// BM_OnHidReport: one 64-byte report of a device with 100 HID mappings (bits, bytes and 12-bit
// fields onto the channel faders, EQs and deck buttons), four bytes changing each time; counter
// us_per_report (goal: a 1 kHz device under 2 % of a core, so below 20 us).
#include <benchmark/benchmark.h>

#include <iterator>

#include "control/control_ids.h"
#include "control/hid_reports.h"
#include "control/mapping_table.h"

namespace {

void BM_OnHidReport(benchmark::State& state) {
  MappingTable.clear();
  const int32_t absolutes[] = {kVolumeOffset, kGainOffset, kHighOffset, kMidOffset, kLowOffset, kFilterOffset};
  for (uint32_t i = 0; i < 100; ++i) {
    const uint32_t position = 1 + (i % 60);
    const uint32_t kind = i < 40 ? i % 8 : (i < 80 ? 8 : 9);
    const int32_t target = i < 40 ? DeckControl(i % 2, kHeadphoneCueOffset)
                                  : DeckControl(i % 2, absolutes[i % std::size(absolutes)]);
    MappingTable[HidMappingKey(1, position, kind)] = static_cast<uint32_t>(target);
  }
  HidReport report{0, std::vector<uint8_t>(64, 0)};
  report.bytes[0] = 1;
  uint64_t now = 0;
  uint8_t step = 0;
  OnHidReportAt(report, now);
  for (auto _ : state) {
    ++step;
    for (uint32_t p : {45u, 46u, 50u, 61u}) report.bytes[p] = step;
    OnHidReportAt(report, now += 1);
  }
  state.counters["us_per_report"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 1e-6,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  MappingTable.clear();
  ClearHidHistory();
}
BENCHMARK(BM_OnHidReport);

}  // namespace
