#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "base/files.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "library/backups.h"
#include "library/database.h"
#include "platform/text.h"
#include "support/temp_home.h"

namespace fs = std::filesystem;

namespace {

class BackupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestMode = false;
    LibraryNoSave = false;
    Status = StatusLine{};
    data_ = WideToUtf8(AppDataDir());
    backups_ = home_.path() + "/state/Veldmix/Backups";
  }
  void TearDown() override {
    TestMode = false;
    LibraryNoSave = false;
  }
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    if (!fs::is_directory(backups_)) return names;
    for (const auto& e : fs::directory_iterator(backups_)) names.insert(e.path().filename().string());
    return names;
  }

  TempHome home_;
  std::string data_, backups_;
};

LocalTime Day(unsigned year, unsigned month, unsigned day) { return LocalTime{year, month, day, 12, 0, 0, 0}; }

}  // namespace

TEST_F(BackupTest, CopiesTheLibraryAndConfigurationFilesIntoADatedFolder) {
  WriteRaw(data_ + "/database.tsv", "db");
  WriteRaw(data_ + "/crates.tsv", "crates");
  WriteRaw(data_ + "/settings.ini", "[Options]\n");
  WriteRaw(data_ + "/karaoke.tsv", "not backed up");
  fs::create_directories(data_ + "/Lists/nested");
  WriteRaw(data_ + "/Lists/Automix.m3u8", "#EXTM3U\n/a.mp3\n");
  WriteRaw(data_ + "/Lists/Caf\xC3\xA9.m3u8", "#EXTM3U\n");
  WriteRaw(data_ + "/Lists/nested/deep.m3u8", "x");
  fs::create_directories(data_ + "/Controllers");
  WriteRaw(data_ + "/Controllers/pad.vxmap", "1\t2\n");

  DailyBackup(Day(2024, 3, 9));
  EXPECT_EQ(Entries(), (std::set<std::string>{"2024-03-09"}));
  const std::string b = backups_ + "/2024-03-09";
  EXPECT_EQ(ReadRaw(b + "/database.tsv"), "db");
  EXPECT_EQ(ReadRaw(b + "/crates.tsv"), "crates");
  EXPECT_EQ(ReadRaw(b + "/settings.ini"), "[Options]\n");
  EXPECT_FALSE(fs::exists(b + "/midi.tsv"));  // not there yet: skipped
  EXPECT_FALSE(fs::exists(b + "/karaoke.tsv"));
  EXPECT_EQ(ReadRaw(b + "/Lists/Automix.m3u8"), "#EXTM3U\n/a.mp3\n");
  EXPECT_TRUE(fs::exists(b + "/Lists/Caf\xC3\xA9.m3u8"));
  EXPECT_FALSE(fs::exists(b + "/Lists/nested"));  // only the files directly inside
  EXPECT_EQ(ReadRaw(b + "/Controllers/pad.vxmap"), "1\t2\n");
}

TEST_F(BackupTest, OneBackupADay) {
  WriteRaw(data_ + "/database.tsv", "morning");
  DailyBackup(Day(2024, 3, 9));
  WriteRaw(data_ + "/database.tsv", "evening");
  DailyBackup(Day(2024, 3, 9));
  EXPECT_EQ(ReadRaw(backups_ + "/2024-03-09/database.tsv"), "morning");
  EXPECT_EQ(Entries().size(), 1u);

  // A file of today's name also counts as done.
  WriteRaw(backups_ + "/2024-03-10", "");
  DailyBackup(Day(2024, 3, 10));
  EXPECT_TRUE(fs::is_regular_file(backups_ + "/2024-03-10"));
}

TEST_F(BackupTest, KeepsTheNewestSevenAndLeavesOtherFoldersAlone) {
  WriteRaw(data_ + "/database.tsv", "db");
  for (int d = 1; d <= 7; ++d) {
    std::string name = "2024-01-0" + std::to_string(d);
    fs::create_directories(backups_ + "/" + name + "/Lists");
    WriteRaw(backups_ + "/" + name + "/database.tsv", "old");
  }
  fs::create_directories(backups_ + "/backup-old");
  WriteRaw(backups_ + "/notes.txt", "mine");

  DailyBackup(Day(2024, 1, 8));
  EXPECT_EQ(Entries(), (std::set<std::string>{"2024-01-02", "2024-01-03", "2024-01-04", "2024-01-05",
                                              "2024-01-06", "2024-01-07", "2024-01-08", "backup-old",
                                              "notes.txt"}));

  // Ten characters that are not a date ("backup-old" is ten too) are the user's, never pruned;
  // a date-shaped name sorts by its text.
  fs::create_directories(backups_ + "/zzzzzzzzzz");
  fs::create_directories(backups_ + "/0000-00-00");
  DailyBackup(Day(2024, 1, 9));
  std::set<std::string> now = Entries();
  EXPECT_TRUE(now.count("zzzzzzzzzz"));
  EXPECT_TRUE(now.count("backup-old"));
  EXPECT_TRUE(now.count("2024-01-09"));
  EXPECT_FALSE(now.count("0000-00-00"));  // the oldest by name
  EXPECT_FALSE(now.count("2024-01-02"));
  EXPECT_TRUE(now.count("2024-01-03"));
  EXPECT_EQ(now.size(), 7u + 3u);
}

