// Collection exchange at library scale: reading a 50,000-track rekordbox XML (time and peak
// memory beside Python's xml.etree parsing the same file), merging 50,000 imported tracks on the
// UI thread (without the save), and writing 50,000 records (the writer's own cost, and with tag
// reading per 1,000 real MP3s).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/test_mode.h"
#include "base/track_info.h"
#include "library/import_merge.h"
#include "library/rekordbox_xml.h"
#include "platform/file_url.h"
#include "platform/text.h"
#include "support/temp_home.h"

namespace fs = std::filesystem;

namespace {

constexpr int kTracks = 50000;
constexpr int kTagFiles = 1000;
constexpr int kTracksPerFolder = 500;

// The benchmark's own home, removed at exit.
const fs::path& Root() {
  static TempHome home;
  static const fs::path root = home.path();
  return root;
}

std::wstring TrackPath(int i) {
  return Utf8ToWide(
      (Root() / fmt::format("Music/Artist {:03}", i / kTracksPerFolder) / fmt::format("{:05} - Tïtle.mp3", i))
          .string());
}

// 50,000 empty files and a collection naming them, each with ten TEMPO and eight POSITION_MARK
// elements, as rekordbox writes them.
const fs::path& Collection() {
  static fs::path file;
  if (!file.empty()) return file;
  file = Root() / "rekordbox.xml";
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DJ_PLAYLISTS Version=\"1.0.0\">\n";
  text += fmt::format("  <COLLECTION Entries=\"{}\">\n", kTracks);
  for (int i = 0; i < kTracks; ++i) {
    const std::wstring path = TrackPath(i);
    fs::create_directories(fs::path(WideToUtf8(path)).parent_path());
    std::ofstream(WideToUtf8(path)).put('x');
    const double bpm = 120.0 + (i % 20);
    text += fmt::format(
        "    <TRACK TrackID=\"{}\" Name=\"Title {}\" Artist=\"Artist {}\" Album=\"Album\" Genre=\"House\" Kind=\"MP3 File\" "
        "Size=\"9000000\" TotalTime=\"360\" DiscNumber=\"0\" TrackNumber=\"1\" Year=\"2020\" AverageBpm=\"{:.2f}\" "
        "DateAdded=\"2024-01-01\" BitRate=\"320\" SampleRate=\"44100\" Comments=\"\" PlayCount=\"3\" Rating=\"153\" "
        "Location=\"{}\" Remixer=\"\" Tonality=\"8A\" Label=\"\" Mix=\"\">\n",
        i + 1, i, i / 40, bpm, WideToUtf8(PathToFileUrl(path)));
    for (int t = 0; t < 10; ++t)
      text += fmt::format("      <TEMPO Inizio=\"{:.3f}\" Bpm=\"{:.2f}\" Metro=\"4/4\" Battito=\"1\"/>\n",
                          0.05 + t * 32.0 * 60.0 / bpm, bpm);
    for (int m = 0; m < 8; ++m)
      text += fmt::format(
          "      <POSITION_MARK Name=\"Cue {}\" Type=\"0\" Start=\"{:.3f}\" Num=\"{}\" Red=\"40\" Green=\"226\" Blue=\"20\"/>\n",
          m, 16.0 * m + 0.05, m < 6 ? m : -1);
    text += "    </TRACK>\n";
  }
  text += "  </COLLECTION>\n  <PLAYLISTS>\n    <NODE Type=\"0\" Name=\"ROOT\" Count=\"1\">\n";
  text += fmt::format("      <NODE Name=\"All\" Type=\"1\" KeyType=\"0\" Entries=\"{}\">\n", kTracks);
  for (int i = 0; i < kTracks; ++i) text += fmt::format("        <TRACK Key=\"{}\"/>\n", i + 1);
  text += "      </NODE>\n    </NODE>\n  </PLAYLISTS>\n</DJ_PLAYLISTS>\n";
  std::ofstream(file, std::ios::binary) << text;
  return file;
}

long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::strtol(line.c_str() + std::char_traits<char>::length(field), nullptr, 10);
  return -1;
}

// Starts a new peak: VmHWM falls back to the resident size now.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Python's xml.etree parse of the file: seconds and peak resident megabytes of that process
// above its size before the parse.
bool PythonParse(const fs::path& file, double* seconds, double* peakMb) {
  const std::string command =
      "python3 -c \"import resource,sys,time,xml.etree.ElementTree as E\n"
      "b=resource.getrusage(resource.RUSAGE_SELF).ru_maxrss\n"
      "t=time.perf_counter(); d=E.parse(sys.argv[1]); t=time.perf_counter()-t\n"
      "print(t, (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss-b)/1024)\" '" + file.string() + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return false;
  const bool ok = std::fscanf(pipe, "%lf %lf", seconds, peakMb) == 2;
  return pclose(pipe) == 0 && ok;
}

void BM_ImportRekordbox50k(benchmark::State& state) {
  const fs::path& file = Collection();
  const double fileMb = static_cast<double>(fs::file_size(file)) / (1 << 20);
  double peakMb = 0.0;
  size_t tracks = 0;
  for (auto _ : state) {
    ResetPeak();
    const long before = StatusKb("VmRSS:");
    ImportResult result = ImportRekordbox(Utf8ToWide(file.string()));
    peakMb = std::max(peakMb, (StatusKb("VmHWM:") - before) / 1024.0);
    tracks = result.tracks.size();
    benchmark::DoNotOptimize(result);
  }
  if (tracks != static_cast<size_t>(kTracks)) state.SkipWithError("not every track was imported");
  state.counters["file_MB"] = fileMb;
  state.counters["peak_MB"] = peakMb;
  state.counters["peak_per_file"] = peakMb / fileMb;
  double pySeconds = 0.0, pyPeakMb = 0.0;
  if (PythonParse(file, &pySeconds, &pyPeakMb)) {
    state.counters["python_etree_s"] = pySeconds;
    state.counters["python_peak_MB"] = pyPeakMb;
  }
}
BENCHMARK(BM_ImportRekordbox50k)->Unit(benchmark::kMillisecond)->Iterations(3);

