#include "platform/ini.h"

#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "support/temp_home.h"

namespace {

// Through bytes and back, the way every value reaches the next start of the program.
IniDocument Reparsed(const IniDocument& doc) { return ParseIni(SerializeIni(doc)); }

TEST(IniTest, LookupsFollowThePrivateProfileRules) {
  IniDocument doc = ParseIni(
      "[Audio]\n"
      "  Master  =  spaced out  \n"
      "Quoted=\"  inner  \"\n"
      "Twice=\"\"x\"\"\n"
      "Single='x'\n"
      "Lone=\"\n"
      "Empty=\n"
      "master=second\n"
      "[audio]\n"
      "Late=1\n");
  EXPECT_EQ(IniString(doc, L"AUDIO", L"MASTER", L"d"), L"spaced out");
  EXPECT_EQ(IniString(doc, L"Audio", L"Quoted", L"d"), L"  inner  ");
  EXPECT_EQ(IniString(doc, L"Audio", L"Twice", L"d"), L"\"x\"");
  EXPECT_EQ(IniString(doc, L"Audio", L"Single", L"d"), L"'x'");
  EXPECT_EQ(IniString(doc, L"Audio", L"Lone", L"d"), L"\"");
  EXPECT_EQ(IniString(doc, L"Audio", L"Empty", L"d"), L"");
  EXPECT_EQ(IniString(doc, L"Audio", L"Missing", L"d"), L"d");
  EXPECT_EQ(IniString(doc, L"Nowhere", L"Master", L"d"), L"d");
  // Only the first section of a name is read.
  EXPECT_EQ(IniInt(doc, L"Audio", L"Late", -4), -4);
}

TEST(IniTest, IntegersReadTheLeadingNumberAndSaturate) {
  IniDocument doc = ParseIni(
      "[N]\na=12abc\nb=abc\nc= -7 \nd=+5\ne=99999999999\nf=-99999999999\ng=\nh=\"42\"\ni=0x10\n");
  EXPECT_EQ(IniInt(doc, L"N", L"a", 9), 12);
  EXPECT_EQ(IniInt(doc, L"N", L"b", 9), 0);
  EXPECT_EQ(IniInt(doc, L"N", L"c", 9), -7);
  EXPECT_EQ(IniInt(doc, L"N", L"d", 9), 5);
  EXPECT_EQ(IniInt(doc, L"N", L"e", 9), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(IniInt(doc, L"N", L"f", 9), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(IniInt(doc, L"N", L"g", 9), 9);
  EXPECT_EQ(IniInt(doc, L"N", L"h", 9), 42);
  EXPECT_EQ(IniInt(doc, L"N", L"i", 9), 0);
  EXPECT_EQ(IniInt(doc, L"N", L"missing", 9), 9);
  EXPECT_EQ(LeadingInteger(L"9223372036854775807"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(LeadingInteger(L"-9223372036854775808"), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(LeadingInteger(L"123456789012345678901234"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(LeadingInteger(L"-12.9"), -12);
}

TEST(IniTest, ReadsBomCrLfAndKeepsWhatItDoesNotUnderstand) {
  IniDocument doc = ParseIni(
      "\xEF\xBB\xBF" "Loose=1\r\n; a comment\r\n[Session]\r\nDeck0=/m/\xC3\xA9t\xC3\xA9.mp3\r\n"
      "no equals sign\r\n[Broken\r\n[Audio]\r\nBufferMs=20");
  EXPECT_EQ(IniString(doc, L"Session", L"Deck0", L""), L"/m/\u00e9t\u00e9.mp3");
  EXPECT_EQ(IniInt(doc, L"Audio", L"BufferMs", 0), 20);
  EXPECT_EQ(SerializeIni(doc),
            "Loose=1\n; a comment\n\n[Session]\nDeck0=/m/\xC3\xA9t\xC3\xA9.mp3\nno equals sign\n[Broken\n\n"
            "[Audio]\nBufferMs=20\n");
}

TEST(IniTest, ChangesKeepOrderAndValuesSurviveTheFile) {
  IniDocument doc = ParseIni("[A]\nx=1\ny=2\n[B]\nz=3\n[a]\nw=4\n");
  IniSet(&doc, L"a", L"Y", L"20");
  IniSet(&doc, L"A", L"new", L"5");
  IniSet(&doc, L"C", L"k", L"6");
  EXPECT_EQ(SerializeIni(doc), "[A]\nx=1\ny=20\nnew=5\n\n[B]\nz=3\n\n[a]\nw=4\n\n[C]\nk=6\n");
  IniErase(&doc, L"a", L"X");
  IniEraseSection(&doc, L"A");  // both sections of that name go
  EXPECT_EQ(SerializeIni(doc), "[B]\nz=3\n\n[C]\nk=6\n");

  const std::wstring values[] = {L"", L"  both ends  ", L"\"quoted\"", L"\"", L"a=b;c", L"[x]", L"\u00fc\u2713",
                                 std::wstring(5000, L'v')};
  for (const std::wstring& v : values) {
    IniSet(&doc, L"B", L"z", v);
    EXPECT_EQ(IniString(Reparsed(doc), L"B", L"z", L"default"), v);
  }
  IniSet(&doc, L"B", L"z", L"two\r\nlines");
  EXPECT_EQ(IniString(Reparsed(doc), L"B", L"z", L""), L"two  lines");
  EXPECT_EQ(IniInt(Reparsed(doc), L"C", L"k", 0), 6);
}

TEST(IniTest, FileLookupsReadTheFileEachTime) {
  TempHome home;
  const std::wstring path = home.wpath() + L"/x.ini";
  EXPECT_EQ(IniInt(path, L"S", L"k", 7), 7);
  EXPECT_EQ(IniString(path, L"S", L"k", L"none"), L"none");
  WriteRaw(home.path() + "/x.ini", "[S]\nk=8\n");
  EXPECT_EQ(IniInt(path, L"s", L"K", 7), 8);
  EXPECT_EQ(IniString(path, L"S", L"k", L"none"), L"8");
}

}  // namespace
