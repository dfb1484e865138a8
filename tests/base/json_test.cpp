#include <gtest/gtest.h>

#include <sys/wait.h>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "base/json.h"

namespace {

bool Parses(const std::wstring& text) {
  JsonValue v;
  return JsonParse(text, &v);
}

JsonValue ParseOk(const std::wstring& text) {
  JsonValue v;
  EXPECT_TRUE(JsonParse(text, &v)) << "text: " << testing::PrintToString(text);
  return v;
}

std::wstring ParseString(const std::wstring& literal) {
  JsonValue v = ParseOk(literal);
  EXPECT_EQ(v.kind, 3);
  return v.string;
}

std::wstring Nested(int levels) { return std::wstring(levels, L'[') + std::wstring(levels, L']'); }

}  // namespace

TEST(JsonParse, BuildsTheTreeInDocumentOrder) {
  JsonValue v = ParseOk(L" \t\r\n{\"b\": [1, -2.5e1, \"x\"], \"a\": {\"t\": true, \"f\": false, \"n\": null}} \n");
  ASSERT_EQ(v.kind, 5);
  ASSERT_EQ(v.members.size(), 2u);
  EXPECT_EQ(v.members[0].first, L"b");
  EXPECT_EQ(v.members[1].first, L"a");
  const JsonValue& b = v.members[0].second;
  ASSERT_EQ(b.kind, 4);
  ASSERT_EQ(b.items.size(), 3u);
  EXPECT_EQ(b.items[0].kind, 2);
  EXPECT_EQ(b.items[0].number, 1.0);
  EXPECT_EQ(b.items[1].number, -25.0);
  EXPECT_EQ(b.items[2].string, L"x");
  const JsonValue& a = v.members[1].second;
  ASSERT_EQ(a.members.size(), 3u);
  EXPECT_EQ(a.members[0].second.kind, 1);
  EXPECT_EQ(a.members[0].second.number, 1.0);
  EXPECT_EQ(a.members[1].second.kind, 1);
  EXPECT_EQ(a.members[1].second.number, 0.0);
  EXPECT_EQ(a.members[2].second.kind, 0);
}

TEST(JsonParse, RejectsAnythingButOneWholeValue) {
  EXPECT_FALSE(Parses(L""));
  EXPECT_FALSE(Parses(L" \n\t "));
  EXPECT_FALSE(Parses(L"{} x"));
  EXPECT_FALSE(Parses(L"{}}"));
  EXPECT_FALSE(Parses(L"[] []"));
  EXPECT_FALSE(Parses(L"[1,]"));
  EXPECT_FALSE(Parses(L"{\"a\":1,}"));
  EXPECT_FALSE(Parses(L"{\"a\":1 , }"));
  EXPECT_FALSE(Parses(L"[,1]"));
  EXPECT_FALSE(Parses(L"[1 2]"));
  EXPECT_FALSE(Parses(L"{\"a\" 1}"));
  EXPECT_FALSE(Parses(L"{\"a\":}"));
  EXPECT_FALSE(Parses(L"{1:2}"));
  EXPECT_FALSE(Parses(L"[1"));
  EXPECT_FALSE(Parses(L"{\"a\":1"));
  EXPECT_FALSE(Parses(L"tru"));
  EXPECT_FALSE(Parses(L"nullx"));
  EXPECT_FALSE(Parses(L"True"));
  EXPECT_FALSE(Parses(L"-"));
}

TEST(JsonParse, FailureLeavesNoPartialResult) {
  JsonValue v;
  ASSERT_TRUE(JsonParse(L"{\"keep\": [1, 2]}", &v));
  EXPECT_FALSE(JsonParse(L"[1, 2, {\"a\": \"b\"}, oops]", &v));
  EXPECT_EQ(v.kind, 0);
  EXPECT_TRUE(v.items.empty());
  EXPECT_TRUE(v.members.empty());
}

