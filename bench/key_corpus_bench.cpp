// Key accuracy on the synthetic key corpus beside Essentia's KeyExtractor under each of its four
// profiles, on the same WAV files, in one run. Run by bench/key_corpus.sh, which installs
// essentia.js and names its script in VELDMIX_KEY_PEERS; without it only Veldmix is measured.
// VELDMIX_KEY_PIECES sets the corpus size (default 120); VELDMIX_KEY_KEEP keeps the WAV files.
#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "base/musical_keys.h"
#include "engine/audio_file.h"
#include "engine/wav_file.h"
#include "platform/text.h"
#include "support/key_corpus.h"
#include "support/wav_probe.h"

namespace {

constexpr const char* kAnalysers[] = {"Veldmix", "temperley", "krumhansl", "edma", "bgate"};
constexpr size_t kAnalyserCount = std::size(kAnalysers);

struct Tally {
  int pieces = 0, heldOut = 0, heldOutExact = 0;
  std::array<int, 6> relation{};  // by KeyRelation
  double mirex = 0.0, heldOutMirex = 0.0;
  void Add(int32_t found, const KeyPiece& piece) {
    const KeyRelation r = RelateKey(found, piece.key);
    ++pieces;
    ++relation[static_cast<size_t>(r)];
    mirex += MirexWeight(r);
    if (piece.heldOut) ++heldOut, heldOutExact += r == KeyRelation::kExact, heldOutMirex += MirexWeight(r);
  }
};

// Essentia's lines: the path, then one "C# minor" per profile, tab-separated.
std::map<std::string, std::vector<int32_t>> EssentiaKeys(const std::string& script, const std::vector<std::string>& paths) {
  std::map<std::string, std::vector<int32_t>> keys;
  std::string command = "node " + ShellQuote(script);
  for (const std::string& path : paths) command += " " + ShellQuote(path);
  std::istringstream lines(RunCommand(command + " 2>/dev/null"));
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    if (fields.size() != kAnalyserCount) continue;
    for (size_t i = 1; i < fields.size(); ++i) keys[fields[0]].push_back(ParseKey(Utf8ToWide(fields[i])));
  }
  return keys;
}

void BM_KeyCorpusBesideEssentia(benchmark::State& state) {
  const char* count = std::getenv("VELDMIX_KEY_PIECES");
  const char* peers = std::getenv("VELDMIX_KEY_PEERS");
  const std::vector<KeyPiece> pieces = KeyPieces(count ? std::atoi(count) : 120);
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / fmt::format("veldmix-keys-{}", ::getpid());
  std::filesystem::create_directories(folder);
  std::array<Tally, kAnalyserCount> tallies;
  std::map<std::string, std::array<int, 2>> by_family;  // Veldmix exact, pieces
  for (auto _ : state) {
    std::vector<std::string> paths;
    std::vector<int32_t> veldmix;
    for (const KeyPiece& piece : pieces) {
      const Track track = SynthesizeKeyPiece(piece);
      const std::string path = (folder / (piece.name + ".wav")).string();
      if (!WriteWavFile(Utf8ToWide(path), track.samples.data(), track.frames, track.sampleRate)) {
        state.SkipWithError("cannot write the corpus");
        return;
      }
      std::atomic<float> progress{0.0f};
      std::wstring error;
      const TrackPtr decoded = DecodeFile(Utf8ToWide(path), &progress, &error, true);
      veldmix.push_back(decoded ? decoded->key : kKeyUnknown);
      paths.push_back(path);
    }
    const auto essentia = peers ? EssentiaKeys(peers, paths) : std::map<std::string, std::vector<int32_t>>{};
    for (size_t i = 0; i < pieces.size(); ++i) {
      const KeyPiece& piece = pieces[i];
      tallies[0].Add(veldmix[i], piece);
      auto& family = by_family[piece.family];
      family[0] += veldmix[i] == piece.key, ++family[1];
      const auto it = essentia.find(paths[i]);
      std::string line = fmt::format("  {:<16} {:>4} {:+3.0f}c {:+3.0f}dB{}{}{} | {:>4}", piece.name,
                                     WideToUtf8(KeyName(piece.key, false)), piece.cents, piece.gainDb,
                                     piece.drums ? " drums" : "", piece.borrowed ? " borrowed" : "",
                                     piece.modulates ? " modulates" : "", WideToUtf8(KeyName(veldmix[i], false)));
      for (size_t a = 1; a < kAnalyserCount; ++a) {
        const int32_t key = it != essentia.end() ? it->second[a - 1] : kKeyUnknown;
        if (it != essentia.end()) tallies[a].Add(key, piece);
        line += fmt::format(" {:>4}", WideToUtf8(KeyName(key, false)));
      }
      if (std::getenv("VELDMIX_KEY_VERBOSE")) fmt::print(stderr, "{}\n", line);
    }
  }
  if (!std::getenv("VELDMIX_KEY_KEEP")) std::filesystem::remove_all(folder);
  fmt::print(stderr, "\n{:<10} {:>4} {:>6} {:>8} {:>8} {:>8} {:>8} {:>6} {:>7} {:>6} | {:>13}\n", "analyser", "n",
             "exact", "relative", "fifth up", "fifth dn", "parallel", "other", "MIREX", "MIREX%", "held-out ex/MX");
  for (size_t a = 0; a < kAnalyserCount; ++a) {
    const Tally& t = tallies[a];
    if (t.pieces == 0) continue;
    fmt::print(stderr, "{:<10} {:>4} {:>6} {:>8} {:>8} {:>8} {:>8} {:>6} {:>7.1f} {:>6.1f} | {:>3}/{:<3} {:>5.1f}\n",
               kAnalysers[a], t.pieces, t.relation[0], t.relation[1], t.relation[2], t.relation[3], t.relation[4],
               t.relation[5], t.mirex, 100.0 * t.mirex / t.pieces, t.heldOutExact, t.heldOut, t.heldOutMirex);
  }
  fmt::print(stderr, "Veldmix exact by family:");
  for (const auto& [family, counts] : by_family) fmt::print(stderr, " {} {}/{}", family, counts[0], counts[1]);
  fmt::print(stderr, "\n");
  state.counters["exact"] = tallies[0].pieces ? static_cast<double>(tallies[0].relation[0]) / tallies[0].pieces : 0.0;
  state.counters["mirex"] = tallies[0].pieces ? tallies[0].mirex / tallies[0].pieces : 0.0;
}
BENCHMARK(BM_KeyCorpusBesideEssentia)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
