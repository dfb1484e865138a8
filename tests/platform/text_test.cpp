#include <gtest/gtest.h>

#include "platform/text.h"

TEST(TextConversion, RoundTripsEveryPlane) {
  const std::wstring text = L"Ascii \u00e9\u00df \u20ac\u65e5\u672c \U0001F3B5 end";
  EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
  EXPECT_EQ(WideToUtf8(L"\u00e9"), "\xC3\xA9");
  EXPECT_EQ(WideToUtf8(L"\U0001F3B5"), "\xF0\x9F\x8E\xB5");
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(WideToUtf8(L""), "");
}

TEST(TextConversion, InvalidUtf8BecomesReplacement) {
  EXPECT_EQ(Utf8ToWide("a\xFF" "b"), L"a\uFFFDb");
  EXPECT_EQ(Utf8ToWide("\xC3"), L"\uFFFD");                    // truncated at the end
  EXPECT_EQ(Utf8ToWide("\xE2\x82" "x"), L"\uFFFDx");           // truncated, resumes at x
  EXPECT_EQ(Utf8ToWide("\xC0\x80"), L"\uFFFD\uFFFD");          // overlong NUL
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), L"\uFFFD");            // encoded surrogate
  EXPECT_EQ(Utf8ToWide("\xF4\x90\x80\x80"), L"\uFFFD");        // above U+10FFFF
  EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST(TextConversion, NonScalarWideBecomesReplacement) {
  std::wstring bad;
  bad.push_back(static_cast<wchar_t>(0xD800));
  bad.push_back(static_cast<wchar_t>(0x110000));
  EXPECT_EQ(WideToUtf8(bad), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

// File names are bytes: every byte string comes back whole, valid UTF-8 decodes as text, and
// the escaped bytes show as U+FFFD in text.
TEST(TextConversion, PathBytesRoundTripAndStayDistinct) {
  const std::string names[] = {"caf\xE9.mp3",       "caf\xC3\xA9.mp3", "\xC3",          "\xE2\x82x",
                               "\xED\xA0\x80",      "\xC0\x80",       "\xF4\x90\x80\x80", "\xFF\xFE/a",
                               std::string("a\0b", 3), "\xF0\x9F\x8E\xB5", ""};
  for (const std::string& name : names) EXPECT_EQ(PathToBytes(PathFromBytes(name)), name);
  EXPECT_EQ(PathFromBytes("caf\xC3\xA9.mp3"), L"caf\u00e9.mp3");
  EXPECT_FALSE(PathHasRawBytes(PathFromBytes("caf\xC3\xA9.mp3")));
  const std::wstring latin = PathFromBytes("caf\xE9.mp3");
  EXPECT_TRUE(PathHasRawBytes(latin));
  EXPECT_NE(latin, PathFromBytes("caf\xC3\xA9.mp3"));
  EXPECT_NE(latin, Utf8ToWide("caf\xE9.mp3"));  // never the same as the text U+FFFD
  EXPECT_EQ(WideToUtf8(latin), "caf\xEF\xBF\xBD.mp3");
  // A truncated sequence escapes its bytes one by one; what follows decodes on its own.
  EXPECT_EQ(PathFromBytes("\xE2\x82\xC3\xA9"), L"\xDCE2\xDC82\u00e9");
}
