// Big collections from other programs: a rekordbox XML with 10,000 playlists in 100 folders
// imported as the window does it (read, then every list and the database written, on the import
// threads; merged on the UI thread): the time until its report and the processor time of the UI
// thread's longest turn; the UI thread's part alone; and a Traktor NML whose one LOCATION DIR is 1.2 and 2.4 MB long.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/test_mode.h"
#include "library/import_merge.h"
#include "library/import_worker.h"
#include "library/rekordbox_xml.h"
#include "library/track_lists.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "support/playlist_collection.h"
#include "support/temp_home.h"

namespace {

constexpr PlaylistCollection kShape;  // 2,000 tracks, 100 folders of 100 lists
constexpr auto kUiTurn = std::chrono::milliseconds(1);

TempHome& Folder() {
  static TempHome home;
  return home;
}

const std::wstring& Collection() {
  static const std::wstring file = WritePlaylistCollection(Folder().path() + "/collection", kShape);
  return file;
}

// The calling thread's processor time: on a loaded machine its wall time says more of the load.
double ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

void BM_ImportRekordbox10000Playlists(benchmark::State& state) {
  const std::wstring& xml = Collection();
  const std::wstring report = fmt::format(L"Imported {} tracks and {} playlists", kShape.tracks, kShape.folders * kShape.lists);
  TestMode = false;
  OpenUiPosts(nullptr);
  double longestTurnMs = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    TrackLists = LoadLists();  // the program's start, not the import
    LastImportReport.clear();
    state.ResumeTiming();
    StartImport(kImportRekordbox, xml);
    while (ImportRunning()) {
      const double turn = ThreadCpuMs();
      DrainUiPosts(HandleImportPost);
      longestTurnMs = std::max(longestTurnMs, ThreadCpuMs() - turn);
      std::this_thread::sleep_for(kUiTurn);
    }
    if (LastImportReport != report) state.SkipWithError("the import failed");
  }
  CloseUiPosts(DiscardImportPost);
  state.counters["playlists"] = kShape.folders * kShape.lists;
  state.counters["longest_ui_turn_cpu_ms"] = longestTurnMs;
}
BENCHMARK(BM_ImportRekordbox10000Playlists)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The UI thread's part alone: the merge into lists already holding the names, and the copies of
// the lists' files and the database it hands to the save thread.
void BM_MergeRekordbox10000Playlists(benchmark::State& state) {
  const ImportResult imported = ImportRekordbox(Collection());
  TestMode = false;
  TrackLists = LoadLists();
  for (auto _ : state) {
    state.PauseTiming();
    auto* result = new ImportResult(imported);
    MakeListFiles(*result);  // done on the import thread
    state.ResumeTiming();
    std::unique_ptr<ImportSave> save = FoldImport(kImportRekordbox, result);
    state.PauseTiming();
    save.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_MergeRekordbox10000Playlists)->Unit(benchmark::kMillisecond)->Iterations(3);

// One track whose folder is `bytes` long, in Traktor's "/:" notation.
void BM_ImportTraktorLongDir(benchmark::State& state) {
  const size_t bytes = static_cast<size_t>(state.range(0));
  const std::string nml = fmt::format("{}/long-{}.nml", Folder().path(), bytes);
  std::string dir;
  while (dir.size() < bytes) dir += "/:d";
  std::ofstream(nml, std::ios::binary) << "<NML><COLLECTION><ENTRY><LOCATION VOLUME=\"Music\" DIR=\"" << dir
                                       << "/:\" FILE=\"a.mp3\"/></ENTRY></COLLECTION></NML>";
  const std::wstring path = Utf8ToWide(nml);
  for (auto _ : state) benchmark::DoNotOptimize(ImportTraktor(path));
}
BENCHMARK(BM_ImportTraktorLongDir)->Arg(1200000)->Arg(2400000)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
