#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>

#include "library/serato_import.h"
#include "library/serato_tags.h"
#include "platform/text.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace {

std::string Be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }
std::string BeFloat(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return Be32(bits);
}
std::span<const uint8_t> Bytes(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }
std::string Chunk(const std::string& tag, const std::string& payload) {
  return tag + Be32(static_cast<uint32_t>(payload.size())) + payload;
}

void MakeLibrary(const std::string& serato, const std::string& music, const std::string& root) {
  int status = -1;
  const std::string out =
      RunCommand("/usr/bin/python3 " + ShellQuote(std::string(VELDMIX_SOURCE_DIR) + "/tests/support/make_serato_library.py") +
                     " " + ShellQuote(serato) + " " + ShellQuote(music) + " " + ShellQuote(root) + " 2>&1",
                 &status);
  ASSERT_EQ(status, 0) << out;
}

}  // namespace

// A library written from the public format descriptions (mutagen's GEOB frames in v2.3 and v2.4,
// Latin-1 and UTF-16 descriptions; struct-built database and crates), paths relative to "/".
TEST(SeratoImport, ReadsLibraryOnTheSystemVolume) {
  TempHome home;
  const std::string music = home.path() + "/Music/DJ Sets é", serato = home.path() + "/Music/_Serato_";
  MakeLibrary(serato, music, "/");
  const ImportResult r = ImportSerato(Utf8ToWide(serato));
  EXPECT_EQ(r.error, L"");
  // Crates first (by name), then the database; each file once; missing files and x.CRATE dropped.
  ASSERT_EQ(r.tracks.size(), 4u);
  EXPECT_EQ(r.tracks[0].path, Utf8ToWide(music + "/b tráck.mp3"));
  EXPECT_EQ(r.tracks[1].path, Utf8ToWide(music + "/Ünïcode Ä b.mp3"));
  EXPECT_EQ(r.tracks[2].path, Utf8ToWide(music + "/c.flac"));
  EXPECT_EQ(r.tracks[3].path, Utf8ToWide(music + "/d plain.mp3"));
  ASSERT_EQ(r.playlists.size(), 1u);
  EXPECT_EQ(r.playlists[0].name, L"House / Deep");
  EXPECT_EQ(r.playlists[0].paths, (std::vector<std::wstring>{r.tracks[0].path, r.tracks[1].path}));

  const ImportedTrack& a = r.tracks[1];
  EXPECT_EQ(a.hotCueStart[0], 1.5);
  EXPECT_EQ(a.hotCueColor[0], 0xCC8800);
  EXPECT_EQ(a.hotCueName[0], L"Drop ü");
  EXPECT_EQ(a.hotCueStart[2], 90.5);
  EXPECT_EQ(a.hotCueColor[2], 0xCC0000);
  // Loops fill the free slots 1 and 3, named from the byte after the locked flag; the empty loop
  // (end = start) and the cue of slot 9 are dropped.
  EXPECT_EQ(a.hotCueStart[1], 4.0);
  EXPECT_EQ(a.hotCueEnd[1], 8.0);
  EXPECT_EQ(a.hotCueName[1], L"Loop ä");
  EXPECT_EQ(a.hotCueStart[3], 10.0);
  EXPECT_EQ(a.hotCueEnd[3], 12.0);
  EXPECT_EQ(a.hotCueName[3], L"");
  for (int s = 4; s < 8; ++s) EXPECT_EQ(a.hotCueStart[s], -1.0) << s;
  EXPECT_EQ(a.color, 2);  // red
  EXPECT_NEAR(a.bpm, 32 * 60 / (15.68 - 0.2), 1e-3);
  EXPECT_NEAR(a.firstBeat, 0.2, 1e-6);
  ASSERT_EQ(a.tempoMarkers.size(), 2u);
  EXPECT_EQ(a.tempoMarkers[0].beat, 32);
  EXPECT_NEAR(a.tempoMarkers[0].seconds, 15.68, 1e-5);
  EXPECT_EQ(a.tempoMarkers[1].beat, 32 + 2048);
  EXPECT_NEAR(a.tempoMarkers[1].seconds, 15.68 + 122880.0 / 124, 1e-4);

  const ImportedTrack& b = r.tracks[0];
  EXPECT_EQ(b.bpm, 124);
  EXPECT_NEAR(b.firstBeat, 0.2, 1e-6);
  EXPECT_TRUE(b.tempoMarkers.empty());
  EXPECT_EQ(b.hotCueStart[5], 64.0);
  EXPECT_EQ(b.hotCueName[5], L"Five");
  EXPECT_EQ(b.color, 0);  // grey
  for (int i : {2, 3}) {
    EXPECT_EQ(r.tracks[i].bpm, 0);
    EXPECT_EQ(r.tracks[i].hotCueStart, ImportedTrack().hotCueStart);
  }
}

// A library on another mounted volume stores paths relative to that volume's mount point.
TEST(SeratoImport, PathsRelativeToTheVolumeHoldingTheLibrary) {
  struct stat shm, root;
  if (::stat("/dev/shm", &shm) != 0 || ::stat("/", &root) != 0 || shm.st_dev == root.st_dev)
    GTEST_SKIP() << "/dev/shm is no separate volume here";
  char tmpl[] = "/dev/shm/veldmix-serato-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string base = tmpl;
  MakeLibrary(base + "/_Serato_", base + "/Music", "/dev/shm");
  const ImportResult r = ImportSerato(Utf8ToWide(base + "/_Serato_"));
  std::filesystem::remove_all(base);
  ASSERT_EQ(r.tracks.size(), 4u) << WideToUtf8(r.error);
  EXPECT_EQ(r.tracks[1].path, Utf8ToWide(base + "/Music/Ünïcode Ä b.mp3"));
}

