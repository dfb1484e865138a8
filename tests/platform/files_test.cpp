#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "support/temp_home.h"

namespace fs = std::filesystem;

TEST(AtomicWrite, ReplacesWholeAndLeavesNoTemporary) {
  TempHome home;
  std::string target = home.path() + "/a.tsv";
  WriteRaw(target, "old contents that are longer");
  ASSERT_TRUE(WriteBytesAtomic(Utf8ToWide(target), "new"));
  EXPECT_EQ(ReadRaw(target), "new");
  EXPECT_FALSE(fs::exists(target + ".tmp"));
  ASSERT_TRUE(WriteBytesAtomic(Utf8ToWide(target), ""));
  EXPECT_EQ(fs::file_size(target), 0u);
}

TEST(AtomicWrite, FailedRenameKeepsOldTargetAndCleansUp) {
  TempHome home;
  // A non-empty folder at the target makes the final rename fail after the data was written.
  std::string target = home.path() + "/db";
  fs::create_directories(target + "/inside");
  std::wstring error;
  EXPECT_FALSE(WriteBytesAtomic(Utf8ToWide(target), "data", &error));
  EXPECT_NE(error.find(L"rename"), std::wstring::npos);
  EXPECT_TRUE(fs::is_directory(target + "/inside"));
  EXPECT_FALSE(fs::exists(target + ".tmp"));
}

TEST(AtomicWrite, MissingFolderFailsAtCreate) {
  TempHome home;
  std::wstring error;
  EXPECT_FALSE(WriteBytesAtomic(Utf8ToWide(home.path() + "/no/such/file"), "x", &error));
  EXPECT_NE(error.find(L"create"), std::wstring::npos);
}

TEST(ReadWholeFile, TellsMissingFromUnreadable) {
  TempHome home;
  std::string bytes;
  EXPECT_EQ(ReadBytes(Utf8ToWide(home.path() + "/missing"), &bytes), ReadStatus::Missing);
  fs::create_directories(home.path() + "/folder");
  EXPECT_EQ(ReadBytes(Utf8ToWide(home.path() + "/folder"), &bytes), ReadStatus::Unreadable);
  WriteRaw(home.path() + "/big", std::string(100, 'x'));
  EXPECT_EQ(ReadBytes(Utf8ToWide(home.path() + "/big"), &bytes, 99), ReadStatus::Unreadable);
  EXPECT_EQ(ReadBytes(Utf8ToWide(home.path() + "/big"), &bytes, 100), ReadStatus::Ok);
  EXPECT_EQ(bytes.size(), 100u);
}

TEST(Folders, FollowXdgVariablesAndHome) {
  TempHome home;
  EXPECT_EQ(RoamingDataBase(), home.wpath() + L"/data");
  EXPECT_EQ(LocalDataBase(), home.wpath() + L"/state");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(RoamingDataBase(), home.wpath() + L"/.local/share");
  setenv("XDG_DATA_HOME", "relative/ignored", 1);
  EXPECT_EQ(RoamingDataBase(), home.wpath() + L"/.local/share");
  EXPECT_EQ(MusicFolder(), home.wpath() + L"/Music");
  fs::create_directories(home.path() + "/config");
  WriteRaw(home.path() + "/config/user-dirs.dirs",
           "# comment\nXDG_MUSIC_DIR=\"$HOME/Musik\"\nXDG_DESKTOP_DIR=\"/srv/desk\"\n");
  EXPECT_EQ(MusicFolder(), home.wpath() + L"/Musik");
  EXPECT_EQ(DesktopFolder(), L"/srv/desk");
  EXPECT_EQ(DownloadsFolder(), home.wpath() + L"/Downloads");
  EXPECT_FALSE(FolderExists(MusicFolder()));
  EXPECT_TRUE(CreateFolderTree(MusicFolder() + L"/a/b"));
  EXPECT_TRUE(FolderExists(MusicFolder()));
  EXPECT_FALSE(ProgramFolder().empty());
}

TEST(Paths, CaseMattersOnThisPlatform) {
  EXPECT_TRUE(SamePath(L"/m/Track.mp3", L"/m/Track.mp3"));
  EXPECT_FALSE(SamePath(L"/m/Track.mp3", L"/m/track.mp3"));
  EXPECT_EQ(PathKey(L"/m/Track.MP3"), L"/m/Track.MP3");
}
