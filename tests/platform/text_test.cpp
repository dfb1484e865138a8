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
