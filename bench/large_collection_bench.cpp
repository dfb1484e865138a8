// Big collections from other programs: a rekordbox XML with 10,000 playlists in 100 folders,
// read and merged with every list written to disk (the whole import a DJ waits for), the merge
// alone, and a Traktor NML whose one LOCATION DIR is 1.2 and 2.4 MB long.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <fmt/format.h>

#include "app/test_mode.h"
#include "library/import_merge.h"
#include "library/rekordbox_xml.h"
#include "library/track_lists.h"
#include "platform/file_url.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

constexpr int kTracks = 2000;
constexpr int kFolders = 100;
constexpr int kListsPerFolder = 100;  // 10,000 playlists
constexpr int kTracksPerList = 12;

struct BenchFolder {
  fs::path root;
  BenchFolder() {
    char pattern[] = "/tmp/veldmix-bench-collection-XXXXXX";
    root = mkdtemp(pattern);
    setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
    setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
  }
  ~BenchFolder() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

BenchFolder& Folder() {
  static BenchFolder folder;
  return folder;
}

const std::wstring& Collection() {
  static std::wstring file;
  if (!file.empty()) return file;
  const fs::path music = Folder().root / "Music";
  fs::create_directories(music);
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DJ_PLAYLISTS Version=\"1.0.0\">\n";
  text += fmt::format("  <COLLECTION Entries=\"{}\">\n", kTracks);
  for (int i = 0; i < kTracks; ++i) {
    const fs::path song = music / fmt::format("{:05} - Title.mp3", i);
    std::ofstream(song).put('x');
    text += fmt::format("    <TRACK TrackID=\"{}\" AverageBpm=\"124.00\" Location=\"{}\">\n"
                        "      <TEMPO Inizio=\"0.050\" Bpm=\"124.00\" Metro=\"4/4\" Battito=\"1\"/>\n    </TRACK>\n",
                        i + 1, WideToUtf8(PathToFileUrl(Utf8ToWide(song.string()))));
  }
  text += "  </COLLECTION>\n  <PLAYLISTS>\n    <NODE Type=\"0\" Name=\"ROOT\" Count=\"" + std::to_string(kFolders) + "\">\n";
  for (int f = 0; f < kFolders; ++f) {
    text += fmt::format("      <NODE Type=\"0\" Name=\"Gigs {:03}\" Count=\"{}\">\n", f, kListsPerFolder);
    for (int l = 0; l < kListsPerFolder; ++l) {
      text += fmt::format("        <NODE Name=\"Set {:03}\" Type=\"1\" KeyType=\"0\" Entries=\"{}\">\n", l, kTracksPerList);
      for (int t = 0; t < kTracksPerList; ++t)
        text += fmt::format("          <TRACK Key=\"{}\"/>\n", (f * 131 + l * 17 + t) % kTracks + 1);
      text += "        </NODE>\n";
    }
    text += "      </NODE>\n";
  }
  text += "    </NODE>\n  </PLAYLISTS>\n</DJ_PLAYLISTS>\n";
  const fs::path xml = Folder().root / "rekordbox.xml";
  std::ofstream(xml, std::ios::binary) << text;
  file = Utf8ToWide(xml.string());
  return file;
}

// The whole import: read on the import thread, then merged with every list and the database
// written crash-safe.
void BM_ImportRekordbox10000Playlists(benchmark::State& state) {
  const std::wstring& xml = Collection();
  TestMode = false;
  for (auto _ : state) {
    state.PauseTiming();
    TrackLists = LoadLists();  // the program's start, not the import
    state.ResumeTiming();
    auto* result = new ImportResult(ImportRekordbox(xml));
    if (result->playlists.size() != size_t(kFolders) * kListsPerFolder) state.SkipWithError("playlists missing");
    if (!MergeImport(kImportRekordbox, result)) state.SkipWithError("the merge failed");
  }
  state.counters["playlists"] = kFolders * kListsPerFolder;
}
BENCHMARK(BM_ImportRekordbox10000Playlists)->Unit(benchmark::kMillisecond)->Iterations(2);

// The merge alone, the part that runs on the UI thread, into lists already holding the names.
void BM_MergeRekordbox10000Playlists(benchmark::State& state) {
  const ImportResult imported = ImportRekordbox(Collection());
  TestMode = true;
  TrackLists = LoadLists();
  for (auto _ : state) MergeImport(kImportRekordbox, new ImportResult(imported));
  TestMode = false;
}
BENCHMARK(BM_MergeRekordbox10000Playlists)->Unit(benchmark::kMillisecond)->Iterations(3);

// One track whose folder is `bytes` long, in Traktor's "/:" notation.
void BM_ImportTraktorLongDir(benchmark::State& state) {
  const size_t bytes = static_cast<size_t>(state.range(0));
  const fs::path nml = Folder().root / fmt::format("long-{}.nml", bytes);
  std::string dir;
  while (dir.size() < bytes) dir += "/:d";
  std::ofstream(nml, std::ios::binary) << "<NML><COLLECTION><ENTRY><LOCATION VOLUME=\"Music\" DIR=\"" << dir
                                       << "/:\" FILE=\"a.mp3\"/></ENTRY></COLLECTION></NML>";
  const std::wstring path = Utf8ToWide(nml.string());
  for (auto _ : state) benchmark::DoNotOptimize(ImportTraktor(path));
}
BENCHMARK(BM_ImportTraktorLongDir)->Arg(1200000)->Arg(2400000)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
