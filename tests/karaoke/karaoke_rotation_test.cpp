// The rotation's operations and turn order, and what each change leaves in karaoke.tsv.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/status_message.h"
#include "base/test_mode.h"
#include "karaoke/karaoke_panel.h"
#include "karaoke/karaoke_rotation.h"
#include "library/track_view.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "support/temp_home.h"

namespace {

KaraokeSong Song(const std::wstring& title, bool sung = false, int32_t key = 0) {
  return KaraokeSong{.path = L"/m/" + title + L".mp3", .title = title, .artist = L"", .keyShift = key, .sung = sung};
}

class Rotations : public ::testing::Test {
 protected:
  void SetUp() override {
    Rotation = KaraokeRotation{};
    Stage = KaraokeStage{};
    Status = StatusLine{};
    TestMode = false;
    ViewItems.clear();
    KaraokePanelShown = false;
  }
  void TearDown() override {
    Rotation = KaraokeRotation{};
    Stage = KaraokeStage{};
    ViewItems.clear();
    KaraokePanelShown = false;
  }
  static std::string File() { return ReadRaw(WideToUtf8(KaraokeQueuePath())); }
  TempHome home_;
};

TEST_F(Rotations, NextSingerStartsAfterTheMarkerAndLooksAtTheMarkersOwnSingerLast) {
  Rotation.singers = {{L"A", {Song(L"a")}}, {L"B", {Song(L"b", true)}}, {L"C", {Song(L"c", true)}}};
  Rotation.onstage = 1;
  EXPECT_EQ(KaraokeNextSinger(Rotation.onstage), 0);
  Rotation.singers[0].songs[0].sung = true;
  Rotation.singers[1].songs[0].sung = false;
  EXPECT_EQ(KaraokeNextSinger(1), 1);
  EXPECT_EQ(KaraokeNextSinger(-7), 1);
  Rotation.singers[1].songs[0].sung = true;
  EXPECT_EQ(KaraokeNextSinger(1), -1);
}

TEST_F(Rotations, UpNextListsEachWaitingSingerOnceAndNotTheSongOnStage) {
  Rotation.singers = {{L"A", {Song(L"a1"), Song(L"a2")}}, {L"B", {Song(L"b")}}, {L"C", {Song(L"c1", true), Song(L"c2")}}};
  Rotation.onstage = 0;
  auto next = KaraokeUpNext(5);
  ASSERT_EQ(next.size(), 3u);
  EXPECT_EQ(next[0], std::make_pair(1, 0));
  EXPECT_EQ(next[1], std::make_pair(2, 1));
  EXPECT_EQ(next[2], std::make_pair(0, 0));
  // A sings a1 now: their next waiting song is a2; after END a1 counts only when marked sung.
  Stage = KaraokeStage{.stageDeck = 0, .currentSinger = 0, .currentSong = 0, .singing = true};
  next = KaraokeUpNext(5);
  ASSERT_EQ(next.size(), 3u);
  EXPECT_EQ(next[2], std::make_pair(0, 1));
  Rotation.singers[0].songs[0].sung = Rotation.singers[1].songs[0].sung = true;
  Stage.currentSong = 1;  // a2 on stage: A has nothing else waiting
  next = KaraokeUpNext(5);
  ASSERT_EQ(next.size(), 1u);
  EXPECT_EQ(next[0], std::make_pair(2, 1));
  EXPECT_EQ(KaraokeUpNext(0).size(), 0u);
}

TEST_F(Rotations, MovingAndTakingOutSingersCarryTheMarkerAndTheStage) {
  Rotation.singers = {{L"A", {}}, {L"B", {}}, {L"C", {}}};
  Rotation.onstage = 1;
  Stage.currentSinger = 1;
  MoveSinger(1, false);  // B down: the marker moves with them
  EXPECT_EQ(Rotation.singers[2].name, L"B");
  EXPECT_EQ(Rotation.onstage, 2);
  EXPECT_EQ(Stage.currentSinger, 2);
  MoveSinger(0, true);  // nothing above the first
  MoveSinger(2, false);
  EXPECT_EQ(Rotation.singers[0].name, L"A");
  EXPECT_EQ(File(), "\xEF\xBB\xBFonstage\t2\nsinger\tA\nsinger\tC\nsinger\tB\n");

  Rotation.onstage = 0;
  Stage.currentSinger = 2;
  TakeOutSinger(0);  // the turn passes to whoever takes the first place
  EXPECT_EQ(Rotation.onstage, -1);
  EXPECT_EQ(Stage.currentSinger, 1);
  // A singer on stage now cannot be taken out; after the song ended they can.
  Stage.stageDeck = 0;
  TakeOutSinger(1);
  EXPECT_EQ(Rotation.singers.size(), 2u);
  Stage.ended = true;
  TakeOutSinger(1);
  EXPECT_EQ(Rotation.singers.size(), 1u);
  EXPECT_EQ(Stage.currentSinger, -1);
}

TEST_F(Rotations, RemovingSongsKeepsTheCurrentSongAndNeverPointsKeyAtAnotherSong) {
  Rotation.singers = {{L"A", {Song(L"a1"), Song(L"a2"), Song(L"a3")}}};
  Stage = KaraokeStage{.stageDeck = 1, .currentSinger = 0, .currentSong = 1, .singing = true};
  RemoveKaraokeSong(0, 1);
  EXPECT_EQ(Status.text, L"That song is on stage now");
  EXPECT_EQ(Rotation.singers[0].songs.size(), 3u);
  RemoveKaraokeSong(0, 0);
  EXPECT_EQ(Stage.currentSong, 0);
  EXPECT_EQ(Rotation.singers[0].songs[0].title, L"a2");
  // After END the song itself may go: the stage then names no song.
  Stage.ended = true;
  RemoveKaraokeSong(0, 0);
  EXPECT_EQ(Stage.currentSong, -1);
  EXPECT_EQ(Rotation.singers[0].songs[0].title, L"a3");
  Rotation.singers[0].songs[0].sung = true;
  SingKaraokeSongAgain(0, 0);
  EXPECT_FALSE(Rotation.singers[0].songs[0].sung);
  RemoveKaraokeSong(0, 5);
  RemoveKaraokeSong(3, 0);
  EXPECT_EQ(Rotation.singers[0].songs.size(), 1u);
}

TEST_F(Rotations, AddingSongsAndSingersSavesAndRefusesPathsTheFileCannotHold) {
  KaraokeJoinRotation(L"", L" \t ");
  EXPECT_TRUE(Rotation.singers.empty());
  KaraokeJoinRotation(L"", L"  Zoë\t");
  ASSERT_EQ(Rotation.singers.size(), 1u);
  EXPECT_EQ(Rotation.singers[0].name, L"Zoë");
  EXPECT_TRUE(KaraokePanelShown);
  EXPECT_EQ(Status.text, L"Zoë joined the rotation — drag songs onto their name");

  ViewItems = {LibraryFile{.path = L"/m/known.flac", .title = L"Known", .artist = L"Band"}};
  KaraokeAddSong(0, L"/m/known.flac");
  KaraokeAddSong(0, L"/m/dir.v2/plain song.mp3");
  EXPECT_EQ(Status.text, L"“plain song” added for Zoë");
  KaraokeJoinRotation(L"/m/known.flac", L"Ed");
  EXPECT_EQ(Status.text, L"“Known” added for Ed");
  for (const wchar_t* bad : {L"/m/a\tb.mp3", L"/m/a\nb.mp3", L"/m/a\rb.mp3"}) {
    KaraokeAddSong(0, bad);
    EXPECT_NE(Status.text.find(L"tab or a line break"), std::wstring::npos);
  }
  KaraokeAddSong(2, L"/m/x.mp3");
  RenameSinger(1, L"");
  RenameSinger(1, L" Eddie ");
  EXPECT_EQ(File(),
            "\xEF\xBB\xBFonstage\t-1\nsinger\tZo\xC3\xAB\n"
            "song\t0\t0\t/m/known.flac\tKnown\tBand\nsong\t0\t0\t/m/dir.v2/plain song.mp3\tplain song\t\n"
            "singer\t Eddie \nsong\t0\t0\t/m/known.flac\tKnown\tBand\n");
}

TEST_F(Rotations, TestModeWritesNothingAndAReadBackFileIsTheSame) {
  Rotation.singers = {{L"A\tB", {Song(L"t\ti", true, -3)}}};
  Rotation.onstage = 0;
  TestMode = true;
  EXPECT_TRUE(SaveKaraokeQueue());
  EXPECT_FALSE(FileExists(KaraokeQueuePath()));
  TestMode = false;
  ASSERT_TRUE(SaveKaraokeQueue());
  LoadKaraokeQueue();
  ASSERT_EQ(Rotation.singers.size(), 1u);
  EXPECT_EQ(Rotation.singers[0].name, L"A B");
  EXPECT_EQ(Rotation.singers[0].songs[0].title, L"t i");
  EXPECT_EQ(Rotation.singers[0].songs[0].keyShift, -3);
  EXPECT_TRUE(Rotation.singers[0].songs[0].sung);
  EXPECT_EQ(Rotation.onstage, 0);
  // The whole file read back is what was written: nothing about the stage is stored.
  EXPECT_EQ(File(), "\xEF\xBB\xBFonstage\t0\nsinger\tA B\nsong\t1\t-3\t/m/t i.mp3\tt i\t\n");
}

// A song whose file name is not UTF-8 keeps its bytes through a save and a load.
TEST_F(Rotations, ASongNamedInLatin1ReadsBackToItsBytes) {
  Rotation.singers = {{L"Zo\u00eb", {KaraokeSong{.path = PathFromBytes("/m/caf\xE9.mp3"), .title = L"Caf"}}}};
  ASSERT_TRUE(SaveKaraokeQueue());
  const std::string saved = File();
  EXPECT_NE(saved.find("\t/m/caf\xE9.mp3\tCaf\t"), std::string::npos);
  LoadKaraokeQueue();
  ASSERT_EQ(Rotation.singers.size(), 1u);
  EXPECT_EQ(PathToBytes(Rotation.singers[0].songs.at(0).path), "/m/caf\xE9.mp3");
  ASSERT_TRUE(SaveKaraokeQueue());
  EXPECT_EQ(File(), saved);
}

// A queue file that is there but can't be read (here: larger than any queue the program reads) is
// never replaced by the empty rotation that the failed read left.
TEST_F(Rotations, AQueueFileThatCantBeReadIsNeverOverwritten) {
  const std::string path = WideToUtf8(KaraokeQueuePath());
  ASSERT_EQ(std::system(("truncate -s 65M '" + path + "'").c_str()), 0);
  LoadKaraokeQueue();
  EXPECT_TRUE(Rotation.singers.empty());
  KaraokeJoinRotation(L"", L"Zoë");
  // Said in place of "Zoë joined": the change is not on disk.
  EXPECT_EQ(Status.text, L"Couldn't save karaoke.tsv: it couldn't be read at start, so it is left as it is");
  EXPECT_FALSE(SaveKaraokeQueue());
  EXPECT_EQ(std::filesystem::file_size(path), 65u << 20);
  std::filesystem::remove(path);
  LoadKaraokeQueue();
  KaraokeJoinRotation(L"", L"Ed");
  EXPECT_TRUE(SaveKaraokeQueue());
  EXPECT_NE(File().find("singer\tEd"), std::string::npos);
}

}  // namespace
