#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "base/text_file.h"
#include "base/text_parse.h"
#include "platform/text.h"
#include "support/temp_home.h"

namespace {

constexpr int64_t kMax = 9223372036854775807LL, kMin = -kMax - 1;

}  // namespace

TEST(TextParseNumbers, IntegersAreWholeAndInRange) {
  int64_t v = 7;
  EXPECT_TRUE(ParseInteger(L" -42 ", &v));
  EXPECT_EQ(v, -42);
  EXPECT_TRUE(ParseInteger("-0", &v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(ParseInteger("+9223372036854775807", &v));
  EXPECT_EQ(v, kMax);
  EXPECT_TRUE(ParseInteger("-9223372036854775808", &v));
  EXPECT_EQ(v, kMin);
  v = 7;
  for (const char* bad : {"", " ", "-", "+", "12x", "1 2", "0x10", "1.0", "1e3", "9223372036854775808",
                          "-9223372036854775809", "99999999999999999999999999999999", "\xD9\xA3"})
    EXPECT_FALSE(ParseInteger(bad, &v)) << bad;
  EXPECT_FALSE(ParseInteger(L"\u0663", &v));  // digits of other scripts are not digits here
  // The range is part of the question; a value outside it leaves *out alone.
  EXPECT_TRUE(ParseInteger("4", &v, 1, 4));
  EXPECT_FALSE(ParseInteger("5", &v, 1, 4));
  EXPECT_FALSE(ParseInteger("0", &v, 1, 4));
  EXPECT_EQ(v, 4);
}

TEST(TextParseNumbers, NumbersAreFiniteDecimalsInTheCLocale) {
  double v = 7;
  EXPECT_TRUE(ParseNumber(" 1.5 ", &v));
  EXPECT_EQ(v, 1.5);
  EXPECT_TRUE(ParseNumber(L"-2.5e1", &v));
  EXPECT_EQ(v, -25.0);
  EXPECT_TRUE(ParseNumber("+.5", &v));
  EXPECT_EQ(v, 0.5);
  EXPECT_TRUE(ParseNumber("-0", &v));
  EXPECT_TRUE(v == 0.0 && std::signbit(v));
  EXPECT_TRUE(ParseNumber("1e-999", &v));  // an underflow is 0
  EXPECT_EQ(v, 0.0);
  v = 7;
  for (const char* bad : {"", ".", "-", "e5", "1e999", "-1e999", "inf", "-Infinity", "nan", "NaN(1)", "0x10",
                          "0x1p3", "1,5", "1.5.2", "1.5x", "1e", "--1", "1 2"})
    EXPECT_FALSE(ParseNumber(bad, &v)) << bad;
  EXPECT_FALSE(ParseNumber("1" + std::string(kMaxNumberChars, '0'), &v));  // overlong
  EXPECT_FALSE(ParseNumber("2", &v, 0.0, 1.0));
  EXPECT_EQ(v, 7.0);
}

// What stored files and the C library's readers take: the number at the start, as far as it goes.
TEST(TextParseNumbers, LeadingNumbersReadAsFarAsTheyFit) {
  size_t used = 99;
  EXPECT_EQ(LeadingNumber(L"  12.5%", &used), 12.5);
  EXPECT_EQ(used, 6u);
  EXPECT_EQ(LeadingNumber("0x10", &used), 0.0);  // decimal only: the 0 before the x
  EXPECT_EQ(used, 1u);
  EXPECT_EQ(LeadingCNumber(L"0x10 beats", &used), 16.0);  // hex forms too, as wcstod reads them
  EXPECT_EQ(used, 4u);
  EXPECT_EQ(LeadingCNumber(L" -Infinity", &used), 0.0);
  EXPECT_EQ(used, 0u);
  EXPECT_EQ(LeadingNumber("1,5", &used), 1.0);
  EXPECT_EQ(used, 1u);
  for (const char* none : {"", "x1", "-", "inf", "-nan", "1e999", " \xC2\xA0" "1"}) {
    EXPECT_EQ(LeadingNumber(none, &used), 0.0) << none;
    EXPECT_EQ(used, 0u) << none;
  }
  EXPECT_EQ(LeadingNumber(std::string(kMaxNumberChars + 5, '1')), 0.0);
  EXPECT_EQ(LeadingInteger("\t-17kg"), -17);
  EXPECT_EQ(LeadingInteger("99999999999999999999"), kMax);
  EXPECT_EQ(LeadingInteger("-99999999999999999999"), kMin);
  EXPECT_EQ(LeadingInteger("-9223372036854775808"), kMin);
  EXPECT_EQ(LeadingInteger("abc"), 0);
}

TEST(TextParseText, TrimmingKeepsWhatIsInside) {
  EXPECT_EQ(TrimText(L" \t\r\n\u00a0\ufeffWords here\ufeff\u00a0\n\r\t "), L"Words here");
  EXPECT_EQ(TrimText(L"\u2003x\u2003"), L"\u2003x\u2003");  // other spaces are text here
  EXPECT_EQ(TrimText(L" \u00a0 "), L"");
  EXPECT_EQ(TrimSpace(L"\u2003\v x y\f\u3000"), L"x y");  // the C library's wide space class
  EXPECT_EQ(TrimSpace(L"\u00a0x"), L"\u00a0x");
  EXPECT_EQ(TrimSpace(L""), L"");
}

TEST(TextParseText, HexAndPercentEncodingRoundTrip) {
  const std::string bytes("\x00\x7F\x80\xFF" "a", 5);
  EXPECT_EQ(HexEncode(bytes), L"007f80ff61");
  std::string back = "junk";
  ASSERT_TRUE(HexDecode(L"007F80fF61", &back));
  EXPECT_EQ(back, bytes);
  for (const wchar_t* bad : {L"0", L"abc", L"0g", L"-1", L" 00", L"\uff10\uff10"}) {
    EXPECT_FALSE(HexDecode(bad, &back)) << WideToUtf8(bad);
    EXPECT_TRUE(back.empty());
  }
  EXPECT_EQ(PercentEncode(std::string("AZaz09-._~ /?&=%+\0\xFF", 19)), "AZaz09-._~%20%2F%3F%26%3D%25%2B%00%FF");
  EXPECT_EQ(UrlEncode(L"Caf\u00E9 \U0001F3A4"), "Caf%C3%A9%20%F0%9F%8E%A4");
  EXPECT_EQ(PercentDecode(L"Caf%C3%A9%20%f0%9F%8E%A4"), L"Caf\u00E9 \U0001F3A4");
  // Escapes that are not two hex digits stay as written; bytes that are no UTF-8 become U+FFFD.
  EXPECT_EQ(PercentDecode(L"100% %zz %4 %"), L"100% %zz %4 %");
  EXPECT_EQ(PercentDecode(L"a%FFb%C3"), L"a\ufffdb\ufffd");
  EXPECT_EQ(PercentDecode(L"%00x"), std::wstring(L"\0x", 2));
}

// The path, blank and case helpers every folder shares; the differences some callers need are
// asked for by name.
TEST(TextParseText, FileNamesBlanksAndCase) {
  EXPECT_EQ(FileNameOf(L"/music/a\\b.mp3"), L"a\\b.mp3") << "a backslash is part of a Linux name";
  EXPECT_EQ(FileNameOf(L"C:\\Lyrics\\song.lrc", PathSeparators::kSlashOrBackslash), L"song.lrc");
  EXPECT_EQ(FileNameOf(L"plain.wav"), L"plain.wav");
  EXPECT_EQ(FileNameOf(L"/music/"), L"");
  EXPECT_TRUE(IsBlank(L' ') && IsBlank(L'\t') && !IsBlank(L'\n') && !IsBlank(L'\u00A0'));
  EXPECT_TRUE(IsCSpace('\v') && IsCSpace('\r') && IsCSpace(' ') && !IsCSpace('\x1C') && !IsCSpace('\xA0'));
  EXPECT_EQ(LowerText(L"\u00C9T\u00C9 MIX"), L"\u00E9t\u00E9 mix") << "beyond ASCII whatever the locale";
}

TEST(TextParseText, Utf8IsStrictAndElseWindows1252) {
  for (const char* good : {"", "plain", "Caf\xC3\xA9", "\xF0\x9F\x8E\xA4", "\xEF\xBF\xBF", "\xF4\x8F\xBF\xBF"})
    EXPECT_TRUE(IsValidUtf8(good)) << good;
  for (const char* bad : {"\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80",
                          "\x80", "\xFE", "\xE2\x82"})
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
  EXPECT_EQ(Utf8OrWindows1252ToWide("Caf\xC3\xA9"), L"Caf\u00E9");
  EXPECT_EQ(Utf8OrWindows1252ToWide("Caf\xE9 \x80\x81\x9F"), L"Caf\u00E9 \u20AC\u0081\u0178");
}

TEST(TextParseText, ExcerptsAreClippedAndPrintable) {
  EXPECT_EQ(PrintableExcerpt(std::wstring_view(L"a\tb\r\n\x7F\x85\u00e9", 8), 100), L"a\\x09b\\x0D\\x0A\\x7F\\x85\u00e9");
  EXPECT_EQ(PrintableExcerpt(std::wstring_view(L"\0abcdef", 7), 3), L"\\x00ab");
  // UTF-8: invalid bytes show as U+FFFD; only what the excerpt needs is decoded, and a character
  // cut by that is not half shown.
  EXPECT_EQ(PrintableExcerpt(std::string_view("\xF0\x9F\x8E\xA4\xFFz\x1B[2J"), 4), L"\U0001F3A4\ufffdz\\x1B");
  EXPECT_EQ(PrintableExcerpt(std::string(1 << 20, 'x'), 5), L"xxxxx");
  EXPECT_EQ(PrintableExcerpt(std::string_view("\xC3\xA9\xC3\xA9"), 1), L"\u00e9");
  const uint8_t raw[] = {'T', 'I', 0x01, 0xFF, ' ', '~', 0x7F, 'x'};
  EXPECT_EQ(ByteExcerpt(raw, 7), L"TI\\x01\\xFF ~\\x7F");
  EXPECT_EQ(ByteExcerpt({}, 7), L"");
}

TEST(TextParseFiles, TextFilesAreCapped) {
  TempHome home;
  const std::string path = home.path() + "/t.txt";
  WriteRaw(path, "\xEF\xBB\xBF" "0123456789");
  bool unreadable = true;
  EXPECT_EQ(ReadTextFile(Utf8ToWide(path), &unreadable, 13), L"0123456789");
  EXPECT_FALSE(unreadable);
  EXPECT_EQ(ReadTextFile(Utf8ToWide(path), &unreadable, 12), L"");  // one byte over: refused whole
  EXPECT_TRUE(unreadable);
}
