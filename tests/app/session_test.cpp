// The saved session through the real settings file, and the once-only shutdown.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

#include "app/load_settings.h"
#include "app/session.h"
#include "app/shutdown.h"
#include "base/settings.h"
#include "base/test_mode.h"
#include "engine/deck_commands.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "platform/ini.h"
#include "platform/text.h"
#include "support/temp_home.h"

namespace {

void PutTrack(int deck, const std::wstring& path, int rate, double positionFrames) {
  auto track = std::make_shared<Track>();
  track->path = path;
  track->sampleRate = rate;
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  Engine.decks[deck].track = track;
  Engine.decks[deck].position = positionFrames;
}

void ClearDecks() {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  for (int d = 0; d < kEngineDecks; ++d) {
    Engine.decks[d].track.reset();
    Engine.decks[d].position = 0.0;
    LiveDeckViews[d] = DeckView{};
  }
}

std::string SettingsText() { return ReadRaw(WideToUtf8(SettingsPath())); }

}  // namespace

TEST(Session, KeysRoundTripAndOnlyTheShownDecksAreReadBack) {
  IniDocument ini;
  StoreSession(&ini, {SessionDeck{L"/a/one.wav", 12.5}, SessionDeck{}, SessionDeck{L" /b/two.wav ", 1e-7},
                      SessionDeck{L"", 99.0}});
  const std::string text = SerializeIni(ini);
  EXPECT_NE(text.find("DeckAPos=12.500000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("DeckBPath=\n"), std::string::npos);
  EXPECT_NE(text.find("DeckBPos=0.000000\n"), std::string::npos);
  EXPECT_NE(text.find("DeckCPos=0.000000\n"), std::string::npos) << "six decimals";
  EXPECT_NE(text.find("DeckDPos=0.000000\n"), std::string::npos) << "no track, no position";

  const IniDocument back = ParseIni(text);
  const auto two = ReadSession(back, 2);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].path, L"/a/one.wav");
  EXPECT_DOUBLE_EQ(two[0].seconds, 12.5);
  EXPECT_TRUE(two[1].path.empty());
  const auto four = ReadSession(back, 4);
  ASSERT_EQ(four.size(), 4u);
  EXPECT_EQ(four[2].path, L" /b/two.wav ") << "blanks at the ends survive the file";
}

TEST(Session, PositionsAreReadAsLeadingNumbers) {
  const IniDocument ini = ParseIni(
      "[Session]\nDeckAPath=/a\nDeckAPos=42.25s\nDeckBPath=/b\nDeckBPos=junk\n"
      "DeckCPath=/c\nDeckCPos=inf\nDeckDPath=/d\n");
  const auto decks = ReadSession(ini, 4);
  ASSERT_EQ(decks.size(), 4u);
  EXPECT_DOUBLE_EQ(decks[0].seconds, 42.25);
  EXPECT_DOUBLE_EQ(decks[1].seconds, 0.0);
  EXPECT_DOUBLE_EQ(decks[2].seconds, 0.0) << "not a finite position";
  EXPECT_DOUBLE_EQ(decks[3].seconds, 0.0) << "a missing key";
}

TEST(Session, SaveWritesTheEngineDecksAndTheSettingsKeepThem) {
  TempHome home;
  ClearDecks();
  LoadSettings();
  PutTrack(0, L"/music/a.wav", 48000, 48000 * 61.5);
  PutTrack(2, L"/music/c d.flac", 44100, 0.0);
  WriteRaw(WideToUtf8(SettingsPath()), "[Other]\nKeep=me\n[Session]\nDeckAPath=/old.wav\n");

  ASSERT_TRUE(SaveSession());
  std::string text = SettingsText();
  for (const char* line : {"DeckAPath=/music/a.wav\n", "DeckAPos=61.500000\n", "DeckBPath=\n", "DeckBPos=0.000000\n",
                           "DeckCPath=/music/c d.flac\n", "DeckCPos=0.000000\n", "DeckDPath=\n", "Keep=me\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " missing from\n" << text;
  EXPECT_EQ(text.find("/old.wav"), std::string::npos);

  ASSERT_TRUE(SaveSettings());
  text = SettingsText();
  EXPECT_NE(text.find("DeckAPos=61.500000\n"), std::string::npos) << "saving the settings dropped the session";
  EXPECT_NE(text.find("[Options]"), std::string::npos);
  ClearDecks();
}

TEST(Session, RestoreLoadsExistingTracksAtTheirSecondOnTheShownDecks) {
  TempHome home;
  ClearDecks();
  const std::wstring a = home.wpath() + L"/a.wav", c = home.wpath() + L"/c.wav";
  WriteRaw(WideToUtf8(a), "RIFF");
  WriteRaw(WideToUtf8(c), "RIFF");
  LoadSettings();
  WriteRaw(WideToUtf8(SettingsPath()), WideToUtf8(L"[Session]\nDeckAPath=" + a + L"\nDeckAPos=30.000000\nDeckBPath=" +
                                                   home.wpath() + L"/gone.wav\nDeckBPos=5\nDeckCPath=" + c +
                                                   L"\nDeckCPos=7\n"));
  Settings.FourDecks = false;
  LoadSession();
  EXPECT_TRUE(LiveDeckViews[0].loading);
  EXPECT_EQ(LiveDeckViews[0].title, L"a.wav");
  EXPECT_DOUBLE_EQ(PendingSeek(0), 30.0);
  EXPECT_FALSE(LiveDeckViews[1].loading) << "a path that no longer exists leaves the deck empty";
  EXPECT_DOUBLE_EQ(PendingSeek(1), -1.0);
  EXPECT_FALSE(LiveDeckViews[2].loading) << "deck C is not restored without four decks";

  ClearDecks();
  Settings.FourDecks = true;
  LoadSession();
  EXPECT_TRUE(LiveDeckViews[2].loading);
  EXPECT_DOUBLE_EQ(PendingSeek(2), 7.0);
  Settings.FourDecks = false;
  ClearDecks();
}

// StopAndSaveAll runs once per process, so each case runs in a child process of its own.
TEST(ShutdownDeathTest, SavesOnceAndNeverAgain) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        TempHome home;
        LoadSettings();
        PutTrack(1, L"/music/b.wav", 44100, 44100 * 2.0);
        StopAndSaveAll();
        const std::string first = SettingsText();
        const bool saved = first.find("DeckBPos=2.000000") != std::string::npos &&
                           first.find("[Options]") != std::string::npos;
        std::filesystem::remove(WideToUtf8(SettingsPath()));
        StopAndSaveAll();
        std::exit(saved && !std::filesystem::exists(WideToUtf8(SettingsPath())) ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(ShutdownDeathTest, ATestRunSavesNothing) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        TempHome home;
        LoadSettings();
        TestMode = true;
        PutTrack(0, L"/music/a.wav", 44100, 0.0);
        StopAndSaveAll();
        std::exit(std::filesystem::exists(WideToUtf8(SettingsPath())) ? 1 : 0);
      },
      testing::ExitedWithCode(0), "");
}
