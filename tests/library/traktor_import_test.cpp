#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "library/imported_tracks.h"
#include "library/traktor_import.h"
#include "platform/text.h"
#include "platform/volumes.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace {

std::string MakeNml(const std::string& out, const std::string& music, const std::string& mounted) {
  int status = -1;
  const std::string text = RunCommand("/usr/bin/python3 " +
                                          ShellQuote(std::string(VELDMIX_SOURCE_DIR) + "/tests/support/make_dj_collections.py") +
                                          " traktor " + ShellQuote(out) + " " + ShellQuote(music) +
                                          (mounted.empty() ? "" : " " + ShellQuote(mounted)) + " 2>&1",
                                      &status);
  return status == 0 ? "" : text;
}

}  // namespace

// A collection with a real export's quirks: $ROOT, AutoGrid on HOTCUE 0, Open-Key INFO KEY after
// MUSICAL_KEY, Mac volume names, a smart list, and a file on a volume mounted under its name.
TEST(TraktorImport, ReadsCollection) {
  TempHome home;
  const std::string music = home.path() + "/Mü sic";
  std::string mounted;
  std::string mountedDir;
  if (!MountedVolume(L"shm").empty()) {
    char tmpl[] = "/dev/shm/veldmix-nml-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    mountedDir = tmpl;
    WriteRaw(mountedDir + "/m é.mp3", "not really audio");
    mounted = "/dev/shm:" + mountedDir + "/m é.mp3";
  }
  ASSERT_EQ(MakeNml(home.path(), music, mounted), "");
  const ImportResult r = ImportTraktor(Utf8ToWide(home.path() + "/collection.nml"));
  if (!mountedDir.empty()) std::filesystem::remove_all(mountedDir);
  EXPECT_EQ(r.error, L"");
  ASSERT_EQ(r.tracks.size(), mounted.empty() ? 3u : 4u);

  const ImportedTrack& a = r.tracks[0];
  EXPECT_EQ(a.path, Utf8ToWide(music + "/a b é.mp3"));
  EXPECT_EQ(a.rating, 3);
  EXPECT_EQ(a.color, 7);   // blue
  EXPECT_EQ(a.key, 21);    // MUSICAL_KEY wins over INFO KEY
  EXPECT_EQ(a.bpm, 126);
  EXPECT_NEAR(a.firstBeat, 0.1005, 1e-9);  // the first grid marker, never a hot cue
  EXPECT_EQ(a.hotCueStart[0], -1.0);
  EXPECT_EQ(a.hotCueStart[2], 61.0);
  EXPECT_EQ(a.hotCueEnd[2], 65.0);
  EXPECT_EQ(a.hotCueName[2], L"");
  EXPECT_EQ(a.hotCueStart[1], 2.0);
  EXPECT_EQ(a.hotCueEnd[1], -1.0);
  EXPECT_EQ(a.hotCueName[1], L"Drop");
  EXPECT_EQ(a.hotCueStart[5], -1.0);  // a start of 1e12 ms is no time
  EXPECT_EQ(a.cue, 5.0);              // the load marker wins
  EXPECT_EQ(a.memoryCues, (std::vector<double>{3.0, 5.0, 9.0}));  // a huge HOTCUE is none
  EXPECT_TRUE(a.tempoMarkers.empty());

  const ImportedTrack& b = r.tracks[1];
  EXPECT_EQ(b.bpm, 0);  // a tempo without a grid
  EXPECT_EQ(b.key, 21);  // INFO KEY Am
  EXPECT_EQ(b.color, 0);
  EXPECT_EQ(b.rating, -1);
  const ImportedTrack& c = r.tracks[2];
  EXPECT_EQ(c.rating, 5);
  EXPECT_EQ(c.bpm, 0);  // "nan" tempo and an infinite grid marker count as absent
  if (!mounted.empty()) {
    EXPECT_EQ(r.tracks[3].path, Utf8ToWide(mountedDir + "/m é.mp3"));
  }

  ASSERT_EQ(r.playlists.size(), 1u);
  EXPECT_EQ(r.playlists[0].name, L"A / B / Peak/Time");
  std::vector<std::wstring> want{c.path, a.path};
  if (!mounted.empty()) want.push_back(r.tracks[3].path);
  EXPECT_EQ(r.playlists[0].paths, want);
}

TEST(TraktorImport, PathsAndFailures) {
  EXPECT_EQ(TraktorPath(L"C:", L"/:Users/:dj/:", L"a.mp3"), L"");
  EXPECT_EQ(TraktorPath(L"Macintosh HD", L"/:Users/:dj/:", L"a.mp3"), L"/Users/dj/a.mp3");
  TempHome home;
  const std::string nml = home.path() + "/collection.nml";
  WriteRaw(nml, "<NML><COLLECTION><ENTRY><LOCATION VOLUME=\"C:\" DIR=\"/:\" FILE=\"a.mp3\"/></ENTRY></COLLECTION></NML>");
  EXPECT_EQ(ImportTraktor(Utf8ToWide(nml)).error, L"No tracks from that Traktor collection were found on this computer");
  WriteRaw(nml, "<NML><COLLECTION><ENTRY>");
  EXPECT_EQ(ImportTraktor(Utf8ToWide(nml)).error, L"Couldn't read that XML file");
  std::filesystem::remove(nml);
  ASSERT_EQ(mkfifo(nml.c_str(), 0600), 0);
  EXPECT_EQ(ImportTraktor(Utf8ToWide(nml)).error, L"Couldn't read that XML file");
}
