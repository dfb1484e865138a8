#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>

#include "base/musical_keys.h"

TEST(KeyNames, NotationsAndOutOfRange) {
  EXPECT_EQ(KeyName(0, false), L"C");
  EXPECT_EQ(KeyName(6, false), L"F#");
  EXPECT_EQ(KeyName(21, false), L"Am");
  EXPECT_EQ(KeyName(22, false), L"Bbm");
  EXPECT_EQ(KeyName(0, true), L"8B");
  EXPECT_EQ(KeyName(21, true), L"8A");
  EXPECT_EQ(KeyName(7, true), L"9B");
  EXPECT_EQ(KeyName(16, true), L"9A");
  EXPECT_EQ(KeyName(4, true), L"12B");
  for (int32_t key : {-1, -13, 24, 1000, INT_MIN})
    for (bool camelot : {false, true}) EXPECT_EQ(KeyName(key, camelot), L"") << key;
}

TEST(KeyNames, BothTablesAreDistinctAndRoundTrip) {
  for (bool camelot : {false, true}) {
    std::set<std::wstring> seen;
    for (int32_t key = 0; key < kKeyCount; ++key) {
      const std::wstring name = KeyName(key, camelot);
      EXPECT_TRUE(seen.insert(name).second) << "duplicate name for key " << key;
      EXPECT_EQ(ParseKey(name), key) << key << (camelot ? " camelot" : " notes");
    }
  }
  // Every Camelot number 1..12 appears once per mode, relative keys sharing one number.
  for (int32_t major = 0; major < 12; ++major) {
    const std::wstring a = KeyName(major, true), b = KeyName((major + 9) % 12 + 12, true);
    EXPECT_EQ(a.substr(0, a.size() - 1), b.substr(0, b.size() - 1)) << major;
  }
}

TEST(KeyParsing, AcceptedForms) {
  struct Case { const wchar_t* text; int32_t key; };
  const Case cases[] = {
      {L"Am", 21}, {L"A m", 21}, {L"AM", 21}, {L"am", 21}, {L"A minor", 21}, {L"Amin", 21},
      {L"F#m", 18}, {L"F\u266Fm", 18}, {L"Bb", 10}, {L"B\u266D", 10}, {L"Dbmaj", 1}, {L"C major", 0},
      {L"Cb", 11}, {L"B#", 0}, {L"E#m", 17}, {L"g", 7}, {L"bbm", 22}, {L" Eb MAJOR ", 3},
      {L"8a", 21}, {L"8B", 0}, {L"12b", 4}, {L" 1 A", 20},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseKey(c.text), c.key) << std::wstring(c.text);
}

TEST(KeyParsing, RejectsJunk) {
  for (const wchar_t* text : {L"", L"   ", L"H", L"Ax", L"13A", L"0A", L"8C", L"08A", L"Amm", L"A#b", L"BB",
                              L"A\tm", L"Amajorx", L"#", L"\u00C4m", L"8\u0410"})
    EXPECT_EQ(ParseKey(text), kKeyUnknown) << std::wstring(text);
}

TEST(KeyTransposition, WrapsAndKeepsTheMode) {
  EXPECT_EQ(TransposeKey(0, -1), 11);
  EXPECT_EQ(TransposeKey(21, 3), 12);
  EXPECT_EQ(TransposeKey(23, 1), 12);
  EXPECT_EQ(TransposeKey(5, 24), 5);
  EXPECT_EQ(TransposeKey(5, -25), 4);
  EXPECT_EQ(TransposeKey(-1, 5), -1);
  EXPECT_EQ(TransposeKey(30, 1), 30);  // not a key: unchanged
  EXPECT_EQ(TransposeKey(3, INT_MAX), (3 + INT_MAX % 12) % 12);
  EXPECT_EQ(TransposeKey(15, INT_MIN), ((3 + INT_MIN % 12) % 12 + 12) % 12 + 12);
  for (int32_t key = 0; key < kKeyCount; ++key)
    for (int32_t s = -13; s <= 13; ++s) {
      const int32_t moved = TransposeKey(key, s);
      EXPECT_EQ(moved >= 12, key >= 12);
      EXPECT_EQ(TransposeKey(moved, -s), key);
    }
}

TEST(KeyDistances, HarmonicExamples) {
  EXPECT_EQ(KeyDistance(0, 0), 0);
  EXPECT_EQ(KeyDistance(0, 21), 1);   // C major, A minor: relative
  EXPECT_EQ(KeyDistance(0, 7), 1);    // C, G: wheel neighbours
  EXPECT_EQ(KeyDistance(0, 5), 1);    // C, F
  EXPECT_EQ(KeyDistance(0, 2), 4);    // C, D: two steps
  EXPECT_EQ(KeyDistance(0, 16), 3);   // C major, E minor: one step, other mode
  EXPECT_EQ(KeyDistance(0, 6), 8);    // C, F#: across the wheel
  EXPECT_EQ(KeyDistance(21, 16), 1);  // A minor, E minor
  EXPECT_EQ(KeyDistance(4, 11), 1);   // 12B, 1B: neighbours across the wheel's wrap
  EXPECT_EQ(KeyDistance(4, 1), 5);    // 12B, 3B: three steps the short way round
  for (int32_t key : {0, 12, 23})
    for (int32_t unknown : {-1, 24, INT_MIN}) {
      EXPECT_EQ(KeyDistance(key, unknown), kKeyDistanceUnknown);
      EXPECT_EQ(KeyDistance(unknown, key), kKeyDistanceUnknown);
    }
}

TEST(KeyDistances, TableInvariants) {
  for (int32_t a = 0; a < kKeyCount; ++a)
    for (int32_t b = 0; b < kKeyCount; ++b) {
      const int32_t d = KeyDistance(a, b);
      EXPECT_EQ(d, KeyDistance(b, a));
      EXPECT_EQ(d == 0, a == b);
      EXPECT_GE(d, 0);
      EXPECT_LE(d, 8);
    }
}
