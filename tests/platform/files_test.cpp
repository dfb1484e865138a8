#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

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
  EXPECT_TRUE(WriteTemps(home.path()).empty());
  ASSERT_TRUE(WriteBytesAtomic(Utf8ToWide(target), ""));
  EXPECT_EQ(fs::file_size(target), 0u);
}

TEST(AtomicWrite, FailedWriteKeepsOldTargetAndCleansUp) {
  TempHome home;
  const std::string target = home.path() + "/db";
  WriteRaw(target, "old");
  std::wstring error;
  {
    FileSizeLimit limit(8);
    EXPECT_FALSE(WriteBytesAtomic(Utf8ToWide(target), std::string(64, 'n'), &error));
  }
  EXPECT_NE(error.find(L"write"), std::wstring::npos) << WideToUtf8(error);
  EXPECT_EQ(ReadRaw(target), "old");
  EXPECT_TRUE(WriteTemps(home.path()).empty());
}

// The target through one link and a link to a link: the file at the end is replaced beside
// itself, with its mode; the links stay links. Batches go the same way.
TEST(AtomicWrite, FollowsLinksToTheFileTheyEndAt) {
  TempHome home;
  const std::string dots = home.path() + "/dotfiles", real = dots + "/settings.ini";
  fs::create_directories(dots);
  WriteRaw(real, "old");
  ::chmod(real.c_str(), 0600);
  const std::string one = home.path() + "/one", two = home.path() + "/two";
  fs::create_symlink(real, one);
  fs::create_symlink("one", two);
  ASSERT_TRUE(WriteBytesAtomic(Utf8ToWide(two), "new"));
  EXPECT_TRUE(fs::is_symlink(one));
  EXPECT_TRUE(fs::is_symlink(two));
  EXPECT_EQ(ReadRaw(real), "new");
  EXPECT_EQ(fs::status(real).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  std::string bytes;
  EXPECT_EQ(ReadBytes(Utf8ToWide(two), &bytes), ReadStatus::Ok) << "a linked file is read, not refused";
  EXPECT_EQ(bytes, "new");

  std::vector<FileWrite> batch(2);
  batch[0].target = Utf8ToWide(one);
  batch[0].bytes = "batch";
  batch[1].target = Utf8ToWide(home.path() + "/dangling");
  fs::create_symlink(home.path() + "/nowhere/x", home.path() + "/dangling");
  WriteFilesAtomic(batch);
  EXPECT_TRUE(batch[0].ok);
  EXPECT_FALSE(batch[1].ok);
  EXPECT_TRUE(fs::is_symlink(one));
  EXPECT_EQ(ReadRaw(real), "batch");
  EXPECT_FALSE(fs::exists(home.path() + "/nowhere"));
  EXPECT_TRUE(WriteTemps(dots).empty());
  EXPECT_TRUE(WriteTemps(home.path()).empty());
}

// What is no regular file is never replaced: a dangling link, a link loop, a folder, a FIFO and
// a device each keep what they are, and the message names the file. An export named on purpose
// goes straight into a device or a read FIFO.
TEST(AtomicWrite, NeverReplacesWhatIsNoRegularFile) {
  TempHome home;
  const std::string d = home.path();
  fs::create_symlink(d + "/missing", d + "/dangling");
  fs::create_symlink(d + "/loopB", d + "/loopA");
  fs::create_symlink(d + "/loopA", d + "/loopB");
  fs::create_directories(d + "/folder");
  ASSERT_EQ(::mkfifo((d + "/fifo").c_str(), 0600), 0);
  fs::create_symlink(d + "/fifo", d + "/to-fifo");
  struct Case {
    const char* name;
    const wchar_t* says;
  };
  for (const Case& c : {Case{"dangling", L"points at nothing"}, Case{"loopA", L"loop"}, Case{"folder", L"folder"},
                        Case{"fifo", L"not a regular file"}, Case{"to-fifo", L"not a regular file"}}) {
    std::wstring error;
    EXPECT_FALSE(WriteBytesAtomic(Utf8ToWide(d + "/" + c.name), "x", &error)) << c.name;
    EXPECT_NE(error.find(c.says), std::wstring::npos) << c.name << ": " << WideToUtf8(error);
    EXPECT_NE(error.find(Utf8ToWide(c.name == std::string("to-fifo") ? "fifo" : c.name)), std::wstring::npos)
        << WideToUtf8(error);
  }
  EXPECT_FALSE(fs::exists(d + "/missing")) << "nothing made where the dangling link points";
  EXPECT_TRUE(fs::is_symlink(d + "/dangling"));
  EXPECT_TRUE(fs::is_directory(d + "/folder"));
  EXPECT_TRUE(fs::is_fifo(d + "/fifo"));
  EXPECT_TRUE(WriteTemps(d).empty());

  // In place: a FIFO nobody reads is refused at once rather than waited on; one that is read
  // gets the bytes.
  std::wstring error;
  EXPECT_FALSE(WriteBytesAtomic(Utf8ToWide(d + "/fifo"), "x", &error, SpecialTarget::WriteInPlace));
  EXPECT_NE(error.find(L"nothing reads"), std::wstring::npos) << WideToUtf8(error);
  std::string heard;
  std::thread reader([&] { heard = ReadRaw(d + "/fifo"); });
  // The reader's open may come after ours: retry until it is there (bounded).
  bool wrote = false;
  for (int i = 0; i < 2000 && !wrote; ++i) {
    wrote = WriteBytesAtomic(Utf8ToWide(d + "/to-fifo"), "piped", &error, SpecialTarget::WriteInPlace);
    if (!wrote) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!wrote) WriteRaw(d + "/fifo", "");  // lets the reader finish
  reader.join();
  EXPECT_TRUE(wrote) << WideToUtf8(error);
  EXPECT_EQ(heard, "piped");
  EXPECT_TRUE(fs::is_fifo(d + "/fifo"));

  // A private null device, never the machine's own.
  const std::string nul = d + "/null";
  if (::mknod(nul.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) GTEST_SKIP() << "mknod not allowed here: " << std::strerror(errno);
  EXPECT_FALSE(WriteBytesAtomic(Utf8ToWide(nul), "x", &error));
  EXPECT_NE(error.find(L"device"), std::wstring::npos);
  EXPECT_TRUE(WriteBytesAtomic(Utf8ToWide(nul), "discarded", &error, SpecialTarget::WriteInPlace)) << WideToUtf8(error);
  EXPECT_TRUE(fs::is_character_file(nul));
  EXPECT_TRUE(MoveReplace(Utf8ToWide(d + "/folder"), Utf8ToWide(d + "/folder2")));
  WriteRaw(d + "/loose", "y");
  EXPECT_FALSE(MoveReplace(Utf8ToWide(d + "/loose"), Utf8ToWide(nul)));
  EXPECT_TRUE(fs::is_character_file(nul));
}

// A killed writer's temporary is removed at the next write of its file or a look at its folder,
// once it is a few minutes old and its process is gone; nothing of another name is touched.
TEST(AtomicWrite, RemovesOnlyItsOwnStaleLeftovers) {
  TempHome home;
  const std::string d = home.path();
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  const std::string dead = std::to_string(child), self = std::to_string(::getpid());
  auto make = [&](const std::string& name, bool old) {
    WriteRaw(d + "/" + name, "partial");
    if (old) {
      const struct timeval past[2] = {{::time(nullptr) - 600, 0}, {::time(nullptr) - 600, 0}};
      ::utimes((d + "/" + name).c_str(), past);
    }
  };
  make(".x.wav." + dead + "-3.veldmix-tmp", true);    // stale: goes at the next write of x.wav
  make(".x.wav." + dead + "-4.veldmix-tmp", false);   // fresh: stays
  make(".x.wav." + self + "-5.veldmix-tmp", true);    // its writer runs: stays
  make(".y.wav." + dead + "-6.veldmix-tmp", true);    // another file's: only the folder look takes it
  make("x.wav.tmp", true);                            // not our pattern
  make(".x.wav.veldmix-tmp", true);                   // not our pattern
  ASSERT_TRUE(WriteBytesAtomic(Utf8ToWide(d + "/x.wav"), "tags"));
  EXPECT_FALSE(fs::exists(d + "/.x.wav." + dead + "-3.veldmix-tmp"));
  EXPECT_TRUE(fs::exists(d + "/.x.wav." + dead + "-4.veldmix-tmp"));
  EXPECT_TRUE(fs::exists(d + "/.x.wav." + self + "-5.veldmix-tmp"));
  EXPECT_TRUE(fs::exists(d + "/.y.wav." + dead + "-6.veldmix-tmp"));
  EXPECT_EQ(RemoveStaleWriteTemps(Utf8ToWide(d)), 1);
  EXPECT_FALSE(fs::exists(d + "/.y.wav." + dead + "-6.veldmix-tmp"));
  EXPECT_TRUE(fs::exists(d + "/x.wav.tmp"));
  EXPECT_TRUE(fs::exists(d + "/.x.wav.veldmix-tmp"));
  EXPECT_EQ(WriteTemps(d).size(), 2u);

  // A batch takes its own files' stale temporaries too, with one look at their folder.
  make(".z.wav." + dead + "-7.veldmix-tmp", true);
  make(".w.wav." + dead + "-8.veldmix-tmp", true);
  std::vector<FileWrite> batch(2);
  batch[0].target = Utf8ToWide(d + "/z.wav"), batch[1].target = Utf8ToWide(d + "/x.wav");
  WriteFilesAtomic(batch);
  EXPECT_TRUE(batch[0].ok && batch[1].ok);
  EXPECT_FALSE(fs::exists(d + "/.z.wav." + dead + "-7.veldmix-tmp"));
  EXPECT_TRUE(fs::exists(d + "/.w.wav." + dead + "-8.veldmix-tmp"));
  EXPECT_TRUE(fs::exists(d + "/.x.wav." + self + "-5.veldmix-tmp"));
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
