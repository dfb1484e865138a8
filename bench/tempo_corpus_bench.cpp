// Tempo, first-beat and key accuracy on the synthetic corpus, beside aubio and bpm-tools, plus the
// peers' CPU per minute of audio. Run by hand:
//   build/bench/veldmix_bench --benchmark_filter=Corpus
// VELDMIX_CORPUS_INPROCESS=1 analyses the synthesised samples only (no files, no peers), for quick
// iterations; VELDMIX_CORPUS_PER_STYLE sets the tracks per style (default 7).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <fmt/format.h>

#include "base/musical_keys.h"
#include "engine/analysis.h"
#include "engine/audio_file.h"
#include "engine/wav_file.h"
#include "platform/text.h"
#include "support/tempo_corpus.h"
#include "support/wav_probe.h"

namespace {

struct Tally {
  int tracks = 0, exact[3] = {}, within[3] = {}, octave[3] = {}, beat = 0;
};

double ChildCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + 1e-6 * (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

double AubioBpm(const std::string& path) {
  const std::string out = RunCommand("aubio tempo " + ShellQuote(path) + " 2>/dev/null");
  return std::atof(out.c_str());
}

double BpmToolsBpm(const std::string& path) {
  const std::string out = RunCommand("sox " + ShellQuote(path) + " -t raw -r 44100 -e float -c 1 - 2>/dev/null | bpm -m 78 -x 180");
  return std::atof(out.c_str());
}

class Folder {
 public:
  Folder() {
    char name[] = "/tmp/veldmix-corpus-XXXXXX";
    if (::mkdtemp(name)) path_ = name;
  }
  ~Folder() {
    std::error_code ec;
    if (!path_.empty() && !std::getenv("VELDMIX_CORPUS_KEEP")) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void BM_TempoCorpusAccuracy(benchmark::State& state) {
  const bool in_process = std::getenv("VELDMIX_CORPUS_INPROCESS") != nullptr;
  const char* per_style = std::getenv("VELDMIX_CORPUS_PER_STYLE");
  const std::vector<CorpusTrack> corpus = TempoCorpus(per_style ? std::atoi(per_style) : 7);
  const char* only = std::getenv("VELDMIX_CORPUS_STYLE");
  Folder folder;
  std::map<std::string, Tally> tallies;
  double aubio_cpu = 0.0, bpm_cpu = 0.0, audio_seconds = 0.0;
  for (auto _ : state) {
    for (const CorpusTrack& spec : corpus) {
      if (only && spec.style != only) continue;
      double found[3] = {0, 0, 0}, first_beat = 0.0;
      if (in_process) {
        Track track = SynthesizeCorpusTrack(spec);
        AnalyzeTrack(track);
        found[0] = track.bpm, first_beat = track.firstBeat;
      } else {
        const std::string path = WriteCorpusTrack(spec, folder.path());
        if (path.empty()) continue;
        std::atomic<float> progress{0.0f};
        std::wstring error;
        const TrackPtr track = DecodeFile(Utf8ToWide(path), &progress, &error, true);
        if (!track) continue;
        found[0] = track->bpm, first_beat = track->firstBeat;
        double before = ChildCpuSeconds();
        found[1] = AubioBpm(path);
        aubio_cpu += ChildCpuSeconds() - before;
        before = ChildCpuSeconds();
        found[2] = BpmToolsBpm(path);
        bpm_cpu += ChildCpuSeconds() - before;
        audio_seconds += spec.seconds;
        std::filesystem::remove(path);
      }
      for (const std::string& key : {spec.style, std::string("all")}) {
        Tally& t = tallies[key];
        ++t.tracks;
        for (int a = 0; a < 3; ++a) {
          t.exact[a] += TempoExact(found[a], spec.bpm);
          t.within[a] += TempoWithin4Percent(found[a], spec.bpm);
          t.octave[a] += TempoOctaveOk(found[a], spec.bpm);
        }
        t.beat += FirstBeatError(first_beat, spec.firstBeat, spec.bpm) <= 0.020;
      }
      const double beat_error = FirstBeatError(first_beat, spec.firstBeat, spec.bpm);
      if (!TempoExact(found[0], spec.bpm) || beat_error > 0.020)
        fmt::print(stderr, "  miss {:<16} {}: true {:.2f} @ {:.3f}, found {:.2f} @ {:.3f} (aubio {:.2f}, bpm {:.2f})\n",
                   spec.name, spec.extension, spec.bpm, spec.firstBeat, found[0], first_beat, found[1], found[2]);
    }
  }
  fmt::print(stderr, "\n{:<14} {:>3} | {:^17} | {:^17} | {:^17} | {:>5}\n", "style", "n", "exact (V/a/b)",
             "4 % (V/a/b)", "half-dbl (V/a/b)", "beat");
  for (const auto& [style, t] : tallies)
    fmt::print(stderr, "{:<14} {:>3} | {:>5} {:>5} {:>5} | {:>5} {:>5} {:>5} | {:>5} {:>5} {:>5} | {:>5}\n", style,
               t.tracks, t.exact[0], t.exact[1], t.exact[2], t.within[0], t.within[1], t.within[2], t.octave[0],
               t.octave[1], t.octave[2], t.beat);
  if (audio_seconds > 0)
    fmt::print(stderr, "CPU per minute of audio: aubio {:.0f} ms, bpm-tools with sox {:.0f} ms\n",
               1000 * aubio_cpu * 60 / audio_seconds, 1000 * bpm_cpu * 60 / audio_seconds);
  const Tally& all = tallies["all"];
  state.counters["exact"] = all.tracks ? static_cast<double>(all.exact[0]) / all.tracks : 0.0;
  state.counters["beat20ms"] = all.tracks ? static_cast<double>(all.beat) / all.tracks : 0.0;
}
BENCHMARK(BM_TempoCorpusAccuracy)->Iterations(1)->Unit(benchmark::kSecond);

// Writes the beat-phase grooves as WAV files into VELDMIX_GROOVE_DIR with a manifest that
// bench/real_corpus_score.py scores beside Essentia and aubio (no key truth). Run by
// bench/beat_phase.sh.
void BM_WritePhaseGrooves(benchmark::State& state) {
  const char* dir = std::getenv("VELDMIX_GROOVE_DIR");
  if (!dir) {
    state.SkipWithError("VELDMIX_GROOVE_DIR names no folder");
    return;
  }
  for (auto _ : state) {
    std::ofstream manifest(std::string(dir) + "/manifest.tsv");
    for (const GrooveSpec& spec : PhaseGrooves()) {
      const Track track = SynthesizeGroove(spec);
      const std::string path = std::string(dir) + "/" + spec.name + ".wav";
      if (!WriteWavFile(Utf8ToWide(path), track.samples.data(), track.frames, track.sampleRate)) {
        state.SkipWithError("cannot write the grooves");
        return;
      }
      manifest << fmt::format("{}\t{}\t-1\t0\t{:.4f}\t{:.6f}\tgroove\t{:.1f}\t0\t0\n", path, spec.name, spec.bpm,
                              spec.firstBeat, spec.hatDb);
    }
  }
}
BENCHMARK(BM_WritePhaseGrooves)->Iterations(1)->Unit(benchmark::kSecond);

void BM_KeyCorpusAccuracy(benchmark::State& state) {
  int exact = 0, relative = 0, fifth = 0, total = 0;
  for (auto _ : state) {
    for (const CorpusTrack& spec : KeyCorpus(48)) {
      const Track track = SynthesizeCorpusTrack(spec);
      const int32_t key = DetectKey(track);
      const int32_t truth = spec.key;
      ++total;
      const bool minor = truth >= 12;
      const int32_t rel = minor ? (truth - 12 + 3) % 12 : (truth + 9) % 12 + 12;
      const int32_t up = (truth % 12 + 7) % 12 + (minor ? 12 : 0), down = (truth % 12 + 5) % 12 + (minor ? 12 : 0);
      if (key == truth) ++exact;
      else if (key == rel) ++relative;
      else if (key == up || key == down) ++fifth;
      if (key != truth) fmt::print(stderr, "  key miss {}: true {} found {}\n", spec.name, truth, key);
    }
  }
  fmt::print(stderr, "key: {} tracks, exact {}, relative {}, fifth {}, other {}\n", total, exact, relative, fifth,
             total - exact - relative - fifth);
  state.counters["exact"] = total ? static_cast<double>(exact) / total : 0.0;
}
BENCHMARK(BM_KeyCorpusAccuracy)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
