#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>

#include "base/text_parse.h"
#include "karaoke/lyrics_online.h"
#include "platform/text.h"

// The requests and answers over HTTPS are checked end to end by tests/e2e/lyrics_online.sh
// against a loopback stand-in of the service.

TEST(LyricsOnlineText, NoiseWordTableHoldsEighteenDistinctLowerCaseWords) {
  std::set<std::wstring> seen;
  for (const wchar_t* word : kTitleNoiseWords) {
    const std::wstring w = word;
    EXPECT_FALSE(w.empty());
    EXPECT_TRUE(std::none_of(w.begin(), w.end(), [](wchar_t c) { return c >= L'A' && c <= L'Z'; })) << WideToUtf8(w);
    EXPECT_TRUE(seen.insert(w).second) << "twice: " << WideToUtf8(w);
  }
  EXPECT_EQ(seen.size(), 18u);
}

TEST(LyricsOnlineText, CleanTitleDropsOnlyNoisyParts) {
  EXPECT_EQ(CleanTitle(L"Song Title (Karaoke Version) [Official Video] - Remastered 2011"), L"Song Title");
  // The first ( ) part holds no noise word, so that kind is not looked at again.
  EXPECT_EQ(CleanTitle(L"Song (Live) (Karaoke)"), L"Song (Live) (Karaoke)");
  EXPECT_EQ(CleanTitle(L"(Vocalise)"), L"");
  EXPECT_EQ(CleanTitle(L"Song {CDG} (MP3 Edit)"), L"Song");
  EXPECT_EQ(CleanTitle(L"  Song - Live at Wembley  "), L"Song - Live at Wembley");
  EXPECT_EQ(CleanTitle(L"Song (unclosed karaoke"), L"Song (unclosed karaoke");
  EXPECT_EQ(CleanTitle(L"Rock - Paper - Scissors (Mono)"), L"Rock - Paper - Scissors");
  EXPECT_EQ(CleanTitle(L"Rock - Paper - Clean Mix"), L"Rock");
}

TEST(LyricsOnlineText, NoiseWordsMatchAsSubstringsWithoutCase) {
  EXPECT_TRUE(HasNoiseWord(L"IN THE STYLE OF Someone"));
  EXPECT_TRUE(HasNoiseWord(L"Vocalise"));
  EXPECT_TRUE(HasNoiseWord(L"Lyrics"));
  EXPECT_FALSE(HasNoiseWord(L"Live at the Roxy"));
  EXPECT_FALSE(HasNoiseWord(L""));
}

TEST(LyricsOnlineText, UrlEncodeKeepsOnlyUnreservedBytes) {
  EXPECT_EQ(UrlEncode(L"AC/DC"), "AC%2FDC");
  EXPECT_EQ(UrlEncode(L"a b"), "a%20b");
  EXPECT_EQ(UrlEncode(L"Az09-._~"), "Az09-._~");
  EXPECT_EQ(UrlEncode(L"Caf\u00E9"), "Caf%C3%A9");
  EXPECT_EQ(UrlEncode(L"&=?+%#"), "%26%3D%3F%2B%25%23");
  EXPECT_EQ(UrlEncode(L"\U0001F3A4"), "%F0%9F%8E%A4");
}

TEST(LyricsOnlineText, HostNameComesFromTheServerAddress) {
  SetLrclibServer("https://127.0.0.1:8443/");
  EXPECT_EQ(LrclibServer(), "https://127.0.0.1:8443");
  EXPECT_EQ(LrclibHostName(), L"127.0.0.1");
  SetLrclibServer("https://[::1]:9000");
  EXPECT_EQ(LrclibHostName(), L"[::1]");
  SetLrclibServer("");
  const char* old = std::getenv("VELDMIX_LRCLIB_SERVER");
  const std::string saved = old ? old : "";
  setenv("VELDMIX_LRCLIB_SERVER", "https://lyrics.test:444/", 1);
  EXPECT_EQ(LrclibServer(), "https://lyrics.test:444");
  unsetenv("VELDMIX_LRCLIB_SERVER");
  EXPECT_EQ(LrclibServer(), kLrclibDefaultServer);
  EXPECT_EQ(LrclibHostName(), L"lrclib.net");
  if (old) setenv("VELDMIX_LRCLIB_SERVER", saved.c_str(), 1);
}