TEST(JsonParse, NestingIsBoundedAt64LevelsBelowTheTop) {
  EXPECT_TRUE(Parses(Nested(65)));
  EXPECT_FALSE(Parses(Nested(66)));
  // A number is a level of its own, read inside an array or not.
  EXPECT_TRUE(Parses(std::wstring(64, L'[') + L"-7" + std::wstring(64, L']')));
  EXPECT_FALSE(Parses(std::wstring(65, L'[') + L"-7" + std::wstring(65, L']')));
  EXPECT_FALSE(Parses(std::wstring(65, L'[') + L"true" + std::wstring(65, L']')));
  std::wstring objects;
  for (int i = 0; i < 64; ++i) objects += L"{\"k\":";
  EXPECT_TRUE(Parses(objects + L"{}" + std::wstring(64, L'}')));
  EXPECT_FALSE(Parses(objects + L"{\"k\":1}" + std::wstring(64, L'}')));
  // Far deeper input, closed or not, fails without exhausting the stack.
  EXPECT_FALSE(Parses(Nested(200000)));
  EXPECT_FALSE(Parses(std::wstring(200000, L'[')));
}

TEST(JsonParseString, Escapes) {
  EXPECT_EQ(ParseString(L"\"caf\\u00e9\""), L"caf\u00e9");
  EXPECT_EQ(ParseString(L"\"\\u00C9\""), L"\u00C9");
  EXPECT_EQ(ParseString(L"\"\\b\\f\\n\\r\\t\""), L"\b\f\n\r\t");
  EXPECT_EQ(ParseString(L"\"\\\"\\\\\\/\""), L"\"\\/");
  EXPECT_EQ(ParseString(L"\"\\q\""), L"q");
  EXPECT_EQ(ParseString(L"\"\\u0000\""), std::wstring(1, L'\0'));
  // Raw control characters are taken as they are.
  EXPECT_EQ(ParseString(L"\"a\tb\""), L"a\tb");
  EXPECT_FALSE(Parses(L"\"\\u00g9\""));
  EXPECT_FALSE(Parses(L"\"\\u00e\""));
  EXPECT_FALSE(Parses(L"\"\\u12"));
  EXPECT_FALSE(Parses(L"\"abc\\"));
  EXPECT_FALSE(Parses(L"\"abc"));
  EXPECT_FALSE(Parses(L"\"\\\""));
}

TEST(JsonParseString, SurrogatesBecomeCodePointsOrReplacement) {
  EXPECT_EQ(ParseString(L"\"\\ud83d\\ude00\""), L"\U0001F600");
  EXPECT_EQ(ParseString(L"\"\\uDBFF\\uDFFF\""), L"\U0010FFFF");
  EXPECT_EQ(ParseString(L"\"\\ud800\""), L"\uFFFD");
  EXPECT_EQ(ParseString(L"\"\\udc00x\""), L"\uFFFDx");
  EXPECT_EQ(ParseString(L"\"\\ude00\\ud83d\""), L"\uFFFD\uFFFD");
  EXPECT_EQ(ParseString(L"\"\\ud800\\u0041\""), L"\uFFFDA");
  EXPECT_EQ(ParseString(L"\"\\ud800\\ud83d\\ude00\""), L"\uFFFD\U0001F600");
  EXPECT_EQ(ParseString(L"\"\\ud83d\\n\""), L"\uFFFD\n");
  EXPECT_FALSE(Parses(L"\"\\ud83d\\ude0\""));
}

TEST(JsonParseNumber, ReadsFiniteNumbersInTheCLocale) {
  EXPECT_EQ(ParseOk(L"0").number, 0.0);
  EXPECT_TRUE(std::signbit(ParseOk(L"-0").number));
  EXPECT_EQ(ParseOk(L"1.5").number, 1.5);
  EXPECT_EQ(ParseOk(L"-12.25E-2").number, -0.1225);
  EXPECT_EQ(ParseOk(L"1e-999").number, 0.0);
  EXPECT_EQ(ParseOk(L"1.7976931348623157e308").number, 1.7976931348623157e308);
  // Known leniencies of the C conversion, kept on purpose.
  EXPECT_EQ(ParseOk(L"+1").number, 1.0);
  EXPECT_EQ(ParseOk(L".5").number, 0.5);
  EXPECT_EQ(ParseOk(L"0x10").number, 16.0);
  EXPECT_EQ(ParseOk(L"007").number, 7.0);
  EXPECT_FALSE(Parses(L"1.5e"));
  EXPECT_FALSE(Parses(L"1,5"));
}

