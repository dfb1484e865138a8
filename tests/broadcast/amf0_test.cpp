#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "broadcast/amf0.h"
#include "support/rtmp_peer.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back(static_cast<uint8_t>(x));
  return b;
}

// Reads one value from the whole buffer; *used gets the bytes consumed.
bool Read(const Bytes& b, AmfValue* out, std::string* error = nullptr, size_t* used = nullptr) {
  const uint8_t* cursor = b.data();
  const bool ok = ReadAmfValue(&cursor, b.data() + b.size(), out, 0, error);
  if (used) *used = static_cast<size_t>(cursor - b.data());
  return ok;
}

// `levels` strict arrays of one element each, around a null.
Bytes NestedArrays(int levels) {
  Bytes b;
  for (int i = 0; i < levels; ++i) b.insert(b.end(), {kAmfStrictArray, 0, 0, 0, 1});
  b.push_back(kAmfNull);
  return b;
}

TEST(AmfMarkers, TableCoversEveryMarkerOnceAndRefusesTheUnsupportedOnes) {
  const auto rules = AmfMarkerRules();
  ASSERT_EQ(rules.size(), 13u);
  for (size_t i = 0; i < rules.size(); ++i) {
    SCOPED_TRACE(rules[i].name);
    EXPECT_EQ(rules[i].marker, i);
    const bool refused = i == 4 || i == 7 || i == 9 || i == 11;
    EXPECT_EQ(rules[i].readable, !refused);
    if (refused) {
      EXPECT_EQ(rules[i].fixedBytes, 0);
    }
  }
  // The fixed parts are the wire sizes of the number, flag, lengths and counts.
  EXPECT_EQ(rules[kAmfNumber].fixedBytes, 8);
  EXPECT_EQ(rules[kAmfString].fixedBytes, 2);
  EXPECT_EQ(rules[kAmfLongString].fixedBytes, 4);
  EXPECT_EQ(rules[kAmfStrictArray].fixedBytes, 4);
}

TEST(AmfWrite, EachWriterAppendsItsExactBytes) {
  Bytes b;
  AmfWriteNumber(b, 1.0);
  EXPECT_EQ(b, B({0x00, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}));
  b.clear();
  AmfWriteBoolean(b, true);
  AmfWriteBoolean(b, false);
  AmfWriteNull(b);
  EXPECT_EQ(b, B({0x01, 0x01, 0x01, 0x00, 0x05}));
  b.clear();
  AmfWriteString(b, "app");
  EXPECT_EQ(b, B({0x02, 0x00, 0x03, 'a', 'p', 'p'}));
  b.clear();
  AmfWriteObjectStart(b);
  AmfWritePropertyName(b, "w");
  AmfWriteObjectEnd(b);
  AmfWriteEcmaArrayStart(b, 0x01020304);
  EXPECT_EQ(b, B({0x03, 0x00, 0x01, 'w', 0x00, 0x00, 0x09, 0x08, 1, 2, 3, 4}));
}

TEST(AmfRead, WrittenTreeReadsBackWholeAndInOrder) {
  Bytes b;
  AmfWriteObjectStart(b);
  AmfWritePropertyName(b, "level");
  AmfWriteString(b, "status");
  AmfWritePropertyName(b, "n");
  AmfWriteNumber(b, -2.5);
  AmfWritePropertyName(b, "inner");
  AmfWriteEcmaArrayStart(b, 99);  // the count is only a hint
  AmfWritePropertyName(b, "ok");
  AmfWriteBoolean(b, true);
  AmfWriteObjectEnd(b);
  AmfWriteObjectEnd(b);
  b.push_back(0x77);  // a byte after the value stays unread
  AmfValue v;
  size_t used = 0;
  ASSERT_TRUE(Read(b, &v, nullptr, &used));
  EXPECT_EQ(used, b.size() - 1);
  ASSERT_EQ(v.type, kAmfObject);
  ASSERT_EQ(v.properties.size(), 3u);
  EXPECT_EQ(v.properties[0].name, "level");
  EXPECT_EQ(v.properties[0].value.string, "status");
  EXPECT_EQ(v.properties[1].value.number, -2.5);
  const AmfValue& inner = v.properties[2].value;
  EXPECT_EQ(inner.type, kAmfEcmaArray);
  ASSERT_EQ(inner.properties.size(), 1u);
  EXPECT_TRUE(inner.properties[0].value.boolean);
  EXPECT_EQ(AmfNumberProperty(v, "n"), -2.5);
  EXPECT_EQ(AmfStringProperty(v, "level"), "status");
}