ImportedTrack ImportedAt(int i) {
  ImportedTrack t;
  t.path = TrackPath(i);
  t.bpm = 120.0 + i % 20;
  t.firstBeat = 0.05;
  t.key = i % 24;
  t.rating = i % 6;
  t.cue = 0.05;
  for (int h = 0; h < 6; ++h) {
    t.hotCueStart[h] = 16.0 * h + 0.05;
    t.hotCueColor[h] = 0x28E214;
    t.hotCueName[h] = L"Cue";
  }
  t.memoryCues = {96.05, 112.05};
  for (int m = 1; m < 10; ++m) t.tempoMarkers.push_back({32.0 * m, 0.05 + m * 32.0 * 60.0 / t.bpm});
  return t;
}

void BM_MergeImport50k(benchmark::State& state) {
  TestMode = true;  // the merge without its save
  ImportResult prepared;
  for (int i = 0; i < kTracks; ++i) prepared.tracks.push_back(ImportedAt(i));
  for (auto _ : state) {
    state.PauseTiming();
    TrackLibrary.clear();
    TrackLibrary.reserve(kTracks);
    auto* result = new ImportResult(prepared);
    state.ResumeTiming();
    MergeImport(kImportRekordbox, result);
  }
  TrackLibrary.clear();
  TestMode = false;
}
BENCHMARK(BM_MergeImport50k)->Unit(benchmark::kMillisecond);

ExportRecord RecordAt(int i) {
  ExportRecord r;
  r.path = TrackPath(i);
  r.info.bpm = 120.0 + i % 20;
  r.info.firstBeat = 0.05;
  r.info.key = i % 24;
  r.info.rating = i % 6;
  r.info.cue = 0.05;
  r.info.memoryCues = {96.05, 112.05};
  for (int h = 0; h < 6; ++h) {
    r.info.hotCueStart[h] = 16.0 * h + 0.05;
    r.info.hotCueName[h] = L"Cue";
  }
  if (i % 10 == 0)
    for (int m = 1; m < 10; ++m) r.info.tempoMarkers.push_back({32.0 * m, 0.05 + m * 32.0 * 60.0 / r.info.bpm});
  r.hotCueRgb.fill(0x28E214);
  return r;
}

bool AnyFile(const std::wstring&) { return true; }
bool FixedTags(const std::wstring&, TrackTags* tags) {
  tags->title = L"Title";
  tags->artist = L"Artist";
  tags->duration = 360.0;
  return true;
}

void BM_WriteRekordboxXml50k(benchmark::State& state) {
  std::vector<ExportRecord> records;
  for (int i = 0; i < kTracks; ++i) records.push_back(RecordAt(i));
  std::vector<TrackList> lists = {{.name = L"All"}};
  for (int i = 0; i < kTracks; ++i) lists[0].paths.push_back(records[static_cast<size_t>(i)].path);
  const std::wstring target = Utf8ToWide((Root() / "out.xml").string());
  const ExportFileAccess access = {.isFile = AnyFile, .readTags = FixedTags};
  for (auto _ : state) {
    std::wstring error;
    if (WriteRekordboxXml(target, records, lists, &error, access) != kTracks) state.SkipWithError("write failed");
  }
}
BENCHMARK(BM_WriteRekordboxXml50k)->Unit(benchmark::kMillisecond);

// 1,000 copies of a short MP3 made by ffmpeg: the writer with its real file checks and tag reads.
void BM_WriteRekordboxXmlTags1000(benchmark::State& state) {
  const fs::path folder = Root() / "mp3";
  fs::create_directories(folder);
  const fs::path base = folder / "base.mp3";
  const std::string make = "ffmpeg -v error -y -f lavfi -i sine=d=2 -metadata title=T '" + base.string() + "'";
  if (std::system(make.c_str()) != 0) {
    state.SkipWithError("ffmpeg could not make an MP3");
    return;
  }
  std::vector<ExportRecord> records;
  for (int i = 0; i < kTagFiles; ++i) {
    const fs::path copy = folder / fmt::format("t{:04}.mp3", i);
    fs::copy_file(base, copy, fs::copy_options::overwrite_existing);
    ExportRecord r = RecordAt(i);
    r.path = Utf8ToWide(copy.string());
    records.push_back(std::move(r));
  }
  const std::wstring target = Utf8ToWide((Root() / "tags.xml").string());
  for (auto _ : state) {
    std::wstring error;
    if (WriteRekordboxXml(target, records, {}, &error) != kTagFiles) state.SkipWithError("write failed");
  }
}
BENCHMARK(BM_WriteRekordboxXmlTags1000)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {
void BM_RekordboxXmlText50k(benchmark::State& state) {
  std::vector<ExportRecord> records;
  for (int i = 0; i < kTracks; ++i) records.push_back(RecordAt(i));
  std::vector<TrackList> lists = {{.name = L"All"}};
  for (int i = 0; i < kTracks; ++i) lists[0].paths.push_back(records[static_cast<size_t>(i)].path);
  const ExportFileAccess access = {.isFile = AnyFile, .readTags = FixedTags};
  for (auto _ : state) {
    int32_t written = 0;
    benchmark::DoNotOptimize(RekordboxXmlText(records, lists, access, &written));
  }
}
BENCHMARK(BM_RekordboxXmlText50k)->Unit(benchmark::kMillisecond);
}  // namespace