TEST(JsonParseNumber, RejectsNonFiniteValues) {
  for (const wchar_t* text : {L"NaN", L"nan", L"-nan", L"nan(1)", L"Infinity", L"-Infinity", L"inf", L"INF",
                              L"1e999", L"-1e999", L"2e308", L"0x1p99999", L"[1, 1e400]", L"{\"a\": NaN}"})
    EXPECT_FALSE(Parses(text)) << testing::PrintToString(std::wstring(text));
  std::wstring hugeInteger = L"1" + std::wstring(400, L'0');
  EXPECT_FALSE(Parses(hugeInteger));
}

TEST(JsonFind, FirstExactKeyOrNull) {
  JsonValue v = ParseOk(L"{\"a\": 1, \"A\": 2, \"a\": 3, \"\": 4}");
  ASSERT_NE(JsonFind(v, L"a"), nullptr);
  EXPECT_EQ(JsonFind(v, L"a")->number, 1.0);
  EXPECT_EQ(JsonFind(v, L"A")->number, 2.0);
  EXPECT_EQ(JsonFind(v, L"")->number, 4.0);
  EXPECT_EQ(JsonFind(v, L"b"), nullptr);
  // Arrays hold no members, even when an element is an object with that key.
  JsonValue array = ParseOk(L"[{\"a\": 1}]");
  EXPECT_EQ(JsonFind(array, L"a"), nullptr);
}

TEST(JsonWrite, CanonicalText) {
  EXPECT_EQ(JsonWrite(ParseOk(L" { \"b\" : [ 1.0 , 0.1 , -0 , 1e300, 2.5e-7 ] , \"a\" : { } , \"a\" : [ ] } ")),
            L"{\"b\":[1,0.1,-0,1e+300,2.5e-07],\"a\":{},\"a\":[]}");
  EXPECT_EQ(JsonWrite(ParseOk(L"[true,false,null,\"\"]")), L"[true,false,null,\"\"]");
  EXPECT_EQ(JsonWrite(ParseOk(L"\"q\\\"b\\\\s\\/\\b\\f\\n\\r\\t\\u0001\\u001F\\u007f\u00e9\"")),
            L"\"q\\\"b\\\\s/\\b\\f\\n\\r\\t\\u0001\\u001f\x7f" L"\u00e9\"");
  EXPECT_EQ(JsonWrite(ParseOk(L"\"\\ud83d\\ude00\"")), L"\"\U0001F600\"");
  EXPECT_EQ(JsonWrite(JsonValue{}), L"null");
}

TEST(JsonWrite, NumbersRoundTripExactly) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 2000; ++i) {
    double d;
    do {
      uint64_t bits = random();
      std::memcpy(&d, &bits, sizeof d);
    } while (!std::isfinite(d));
    JsonValue v;
    v.kind = 2;
    v.number = d;
    JsonValue back = ParseOk(JsonWrite(v));
    EXPECT_EQ(std::memcmp(&back.number, &d, sizeof d), 0) << testing::PrintToString(JsonWrite(v));
  }
}

// Truncations and random edits of a document with every construct: the parser must return,
// and whatever it accepts must survive a write and a re-read unchanged.
TEST(JsonParse, MutatedInputNeverBreaksTheReader) {
  const std::wstring sample =
      L"{\"name\": \"Tr\\u00e4ck \\ud83c\\udfb5\", \"bpm\": 128.5, \"tags\": [\"a\", \"b\\n\", 3e2, -0.25],"
      L" \"ok\": true, \"none\": null, \"deep\": [[[{\"x\": [false, {}]}]]], \"esc\": \"\\\"\\\\\\/\\q\"}";
  ASSERT_TRUE(Parses(sample));
  auto checkRoundTrip = [](const std::wstring& text) {
    JsonValue v;
    if (!JsonParse(text, &v)) return;
    std::wstring canonical = JsonWrite(v);
    JsonValue again;
    ASSERT_TRUE(JsonParse(canonical, &again)) << testing::PrintToString(text);
    EXPECT_EQ(JsonWrite(again), canonical);
  };
  for (size_t n = 0; n <= sample.size(); ++n) checkRoundTrip(sample.substr(0, n));

  const std::array<wchar_t, 24> alphabet = {L'{', L'}', L'[', L']', L'"', L'\\', L':', L',', L'u', L'd',
                                            L'8', L'0', L'e', L'-', L'+', L'.', L'x', L'n', L' ', L'\0',
                                            L'\x1f', 0xD800, 0xFFFF, 0x10FFFF};
  std::mt19937 random(1234);
  for (int round = 0; round < 5000; ++round) {
    std::wstring text = sample;
    int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      size_t at = random() % text.size();
      wchar_t c = alphabet[random() % alphabet.size()];
      switch (random() % 3) {
        case 0: text[at] = c; break;
        case 1: text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), c); break;
        default: text.erase(at, 1 + random() % 8); break;
      }
    }
    checkRoundTrip(text);
    if (HasFatalFailure()) return;
  }
}

