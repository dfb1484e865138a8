// The update download over loopback HTTPS: fetch, SHA-256 and write of a 10 MB and a 200 MB
// package, in MB/s. Needs a site with the cases "p10" and "p200" (bench/update_download.sh starts
// one and compares the figure with curl piped into sha256sum); without one it is skipped.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/text.h"
#include "settings/update_client.h"

namespace {

void BM_UpdateDownload(benchmark::State& state) {
  const char* site = std::getenv("VELDMIX_BENCH_UPDATE_SITE");
  if (!site || !*site) {
    state.SkipWithError("VELDMIX_BENCH_UPDATE_SITE names no update site (run bench/update_download.sh)");
    return;
  }
  const std::wstring url = Utf8ToWide(site) + L"/p" + std::to_wstring(state.range(0));
  const UpdateInfo info = FetchLatestUpdate(url);
  if (!info.error.empty()) {
    state.SkipWithError("the site gave no usable update");
    return;
  }
  for (auto _ : state) {
    std::atomic<float> progress{0.0f};
    std::atomic<bool> cancel{false};
    UiText error;
    const std::wstring path = DownloadUpdate(info, progress, cancel, &error, url);
    if (path.empty()) {
      state.SkipWithError(WideToUtf8(EnglishText(error)).c_str());
      return;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * info.size);
}
BENCHMARK(BM_UpdateDownload)->Arg(10)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
