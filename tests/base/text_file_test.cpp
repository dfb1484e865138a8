#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/text_file.h"
#include "platform/text.h"
#include "support/temp_home.h"

namespace {

// Writes the bytes to a fresh file in the home and reads it back; the flag starts true so a
// reader that forgets to clear it is caught.
std::wstring ReadBack(const TempHome& home, const std::string& bytes, bool* unreadable) {
  const std::string path = home.path() + "/text.txt";
  WriteRaw(path, bytes);
  *unreadable = true;
  return ReadTextFile(Utf8ToWide(path), unreadable);
}

}  // namespace

TEST(TextFile, MissingFileIsEmptyAndNotUnreadable) {
  TempHome home;
  const std::wstring path = Utf8ToWide(home.path() + "/no-such-file.tsv");
  bool unreadable = true;
  EXPECT_EQ(ReadTextFile(path, &unreadable), L"");
  EXPECT_FALSE(unreadable);
  EXPECT_EQ(ReadTextFile(path), L"");
}

TEST(TextFile, SomethingThatCannotBeReadIsEmptyAndUnreadable) {
  TempHome home;
  // Tests run as root, so a permission bit blocks nothing; a folder at the path cannot be read.
  const std::string folder = home.path() + "/database.tsv";
  std::filesystem::create_directories(folder);
  bool unreadable = false;
  EXPECT_EQ(ReadTextFile(Utf8ToWide(folder), &unreadable), L"");
  EXPECT_TRUE(unreadable);
  EXPECT_EQ(ReadTextFile(Utf8ToWide(folder)), L"");
}

TEST(TextFile, DropsOnlyOneLeadingByteOrderMark) {
  TempHome home;
  bool unreadable;
  EXPECT_EQ(ReadBack(home, "\xEF\xBB\xBF", &unreadable), L"");
  EXPECT_FALSE(unreadable);
  EXPECT_EQ(ReadBack(home, "", &unreadable), L"");
  EXPECT_FALSE(unreadable);
  EXPECT_EQ(ReadBack(home, "\xEF\xBB\xBFid\tpath\n", &unreadable), L"id\tpath\n");
  EXPECT_EQ(ReadBack(home, "\xEF\xBB\xBF\xEF\xBB\xBFx", &unreadable), L"\uFEFFx");
  EXPECT_EQ(ReadBack(home, "x\xEF\xBB\xBF", &unreadable), L"x\uFEFF");
  // A partial mark is not a mark: its bytes are broken UTF-8.
  EXPECT_EQ(ReadBack(home, "\xEF\xBBx", &unreadable), L"\uFFFDx");
}

TEST(TextFile, DecodesUtf8AndReplacesInvalidBytes) {
  TempHome home;
  bool unreadable;
  EXPECT_EQ(ReadBack(home, "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5\r\n", &unreadable), L"Caf\u00e9 \u20ac \U0001F3B5\r\n");
  EXPECT_FALSE(unreadable);
  EXPECT_EQ(ReadBack(home, "a\xFF" "b", &unreadable), L"a\uFFFDb");
  EXPECT_EQ(ReadBack(home, "end\xC3", &unreadable), L"end\uFFFD");
  EXPECT_FALSE(unreadable);
  // Embedded NULs are text like any other byte.
  EXPECT_EQ(ReadBack(home, std::string("a\0b", 3), &unreadable), std::wstring(L"a\0b", 3));
}
