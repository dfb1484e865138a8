#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "library/imported_tracks.h"
#include "library/virtualdj_import.h"
#include "platform/text.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

// A VirtualDJ 8.2 database (hot cues without Type) with its .vdjfolder lists; a folder link
// inside Playlists that points back up is not followed.
TEST(VirtualDjImport, ReadsDatabaseAndLists) {
  TempHome home;
  const std::string base = home.path() + "/VirtualDJ", music = home.path() + "/Mü sic";
  int status = -1;
  const std::string out = RunCommand("/usr/bin/python3 " +
                                         ShellQuote(std::string(VELDMIX_SOURCE_DIR) + "/tests/support/make_dj_collections.py") +
                                         " virtualdj " + ShellQuote(base) + " " + ShellQuote(music) + " 2>&1",
                                     &status);
  ASSERT_EQ(status, 0) << out;
  ASSERT_EQ(symlink(base.c_str(), (base + "/Playlists/Loop").c_str()), 0);
  const ImportResult r = ImportVirtualDj(Utf8ToWide(base + "/database.xml"));
  EXPECT_EQ(r.error, L"");
  ASSERT_EQ(r.tracks.size(), 3u);

  const ImportedTrack& a = r.tracks[0];
  EXPECT_EQ(a.path, Utf8ToWide(music + "/a b é.mp3"));
  EXPECT_EQ(a.bpm, 128);  // Scan beats Tags whatever the order
  EXPECT_EQ(a.firstBeat, 0.2);
  EXPECT_EQ(a.key, 21);   // the Tags key (Am) beats the analysed one
  EXPECT_EQ(a.rating, 5);
  EXPECT_EQ(a.hotCueStart[2], 32.5);
  EXPECT_EQ(a.hotCueName[2], L"Drop ä");
  EXPECT_EQ(a.hotCueStart[0], 1.25);  // no Type, Num 1
  EXPECT_EQ(a.hotCueName[0], L"Intro");
  for (int s : {1, 3, 4}) EXPECT_EQ(a.hotCueStart[s], -1.0) << s;  // remix, NaN, past a day
  EXPECT_EQ(a.memoryCues, (std::vector<double>{5.0, 12.0, 40.0}));  // huge Num: a memory cue

  EXPECT_EQ(r.tracks[1].bpm, 0);    // no beatgrid
  EXPECT_EQ(r.tracks[1].key, 7);    // G from Scan
  EXPECT_EQ(r.tracks[1].rating, -1);
  EXPECT_EQ(r.tracks[2].bpm, 120);  // the Tags 3.5 s is no tempo; the later beatgrid counts
  EXPECT_EQ(r.tracks[2].firstBeat, 2.5);
  EXPECT_EQ(r.tracks[2].key, 18);

  ASSERT_EQ(r.playlists.size(), 3u);
  EXPECT_EQ(r.playlists[0].name, L"House / Deep");
  EXPECT_EQ(r.playlists[0].paths, (std::vector<std::wstring>{r.tracks[2].path, a.path}));
  EXPECT_EQ(r.playlists[1].name, L"Top");
  EXPECT_EQ(r.playlists[2].name, L"Sets / Friday");
}

TEST(VirtualDjImport, Failures) {
  TempHome home;
  const std::string db = home.path() + "/database.xml";
  WriteRaw(db, "<VirtualDJ_Database><Song FilePath=\"C:\\x.mp3\"/></VirtualDJ_Database>");
  EXPECT_EQ(ImportVirtualDj(Utf8ToWide(db)).error, L"No tracks from that VirtualDJ database were found on this computer");
  EXPECT_EQ(ImportVirtualDj(Utf8ToWide(home.path() + "/none.xml")).error, L"Couldn't read that XML file");
  EXPECT_EQ(VdjFolderListName(L"Sets/Friday.vdjfolder"), L"Sets / Friday");
}
