// A FIFO (or any file that is not a regular file) where the program keeps a file of its own: every
// reader refuses it at once instead of waiting in open() for a writer that never comes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>

#include "app/load_settings.h"
#include "base/files.h"
#include "base/settings.h"
#include "base/track_info.h"
#include "control/mapping_table.h"
#include "karaoke/karaoke_rotation.h"
#include "library/crates.h"
#include "library/database.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "settings/skins.h"
#include "support/temp_home.h"

namespace {

constexpr auto kDeadline = std::chrono::seconds(3);

// Makes a FIFO at path; runs read in a thread of its own and says whether it returned within the
// deadline. A reader stuck in open() is let go by opening the FIFO's writing end once.
bool ReturnsAtOnce(const std::wstring& path, const std::function<void()>& read) {
  const std::string p = WideToUtf8(path);
  if (::mkfifo(p.c_str(), 0600) != 0) {
    ADD_FAILURE() << "mkfifo " << p;
    return false;
  }
  std::future<void> done = std::async(std::launch::async, read);
  if (done.wait_for(kDeadline) == std::future_status::ready) return true;
  const int fd = ::open(p.c_str(), O_WRONLY | O_NONBLOCK);
  if (fd >= 0) ::close(fd);
  done.wait();
  return false;
}

class FifoReaders : public ::testing::Test {
 protected:
  TempHome home_;
};

TEST_F(FifoReaders, TheFileReaderRefusesWithoutWaiting) {
  std::string bytes = "left over";
  ReadStatus status = ReadStatus::Ok;
  const std::wstring fifo = home_.wpath() + L"/pipe";
  EXPECT_TRUE(ReturnsAtOnce(fifo, [&] { status = ReadBytes(fifo, &bytes); }));
  EXPECT_EQ(status, ReadStatus::Unreadable);
  EXPECT_TRUE(bytes.empty());
}

TEST_F(FifoReaders, SettingsDatabaseAndCratesStartFromDefaultsAndKeepTheirFiles) {
  EXPECT_TRUE(ReturnsAtOnce(SettingsPath(), [] { LoadSettings(); }));
  EXPECT_TRUE(ReturnsAtOnce(DatabasePath(), [] { LoadDatabase(); }));
  EXPECT_TRUE(LibraryNoSave) << "what stands at database.tsv is never replaced";
  EXPECT_TRUE(TrackLibrary.empty());
  EXPECT_TRUE(ReturnsAtOnce(JoinPath(AppDataDir(), kCratesFile), [] { SmartCrates = LoadCrates(); }));
  EXPECT_TRUE(CratesNoSave);
  EXPECT_FALSE(SaveCrates());
  LibraryNoSave = false;
  CratesNoSave = false;
}

TEST_F(FifoReaders, KaraokeQueueSkinAndMidiMapReadAsEmpty) {
  Rotation.singers.resize(2);
  EXPECT_TRUE(ReturnsAtOnce(KaraokeQueuePath(), [] { LoadKaraokeQueue(); }));
  EXPECT_TRUE(Rotation.singers.empty());

  Settings.Skin = L"Piped";
  EXPECT_TRUE(ReturnsAtOnce(JoinPath(SkinsFolder(), L"Piped.vxskin"), [] { LoadSkin(); }));
  Settings.Skin.clear();

  MappingTable[1] = 2;
  EXPECT_TRUE(ReturnsAtOnce(MidiMapPath(), [] { LoadMidiMap(MidiMapPath()); }));
  EXPECT_TRUE(MappingTable.empty());
}

}  // namespace