TEST(AmfRead, LongStringsStrictArraysAndUndefined) {
  AmfValue v;
  ASSERT_TRUE(Read(B({12, 0, 0, 0, 2, 'h', 'i'}), &v));
  EXPECT_EQ(v.type, kAmfString);  // long strings are kept as strings
  EXPECT_EQ(v.string, "hi");
  ASSERT_TRUE(Read(B({10, 0, 0, 0, 3, 5, 6, 1, 7}), &v));
  ASSERT_EQ(v.type, kAmfStrictArray);
  ASSERT_EQ(v.properties.size(), 3u);
  EXPECT_EQ(v.properties[1].value.type, kAmfUndefined);
  EXPECT_TRUE(v.properties[2].value.boolean);  // any non-zero byte is true
  EXPECT_TRUE(v.properties[0].name.empty());
  ASSERT_TRUE(Read(B({10, 0, 0, 0, 0}), &v));
  EXPECT_TRUE(v.properties.empty());
}

TEST(AmfRead, SixteenLevelsReadAndSeventeenFail) {
  AmfValue v;
  EXPECT_TRUE(Read(NestedArrays(16), &v));
  std::string error;
  EXPECT_FALSE(Read(NestedArrays(17), &v, &error));
  EXPECT_EQ(error, "AMF value nested deeper than 16 levels");
  EXPECT_EQ(v.type, kAmfNull);  // no partial tree
  EXPECT_TRUE(v.properties.empty());
}

TEST(AmfRead, MalformedInputFailsWithItsReason) {
  struct Case {
    const char* what;
    Bytes bytes;
    const char* error;
  };
  const Case cases[] = {
      {"empty", {}, "AMF value missing: no bytes left"},
      {"short number", B({0, 1, 2, 3}), "AMF number needs 8 bytes, only 3 left"},
      {"string past the end", B({2, 0, 9, 'a'}), "AMF string of 9 bytes runs past the end (1 left)"},
      {"long string of 4 GiB", B({12, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}),
       "AMF long string of 4294967295 bytes runs past the end (1 left)"},
      {"object without end", B({3, 0, 1, 'a', 5}), "AMF object ends without its end marker"},
      {"name past the end", B({3, 0, 40, 'a'}), "AMF property name of 40 bytes runs past the end (1 left)"},
      {"reference", B({7, 0, 1}), "AMF marker 7 (reference) is not supported"},
      {"bare end marker", B({9}), "AMF marker 9 (object end) is not supported"},
      {"unknown marker", B({13}), "AMF marker 13 (unknown) is not supported"},
      {"array of 4G elements", B({10, 0xFF, 0xFF, 0xFF, 0xFF, 5, 5}),
       "AMF strict array declares 4294967295 elements but only 2 bytes are left"},
      {"bad element", B({10, 0, 0, 0, 2, 5, 4}), "AMF marker 4 (movie clip) is not supported"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AmfValue v;
    v.type = kAmfNumber;
    std::string error;
    EXPECT_FALSE(Read(c.bytes, &v, &error));
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(v.type, kAmfNull);
  }
}

TEST(AmfRead, ValueBudgetStopsAmplification) {
  // Every null is one byte but a whole value in memory: the budget caps the growth.
  Bytes b = {kAmfStrictArray};
  const uint32_t count = kAmfMaxValues + 10;
  for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<uint8_t>(count >> shift));
  b.insert(b.end(), count, kAmfNull);
  AmfValue v;
  std::string error;
  EXPECT_FALSE(Read(b, &v, &error));
  EXPECT_EQ(error, "AMF data holds more than 65536 values");
  EXPECT_TRUE(v.properties.empty());
}

TEST(AmfRead, DeclaredSizesNeverSizeAnAllocation) {
  // Declared 4 GiB string and 4G-element array with a handful of real bytes: under an 8 MiB cap
  // either would die if it were allocated up front.
  EXPECT_TRUE(RunUnderMemoryCap(8u << 20, 5000, [] {
    AmfValue v;
    return !Read(B({12, 0xFF, 0xFF, 0xFF, 0xF0, 'a', 'b'}), &v) &&
           !Read(B({10, 0x7F, 0xFF, 0xFF, 0xFF, 5, 5, 5}), &v) &&
           !Read(B({8, 0xFF, 0xFF, 0xFF, 0xFF, 0, 1, 'a', 5}), &v);
  }));
}

TEST(AmfProperty, FirstMatchWinsAndOnlyItsOwnTypeCounts) {
  AmfValue v;
  v.type = kAmfObject;
  AmfValue text;
  text.type = kAmfString;
  text.string = "wide";
  AmfValue number;
  number.type = kAmfNumber;
  number.number = 1280;
  v.properties = {{"width", text}, {"width", number}, {"height", number}};
  EXPECT_EQ(AmfNumberProperty(v, "width"), 0.0);  // the first "width" is not a number
  EXPECT_EQ(AmfNumberProperty(v, "height"), 1280.0);
  EXPECT_EQ(AmfNumberProperty(v, "Height"), 0.0);  // names match exactly
  EXPECT_EQ(AmfStringProperty(v, "height"), "");
  EXPECT_EQ(AmfStringProperty(v, "width"), "wide");
}

}  // namespace
