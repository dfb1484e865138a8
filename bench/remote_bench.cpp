// The phone remote: the state document made from 50,000 tracks in view with the selection near
// the end (the UI thread's cost every 200 ms while the remote runs), and one "/api/state" round
// trip over loopback as a phone makes it (connect, request, reply, close), with p50 and p99.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "control/remote_server.h"
#include "control/remote_state.h"
#include "library/track_view.h"

namespace {

constexpr int kViewTracks = 50000;
constexpr const char* kPin = "4711";

void FillView() {
  ViewItems.clear();
  ViewOrder.clear();
  for (int i = 0; i < kViewTracks; ++i) {
    ViewItems.push_back(LibraryFile{.path = L"/music/" + std::to_wstring(i) + L".mp3",
                                    .title = L"Track n\u00famero " + std::to_wstring(i),
                                    .artist = i % 3 ? L"Art\u00edst " + std::to_wstring(i % 97) : L""});
    ViewOrder.push_back(kViewTracks - 1 - i);
  }
  Selection = ViewOrder[kViewTracks - 2];
}

void BM_RemoteStateJson50kTracks(benchmark::State& state) {
  FillView();
  size_t bytes = 0;
  for (auto _ : state) {
    const std::string json = RemoteStateJson();
    bytes = json.size();
    benchmark::DoNotOptimize(json.data());
  }
  state.counters["json_bytes"] = static_cast<double>(bytes);
  ViewItems.clear();
  ViewOrder.clear();
  Selection = -1;
}
BENCHMARK(BM_RemoteStateJson50kTracks)->Unit(benchmark::kMicrosecond);

void BM_RemoteStateRoundTrip(benchmark::State& state) {
  std::wstring error;
  if (!StartRemoteServer(0, kPin, &error, true)) {
    state.SkipWithError("the remote server did not start");
    return;
  }
  FillView();
  SetRemoteState(RemoteStateJson());
  const int port = RemoteServerPort();
  const std::string path = std::string("/api/state?pin=") + kPin;
  std::vector<double> micros;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const std::string reply = RemoteTestRequest(path, port);
    micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    if (!reply.starts_with("HTTP/1.1 200 OK")) {
      state.SkipWithError("no state in the reply");
      break;
    }
  }
  StopRemoteServer();
  ViewItems.clear();
  ViewOrder.clear();
  Selection = -1;
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  state.counters["p50_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}
BENCHMARK(BM_RemoteStateRoundTrip)->Unit(benchmark::kMicrosecond)->Iterations(2000);

}  // namespace