TEST(SeratoImport, FailureTexts) {
  TempHome home;
  EXPECT_EQ(ImportSerato(home.wpath()).error,
            L"That isn't a Serato library — choose the _Serato_ folder (usually in your Music folder)");
  // A database that is a FIFO, a crate that is a FIFO, and a database above the size cap count
  // as empty; none of them blocks.
  const std::string serato = home.path() + "/_Serato_";
  std::filesystem::create_directories(serato + "/Subcrates");
  ASSERT_EQ(mkfifo((serato + "/database V2").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((serato + "/Subcrates/x.crate").c_str(), 0600), 0);
  EXPECT_EQ(ImportSerato(Utf8ToWide(serato)).error, L"No tracks from that Serato library were found on this computer");
  std::filesystem::remove(serato + "/database V2");
  WriteRaw(serato + "/database V2", "vrsn");
  std::filesystem::resize_file(serato + "/database V2", kMaxSeratoFileBytes + 1);  // sparse
  EXPECT_EQ(ImportSerato(Utf8ToWide(serato)).error, L"No tracks from that Serato library were found on this computer");
}

// Truncation and lengths past the end end each walk; what came before stays.
TEST(SeratoImport, HostileChunksAndTags) {
  TempHome home;
  const std::string track = home.path() + "/a.mp3";
  WriteRaw(track, "x");
  const std::string path16 = [&] {
    std::string out;
    for (char c : track) out += std::string{'\0', c};
    return out;
  }();
  const std::string good = Chunk("otrk", Chunk("pfil", path16));
  EXPECT_EQ(SeratoStreamPaths(Bytes(good + Chunk("otrk", Chunk("pfil", path16)).substr(0, 20))),
            std::vector<std::wstring>{Utf8ToWide(track)});
  // A length of 0xFFFFFFF8 would wrap a 32-bit end check back into the buffer.
  EXPECT_EQ(SeratoStreamPaths(Bytes(good + "otrk" + Be32(0xFFFFFFF8u) + good)).size(), 1u);
  EXPECT_EQ(SeratoLocalPath(L"a/b.mp3", L"/v/"), L"/v/a/b.mp3");
  EXPECT_EQ(SeratoLocalPath(L"/abs/b.mp3", L"/v/"), L"/abs/b.mp3");
  EXPECT_EQ(SeratoLocalPath(std::wstring(L"a\0b", 3), L"/v/"), L"");

  // Beat grid: a count whose 8 x N wraps 32 bits, non-finite positions, a bad tempo.
  const std::string version("\x01\x00", 2);
  ImportedTrack t;
  EXPECT_FALSE(ApplySeratoBeatGrid(Bytes(version + Be32(0x20000000u) + BeFloat(0.2f) + BeFloat(124) + "\0"), &t));
  EXPECT_FALSE(ApplySeratoBeatGrid(Bytes(version + Be32(1) + BeFloat(NAN) + BeFloat(124) + "\0"), &t));
  EXPECT_FALSE(ApplySeratoBeatGrid(Bytes(version + Be32(1) + BeFloat(0.2f) + BeFloat(INFINITY) + "\0"), &t));
  EXPECT_FALSE(ApplySeratoBeatGrid(Bytes(version + Be32(1) + BeFloat(1e9f) + BeFloat(124) + "\0"), &t));
  EXPECT_EQ(t.bpm, 0);
  // Three markers: the third lies past a day, so the walk stops after the second (no closing one).
  ASSERT_TRUE(ApplySeratoBeatGrid(Bytes(version + Be32(3) + BeFloat(0.5f) + Be32(8) + BeFloat(4.5f) + Be32(8) +
                                        BeFloat(1e6f) + BeFloat(120) + "\0"),
                                  &t));
  EXPECT_EQ(t.bpm, 120);
  ASSERT_EQ(t.tempoMarkers.size(), 1u);
  EXPECT_EQ(t.tempoMarkers[0].beat, 8);
  // Beat counts whose sum does not fit drop the marker.
  ImportedTrack u;
  ASSERT_TRUE(ApplySeratoBeatGrid(Bytes(version + Be32(3) + BeFloat(0.5f) + Be32(8) + BeFloat(4.5f) + Be32(0xFFFFFFFFu) +
                                        BeFloat(9.5f) + BeFloat(120) + "\0"),
                                  &u));
  ASSERT_EQ(u.tempoMarkers.size(), 1u);
  EXPECT_EQ(u.tempoMarkers[0].seconds, 4.5);

  // Markers2 entries: a CUE at a time past a day is absent; a LOOP whose length runs past the
  // end ends the walk after the good CUE.
  auto entry = [](const std::string& name, const std::string& payload) { return name + '\0' + Be32(payload.size()) + payload; };
  const std::string cue = std::string("\0\1", 2) + Be32(2500) + std::string("\0\x11\x22\x33\0\0", 6) + "Hi" + '\0';
  const std::string late = std::string("\0\2", 2) + Be32(90000000) + std::string(7, '\0');
  ImportedTrack m;
  EXPECT_TRUE(ApplySeratoMarkers(Bytes(std::string("\1\1", 2) + entry("CUE", cue) + entry("CUE", late) + "LOOP" + '\0' +
                                       Be32(1000) + "short"),
                                 &m));
  EXPECT_EQ(m.hotCueStart[1], 2.5);
  EXPECT_EQ(m.hotCueColor[1], 0x112233);
  EXPECT_EQ(m.hotCueName[1], L"Hi");
  EXPECT_EQ(m.hotCueStart[2], -1.0);
  EXPECT_EQ(Base64Decode(Bytes("AQ\nID=zz")), (std::vector<uint8_t>{1, 2, 3}));
}