// The tool over a corpus of valid and broken documents, against Python's json module.
TEST(JsonCorpus, ToolAgreesWithPythonJson) {
  const std::string command =
      "python3 '" VELDMIX_SOURCE_DIR "/tests/base/json_corpus/oracle.py' '" VELDMIX_TOOL "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string report;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) report.append(buffer, n);
  int status = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << report;
}

TEST(JsonParseNumber, IntegersOfEveryLengthMatchTheCConversion) {
  // Short integers take a direct path; longer ones and any with a fraction or exponent the C one.
  std::string digits;
  for (int length = 1; length <= 20; ++length) {
    digits += static_cast<char>('0' + (length * 7 + 3) % 10);
    for (const std::string& text : {digits, "-" + digits, digits + ".5", digits + "e2", "-" + digits + "E-3"}) {
      const std::wstring wide(text.begin(), text.end());
      EXPECT_EQ(ParseOk(L"[" + wide + L"]").items.at(0).number, std::strtod(text.c_str(), nullptr)) << text;
    }
  }
  EXPECT_EQ(ParseOk(L"[1,-2 ,3]").items.at(1).number, -2.0);
  EXPECT_FALSE(Parses(L"[-]"));
  EXPECT_FALSE(Parses(L"[12x]"));
}

TEST(JsonParseString, PlainRunsAroundEscapesAreKeptWhole) {
  EXPECT_EQ(ParseString(L"\"ab\\ncd\\u00e9ef\\\\gh\\ud83d\\ude00ij\\\"\""), L"ab\ncd\u00e9ef\\gh\U0001F600ij\"");
  EXPECT_EQ(ParseString(L"\"\u00e9\u2014\U0001F600 long plain run\""), L"\u00e9\u2014\U0001F600 long plain run");
  EXPECT_EQ(ParseString(L"\"\""), L"");
  EXPECT_FALSE(Parses(L"\"run then end"));
  EXPECT_FALSE(Parses(L"\"run then escape\\"));
}

TEST(JsonParse, LongArraysWithNestedValuesReadWhole) {
  // Past 1024 items the reader sizes the array from its text: brackets and commas inside
  // strings and nested values must not confuse it.
  std::wstring text = L"[";
  for (int i = 0; i < 3000; ++i) {
    if (i) text += L',';
    switch (i % 4) {
      case 0: text += std::to_wstring(i); break;
      case 1: text += L"\"a,]\\\"[,\""; break;
      case 2: text += L"[1,[2,3],{\"k\":[4,5]}]"; break;
      default: text += L"{\"x\":\"}],\",\"y\":[]}"; break;
    }
  }
  text += L"]";
  const JsonValue v = ParseOk(L"{\"big\":" + text + L",\"after\":[7,8]}");
  const JsonValue* big = JsonFind(v, L"big");
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->items.size(), 3000u);
  EXPECT_EQ(JsonWrite(*big), text);
  EXPECT_EQ(JsonWrite(*JsonFind(v, L"after")), L"[7,8]");
  EXPECT_FALSE(Parses(text.substr(0, text.size() - 1) + L",,,,,,,,]"));
  EXPECT_FALSE(Parses(text.substr(0, text.size() - 1)));
}

TEST(JsonWrite, StringsEscapeOrBlankControlCharacters) {
  std::wstring escaped, spaced;
  JsonWriteString(L"a\"b\\c\td\x01", &escaped);
  JsonWriteString(L"a\"b\\c\td\x01", &spaced, JsonControls::kAsSpaces);
  EXPECT_EQ(escaped, L"\"a\\\"b\\\\c\\td\\u0001\"");
  EXPECT_EQ(spaced, L"\"a\\\"b\\\\c d \"");
}