// A disk that fills during the copy: the cut-short backup is removed, said, and no good one is
// pruned for it; the next start with room makes it whole and only then lets the oldest go.
TEST_F(BackupTest, ABackupThatCannotBeWrittenWholeIsRemovedAndTheGoodOnesKept) {
  const std::string database(64 * 1024, 'd');
  WriteRaw(data_ + "/database.tsv", database);
  WriteRaw(data_ + "/settings.ini", "[Options]\n");
  std::set<std::string> good;
  for (int d = 1; d <= 7; ++d) {
    const std::string name = "2024-01-0" + std::to_string(d);
    fs::create_directories(backups_ + "/" + name);
    WriteRaw(backups_ + "/" + name + "/database.tsv", "old " + name);
    good.insert(name);
  }
  bool made = true;
  {
    FileSizeLimit limit(4096);
    made = DailyBackup(Day(2024, 1, 8));
  }
  EXPECT_FALSE(made);
  EXPECT_EQ(Entries(), good);  // no "2024-01-08", no ".partial", the oldest still there
  for (const std::string& name : good) EXPECT_EQ(ReadRaw(backups_ + "/" + name + "/database.tsv"), "old " + name);
  EXPECT_EQ(Status.text,
            L"Today's backup couldn't be made \u2014 the file would be larger than this disk or account allows");

  EXPECT_TRUE(DailyBackup(Day(2024, 1, 8)));
  good.erase("2024-01-01");
  good.insert("2024-01-08");
  EXPECT_EQ(Entries(), good);
  EXPECT_EQ(ReadRaw(backups_ + "/2024-01-08/database.tsv"), database);
  EXPECT_EQ(ReadRaw(backups_ + "/2024-01-08/settings.ini"), "[Options]\n");
}

TEST_F(BackupTest, LeftoversOfACrashAreRemoved) {
  WriteRaw(data_ + "/database.tsv", "fresh");
  fs::create_directories(backups_ + "/2024-05-01.partial/Lists");
  WriteRaw(backups_ + "/2024-05-01.partial/database.tsv", "half");
  fs::create_directories(backups_ + "/2024-05-02.partial");
  WriteRaw(backups_ + "/2024-05-02.partial/stale.tsv", "stale");

  DailyBackup(Day(2024, 5, 2));
  EXPECT_EQ(Entries(), (std::set<std::string>{"2024-05-02"}));
  EXPECT_EQ(ReadRaw(backups_ + "/2024-05-02/database.tsv"), "fresh");
  EXPECT_FALSE(fs::exists(backups_ + "/2024-05-02/stale.tsv"));
}

// A database with one odd line loads, so the day's backup is made of it as it was.
TEST_F(BackupTest, AnOddLineInTheDatabaseStillGetsTheDaysBackup) {
  const std::string odd = "/m/a.mp3\t120\t0.5\t3\t-8\t1\t2\t1\t1\t1\t1\t1\t1\t1\t1\n/Music/old.mp3\t99\t0\n";
  WriteRaw(data_ + "/database.tsv", odd);
  LoadDatabase();
  ASSERT_FALSE(LibraryNoSave);
  DailyBackup(Day(2024, 3, 1));
  EXPECT_EQ(ReadRaw(backups_ + "/2024-03-01/database.tsv"), odd);
}

TEST_F(BackupTest, NothingWhileTheLibraryRefusesToSaveOrInTestMode) {
  WriteRaw(data_ + "/database.tsv", "damaged");
  for (int d = 1; d <= 7; ++d) fs::create_directories(backups_ + "/2024-02-0" + std::to_string(d));
  LibraryNoSave = true;
  DailyBackup(Day(2024, 2, 8));
  EXPECT_FALSE(fs::exists(backups_ + "/2024-02-08"));
  EXPECT_TRUE(fs::exists(backups_ + "/2024-02-01"));  // the good old backups stay

  LibraryNoSave = false;
  TestMode = true;
  DailyBackup(Day(2024, 2, 8));
  EXPECT_FALSE(fs::exists(backups_ + "/2024-02-08"));
}
