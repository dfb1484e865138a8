#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "library/imported_tracks.h"
#include "platform/text.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace {

std::string MakeCollection(const std::string& kind, const std::string& out, const std::string& music) {
  int status = -1;
  const std::string text = RunCommand("/usr/bin/python3 " +
                                          ShellQuote(std::string(VELDMIX_SOURCE_DIR) + "/tests/support/make_dj_collections.py") +
                                          " " + kind + " " + ShellQuote(out) + " " + ShellQuote(music) + " 2>&1",
                                      &status);
  return status == 0 ? "" : text;
}

}  // namespace

// plistlib's file with Apple's DOCTYPE: ratings, the id-text order, special and hidden lists,
// folders, missing files, a folder and a NUL byte as locations.
TEST(ItunesImport, ReadsPlistlibLibrary) {
  TempHome home;
  const std::string music = home.path() + "/Mü sic";
  ASSERT_EQ(MakeCollection("itunes", home.path(), music), "");
  const ImportResult r = ImportItunes(Utf8ToWide(home.path() + "/Library.xml"));
  EXPECT_EQ(r.error, L"");
  ASSERT_EQ(r.tracks.size(), 3u);
  // Ids in text order: "1000", "1001", "999".
  EXPECT_EQ(r.tracks[0].path, Utf8ToWide(music + "/a b é.mp3"));
  EXPECT_EQ(r.tracks[0].rating, 3);
  EXPECT_EQ(r.tracks[1].path, Utf8ToWide(music + "/c.mp3"));
  EXPECT_EQ(r.tracks[1].rating, 2);
  EXPECT_EQ(r.tracks[2].path, Utf8ToWide(music + "/ü track.flac"));
  EXPECT_EQ(r.tracks[2].rating, -1);  // computed from the album
  EXPECT_EQ(r.tracks[2].bpm, 0);
  ASSERT_EQ(r.playlists.size(), 3u);
  EXPECT_EQ(r.playlists[0].name, L"Friday/Late");
  EXPECT_EQ(r.playlists[0].paths, (std::vector<std::wstring>{r.tracks[1].path, r.tracks[0].path}));
  EXPECT_EQ(r.playlists[1].name, L"Shown");
  EXPECT_EQ(r.playlists[2].name, L"iTunes playlist");
}

TEST(ItunesImport, FailureTexts) {
  TempHome home;
  const std::string file = home.path() + "/Library.xml";
  WriteRaw(file, "<plist><array/></plist>");
  EXPECT_EQ(ImportItunes(Utf8ToWide(file)).error, L"That doesn't look like an iTunes / Music library file");
  WriteRaw(file, "<plist><dict><key>Tracks</key><dict><key>1</key><dict><key>Location</key>"
                 "<string>file://nas/x.mp3</string></dict></dict></dict></plist>");
  EXPECT_EQ(ImportItunes(Utf8ToWide(file)).error, L"No tracks from that library were found on this computer");
  WriteRaw(file, "<plist><dict>");
  EXPECT_EQ(ImportItunes(Utf8ToWide(file)).error, L"Couldn't read that XML file");
  // An entity-expansion DTD is not expanded: the file loads (or fails) at once, with no tracks.
  WriteRaw(file, "<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;"
                 "&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;"
                 "&c;&c;\">]><plist><dict><key>Tracks</key><dict><key>&d;&d;&d;</key><dict/></dict></dict></plist>");
  EXPECT_EQ(ImportItunes(Utf8ToWide(file)).tracks.size(), 0u);
}

// One real file named by more list entries than the shared path budget lets through: the lists
// stop at the budget, across lists, and a later list gets nothing.
TEST(ItunesImport, ANameRepeatedMillionsOfTimesCannotBlowUpTheResult) {
  TempHome home;
  std::string deep = home.path();
  for (int i = 0; i < 15; ++i) deep += "/" + std::string(250, static_cast<char>('a' + i));
  std::filesystem::create_directories(deep);
  WriteRaw(deep + "/t.mp3", "");
  const std::wstring path = Utf8ToWide(deep + "/t.mp3");
  const size_t fits = kMaxImportedPlaylistChars / (path.size() + 1);
  std::string items;
  for (size_t i = 0; i < fits / 2 + 1; ++i) items += "<dict><key>Track ID</key><integer>1</integer></dict>";
  auto list = [&](const char* name) {
    return std::string("<dict><key>Name</key><string>") + name + "</string><key>Playlist Items</key><array>" + items +
           "</array></dict>";
  };
  WriteRaw(home.path() + "/Library.xml",
           "<plist version=\"1.0\"><dict><key>Tracks</key><dict><key>1</key><dict><key>Location</key><string>file://" +
               deep + "/t.mp3</string></dict></dict><key>Playlists</key><array>" + list("One") + list("Two") +
               list("Three") + "</array></dict></plist>");
  const ImportResult r = ImportItunes(Utf8ToWide(home.path() + "/Library.xml"));
  ASSERT_EQ(r.tracks.size(), 1u);
  ASSERT_EQ(r.playlists.size(), 2u);
  EXPECT_EQ(r.playlists[0].paths.size(), fits / 2 + 1);
  EXPECT_EQ(r.playlists[0].paths.size() + r.playlists[1].paths.size(), fits);
}
