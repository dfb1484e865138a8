// Serato import: walking a "database V2" of 50,000 tracks (the chunk walk alone, and the whole
// import with each named file present), and reading the Serato GEOB tags of 1,000 MP3s.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "broadcast/audio_stream.h"
#include "library/serato_import.h"
#include "library/serato_tags.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

constexpr int kDatabaseTracks = 50000;
constexpr int kTaggedFiles = 1000;

struct BenchFolder {
  fs::path root;
  BenchFolder() {
    char pattern[] = "/tmp/veldmix-bench-serato-XXXXXX";
    root = mkdtemp(pattern);
  }
  ~BenchFolder() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

std::string Be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }
std::string Chunk(const std::string& tag, const std::string& payload) {
  return tag + Be32(static_cast<uint32_t>(payload.size())) + payload;
}
std::string Utf16Be(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string{'\0', c};
  return out;
}

// A database V2 as Serato writes it: each track an "otrk" of a dozen fields, its path in "pfil"
// relative to the volume root ("/" here: the folder is on the system volume).
struct Library {
  BenchFolder folder;
  std::string database;
  Library() {
    fs::create_directories(folder.root / "_Serato_");
    fs::create_directories(folder.root / "music");
    database = Chunk("vrsn", Utf16Be("2.0/Serato Scratch LIVE Database"));
    for (int i = 0; i < kDatabaseTracks; ++i) {
      const fs::path file = folder.root / "music" / fmt::format("track {:05}.mp3", i);
      std::ofstream(file) << "no tag";
      std::string track = Chunk("ttyp", Utf16Be("mp3")) + Chunk("pfil", Utf16Be(file.string().substr(1)));
      for (const char* field : {"tsng", "tart", "talb", "tgen", "tlen", "tbit", "tsmp", "tbpm", "tadd", "tkey"})
        track += Chunk(field, Utf16Be(fmt::format("{} value {}", field, i)));
      track += Chunk("uadd", Be32(1700000000)) + Chunk("bmis", "\0") + Chunk("bply", "\0");
      database += Chunk("otrk", track);
    }
    std::ofstream(folder.root / "_Serato_" / "database V2", std::ios::binary) << database;
  }
};

Library& TheLibrary() {
  static Library library;
  return library;
}

void BM_SeratoDatabaseChunkWalk(benchmark::State& state) {
  const std::string& bytes = TheLibrary().database;
  const std::span<const uint8_t> span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  for (auto _ : state) benchmark::DoNotOptimize(SeratoStreamPaths(span));
  state.counters["MB"] = bytes.size() / 1e6;
}
BENCHMARK(BM_SeratoDatabaseChunkWalk)->Unit(benchmark::kMillisecond);

// Read, walk, stat every path and look for tags in each (untagged) MP3.
void BM_SeratoImport50000(benchmark::State& state) {
  const std::wstring folder = Utf8ToWide((TheLibrary().folder.root / "_Serato_").string());
  size_t tracks = 0;
  for (auto _ : state) tracks = ImportSerato(folder).tracks.size();
  state.counters["tracks"] = double(tracks);
}
BENCHMARK(BM_SeratoImport50000)->Unit(benchmark::kMillisecond);

std::string Syncsafe(uint32_t v) {
  return {char(v >> 21 & 0x7F), char(v >> 14 & 0x7F), char(v >> 7 & 0x7F), char(v & 0x7F)};
}
std::string Geob(const std::string& description, const std::string& object) {
  const std::string data = std::string("\0application/octet-stream\0\0", 27) + description + '\0' + object;
  return "GEOB" + Syncsafe(static_cast<uint32_t>(data.size())) + std::string(2, '\0') + data;
}
std::string Entry(const std::string& name, const std::string& payload) {
  return name + '\0' + Be32(static_cast<uint32_t>(payload.size())) + payload;
}

// An ID3 v2.4 tag as Serato leaves it: Markers2 with four cues, two loops and a colour (base64 in
// lines of 72), a beat grid of 16 markers, and an overview frame, before an ffmpeg MP3.
std::string SeratoTag() {
  std::string markers("\1\1", 2);
  for (int slot = 0; slot < 4; ++slot)
    markers += Entry("CUE", std::string("\0", 1) + char(slot) + Be32(1000u * (slot + 1)) +
                                std::string("\0\xCC\0\0\0\0", 6) + "Cue name\0");
  for (int loop = 0; loop < 2; ++loop)
    markers += Entry("LOOP", std::string("\0", 1) + char(loop) + Be32(20000u + 8000u * loop) + Be32(24000u + 8000u * loop) +
                                 std::string("\xFF\xFF\xFF\xFF\0\x27\xAA\xE1\0\0", 10) + "Loop\0");
  markers += Entry("COLOR", std::string("\0\xFF\x99\0", 4)) + '\0';
  const std::string encoded = Base64Encode(markers);
  std::string lines;
  for (size_t at = 0; at < encoded.size(); at += 72) lines += encoded.substr(at, 72) + "\n";
  std::string grid = std::string("\1\0", 2) + Be32(16);
  for (int m = 0; m < 16; ++m) {
    const float at = 0.2f + 16.0f * m, tempo = 120.0f;
    uint32_t bits;
    std::memcpy(&bits, m == 15 ? &tempo : &at, 4);
    uint32_t atBits;
    std::memcpy(&atBits, &at, 4);
    grid += Be32(atBits) + (m == 15 ? Be32(bits) : Be32(32));
  }
  const std::string body = Geob("Serato Overview", std::string(3842, '\x05')) +
                           Geob("Serato Markers2", std::string("\1\1", 2) + lines + std::string(300, '\0')) +
                           Geob("Serato BeatGrid", grid + '\0') + std::string(1024, '\0');
  return std::string("ID3\4\0\0", 6) + Syncsafe(static_cast<uint32_t>(body.size())) + body;
}

void BM_SeratoGeobPer1000(benchmark::State& state) {
  static BenchFolder folder;
  static std::vector<std::wstring> files;
  if (files.empty()) {
    const fs::path base = folder.root / "base.mp3";
    const std::string make = "ffmpeg -v error -f lavfi -i sine=d=4 '" + base.string() + "'";
    if (std::system(make.c_str()) != 0) {
      state.SkipWithError("ffmpeg could not make the MP3");
      return;
    }
    std::ifstream in(base, std::ios::binary);
    const std::string audio((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string tagged = SeratoTag() + audio;
    for (int i = 0; i < kTaggedFiles; ++i) {
      const fs::path copy = folder.root / fmt::format("t{:04}.mp3", i);
      std::ofstream(copy, std::ios::binary) << tagged;
      files.push_back(Utf8ToWide(copy.string()));
    }
  }
  int taken = 0;
  for (auto _ : state) {
    taken = 0;
    for (const std::wstring& file : files) {
      ImportedTrack track;
      taken += ReadSeratoTags(file, &track);
    }
  }
  state.counters["taken"] = taken;
}
BENCHMARK(BM_SeratoGeobPer1000)->Unit(benchmark::kMillisecond);

}  // namespace
